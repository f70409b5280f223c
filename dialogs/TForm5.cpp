#include "dialogs/TForm5.h"

namespace quellon {

TForm5::TForm5(AppForms& forms, QWidget* parent) : QDialog(parent), m_forms(forms) {
    setObjectName("Form5");
    setWindowTitle("LED Tests");
    setModal(false);
}

} // namespace quellon
