// The configuration window's behaviour: the read and Set handlers of the parameter map, the
// single-command actions, the feature word, the J1939 composites, the life cycle (showing,
// closing, page changes, the whole-configuration read) and the live readout.
#include "config/TForm2.h"

#include "common/TGauge.h"
#include "common/UserPrompts.h"
#include "config/FeatureWord.h"
#include "monitor/TForm1.h"
#include "serial/TForm3.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>

#include <cstdio>

namespace quellon {

namespace {

const char* const kNoSensor = "Cannot communicate with sensor. Please refer to user manual.";
const char* const kFeaturesUnknown =
    "The sensor type could not be read from the sensor, so nothing was written. Close this "
    "window and open it again to read it.";

const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);
const QColor kGreen(0, 128, 0);

void SetTextColour(QWidget* control, bool ok) {
    QPalette pal = control->palette();
    pal.setColor(QPalette::Text, ok ? kBlack : kRed);
    control->setPalette(pal);
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

} // namespace

// The main window's exchange, as the memory access sees it.
class TForm2::MainLink : public SensorLink {
public:
    explicit MainLink(AppForms& forms) : m_forms(forms) {}
    void SendCommand(const std::string& text) override {
        if (m_forms.Form1) {
            m_forms.Form1->SendCommand(text);
        }
    }
    bool WaitReply(char* buffer, int capacity, int length, int budget, int& count) override {
        if (!m_forms.Form1) {
            count = 0;
            return false;
        }
        return m_forms.Form1->WaitReply(buffer, capacity, length, budget, count);
    }

private:
    AppForms& m_forms;
};

// The main window's live poll timer.
class TForm2::MainPoll : public PollTimer {
public:
    explicit MainPoll(AppForms& forms) : m_forms(forms) {}
    void StopPoll() override {
        if (m_forms.Form1) {
            m_forms.Form1->StopPoll();
        }
    }
    void StartPoll() override {
        if (m_forms.Form1) {
            m_forms.Form1->StartPoll();
        }
    }

private:
    AppForms& m_forms;
};

// The window's own live readout timer, as the calibration commands see it.
class TForm2::Readout : public PollTimer {
public:
    explicit Readout(QTimer* timer) : m_timer(timer) {}
    void StopPoll() override { m_timer->stop(); }
    void StartPoll() override { m_timer->start(); }

private:
    QTimer* m_timer;
};

// pbEEPROM and a grid as a table Read or Set sees them. Each step lets the user interface
// process pending events, so the window stays responsive during the 80 exchanges.
class TForm2::GridProgress : public TableProgress {
public:
    GridProgress(QProgressBar* bar, QTableWidget* grid) : m_bar(bar), m_grid(grid) {}
    void Begin(int maximum) override {
        m_bar->setRange(0, maximum);
        m_bar->setValue(0);
        m_bar->show();
    }
    void Step() override {
        m_bar->setValue(m_bar->value() + 1);
        QCoreApplication::processEvents();
    }
    void End() override { m_bar->hide(); }
    void Cell(int row, int column, const std::string& text) override {
        QTableWidgetItem* item = m_grid->item(row, column);
        if (!item) {
            item = new QTableWidgetItem();
            m_grid->setItem(row, column, item);
        }
        item->setText(QString::fromStdString(text));
    }

private:
    QProgressBar* m_bar;
    QTableWidget* m_grid;
};

// The window's controls as the parameter operations see them.
class TForm2::Controls : public ParameterView {
public:
    explicit Controls(TForm2& form) : m_form(form) {}
    void ShowRead(const ParameterRow& row, const DisplayResult& result) override {
        m_form.ShowResult(row, result);
    }
    void ShowEntry(const ParameterRow& row, const EntryResult& result) override {
        m_form.ShowEntry(m_form.Control(row.control), result);
    }
    void ShowComposite(const J1939Composite& composite, const std::string& text) override {
        if (auto* box = m_form.Find<QLineEdit>(composite.box)) {
            box->setText(QString::fromStdString(text));
        }
    }
    void StepProgress() override { m_form.StepEEPROM(); }
    void HideProgress() override { m_form.pbEEPROM->hide(); }

private:
    TForm2& m_form;
};

TForm2::TForm2(AppForms& forms, QWidget* parent)
    : QMainWindow(parent), m_forms(forms), m_link(std::make_unique<MainLink>(forms)),
      m_poll(std::make_unique<MainPoll>(forms)),
      m_memory(std::make_unique<MemoryAccess>(*m_link, *m_poll)),
      m_controls(std::make_unique<Controls>(*this)),
      m_params(std::make_unique<ParameterAccess>(*m_memory, *m_controls)) {
    setObjectName("Form2");
    setWindowTitle("Tarvik Configurator");
    BuildMenus();
    BuildPages();
    m_readout = std::make_unique<Readout>(Timer1);
    pbEEPROM->setValue(0);
    ApplyDesignVisibility();
    for (QLineEdit* e : findChildren<QLineEdit*>()) {
        e->installEventFilter(this); // spin edits' own line edits included
    }
    // Editors made later (a table cell's) get the filter when they take the focus, so that
    // the Scaling shortcuts reach the window from them too.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now && isAncestorOf(now)) {
            now->installEventFilter(this); // once: a second install replaces the first
        }
    });
}

