#pragma once
// The reporting window: samples the sensor's raw measurement record once a second, shows
// every value, charts the last minute of them and writes "rawdata.csv" and the optional log.
#include "common/AppForms.h"
#include "reporting/RawData.h"
#include "serial/SensorLink.h"

#include <QMainWindow>

#include <ctime>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QChart;
class QLabel;
class QLineEdit;
class QLineSeries;
class QMenu;
class QPushButton;
class QTimer;
class QValueAxis;

namespace quellon {

class TSpinEdit;

class TForm4 : public QMainWindow, public PollTimer {
    Q_OBJECT
public:
    explicit TForm4(AppForms& forms, QWidget* parent = nullptr);
    ~TForm4() override;

    // Where "rawdata.csv" goes (tests point it into their own folder).
    void SetRawDataPath(const std::string& path) { m_rawPath = path; }

    void FormShow();
    void FormClose();
    void Timer1Timer() { Button1Click(); }
    void Button1Click(); // one sample
    void Button2Click(); // "Pause" / "Play"
    void Button3Click(); // "Clear"
    void Open1Click();   // "Log"
    void FixOutputClick();
    void Button7Click(); // "Set Fixed"
    void Calibrate1Click();
    void InlineCalibrate1Click();

    // PollTimer: this window's Timer1.
    void StopPoll() override;
    void StartPoll() override;

    int PointLimit() const { return m_pointLimit; }
    bool RawFileOpen() const { return m_files.raw.IsOpen(); }
    bool LogOpen() const { return m_files.log.IsOpen(); }
    // The message line at the foot of the window (file problems).
    QString StatusText() const;

    QTimer* Timer1; // raw data sample, 1000 ms

    QLineEdit* Edit1;  // raw internal
    QLineEdit* Edit2;  // internal C
    QLineEdit* Edit3;  // raw external
    QLineEdit* Edit4;  // external C
    QLineEdit* Edit5;  // debris ref coarse
    QLineEdit* Edit6;  // debris coarse
    QLineEdit* Edit7;  // coarse %
    QLineEdit* Edit8;  // debris ref fine
    QLineEdit* Edit9;  // debris fine
    QLineEdit* Edit10; // fine %
    QLineEdit* Edit11; // oil ref count
    QLineEdit* Edit12; // oil count
    QLineEdit* Edit13; // oil
    QLineEdit* Edit14; // status
    QLineEdit* Edit15; // calibrated coarse
    QLineEdit* Edit16; // coarse correction
    QLineEdit* Edit17; // calibrated fine
    QLineEdit* Edit18; // fine correction

    QChart* chPercent;
    QChart* chDebrisQ;
    QChart* chDebrisCount;
    QChart* chTemperature;
    QChart* chDielectric;
    QChart* chOilCount;
    QChart* chCalibrated;
    QChart* chCorrection;
    QLineSeries* Series1;
    QLineSeries* Series2;
    QLineSeries* LineSeries1;
    QLineSeries* LineSeries2;
    QLineSeries* LineSeries3;
    QLineSeries* LineSeries4;
    QLineSeries* LineSeries5;
    QLineSeries* LineSeries6;
    QLineSeries* LineSeries7;
    QLineSeries* LineSeries8;
    QLineSeries* LineSeries9;
    QLineSeries* LineSeries10;
    QLineSeries* LineSeries11;
    QLineSeries* LineSeries12;
    QLineSeries* LineSeries13;

    QPushButton* Button1; // "Read", hidden
    QPushButton* Button2; // "Pause"
    QPushButton* Button3; // "Clear"
    QLabel* Label14;      // second instrument, hidden
    QLabel* FootLabel;
    QCheckBox* cbFixed;
    TSpinEdit* spFixed;
    QPushButton* Button7;
    QMenu* Sensor1;
    QAction* Open1;
    QAction* Calibrate1;
    QAction* InlineCalibrate1;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QSize m_wanted{1616, 1096}; // the window's own size; smaller screens scroll it
    bool m_placed = false;
    struct Chart {
        QChart* chart = nullptr;
        QValueAxis* x = nullptr;
        QValueAxis* y = nullptr;
        std::vector<QLineSeries*> series;
        ChartHistory history{0};
        bool fixedRange = false;
    };
    QWidget* BuildContent();
    QWidget* MakeChart(Chart& c, const char* name, const char* title,
                       const std::vector<std::pair<const char*, const char*>>& series);
    void AddPoint(Chart& c, const std::vector<double>& values);
    void ShowRecord(const RawDataRecord& record);
    void SayFileProblem(const std::string& what, const std::string& path,
                        const std::string& reason);

    AppForms& m_forms;
    RawDataFiles m_files;
    std::string m_rawPath = kRawFileName;
    std::time_t m_start = 0;
    int m_pointLimit = 0;
    std::vector<Chart> m_charts;
};

} // namespace quellon
