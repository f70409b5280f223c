// The start-up search's decisions over real pseudo-terminals.
#include "serial/Discovery.h"
#include "serial/PortDirectory.h"
#include "serial/PortRecovery.h"
#include "tests/support/FakeResponder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

using namespace quellon;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct DiscoveryFixture : ::testing::Test {
    void SetUp() override {
        PortDirectory::Instance() = PortDirectory();
        PortDirectory::Instance().DropDefaults();
        trace = ::testing::TempDir() + "discovery-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        std::remove(trace.c_str());
    }
    void TearDown() override {
        for (auto& c : ports.channels) {
            if (c) {
                c->Close();
            }
        }
        PortDirectory::Instance() = PortDirectory();
    }
    StartupSearch::Outcome Run(const std::function<std::optional<int>()>& choose = {}) {
        StartupSearch search(exchange, trace);
        auto outcome = search.Run(
            choose ? choose : [] { return std::optional<int>(); },
            [this](const std::string& t) { title = t; });
        details = search.SkippedDetails();
        ports.debugLog.Close();
        return outcome;
    }
    PortTable ports;
    CommandExchange exchange{ports};
    std::string trace;
    std::string title;
    std::string details;
};

} // namespace

TEST_F(DiscoveryFixture, NoPortAtAll) {
    EXPECT_EQ(Run(), StartupSearch::Outcome::NoPorts);
    EXPECT_EQ(ports.m_comnum, PortTable::kNoPort);
    EXPECT_EQ(details, "No serial port could be opened.\n") << "unnamed ports are not listed";
}

// A port that the user named is reported whatever the reason, a missing device too; the
// search goes on to the ports that are there.
TEST_F(DiscoveryFixture, ANamedPortWithoutADeviceIsReported) {
    const std::string missing = ::testing::TempDir() + "discovery-no-adapter";
    std::remove(missing.c_str());
    test::Pty com7;
    test::FakeResponder sensor(com7);
    sensor.Answer("I", test::IdentificationReply());
    sensor.Start();
    PortDirectory::Instance().Map(4, missing);
    PortDirectory::Instance().Map(7, com7.SlavePath());
    ASSERT_EQ(Run(), StartupSearch::Outcome::Chosen);
    EXPECT_EQ(ports.m_comnum, 7);
    EXPECT_EQ(details, "COM4 (" + missing + "): no such device\n");
    EXPECT_NE(ReadFile(trace).find("skipped COM4 " + missing + ": no such device"),
              std::string::npos);
}

TEST_F(DiscoveryFixture, HighestAnsweringPortWinsAndTheOthersAreClosed) {
    test::Pty com3, com7;
    test::FakeResponder s3(com3), s7(com7);
    for (auto* s : {&s3, &s7}) {
        s->Answer("I", test::IdentificationReply());
        s->Start();
    }
    PortDirectory::Instance().Map(3, com3.SlavePath());
    PortDirectory::Instance().Map(7, com7.SlavePath());

    ASSERT_EQ(Run(), StartupSearch::Outcome::Chosen);
    EXPECT_EQ(ports.m_comnum, 7);
    EXPECT_EQ(ports.Channel(3), nullptr) << "COM3 closed";
    ASSERT_NE(ports.Channel(7), nullptr);
    EXPECT_EQ(ports.firmwareNumber, 0xA3u);
    EXPECT_EQ(ports.firmwareRevision, 0x1Fu);
    EXPECT_EQ(title, IdentifiedTitle());
    const std::string expected = "\nOpen Port 3\nPingcomport 3\nOpen Port 7\nPingcomport 7"
                                 "\nm_comnum 7\ndeleting comport 3\n";
    EXPECT_EQ(ReadFile(trace).substr(0, expected.size()), expected);
    // A closed port can be opened again by someone else.
    TCommsThread other;
    EXPECT_TRUE(other.Open(3, 19200));
    other.Close();
}

TEST_F(DiscoveryFixture, OneSilentPortIsKeptWithoutAsking) {
    test::Pty com4;
    PortDirectory::Instance().Map(4, com4.SlavePath());
    bool asked = false;
    ASSERT_EQ(Run([&] {
                  asked = true;
                  return std::optional<int>();
              }),
              StartupSearch::Outcome::Chosen);
    EXPECT_FALSE(asked);
    EXPECT_EQ(ports.m_comnum, 4);
    EXPECT_EQ(ReadFile(trace), "\nOpen Port 4");
}

TEST_F(DiscoveryFixture, TwoSilentPortsAskTheUser) {
    test::Pty com2, com9;
    PortDirectory::Instance().Map(2, com2.SlavePath());
    PortDirectory::Instance().Map(9, com9.SlavePath());
    int asked = 0;
    EXPECT_EQ(Run([&] {
                  ++asked;
                  return std::optional<int>();
              }),
              StartupSearch::Outcome::Cancelled);
    EXPECT_EQ(asked, 1);

    for (auto& c : ports.channels) {
        if (c) {
            c->Close();
            c.reset();
        }
    }
    ASSERT_EQ(Run([] { return std::optional<int>(9); }), StartupSearch::Outcome::Chosen);
    EXPECT_EQ(ports.m_comnum, 9);
    EXPECT_EQ(ports.Channel(2), nullptr);
}

