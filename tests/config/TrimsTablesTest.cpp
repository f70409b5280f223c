// The calibration commands' order of stops, waits, sends and read-backs, and the table cells'
// integer conversion, against a scripted link.
#include "config/Tables.h"
#include "config/Trims.h"

#include "FakeLink.h"
#include "tests/support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quellon;
using namespace quellon::test;

namespace {

class NamedTimer : public PollTimer {
public:
    NamedTimer(EventLog& log, std::string name) : m_log(log), m_name(std::move(name)) {}
    void StopPoll() override { m_log.Add("stop " + m_name); }
    void StartPoll() override { m_log.Add("start " + m_name); }

private:
    EventLog& m_log;
    std::string m_name;
};

const std::string kAck = "\n\r\x02"
                         "c,x,ok";

} // namespace

TEST(Calibration, StopsTheReadoutSendsAcknowledgedWaitsAndReadsBack) {
    // The read-back's display operation stops and restarts the main poll itself.
    auto read = [](const char* command) {
        return std::vector<std::string>{"stop main", "wait 50", std::string("send ") + command,
                                        "reply", "start main"};
    };
    const std::vector<std::string> ackOk = {"stop main", "stop reporting", "send X", "reply",
                                            "start main"};
    struct Case {
        const char* handler;
        bool answered;
        bool pause;
        std::vector<const char*> reads;
    } cases[] = {
        {"Button89Click", true, false, {"R 003a 02", "R 003c 02"}}, // Zero/Tare: no pause
        {"Button87Click", true, true, {"R 0004 02"}},
        {"Button88Click", true, true, {"R 0006 02"}},
        {"Button90Click", true, true, {"R 0022 02"}},
        {"Button94Click", true, true, {"R 003e 02"}},
        {"Button95Click", true, true, {"R 0040 02"}},
        {"Button87Click", false, true, {"R 0004 02"}}, // not acknowledged: still read back
    };
    ASSERT_EQ(CalibrationCommands().size(), 6u);
    for (const Case& c : cases) {
        const CalibrationCommand* cal = CalibrationByHandler(c.handler);
        ASSERT_NE(cal, nullptr) << c.handler;
        EventLog log;
        FakeSensorLink link(log);
        NamedTimer main(log, "main");
        NamedTimer readout(log, "readout");
        LoggedAckTimers ack(log);
        ScriptedPrompts prompts;
        MemoryAccess memory(link, main, [&log](int ms) { log.Add("wait " + std::to_string(ms)); });
        if (c.answered) {
            link.Reply(kAck);
        } else {
            link.Silence(4);
            prompts.Expect("Error", "Message failed", PromptAnswer::Ok);
        }
        for (const char* r : c.reads) {
            link.Reply(WordReply(
                static_cast<unsigned>(std::stoul(std::string(r).substr(2, 4), nullptr, 16)),
                0xFFF6));
        }

        const CalibrationOutcome out = RunCalibration(*cal, memory, ack, readout, prompts);

        std::vector<std::string> expected = {"stop readout", "wait 50", "stop main",
                                             "stop reporting"};
        for (int i = 0; i < (c.answered ? 1 : 4); ++i) {
            expected.push_back(std::string("send ") + cal->command);
            expected.push_back(c.answered ? "reply" : "silent");
        }
        expected.push_back("start main");
        if (c.pause) {
            expected.push_back("wait 50");
        }
        for (const char* r : c.reads) {
            const auto steps = read(r);
            expected.insert(expected.end(), steps.begin(), steps.end());
        }
        expected.push_back("start readout");
        EXPECT_EQ(log.events, expected) << c.handler;
        EXPECT_EQ(out.acknowledged, c.answered) << c.handler;
        ASSERT_EQ(out.readBack.size(), c.reads.size()) << c.handler;
        for (const auto& [row, result] : out.readBack) {
            EXPECT_TRUE(result.ok) << c.handler;
            // Oil Reference is shown unsigned, the trims signed.
            EXPECT_EQ(result.text, row->show == ShowKind::ShowUnsigned ? "65526" : "-10")
                << c.handler;
        }
        EXPECT_TRUE(prompts.AllUsed()) << c.handler;
    }
    EXPECT_STREQ(CalibrationByControl("Coarse1")->shortcut, "Ctrl+C");
    EXPECT_STREQ(CalibrationByControl("Fine1")->shortcut, "Ctrl+F");
}

