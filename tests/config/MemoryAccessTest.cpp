#include "config/MemoryAccess.h"
#include "config/Conversions.h"

#include "FakeLink.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace quellon;
using namespace quellon::test;

namespace {

struct Rig {
    EventLog log;
    FakeSensorLink link{log};
    FakePollTimer timer{log};
    std::vector<int> pauses;
    MemoryAccess memory{link, timer, [this](int ms) {
                            pauses.push_back(ms);
                            log.Add("wait " + std::to_string(ms));
                        }};
};

std::vector<std::string> Repeat(const std::string& s, int n) {
    return std::vector<std::string>(static_cast<std::size_t>(n), s);
}

} // namespace

TEST(MemoryAccess, ReadConfigWordCommandAndDigits) {
    Rig rig;
    rig.link.Reply(WordReply(0x1e, 0x1234));
    std::uint16_t value = 0;
    ASSERT_TRUE(rig.memory.ReadConfigWord(0x001E, value));
    EXPECT_EQ(value, 0x1234);
    EXPECT_EQ(rig.link.commands, std::vector<std::string>{"R 001e 02"});
    ASSERT_EQ(rig.link.waits.size(), 1u);
    EXPECT_EQ(rig.link.waits[0].capacity, 64);
    EXPECT_EQ(rig.link.waits[0].length, 20);
    EXPECT_EQ(rig.link.waits[0].budget, 20);
    EXPECT_TRUE(rig.link.waits[0].bufferZeroed);
    EXPECT_FALSE(rig.memory.m_commerror);
    EXPECT_TRUE(rig.pauses.empty()) << "no pause inside a primitive";
    EXPECT_EQ(rig.timer.stops, 0) << "primitives leave the live poll alone";
}

TEST(MemoryAccess, ReadConfigWordTriesTwice) {
    struct Case {
        int silentBefore;
        bool ok;
        int exchanges;
    } cases[] = {{0, true, 1}, {1, true, 2}, {2, false, 2}};
    for (const auto& c : cases) {
        Rig rig;
        rig.link.Silence(c.silentBefore);
        rig.link.Reply(WordReply(0x26, 0x04b0));
        std::uint16_t value = 0xBEEF;
        EXPECT_EQ(rig.memory.ReadConfigWord(0x0026, value), c.ok) << c.silentBefore;
        EXPECT_EQ(rig.link.commands, Repeat("R 0026 02", c.exchanges)) << c.silentBefore;
        EXPECT_EQ(rig.memory.m_commerror, !c.ok) << c.silentBefore;
        if (c.ok) {
            EXPECT_EQ(value, 0x04b0);
        }
        for (const auto& w : rig.link.waits) {
            EXPECT_TRUE(w.bufferZeroed) << "each try starts from a zeroed buffer";
        }
    }
}