TForm2::~TForm2() = default;

// ---- Lookup -------------------------------------------------------------------------------

QWidget* TForm2::Control(std::string_view name) const {
    const auto it = m_named.find(name);
    return it == m_named.end() ? nullptr : qobject_cast<QWidget*>(it->second);
}

QAction* TForm2::Action(std::string_view name) const {
    const auto it = m_named.find(name);
    return it == m_named.end() ? nullptr : qobject_cast<QAction*>(it->second);
}

int TForm2::ItemIndex(const QGroupBox* group) const {
    const auto it = m_groups.find(group);
    return it == m_groups.end() ? -1 : it->second->checkedId();
}

QWidget* TForm2::Page(int index) const {
    return PageControl1->widget(index);
}

bool TForm2::PageShown(int index) const {
    return PageControl1->isTabVisible(index);
}

void TForm2::SetShown(std::string_view name, bool shown) {
    if (QWidget* w = Control(name)) {
        w->setVisible(shown);
    }
}

void TForm2::SetTabShown(int index, bool shown) {
    ++m_quietPageChange;
    PageControl1->setTabVisible(index, shown);
    --m_quietPageChange;
}

void TForm2::SelectPageQuietly(int index) {
    ++m_quietPageChange;
    PageControl1->setCurrentIndex(index);
    --m_quietPageChange;
}

void TForm2::SetHint(std::string_view name, const std::string& hint) {
    if (QWidget* w = Control(name)) {
        w->setProperty("hint", QString::fromStdString(hint));
        w->setToolTip(QString::fromStdString(hint));
    }
}

void TForm2::StepEEPROM() {
    // A step past the maximum starts the bar again from its minimum.
    int v = pbEEPROM->value() + 1;
    if (v > pbEEPROM->maximum()) {
        v = pbEEPROM->minimum();
    }
    pbEEPROM->setValue(v);
}

void TForm2::StopMainPoll() {
    m_poll->StopPoll();
}

void TForm2::StartMainPoll() {
    m_poll->StartPoll();
}

void TForm2::SetBusy(bool busy) {
    m_busy = busy;
    // The user cannot change pages meanwhile: a page change reads its parameters. Nor can
    // the other windows take clicks, keys or a close request: the main window's menu would
    // start its own exchanges between the table's cells.
    PageControl1->tabBar()->setEnabled(!busy);
    m_inputHold = busy ? std::make_unique<UserInputHold>() : nullptr;
}

void TForm2::Click(std::string_view handler) {
    // A table Read or Set lets the user interface process events between its cells: a click
    // meanwhile must not put its own exchanges in between.
    if (m_busy || m_rebooting) {
        return;
    }
    RunHandler(handler);
}

