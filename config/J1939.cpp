#include "config/J1939.h"

#include <cstdio>

namespace quellon {

namespace {

using F = J1939Field;
using R = J1939Recompose;

constexpr std::array<J1939FieldInfo, kJ1939FieldCount> kFields{{
    {F::ManufacturerCode, "Manufacturer Code", 0x00B0, 11, 0x7FF, 6, "Edit11", "Button21",
     "Manufacturer Code:11", "Button22", false, R::Name},
    {F::IdentityHigh, "Identity, high part", 0x00B4, 5, 0x1F, 6, "Edit12", "Button23",
     "IdentityH:5", "Button24", false, R::Name},
    {F::IdentityLow, "Identity, low part", 0x00B6, 16, 0xFFFF, 6, "Edit13", "Button25",
     "IdentityL:16", "Button26", false, R::Name},
    {F::SourceAddress, "Source address", 0x00B8, 8, 0xFF, 7, "Edit14", "Button27", "Address:8",
     "Button28", true, R::CanId},
    {F::Function, "Function", 0x00BA, 8, 0xFF, 6, "Edit15", "Button29", "Function:8", "Button30",
     false, R::Name},
    {F::VehicleSystem, "Vehicle System", 0x00BC, 7, 0x7F, 6, "Edit16", "Button31",
     "Vehicle System:7", "Button32", false, R::Name},
    {F::IndustryGroup, "Industry Group", 0x00BE, 3, 0x7, 6, "Edit17", "Button33",
     "Industry Group:3", "Button34", false, R::Name},
    {F::FunctionInstance, "Function Instance", 0x00C0, 5, 0x1F, 6, "Edit36", "Button66",
     "Function Instance:5", "Button68", true, R::NameReload},
    {F::EcuInstance, "ECU Instance", 0x00C2, 3, 0x7, 6, "Edit35", "Button65", "ECU Instance:3",
     "Button67", true, R::NameReload},
    {F::VehicleSystemInstance, "Vehicle System Instance", 0x00C4, 4, 0xF, 6, "Edit18", "Button35",
     "Vehicle System Instance:4", "Button36", false, R::Name},
    {F::Priority, "Priority", 0x00C6, 3, 0x7, 7, "Edit29", "Button55", "Priority:3", "Button56",
     false, R::CanId},
    {F::PduSpecific, "PDU Specific", 0x00C8, 8, 0xFF, 7, "Edit32", "Button59", "PDU Specific:8",
     "Button62", false, R::CanId},
    {F::PduFormat, "PDU Format", 0x00CA, 8, 0xFF, 7, "Edit31", "Button58", "PDU Format:8",
     "Button61", false, R::CanId},
    {F::DataPage, "Data Page", 0x00CC, 1, 0x1, 7, "Edit30", "Button57", "Data Page:1", "Button60",
     false, R::CanId},
}};

constexpr std::array<J1939Field, 9> kNameOrder{
    F::ManufacturerCode, F::IdentityHigh,  F::IdentityLow,           F::Function,
    F::VehicleSystem,    F::IndustryGroup, F::VehicleSystemInstance, F::EcuInstance,
    F::FunctionInstance};
constexpr std::array<J1939Field, 3> kPgnOrder{F::DataPage, F::PduFormat, F::PduSpecific};
constexpr std::array<J1939Field, 2> kCanIdOrder{F::Priority, F::SourceAddress};

constexpr bool InEnumOrder() {
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        if (static_cast<std::size_t>(kFields[i].field) != i ||
            kFields[i].mask != (1u << kFields[i].width) - 1u) {
            return false;
        }
    }
    return true;
}
static_assert(InEnumOrder(), "field table is indexed by J1939Field; masks follow the widths");

std::uint16_t Masked(J1939Field field, std::uint16_t word) {
    return static_cast<std::uint16_t>(word & FieldInfo(field).mask);
}

} // namespace

std::span<const J1939FieldInfo> J1939Fields() {
    return kFields;
}

const J1939FieldInfo& FieldInfo(J1939Field field) {
    return kFields[static_cast<std::size_t>(field)];
}

std::span<const J1939Field> NameReadOrder() {
    return kNameOrder;
}
std::span<const J1939Field> PgnReadOrder() {
    return kPgnOrder;
}
std::span<const J1939Field> CanIdReadOrder() {
    return kCanIdOrder;
}

