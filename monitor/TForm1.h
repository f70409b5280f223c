#pragma once
// The main window: finds the sensor, shows its live readings and carries the main menu.
#include "common/AppForms.h"
#include "firmware/HexFile.h"
#include "firmware/Upgrade.h"
#include "serial/Acknowledged.h"
#include "serial/CommandExchange.h"
#include "serial/Discovery.h"
#include "serial/PortRecovery.h"
#include "serial/PortTable.h"
#include "serial/SensorLink.h"

#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QActionGroup;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;

namespace quellon {

class TCompareDialog;
class TGauge;
struct ConfigFileContext;

class TForm1 : public QMainWindow, public PollTimer, public AckTimers {
    Q_OBJECT
public:
    explicit TForm1(AppForms& forms, QWidget* parent = nullptr);
    ~TForm1() override;

    // Where the trace goes (tests point it into their own folder).
    void SetTracePath(const std::string& path) { m_tracePath = path; }

    // Start-up search, run once when the window is first shown.
    void FormShow();
    // Sensor > Reconnect: the start-up search again on demand (every port, the Select Port
    // dialog included), for an adapter that came back under another name; what sampled or
    // read out before goes on when the sensor is found.
    void Reconnect1Click();
    bool SearchDone() const { return m_searchDone; }
    // Closing: stops the poll, sends the empty command, closes the trace.
    void FormClose();

    // The live status poll.
    void Button1Click();
    void Timer1Timer() { Button1Click(); }
    // Once a second: notices a sensor port whose device has gone and, while it is gone,
    // tries to open it again and find the sensor there.
    void PortWatchTimer();
    int FailureCount() const { return m_failures; }

    // Exchange with the sensor.
    CommandExchange& Exchange() { return m_exchange; }
    PortTable& Ports() { return m_ports; }
    void SendCommand(const std::string& text) { m_exchange.SendCommand(text); }
    bool WaitReply(char* buffer, int capacity, int length, int budget, int& count) {
        return m_exchange.WaitReply(buffer, capacity, length, budget, count);
    }
    void UnlockSensor() { m_exchange.UnlockSensor(); }
    void LockSensor() { m_exchange.LockSensor(); }
    bool RebootSensor() { return m_exchange.RebootSensor(); }
    bool IdentifySensor(int tries);
    bool SendAcknowledged(const std::string& command);

    // PollTimer: Timer1 of this window.
    void StopPoll() override;
    void StartPoll() override;
    // AckTimers.
    void StopMainPoll() override { StopPoll(); }
    void StartMainPoll() override { StartPoll(); }
    void StopReportingPoll() override;
    void StartReportingPoll() override;
    bool ReportingVisible() const override;

    // Menu handlers.
    void EEPROM1Click();
    void Graphic1Click();
    void Calibrate2Click();
    void InlineCalibration1Click();
    void Oil1Click();
    void LEDs1Click();
    void BrightnessClick(QAction* entry, const char* command);
    void Enable1Click();
    void Disable1Click();
    // Configuration files: import, compare, export.
    void Load1Click();
    void Compare1Click();
    void Save1Click();
    void RestoreDefaults(const char* command);
    void Exit1Click();
    void Mode1Click();
    void Version1Click();
    void Erase1Click();
    void Program1Click();
    void Run1Click();
    void ReadCrc1Click();
    void SensorUpgrade1Click();
    void About1Click();

    // Display.
    TGauge* GaugeCoarse;
    TGauge* GaugeFine;
    QLineEdit* Edit1; // temperature
    QLineEdit* Edit2; // "DISABLED" in place of the coarse gauge
    QLineEdit* Edit3; // oil status
    QLineEdit* Edit4; // "DISABLED" in place of the fine gauge
    QLabel* lbErrors;
    QLabel* lbComms;
    QTimer* Timer1;
    QTimer* PortWatch; // 1000 ms, always running once a port is chosen
    QPushButton* Button1;

