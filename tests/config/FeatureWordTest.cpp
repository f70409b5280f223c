#include "config/FeatureWord.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace quellon;

namespace {

// What a window ends up with after applying the steps in order.
struct Outcome {
    std::map<std::string, bool> visible; // controls and menu entries
    std::map<std::string, bool> tab;     // tab visibility
    std::map<std::string, bool> enabled;
    std::map<std::string, std::string> hint;
};

Outcome Apply(const std::vector<UiStep>& steps) {
    Outcome o;
    for (const auto& s : steps) {
        const std::string key = (s.window == UiWindow::Main ? "main:" : "") + s.name;
        switch (s.action) {
        case UiAction::Show:
            o.visible[key] = true;
            break;
        case UiAction::Hide:
            o.visible[key] = false;
            break;
        case UiAction::Enable:
            o.enabled[key] = true;
            break;
        case UiAction::Disable:
            o.enabled[key] = false;
            break;
        case UiAction::ShowTab:
            o.tab[key] = true;
            break;
        case UiAction::HideTab:
            o.tab[key] = false;
            break;
        case UiAction::SetHint:
            o.hint[key] = s.text;
            break;
        }
    }
    return o;
}

// -1: not touched, 0: hidden, 1: shown.
int State(const std::map<std::string, bool>& m, const std::string& key) {
    const auto it = m.find(key);
    return it == m.end() ? -1 : (it->second ? 1 : 0);
}

} // namespace

TEST(FeatureWord, BitNames) {
    EXPECT_EQ(FeatureBit::InhibitOutputs, 1u << 0);
    EXPECT_EQ(FeatureBit::OutputVoltage, 1u << 1);
    EXPECT_EQ(FeatureBit::ThirdIsTemperature, 1u << 2);
    EXPECT_EQ(FeatureBit::CoarseDisabled, 1u << 3);
    EXPECT_EQ(FeatureBit::FineDisabled, 1u << 4);
    EXPECT_EQ(FeatureBit::ThirdDisabled, 1u << 5);
    EXPECT_EQ(FeatureBit::OutputCurrent, 1u << 6);
    EXPECT_EQ(FeatureBit::Inline, 1u << 7);
    EXPECT_EQ(FeatureBit::NoTempCorrection, 1u << 8);
    EXPECT_EQ(FeatureBit::NoVolCorrection, 1u << 9);
}

TEST(FeatureWord, Decode) {
    struct Case {
        std::uint16_t word;
        FeatureControls controls;
        float scale;
    } cases[] = {
        {0x0000, {0, 2, 0, false, false, false, false, false, false}, 91.2f},
        {0x0042, {0, 0, 0, false, false, false, false, false, false}, 43.1f}, // bit 6 wins
        {0x0040, {0, 0, 0, false, false, false, false, false, false}, 43.1f},
        {0x0002, {0, 1, 0, false, false, false, false, false, false}, 91.2f},
        {0x0080, {1, 2, 0, false, false, false, false, false, false}, 91.2f},
        {0x0004, {0, 2, 1, false, false, false, false, false, false}, 91.2f},
        {0x0001, {0, 2, 0, true, false, false, false, false, false}, 91.2f},
        {0x0008, {0, 2, 0, false, true, false, false, false, false}, 91.2f},
        {0x0010, {0, 2, 0, false, false, true, false, false, false}, 91.2f},
        {0x0020, {0, 2, 0, false, false, false, true, false, false}, 91.2f},
        {0x0100, {0, 2, 0, false, false, false, false, true, false}, 91.2f},
        {0x0200, {0, 2, 0, false, false, false, false, false, true}, 91.2f},
        {0xFC00, {0, 2, 0, false, false, false, false, false, false}, 91.2f},
        {0xFFFF, {1, 0, 1, true, true, true, true, true, true}, 43.1f},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeFeatures(c.word), c.controls) << std::hex << c.word;
        EXPECT_EQ(AnalogueScale(c.word), c.scale) << std::hex << c.word;
    }
    EXPECT_EQ(AnalogueScale(0x0040), 43.1f);
    EXPECT_EQ(AnalogueScale(0x0002), 91.2f);
}

