#pragma once
// The configuration window's parameter map as data: every named parameter with its page,
// read button, address, display operation, control, "Set" button, entry operation and the
// steps after a write; the pages of PageControl1; the single-command actions; what each page
// reads when it is selected; and the order of the whole-configuration read. The window
// drives its handlers from these tables.
//
// A parameter shown in several controls (the manufacture date: day, month, year) has one
// row per control, all with the same read and Set buttons and `part` 0, 1, 2 of `parts` 3;
// the lookups by button return them in that order, and each is an independent access.
#include "config/ConfigTypes.h"
#include "config/J1939.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quellon {

enum class ControlKind {
    Edit, // TEdit: text
    Spin, // TCSpinEdit: a value within limits
};

// The steps after a "Set" handler's entry operation.
enum class FollowUp {
    ReReadReload,      // wait 20 ms; the row's read handler; Reload
    Reload,            // wait 50 ms; Reload
    ReReadPauseReload, // wait 20 ms; the row's read handler; wait 50 ms; Reload
    Name,              // wait 20 ms; NAME (Button54Click)
    NameReload,        // wait 20 ms; NAME; wait 50 ms; Reload
    CanId,             // wait 20 ms; CAN ID (Button64Click)
    None,              // nothing
    LedCommand,        // nothing is written: the Set button sends `ledCommand` with the value
    FeatureSet,        // the Sensor Type page's Set sequence (Button38Click)
};

// Which of a row's controls are hidden: D in the form's design, S each time the window is
// shown.
namespace Hidden {
inline constexpr std::uint8_t ReadButtonD = 0x01;
inline constexpr std::uint8_t ReadButtonS = 0x02;
inline constexpr std::uint8_t ControlD = 0x04;
inline constexpr std::uint8_t ControlS = 0x08;
inline constexpr std::uint8_t SetButtonD = 0x10;
inline constexpr std::uint8_t SetButtonS = 0x20;
} // namespace Hidden

struct ParameterRow {
    int page = 0;                     // index into PageControl1
    const char* readButton = nullptr; // "Button3"; its handler is readButton + "Click"
    const char* caption = nullptr;    // the read button's caption: the parameter's name
    const char* readButtonHint = nullptr;
    ConfigAddress address = 0;
    int width = 16; // 16, or 32 for the run time
    ShowKind show = ShowKind::ShowSigned;
    float scale = 1.0f;            // of the display and entry operations
    bool analogueScale = false;    // the scale is the window's AnalogueScale instead
    int multiplier = 1;            // ShowRunTime
    const char* control = nullptr; // "Edit2", "csRed", "CSpinDD"
    ControlKind controlKind = ControlKind::Edit;
    int spinMinimum = 0;
    int spinMaximum = 0;
    int designValue = 0;              // a spin edit's value in the design
    const char* designText = nullptr; // an edit's text in the design, when it has one
    const char* hint = nullptr;       // the control's hint
    bool hintShown = true;            // false: ShowHint is off for the control
    const char* setButton = nullptr;  // nullptr: read only
    SetKind set = SetKind::None;
    std::uint16_t mask = 0xFFFF; // SetMaskedHex
    FollowUp followUp = FollowUp::None;
    const char* ledCommand = nullptr; // FollowUp::LedCommand: "i %x", "j %x", "k %x"
    std::uint8_t hidden = 0;          // Hidden:: flags
    J1939Field field = J1939Field::None;
    int part = 0;
    int parts = 1;
    const char* meaning = nullptr;

    bool Is(std::uint8_t hiddenFlag) const { return (hidden & hiddenFlag) != 0; }
    SpinLimits Limits() const { return {spinMinimum, spinMaximum}; }
    // The scale to use: `scale`, or the window's AnalogueScale for the analogue levels.
    float ScaleWith(float analogueScaleNow) const {
        return analogueScale ? analogueScaleNow : scale;
    }
};

// Every parameter row, page by page.
std::span<const ParameterRow> ParameterMap();

