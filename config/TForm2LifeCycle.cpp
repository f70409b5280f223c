// The configuration window's live readout and its life cycle: showing, closing, page
// changes and the whole-configuration read.
#include "config/TForm2.h"

#include "common/WindowFit.h"
#include "config/TForm2Adapters.h"

#include "common/TGauge.h"
#include "common/UserPrompts.h"
#include "monitor/TForm1.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QShowEvent>

namespace quellon {

namespace {

const char* const kNoSensor = "Cannot communicate with sensor. Please refer to user manual.";

const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);
const QColor kGreen(0, 128, 0);

} // namespace

// ---- Live readout ------------------------------------------------------------------------

void TForm2::Button84Click() {
    const std::optional<LiveReadout> r = ReadLiveReadout(*m_link);
    if (!r) {
        if (m_link->LinkGone()) {
            ShowNoLiveValues(); // before the main window's watch says so
        }
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

void TForm2::ShowNoLiveValues() {
    GaugeCoarse->SetProgress(0);
    GaugeFine->SetProgress(0);
    Edit40->setText("---");
    QPalette pal = Edit40->palette();
    pal.setColor(QPalette::Base, QApplication::palette().color(QPalette::Window));
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
        // Within the screen's free area; its pages scroll where the screen is too small.
        const bool first = !m_wanted.isValid();
        if (first) {
            m_wanted = ScrollCentralWidget(this);
        }
        FitOnScreen(this, first ? m_wanted : size());
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
    if (!ConfirmDiscardTyped()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

bool TForm2::ConfirmDiscardTyped() {
    std::string names;
    for (const ParameterRow& row : ParameterMap()) {
        if (row.control && m_typed.contains(row.control) && row.caption &&
            names.find(row.caption) == std::string::npos) {
            names += (names.empty() ? "" : ", ") + std::string(row.caption);
        }
    }
    if (names.empty() || !m_forms.Prompts) {
        return true;
    }
    const PromptAnswer answer = m_forms.Prompts->Message(
        "Confirm", "Values typed in " + names + " have not been Set. Close and discard them?",
        PromptButtons::YesNo);
    if (answer != PromptAnswer::Yes) {
        return false;
    }
    m_typed.clear();
    return true;
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QVariant setButton = watched->property("setButton");
        if (setButton.isValid() && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            PressSet(setButton.toString().toStdString());
            return true;
        }
    }
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