TEST(FeatureWord, Pack) {
    struct Case {
        FeatureControls controls;
        std::uint16_t word;
    } cases[] = {
        {{0, 2, 0, false, false, false, false, false, false}, 0x0000},
        {{0, 0, 0, false, false, false, false, false, false}, 0x0040}, // 4 - 20 mA: bit 6 alone
        {{0, 1, 0, false, false, false, false, false, false}, 0x0002}, // 0 - 10 V: bit 1 alone
        {{0, 5, 0, false, false, false, false, false, false}, 0x0000}, // other items: neither
        {{1, 2, 0, false, false, false, false, false, false}, 0x0080},
        {{0, 2, 1, false, false, false, false, false, false}, 0x0004},
        {{0, 2, 0, true, false, false, false, false, false}, 0x0001},
        {{0, 2, 0, false, true, false, false, false, false}, 0x0008},
        {{0, 2, 0, false, false, true, false, false, false}, 0x0010},
        {{0, 2, 0, false, false, false, true, false, false}, 0x0020},
        {{0, 2, 0, false, false, false, false, true, false}, 0x0100},
        {{0, 2, 0, false, false, false, false, false, true}, 0x0200},
        {{1, 0, 1, true, true, true, true, true, true}, 0x03FD},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PackFeatures(c.controls), c.word) << std::hex << c.word;
    }
    EXPECT_EQ(AnalogueScaleForOutput(0), 43.1f);
    EXPECT_EQ(AnalogueScaleForOutput(1), 91.2f);
    EXPECT_EQ(AnalogueScaleForOutput(2), 91.2f);
}

TEST(FeatureWord, ReadThenSetRoundTrip) {
    // Bits 6 and 1 read as 4 - 20 mA; the next Set writes bit 6 alone.
    EXPECT_EQ(PackFeatures(DecodeFeatures(0x0042)), 0x0040);
    // Bits 10 to 15 are written as 0, whatever the sensor held in them.
    EXPECT_EQ(PackFeatures(DecodeFeatures(0xFC81)), 0x0081);
    for (unsigned w = 0; w <= 0xFFFF; ++w) {
        std::uint16_t expected = static_cast<std::uint16_t>(w & 0x03FF);
        if (expected & 0x0040) {
            expected = static_cast<std::uint16_t>(expected & ~0x0002);
        }
        ASSERT_EQ(PackFeatures(DecodeFeatures(static_cast<std::uint16_t>(w))), expected)
            << std::hex << w;
    }
}

TEST(ApplyFeatures, FullSequenceForCan) {
    using W = UiWindow;
    using A = UiAction;
    const std::vector<UiStep> expected{
        {W::Main, A::Hide, "Graphic1", ""},
        {W::Configuration, A::Hide, "Button75", ""},
        {W::Configuration, A::Hide, "Button77", ""},
        {W::Configuration, A::Hide, "Button39", ""},
        {W::Configuration, A::Hide, "Button78", ""},
        {W::Configuration, A::Hide, "Button80", ""},
        {W::Configuration, A::Hide, "Button40", ""},
        {W::Configuration, A::Hide, "Edit37", ""},
        {W::Configuration, A::Hide, "Edit39", ""},
        {W::Configuration, A::Hide, "Edit20", ""},
        {W::Configuration, A::Show, "cbInhibit", ""},
        {W::Configuration, A::Show, "cbCoarseChannel", ""},
        {W::Configuration, A::Show, "cbFineChannel", ""},
        {W::Configuration, A::Show, "cbThirdChannel", ""},
        {W::Configuration, A::Hide, "Button76", ""},
        {W::Configuration, A::Hide, "Button79", ""},
        {W::Configuration, A::Hide, "Edit38", ""},
        {W::Configuration, A::Hide, "Button41", ""},
        {W::Configuration, A::Hide, "Button42", ""},
        {W::Configuration, A::Hide, "Edit21", ""},
        {W::Configuration, A::Hide, "Edit22", ""},
        {W::Configuration, A::Hide, "Button43", ""},
        {W::Configuration, A::Hide, "Button44", ""},
        {W::Configuration, A::Show, "Button9", ""},
        {W::Configuration, A::Show, "Button11", ""},
        {W::Configuration, A::Show, "Button13", ""},
        {W::Configuration, A::Show, "Button15", ""},
        {W::Configuration, A::Show, "Edit5", ""},
        {W::Configuration, A::Show, "Edit6", ""},
        {W::Configuration, A::Show, "Edit7", ""},
        {W::Configuration, A::Show, "Edit8", ""},
        {W::Configuration, A::Show, "Button10", ""},
        {W::Configuration, A::Show, "Button12", ""},
        {W::Configuration, A::Show, "Button14", ""},
        {W::Configuration, A::Show, "Button16", ""},
        {W::Configuration, A::Disable, "Edit38", ""},
        {W::Configuration, A::Hide, "Button79", ""},
        {W::Main, A::Hide, "Brightness1", ""},
        {W::Main, A::Hide, "LEDs1", ""},
        {W::Configuration, A::HideTab, "TabLEDs", ""},
        {W::Configuration, A::ShowTab, "TabCAN", ""},
        {W::Configuration, A::ShowTab, "TabPGNID", ""},
        {W::Configuration, A::HideTab, "TabAnalog", ""},
        {W::Configuration, A::ShowTab, "TabDebris", ""},
        {W::Configuration, A::Show, "GaugeCoarse", ""},
        {W::Configuration, A::Hide, "Edit47", ""},
        {W::Configuration, A::Show, "GaugeFine", ""},
        {W::Configuration, A::Hide, "Edit46", ""},
        {W::Configuration, A::HideTab, "TabTemperature", ""},
        {W::Configuration, A::ShowTab, "TabOil", ""},
    };
    EXPECT_EQ(ApplyFeatures(0x0000), expected);
}

