#pragma once
// The sensor's J1939 identity: fourteen 16-bit fields of the configuration memory, the NAME
// composed from nine of them, the parameter group number (PGN) and the 29-bit CAN identifier.
// The window keeps each field's value masked to its width as read, and composes from those.
#include "config/ConfigTypes.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace quellon {

// The hint of every box on the CAN and PGN/ID pages (shown off): it points to the SAE J1939
// standard.
inline constexpr const char* kJ1939BoxHint = "Refer to J1939 Spec";

enum class J1939Field {
    None = -1,
    ManufacturerCode,
    IdentityHigh,
    IdentityLow,
    SourceAddress,
    Function,
    VehicleSystem,
    IndustryGroup,
    FunctionInstance,
    EcuInstance,
    VehicleSystemInstance,
    Priority,
    PduSpecific,
    PduFormat,
    DataPage,
};

inline constexpr int kJ1939FieldCount = 14;

// What a field's Set does afterwards.
enum class J1939Recompose {
    Name,       // NAME
    NameReload, // NAME, wait 50 ms, Reload
    CanId,      // CAN ID
};

struct J1939FieldInfo {
    J1939Field field;
    const char* name;
    ConfigAddress address;
    int width;          // bits
    std::uint16_t mask; // (1 << width) - 1
    int page;           // 6 "CAN" or 7 "PGN/ID"
    const char* box;
    const char* readButton;
    const char* caption; // the read button's caption: name and width
    const char* setButton;
    bool setShown; // false: the window hides the Set button each time it is shown
    J1939Recompose after;
};

// The fourteen fields in address order.
std::span<const J1939FieldInfo> J1939Fields();
const J1939FieldInfo& FieldInfo(J1939Field field);

// Read orders of the composite actions.
std::span<const J1939Field> NameReadOrder();  // the nine NAME fields
std::span<const J1939Field> PgnReadOrder();   // Data Page, PDU Format, PDU Specific
std::span<const J1939Field> CanIdReadOrder(); // after the PGN: Priority, Source address

// The composite buttons and their boxes.
struct J1939Composite {
    const char* button;
    const char* caption;
    const char* handler;
    const char* box;
    int page;
};
inline constexpr J1939Composite kNameComposite{"Button54", "NAME", "Button54Click", "Edit28", 6};
inline constexpr J1939Composite kPgnComposite{"Button63", "PGN:18", "Button63Click", "Edit33", 7};
inline constexpr J1939Composite kCanIdComposite{"Button64", "CAN ID:29", "Button64Click", "Edit34",
                                                7};

// The kept field values (each masked to its width) and the kept PGN.
class J1939Identity {
public:
    // Keeps the word masked to the field's width and returns the kept value. A failed read
    // keeps 0.
    std::uint16_t Keep(J1939Field field, std::uint16_t word);
    std::uint16_t Value(J1939Field field) const;

    // NAME bytes 0 (least significant) to 7 from the kept fields.
    std::array<std::uint8_t, 8> NameBytes() const;
    std::string NameText() const; // "%02x ..." from byte 7 down to byte 0

    // Computes the PGN from the kept fields and keeps it for the CAN ID.
    std::uint32_t ComposePgn();
    std::uint32_t Pgn() const { return m_pgn; }
    // Priority x 2^26 + kept PGN x 256 + Source address.
    std::uint32_t CanId() const;

private:
    std::array<std::uint16_t, kJ1939FieldCount> m_values{};
    std::uint32_t m_pgn = 0;
};

// Pure compositions, for any field values (each is masked to its width first).
struct J1939NameFields {
    std::uint16_t manufacturerCode = 0;
    std::uint16_t identityHigh = 0;
    std::uint16_t identityLow = 0;
    std::uint16_t function = 0;
    std::uint16_t vehicleSystem = 0;
    std::uint16_t industryGroup = 0;
    std::uint16_t vehicleSystemInstance = 0;
    std::uint16_t ecuInstance = 0;
    std::uint16_t functionInstance = 0;
};
std::array<std::uint8_t, 8> ComposeName(const J1939NameFields& f);
std::string NameText(const std::array<std::uint8_t, 8>& bytes);
std::uint32_t ComposePgn(std::uint16_t dataPage, std::uint16_t pduFormat,
                         std::uint16_t pduSpecific);
std::string PgnText(std::uint32_t pgn); // "%05lx (%lu)"
std::uint32_t ComposeCanId(std::uint16_t priority, std::uint32_t pgn, std::uint16_t address);
std::string CanIdText(std::uint32_t id); // "%08lx"

} // namespace quellon
