#include "dialogs/TForm6.h"

namespace quellon {

TForm6::TForm6(AppForms& forms, QWidget* parent) : QDialog(parent), m_forms(forms) {
    setObjectName("Form6");
    setWindowTitle("Calibration Mode");
    setModal(false);
}

} // namespace quellon