// ---- Handlers by name --------------------------------------------------------------------

bool TForm2::RunHandler(std::string_view handler) {
    struct Named {
        const char* name;
        void (TForm2::*run)();
    };
    static const Named kNamed[] = {
        {"Button37Click", &TForm2::Button37Click},
        {"Button38Click", &TForm2::Button38Click},
        {"Button39Click", &TForm2::Button39Click},
        {"Button54Click", &TForm2::Button54Click},
        {"Button63Click", &TForm2::Button63Click},
        {"Button64Click", &TForm2::Button64Click},
        {"Button84Click", &TForm2::Button84Click},
        {"Button85Click", &TForm2::Button85Click},
        {"Coarse1Click", &TForm2::Coarse1Click},
        {"Fine1Click", &TForm2::Fine1Click},
        {"Button94Click", &TForm2::Button94Click},
        {"Button95Click", &TForm2::Button95Click},
        {"Apply1Click", &TForm2::Apply1Click},
        {"Button46Click", &TForm2::Button46Click},
        {"Defaults1Click", &TForm2::Defaults1Click},
        {"Read1Click", &TForm2::Read1Click},
        {"Button45Click", &TForm2::Button45Click},
        {"FormShow", &TForm2::FormShow},
        {"FormClose", &TForm2::FormClose},
        {"Timer1Timer", &TForm2::Timer1Timer},
        {"Button81Click", &TForm2::Button81Click},
        {"Button82Click", &TForm2::Button82Click},
        {"Button83Click", &TForm2::Button83Click},
        {"Button91Click", &TForm2::Button91Click},
        {"Button92Click", &TForm2::Button92Click},
        {"Button93Click", &TForm2::Button93Click},
        {"SpinTimerTimer", &TForm2::SpinTimerTimer},
        {"CSpinCoarseZeroExit", &TForm2::CSpinCoarseZeroExit},
    };
    for (const Named& n : kNamed) {
        if (handler == n.name) {
            (this->*n.run)();
            return true;
        }
    }
    if (const CalibrationCommand* calibration = CalibrationByHandler(handler)) {
        RunCalibration(*calibration);
        return true;
    }
    if (const SingleCommandAction* action = ActionByHandler(handler)) {
        RunActionSteps(*action);
        return true;
    }
    if (RunSpinHandler(handler)) {
        return true;
    }
    if (!EndsWith(handler, "Click")) {
        return false;
    }
    const std::string_view button = handler.substr(0, handler.size() - 5);
    if (!RowsByReadButton(button).empty()) {
        ReadHandler(button);
        return true;
    }
    if (!RowsBySetButton(button).empty()) {
        SetHandler(button);
        return true;
    }
    return false;
}

void TForm2::ShowResult(const ParameterRow& row, const DisplayResult& result) {
    QWidget* control = Control(row.control);
    if (!control) {
        return;
    }
    if (auto* spin = qobject_cast<QSpinBox*>(control)) {
        spin->setValue(result.ok ? result.spinValue : 0);
    } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(QString::fromStdString(result.text));
    }
    SetTextColour(control, result.ok);
}

void TForm2::ShowEntry(QWidget* control, const EntryResult& result) {
    if (control) {
        SetTextColour(control, result.written && !result.refused);
    }
}

std::uint32_t TForm2::ReadHandler(std::string_view readButton) {
    return m_params->Read(readButton);
}

void TForm2::SetHandler(std::string_view setButton) {
    const auto rows = RowsBySetButton(setButton);
    if (rows.empty()) {
        return;
    }
    if (rows.front()->followUp == FollowUp::FeatureSet) {
        Button38Click();
        return;
    }
    std::vector<EntryInput> inputs;
    for (const ParameterRow* row : rows) {
        EntryInput in;
        QWidget* control = Control(row->control);
        if (auto* spin = qobject_cast<QSpinBox*>(control)) {
            in.spin = true;
            in.value = spin->value();
        } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            in.text = edit->text().toStdString();
        } else {
            return;
        }
        inputs.push_back(in);
    }
    m_params->Set(setButton, inputs);
}

