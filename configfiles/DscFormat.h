#pragma once
// Configuration files (*.dsc): one line "%02x:%04x\n" per configuration word, the word's
// address and its value in lower-case hexadecimal. Export writes the words of a fixed list,
// in its order; import takes lines in any order and any number.
#include "config/ConfigTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quellon {

// The words that an export reads and writes, in this order. Every one is a 16-bit word at
// an even address of the parameter map.
inline constexpr std::array<ConfigAddress, 38> kExportList = {
    0x1e, 0x00, 0x04, 0x02, 0x06, 0x3a, 0x3c, 0x3e, 0x40, 0x0c, 0x0e, 0x2a, 0x10,
    0x34, 0x36, 0x38, 0x22, 0x24, 0x26, 0x28, 0x2c, 0x2e, 0x30, 0x32, 0xb0, 0xb4,
    0xb6, 0xb8, 0xba, 0xbc, 0xbe, 0xc4, 0xc2, 0xc0, 0xc6, 0xcc, 0xca, 0xc8};

inline constexpr const char* kDscExtension = "dsc";
inline constexpr const char* kDscFilter = "Config files (*.dsc)";

// "%02x:%04x\n": 1e:0123 for the value 0x0123 at 0x1e.
std::string DscLine(ConfigAddress address, std::uint16_t value);

struct DscEntry {
    ConfigAddress address = 0;
    std::uint16_t value = 0;
    int line = 0; // 1-based line number in the file
    bool operator==(const DscEntry&) const = default;
};

// A whole file, checked. A line is up to two hexadecimal digits, a colon and up to four
// hexadecimal digits; trailing spaces, tabs and a carriage return are allowed; blank lines
// are skipped. The first line that is none of these ends the check. A last line without its
// line end must be whole (aa:vvvv): a shorter one is a file cut short. A UTF-8 byte order
// mark before the first line is skipped.
struct DscParse {
    bool ok = true;
    std::vector<DscEntry> entries; // every good line, in file order (all of them when ok)
    int lines = 0;                 // lines in the text (a last line without LF counts)
    int badLine = 0;               // 1-based, when !ok
    std::string badText;           // that line as printable text, cut to 60 characters
    std::string reason;            // "the value has more than four digits"
};
DscParse ParseDsc(std::string_view text);

// The text of a file with these entries, in their order.
std::string DscText(std::span<const DscEntry> entries);

// The name with ".dsc" appended when its last component has no extension (as the save
// dialog's default extension does).
std::string WithDscExtension(const std::string& path);

// Where the extension of the path's file name begins (its dot), or npos when the name has
// none. Both '/' and '\' end a folder; a name's leading dot starts no extension.
std::size_t ExtensionDot(const std::string& path);

// "backup-YYYYMMDD-HHMMSS.dsc" of a local time (year, month 1-12, day, hour, minute, second).
std::string BackupFileName(int year, int month, int day, int hour, int minute, int second);

} // namespace quellon
