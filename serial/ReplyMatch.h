#pragma once
// Which reply answers which command. Every reply of the application firmware starts with
// LF CR; most then say what they answer: STX and the command's letter ("R" also echoes its
// address, a calibration reply its command's second letter). A "W" is acknowledged by a bare
// LF CR. A reply that comes late (after its command's budget) must never be taken for the
// reply of a later command, so the exchange looks for the reply that fits the command it sent.
#include <cstdint>
#include <string>

namespace quellon {

struct ReplyForm {
    enum class Kind {
        Any,    // a command whose reply says nothing of itself: the bytes as they come
        Bare,   // LF CR with no STX after it (the acknowledgement of "W")
        Letter, // LF CR STX letter ','
        Address // LF CR STX 'R' ',' and the four hexadecimal digits of the address
    };
    Kind kind = Kind::Any;
    char letter = 0;     // Letter, Address: the reply's letter
    char second = 0;     // Letter: the character after the comma, when the reply echoes it
    std::string address; // Address: four hexadecimal digits, lower case
};

// The reply that the command text asks for: "R 001e 02" its address, "W 0026 b0" a bare
// acknowledgement, "cs" a calibration reply of its letter. The identification and the live
// and raw polls ("I", "A", "a") check their replies themselves: Kind::Any.
ReplyForm ExpectedReply(const std::string& command);

enum class ReplyFit {
    Fits,      // a reply of this form starts here
    Undecided, // too few bytes yet to tell
    Other      // no reply of this form starts here
};

// Whether `available` bytes from `bytes` on start with a reply of the form.
ReplyFit FitsReply(const ReplyForm& form, const std::uint8_t* bytes, int available);

// The offset of the first reply of the form in the bytes with at least `length` bytes from
// its start, or -1. A form of Kind::Any fits at offset 0 only.
int FindReply(const ReplyForm& form, const std::uint8_t* bytes, int count, int length);

} // namespace quellon
