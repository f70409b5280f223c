#include "config/FeatureWord.h"

#include <cstdio>
#include <initializer_list>

namespace quellon {

namespace B = FeatureBit;

FeatureControls DecodeFeatures(std::uint16_t word) {
    FeatureControls c;
    c.rgApplication = (word & B::Inline) ? kModel5630i : kModel5630;
    if (word & B::OutputCurrent) {
        c.rgAnalogType = kOutputCurrent;
    } else if (word & B::OutputVoltage) {
        c.rgAnalogType = kOutputVoltage;
    } else {
        c.rgAnalogType = kOutputCan;
    }
    c.rgDiTempChannel = (word & B::ThirdIsTemperature) ? kThirdTemperature : kThirdOilStatus;
    c.cbInhibit = (word & B::InhibitOutputs) != 0;
    c.cbCoarseChannel = (word & B::CoarseDisabled) != 0;
    c.cbFineChannel = (word & B::FineDisabled) != 0;
    c.cbThirdChannel = (word & B::ThirdDisabled) != 0;
    c.cbTempCorrection = (word & B::NoTempCorrection) != 0;
    c.cbVolCorrection = (word & B::NoVolCorrection) != 0;
    return c;
}

std::uint16_t PackFeatures(const FeatureControls& c) {
    std::uint16_t word = 0;
    if (c.cbInhibit) {
        word |= B::InhibitOutputs;
    }
    if (c.cbCoarseChannel) {
        word |= B::CoarseDisabled;
    }
    if (c.cbFineChannel) {
        word |= B::FineDisabled;
    }
    if (c.cbThirdChannel) {
        word |= B::ThirdDisabled;
    }
    if (c.rgDiTempChannel == kThirdTemperature) {
        word |= B::ThirdIsTemperature;
    }
    if (c.rgAnalogType == kOutputCurrent) {
        word |= B::OutputCurrent;
    } else if (c.rgAnalogType == kOutputVoltage) {
        word |= B::OutputVoltage;
    }
    if (c.rgApplication == kModel5630i) {
        word |= B::Inline;
    }
    if (c.cbTempCorrection) {
        word |= B::NoTempCorrection;
    }
    if (c.cbVolCorrection) {
        word |= B::NoVolCorrection;
    }
    return word;
}

float AnalogueScale(std::uint16_t word) {
    return (word & B::OutputCurrent) ? kCountsPerMilliamp : kCountsPerVolt;
}

float AnalogueScaleForOutput(int rgAnalogTypeIndex) {
    return rgAnalogTypeIndex == kOutputCurrent ? kCountsPerMilliamp : kCountsPerVolt;
}

bool HasAnalogueOutput(std::uint16_t word) {
    return (word & (B::OutputCurrent | B::OutputVoltage)) != 0;
}

std::string AnalogueLevelHint(bool milliamps, const std::string& caseText) {
    const std::string prefix = "Analogue level to be output ";
    const std::string unit = milliamps ? "(In mA) " : "(In V) ";
    const std::size_t size = prefix.size() + unit.size() + caseText.size() + 1;
    std::string text(size, '\0');
    const int n =
        std::snprintf(text.data(), size, "%s%s%s", prefix.c_str(), unit.c_str(), caseText.c_str());
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

namespace {

class Steps {
public:
    void Add(UiWindow w, UiAction a, std::initializer_list<const char*> names) {
        for (const char* n : names) {
            m_steps.push_back({w, a, n, {}});
        }
    }
    void Show(std::initializer_list<const char*> names) {
        Add(UiWindow::Configuration, UiAction::Show, names);
    }
    void Hide(std::initializer_list<const char*> names) {
        Add(UiWindow::Configuration, UiAction::Hide, names);
    }
    void ShowTab(const char* name) { Add(UiWindow::Configuration, UiAction::ShowTab, {name}); }
    void HideTab(const char* name) { Add(UiWindow::Configuration, UiAction::HideTab, {name}); }
    void Hint(const char* name, std::string text) {
        m_steps.push_back({UiWindow::Configuration, UiAction::SetHint, name, std::move(text)});
    }
    std::vector<UiStep> Take() { return std::move(m_steps); }

private:
    std::vector<UiStep> m_steps;
};

} // namespace

std::vector<UiStep> ApplyFeatures(std::uint16_t word) {
    Steps s;
    const bool analogue = HasAnalogueOutput(word);

    // 1. The main window's "Reporting" entry, every time.
    s.Add(UiWindow::Main, UiAction::Hide, {"Graphic1"});

    // 2. The analogue level rows and the channel boxes.
    if (analogue) {
        s.Show({"Button75", "Button76", "Button77", "Button39"});
        s.Show({"Button78", "Button79", "Button80", "Button40"});
        s.Show({"Edit37", "Edit38", "Edit39", "Edit20"});
        s.Show({"cbInhibit", "cbCoarseChannel", "cbFineChannel", "cbThirdChannel"});
        const bool mA = (word & B::OutputCurrent) != 0;
        s.Hint("Edit37", AnalogueLevelHint(mA, "when sensor has error."));
        s.Hint("Edit39", AnalogueLevelHint(mA, "when sensor measures no debris."));
        s.Hint("Edit20", AnalogueLevelHint(mA, "when sensor measures 100 percent debris."));
        s.Hint("Edit38", AnalogueLevelHint(mA, "during calibration if inhibit is checked."));
    } else {
        s.Hide({"Button75", "Button77", "Button39", "Button78", "Button80", "Button40", "Edit37",
                "Edit39", "Edit20"});
        s.Show({"cbInhibit", "cbCoarseChannel", "cbFineChannel", "cbThirdChannel"});
        s.Hide({"Button76", "Button79", "Edit38"});
    }

    // 3. Oil rows or temperature alarm rows.
    if (word & B::ThirdIsTemperature) {
        s.Hide({"Button9", "Button11", "Button13", "Button15", "Edit5", "Edit6", "Edit7", "Edit8",
                "Button10", "Button12", "Button14", "Button16"});
        s.Show({"Button41", "Button42", "Edit21", "Edit22", "Button43", "Button44"});
    } else {
        s.Hide({"Button41", "Button42", "Edit21", "Edit22", "Button43", "Button44"});
        s.Show({"Button9", "Button11", "Button13", "Button15", "Edit5", "Edit6", "Edit7", "Edit8",
                "Button10", "Button12", "Button14", "Button16"});
    }

    // 4. Inhibit level: editable and settable only with inhibit.
    if (word & B::InhibitOutputs) {
        s.Add(UiWindow::Configuration, UiAction::Enable, {"Edit38"});
        s.Show({"Button79"});
    } else {
        s.Add(UiWindow::Configuration, UiAction::Disable, {"Edit38"});
        s.Hide({"Button79"});
    }

    // 5. Model: the 5630i has the brightness menu; the 5630 has no LEDs entry or page.
    if (word & B::Inline) {
        s.Add(UiWindow::Main, UiAction::Show, {"Brightness1"});
    } else {
        s.Add(UiWindow::Main, UiAction::Hide, {"Brightness1"});
        s.Add(UiWindow::Main, UiAction::Hide, {"LEDs1"});
        s.HideTab("TabLEDs");
    }

    // 6. Output pages.
    if (analogue) {
        s.HideTab("TabCAN");
        s.HideTab("TabPGNID");
        const std::uint16_t all = B::CoarseDisabled | B::FineDisabled | B::ThirdDisabled;
        if ((word & all) == all) {
            s.HideTab("TabAnalog");
        } else {
            s.ShowTab("TabAnalog");
        }
    } else {
        s.ShowTab("TabCAN");
        s.ShowTab("TabPGNID");
        s.HideTab("TabAnalog");
    }

    // 7. Debris page and its gauges.
    const std::uint16_t debris = B::CoarseDisabled | B::FineDisabled;
    if ((word & debris) == debris) {
        s.HideTab("TabDebris");
    } else {
        s.ShowTab("TabDebris");
        if (word & B::CoarseDisabled) {
            s.Hide({"GaugeCoarse"});
            s.Show({"Edit47"});
        } else {
            s.Show({"GaugeCoarse"});
            s.Hide({"Edit47"});
        }
        if (word & B::FineDisabled) {
            s.Hide({"GaugeFine"});
            s.Show({"Edit46"});
        } else {
            s.Show({"GaugeFine"});
            s.Hide({"Edit46"});
        }
    }

    // 8. Third channel pages.
    if (word & B::ThirdDisabled) {
        s.HideTab("TabOil");
        s.HideTab("TabTemperature");
    } else if (word & B::ThirdIsTemperature) {
        s.HideTab("TabOil");
        s.ShowTab("TabTemperature");
    } else {
        s.HideTab("TabTemperature");
        s.ShowTab("TabOil");
    }
    return s.Take();
}

} // namespace quellon