std::array<std::uint8_t, 8> ComposeName(const J1939NameFields& f) {
    const unsigned manufacturer = Masked(F::ManufacturerCode, f.manufacturerCode);
    const unsigned identityLow = Masked(F::IdentityLow, f.identityLow);
    std::array<std::uint8_t, 8> b{};
    b[0] = static_cast<std::uint8_t>(identityLow & 0xFFu);
    b[1] = static_cast<std::uint8_t>((identityLow >> 8) & 0xFFu);
    b[2] = static_cast<std::uint8_t>((manufacturer & 0x7u) * 32u +
                                     Masked(F::IdentityHigh, f.identityHigh));
    b[3] = static_cast<std::uint8_t>((manufacturer >> 3) & 0xFFu);
    b[4] = static_cast<std::uint8_t>(Masked(F::FunctionInstance, f.functionInstance) * 8u +
                                     Masked(F::EcuInstance, f.ecuInstance));
    b[5] = static_cast<std::uint8_t>(Masked(F::Function, f.function));
    b[6] = static_cast<std::uint8_t>(Masked(F::VehicleSystem, f.vehicleSystem) * 2u);
    b[7] = static_cast<std::uint8_t>(0x80u + Masked(F::IndustryGroup, f.industryGroup) * 16u +
                                     Masked(F::VehicleSystemInstance, f.vehicleSystemInstance));
    return b;
}

std::string NameText(const std::array<std::uint8_t, 8>& b) {
    char text[32];
    std::snprintf(text, sizeof text, "%02x %02x %02x %02x %02x %02x %02x %02x", b[7], b[6], b[5],
                  b[4], b[3], b[2], b[1], b[0]);
    return text;
}

std::uint32_t ComposePgn(std::uint16_t dataPage, std::uint16_t pduFormat,
                         std::uint16_t pduSpecific) {
    return Masked(F::DataPage, dataPage) * 65536u + Masked(F::PduFormat, pduFormat) * 256u +
           Masked(F::PduSpecific, pduSpecific);
}

std::string PgnText(std::uint32_t pgn) {
    char text[32];
    std::snprintf(text, sizeof text, "%05lx (%lu)", static_cast<unsigned long>(pgn),
                  static_cast<unsigned long>(pgn));
    return text;
}

std::uint32_t ComposeCanId(std::uint16_t priority, std::uint32_t pgn, std::uint16_t address) {
    return Masked(F::Priority, priority) * 67108864u + pgn * 256u +
           Masked(F::SourceAddress, address);
}

std::string CanIdText(std::uint32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(id));
    return text;
}

std::uint16_t J1939Identity::Keep(J1939Field field, std::uint16_t word) {
    if (field == F::None) {
        return 0;
    }
    const std::uint16_t kept = Masked(field, word);
    m_values[static_cast<std::size_t>(field)] = kept;
    return kept;
}

std::uint16_t J1939Identity::Value(J1939Field field) const {
    if (field == F::None) {
        return 0;
    }
    return m_values[static_cast<std::size_t>(field)];
}

std::array<std::uint8_t, 8> J1939Identity::NameBytes() const {
    J1939NameFields f;
    f.manufacturerCode = Value(F::ManufacturerCode);
    f.identityHigh = Value(F::IdentityHigh);
    f.identityLow = Value(F::IdentityLow);
    f.function = Value(F::Function);
    f.vehicleSystem = Value(F::VehicleSystem);
    f.industryGroup = Value(F::IndustryGroup);
    f.vehicleSystemInstance = Value(F::VehicleSystemInstance);
    f.ecuInstance = Value(F::EcuInstance);
    f.functionInstance = Value(F::FunctionInstance);
    return ComposeName(f);
}

std::string J1939Identity::NameText() const {
    return quellon::NameText(NameBytes());
}

std::uint32_t J1939Identity::ComposePgn() {
    m_pgn = quellon::ComposePgn(Value(F::DataPage), Value(F::PduFormat), Value(F::PduSpecific));
    return m_pgn;
}

std::uint32_t J1939Identity::CanId() const {
    return ComposeCanId(Value(F::Priority), m_pgn, Value(F::SourceAddress));
}

} // namespace quellon
