#pragma once
// The calibration dialog: leads the user through the sensor's calibration one step at a
// time ("Set" sends the step's command, "Next" keeps the current setting).
#include "common/AppForms.h"
#include "dialogs/ServiceDialogs.h"

#include <QDialog>

#include <memory>

class QLabel;
class QPushButton;

namespace quellon {

class TForm6 : public QDialog {
    Q_OBJECT
public:
    explicit TForm6(AppForms& forms, QWidget* parent = nullptr);
    ~TForm6() override;
    // 0 debris calibration, 1 zero calibration; set by the opener before showing.
    void SetCalibrationMode(int mode) { CalibrationMode = mode; }
    int CalibrationMode = 0;
    int CalibrationStep() const;

    void FormShow();
    void FormClose();
    void Button1Click(); // "Set"
    void Button2Click(); // "Next"

    QLabel* Label1;
    QPushButton* Button1;
    QPushButton* Button2;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void Apply(CalibrationSession::Show show);

    AppForms& m_forms;
    std::unique_ptr<CalibrationSession> m_session;
    bool m_open = false; // between "cs" and "ce"
};

} // namespace quellon