TEST(ApplyFeatures, AnalogueLevelRowsAndHints) {
    struct Case {
        std::uint16_t word;
        const char* unit;
    } cases[] = {{0x0040, "(In mA) "}, {0x0042, "(In mA) "}, {0x0002, "(In V) "}};
    for (const auto& c : cases) {
        const auto steps = ApplyFeatures(c.word);
        const Outcome o = Apply(steps);
        for (const char* n : {"Button75", "Button76", "Button77", "Button39", "Button78",
                              "Button80", "Button40", "Edit37", "Edit38", "Edit39", "Edit20",
                              "cbInhibit", "cbCoarseChannel", "cbFineChannel", "cbThirdChannel"}) {
            EXPECT_EQ(State(o.visible, n), 1) << n;
        }
        const std::string prefix = std::string("Analogue level to be output ") + c.unit;
        EXPECT_EQ(o.hint.at("Edit37"), prefix + "when sensor has error.");
        EXPECT_EQ(o.hint.at("Edit39"), prefix + "when sensor measures no debris.");
        EXPECT_EQ(o.hint.at("Edit20"), prefix + "when sensor measures 100 percent debris.");
        EXPECT_EQ(o.hint.at("Edit38"), prefix + "during calibration if inhibit is checked.");
        // Without inhibit the Inhibit Level stays visible but cannot be edited or set.
        EXPECT_EQ(State(o.enabled, "Edit38"), 0);
        EXPECT_EQ(State(o.visible, "Button79"), 0);
        // The hints are set right after the level controls are shown.
        ASSERT_GE(steps.size(), 21u);
        EXPECT_EQ(steps[17].action, UiAction::SetHint);
        EXPECT_EQ(steps[17].name, "Edit37");
        EXPECT_EQ(steps[20].name, "Edit38");
    }
    const Outcome can = Apply(ApplyFeatures(0x0000));
    EXPECT_TRUE(can.hint.empty());
    EXPECT_EQ(State(can.visible, "Edit38"), 0);
}

TEST(ApplyFeatures, InhibitLevel) {
    const Outcome with = Apply(ApplyFeatures(0x0041));
    EXPECT_EQ(State(with.enabled, "Edit38"), 1);
    EXPECT_EQ(State(with.visible, "Button79"), 1);
    const Outcome without = Apply(ApplyFeatures(0x0040));
    EXPECT_EQ(State(without.enabled, "Edit38"), 0);
    EXPECT_EQ(State(without.visible, "Button79"), 0);
}

