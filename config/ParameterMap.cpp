#include "config/ParameterMap.h"

#include "config/FeatureWord.h"

#include <array>
#include <cstdio>

namespace quellon {

namespace {

using S = ShowKind;
using K = SetKind;
using U = FollowUp;
using F = J1939Field;
namespace H = Hidden;

constexpr std::uint8_t kAllD = H::ReadButtonD | H::ControlD | H::SetButtonD;
constexpr std::uint8_t kAllS = H::ReadButtonS | H::ControlS | H::SetButtonS;
constexpr const char* kJ1939Hint = kJ1939BoxHint;

constexpr std::array<ParameterRow, 47> kRows{{
    // Page 0, "Sensor Type"
    {.page = kPageType,
     .readButton = "Button37",
     .caption = "Features",
     .address = 0x001E,
     .show = S::ShowHex,
     .control = "Edit19",
     .setButton = "Button38",
     .set = K::SetHex,
     .followUp = U::FeatureSet,
     .hidden = H::ReadButtonD | H::ReadButtonS | H::ControlD | H::ControlS | H::SetButtonD,
     .meaning = "FeatureWord: sensor model, output type, channel switches"},

    // Page 1, "Debris": raw debris-channel counts, signed
    {.page = kPageDebris,
     .readButton = "Button1",
     .caption = "Coarse Zero",
     .address = 0x0000,
     .show = S::ShowSigned,
     .control = "Edit1",
     .setButton = "Button2",
     .set = K::SetDecimal,
     .followUp = U::ReReadReload,
     .hidden = kAllD,
     .meaning = "coarse channel zero"},
    {.page = kPageDebris,
     .readButton = "Button3",
     .caption = "Read Coarse 100%",
     .address = 0x0004,
     .show = S::ShowSigned,
     .control = "Edit2",
     .hint = "Value to give 100% output",
     .setButton = "Button4",
     .set = K::SetDecimal,
     .followUp = U::ReReadReload,
     .meaning = "coarse channel value for full-scale output"},
    {.page = kPageDebris,
     .readButton = "Button5",
     .caption = "Fine Zero",
     .address = 0x0002,
     .show = S::ShowSigned,
     .control = "Edit3",
     .setButton = "Button6",
     .set = K::SetDecimal,
     .followUp = U::ReReadReload,
     .hidden = kAllD,
     .meaning = "fine channel zero"},
    {.page = kPageDebris,
     .readButton = "Button7",
     .caption = "Read Fine 100%",
     .address = 0x0006,
     .show = S::ShowSigned,
     .control = "Edit4",
     .hint = "Value to give 100% output",
     .setButton = "Button8",
     .set = K::SetDecimal,
     .followUp = U::ReReadReload,
     .meaning = "fine channel value for full-scale output"},
    {.page = kPageDebris,
     .readButton = "Button96",
     .caption = "Read Coarse Offset",
     .address = 0x003A,
     .show = S::ShowSigned,
     .control = "Edit41",
     .hint = "Value to give 0% output",
     .setButton = "Button98",
     .set = K::SetDecimal,
     .followUp = U::ReReadReload,
     .meaning = "coarse channel value for zero output"},
    {.page = kPageDebris,
     .readButton = "Button97",
     .caption = "Coarse Scaling",
     .address = 0x003E,
     .show = S::ShowSigned,
     .control = "Edit42",
     .setButton = "Button99",
     .set = K::SetDecimal,
     .followUp = U::ReReadReload,
     .hidden = kAllD,
     .meaning = "coarse channel scaling"},
    {.page = kPageDebris,
     .readButton = "Button100",
     .caption = "Read Fine Offset",
     .address = 0x003C,
     .show = S::ShowSigned,
     .control = "Edit43",
     .hint = "Value to give 0% output",
     .setButton = "Button102",
     .set = K::SetDecimal,
     .followUp = U::ReReadReload,
     .meaning = "fine channel value for zero output"},
    {.page = kPageDebris,
     .readButton = "Button101",
     .caption = "Fine Scaling",
     .address = 0x0040,
     .show = S::ShowSigned,
     .control = "Edit44",
     .setButton = "Button103",
     .set = K::SetDecimal,
     .followUp = U::ReReadReload,
     .hidden = kAllD,
     .meaning = "fine channel scaling"},

    // Page 2, "Oil"
    {.page = kPageOil,
     .readButton = "Button9",
     .caption = "Oil Reference",
     .address = 0x0022,
     .show = S::ShowUnsigned,
     .control = "Edit5",
     .hint = "Reference value to normalise Oil Status measurement",
     .setButton = "Button10",
     .set = K::SetDecimal,
     .followUp = U::Reload,
     .hidden = kAllD,
     .meaning = "Oil Status reference value"},
    {.page = kPageOil,
     .readButton = "Button11",
     .caption = "Oil Upper threshold",
     .address = 0x0026,
     .show = S::ShowScaledInt,
     .scale = 1.0f,
     .control = "Edit6",
     .hint = "Upper Oil Status value to indicate alarm",
     .setButton = "Button12",
     .set = K::SetScaledInt,
     .followUp = U::Reload,
     .meaning = "upper Oil Status alarm threshold, signed"},
    {.page = kPageOil,
     .readButton = "Button13",
     .caption = "Oil Lower threshold",
     .address = 0x0028,
     .show = S::ShowScaledInt,
     .scale = 1.0f,
     .control = "Edit7",
     .hint = "Lower Oil Status value to indicate alarm",
     .setButton = "Button14",
     .set = K::SetScaledInt,
     .followUp = U::Reload,
     .meaning = "lower Oil Status alarm threshold, signed"},
    {.page = kPageOil,
     .readButton = "Button15",
     .caption = "Oil Filter time (seconds)",
     .address = 0x0024,
     .show = S::ShowScaledReal,
     .scale = 10.0f,
     .control = "Edit8",
     .hint = "Response time of Oil Status measurement filter",
     .setButton = "Button16",
     .set = K::SetScaledReal,
     .followUp = U::Reload,
     .meaning = "Oil Status filter time, stored in tenths of a second"},

    // Page 3, "Analog Output": levels in mA or V through AnalogueScale
    {.page = kPageAnalog,
     .readButton = "Button39",
     .caption = "Full Scale Level",
     .address = 0x0010,
     .show = S::ShowScaledReal,
     .analogueScale = true,
     .control = "Edit20",
     .setButton = "Button40",
     .set = K::SetScaledReal,
     .followUp = U::Reload,
     .meaning = "output level at 100 percent debris"},
    {.page = kPageAnalog,
     .readButton = "Button75",
     .caption = "Error Level",
     .address = 0x000E,
     .show = S::ShowScaledReal,
     .analogueScale = true,
     .control = "Edit37",
     .setButton = "Button78",
     .set = K::SetScaledReal,
     .followUp = U::Reload,
     .meaning = "output level when the sensor has an error"},
    {.page = kPageAnalog,
     .readButton = "Button76",
     .caption = "Inhibit Level",
     .address = 0x002A,
     .show = S::ShowScaledReal,
     .analogueScale = true,
     .control = "Edit38",
     .setButton = "Button79",
     .set = K::SetScaledReal,
     .followUp = U::Reload,
     .meaning = "output level during calibration when inhibit is on"},
    {.page = kPageAnalog,
     .readButton = "Button77",
     .caption = "Zero Level",
     .address = 0x000C,
     .show = S::ShowScaledReal,
     .analogueScale = true,
     .control = "Edit39",
     .setButton = "Button80",
     .set = K::SetScaledReal,
     .followUp = U::Reload,
     .meaning = "output level when no debris is measured"},

    // Page 4, "Temperature"
    {.page = kPageTemperature,
     .readButton = "Button17",
     .caption = "Internal Thermistor Offset",
     .address = 0x002C,
     .show = S::ShowUnsigned,
     .control = "Edit9",
     .setButton = "Button18",
     .set = K::SetDecimal,
     .followUp = U::ReReadPauseReload,
     .hidden = kAllS,
     .meaning = "internal thermistor offset"},
    {.page = kPageTemperature,
     .readButton = "Button19",
     .caption = "External PT Offset",
     .address = 0x002E,
     .show = S::ShowUnsigned,
     .control = "Edit10",
     .setButton = "Button20",
     .set = K::SetDecimal,
     .followUp = U::ReReadPauseReload,
     .hidden = kAllS,
     .meaning = "external PT sensor offset"},
    {.page = kPageTemperature,
     .readButton = "Button41",
     .caption = "Low temperature alarm (C)",
     .readButtonHint = "Temperature below which to raise alarm",
     .address = 0x0030,
     .show = S::ShowScaledInt,
     .scale = 16.0f,
     .control = "Edit21",
     .hint = "Low Temperature (deg C) to indicate alarm",
     .setButton = "Button43",
     .set = K::SetScaledInt,
     .followUp = U::ReReadPauseReload,
     .meaning = "low temperature alarm, signed, in sixteenths of a degree Celsius"},
    {.page = kPageTemperature,
     .readButton = "Button42",
     .caption = "High temperature alarm (C)",
     .readButtonHint = "Temperature above which to raise alarm",
     .address = 0x0032,
     .show = S::ShowScaledInt,
     .scale = 16.0f,
     .control = "Edit22",
     .hint = "High Temperature (deg C) to indicate alarm",
     .setButton = "Button44",
     .set = K::SetScaledInt,
     .followUp = U::ReReadPauseReload,
     .meaning = "high temperature alarm, signed, in sixteenths of a degree Celsius"},

    // Page 5, "Log": read only
    {.page = kPageLog,
     .readButton = "Button47",
     .caption = "Run Time (h:m)",
     .address = 0x0060,
     .width = 32,
     .show = S::ShowRunTime,
     .multiplier = 5,
     .control = "Edit23",
     .hint = "Total runtime of sensor",
     .meaning = "total run time, counted in 5-minute periods, shown as hours:minutes"},
    {.page = kPageLog,
     .readButton = "Button48",
     .caption = "Electronics minimum temperature",
     .address = 0x0064,
     .show = S::ShowScaledReal,
     .scale = 16.0f,
     .control = "Edit24",
     .hint = "Minimum PCB temperature (deg C)",
     .meaning = "lowest electronics temperature, signed, in sixteenths of a degree Celsius"},
    {.page = kPageLog,
     .readButton = "Button49",
     .caption = "Electronics maximum temperature",
     .address = 0x0068,
     .show = S::ShowScaledReal,
     .scale = 16.0f,
     .control = "Edit25",
     .hint = "Maximum PCB temperature (deg C)",
     .meaning = "highest electronics temperature"},
    {.page = kPageLog,
     .readButton = "Button50",
     .caption = "Probe minimum temperature",
     .address = 0x006C,
     .show = S::ShowScaledReal,
     .scale = 16.0f,
     .control = "Edit26",
     .hint = "Minimum Probe temperature (deg C)",
     .meaning = "lowest probe temperature"},
    {.page = kPageLog,
     .readButton = "Button51",
     .caption = "Probe maximum temperature",
     .address = 0x0070,
     .show = S::ShowScaledReal,
     .scale = 16.0f,
     .control = "Edit27",
     .hint = "Maximum Probe temperature (deg C)",
     .meaning = "highest probe temperature"},

    // Page 6, "CAN": fields of the J1939 NAME
    {.page = kPageCan,
     .readButton = "Button21",
     .caption = "Manufacturer Code:11",
     .address = 0x00B0,
     .show = S::ShowHex,
     .control = "Edit11",
     .hint = kJ1939Hint,
     .hintShown = false,
     .setButton = "Button22",
     .set = K::SetMaskedHex,
     .mask = 0x7FF,
     .followUp = U::Name,
     .hidden = H::SetButtonS,
     .field = F::ManufacturerCode,
     .meaning = "J1939 manufacturer code"},
    {.page = kPageCan,
     .readButton = "Button23",
     .caption = "IdentityH:5",
     .address = 0x00B4,
     .show = S::ShowHex,
     .control = "Edit12",
     .hint = kJ1939Hint,
     .hintShown = false,
     .setButton = "Button24",
     .set = K::SetMaskedHex,
     .mask = 0x1F,
     .followUp = U::Name,
     .hidden = H::SetButtonS,
     .field = F::IdentityHigh,
     .meaning = "J1939 identity number, high part"},
    {.page = kPageCan,
     .readButton = "Button25",
     .caption = "IdentityL:16",
     .address = 0x00B6,
     .show = S::ShowHex,
     .control = "Edit13",
     .hint = kJ1939Hint,
     .hintShown = false,
     .setButton = "Button26",
     .set = K::SetMaskedHex,
     .mask = 0xFFFF,
     .followUp = U::Name,
     .hidden = H::SetButtonS,
     .field = F::IdentityLow,
     .meaning = "J1939 identity number, low part"},
    {.page = kPageCan,
     .readButton = "Button29",
     .caption = "Function:8",
     .address = 0x00BA,
     .show = S::ShowHex,
     .control = "Edit15",
     .hint = kJ1939Hint,
     .hintShown = false,
     .setButton = "Button30",
     .set = K::SetMaskedHex,
     .mask = 0xFF,
     .followUp = U::Name,
     .hidden = H::SetButtonS,
     .field = F::Function,
     .meaning = "J1939 function"},
    {.page = kPageCan,
     .readButton = "Button31",
     .caption = "Vehicle System:7",
     .address = 0x00BC,
     .show = S::ShowHex,
     .control = "Edit16",
     .hint = kJ1939Hint,
     .hintShown = false,
     .setButton = "Button32",
     .set = K::SetMaskedHex,
     .mask = 0x7F,
     .followUp = U::Name,
     .hidden = H::SetButtonS,
     .field = F::VehicleSystem,
     .meaning = "J1939 vehicle system"},
    {.page = kPageCan,
     .readButton = "Button33",
     .caption = "Industry Group:3",
     .address = 0x00BE,
     .show = S::ShowHex,
     .control = "Edit17",
     .hint = kJ1939Hint,
     .hintShown = false,
     .setButton = "Button34",
     .set = K::SetMaskedHex,
     .mask = 0x7,
     .followUp = U::Name,
     .hidden = H::SetButtonS,
     .field = F::IndustryGroup,
     .meaning = "J1939 industry group"},
    {.page = kPageCan,
     .readButton = "Button35",
     .caption = "Vehicle System Instance:4",
     .address = 0x00C4,
     .show = S::ShowHex,
     .control = "Edit18",
     .hint = kJ1939Hint,
     .hintShown = false,
     .setButton = "Button36",
     .set = K::SetMaskedHex,
     .mask = 0xF,
     .followUp = U::Name,
     .hidden = H::SetButtonS,
     .field = F::VehicleSystemInstance,
     .meaning = "J1939 vehicle system instance"},
    {.page = kPageCan,
     .readButton = "Button65",
     .caption = "ECU Instance:3",
     .address = 0x00C2,
     .show = S::ShowHex,
     .control = "Edit35",
     .hint = kJ1939Hint,
     .hintShown = false,
     .setButton = "Button67",
     .set = K::SetMaskedHex,
     .mask = 0x7,
     .followUp = U::NameReload,
     .field = F::EcuInstance,
     .meaning = "J1939 ECU instance"},
    {.page = kPageCan,
     .readButton = "Button66",
     .caption = "Function Instance:5",
     .address = 0x00C0,
     .show = S::ShowHex,
     .control = "Edit36",
     .hint = kJ1939Hint,
     .hintShown = false,
     .setButton = "Button68",
     .set = K::SetMaskedHex,
     .mask = 0x1F,
     .followUp = U::NameReload,
     .field = F::FunctionInstance,
     .meaning = "J1939 function instance"},

    // Page 7, "PGN/ID"
    {.page = kPagePgnId,
     .readButton = "Button27",
     .caption = "Address:8",
     .address = 0x00B8,
     .show = S::ShowHex,
     .control = "Edit14",
     .hint = kJ1939Hint,
     .hintShown = false,
     .setButton = "Button28",
     .set = K::SetMaskedHex,
     .mask = 0xFF,
     .followUp = U::CanId,
     .field = F::SourceAddress,
     .meaning = "J1939 source address"},
    {.page = kPagePgnId,
     .readButton = "Button55",
     .caption = "Priority:3",
     .address = 0x00C6,
     .show = S::ShowHex,
     .control = "Edit29",
     .hint = kJ1939Hint,
     .hintShown = false,
     .setButton = "Button56",
     .set = K::SetMaskedHex,
     .mask = 0x7,
     .followUp = U::CanId,
     .hidden = H::SetButtonS,
     .field = F::Priority,
     .meaning = "J1939 message priority"},
    {.page = kPagePgnId,
     .readButton = "Button57",
     .caption = "Data Page:1",
     .address = 0x00CC,
     .show = S::ShowHex,
     .control = "Edit30",
     .hint = kJ1939Hint,
     .hintShown = false,
     .setButton = "Button60",
     .set = K::SetMaskedHex,
     .mask = 0x1,
     .followUp = U::CanId,
     .hidden = H::SetButtonS,
     .field = F::DataPage,
     .meaning = "J1939 data page"},
    {.page = kPagePgnId,
     .readButton = "Button58",
     .caption = "PDU Format:8",
     .address = 0x00CA,
     .show = S::ShowHex,
     .control = "Edit31",
     .hint = kJ1939Hint,
     .hintShown = false,
     .setButton = "Button61",
     .set = K::SetMaskedHex,
     .mask = 0xFF,
     .followUp = U::CanId,
     .hidden = H::SetButtonS,
     .field = F::PduFormat,
     .meaning = "J1939 PDU format"},
    {.page = kPagePgnId,
     .readButton = "Button59",
     .caption = "PDU Specific:8",
     .address = 0x00C8,
     .show = S::ShowHex,
     .control = "Edit32",
     .hint = kJ1939Hint,
     .hintShown = false,
     .setButton = "Button62",
     .set = K::SetMaskedHex,
     .mask = 0xFF,
     .followUp = U::CanId,
     .hidden = H::SetButtonS,
     .field = F::PduSpecific,
     .meaning = "J1939 PDU specific"},

    // Page 8, "LEDs": intensities 0 to 100; Set sends a command instead of writing
    {.page = kPageLeds,
     .readButton = "Button69",
     .caption = "Red Intensity",
     .address = 0x0034,
     .show = S::ShowSpin,
     .control = "csRed",
     .controlKind = ControlKind::Spin,
     .spinMinimum = 0,
     .spinMaximum = 100,
     .setButton = "Button72",
     .followUp = U::LedCommand,
     .ledCommand = "i %x",
     .meaning = "red LED intensity"},
    {.page = kPageLeds,
     .readButton = "Button70",
     .caption = "Green Intensity",
     .address = 0x0036,
     .show = S::ShowSpin,
     .control = "csGreen",
     .controlKind = ControlKind::Spin,
     .spinMinimum = 0,
     .spinMaximum = 100,
     .setButton = "Button73",
     .followUp = U::LedCommand,
     .ledCommand = "j %x",
     .meaning = "green LED intensity"},
    {.page = kPageLeds,
     .readButton = "Button71",
     .caption = "Blue Intensity",
     .address = 0x0038,
     .show = S::ShowSpin,
     .control = "csBlue",
     .controlKind = ControlKind::Spin,
     .spinMinimum = 0,
     .spinMaximum = 100,
     .setButton = "Button74",
     .followUp = U::LedCommand,
     .ledCommand = "k %x",
     .meaning = "blue LED intensity"},

    // Page 11, "Serialise"
    {.page = kPageSerialise,
     .readButton = "Button104",
     .caption = "Serial Number",
     .address = 0x0080,
     .show = S::ShowUnsigned,
     .control = "Edit45",
     .designText = "00000",
     .setButton = "Button106",
     .set = K::SetDecimal,
     .followUp = U::None,
     .meaning = "sensor serial number"},
    {.page = kPageSerialise,
     .readButton = "Button105",
     .caption = "Manufacture Date DD:MM:YY",
     .address = 0x0090,
     .show = S::ShowSpin,
     .control = "CSpinDD",
     .controlKind = ControlKind::Spin,
     .spinMinimum = 0,
     .spinMaximum = 31,
     .designValue = 28,
     .setButton = "Button107",
     .set = K::SetSpin,
     .followUp = U::None,
     .part = 0,
     .parts = 3,
     .meaning = "day of manufacture"},
    {.page = kPageSerialise,
     .readButton = "Button105",
     .caption = "Manufacture Date DD:MM:YY",
     .address = 0x0092,
     .show = S::ShowSpin,
     .control = "CSpinMM",
     .controlKind = ControlKind::Spin,
     .spinMinimum = 0,
     .spinMaximum = 12,
     .designValue = 12,
     .setButton = "Button107",
     .set = K::SetSpin,
     .followUp = U::None,
     .part = 1,
     .parts = 3,
     .meaning = "month of manufacture"},
    {.page = kPageSerialise,
     .readButton = "Button105",
     .caption = "Manufacture Date DD:MM:YY",
     .address = 0x0094,
     .show = S::ShowSpin,
     .control = "CSpinYY",
     .controlKind = ControlKind::Spin,
     .spinMinimum = 0,
     .spinMaximum = 99,
     .designValue = 20,
     .setButton = "Button107",
     .set = K::SetSpin,
     .followUp = U::None,
     .part = 2,
     .parts = 3,
     .meaning = "two-digit year of manufacture"},
}};

constexpr std::array<PageInfo, 12> kPages{{
    {0, "TabType", "Sensor Type", true, false},
    {1, "TabDebris", "Debris", true, false},
    {2, "TabOil", "Oil", true, false},
    {3, "TabAnalog", "Analog Output", true, false},
    {4, "TabTemperature", "Temperature", true, false},
    {5, "TabLog", "Log", true, true},
    {6, "TabCAN", "CAN", true, false},
    {7, "TabPGNID", "PGN/ID", true, false},
    {8, "TabLEDs", "LEDs", true, true},
    {9, "TabCorrection", "Correction", false, true},
    {10, "TabLinearisation", "Linearisation", false, true},
    {11, "TabSerialise", "Serialise", true, true},
}};

using AK = ActionStepKind;

constexpr std::array<ActionStep, 1> kReloadSteps{{{AK::Send, "Z"}}};
constexpr std::array<ActionStep, 3> kResetRunTimeSteps{
    {{AK::Send, "rr"}, {AK::Wait, nullptr, 50}, {AK::Read, "Button47"}}};
constexpr std::array<ActionStep, 9> kResetTemperatureSteps{{{AK::Send, "rt"},
                                                            {AK::Wait, nullptr, 50},
                                                            {AK::Read, "Button48"},
                                                            {AK::Wait, nullptr, 50},
                                                            {AK::Read, "Button49"},
                                                            {AK::Wait, nullptr, 50},
                                                            {AK::Read, "Button50"},
                                                            {AK::Wait, nullptr, 50},
                                                            {AK::Read, "Button51"}}};
constexpr std::array<ActionStep, 1> kRedSteps{{{AK::SendValue, "i %x", 0, "csRed"}}};
constexpr std::array<ActionStep, 1> kGreenSteps{{{AK::SendValue, "j %x", 0, "csGreen"}}};
constexpr std::array<ActionStep, 1> kBlueSteps{{{AK::SendValue, "k %x", 0, "csBlue"}}};
const std::array<SingleCommandAction, 6> kActions{{
    {"Button85Click", "Button85", "Reload", -1, H::ReadButtonD, nullptr, kReloadSteps},
    {"Button52Click", "Button52", "Reset", kPageLog, H::ReadButtonS, nullptr, kResetRunTimeSteps},
    {"Button53Click", "Button53", "Reset", kPageLog, H::ReadButtonS, nullptr,
     kResetTemperatureSteps},
    {"Button72Click", "Button72", "Set", kPageLeds, 0, nullptr, kRedSteps},
    {"Button73Click", "Button73", "Set", kPageLeds, 0, nullptr, kGreenSteps},
    {"Button74Click", "Button74", "Set", kPageLeds, 0, nullptr, kBlueSteps},
}};

constexpr std::array<const char*, 4> kDebrisReads{"Button3", "Button7", "Button96", "Button100"};
constexpr std::array<const char*, 4> kOilReads{"Button9", "Button11", "Button13", "Button15"};
constexpr std::array<const char*, 4> kAnalogReads{"Button75", "Button77", "Button39", "Button76"};
constexpr std::array<const char*, 4> kTemperatureReads{"Button17", "Button19", "Button41",
                                                       "Button42"};
constexpr std::array<const char*, 5> kLogReads{"Button47", "Button48", "Button49", "Button50",
                                               "Button51"};
constexpr std::array<const char*, 1> kCanReads{"Button54"};
constexpr std::array<const char*, 1> kPgnIdReads{"Button64"};
constexpr std::array<const char*, 3> kLedReads{"Button69", "Button70", "Button71"};
constexpr std::array<const char*, 2> kSerialiseReads{"Button104", "Button105"};

const std::array<PageRead, 12> kPageReads{{
    {kPageType, {}, false},
    {kPageDebris, kDebrisReads, true},
    {kPageOil, kOilReads, true},
    {kPageAnalog, kAnalogReads, false},
    {kPageTemperature, kTemperatureReads, false},
    {kPageLog, kLogReads, false},
    {kPageCan, kCanReads, false},
    {kPagePgnId, kPgnIdReads, false},
    {kPageLeds, kLedReads, false},
    {kPageCorrection, {}, false},
    {kPageLinearisation, {}, false},
    {kPageSerialise, kSerialiseReads, false},
}};

constexpr ReadVia kD = ReadVia::Direct;
constexpr std::array<ReadAllStep, 47> kReadAll{{
    {"Button37", kD}, // the Features read
    {"Button75", kD},
    {"Button76", kD},
    {"Button77", kD},
    {"Button39", kD},
    {"Button1", kD},
    {"Button3", kD},
    {"Button5", kD},
    {"Button7", kD},
    {"Button9", kD},
    {"Button11", kD},
    {"Button13", kD},
    {"Button15", kD},
    {"Button17", kD},
    {"Button19", kD},
    {"Button21", kD},
    {"Button23", kD},
    {"Button25", kD},
    {"Button27", kD},
    {"Button29", kD},
    {"Button31", kD},
    {"Button33", kD},
    {"Button35", kD},
    {"Button41", kD},
    {"Button42", kD},
    {"Button47", kD},
    {"Button48", kD},
    {"Button49", kD},
    {"Button50", kD},
    {"Button51", kD},
    // NAME (Button54Click) reads its nine fields
    {"Button21", ReadVia::Name},
    {"Button23", ReadVia::Name},
    {"Button25", ReadVia::Name},
    {"Button29", ReadVia::Name},
    {"Button31", ReadVia::Name},
    {"Button33", ReadVia::Name},
    {"Button35", ReadVia::Name},
    {"Button65", ReadVia::Name},
    {"Button66", ReadVia::Name},
    // CAN ID (Button64Click): the PGN's three fields, then priority and address
    {"Button57", ReadVia::CanId},
    {"Button58", ReadVia::CanId},
    {"Button59", ReadVia::CanId},
    {"Button55", ReadVia::CanId},
    {"Button27", ReadVia::CanId},
    // the LED intensities
    {"Button69", kD},
    {"Button70", kD},
    {"Button71", kD},
}};

constexpr std::array<CaptionRewrite, 2> kCaptionRewrites{{
    {"Button42", "High temperature alarm (%cC)"},
    {"Button41", "Low temperature alarm (%cC)"},
}};

void AddEdits(std::vector<std::string>& out, int first, int last) {
    for (int i = first; i <= last; ++i) {
        out.push_back("Edit" + std::to_string(i));
    }
}

} // namespace

std::span<const ParameterRow> ParameterMap() {
    return kRows;
}

std::vector<const ParameterRow*> RowsByReadButton(std::string_view readButton) {
    std::vector<const ParameterRow*> rows;
    for (const auto& r : kRows) {
        if (readButton == r.readButton) {
            rows.push_back(&r);
        }
    }
    return rows;
}

std::vector<const ParameterRow*> RowsBySetButton(std::string_view setButton) {
    std::vector<const ParameterRow*> rows;
    for (const auto& r : kRows) {
        if (r.setButton && setButton == r.setButton) {
            rows.push_back(&r);
        }
    }
    return rows;
}

const ParameterRow* RowByControl(std::string_view control) {
    for (const auto& r : kRows) {
        if (control == r.control) {
            return &r;
        }
    }
    return nullptr;
}

const ParameterRow* RowByAddress(ConfigAddress address) {
    for (const auto& r : kRows) {
        if (r.address == address) {
            return &r;
        }
    }
    return nullptr;
}

const ParameterRow* RowByField(J1939Field field) {
    if (field == J1939Field::None) {
        return nullptr;
    }
    for (const auto& r : kRows) {
        if (r.field == field) {
            return &r;
        }
    }
    return nullptr;
}

std::string LedCommandText(const ParameterRow& row, int value) {
    if (!row.ledCommand) {
        return {};
    }
    char text[16];
    std::snprintf(text, sizeof text, row.ledCommand, static_cast<unsigned>(value));
    return text;
}

std::span<const PageInfo> Pages() {
    return kPages;
}

const PageInfo* PageByName(std::string_view name) {
    for (const auto& p : kPages) {
        if (name == p.name) {
            return &p;
        }
    }
    return nullptr;
}

std::span<const SingleCommandAction> SingleCommandActions() {
    return kActions;
}

const SingleCommandAction* ActionByHandler(std::string_view handler) {
    for (const auto& a : kActions) {
        if (handler == a.handler) {
            return &a;
        }
    }
    return nullptr;
}

const SingleCommandAction* ActionByControl(std::string_view control) {
    for (const auto& a : kActions) {
        if (control == a.control) {
            return &a;
        }
    }
    return nullptr;
}

const PageRead& PageReads(int page) {
    if (page < 0 || page >= static_cast<int>(kPageReads.size())) {
        return kPageReads[kPageType]; // an unknown page reads nothing
    }
    return kPageReads[static_cast<std::size_t>(page)];
}

std::span<const ReadAllStep> ReadAllOrder() {
    return kReadAll;
}

std::vector<std::string> ReadAllHiddenFields() {
    std::vector<std::string> out;
    AddEdits(out, 1, 39);
    out.insert(out.end(), {"csRed", "csGreen", "csBlue"});
    return out;
}

std::vector<std::string> ReadAllShownFields(std::uint16_t featureWord) {
    std::vector<std::string> out;
    AddEdits(out, 1, 4);
    AddEdits(out, 9, 19);
    if (featureWord & FeatureBit::ThirdIsTemperature) {
        out.insert(out.end(), {"Edit21", "Edit22"});
    } else {
        AddEdits(out, 5, 8);
    }
    AddEdits(out, 23, 36);
    if (HasAnalogueOutput(featureWord)) {
        out.insert(out.end(), {"Edit37", "Edit38", "Edit39", "Edit20"});
    }
    out.insert(out.end(), {"csRed", "csGreen", "csBlue"});
    return out;
}

std::span<const CaptionRewrite> CaptionRewrites() {
    return kCaptionRewrites;
}

std::string RewrittenCaption(const CaptionRewrite& rewrite) {
    std::string text = rewrite.format;
    const auto at = text.find("%c");
    if (at != std::string::npos) {
        text.replace(at, 2, "\xC2\xB0"); // character code 176, the degree sign, in UTF-8
    }
    return text;
}

} // namespace quellon
