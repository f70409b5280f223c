#pragma once
// How a serial backend paces its reads when they return nothing or fail. A read loop that
// goes straight back to the port after an empty or failed read spins a core; USB-serial
// drivers fail every read with one error or another once their adapter is unplugged, so an
// unknown error that keeps coming back for a while means the device has gone.
namespace quellon {

class ReadFailures {
public:
    // The shortest time one empty read lasts: the channel's polling tick.
    static constexpr double kMinReadMs = 1.0;
    // Wait after the first failure of a run, doubled with each further one up to kMaxWaitMs.
    static constexpr int kFirstWaitMs = 10;
    static constexpr int kMaxWaitMs = 100;
    // Failures without one good read in between for this long make the device gone.
    static constexpr double kGoneAfterMs = 2000.0;

    struct Decision {
        int waitMs;
        bool gone;
    };

    // An empty read that took `elapsedMs`: how long to wait before the next one.
    static int IdleWaitMs(double elapsedMs) {
        return elapsedMs >= kMinReadMs ? 0 : static_cast<int>(kMinReadMs - elapsedMs) + 1;
    }

    // A failed read at `nowMs` (any monotonic clock) with an error that is not known to mean
    // "gone": how long to wait, or whether to give the device up.
    Decision OnError(double nowMs) {
        if (m_failures == 0) {
            m_firstFailureMs = nowMs;
        }
        ++m_failures;
        if (nowMs - m_firstFailureMs >= kGoneAfterMs) {
            return {0, true};
        }
        int wait = kFirstWaitMs;
        for (int i = 1; i < m_failures && wait < kMaxWaitMs; ++i) {
            wait *= 2;
        }
        return {wait < kMaxWaitMs ? wait : kMaxWaitMs, false};
    }

    // A read that worked, with or without data, ends a run of failures.
    void OnSuccess() { m_failures = 0; }

    int Failures() const { return m_failures; }

private:
    int m_failures = 0;
    double m_firstFailureMs = 0;
};

} // namespace quellon
