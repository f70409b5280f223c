// The configuration window's behaviour: construction, lookup of controls by design name, the
// handlers by name, and the read and Set handlers of the parameter map with the
// single-command actions. The debris calibration, trims and tables are in TForm2Tables.cpp,
// the sensor type and feature flags in TForm2Features.cpp, the live readout and the life
// cycle in TForm2LifeCycle.cpp, the controls in TForm2Pages.cpp.
#include "config/TForm2.h"

#include "common/TGauge.h"
#include "common/UserPrompts.h"
#include "config/FeatureWord.h"
#include "config/TForm2Adapters.h"
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

const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);

void SetTextColour(QWidget* control, bool ok) {
    QPalette pal = control->palette();
    pal.setColor(QPalette::Text, ok ? kBlack : kRed);
    control->setPalette(pal);
}

} // namespace

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
    // Every widget of the window that takes the focus gets the filter then (the spin edits'
    // own line edits, and editors made later, such as a table cell's), so that the Scaling
    // shortcuts reach the window from all of them.
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
    if (!handler.ends_with("Click")) {
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
    m_typed.erase(row.control);
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
        if (result.written) {
            m_typed.erase(control->objectName().toStdString());
        }
    }
    if (result.refused && !result.message.empty() && m_forms.Prompts) {
        // The field keeps its text for correction.
        m_forms.Prompts->Message("Error", result.message, PromptButtons::Ok);
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

} // namespace quellon