// A reply that does not answer the command sent (the late word of another address, a reply
// of another command in place of a write's acknowledgement) is a failed try, never a value.
TEST(MemoryAccess, AReplyToAnotherCommandIsAFailedTry) {
    enum class Op { Word, Long, Write };
    const struct {
        const char* name;
        Op op;
        std::string wrong, right;
    } cases[] = {
        {"word of another address", Op::Word, WordReply(0x28, 0x1111), WordReply(0x26, 0x04b0)},
        {"long of another address", Op::Long, LongReply(0x64, 0x1111ul),
         LongReply(0x60, 0x12345678ul)},
        {"a read's reply for a write", Op::Write, WordReply(0x26, 0x04b0), WriteReply()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.link.Reply(c.wrong);
        rig.link.Reply(c.right);
        bool ok = false;
        std::uint32_t value = 0;
        if (c.op == Op::Word) {
            std::uint16_t word = 0;
            ok = rig.memory.ReadConfigWord(0x0026, word);
            value = word;
            EXPECT_EQ(value, 0x04b0u);
        } else if (c.op == Op::Long) {
            ok = rig.memory.ReadConfigLong(0x0060, value);
            EXPECT_EQ(value, 0x12345678u);
        } else {
            ok = rig.memory.WriteConfigByte(0x0026, 0xb0);
        }
        EXPECT_TRUE(ok);
        EXPECT_EQ(rig.link.commands.size(), 2u) << "the wrong reply cost one try";
        EXPECT_EQ(rig.link.Pending(), 0u);
    }
}

TEST(MemoryAccess, ShortReplyIsAFailedTry) {
    Rig rig;
    rig.link.Reply(WordReply(0x26, 0x04b0).substr(0, 19));
    rig.link.Reply(WordReply(0x26, 0x04b0).substr(0, 19));
    std::uint16_t value = 0;
    EXPECT_FALSE(rig.memory.ReadConfigWord(0x0026, value));
    EXPECT_TRUE(rig.memory.m_commerror);
}

TEST(MemoryAccess, ReadConfigLong) {
    Rig rig;
    rig.link.Silence();
    rig.link.Reply(LongReply(0x60, 0x12345678ul));
    std::uint32_t value = 0;
    ASSERT_TRUE(rig.memory.ReadConfigLong(0x0060, value));
    EXPECT_EQ(value, 0x12345678u);
    EXPECT_EQ(rig.link.commands, Repeat("R 0060 04", 2));
    ASSERT_EQ(rig.link.waits.size(), 2u);
    for (const auto& w : rig.link.waits) {
        EXPECT_EQ(w.length, 26);
        EXPECT_EQ(w.budget, 20);
        EXPECT_EQ(w.capacity, 64);
        EXPECT_TRUE(w.bufferZeroed);
    }
    EXPECT_FALSE(rig.memory.m_commerror);

    Rig silent;
    EXPECT_FALSE(silent.memory.ReadConfigLong(0x0060, value));
    EXPECT_EQ(silent.link.commands.size(), 2u);
    EXPECT_TRUE(silent.memory.m_commerror);
}

TEST(MemoryAccess, WriteConfigWordLowByteThenHighByte) {
    Rig rig;
    rig.link.Reply(WriteReply());
    rig.link.Reply(WriteReply());
    EXPECT_TRUE(rig.memory.WriteConfigWord(0x0026, 0x04b0));
    EXPECT_EQ(rig.link.commands, (std::vector<std::string>{"W 0026 b0", "W 0027 04"}));
    ASSERT_EQ(rig.link.waits.size(), 2u);
    for (const auto& w : rig.link.waits) {
        EXPECT_EQ(w.length, 2);
        EXPECT_EQ(w.budget, 20);
        EXPECT_EQ(w.capacity, 64);
    }
    EXPECT_TRUE(rig.pauses.empty()) << "no pause between the two byte writes";
}

TEST(MemoryAccess, WriteConfigWordFailures) {
    struct Case {
        std::vector<bool> acks; // per exchange, in order
        bool ok;
        std::vector<std::string> commands;
    } cases[] = {
        {{false, false}, false, {"W 0026 b0", "W 0026 b0"}}, // low byte fails: no high byte
        {{false, true, true}, true, {"W 0026 b0", "W 0026 b0", "W 0027 04"}},
        {{true, false, false}, false, {"W 0026 b0", "W 0027 04", "W 0027 04"}},
        {{true, false, true}, true, {"W 0026 b0", "W 0027 04", "W 0027 04"}},
    };
    for (const auto& c : cases) {
        Rig rig;
        for (bool ack : c.acks) {
            if (ack) {
                rig.link.Reply(WriteReply());
            } else {
                rig.link.Silence();
            }
        }
        EXPECT_EQ(rig.memory.WriteConfigWord(0x0026, 0x04b0), c.ok);
        EXPECT_EQ(rig.link.commands, c.commands);
        EXPECT_FALSE(rig.memory.m_commerror) << "write failures do not touch m_commerror";
    }
}

TEST(MemoryAccess, WriteByteFormat) {
    EXPECT_EQ(WriteByteCommand(0x0000, 0x00), "W 0000 00");
    EXPECT_EQ(WriteByteCommand(0x00c4, 0x0f), "W 00c4 0f");
    EXPECT_EQ(WriteByteCommand(0xabcd, 0xff), "W abcd ff");
    EXPECT_EQ(ReadWordCommand(0x0a80), "R 0a80 02");
    EXPECT_EQ(ReadLongCommand(0x0060), "R 0060 04");
}

TEST(MemoryAccess, DisplayAgainstSilentLink) {
    Rig rig;
    const DisplayResult r = rig.memory.Display(ShowKind::ShowScaledInt, 0x0026, 1.0f);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.text, "-----");
    EXPECT_EQ(r.value, 0u);
    EXPECT_TRUE(rig.memory.m_commerror);
    EXPECT_EQ(rig.link.commands, Repeat("R 0026 02", 18));
    EXPECT_EQ(rig.timer.stops, 1);
    EXPECT_EQ(rig.timer.starts, 1);
    EXPECT_TRUE(rig.timer.running);

    std::vector<std::string> expected{"stop", "wait 50"};
    for (int t = 0; t < 9; ++t) {
        for (int e = 0; e < 2; ++e) {
            expected.push_back("send R 0026 02");
            expected.push_back("silent");
        }
        expected.push_back("wait 20");
    }
    expected.push_back("start");
    EXPECT_EQ(rig.log.events, expected);
}

