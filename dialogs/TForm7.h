#pragma once
// The about dialog: the configurator's and the sensor firmware's versions, two web links.
#include "common/AppForms.h"

#include <QDialog>

class QLabel;

namespace quellon {

class TForm7 : public QDialog {
    Q_OBJECT
public:
    explicit TForm7(AppForms& forms, QWidget* parent = nullptr);

    void FormShow();
    void Label2Click();
    void Label3Click();

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* lbGUI;
    QLabel* lbFW;

protected:
    void showEvent(QShowEvent* event) override;

private:
    AppForms& m_forms;
};

} // namespace quellon
