#include "config/TForm2.h"

namespace quellon {

TForm2::TForm2(AppForms& forms, QWidget* parent) : QMainWindow(parent), m_forms(forms) {
    setObjectName("Form2");
    setWindowTitle("Tarvik Configurator");
}

void TForm2::Button37Click() {}

void TForm2::ApplyFeatures() {}

} // namespace quellon