// Rows by read button ("Button105" gives its three rows in order), by Set button, by control.
std::vector<const ParameterRow*> RowsByReadButton(std::string_view readButton);
std::vector<const ParameterRow*> RowsBySetButton(std::string_view setButton);
const ParameterRow* RowByControl(std::string_view control);
// The row of the parameter stored at the address (the run time: its first byte).
const ParameterRow* RowByAddress(ConfigAddress address);
// The row of a J1939 field.
const ParameterRow* RowByField(J1939Field field);

// The LED command of a LEDs page row with the spin edit's value: "i 64" for 100.
std::string LedCommandText(const ParameterRow& row, int value);

// Pages of PageControl1 in index order.
struct PageInfo {
    int index;
    const char* name;    // "TabType"
    const char* caption; // "Sensor Type"
    bool designVisible;  // TabVisible in the form's design
    bool hiddenOnShow;   // hidden each time the window is shown
};
std::span<const PageInfo> Pages();
const PageInfo* PageByName(std::string_view name);

inline constexpr int kPageType = 0;
inline constexpr int kPageDebris = 1;
inline constexpr int kPageOil = 2;
inline constexpr int kPageAnalog = 3;
inline constexpr int kPageTemperature = 4;
inline constexpr int kPageLog = 5;
inline constexpr int kPageCan = 6;
inline constexpr int kPagePgnId = 7;
inline constexpr int kPageLeds = 8;
inline constexpr int kPageCorrection = 9;
inline constexpr int kPageLinearisation = 10;
inline constexpr int kPageSerialise = 11;

// Single-command actions.
enum class ActionStepKind {
    Send,      // SendCommand(text), no reply awaited
    SendValue, // SendCommand of the format `text` with the value of the control `control`
    Wait,      // wait `ms`
    Read,      // run the read handler of the button `text`
};
struct ActionStep {
    ActionStepKind kind;
    const char* text = nullptr;
    int ms = 0;
    const char* control = nullptr;
};
struct SingleCommandAction {
    const char* handler;  // "Button85Click"
    const char* control;  // "Button85", or the menu item "Coarse1"
    const char* caption;  // "Reload"
    int page;             // -1: not on a page (hidden button or menu item)
    std::uint8_t hidden;  // Hidden::ReadButtonD / ReadButtonS for the control itself
    const char* shortcut; // a menu item's keyboard shortcut, or nullptr
    std::span<const ActionStep> steps;
};
std::span<const SingleCommandAction> SingleCommandActions();
const SingleCommandAction* ActionByHandler(std::string_view handler);
const SingleCommandAction* ActionByControl(std::string_view control);

// What selecting a page reads (PageControl1Change), and whether the window's Timer1 (the
// live readout) is started afterwards. "Button54" and "Button64" are the NAME and CAN ID
// actions; every other entry is a read button of the map.
struct PageRead {
    int page;
    std::span<const char* const> reads;
    bool startReadout;
};
const PageRead& PageReads(int page);

// The 47 reads of the whole-configuration read (Read1Click), one progress step each.
// `via` tells which handler runs them: the read handler directly, or the NAME or CAN ID
// action (which read their fields in this order themselves).
enum class ReadVia { Direct, Name, CanId };
struct ReadAllStep {
    const char* readButton;
    ReadVia via;
};
std::span<const ReadAllStep> ReadAllOrder();

// The whole-configuration read hides these value fields before it reads...
std::vector<std::string> ReadAllHiddenFields();
// ...and shows these again at its end, in this order, for the feature word then held.
std::vector<std::string> ReadAllShownFields(std::uint16_t featureWord);

// Read button captions that the window rewrites each time it is shown: the format is
// formatted with the character code 176 (the degree sign).
struct CaptionRewrite {
    const char* button;
    const char* format; // "High temperature alarm (%cC)"
};
std::span<const CaptionRewrite> CaptionRewrites();
// The caption as UTF-8 text: "High temperature alarm (\u00b0C)".
std::string RewrittenCaption(const CaptionRewrite& rewrite);

} // namespace quellon