void TForm2::RunActionSteps(const SingleCommandAction& action) {
    for (const ActionStep& step : action.steps) {
        switch (step.kind) {
        case ActionStepKind::Send:
            m_link->SendCommand(step.text);
            break;
        case ActionStepKind::SendValue: {
            const auto* spin = Find<QSpinBox>(step.control);
            char text[32];
            std::snprintf(text, sizeof text, step.text,
                          static_cast<unsigned>(spin ? spin->value() : 0));
            m_link->SendCommand(text);
            break;
        }
        case ActionStepKind::Wait:
            Wait(step.ms);
            break;
        case ActionStepKind::Read:
            m_params->RunRead(step.text);
            break;
        }
    }
}

void TForm2::Button85Click() {
    m_params->Reload();
}

// ---- Debris calibration ----------------------------------------------------------------

void TForm2::RunCalibration(const CalibrationCommand& calibration) {
    if (m_busy || !m_forms.Form1 || !m_forms.Prompts) {
        return;
    }
    SetBusy(true);
    const CalibrationOutcome outcome = quellon::RunCalibration(
        calibration, *m_memory, *m_forms.Form1, *m_readout, *m_forms.Prompts);
    for (const auto& [row, result] : outcome.readBack) {
        ShowResult(*row, result);
    }
    SetBusy(false);
}

void TForm2::Button89Click() {
    RunCalibration(*CalibrationByHandler("Button89Click"));
}

void TForm2::Button87Click() {
    RunCalibration(*CalibrationByHandler("Button87Click"));
}

void TForm2::Button88Click() {
    RunCalibration(*CalibrationByHandler("Button88Click"));
}

void TForm2::Button90Click() {
    RunCalibration(*CalibrationByHandler("Button90Click"));
}

void TForm2::Button94Click() {
    RunCalibration(*CalibrationByHandler("Button94Click"));
}

void TForm2::Button95Click() {
    RunCalibration(*CalibrationByHandler("Button95Click"));
}

void TForm2::Coarse1Click() {
    Button94Click();
}

void TForm2::Fine1Click() {
    Button95Click();
}

void TForm2::Step(QLineEdit* box, int direction) {
    if (!box) {
        return;
    }
    const std::optional<std::string> text =
        SpinStep(box->text().toStdString(), direction, SpinTimer->isActive(), SpinRepeatCount);
    if (!text) {
        return; // no number in the box: it keeps its text
    }
    box->setText(QString::fromStdString(*text));
    SpinTimer->stop();
    SpinTimer->start();
}

void TForm2::StepUp(QLineEdit* box) {
    Step(box, +1);
}

void TForm2::StepDown(QLineEdit* box) {
    Step(box, -1);
}

void TForm2::SpinTimerTimer() {
    SpinTimer->stop();
}

void TForm2::CSpinCoarseZeroExit() {
    SpinRepeatCount = 0;
    SpinTimer->stop();
}

bool TForm2::RunSpinHandler(std::string_view handler) {
    for (const auto& [suffix, direction] :
         {std::pair<std::string_view, int>{"UpClick", +1}, {"DownClick", -1}}) {
        if (!EndsWith(handler, suffix)) {
            continue;
        }
        const TrimSpin* spin = TrimSpinBySpin(handler.substr(0, handler.size() - suffix.size()));
        if (!spin) {
            return false;
        }
        Step(Find<QLineEdit>(spin->box), direction);
        return true;
    }
    return false;
}

// ---- Correction and linearisation tables ----------------------------------------------

QTableWidget* TForm2::Grid(TableId id) const {
    return id == TableId::Correction ? sg1 : sg2;
}