TEST(MemoryAccess, DisplayDuringBatchLeavesTimerAlone) {
    Rig rig;
    rig.memory.m_readall = true;
    rig.link.Reply(WordReply(0x30, 0xFFFF));
    const DisplayResult r = rig.memory.Display(ShowKind::ShowSigned, 0x0030);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.text, "-1");
    EXPECT_EQ(rig.timer.stops, 0);
    EXPECT_EQ(rig.timer.starts, 0);
    EXPECT_EQ(rig.log.events, (std::vector<std::string>{"send R 0030 02", "reply"}));

    Rig silent;
    silent.memory.m_readall = true;
    const DisplayResult f = silent.memory.Display(ShowKind::ShowSpin, 0x0034, 1, 1, {0, 100});
    EXPECT_FALSE(f.ok);
    EXPECT_EQ(f.spinValue, 0);
    EXPECT_EQ(f.text, "");
    EXPECT_EQ(silent.timer.stops + silent.timer.starts, 0);
    EXPECT_EQ(silent.link.commands.size(), 18u);
    EXPECT_EQ(silent.pauses, std::vector<int>(9, 20)) << "no 50 ms settle during a batch";
}

TEST(MemoryAccess, LaterTrySucceedsButCommErrorStays) {
    Rig rig;
    rig.link.Silence(2); // the first try: both exchanges silent
    rig.link.Reply(WordReply(0x32, 0x0640));
    const DisplayResult r = rig.memory.Display(ShowKind::ShowScaledInt, 0x0032, 16.0f);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.text, "100");
    EXPECT_EQ(r.value, 0x0640u);
    EXPECT_TRUE(rig.memory.m_commerror);
    EXPECT_EQ(rig.link.commands.size(), 3u);
    EXPECT_EQ(rig.pauses, (std::vector<int>{50, 20}));

    // One silent exchange inside a successful try is not a failed read.
    Rig second;
    second.link.Silence(1);
    second.link.Reply(WordReply(0x32, 0x0640));
    EXPECT_TRUE(second.memory.Display(ShowKind::ShowScaledInt, 0x0032, 16.0f).ok);
    EXPECT_FALSE(second.memory.m_commerror);
    EXPECT_EQ(second.pauses, std::vector<int>{50});
}

TEST(MemoryAccess, DisplayKinds) {
    struct Case {
        ShowKind kind;
        ConfigAddress address;
        std::string reply;
        float scale;
        int multiplier;
        SpinLimits limits;
        std::string command;
        std::string text;
        std::uint32_t value;
        int spin;
    } cases[] = {
        {ShowKind::ShowSigned,
         0x0004,
         WordReply(4, 0xFFFF),
         1,
         1,
         {},
         "R 0004 02",
         "-1",
         0xFFFF,
         0},
        {ShowKind::ShowUnsigned,
         0x0022,
         WordReply(0x22, 0xFFFF),
         1,
         1,
         {},
         "R 0022 02",
         "65535",
         0xFFFF,
         0},
        {ShowKind::ShowHex,
         0x001E,
         WordReply(0x1e, 0xFFFF),
         1,
         1,
         {},
         "R 001e 02",
         "ffff",
         0xFFFF,
         0},
        {ShowKind::ShowHex,
         0x00B0,
         WordReply(0xb0, 0x001F),
         1,
         1,
         {},
         "R 00b0 02",
         "001f",
         0x001F,
         0},
        {ShowKind::ShowScaledInt,
         0x0032,
         WordReply(0x32, 400),
         16,
         1,
         {},
         "R 0032 02",
         "25",
         400,
         0},
        {ShowKind::ShowScaledInt,
         0x0030,
         WordReply(0x30, 0xFFF8),
         16,
         1,
         {},
         "R 0030 02",
         "0",
         0xFFF8,
         0},
        {ShowKind::ShowScaledReal,
         0x0024,
         WordReply(0x24, 55),
         10,
         1,
         {},
         "R 0024 02",
         " 5.50",
         55,
         0},
        {ShowKind::ShowScaledReal,
         0x0010,
         WordReply(0x10, 862),
         43.1f,
         1,
         {},
         "R 0010 02",
         "20.00",
         862,
         0},
        {ShowKind::ShowScaledReal,
         0x0010,
         WordReply(0x10, 912),
         91.2f,
         1,
         {},
         "R 0010 02",
         "10.00",
         912,
         0},
        {ShowKind::ShowRunTime, 0x0060, LongReply(0x60, 13), 1, 5, {}, "R 0060 04", "1:05", 65, 0},
        {ShowKind::ShowRunTime,
         0x0060,
         LongReply(0x60, 100),
         1,
         5,
         {},
         "R 0060 04",
         "8:20",
         500,
         0},
        {ShowKind::ShowRunTime, 0x0060, LongReply(0x60, 12), 1, 5, {}, "R 0060 04", "1:00", 60, 0},
        {ShowKind::ShowSpin, 0x0090, WordReply(0x90, 40), 1, 1, {0, 31}, "R 0090 02", "", 40, 31},
        {ShowKind::ShowSpin,
         0x0034,
         WordReply(0x34, 100),
         1,
         1,
         {0, 100},
         "R 0034 02",
         "",
         100,
         100},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.link.Reply(c.reply);
        const DisplayResult r =
            rig.memory.Display(c.kind, c.address, c.scale, c.multiplier, c.limits);
        EXPECT_TRUE(r.ok) << c.command;
        EXPECT_EQ(rig.link.commands, std::vector<std::string>{c.command});
        EXPECT_EQ(r.text, c.text) << c.command;
        EXPECT_EQ(r.value, c.value) << c.command;
        EXPECT_EQ(r.spinValue, c.spin) << c.command;
        EXPECT_EQ(rig.timer.stops, 1);
        EXPECT_EQ(rig.timer.starts, 1);
    }
}

