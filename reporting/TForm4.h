#pragma once
// The reporting window: charts and logs the sensor's raw measurements.
#include "common/AppForms.h"

#include <QMainWindow>

class QTimer;

namespace quellon {

class TForm4 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm4(AppForms& forms, QWidget* parent = nullptr);
    QTimer* Timer1; // raw data sample, 1000 ms

private:
    AppForms& m_forms;
};

} // namespace quellon
