#pragma once
// The read and "Set" handlers of the parameter map as operations: a row's display operation,
// its entry operation followed by the row's follow-up (re-read, reload, NAME, CAN ID), and
// the J1939 composites. The configuration window shows the results in its controls; the
// command-line tool prints them. Both put the same commands on the wire.
#include "config/J1939.h"
#include "config/MemoryAccess.h"
#include "config/ParameterMap.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quellon {

// Where the results go.
class ParameterView {
public:
    virtual ~ParameterView() = default;
    virtual void ShowRead(const ParameterRow& row, const DisplayResult& result) = 0;
    virtual void ShowEntry(const ParameterRow& row, const EntryResult& result) = 0;
    // NAME, PGN or CAN ID composed from the fields just read.
    virtual void ShowComposite(const J1939Composite& composite, const std::string& text) = 0;
    // The window's pbEEPROM: one step after each field of a composite; hidden around them.
    virtual void StepProgress() {}
    virtual void HideProgress() {}
};

// The content of one row's control: an edit's text or a spin edit's value.
struct EntryInput {
    bool spin = false;
    std::string text;
    int value = 0;
};

class ParameterAccess {
public:
    ParameterAccess(MemoryAccess& memory, ParameterView& view) : m_memory(memory), m_view(view) {}

    // The read handler of a read button ("Button3"): the display operation of each of its
    // rows. Returns the value as read (the last row's), 0 after a failure.
    std::uint32_t Read(std::string_view readButton);
    bool LastReadOk() const { return m_lastReadOk; }

    // The "Set" handler of a Set button: the entry operation of each row with its input, in
    // row order, then the row's follow-up. A LEDs page row sends its command with the value
    // instead. The Sensor Type page's Set (the feature word) is the window's own sequence.
    void Set(std::string_view setButton, std::span<const EntryInput> inputs);
    void FollowUp(const ParameterRow& row);

    void Reload(); // "Z"
    void Name();   // Button54Click: the nine NAME fields, then the NAME
    void Pgn();    // Button63Click
    void CanId();  // Button64Click: the PGN, Priority and Source address, then the CAN ID
    // A page refresh's entry: a composite button or a read button.
    void RunRead(std::string_view button);

    J1939Identity& Identity() { return m_identity; }
    const J1939Identity& Identity() const { return m_identity; }
    MemoryAccess& Memory() { return m_memory; }

    // The analogue output levels' counts per mA or V, set by each Features read.
    float analogueScale = 0.0f;

private:
    MemoryAccess& m_memory;
    ParameterView& m_view;
    J1939Identity m_identity;
    bool m_lastReadOk = false;
};

} // namespace quellon
