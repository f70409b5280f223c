#pragma once
// The sensor's feature word at ConfigAddress 0x001E: which model, which output, what the
// third channel measures, which channels have their outputs disabled, and two correction
// switches. This is its decoding into the Sensor Type page's controls, its packing from them,
// the analogue output scale that follows from it, and ApplyFeatures: the ordered list of
// what the configuration window and the main window show, hide, enable and relabel for it.
#include "config/ConfigTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quellon {

inline constexpr ConfigAddress kFeatureWordAddress = 0x001E;

// Bits of the feature word.
namespace FeatureBit {
inline constexpr std::uint16_t InhibitOutputs = 0x0001;     // cbInhibit
inline constexpr std::uint16_t OutputVoltage = 0x0002;      // rgAnalogType item 1, 0 - 10 V
inline constexpr std::uint16_t ThirdIsTemperature = 0x0004; // rgDiTempChannel item 1
inline constexpr std::uint16_t CoarseDisabled = 0x0008;     // cbCoarseChannel
inline constexpr std::uint16_t FineDisabled = 0x0010;       // cbFineChannel
inline constexpr std::uint16_t ThirdDisabled = 0x0020;      // cbThirdChannel
inline constexpr std::uint16_t OutputCurrent = 0x0040;      // rgAnalogType item 0, 4 - 20 mA
inline constexpr std::uint16_t Inline = 0x0080;             // rgApplication item 1, 5630i
inline constexpr std::uint16_t NoTempCorrection = 0x0100;   // cbTempCorrection
inline constexpr std::uint16_t NoVolCorrection = 0x0200;    // cbVolCorrection
} // namespace FeatureBit

// Counts per mA (4 - 20 mA) and per V (0 - 10 V, and CAN) of the analogue output levels.
inline constexpr float kCountsPerMilliamp = 43.1f;
inline constexpr float kCountsPerVolt = 91.2f;

// Item indices of the Sensor Type page's radio groups.
inline constexpr int kModel5630 = 0;
inline constexpr int kModel5630i = 1;
inline constexpr int kOutputCurrent = 0; // "4 - 20 mA"
inline constexpr int kOutputVoltage = 1; // "0 - 10 V"
inline constexpr int kOutputCan = 2;     // "CAN"
inline constexpr int kThirdOilStatus = 0;
inline constexpr int kThirdTemperature = 1;

// The states of the Sensor Type page's controls.
struct FeatureControls {
    int rgApplication = kModel5630;
    int rgAnalogType = kOutputCan;
    int rgDiTempChannel = kThirdOilStatus;
    bool cbInhibit = false;
    bool cbCoarseChannel = false;
    bool cbFineChannel = false;
    bool cbThirdChannel = false;
    bool cbTempCorrection = false;
    bool cbVolCorrection = false;
    bool operator==(const FeatureControls&) const = default;
};

// Controls from a word read: bit 6 means 4 - 20 mA whatever bit 1 holds.
FeatureControls DecodeFeatures(std::uint16_t word);
// The word from the controls: bits 10 to 15 are 0; 4 - 20 mA sets bit 6 only, 0 - 10 V
// bit 1 only, any other output item neither.
std::uint16_t PackFeatures(const FeatureControls& controls);
// 43.1 for 4 - 20 mA (bit 6), 91.2 otherwise.
float AnalogueScale(std::uint16_t word);
float AnalogueScaleForOutput(int rgAnalogTypeIndex);
// An analogue output: bit 6 or bit 1.
bool HasAnalogueOutput(std::uint16_t word);

// One step of ApplyFeatures, to be applied in order.
enum class UiWindow {
    Configuration, // TForm2: controls and tabs by name
    Main,          // TForm1: menu entries by name
};
enum class UiAction {
    Show,
    Hide,
    Enable,
    Disable,
    ShowTab, // put the tab back into the tab row
    HideTab, // take the tab out of the tab row (its page index is unchanged)
    SetHint,
};
struct UiStep {
    UiWindow window;
    UiAction action;
    std::string name;
    std::string text; // SetHint: the hint
    bool operator==(const UiStep&) const = default;
};

std::vector<UiStep> ApplyFeatures(std::uint16_t word);

// "%s%s%s" of "Analogue level to be output ", the unit text and the case text.
std::string AnalogueLevelHint(bool milliamps, const std::string& caseText);

} // namespace quellon
