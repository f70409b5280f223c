#pragma once
// The LED test dialog: switches single LEDs of the sensor's display on and off.
#include "common/AppForms.h"

#include <QDialog>

class QPushButton;

namespace quellon {

class TSpinEdit;

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(AppForms& forms, QWidget* parent = nullptr);

    void Button1Click(); // "ON"
    void Button2Click(); // "OFF"

    TSpinEdit* csBank;
    TSpinEdit* csBankLed;
    TSpinEdit* csColour;
    QPushButton* Button1;
    QPushButton* Button2;

protected:
    void showEvent(QShowEvent* event) override;

private:
    AppForms& m_forms;
};

} // namespace quellon
