#include "config/Tables.h"

#include "common/HexDigit.h"
#include "config/Conversions.h"
#include "config/ParameterMap.h"

#include <cstdio>
#include <limits>

namespace quellon {

namespace {

constexpr int kSettleMs = 50;

const TableInfo kCorrection{TableId::Correction,
                            "sg1",
                            kPageCorrection,
                            0x0800,
                            {"Temperature", "Oil", "Coarse", "Fine"},
                            0,
                            "Button81",
                            "Button83",
                            "Button82"};
const TableInfo kLinearisation{
    TableId::Linearisation,
    "sg2",
    kPageLinearisation,
    0x0A00,
    {"Coarse Difference", "Coarse Correction", "Fine Difference", "Fine Correction"},
    -1,
    "Button91",
    "Button92",
    "Button93"};

} // namespace

const TableInfo& TableOf(TableId id) {
    return id == TableId::Correction ? kCorrection : kLinearisation;
}

const TableInfo* TableByButton(std::string_view button) {
    for (const TableInfo* t : {&kCorrection, &kLinearisation}) {
        if (button == t->readButton || button == t->initialiseButton || button == t->setButton) {
            return t;
        }
    }
    return nullptr;
}

ConfigAddress CellAddress(const TableInfo& table, int column, int row) {
    return static_cast<ConfigAddress>(table.base + column * kTableColumnStride + row * 2);
}

TableTexts InitialTable(const TableInfo& table) {
    TableTexts texts;
    for (int r = 0; r < kTableRows; ++r) {
        for (int c = 0; c < kTableColumns; ++c) {
            const int value = c == table.temperatureColumn ? r * 10 - 40 : 0;
            char text[16];
            std::snprintf(text, sizeof text, "%i", value);
            texts[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = text;
        }
    }
    return texts;
}

std::optional<std::int32_t> CellInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const int d = HexDigitValue(text[i]);
        if (d < 0 || d >= base) {
            return std::nullopt;
        }
        value = value * base + d;
        if (value > 0xFFFFFFFFll) {
            return std::nullopt;
        }
    }
    if (base == 16) {
        // Eight hexadecimal digits are the 32 bits of the number.
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    } else if (value > static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) +
                           (negative ? 1 : 0)) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::uint16_t CellWord(const TableInfo& table, int column, std::int32_t value) {
    const std::int64_t v = column == table.temperatureColumn ? std::int64_t{value} * 16 : value;
    return Low16(v);
}

std::string CellText(const TableInfo& table, int column, std::uint16_t word) {
    std::int16_t v = AsSigned16(word);
    if (column == table.temperatureColumn) {
        v = static_cast<std::int16_t>(v / 16); // toward zero
    }
    char text[16];
    std::snprintf(text, sizeof text, "%hd", v);
    return text;
}

TableReadResult ReadTable(MemoryAccess& memory, const TableInfo& table, TableProgress& progress) {
    TableReadResult result;
    memory.Timer().StopPoll();
    memory.Wait(kSettleMs);
    progress.Begin(kTableCells);
    for (int c = 0; c < kTableColumns; ++c) {
        for (int r = 0; r < kTableRows; ++r) {
            std::uint16_t word = 0;
            std::string text = "--";
            if (memory.ReadConfigWord(CellAddress(table, c, r), word)) {
                text = CellText(table, c, word);
            } else {
                ++result.failed;
            }
            progress.Cell(r, c, text);
            result.texts[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] =
                std::move(text);
            progress.Step();
        }
    }
    progress.End();
    memory.Timer().StartPoll();
    return result;
}

std::string BadCellMessage(const TableInfo& table, const BadCell& cell) {
    return "'" + cell.text + "' is not a valid integer value (row " + std::to_string(cell.row + 1) +
           ", " + table.columnNames[static_cast<std::size_t>(cell.column)] + ")";
}

TableSetResult SetTable(MemoryAccess& memory, const TableInfo& table, const TableTexts& texts,
                        TableProgress& progress, UserPrompts& prompts) {
    TableSetResult result;
    std::array<std::array<std::uint16_t, kTableRows>, kTableColumns> words{};
    // Every cell is checked before anything is written: a half-written table is worse than
    // none.
    for (int c = 0; c < kTableColumns; ++c) {
        for (int r = 0; r < kTableRows; ++r) {
            const std::string& text =
                texts[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
            const std::optional<std::int32_t> value = CellInteger(text);
            if (!value) {
                result.refused = BadCell{r, c, text};
                prompts.Message("Error", BadCellMessage(table, *result.refused), PromptButtons::Ok);
                return result;
            }
            words[static_cast<std::size_t>(c)][static_cast<std::size_t>(r)] =
                CellWord(table, c, *value);
        }
    }
    memory.Timer().StopPoll();
    memory.Wait(kSettleMs);
    progress.Begin(kTableCells);
    for (int c = 0; c < kTableColumns; ++c) {
        for (int r = 0; r < kTableRows; ++r) {
            const std::uint16_t word =
                words[static_cast<std::size_t>(c)][static_cast<std::size_t>(r)];
            if (!memory.WriteConfigWord(CellAddress(table, c, r), word)) {
                result.failedColumns.push_back(c);
                prompts.Message("Error", "Write failed", PromptButtons::Ok);
                break;
            }
            ++result.written;
            progress.Step();
        }
    }
    progress.End();
    memory.Timer().StartPoll();
    return result;
}

} // namespace quellon