TEST_F(DiscoveryFixture, AForeignPortOnCom99IsClosedToo) {
    test::Pty com1, com99;
    test::FakeResponder sensor(com1);
    sensor.Answer("I", test::IdentificationReply());
    sensor.Start();
    PortDirectory::Instance().Map(1, com1.SlavePath());
    PortDirectory::Instance().Map(99, com99.SlavePath());
    ASSERT_EQ(Run(), StartupSearch::Outcome::Chosen);
    EXPECT_EQ(ports.m_comnum, 1);
    EXPECT_EQ(ports.Channel(99), nullptr);
    EXPECT_NE(ReadFile(trace).find("\ndeleting comport 99\n"), std::string::npos);
}

TEST_F(DiscoveryFixture, BusyPortIsSkippedWithItsReason) {
    test::Pty com6, com8;
    test::FakeResponder sensor(com8);
    sensor.Answer("I", test::IdentificationReply());
    sensor.Start();
    PortDirectory::Instance().Map(6, com6.SlavePath());
    PortDirectory::Instance().Map(8, com8.SlavePath());
    TCommsThread holder;
    ASSERT_TRUE(holder.Open(6, 19200)); // another program holds COM6
    ASSERT_EQ(Run(), StartupSearch::Outcome::Chosen);
    EXPECT_EQ(ports.m_comnum, 8);
    EXPECT_NE(details.find("COM6"), std::string::npos);
    EXPECT_NE(details.find("in use by another program"), std::string::npos);
    const std::string log = ReadFile(trace);
    EXPECT_EQ(log.find("Open Port 6"), std::string::npos) << "only opened ports are traced";
    EXPECT_GT(log.find("in use by another program"), log.find("m_comnum 8"))
        << "reasons come after the search's own lines";
    holder.Close();
}

TEST(Identification, ParsesTheFieldsFromTheSixthByte) {
    std::uint32_t number = 7, revision = 9;
    ParseIdentification("\n\r\x02I,a3,1f\r\nxxxxx", number, revision);
    EXPECT_EQ(number, 0xA3u);
    EXPECT_EQ(revision, 0x1Fu);
    number = 7;
    revision = 9;
    ParseIdentification("\n\r\x02I,zz", number, revision);
    EXPECT_EQ(number, 7u) << "a field that does not convert keeps its value";
    EXPECT_EQ(revision, 9u);
    ParseIdentification("\n\r\x02I,5,", number, revision);
    EXPECT_EQ(number, 5u);
    EXPECT_EQ(revision, 9u);
}

// Finding the sensor again on its port: only an identification reply counts. A different
// device that answers "I" with 17 bytes of something else is not taken for the sensor and
// never gets the unlock.
TEST_F(DiscoveryFixture, RecoveryTakesOnlyAnIdentificationReply) {
    struct Case {
        const char* name;
        std::string reply;
        bool recovered;
    };
    const Case cases[] = {
        {"identification", test::IdentificationReply(), true},
        {"17 letters", "ABCDEFGHIJKLMNOPQRSTU", false},
        {"another command's reply", std::string("\n\r\x02A,a3,1f\r\n") + "OK\r\n\r\n", false},
        {"no numbers", std::string("\n\r\x02I,zz,yy\r\n") + "OK\r\n\r\n", false},
        {"one number", std::string("\n\r\x02I,a3;1f\r\n") + "OK\r\n\r\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::Pty pty;
        test::FakeResponder peer(pty);
        peer.Answer("I", c.reply);
        peer.Start();
        PortDirectory::Instance().Map(4, pty.SlavePath());
        ports.m_comnum = 4;
        ports.channels[4] = std::make_unique<TCommsThread>();
        ASSERT_TRUE(ports.channels[4]->Open(4, 19200));
        ports.channels[4]->Start();
        PortRecovery recovery(exchange);
        recovery.Begin();
        int featuresRead = 0;
        const PortRecovery::State state = recovery.Attempt({}, [&] { ++featuresRead; });
        EXPECT_EQ(state,
                  c.recovered ? PortRecovery::State::Recovered : PortRecovery::State::NoAnswer);
        EXPECT_EQ(featuresRead, c.recovered ? 1 : 0);
        const auto commands = peer.Commands();
        const bool unlocked = std::any_of(commands.begin(), commands.end(),
                                          [](const auto& t) { return t.rfind("U ", 0) == 0; });
        EXPECT_EQ(unlocked, c.recovered);
        peer.Stop();
        ports.channels[4]->Close();
        ports.channels[4].reset();
    }
}
