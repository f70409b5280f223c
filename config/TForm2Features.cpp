// The configuration window's sensor type and feature flags (read, Set and applying the word
// to both windows), the reboot that makes them take effect, and the J1939 identity.
#include "config/TForm2.h"
#include "config/TForm2Adapters.h"

#include "common/UserPrompts.h"
#include "config/FeatureWord.h"
#include "monitor/TForm1.h"
#include "serial/TForm3.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QMenu>

namespace quellon {

namespace {

const char* const kFeaturesUnknown =
    "The sensor type could not be read from the sensor, so nothing was written. Close this "
    "window and open it again to read it.";

} // namespace

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
    ShowEntry(Edit19, m_memory->Enter(kFeatureWordAddress, word));
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

} // namespace quellon
