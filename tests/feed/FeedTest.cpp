// The feed's URL and its buffer: order kept through the spill file, a reading gone only once
// acknowledged, and what one run leaves published first by the next.
#include "feed/FeedUrl.h"
#include "feed/ReadingBuffer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace quellon::feed;

TEST(Feed, BrokerUrls) {
    struct Case {
        const char* text;
        bool ok;
        bool tls = false;
        const char* host = "";
        int port = 0;
        const char* prefix = "";
    };
    const Case cases[] = {
        {"mqtt://broker/plant/oil", true, false, "broker", 1883, "plant/oil"},
        {"mqtts://10.0.0.5:9883/site/", true, true, "10.0.0.5", 9883, "site"},
        {"mqtts://gw/a", true, true, "gw", 8883, "a"},
        {"mqtt://[::1]:1884/p", true, false, "::1", 1884, "p"},
        {"mqtt://broker", false},
        {"mqtt://broker/", false},
        {"mqtt://broker/a/#", false},
        {"mqtt://broker:0/a", false},
        {"mqtt://broker:x/a", false},
        {"mqtt://:1883/a", false},
        {"http://broker/a", false},
    };
    for (const Case& c : cases) {
        FeedUrl url;
        std::string error;
        ASSERT_EQ(ParseFeedUrl(c.text, url, error), c.ok) << c.text << ": " << error;
        if (c.ok) {
            EXPECT_EQ(url.tls, c.tls) << c.text;
            EXPECT_EQ(url.host, c.host) << c.text;
            EXPECT_EQ(url.port, c.port) << c.text;
            EXPECT_EQ(url.prefix, c.prefix) << c.text;
        } else {
            EXPECT_FALSE(error.empty()) << c.text;
        }
    }
}

// Ten readings through a memory of four: six wait in the spill file. They come out in order,
// a bounded few at a time; unacknowledged ones stay; what is held at the end goes to the file
// and the next buffer hands it out first, in the same order.
TEST(Feed, BufferKeepsOrderThroughTheSpillFileAndDropsOnlyAcknowledged) {
    const std::string path = ::testing::TempDir() + "feed-" + std::to_string(::getpid()) + ".spool";
    std::filesystem::remove(path);
    std::vector<std::string> handedOut;
    {
        ReadingBuffer buffer(path, 4);
        for (int i = 1; i <= 10; ++i) {
            EXPECT_TRUE(buffer.Add("r" + std::to_string(i)));
        }
        EXPECT_EQ(buffer.Held(), 10u);
        EXPECT_EQ(buffer.Spilled(), 6u);
        EXPECT_TRUE(std::filesystem::exists(path));
        // Hand out and acknowledge all but r7, which the broker never acknowledges.
        int mid = 100;
        std::string payload;
        std::uint64_t id = 0;
        while (buffer.NextToHand(payload, id)) {
            handedOut.push_back(payload);
            buffer.Handed(id, ++mid);
            if (payload != "r7") {
                buffer.Acknowledged(mid);
            }
        }
        buffer.Acknowledged(9999); // an unknown id changes nothing
        EXPECT_EQ(buffer.Held(), 1u);
        EXPECT_EQ(buffer.Published(), 9u);
        EXPECT_TRUE(std::filesystem::exists(path))
            << "r7 came back from the file unacknowledged: the file outlives a crash";
        buffer.Add("r11");
        std::string error;
        ASSERT_TRUE(buffer.Keep(error)) << error;
    }
    const std::vector<std::string> expected = {"r1", "r2", "r3", "r4", "r5",
                                               "r6", "r7", "r8", "r9", "r10"};
    EXPECT_EQ(handedOut, expected);
    ReadingBuffer next(path, 4);
    std::size_t left = 0;
    std::string loadError;
    EXPECT_TRUE(next.LoadLeftOver(left, loadError)) << loadError;
    EXPECT_EQ(left, 2u);
    next.Add("s1");
    std::vector<std::string> second;
    std::string payload;
    std::uint64_t id = 0;
    int mid = 0;
    while (next.NextToHand(payload, id)) {
        second.push_back(payload);
        next.Handed(id, ++mid);
        next.Acknowledged(mid);
    }
    EXPECT_EQ(second, (std::vector<std::string>{"r7", "r11", "s1"}));
    EXPECT_EQ(next.Held(), 0u);
    std::string error;
    EXPECT_TRUE(next.Keep(error));
    EXPECT_FALSE(std::filesystem::exists(path)) << "nothing held: no file";
}

// A spill file that this user cannot read (left by a run as another user) is not taken for
// none, which the end of the run would then replace or remove with its readings.
TEST(Feed, ALeftOverFileThatCannotBeReadIsSaidAndLeftAlone) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to leave a file that another user cannot read";
    }
    std::string folder = ::testing::TempDir() + "feed-unreadable-XXXXXX";
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    const std::string path = folder + "/quellon-feed-5001.spool";
    std::ofstream(path) << "r1\nr2\n";
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    GTEST_FLAG_SET(death_test_style, "fast"); // the child works on this test's files
    EXPECT_EXIT(
        {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
                std::_Exit(3);
            }
            ReadingBuffer buffer(path, 4);
            std::size_t count = 0;
            std::string error;
            const bool loaded = buffer.LoadLeftOver(count, error);
            std::_Exit(!loaded && count == 0 && error.find(path) != std::string::npos &&
                               error.find("Permission denied") != std::string::npos
                           ? 0
                           : 1);
        },
        ::testing::ExitedWithCode(0), "");
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ(text.str(), "r1\nr2\n");
    std::filesystem::remove_all(folder);
}
