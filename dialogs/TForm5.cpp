#include "dialogs/TForm5.h"

#include "dialogs/ServiceDialogs.h"
#include "dialogs/TSpinEdit.h"
#include "monitor/TForm1.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace quellon {

TForm5::TForm5(AppForms& forms, QWidget* parent) : QDialog(parent), m_forms(forms) {
    setObjectName("Form5");
    setWindowTitle("LED Tests");
    setModal(false);
    setFixedSize(478, 255);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(40, 30, 40, 30);
    grid->setHorizontalSpacing(24);
    auto row = [this, grid](int r, const char* name, const char* caption, int maximum) {
        grid->addWidget(new QLabel(caption, this), r, 0);
        auto* spin = new TSpinEdit(0, maximum, this);
        spin->setObjectName(name);
        spin->setMinimumWidth(110);
        grid->addWidget(spin, r, 1);
        return spin;
    };
    csBank = row(0, "csBank", "Bank", 2);
    csBankLed = row(1, "csBankLed", "BankLed", 9);
    csColour = row(2, "csColour", "Colour", 7);

    Button1 = new QPushButton("ON", this);
    Button1->setObjectName("Button1");
    Button2 = new QPushButton("OFF", this);
    Button2->setObjectName("Button2");
    for (QPushButton* b : {Button1, Button2}) {
        b->setAutoDefault(false);
        b->setMinimumSize(100, 40);
    }
    grid->addWidget(Button1, 0, 2, 2, 1);
    grid->addWidget(Button2, 1, 2, 2, 1);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
}

void TForm5::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
}

void TForm5::Button1Click() {
    m_forms.Form1->SendCommand(
        LedOnCommand(csBank->value(), csBankLed->value(), csColour->value()));
}

void TForm5::Button2Click() {
    m_forms.Form1->SendCommand(LedOffCommand(csBank->value(), csBankLed->value()));
}

} // namespace quellon
