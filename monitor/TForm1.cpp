#include "monitor/TForm1.h"

#include "common/TGauge.h"
#include "common/UserInputHold.h"
#include "common/UserPrompts.h"
#include "common/WindowFit.h"
#include "common/WindowFront.h"
#include "config/TForm2.h"
#include "configfiles/ConfigTransfer.h"
#include "configfiles/TCompareDialog.h"
#include "dialogs/TForm5.h"
#include "dialogs/TForm6.h"
#include "dialogs/TForm7.h"
#include "logs/LogWindow.h"
#include "monitor/LiveStatus.h"
#include "reporting/TForm4.h"
#include "serial/TForm3.h"
#include "serial/TFrmComms.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>

#include <cstring>
#include <ctime>

namespace quellon {

namespace {

const char* const kNoSensorMessage =
    "Cannot communicate with sensor. Please close GUI, powercycle sensor and restart GUI.\n\n"
    "If problem persists please refer to Quellon manual.";
// A search on demand finds nothing: the program stays open for another try.
const char* const kNoSensorAgainMessage =
    "Cannot communicate with sensor. Check connections, then choose Sensor > Reconnect again.";

// The lost-sensor box's details after a firmware operation with no answered poll since.
const char* const kMaybeInBootloader =
    "The sensor may stay in its bootloader without an application after the last bootloader "
    "step. Help > Sensor Upgrade finds it there and programs it.";

const QColor kYellow(255, 255, 0);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);

QLineEdit* MakeBox(QWidget* parent, const char* name, const char* text) {
    auto* box = new QLineEdit(text, parent);
    box->setObjectName(name);
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::NoFocus); // no caret in a display box
    box->setAlignment(Qt::AlignCenter);
    return box;
}

// A value box in its "DISABLED" state: small left-aligned text on the window background.
void ShowDisabled(QLineEdit* box) {
    QFont f = box->font();
    f.setPointSize(16);
    box->setFont(f);
    box->setText("DISABLED");
    QPalette pal = box->palette();
    pal.setColor(QPalette::Base, QApplication::palette().color(QPalette::Window));
    pal.setColor(QPalette::Text, QApplication::palette().color(QPalette::Text));
    box->setPalette(pal);
    box->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    box->setEnabled(false);
}

void ShowValue(QLineEdit* box, const QString& text, const QColor& background) {
    QFont f = box->font();
    f.setPointSize(28);
    box->setFont(f);
    box->setText(text);
    box->setEnabled(true);
    box->setAlignment(Qt::AlignCenter);
    QPalette pal = box->palette();
    pal.setColor(QPalette::Base, background);
    pal.setColor(QPalette::Text, Qt::white);
    box->setPalette(pal);
}

// A value box while the sensor's port has gone: no value, and no colour that would say
// the last one still holds. A box that shows DISABLED stays as it is.
void ShowNoValue(QLineEdit* box) {
    if (!box->isEnabled()) {
        return;
    }
    box->setText("---");
    QPalette pal = box->palette();
    pal.setColor(QPalette::Base, QApplication::palette().color(QPalette::Window));
    pal.setColor(QPalette::Text, QApplication::palette().color(QPalette::Text));
    box->setPalette(pal);
}

} // namespace

TForm1::TForm1(AppForms& forms, QWidget* parent) : QMainWindow(parent), m_forms(forms) {
    setObjectName("Form1");
    setWindowTitle(kInitialTitle);
    BuildDisplay();
    BuildMenu();
    m_exchange.SetProcessEvents([] { QCoreApplication::processEvents(); });
}

TForm1::~TForm1() {
    // The firmware image file is closed with the window; the channels stay with the table.
    m_hexFile.Close();
}

