#include "dialogs/TForm7.h"

namespace quellon {

TForm7::TForm7(AppForms& forms, QWidget* parent) : QDialog(parent), m_forms(forms) {
    setObjectName("Form7");
    setWindowTitle("Quellon ");
    setModal(false);
}

} // namespace quellon
