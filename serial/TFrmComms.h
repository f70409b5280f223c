#pragma once
// "Select Port": lists the COM ports that opened, for the user to pick the sensor's.
#include <QDialog>

class QListWidget;
class QPushButton;

namespace quellon {

struct PortTable;

class TFrmComms : public QDialog {
    Q_OBJECT
public:
    explicit TFrmComms(const PortTable& ports, QWidget* parent = nullptr);

    // Shows the dialog modally; the chosen COM number when the user pressed "Set".
    int ShowModal();
    int ChosenNumber() const { return m_chosen; }

    void FormShow();
    void SetCommsClick();

    QListWidget* Comport;
    QPushButton* SetComms;

private:
    const PortTable& m_ports;
    int m_chosen = 1;
};

} // namespace quellon