TEST(Tables, CellTextsConvertAsWholeIntegers) {
    struct Case {
        const char* text;
        std::optional<std::int32_t> value;
    } cases[] = {
        {"25", 25},
        {"-40", -40},
        {"+7", 7},
        {"  12", 12},
        {"$1F", 0x1F},
        {"0x10", 16},
        {"70000", 70000},
        {"-2147483648", INT32_MIN},
        {"$FFFFFFFF", -1},
        {"2147483648", std::nullopt},
        {"--", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"12a", std::nullopt},
        {"12 ", std::nullopt},
        {"1.5", std::nullopt},
        {"0x", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CellInteger(c.text), c.value) << '"' << c.text << '"';
    }
    const TableInfo& corr = TableOf(TableId::Correction);
    const TableInfo& lin = TableOf(TableId::Linearisation);
    struct Word {
        const TableInfo* table;
        int column;
        std::int32_t value;
        std::uint16_t word;
    } words[] = {
        {&corr, 0, 25, 400},       {&corr, 0, -40, 0xFD80}, {&corr, 0, 5000, 0x3880},
        {&corr, 1, 70000, 0x1170}, {&lin, 0, -1, 0xFFFF},   {&lin, 0, 25, 25},
    };
    for (const Word& w : words) {
        EXPECT_EQ(CellWord(*w.table, w.column, w.value), w.word) << w.value;
    }
    EXPECT_EQ(CellText(corr, 0, 0xFFE8), "-1") << "-1.5 degrees, truncated toward zero";
    EXPECT_EQ(CellText(corr, 1, 0xFFE8), "-24");
    EXPECT_EQ(CellText(lin, 0, 0xFFE8), "-24");
    EXPECT_EQ(CellAddress(lin, 3, 19), 0x0BA6);
    EXPECT_EQ(BadCellMessage(lin, BadCell{5, 2, "--"}),
              "'--' is not a valid integer value (row 6, Fine Difference)");
}

// A table's bar as the log sees it: its range when shown, its steps, its hiding.
class LoggedProgress : public TableProgress {
public:
    explicit LoggedProgress(EventLog& log) : m_log(log) {}
    void Begin(int maximum) override { m_log.Add("bar 0.." + std::to_string(maximum)); }
    void Step() override { ++steps; }
    void End() override { m_log.Add("bar hidden"); }
    void Cell(int, int, const std::string&) override {}
    int steps = 0;

private:
    EventLog& m_log;
};

TEST(Tables, ReadAndSetStopThePollAndSettleBeforeTheFirstExchangeOfEightyCells) {
    struct Case {
        TableId table;
        bool set;
        const char* first; // the first command on the wire
    } cases[] = {
        {TableId::Correction, false, "R 0800 02"},
        {TableId::Linearisation, false, "R 0a00 02"},
        {TableId::Correction, true, "W 0800 00"},
        {TableId::Linearisation, true, "W 0a00 00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first);
        EventLog log;
        FakeSensorLink link(log);
        FakePollTimer main(log);
        ScriptedPrompts prompts;
        MemoryAccess memory(link, main, [&log](int ms) { log.Add("wait " + std::to_string(ms)); });
        LoggedProgress progress(log);
        const TableInfo& t = TableOf(c.table);
        TableTexts texts;
        for (int col = 0; col < kTableColumns; ++col) {
            for (int r = 0; r < kTableRows; ++r) {
                texts[static_cast<std::size_t>(r)][static_cast<std::size_t>(col)] = "0";
                if (c.set) {
                    link.Reply(WriteReply());
                    link.Reply(WriteReply());
                } else {
                    link.Reply(WordReply(static_cast<unsigned>(CellAddress(t, col, r)), 0));
                }
            }
        }
        if (c.set) {
            EXPECT_EQ(SetTable(memory, t, texts, progress, prompts).written, kTableCells);
        } else {
            EXPECT_EQ(ReadTable(memory, t, progress).failed, 0);
        }
        ASSERT_GE(log.events.size(), 6u);
        EXPECT_EQ(std::vector<std::string>(log.events.begin(), log.events.begin() + 4),
                  (std::vector<std::string>{"stop", "wait 50", "bar 0..80",
                                            std::string("send ") + c.first}));
        EXPECT_EQ(progress.steps, 80) << "one step a cell: the bar ends full";
        EXPECT_EQ(std::vector<std::string>(log.events.end() - 2, log.events.end()),
                  (std::vector<std::string>{"bar hidden", "start"}));
    }
}