void TForm1::BuildDisplay() {
    auto* central = new QWidget(this);
    auto* grid = new QGridLayout(central);
    grid->setContentsMargins(18, 12, 18, 12);
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(6);

    auto label = [central](const char* text) {
        auto* l = new QLabel(text, central);
        QFont f = l->font();
        f.setPointSize(11);
        f.setBold(true);
        l->setFont(f);
        l->setAlignment(Qt::AlignCenter);
        return l;
    };
    grid->addWidget(label("Coarse"), 0, 0);
    grid->addWidget(label("Fine"), 0, 1);

    GaugeCoarse = new TGauge(central);
    GaugeCoarse->setObjectName("GaugeCoarse");
    GaugeFine = new TGauge(central);
    GaugeFine->setObjectName("GaugeFine");
    Edit2 = MakeBox(central, "Edit2", "DISABLED");
    Edit4 = MakeBox(central, "Edit4", "DISABLED");
    for (QWidget* w : {static_cast<QWidget*>(GaugeCoarse), static_cast<QWidget*>(GaugeFine),
                       static_cast<QWidget*>(Edit2), static_cast<QWidget*>(Edit4)}) {
        w->setFixedSize(170, 250);
    }
    ShowDisabled(Edit2);
    ShowDisabled(Edit4);
    Edit2->hide();
    Edit4->hide();
    grid->addWidget(GaugeCoarse, 1, 0, Qt::AlignHCenter);
    grid->addWidget(Edit2, 1, 0, Qt::AlignHCenter);
    grid->addWidget(GaugeFine, 1, 1, Qt::AlignHCenter);
    grid->addWidget(Edit4, 1, 1, Qt::AlignHCenter);

    grid->addWidget(label("Oil Status"), 2, 0);
    grid->addWidget(label("Temperature"), 2, 1);
    // No reading yet: nothing that could pass for a healthy sensor's values.
    Edit3 = MakeBox(central, "Edit3", "---");
    Edit1 = MakeBox(central, "Edit1", "---");
    for (QLineEdit* box : {Edit3, Edit1}) {
        box->setFixedSize(170, 110);
        QFont f = box->font();
        f.setPointSize(28);
        box->setFont(f);
    }
    grid->addWidget(Edit3, 3, 0, Qt::AlignHCenter);
    grid->addWidget(Edit1, 3, 1, Qt::AlignHCenter);

    lbErrors = new QLabel("Status", central);
    lbErrors->setObjectName("lbErrors");
    lbComms = new QLabel("COMMS FAIL", central);
    lbComms->setObjectName("lbComms");
    for (QLabel* l : {lbErrors, lbComms}) {
        QFont f = l->font();
        f.setPointSize(11);
        l->setFont(f);
        l->setAlignment(Qt::AlignCenter);
    }
    grid->addWidget(lbErrors, 4, 0);
    grid->addWidget(lbComms, 4, 1);

    Button1 = new QPushButton("Read", central);
    Button1->setObjectName("Button1");
    Button1->hide();
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(200);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

    PortWatch = new QTimer(this);
    PortWatch->setObjectName("PortWatch");
    PortWatch->setInterval(1000);
    connect(PortWatch, &QTimer::timeout, this, [this] { PortWatchTimer(); });

    setCentralWidget(central);
}

void TForm1::FixAndCentre() {
    // An instrument panel of its own size in the middle of the screen; on a screen too small
    // for it the panel scrolls.
    if (!m_wanted.isValid()) {
        m_wanted = ScrollCentralWidget(this);
        setMaximumSize(m_wanted);
    }
    FitOnScreen(this, m_wanted);
}