TEST(MemoryAccess, EntryWritesLowByteThenHighByteInsideThePollPause) {
    Rig rig;
    rig.link.Reply(WriteReply());
    rig.link.Reply(WriteReply());
    const EntryResult r = rig.memory.Enter(0x0030, 0xFFD0);
    EXPECT_TRUE(r.written);
    EXPECT_EQ(r.word, 0xFFD0);
    EXPECT_EQ(rig.log.events,
              (std::vector<std::string>{"stop", "wait 50", "send W 0030 d0", "reply",
                                        "send W 0031 ff", "reply", "start"}));
}

TEST(MemoryAccess, EntryAlwaysStopsTheTimerAndReportsFailedWrites) {
    Rig rig;
    rig.memory.m_readall = true;
    rig.link.Silence(2);
    const EntryResult r = rig.memory.Enter(0x0000, 5);
    EXPECT_FALSE(r.written);
    EXPECT_FALSE(r.refused);
    EXPECT_EQ(rig.link.commands, Repeat("W 0000 05", 2));
    EXPECT_EQ(rig.timer.stops, 1);
    EXPECT_EQ(rig.timer.starts, 1);
    EXPECT_EQ(rig.pauses, std::vector<int>{50});
    EXPECT_FALSE(rig.memory.m_commerror);
}

TEST(MemoryAccess, SpinReadThenSet) {
    Rig rig;
    rig.link.Reply(WordReply(0x90, 40));
    const DisplayResult shown = rig.memory.Display(ShowKind::ShowSpin, 0x0090, 1, 1, {0, 31});
    ASSERT_EQ(shown.spinValue, 31);
    rig.link.Reply(WriteReply());
    rig.link.Reply(WriteReply());
    const EntryResult r = rig.memory.Enter(0x0090, SetSpinWord(shown.spinValue));
    EXPECT_TRUE(r.written);
    EXPECT_EQ(r.word, 31);
    EXPECT_EQ(rig.link.commands, (std::vector<std::string>{"R 0090 02", "W 0090 1f", "W 0091 00"}));
}

TEST(MemoryAccess, RealPausesOfASilentDisplay) {
    // With the real pauses: 50 ms settle and nine 20 ms pauses at least. Only a lower
    // bound is checked, with a generous ceiling against a hang.
    EventLog log;
    FakeSensorLink link(log);
    FakePollTimer timer(log);
    MemoryAccess memory(link, timer);
    const auto start = std::chrono::steady_clock::now();
    const DisplayResult r = memory.Display(ShowKind::ShowSigned, 0x0004);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(r.ok);
    EXPECT_GE(elapsed, std::chrono::milliseconds(230));
    EXPECT_LT(elapsed, std::chrono::seconds(20));
}
