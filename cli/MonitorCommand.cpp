#include "cli/MonitorCommand.h"

#include "cli/PublishCommand.h"
#include "logs/LogFile.h"
#include "monitor/LiveStatus.h"
#include "reporting/RawData.h"
#include "serial/PortRecovery.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace quellon::cli {

namespace {

struct MonitorOptions {
    bool raw = false;
    long seconds = 0; // 0: until interrupted
    PublishOptions publish;
};

bool ParseMonitor(const std::vector<std::string>& args, MonitorOptions& o, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--raw") {
            o.raw = true;
        } else if (ParsePublishOption(args, i, o.publish, error)) {
            if (!error.empty()) {
                return false;
            }
        } else if (args[i] == "--seconds" && i + 1 < args.size() &&
                   ParseInt(args[i + 1], o.seconds) && o.seconds > 0) {
            ++i;
        } else {
            error = args[i] == "--seconds" ? "--seconds takes a number of seconds above 0"
                                           : "unknown argument '" + args[i] + "' for monitor";
            return false;
        }
    }
    return true;
}

// Sleeps until `when` or an interruption.
void SleepUntil(std::chrono::steady_clock::time_point when) {
    while (!g_interrupted && std::chrono::steady_clock::now() < when) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            when - std::chrono::steady_clock::now(), std::chrono::milliseconds(20)));
    }
}

} // namespace

bool CheckMonitor(const std::vector<std::string>& args, std::string& error) {
    MonitorOptions o;
    return ParseMonitor(args, o, error) && CheckPublishOptions(o.publish, error);
}

int RunMonitor(Session& s, const std::vector<std::string>& args) {
    MonitorOptions o;
    std::string error;
    ParseMonitor(args, o, error);
    std::unique_ptr<MonitorPublisher> publisher;
    if (!o.publish.url.empty()) {
        publisher = std::make_unique<MonitorPublisher>(s, o.publish, o.raw);
        if (!publisher->Start()) {
            return kExitUsage;
        }
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const auto elapsed = [&start] {
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    if (!s.printer.Json()) {
        std::string header = o.raw ? RawFileHeader().substr(1) : std::string(kMonitorHeader);
        s.printer.Line((s.tagged ? "Port," : "") + header);
    }
    // The live poll's timer first fires 200 ms after it is started, then every 500 ms; the
    // raw record is sampled once a second.
    Clock::time_point next = start + std::chrono::milliseconds(o.raw ? 1000 : 200);
    const auto interval = std::chrono::milliseconds(o.raw ? 1000 : 500);
    int failures = 0;
    // A lost link whose port has gone is ridden through: the port is opened again once a
    // second until the sensor answers there (kContinue), or the time is up or the user stops.
    constexpr int kContinue = -1;
    const auto rideThrough = [&]() -> int {
        PortRecovery recovery(s.exchange);
        if (!recovery.PortGone()) {
            s.Tell(kLostMessage);
            return kExitSensor;
        }
        const std::string name = s.ports.SensorPortName();
        recovery.Begin();
        s.Tell(name + ": the device has gone; waiting for it to return");
        if (publisher) {
            publisher->PortGone();
        }
        if (s.printer.Json()) {
            s.printer.Result(s.Result().Add("event", "gone"));
        }
        bool toldSilent = false;
        for (;;) {
            SleepUntil(Clock::now() + std::chrono::seconds(1));
            if (g_interrupted || (o.seconds > 0 && elapsed() >= static_cast<double>(o.seconds))) {
                return kExitSensor;
            }
            const PortRecovery::State state = recovery.Attempt(
                {}, [&s] { s.FeaturesRead(); }, [] { return g_interrupted.load(); });
            if (state == PortRecovery::State::Recovered) {
                s.Tell(name + ": the sensor answers again");
                if (publisher) {
                    publisher->PortBack();
                }
                if (s.printer.Json()) {
                    s.printer.Result(s.Result().Add("event", "back"));
                }
                return kContinue;
            }
            if (state == PortRecovery::State::NoAnswer && !toldSilent) {
                s.Tell(name + ": the port is back, but the sensor does not answer");
                toldSilent = true;
            }
        }
    };
    for (;;) {
        SleepUntil(next);
        if (g_interrupted || (o.seconds > 0 && elapsed() >= static_cast<double>(o.seconds))) {
            return kExitOk;
        }
        const Clock::time_point began = Clock::now();
        const double seconds = elapsed();
        if (o.raw) {
            RawDataFiles none;
            RawDataRecord record;
            const SampleResult result = TakeRawSample(s.exchange, none, seconds, record);
            if (result == SampleResult::NoReply && ++failures > 5) {
                if (const int status = rideThrough(); status != kContinue) {
                    return status;
                }
                failures = 0;
                next = Clock::now() + interval;
                continue;
            }
            if (result == SampleResult::Good) {
                failures = 0;
                const std::string line = RawFileRecord(seconds, record).substr(1);
                if (publisher) {
                    publisher->Reading(line);
                }
                if (s.printer.Json()) {
                    // The CSV line's numbers after the seconds, and its hexadecimal status.
                    std::vector<long long> values;
                    for (std::size_t i = 0; i + 1 < record.fields.size(); ++i) {
                        values.push_back(static_cast<int>(record.fields[i]));
                    }
                    s.printer.Result(s.Result()
                                         .AddTenths("seconds", seconds)
                                         .AddList("raw", values)
                                         .Add("status", Hex(record[RawDataRecord::Status], 2)));
                } else {
                    s.printer.Line((s.tagged ? s.Label() + "," : "") + line);
                }
            }
        } else {
            LiveStatus st;
            const PollOutcome outcome = PollLiveStatus(s.exchange, failures, st);
            if (outcome == PollOutcome::Lost) {
                if (const int status = rideThrough(); status != kContinue) {
                    return status;
                }
                failures = 0;
                next = Clock::now() + interval;
                continue;
            }
            if (outcome == PollOutcome::Good) {
                s.ports.debugLog.Write("%s", TraceLine(st).c_str());
                char text[96];
                std::snprintf(text, sizeof text, "%.1f,%d,%d,%d,%d,%02x", seconds, st.coarse,
                              st.fine, OilStatusShown(st.oil), TemperatureShown(st.temperature),
                              st.status);
                if (publisher) {
                    publisher->Reading(text);
                }
                if (s.printer.Json()) {
                    s.printer.Result(s.Result()
                                         .AddTenths("seconds", seconds)
                                         .Add("coarse", static_cast<long long>(st.coarse))
                                         .Add("fine", static_cast<long long>(st.fine))
                                         .Add("oil", static_cast<long long>(OilStatusShown(st.oil)))
                                         .Add("temperature", static_cast<long long>(
                                                                 TemperatureShown(st.temperature)))
                                         .Add("status", Hex(static_cast<unsigned>(st.status), 2)));
                } else {
                    s.printer.Line((s.tagged ? s.Label() + "," : "") + text);
                }
            }
        }
        next = began + interval;
    }
}

} // namespace quellon::cli