void TForm1::BuildMenu() {
    auto act = [this](QMenu* menu, const char* name, const char* text, auto handler) {
        QAction* a = menu->addAction(text);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    Sensor1 = menuBar()->addMenu("&Sensor");
    Sensor1->setObjectName("Sensor1");
    EEPROM1 = act(Sensor1, "EEPROM1", "&Configure", [this] { EEPROM1Click(); });
    Graphic1 = act(Sensor1, "Graphic1", "&Reporting", [this] { Graphic1Click(); });
    act(Sensor1, "OpenLog1", "Open Lo&g...", [this] {
        auto* logs = new LogWindow(*m_forms.Prompts);
        logs->setAttribute(Qt::WA_DeleteOnClose);
        logs->show();
        logs->OpenClick();
    });
    Calibrate2 = act(Sensor1, "Calibrate2", "&Debris Calibration", [this] { Calibrate2Click(); });
    InlineCalibration1 = act(Sensor1, "InlineCalibration1", "&Zero Calibration",
                             [this] { InlineCalibration1Click(); });
    Oil1 = act(Sensor1, "Oil1", "&Oil Reference", [this] { Oil1Click(); });
    LEDs1 = act(Sensor1, "LEDs1", "&LEDs", [this] { LEDs1Click(); });

    Brightness1 = Sensor1->addMenu("&Brightness");
    Brightness1->setObjectName("Brightness1");
    BrightnessGroup = new QActionGroup(this);
    BrightnessGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    struct Level {
        QAction** entry;
        const char* name;
        const char* text;
        const char* command;
    } levels[] = {{&Max1, "Max1", "&Max", "h 64"}, {&N751, "N751", "&75%", "h 4B"},
                  {&N501, "N501", "&50%", "h 32"}, {&N251, "N251", "&25%", "h 19"},
                  {&Min1, "Min1", "M&in", "h 5"},  {&Off1, "Off1", "O&ff", "h 0"}};
    for (const Level& l : levels) {
        QAction* a = Brightness1->addAction(l.text);
        a->setObjectName(l.name);
        a->setCheckable(true);
        BrightnessGroup->addAction(a);
        const char* command = l.command;
        connect(a, &QAction::triggered, this, [this, a, command] { BrightnessClick(a, command); });
        *l.entry = a;
    }

    Engineering1 = Sensor1->addMenu("E&ngineering");
    Engineering1->setObjectName("Engineering1");
    Enable1 = act(Engineering1, "Enable1", "&Enable", [this] { Enable1Click(); });
    Disable1 = act(Engineering1, "Disable1", "&Disable", [this] { Disable1Click(); });
    Enable1->setCheckable(true);
    Disable1->setCheckable(true);
    Disable1->setChecked(true);

    Load1 = act(Sensor1, "Load1", "&Import", [this] { Load1Click(); });
    Compare1 = act(Sensor1, "Compare1", "Com&pare with File...", [this] { Compare1Click(); });
    Save1 = act(Sensor1, "Save1", "&Export", [this] { Save1Click(); });
    RestoreFactoryDefaults1 = Sensor1->addMenu("Restore &Factory Defaults");
    RestoreFactoryDefaults1->setObjectName("RestoreFactoryDefaults1");
    Small1 = act(RestoreFactoryDefaults1, "Small1", "&Small", [this] { RestoreDefaults("D 1"); });
    Medium1 =
        act(RestoreFactoryDefaults1, "Medium1", "&Medium", [this] { RestoreDefaults("D 2"); });
    Large1 = act(RestoreFactoryDefaults1, "Large1", "&Large", [this] { RestoreDefaults("D 3"); });
    Reconnect1 = act(Sensor1, "Reconnect1", "Reconnec&t", [this] { Reconnect1Click(); });
    Exit1 = act(Sensor1, "Exit1", "E&xit", [this] { Exit1Click(); });

    Bootloader1 = menuBar()->addMenu("&Bootloader");
    Bootloader1->setObjectName("Bootloader1");
    Mode1 = act(Bootloader1, "Mode1", "&Mode", [this] { Mode1Click(); });
    Version1 = act(Bootloader1, "Version1", "&Version", [this] { Version1Click(); });
    Erase1 = act(Bootloader1, "Erase1", "&Erase", [this] { Erase1Click(); });
    Program1 = act(Bootloader1, "Program1", "&Program", [this] { Program1Click(); });
    Run1 = act(Bootloader1, "Run1", "&Run", [this] { Run1Click(); });
    ReadCrc1 = act(Bootloader1, "ReadCrc1", "Read &Crc", [this] { ReadCrc1Click(); });

    Help1 = menuBar()->addMenu("&Help");
    Help1->setObjectName("Help1");
    SensorUpgrade1 =
        act(Help1, "SensorUpgrade1", "Sensor &Upgrade", [this] { SensorUpgrade1Click(); });
    About1 = act(Help1, "About1", "&About", [this] { About1Click(); });

    // Entries that the delivered window hides; service mode makes them reachable.
    const bool service = m_forms.ServiceMode;
    for (QAction* a : {Calibrate2, InlineCalibration1, Oil1, LEDs1}) {
        a->setVisible(service);
    }
    Engineering1->menuAction()->setVisible(service);
    Bootloader1->menuAction()->setVisible(service);
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        FixAndCentre();
        QTimer::singleShot(0, this, [this] { FormShow(); });
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (m_upgrading) {
        event->ignore(); // the sensor is between two firmwares: the upgrade ends first
        return;
    }
    m_closing = true;
    FormClose();
    event->accept();
    if (m_forms.EndProgram) {
        m_forms.EndProgram();
    }
}

bool TForm1::IdentifySensor(int tries) {
    return quellon::IdentifySensor(m_exchange, tries, [this](const std::string& title) {
        setWindowTitle(QString::fromStdString(title));
    });
}

void TForm1::FormShow() {
    Search(false);
}

bool TForm1::Search(bool again) {
    struct Done {
        bool& done;
        ~Done() { done = true; }
    } searchDone{m_searchDone}; // on every way out
    m_exchange.SetProgress(m_forms.Form3);
    StartupSearch search(m_exchange, m_tracePath);
    if (again) {
        search.SearchAgain();
    }
    const auto outcome = search.Run(
        [this]() -> std::optional<int> {
            if (m_forms.FrmComms->ShowModal() == QDialog::Accepted) {
                return m_forms.FrmComms->ChosenNumber();
            }
            return std::nullopt;
        },
        [this](const std::string& title) { setWindowTitle(QString::fromStdString(title)); },
        [this] { return m_closing; });

    if (m_closing) {
        return false; // closed during the search: the program is ending
    }
    // A search on demand leaves the program open whatever it finds: the user may plug the
    // adapter in and choose Reconnect again.
    const char* const noSensor = again ? kNoSensorAgainMessage : kNoSensorMessage;
    if (outcome == StartupSearch::Outcome::NoPorts) {
        // No port that opened ends as a port that stays silent: the window stays, so that
        // Sensor > Reconnect can try again once the adapter or the device server is there.
        m_forms.Prompts->Message("Error", noSensor, PromptButtons::Ok, search.SkippedDetails());
        return false;
    }
    if (outcome == StartupSearch::Outcome::Cancelled) {
        if (!again) {
            close();
        }
        return false;
    }
    const bool identified = ConnectChosenSensor(
        m_exchange,
        [this](const std::string& title) { setWindowTitle(QString::fromStdString(title)); },
        [this] {
            if (!m_closing) {
                FeaturesReadAndApply();
            }
        });
    if (m_closing) {
        return false;
    }
    if (identified) {
        m_failures = 0;
        StartPoll();
        lbComms->setText("Comms:Ok");
        PortWatch->start();
    } else {
        m_forms.Prompts->Message("Error", noSensor, PromptButtons::Ok, search.SkippedDetails());
    }
    return identified;
}

void TForm1::Reconnect1Click() {
    if (!m_searchDone || OperationRunning()) {
        return;
    }
    // What ran before the port went (or runs now) runs again once the sensor is found.
    const bool readout =
        m_portGone ? m_resumeConfigReadout : m_forms.Form2 && m_forms.Form2->Timer1->isActive();
    const bool reporting =
        m_portGone ? m_resumeReporting : m_forms.Form4 && m_forms.Form4->Timer1->isActive();
    Timer1->stop();
    PortWatch->stop();
    if (m_forms.Form2) {
        m_forms.Form2->Timer1->stop();
    }
    StopReportingPoll();
    m_portGone = false;
    lbComms->setText("COMMS FAIL");
    ShowNoLiveValues();
    m_searchDone = false;
    if (!Search(true)) {
        return;
    }
    m_resumeConfigReadout = readout;
    m_resumeReporting = reporting;
    Resume();
}

void TForm1::FeaturesReadAndApply() {
    if (m_forms.Form2) {
        m_forms.Form2->Button37Click();
        m_forms.Form2->ApplyFeatures();
    }
}

std::uint16_t TForm1::FeatureWord() const {
    return m_forms.Form2 ? m_forms.Form2->GetFeatureWord() : 0;
}

void TForm1::FormClose() {
    PortWatch->stop();
    if (m_ports.m_comnum < 99) {
        Timer1->stop();
        WaitMs(20);
        SendCommand("");
    }
    m_hexFile.Close();
    m_ports.debugLog.Close();
}

void TForm1::StopPoll() {
    Timer1->stop();
}

void TForm1::StartPoll() {
    if (!Timer1->isActive()) {
        Timer1->start();
    }
}

void TForm1::StopReportingPoll() {
    if (m_forms.Form4) {
        m_forms.Form4->Timer1->stop();
    }
}

void TForm1::StartReportingPoll() {
    if (m_forms.Form4 && !m_forms.Form4->Timer1->isActive()) {
        m_forms.Form4->Timer1->start();
    }
}

bool TForm1::ReportingVisible() const {
    return m_forms.Form4 && m_forms.Form4->isVisible();
}

bool TForm1::SendAcknowledged(const std::string& command) {
    return quellon::SendAcknowledged(m_exchange, *this, *m_forms.Prompts, command);
}

void TForm1::Button1Click() {
    LiveStatus s;
    const PollOutcome outcome = PollLiveStatus(m_exchange, m_failures, s);
    if (outcome == PollOutcome::Lost && m_recovery.PortGone()) {
        EnterPortGone(); // said where the user looks, and found again by itself: no box
        return;
    }
    if (outcome == PollOutcome::Lost) {
        Timer1->setInterval(1000);
        Timer1->stop();
        lbComms->setText("Comms:Fail");
        // An adapter that was pulled out is named in the box's details and the trace
        // (GoneDevicePrompts).
        m_forms.Prompts->Message("Error", kLostMessage, PromptButtons::Ok,
                                 m_afterFirmwareOperation ? kMaybeInBootloader : "");
    }
    if (outcome != PollOutcome::Good) {
        return;
    }
    m_portGone = false; // the sensor answers (an upgrade may have found it again)
    m_afterFirmwareOperation = false;
    m_ports.debugLog.Write("%s", TraceLine(s).c_str());
    ShowLiveStatus(s.coarse, s.fine, s.oil, s.temperature, s.status);
    if (Timer1->interval() != 500) {
        Timer1->setInterval(500); // setting it again would restart the timer every poll
    }
    m_failures = 0;
    lbComms->setText("Comms:Ok");
}

// ---- A port that has gone, and finding the sensor again -------------------------------------

bool TForm1::OperationRunning() const {
    return m_upgrading || m_recovery.Attempting() || QApplication::activeModalWidget() != nullptr ||
           (m_forms.Form3 && m_forms.Form3->isVisible()) ||
           (m_forms.Form2 && m_forms.Form2->Busy());
}

void TForm1::PortWatchTimer() {
    if (OperationRunning()) {
        return; // an operation in progress fails on the gone port by itself; not in between
    }
    if (!m_portGone) {
        if (m_recovery.PortGone()) {
            EnterPortGone();
        }
        return;
    }
    // A network port opens while the window processes its events; closing the program
    // meanwhile ends the attempt.
    const PortRecovery::State state = m_recovery.Attempt(
        [this](const std::string& title) { setWindowTitle(QString::fromStdString(title)); },
        [this] {
            if (!m_closing) {
                FeaturesReadAndApply();
            }
        },
        [this] { return m_closing; });
    if (m_closing) {
        return;
    }
    if (state == PortRecovery::State::Recovered) {
        LeavePortGone();
    } else if (state == PortRecovery::State::NoAnswer) {
        lbComms->setText("Comms:No answer");
    }
}

void TForm1::EnterPortGone() {
    Timer1->stop(); // a poll that a closed window started again finds nothing either
    if (m_portGone) {
        return;
    }
    m_portGone = true;
    m_recovery.Begin();
    m_resumeConfigReadout = m_forms.Form2 && m_forms.Form2->Timer1->isActive();
    m_resumeReporting = m_forms.Form4 && m_forms.Form4->Timer1->isActive();
    Timer1->stop();
    if (m_forms.Form2) {
        m_forms.Form2->Timer1->stop();
    }
    StopReportingPoll();
    lbComms->setText("Comms:Port gone");
    ShowNoLiveValues();
}

void TForm1::ShowNoLiveValues() {
    ClearLiveDisplay();
    ShowNoValue(Edit3);
    ShowNoValue(Edit1);
    lbErrors->setText("Status:---");
    if (m_forms.Form2) {
        m_forms.Form2->ShowNoLiveValues();
    }
}

void TForm1::ClearLiveDisplay() {
    GaugeCoarse->SetProgress(0);
    GaugeFine->SetProgress(0);
    Edit3->setText("---");
}

void TForm1::LeavePortGone() {
    m_portGone = false;
    m_failures = 0;
    lbComms->setText("Comms:Ok");
    Resume();
}

void TForm1::Resume() {
    if (m_resumeConfigReadout && m_forms.Form2 && m_forms.Form2->isVisible()) {
        m_forms.Form2->Timer1->start();
    }
    if (m_resumeReporting && ReportingVisible()) {
        Timer1->stop(); // the reporting window keeps the main poll off
        StartReportingPoll();
    } else {
        Timer1->setInterval(200);
        StartPoll();
    }
}

void TForm1::ShowLiveStatus(int coarse, int fine, int oil, int temperature, int status) {
    const std::uint16_t features = FeatureWord();
    auto channel = [](bool disabled, TGauge* gauge, QLineEdit* box, int value) {
        if (disabled) {
            gauge->hide();
            box->show();
            box->setEnabled(false);
        } else {
            gauge->SetProgress(value);
            gauge->SetForeColor(value < 100 ? kYellow : kRed);
            gauge->show();
            box->hide();
        }
    };
    channel(features & 0x0010, GaugeFine, Edit4, fine);
    channel(features & 0x0008, GaugeCoarse, Edit2, coarse);

    if (features & (0x0004 | 0x0020)) {
        ShowDisabled(Edit3);
    } else {
        ShowValue(Edit3, QString::number(OilStatusShown(oil)), (status & 0x06) ? kRed : kGreen);
    }
    if ((features & 0x0004) && !(features & 0x0020)) {
        ShowValue(Edit1, QString::number(TemperatureShown(temperature)) + QChar(0x00B0) + "C",
                  (status & 0x01) ? kRed : kGreen);
    } else {
        ShowDisabled(Edit1);
    }
    lbErrors->setText(QString::fromStdString(StatusCaption(status)));
}

// ---- Menu -------------------------------------------------------------------------------

void TForm1::EEPROM1Click() {
    ShowInFront(m_forms.Form2);
}

void TForm1::Graphic1Click() {
    ShowInFront(m_forms.Form4);
}

void TForm1::Calibrate2Click() {
    if (m_forms.Prompts->Message("Calibration", "Press OK to enter Debris Calibration Mode",
                                 PromptButtons::OkCancel) == PromptAnswer::Ok) {
        m_forms.Form6->SetCalibrationMode(0);
        ShowInFront(m_forms.Form6);
    }
}

void TForm1::InlineCalibration1Click() {
    if (m_forms.Prompts->Message("Calibration", "Press OK to enter Zero Calibration Mode",
                                 PromptButtons::OkCancel) == PromptAnswer::Ok) {
        m_forms.Form6->SetCalibrationMode(1);
        ShowInFront(m_forms.Form6);
    }
}

void TForm1::Oil1Click() {
    m_forms.Prompts->Message("Oil Calibration", "Insert sensor in reference oil and Press OK",
                             PromptButtons::Ok);
    WaitMs(1000);
    if (m_forms.Prompts->Message("Oil Calibration",
                                 "Press OK to set reference, reported oil value should be 1000",
                                 PromptButtons::OkCancel) == PromptAnswer::Ok) {
        SendAcknowledged("cd");
    }
}

void TForm1::LEDs1Click() {
    ShowInFront(m_forms.Form5);
}

void TForm1::BrightnessClick(QAction* entry, const char* command) {
    SendCommand(command);
    entry->setChecked(true); // the group unchecks the other five
}

void TForm1::Enable1Click() {
    if (m_forms.Prompts->Message("Engineering", "Press OK to enter Engineering Mode",
                                 PromptButtons::OkCancel) == PromptAnswer::Ok) {
        Enable1->setChecked(true);
        Disable1->setChecked(false);
        SensorUpgrade1->setEnabled(true);
    } else {
        Enable1->setChecked(!Disable1->isChecked()); // the click toggled it: put it back
    }
}

void TForm1::Disable1Click() {
    Enable1->setChecked(false);
    Disable1->setChecked(true);
    SensorUpgrade1->setEnabled(false);
}

ConfigFileContext TForm1::FileContext() {
    return ConfigFileContext{m_forms.Form2->Memory(), *m_forms.Prompts, [this] { UnlockSensor(); },
                             m_forms.Form3, [] { QCoreApplication::processEvents(); }};
}

void TForm1::Load1Click() {
    TForm2* form2 = m_forms.Form2;
    if (!form2) {
        return;
    }
    ImportOptions options;
    if (form2->FeaturesKnown()) {
        options.sensorFeatures = form2->GetFeatureWord();
    }
    const ImportResult result = RunImport(
        FileContext(), [form2] { form2->Button37Click(); }, options);
    const bool reached = result.status == ImportResult::Status::Written ||
                         result.status == ImportResult::Status::WriteErrors ||
                         result.status == ImportResult::Status::Stopped;
    if (reached && form2->isVisible()) {
        // The open window shows the sensor's values, not the ones before the import.
        form2->PageControl1Change(form2->PageControl1->currentIndex());
    }
}

void TForm1::Compare1Click() {
    if (!m_forms.Form2) {
        return;
    }
    if (const auto result = RunCompare(FileContext())) {
        if (!CompareDialog) {
            CompareDialog = new TCompareDialog(this);
        }
        CompareDialog->ShowResult(*result);
    }
}

void TForm1::Save1Click() {
    if (m_forms.Form2) {
        RunExport(FileContext());
    }
}

void TForm1::RestoreDefaults(const char* command) {
    StopPoll();
    WaitMs(100);
    if (m_forms.Prompts->Message("Confirmation",
                                 "Are you sure you want to restore factory defaults",
                                 PromptButtons::YesNo) == PromptAnswer::Yes) {
        UnlockSensor();
        WaitMs(50);
        SendCommand(command);
        m_forms.Prompts->Message("Success", "Defaults restored", PromptButtons::Ok);
        FeaturesReadAndApply();
    }
    StartPoll();
}

void TForm1::Exit1Click() {
    if (m_upgrading) {
        return;
    }
    m_hexFile.Close();
    close();
    FormClose();
}

// ---- Firmware upgrade and bootloader steps -------------------------------------------------

UpgradeEnvironment TForm1::UpgradeEnv() {
    return UpgradeEnvironment{
        m_exchange,
        *this,
        *m_forms.Prompts,
        m_hexFile,
        *m_image,
        [this](const std::string& title) { setWindowTitle(QString::fromStdString(title)); },
        [this] {
            ClearLiveDisplay();
            QCoreApplication::processEvents();
        },
        [this] { m_failures = 0; },
        [this](std::string& pathOrError) {
            // The sensor's settings go into the working folder before it is rebooted into
            // its bootloader, so that a failed upgrade never loses them.
            if (!m_forms.Form2) {
                pathOrError = "the configuration window does not exist";
                return false;
            }
            return BackupConfiguration(FileContext(), std::time(nullptr), pathOrError);
        },
        &m_applicationErased};
}

void TForm1::RunFirmwareOperation(const std::function<bool()>& operation) {
    if (m_upgrading) {
        return;
    }
    m_upgrading = true;
    const UserInputHold hold;
    m_exchange.SetProgress(m_forms.Form3);
    // The other windows' polls would put text commands on the bootloader's line and clear
    // its acknowledgements from the receive buffer.
    QTimer* others[] = {m_forms.Form2 ? m_forms.Form2->Timer1 : nullptr,
                        m_forms.Form4 ? m_forms.Form4->Timer1 : nullptr};
    bool wasActive[2] = {false, false};
    for (int i = 0; i < 2; ++i) {
        if (others[i]) {
            wasActive[i] = others[i]->isActive();
            others[i]->stop();
        }
    }
    // Their polls come back whenever the sensor runs its application afterwards (nothing was
    // sent, or it was started again); a sensor that may sit in its bootloader would get their
    // commands at the wrong speed.
    const bool applicationRuns = operation();
    for (int i = 0; i < 2; ++i) {
        if (others[i] && wasActive[i] && applicationRuns) {
            others[i]->start();
        }
    }
    m_afterFirmwareOperation = true;
    if (!applicationRuns) {
        ShowInBootloader();
    }
    m_upgrading = false;
}

void TForm1::ShowInBootloader() {
    lbComms->setText("Comms:Bootloader, no poll");
    ShowNoLiveValues();
}

void TForm1::SensorUpgrade1Click() {
    RunFirmwareOperation([this] {
        UpgradeEnvironment env = UpgradeEnv();
        m_lastUpgrade = SensorUpgrade(env);
        return ApplicationRunsAfter(m_lastUpgrade);
    });
}

void TForm1::Mode1Click() {
    RunFirmwareOperation([this] {
        UpgradeEnvironment env = UpgradeEnv();
        return !EnterBootloaderMode(env, Timer1->isActive()); // no answer: nothing changed
    });
}

void TForm1::RunStep(BootloaderStep step) {
    RunFirmwareOperation([this, step] {
        UpgradeEnvironment env = UpgradeEnv();
        return ApplicationRunsAfter(step, RunBootloaderStep(env, step));
    });
}

void TForm1::Version1Click() {
    RunStep(BootloaderStep::Version);
}

void TForm1::Erase1Click() {
    RunStep(BootloaderStep::Erase);
}

void TForm1::Program1Click() {
    RunStep(BootloaderStep::Program);
}

void TForm1::Run1Click() {
    RunStep(BootloaderStep::Run);
}

void TForm1::ReadCrc1Click() {
    RunStep(BootloaderStep::ReadCrc);
}

void TForm1::About1Click() {
    ShowInFront(m_forms.Form7);
}

} // namespace quellon
