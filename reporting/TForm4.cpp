#include "reporting/TForm4.h"

#include <QTimer>

namespace quellon {

TForm4::TForm4(AppForms& forms, QWidget* parent) : QMainWindow(parent), m_forms(forms) {
    setObjectName("Form4");
    setWindowTitle("Debris");
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);
}

} // namespace quellon
