#pragma once
// The calibration dialog.
#include "common/AppForms.h"

#include <QDialog>

namespace quellon {

class TForm6 : public QDialog {
    Q_OBJECT
public:
    explicit TForm6(AppForms& forms, QWidget* parent = nullptr);
    // 0 debris calibration, 1 zero calibration; set by the opener before showing.
    void SetCalibrationMode(int mode) { CalibrationMode = mode; }
    int CalibrationMode = 0;

private:
    AppForms& m_forms;
};

} // namespace quellon
