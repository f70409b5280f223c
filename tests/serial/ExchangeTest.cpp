// The command exchange: exact frames on the wire and the reply rules of WaitReply.
#include "serial/CommandExchange.h"
#include "serial/Framing.h"
#include "serial/PortDirectory.h"
#include "tests/support/Pty.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

using namespace quellon;
using namespace std::chrono;
using namespace std::chrono_literals;

namespace {

struct ExchangeFixture : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        directory.DropDefaults();
        directory.Map(5, pty.SlavePath());
        directory.Map(6, second.SlavePath());
        for (int n : {5, 6}) {
            auto c = std::make_unique<TCommsThread>(&directory);
            ASSERT_TRUE(c->Open(n, 19200));
            c->Start();
            ports.channels[static_cast<std::size_t>(n)] = std::move(c);
        }
        ports.m_comnum = 5;
    }
    void TearDown() override {
        for (auto& c : ports.channels) {
            if (c) {
                c->Close();
            }
        }
    }
    // Sends `bytes` from the far end once the next command has arrived and had time to cross
    // the line, as a sensor on a serial line would.
    void AnswerAfterCommand(const std::string& bytes) {
        responder = std::thread([this, bytes] {
            pty.Receive(1000ms, 2);
            std::this_thread::sleep_for(20ms);
            pty.Send(bytes);
        });
    }
    test::Pty pty;
    test::Pty second;
    PortDirectory directory;
    PortTable ports;
    CommandExchange exchange{ports};
    std::thread responder;
};

std::vector<std::uint8_t> Frame(const std::string& text) {
    std::vector<std::uint8_t> f;
    f.push_back(0x02);
    for (char c : text) {
        f.push_back(static_cast<std::uint8_t>(c));
    }
    f.push_back(0x0d);
    return f;
}

} // namespace

TEST_F(ExchangeFixture, CommandsAreFramedExactly) {
    struct Case {
        std::string text;
    } cases[] = {{""}, {"A"}, {"R 001e 02"}, {"W 0026 b0"}, {"h 32"}};
    for (const auto& c : cases) {
        exchange.SendCommand(c.text);
        EXPECT_EQ(pty.Receive(500ms, c.text.size() + 2), Frame(c.text)) << c.text;
    }
}

TEST_F(ExchangeFixture, WaitReplySucceedsAtTheLengthAndTerminatesAtTheCount) {
    AnswerAfterCommand(std::string("\n\r\x02"
                                   "A,1,2,3,4,5,678901234567890XYZ"));
    exchange.SendCommand("A");
    char buf[128];
    std::memset(buf, 'Q', sizeof buf);
    int count = 0;
    ASSERT_TRUE(exchange.WaitReply(buf, sizeof buf, 26, 100, count));
    responder.join();
    EXPECT_GE(count, 26);
    EXPECT_EQ(buf[count], '\0') << "the zero byte stands at the count seen";
    EXPECT_EQ(std::strncmp(buf,
                           "\n\r\x02"
                           "A,1,2,3,4,5,",
                           15),
              0);
}

TEST_F(ExchangeFixture, ShortReplyFailsAfterTheBudgetAndLeavesTheBufferAlone) {
    AnswerAfterCommand("0123456789");
    exchange.SendCommand("I");
    char buf[64];
    std::memset(buf, 0, sizeof buf);
    int count = -1;
    const auto t0 = steady_clock::now();
    EXPECT_FALSE(exchange.WaitReply(buf, sizeof buf, 26, 100, count));
    const auto took = duration_cast<milliseconds>(steady_clock::now() - t0).count();
    responder.join();
    EXPECT_EQ(count, 10);
    EXPECT_EQ(buf[0], 0) << "buffer untouched on failure";
    EXPECT_GE(took, 1000) << "100 polls of 10 ms";
    EXPECT_LT(took, 5000) << "bounded";
}