void TForm2::TableRead(TableId id) {
    if (m_busy) {
        return;
    }
    SetBusy(true);
    GridProgress progress(pbEEPROM, Grid(id));
    quellon::ReadTable(*m_memory, TableOf(id), progress);
    SetBusy(false);
}

void TForm2::TableInitialise(TableId id) {
    const TableTexts texts = InitialTable(TableOf(id));
    GridProgress grid(pbEEPROM, Grid(id));
    for (int r = 0; r < kTableRows; ++r) {
        for (int c = 0; c < kTableColumns; ++c) {
            grid.Cell(r, c, texts[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]);
        }
    }
}

void TForm2::TableSet(TableId id) {
    if (m_busy || !m_forms.Prompts) {
        return;
    }
    SetBusy(true);
    QTableWidget* grid = Grid(id);
    TableTexts texts;
    for (int r = 0; r < kTableRows; ++r) {
        for (int c = 0; c < kTableColumns; ++c) {
            const QTableWidgetItem* item = grid->item(r, c);
            texts[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] =
                item ? item->text().toStdString() : std::string();
        }
    }
    GridProgress progress(pbEEPROM, grid);
    quellon::SetTable(*m_memory, TableOf(id), texts, progress, *m_forms.Prompts);
    SetBusy(false);
}

void TForm2::Button81Click() {
    TableRead(TableId::Correction);
}

void TForm2::Button83Click() {
    TableInitialise(TableId::Correction);
}

void TForm2::Button82Click() {
    TableSet(TableId::Correction);
}

void TForm2::Button91Click() {
    TableRead(TableId::Linearisation);
}

void TForm2::Button92Click() {
    TableInitialise(TableId::Linearisation);
}

void TForm2::Button93Click() {
    TableSet(TableId::Linearisation);
}

// ---- Sensor type and feature flags -------------------------------------------------------

void TForm2::SetItemIndex(QGroupBox* group, int index) {
    QButtonGroup* g = m_groups.at(group);
    if (g->checkedId() == index) {
        return;
    }
    if (QAbstractButton* b = g->button(index)) {
        b->setChecked(true);
    }
    ControlClick(); // a change of state raises the group's click
}

void TForm2::SetChecked(QCheckBox* box, bool checked) {
    if (box->isChecked() == checked) {
        return;
    }
    box->setChecked(checked);
    ControlClick(); // a change of state raises the box's click
}

void TForm2::ControlClick() {
    if (m_busy) {
        return;
    }
    Button38Click();
}

void TForm2::Button37Click() {
    m_featureWord = static_cast<std::uint16_t>(ReadHandler("Button37"));
    m_featuresRead = m_params->LastReadOk();
    const FeatureControls c = DecodeFeatures(m_featureWord);
    // Filling the controls raises their clicks where a state changes; none of them may start
    // a Set from a half-filled page.
    const bool outer = m_featureGuard;
    m_featureGuard = true;
    SetItemIndex(rgApplication, c.rgApplication);
    SetItemIndex(rgAnalogType, c.rgAnalogType);
    m_params->analogueScale = AnalogueScale(m_featureWord);
    SetItemIndex(rgDiTempChannel, c.rgDiTempChannel);
    SetChecked(cbInhibit, c.cbInhibit);
    SetChecked(cbCoarseChannel, c.cbCoarseChannel);
    SetChecked(cbFineChannel, c.cbFineChannel);
    SetChecked(cbThirdChannel, c.cbThirdChannel);
    SetChecked(cbTempCorrection, c.cbTempCorrection);
    SetChecked(cbVolCorrection, c.cbVolCorrection);
    m_featureGuard = outer;
    ApplyFeatures();
}

