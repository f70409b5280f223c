#include "sim/Faults.h"

#include <gtest/gtest.h>

using quellon::sim::Faults;
using quellon::sim::ParseFaults;

TEST(SimFaults, GoodLists) {
    struct Case {
        const char* text;
        Faults want;
    };
    auto with = [](auto set) {
        Faults f;
        set(f);
        return f;
    };
    const Case cases[] = {
        {"", Faults{}},
        {"silent", with([](Faults& f) { f.silent = true; })},
        {"drop=3", with([](Faults& f) { f.dropEvery = 3; })},
        {"late=300", with([](Faults& f) { f.lateMs = 300; })},
        {"short=5", with([](Faults& f) { f.shortTo = 5; })},
        {"short=0", with([](Faults& f) { f.shortTo = 0; })},
        {"garble", with([](Faults& f) { f.garbleEvery = 4; })},
        {"garble=7", with([](Faults& f) { f.garbleEvery = 7; })},
        {"refuse-write", with([](Faults& f) { f.refuseWrite = true; })},
        {"fail-erase", with([](Faults& f) { f.failErase = true; })},
        {"fail-block=2", with([](Faults& f) { f.failBlock = 2; })},
        {"fail-verify", with([](Faults& f) { f.failVerify = true; })},
        {"hangup-after=5", with([](Faults& f) { f.hangupAfter = 5; })},
        {"hangup-at=250", with([](Faults& f) { f.hangupAtMs = 250; })},
        {"garble-replies=100", with([](Faults& f) { f.garbleReplyEvery = 100; })},
        {"silent-after=4,reboot-after=2", with([](Faults& f) {
             f.silentAfter = 4;
             f.rebootAfter = 2;
         })},
        {"drop=2, late=10 ,fail-verify", with([](Faults& f) {
             f.dropEvery = 2;
             f.lateMs = 10;
             f.failVerify = true;
         })},
    };
    for (const Case& c : cases) {
        Faults got;
        got.silent = true; // must be replaced entirely
        std::string error;
        EXPECT_TRUE(ParseFaults(c.text, got, error)) << c.text << ": " << error;
        EXPECT_EQ(got, c.want) << c.text;
    }
}

TEST(SimFaults, BadListsAreRefusedWithAReason) {
    struct Case {
        const char* text;
        const char* mentions;
    } cases[] = {
        {"loud", "loud"},
        {"drop", "drop"},
        {"drop=0", "drop"},
        {"drop=x", "drop"},
        {"late=-1", "late"},
        {"silent=1", "silent"},
        {"fail-block=", "fail-block"},
        {"drop=3,,silent", "empty"},
        {"garble=0", "garble"},
        {"garble-replies=0", "garble-replies"},
        {"hangup-after=99999999999", "hangup-after"},
        {"silent-after=0", "silent-after"},
        {"hangup-at=0", "hangup-at"},
        {"reboot-after", "reboot-after"},
    };
    for (const auto& c : cases) {
        Faults f;
        f.lateMs = 77;
        std::string error;
        EXPECT_FALSE(ParseFaults(c.text, f, error)) << c.text;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << c.text << " -> " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
        EXPECT_EQ(f.lateMs, 77) << "faults untouched after " << c.text;
    }
}

TEST(SimFaults, AComingBackSensorKeepsAllButItsHangUps) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"hangup-after=3", ""},
        {"drop=3, hangup-at=500 ,late=10", "drop=3,late=10"},
        {"hangup-at=5,hangup-after=1,refuse-write", "refuse-write"},
    };
    for (const auto& [text, kept] : cases) {
        EXPECT_EQ(quellon::sim::WithoutHangups(text), kept) << text;
    }
}
