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
