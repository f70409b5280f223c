// The pacing of reads that return nothing or fail: every one waits, the wait grows, a run of
// failures long enough means the device has gone, and a good read ends the run.
#include "serial/ReadFailures.h"

#include <gtest/gtest.h>

#include <vector>

namespace quellon {
namespace {

TEST(ReadFailures, AnEmptyReadLastsAtLeastOneTick) {
    struct Case {
        double elapsedMs;
        int waitMs;
    };
    for (const Case c : std::vector<Case>{{0.0, 2}, {0.4, 1}, {0.99, 1}, {1.0, 0}, {15.0, 0}}) {
        EXPECT_EQ(ReadFailures::IdleWaitMs(c.elapsedMs), c.waitMs) << c.elapsedMs;
    }
}

struct Step {
    char what; // 'e' a failed read at atMs, 's' a good read
    double atMs;
    int waitMs; // expected wait after a failure
    bool gone;  // expected verdict after a failure
};

TEST(ReadFailures, RunsOfFailures) {
    const std::vector<std::vector<Step>> cases = {
        // Waits double from 10 ms and stop growing at 100 ms.
        {{'e', 0, 10, false},
         {'e', 10, 20, false},
         {'e', 30, 40, false},
         {'e', 70, 80, false},
         {'e', 150, 100, false},
         {'e', 250, 100, false}},
        // Two seconds of nothing but failures: the device is gone.
        {{'e', 0, 10, false}, {'e', 1999, 20, false}, {'e', 2000, 0, true}},
        // A good read starts the count and the clock again.
        {{'e', 0, 10, false},
         {'e', 1500, 20, false},
         {'s', 1600, 0, false},
         {'e', 1700, 10, false},
         {'e', 3600, 20, false},
         {'e', 3700, 0, true}},
    };
    for (std::size_t k = 0; k < cases.size(); ++k) {
        ReadFailures f;
        for (const Step& s : cases[k]) {
            if (s.what == 's') {
                f.OnSuccess();
                EXPECT_EQ(f.Failures(), 0);
                continue;
            }
            const ReadFailures::Decision d = f.OnError(s.atMs);
            EXPECT_EQ(d.gone, s.gone) << "case " << k << " at " << s.atMs;
            if (!s.gone) {
                EXPECT_EQ(d.waitMs, s.waitMs) << "case " << k << " at " << s.atMs;
                EXPECT_GT(d.waitMs, 0) << "a failed read must never be retried at once";
            }
        }
    }
}

} // namespace
} // namespace quellon