void TForm2::Button38Click() {
    if (!isActiveWindow() || m_featureGuard) {
        return;
    }
    if (!m_featuresRead) {
        // The page shows the word of no sensor (0 after a failed read: a CAN output). Writing
        // it would silently change the sensor's type.
        m_featureGuard = true;
        const FeatureControls known = DecodeFeatures(m_featureWord);
        SetItemIndex(rgApplication, known.rgApplication);
        SetItemIndex(rgAnalogType, known.rgAnalogType);
        SetItemIndex(rgDiTempChannel, known.rgDiTempChannel);
        SetChecked(cbInhibit, known.cbInhibit);
        SetChecked(cbCoarseChannel, known.cbCoarseChannel);
        SetChecked(cbFineChannel, known.cbFineChannel);
        SetChecked(cbThirdChannel, known.cbThirdChannel);
        SetChecked(cbTempCorrection, known.cbTempCorrection);
        SetChecked(cbVolCorrection, known.cbVolCorrection);
        m_featureGuard = false;
        if (m_forms.Prompts) {
            m_forms.Prompts->Message("Error", kFeaturesUnknown, PromptButtons::Ok);
        }
        return;
    }
    m_featureGuard = true;
    FeatureControls c;
    c.rgApplication = ItemIndex(rgApplication);
    c.rgAnalogType = ItemIndex(rgAnalogType);
    c.rgDiTempChannel = ItemIndex(rgDiTempChannel);
    c.cbInhibit = cbInhibit->isChecked();
    c.cbCoarseChannel = cbCoarseChannel->isChecked();
    c.cbFineChannel = cbFineChannel->isChecked();
    c.cbThirdChannel = cbThirdChannel->isChecked();
    c.cbTempCorrection = cbTempCorrection->isChecked();
    c.cbVolCorrection = cbVolCorrection->isChecked();
    const std::uint16_t word = PackFeatures(c);
    m_params->analogueScale = AnalogueScaleForOutput(c.rgAnalogType);

    char text[8];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(word));
    Edit19->setText(text);
    ShowEntry(Edit19, m_memory->Enter(SetKind::SetHex, text, kFeatureWordAddress));
    for (const char* level : {"Edit20", "Edit37", "Edit38", "Edit39"}) {
        SetShown(level, false);
    }
    Wait(50);
    Button37Click();
    for (const char* level : {"Button75", "Button76", "Button77", "Button39"}) {
        ReadHandler(level);
        StepEEPROM();
    }
    ApplyFeatures();
    Button85Click();
    m_featureGuard = false;
}

void TForm2::Button39Click() {
    ReadHandler("Button39");
}

void TForm2::ApplyFeatures() {
    TForm1* main = m_forms.Form1;
    for (const UiStep& step : quellon::ApplyFeatures(m_featureWord)) {
        if (step.window == UiWindow::Main) {
            if (!main) {
                continue;
            }
            QAction* entry = nullptr;
            if (step.name == "Graphic1") {
                entry = main->Graphic1;
            } else if (step.name == "LEDs1") {
                entry = main->LEDs1;
            } else if (step.name == "Brightness1") {
                entry = main->Brightness1->menuAction();
            }
            if (entry) {
                entry->setVisible(step.action == UiAction::Show);
            }
            continue;
        }
        switch (step.action) {
        case UiAction::Show:
        case UiAction::Hide:
            SetShown(step.name, step.action == UiAction::Show);
            break;
        case UiAction::Enable:
        case UiAction::Disable:
            if (QWidget* w = Control(step.name)) {
                w->setEnabled(step.action == UiAction::Enable);
            }
            break;
        case UiAction::ShowTab:
        case UiAction::HideTab:
            if (const PageInfo* page = PageByName(step.name)) {
                SetTabShown(page->index, step.action == UiAction::ShowTab);
            }
            break;
        case UiAction::SetHint:
            SetHint(step.name, step.text);
            break;
        }
    }
    if (m_forms.ServiceMode) {
        // Service mode reaches the reporting window, and the LED test and LED page of a
        // 5630i.
        const bool inline5630i = (m_featureWord & FeatureBit::Inline) != 0;
        if (main) {
            main->Graphic1->setVisible(true);
            if (inline5630i) {
                main->LEDs1->setVisible(true);
            }
        }
        if (inline5630i) {
            SetTabShown(kPageLeds, true);
        }
    }
}