    // Menu.
    QMenu* Sensor1;
    QAction* EEPROM1;
    QAction* Graphic1;
    QAction* Calibrate2;
    QAction* InlineCalibration1;
    QAction* Oil1;
    QAction* LEDs1;
    QMenu* Brightness1;
    QAction* Max1;
    QAction* N751;
    QAction* N501;
    QAction* N251;
    QAction* Min1;
    QAction* Off1;
    QActionGroup* BrightnessGroup;
    QMenu* Engineering1;
    QAction* Enable1;
    QAction* Disable1;
    QAction* Load1;
    QAction* Compare1;
    QAction* Save1;
    TCompareDialog* CompareDialog = nullptr; // created by the first comparison
    QMenu* RestoreFactoryDefaults1;
    QAction* Small1;
    QAction* Medium1;
    QAction* Large1;
    QAction* Reconnect1; // searches every port again, as at the start
    QAction* Exit1;
    QMenu* Bootloader1;
    QAction* Mode1;
    QAction* Version1;
    QAction* Erase1;
    QAction* Program1;
    QAction* Run1;
    QAction* ReadCrc1;
    QMenu* Help1;
    QAction* SensorUpgrade1;
    QAction* About1;

    // The feature word as the configuration window last read it.
    std::uint16_t FeatureWord() const;

    // The firmware file and image of the upgrade and the bootloader steps.
    HexFile& FirmwareFile() { return m_hexFile; }
    UpgradeResult LastUpgradeResult() const { return m_lastUpgrade; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildDisplay();
    void BuildMenu();
    void FixAndCentre();
    QSize m_wanted; // the instrument panel's own size, menu included
    void ShowLiveStatus(int coarse, int fine, int oil, int temperature, int status);
    void FeaturesReadAndApply();
    ConfigFileContext FileContext();
    UpgradeEnvironment UpgradeEnv();
    // Runs a bootloader operation with the other windows' polls held, the user's input held
    // from every window but the boxes it opens, and no second one started meanwhile. The
    // operation says whether the sensor runs its application afterwards: only then do the
    // other windows' polls run again.
    void RunFirmwareOperation(const std::function<bool()>& operation);
    void RunStep(BootloaderStep step); // one entry of the Bootloader menu

    AppForms& m_forms;
    PortTable m_ports;
    CommandExchange m_exchange{m_ports};
    std::string m_tracePath = "debug.log";
    int m_failures = 0;
    bool m_shown = false;
    bool m_searchDone = false;
    bool m_closing = false; // the window was closed: a search in progress gives up
    HexFile m_hexFile;
    std::unique_ptr<FirmwareImage> m_image = std::make_unique<FirmwareImage>();
    bool m_upgrading = false; // an upgrade or bootloader step is running
    // The sensor's port has gone: what ran before, to run again once the sensor is back.
    void EnterPortGone();
    void LeavePortGone();
    void Resume(); // the configuration readout, reporting sampling or live poll, as before
    // The search and the start-up's end; true when the sensor answered and the poll runs.
    bool Search(bool again);
    void ClearLiveDisplay(); // debris gauges to 0, the oil box to "---"
    // While no sensor answers (port gone, searching again): the display empty, the oil and
    // temperature boxes without a value's colour, the status "Status:---".
    void ShowNoLiveValues();
    bool OperationRunning() const;
    PortRecovery m_recovery{m_exchange};
    bool m_portGone = false;
    bool m_resumeConfigReadout = false;
    bool m_resumeReporting = false;
    UpgradeResult m_lastUpgrade = UpgradeResult::Cancelled;
    // The bootloader steps' record of an erase with no good download since.
    bool m_applicationErased = false;
    // A firmware operation ran and no poll has been answered since: a lost sensor may sit in
    // its bootloader.
    bool m_afterFirmwareOperation = false;
    // While the poll is off for the bootloader: said in the status line, no readings shown.
    void ShowInBootloader();
};

} // namespace quellon
