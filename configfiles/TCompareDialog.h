#pragma once
// "Compare with File": the words a configuration file names, the sensor's value beside the
// file's, differences highlighted, and how many there are. A modeless window that only
// shows; nothing in it writes to the sensor.
#include "configfiles/ConfigTransfer.h"

#include <QDialog>

class QLabel;
class QTableWidget;

namespace quellon {

class TCompareDialog : public QDialog {
    Q_OBJECT
public:
    explicit TCompareDialog(QWidget* parent = nullptr);

    // Fills the table from a comparison and shows the window.
    void ShowResult(const CompareResult& result);

    static const QColor& DifferenceColour();

    QLabel* lbFile;
    QTableWidget* sgCompare; // Address, Parameter, Sensor, File
    QLabel* lbSummary;
};

} // namespace quellon