TEST(ApplyFeatures, Tabs) {
    struct Case {
        std::uint16_t word;
        int can, pgnid, analog, debris, oil, temperature, leds;
    } cases[] = {
        // CAN output with every channel disabled still shows the CAN and PGN/ID pages.
        {0x0038, 1, 1, 0, 0, 0, 0, 0},
        {0x0000, 1, 1, 0, 1, 1, 0, 0},
        // Analogue output with every channel disabled hides the Analog Output page.
        {0x0078, 0, 0, 0, 0, 0, 0, 0},
        {0x003A, 0, 0, 0, 0, 0, 0, 0},
        {0x0058, 0, 0, 1, 0, 1, 0, 0}, // 0x18 hides Debris
        {0x0048, 0, 0, 1, 1, 1, 0, 0},
        {0x0050, 0, 0, 1, 1, 1, 0, 0},
        {0x0060, 0, 0, 1, 1, 0, 0, 0}, // bit 5 hides Oil and Temperature
        {0x0064, 0, 0, 1, 1, 0, 0, 0},
        {0x0044, 0, 0, 1, 1, 0, 1, 0}, // temperature instead of Oil
        {0x0042, 0, 0, 1, 1, 1, 0, 0},
        {0x00C0, 0, 0, 1, 1, 1, 0, -1}, // 5630i: the LEDs page is not touched
    };
    for (const auto& c : cases) {
        const Outcome o = Apply(ApplyFeatures(c.word));
        EXPECT_EQ(State(o.tab, "TabCAN"), c.can) << std::hex << c.word;
        EXPECT_EQ(State(o.tab, "TabPGNID"), c.pgnid) << std::hex << c.word;
        EXPECT_EQ(State(o.tab, "TabAnalog"), c.analog) << std::hex << c.word;
        EXPECT_EQ(State(o.tab, "TabDebris"), c.debris) << std::hex << c.word;
        EXPECT_EQ(State(o.tab, "TabOil"), c.oil) << std::hex << c.word;
        EXPECT_EQ(State(o.tab, "TabTemperature"), c.temperature) << std::hex << c.word;
        EXPECT_EQ(State(o.tab, "TabLEDs"), c.leds) << std::hex << c.word;
    }
}

TEST(ApplyFeatures, DebrisGauges) {
    struct Case {
        std::uint16_t word;
        int gaugeCoarse, edit47, gaugeFine, edit46;
    } cases[] = {
        {0x0000, 1, 0, 1, 0},
        {0x0008, 0, 1, 1, 0},
        {0x0010, 1, 0, 0, 1},
        {0x0018, -1, -1, -1, -1}, // the page is hidden, its gauges left as they were
    };
    for (const auto& c : cases) {
        const Outcome o = Apply(ApplyFeatures(c.word));
        EXPECT_EQ(State(o.visible, "GaugeCoarse"), c.gaugeCoarse) << c.word;
        EXPECT_EQ(State(o.visible, "Edit47"), c.edit47) << c.word;
        EXPECT_EQ(State(o.visible, "GaugeFine"), c.gaugeFine) << c.word;
        EXPECT_EQ(State(o.visible, "Edit46"), c.edit46) << c.word;
    }
}

TEST(ApplyFeatures, OilOrTemperatureRows) {
    const char* oil[] = {"Button9", "Button11", "Button13", "Button15", "Edit5",    "Edit6",
                         "Edit7",   "Edit8",    "Button10", "Button12", "Button14", "Button16"};
    const char* temp[] = {"Button41", "Button42", "Edit21", "Edit22", "Button43", "Button44"};
    const Outcome t = Apply(ApplyFeatures(0x0004));
    const Outcome s = Apply(ApplyFeatures(0x0000));
    for (const char* n : oil) {
        EXPECT_EQ(State(t.visible, n), 0) << n;
        EXPECT_EQ(State(s.visible, n), 1) << n;
    }
    for (const char* n : temp) {
        EXPECT_EQ(State(t.visible, n), 1) << n;
        EXPECT_EQ(State(s.visible, n), 0) << n;
    }
}

TEST(ApplyFeatures, MainWindowMenu) {
    for (unsigned w : {0x0000u, 0x0080u, 0x00C5u, 0xFFFFu, 0x0042u}) {
        const auto steps = ApplyFeatures(static_cast<std::uint16_t>(w));
        ASSERT_FALSE(steps.empty());
        // The "Reporting" entry is hidden first, every time.
        EXPECT_EQ(steps.front(), (UiStep{UiWindow::Main, UiAction::Hide, "Graphic1", ""}));
        const Outcome o = Apply(steps);
        const bool inline5630i = (w & 0x0080) != 0;
        EXPECT_EQ(State(o.visible, "main:Brightness1"), inline5630i ? 1 : 0) << w;
        // The LEDs entry and page are never shown here: hidden for a 5630, untouched for a
        // 5630i.
        EXPECT_EQ(State(o.visible, "main:LEDs1"), inline5630i ? -1 : 0) << w;
        EXPECT_EQ(State(o.tab, "TabLEDs"), inline5630i ? -1 : 0) << w;
        EXPECT_EQ(State(o.visible, "main:Graphic1"), 0);
    }
}
