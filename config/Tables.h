#pragma once
// The sensor's two tables: the temperature correction table and the linearisation table.
// Each is four columns of 20 signed 16-bit words in the configuration memory, column c at
// the table's base + c x 0x80, row r at + r x 2. The configuration window shows each in a
// grid of text cells; these operations move the whole table between the grid's texts and
// the sensor, column by column and in address order within each column.
#include "common/UserPrompts.h"
#include "config/ConfigTypes.h"
#include "config/MemoryAccess.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellon {

inline constexpr int kTableRows = 20;
inline constexpr int kTableColumns = 4;
inline constexpr int kTableCells = kTableRows * kTableColumns;
inline constexpr ConfigAddress kTableColumnStride = 0x80;

enum class TableId { Correction, Linearisation };

struct TableInfo {
    TableId id;
    const char* grid; // "sg1"
    int page;         // the page index in PageControl1
    ConfigAddress base;
    // What each column is called, for messages ("Coarse Difference").
    std::array<const char*, kTableColumns> columnNames;
    // The Temperature column: stored in sixteenths of a degree, shown in whole degrees.
    int temperatureColumn; // -1: none
    const char* readButton;
    const char* initialiseButton;
    const char* setButton;
};

const TableInfo& TableOf(TableId id);
// The table whose Read, Initialise or Set button this is; nullptr for any other name.
const TableInfo* TableByButton(std::string_view button);
ConfigAddress CellAddress(const TableInfo& table, int column, int row);

// The grid's texts, [row][column].
using TableTexts = std::array<std::array<std::string, kTableColumns>, kTableRows>;

// Initialise: the correction table's Temperature column row x 10 - 40, everything else 0.
TableTexts InitialTable(const TableInfo& table);

// The cell's text as one whole integer: optional leading blanks, an optional sign, then
// decimal digits, or hexadecimal digits after "$" or "0x"; nothing may follow. Nullopt for
// anything else (an empty cell, "--", "12a", a number beyond 32 bits).
std::optional<std::int32_t> CellInteger(std::string_view text);

// The word written for a cell's integer: the Temperature column times 16; the low 16 bits.
std::uint16_t CellWord(const TableInfo& table, int column, std::int32_t value);
// The text shown for a stored word: the Temperature column divided by 16, truncated toward
// zero; "%hd".
std::string CellText(const TableInfo& table, int column, std::uint16_t word);

// The progress of a whole-table Read or Set: shown at the start, stepped after each cell
// (where the window lets its user interface process pending events), hidden at the end.
class TableProgress {
public:
    virtual ~TableProgress() = default;
    virtual void Begin(int maximum) = 0;
    virtual void Step() = 0;
    virtual void End() = 0;
    // Read: one cell's text, as soon as it is known.
    virtual void Cell(int row, int column, const std::string& text) = 0;
};

struct TableReadResult {
    TableTexts texts;
    int failed = 0; // cells that could not be read ("--")
};

// Stops the live poll, waits 50 ms, reads the 80 words (a cell that cannot be read shows
// "--"), hides the progress and starts the live poll again.
TableReadResult ReadTable(MemoryAccess& memory, const TableInfo& table, TableProgress& progress);

struct BadCell {
    int row = 0;
    int column = 0;
    std::string text;
};

struct TableSetResult {
    std::optional<BadCell> refused; // a cell that is not an integer: nothing was written
    int written = 0;                // words written
    std::vector<int> failedColumns; // columns whose write failed (the rest of each skipped)
};

// The message for a cell that is not an integer: "'%s' is not a valid integer value" with
// the cell's text and its place (row counted from 1, column by name).
std::string BadCellMessage(const TableInfo& table, const BadCell& cell);

// Checks every cell first: if one is not an integer, shows BadCellMessage (caption "Error")
// and writes nothing. Otherwise stops the live poll, waits 50 ms, writes the 80 words; a
// write that fails shows "Write failed" (caption "Error") once for its column and the rest
// of that column is skipped. The progress is hidden and the live poll started again at the
// end. No reload is sent.
TableSetResult SetTable(MemoryAccess& memory, const TableInfo& table, const TableTexts& texts,
                        TableProgress& progress, UserPrompts& prompts);

} // namespace quellon