void TForm2::Reboot() {
    if (m_rebooting) {
        return;
    }
    m_rebooting = true;
    // The live polls would only meet a rebooting sensor: both stay off until the window is
    // closed below, which starts the main poll again.
    StopMainPoll();
    Timer1->stop();
    m_link->SendCommand("q");
    ProgressDisplay* progress = m_forms.Form3;
    if (progress) {
        progress->SetPosition(0);
        progress->SetMaximum(50);
        progress->SetCaption("Rebooting sensor");
        progress->ShowProgress();
    }
    for (int i = 0; i < 50; ++i) {
        Wait(100);
        if (progress) {
            progress->StepIt();
        }
        QCoreApplication::processEvents();
    }
    if (progress) {
        progress->CloseProgress();
    }
    if (m_forms.Form1) {
        m_forms.Form1->UnlockSensor();
    }
    m_rebooting = false;
    if (isVisible()) {
        close();
    }
}

void TForm2::Apply1Click() {
    Reboot();
}

void TForm2::Button46Click() {
    Reboot();
}

void TForm2::Defaults1Click() {
    m_link->SendCommand("D");
}

// ---- J1939 identity ------------------------------------------------------------------------

void TForm2::Button54Click() {
    m_params->Name();
}

void TForm2::Button63Click() {
    m_params->Pgn();
}

void TForm2::Button64Click() {
    m_params->CanId();
}

// ---- Live readout ------------------------------------------------------------------------

void TForm2::Button84Click() {
    const std::optional<LiveReadout> r = ReadLiveReadout(*m_link);
    if (!r) {
        return; // no reply, another header or too few fields: the next tick tries again
    }
    if (m_forms.Form1) {
        m_forms.Form1->Ports().debugLog.Write("%s", r->TraceLine().c_str());
    }
    GaugeCoarse->SetProgress(r->coarse);
    GaugeCoarse->SetForeColor(r->CoarseRed() ? kRed : kYellow);
    GaugeFine->SetProgress(r->fine);
    GaugeFine->SetForeColor(r->FineRed() ? kRed : kYellow);
    Edit40->setText(QString::number(r->OilStatus()));
    QPalette pal = Edit40->palette();
    pal.setColor(QPalette::Base, r->OilAlarm() ? kRed : kGreen);
    Edit40->setPalette(pal);
}

void TForm2::Timer1Timer() {
    if (m_busy) {
        return;
    }
    Button84Click();
}

// ---- Life cycle ----------------------------------------------------------------------------

void TForm2::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!event->spontaneous()) {
        FormShow();
    }
}