// The receive buffer is cleared before a command or frame goes out, never after: a device
// that answers within a millisecond (a USB CDC sensor) on a busy PC, whose reply is in before
// the wait begins, keeps it, and what arrived before the command is gone.
TEST_F(ExchangeFixture, ReplyInBeforeTheWaitIsKeptAndEarlierBytesAreNot) {
    const std::string reply = "\n\r\x02I,04,1b\r\n5630i\r\n";
    const struct {
        const char* name;
        bool frame;        // a bootloader frame instead of a text command
        bool withProgress; // WaitReplyWithProgress instead of WaitReply
    } cases[] = {{"command, WaitReply", false, false},
                 {"command, with progress", false, true},
                 {"frame, WaitReply", true, false},
                 {"frame, with progress", true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        pty.Send("leftover bytes from an earlier reply");
        std::this_thread::sleep_for(50ms);
        const std::size_t sent = c.frame ? FrameBootloaderPayload({0x01}).size() : 3;
        std::thread far([&] {
            pty.Receive(1000ms, sent);
            pty.Send(reply);
        });
        if (c.frame) {
            const std::uint8_t version = 0x01;
            EXPECT_TRUE(exchange.SendFrame(&version, 1));
        } else {
            exchange.SendCommand("I");
        }
        far.join();
        std::this_thread::sleep_for(50ms); // the GUI thread was busy elsewhere meanwhile
        char buf[64] = {};
        int count = -1;
        const bool ok = c.withProgress
                            ? exchange.WaitReplyWithProgress(buf, sizeof buf, 17, 0, count)
                            : exchange.WaitReply(buf, sizeof buf, 17, 0, count);
        EXPECT_TRUE(ok) << "a budget of 0 checks once, without waiting";
        EXPECT_EQ(std::string(buf), reply);
        EXPECT_EQ(count, static_cast<int>(reply.size()));
    }
    exchange.SendCommand("A");
    char buf[64] = {};
    int count = -1;
    EXPECT_FALSE(exchange.WaitReply(buf, sizeof buf, 1, 0, count));
    EXPECT_EQ(count, 0) << "the command's clear took the earlier reply away";
    EXPECT_TRUE(exchange.WaitReply(buf, sizeof buf, 0, 0, count)) << "length 0 is met at once";
}

TEST_F(ExchangeFixture, UnlockAndLockSendTheirFramesTwentyMillisecondsApart) {
    const auto t0 = steady_clock::now();
    exchange.UnlockSensor();
    const auto took = duration_cast<milliseconds>(steady_clock::now() - t0).count();
    std::vector<std::uint8_t> expected = Frame("");
    const auto u = Frame("U 3C7E");
    expected.insert(expected.end(), u.begin(), u.end());
    EXPECT_EQ(pty.Receive(500ms, expected.size()), expected);
    EXPECT_GE(took, 40);

    exchange.LockSensor();
    expected = Frame("");
    const auto l = Frame("U 1");
    expected.insert(expected.end(), l.begin(), l.end());
    EXPECT_EQ(pty.Receive(500ms, expected.size()), expected);
}

TEST_F(ExchangeFixture, SecondPortIsWrittenSlowlyAndItsReplyIsNotClearedFirst) {
    ports.m_comnumtemperature = 6;
    // The instrument answers while the bytes are still going out.
    std::thread far([this] {
        second.Receive(500ms, 1);
        second.Send("0123456789");
    });
    const auto t0 = steady_clock::now();
    exchange.SendToSecondPort(0x14);
    const auto took = duration_cast<milliseconds>(steady_clock::now() - t0).count();
    far.join();
    EXPECT_GE(took, 20) << "10 ms after each byte, the last one included";
    EXPECT_EQ(second.Receive(300ms, 1), (std::vector<std::uint8_t>{'a'}));
    char buf[64] = {};
    int count = 0;
    EXPECT_TRUE(exchange.WaitSecondPortReply(buf, sizeof buf, 10, 100, count));
    EXPECT_EQ(std::string(buf), "0123456789");
    EXPECT_TRUE(pty.Receive(30ms).empty()) << "nothing went to the sensor's port";
}

// Once the channel knows that its device has gone, a wait fails at once instead of waiting
// out its budget (here ten seconds); what arrived before still counts.
TEST_F(ExchangeFixture, AWaitOnAPortWhoseDeviceHasGoneEndsAtOnce) {
    pty.Send("0123");
    std::this_thread::sleep_for(50ms);
    pty.HangUp();
    TCommsThread* channel = ports.SensorChannel();
    for (int i = 0; i < 200 && !channel->IsGone(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(channel->IsGone());
    char buf[64] = {};
    int count = -1;
    const auto t0 = steady_clock::now();
    EXPECT_FALSE(exchange.WaitReply(buf, sizeof buf, 26, 1000, count));
    EXPECT_FALSE(exchange.WaitReplyWithProgress(buf, sizeof buf, 26, 1000, count));
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - t0).count(), 2000)
        << "two budgets of ten seconds were waited out";
    EXPECT_EQ(count, 4);
}

TEST_F(ExchangeFixture, NoChannelMeansNoWriteAndNoHang) {
    ports.m_comnum = PortTable::kNoPort;
    exchange.SendCommand("A");
    char buf[64] = {};
    int count = -1;
    EXPECT_FALSE(exchange.WaitReply(buf, sizeof buf, 26, 100, count));
    EXPECT_TRUE(pty.Receive(30ms).empty());
}

// A reply that comes after its command's budget (a slow link, a busy sensor) answers that
// command only. The next command waits for it before it goes out (here the first try is
// given up 100 ms after its wait began, so a reply 80 ms late is waited for) and then takes
// only a reply of its own form: a read's reply echoes its address and a calibration reply its
// command, so even a reply later than that is not taken for another's. A late reply of the
// same command is its answer.
TEST_F(ExchangeFixture, ALateReplyIsNeverTakenForALaterCommand) {
    const std::string r10 = "\n\r\x02R,0010,11,22,02\r\n";
    const std::string r12 = "\n\r\x02R,0012,33,44,02\r\n";
    const std::string cy = "\n\r\x02"
                           "c,y,ok";
    const struct {
        const char* name;
        std::string first, late;    // the command whose reply comes late, and that reply
        int lateMs;                 // how late, from the command's arrival
        std::string second, answer; // the next command and its reply after the late one
        int length;
        bool ok;           // does the second command's wait succeed?
        std::string reply; // what it then hands out
    } cases[] = {
        {"a read after a late read", "R 0010 02", r10, 80, "R 0012 02", r12, 20, true, r12},
        {"a write after a late write", "W 0010 01", "\n\r", 80, "W 0011 02", "", 2, false, ""},
        {"a write after a late read", "R 0010 02", r10, 80, "W 0011 02", "", 2, false, ""},
        {"a read after a very late read", "R 0010 02", r10, 150, "R 0012 02", r12, 20, true, r12},
        {"a calibration after a very late one", "cy", cy, 150, "cz", "", 9, false, ""},
        {"the same read again", "R 0010 02", r10, 150, "R 0010 02", "", 20, true, r10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool waitedFor = c.lateMs < 100 && c.first != c.second;
        std::size_t early = 0; // bytes of the second command that came before the late reply
        std::thread far([&] {
            pty.Receive(1000ms, c.first.size() + 2);
            std::this_thread::sleep_for(milliseconds(c.lateMs));
            early = pty.Receive(1ms).size();
            pty.Send(c.late);
            pty.Receive(1000ms, c.second.size() + 2 - early);
            if (!c.answer.empty()) {
                std::this_thread::sleep_for(20ms);
                pty.Send(c.answer);
            }
        });
        exchange.SendCommand(c.first);
        char buf[64] = {};
        int count = 0;
        EXPECT_FALSE(exchange.WaitReply(buf, sizeof buf, c.length, 5, count));
        exchange.SendCommand(c.second);
        std::memset(buf, 0, sizeof buf);
        const bool ok = exchange.WaitReply(buf, sizeof buf, c.length, 30, count);
        far.join();
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(std::string(buf), c.reply);
        if (waitedFor) {
            EXPECT_EQ(early, 0u) << "the second command went out before the late reply came";
        }
    }
}