void TForm2::closeEvent(QCloseEvent* event) {
    if (m_rebooting) {
        event->ignore(); // Reboot closes the window itself once the sensor is back
        return;
    }
    if (m_busy) {
        event->ignore(); // closing would end the session inside a table Read or Set
        return;
    }
    FormClose();
    event->accept();
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        // Leaving the Coarse Zero spin button (not just moving between its two halves).
        QWidget* spin = Control("CSpinCoarseZero");
        QWidget* next = QApplication::focusWidget();
        if (spin && watched->parent() == spin && !(next && spin->isAncestorOf(next))) {
            CSpinCoarseZeroExit();
        }
    }
    // An edit field claims Ctrl+C for copying; here Ctrl+C and Ctrl+F belong to the Scaling
    // entries, whose shortcuts are the only way to them.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::ControlModifier &&
            (key->key() == Qt::Key_C || key->key() == Qt::Key_F)) {
            event->ignore();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm2::FormShow() {
    for (const CaptionRewrite& rewrite : CaptionRewrites()) {
        if (auto* b = Find<QPushButton>(rewrite.button)) {
            b->setText(QString::fromStdString(RewrittenCaption(rewrite)));
        }
    }
    StopMainPoll();
    Wait(50);
    if (m_forms.Form1) {
        m_forms.Form1->UnlockSensor();
    }
    Wait(50);
    Button37Click();
    if (m_forms.Form1) {
        m_forms.Form1->SendAcknowledged("cs");
    }

    const bool service = m_forms.ServiceMode;
    for (const PageInfo& page : Pages()) {
        // Service mode keeps the service pages; the LEDs page follows the model there.
        if (page.hiddenOnShow && (!service || page.index == kPageLeds)) {
            SetTabShown(page.index, false);
        }
    }
    if (!service) {
        for (const ParameterRow& row : ParameterMap()) {
            if (row.Is(Hidden::ReadButtonS)) {
                SetShown(row.readButton, false);
            }
            if (row.Is(Hidden::ControlS)) {
                SetShown(row.control, false);
            }
            if (row.Is(Hidden::SetButtonS) && row.setButton) {
                SetShown(row.setButton, false);
            }
        }
        for (const SingleCommandAction& action : SingleCommandActions()) {
            // Menu entries keep their shortcuts: only their menu is hidden.
            if ((action.hidden & Hidden::ReadButtonS) && Control(action.control)) {
                SetShown(action.control, false);
            }
        }
        cbTempCorrection->hide();
        cbVolCorrection->hide();
    }
    rgApplication->setEnabled(false);
    rgAnalogType->setEnabled(false);
    Scaling1->menuAction()->setVisible(service);
    ApplyFeatures();
    SelectPageQuietly(kPageType);
}

void TForm2::FormClose() {
    // The live readout ends with the window.
    Timer1->stop();
    if (m_forms.Form1) {
        m_forms.Form1->SendAcknowledged("ce");
        m_forms.Form1->LockSensor();
    }
    StartMainPoll();
}

void TForm2::PageControl1Change(int index) {
    Timer1->stop();
    Wait(50);
    const PageRead& reads = PageReads(index);
    for (const char* read : reads.reads) {
        m_params->RunRead(read);
    }
    if (reads.startReadout) {
        Timer1->start();
    }
}

void TForm2::Read1Click() {
    MemoryAccess& m = *m_memory;
    m.m_readall = true;
    m.m_commerror = false;
    StopMainPoll();
    Wait(50);
    m_link->SendCommand("");
    pbEEPROM->setValue(0);
    pbEEPROM->setMaximum(47);
    pbEEPROM->show();
    for (const std::string& field : ReadAllHiddenFields()) {
        SetShown(field, false);
    }
    Wait(50);

    auto finish = [this, &m] {
        for (const std::string& field : ReadAllShownFields(m_featureWord)) {
            SetShown(field, true);
        }
        pbEEPROM->hide();
        m.m_readall = false;
        StartMainPoll();
    };

    bool nameDone = false;
    bool canIdDone = false;
    for (const ReadAllStep& step : ReadAllOrder()) {
        switch (step.via) {
        case ReadVia::Direct:
            if (std::string_view(step.readButton) == "Button37") {
                Button37Click();
                StepEEPROM();
                if (m.m_commerror) {
                    if (m_forms.Prompts) {
                        m_forms.Prompts->Message("Error", kNoSensor, PromptButtons::Ok);
                    }
                    // The window is left as after a whole read, not half-hidden.
                    finish();
                    return;
                }
            } else {
                ReadHandler(step.readButton);
                StepEEPROM();
            }
            break;
        case ReadVia::Name:
            if (!nameDone) {
                nameDone = true;
                Button54Click();
            }
            break;
        case ReadVia::CanId:
            if (!canIdDone) {
                canIdDone = true;
                Button64Click();
            }
            break;
        }
    }
    finish();
}

void TForm2::Button45Click() {
    if (m_forms.Form1 && m_forms.Form1->IdentifySensor(5)) {
        Read1Click();
    } else if (m_forms.Prompts) {
        m_forms.Prompts->Message("Error", kNoSensor, PromptButtons::Ok);
    }
}

} // namespace quellon
