// What publishing costs: quellon-cli monitor against quellon-sim (each in its own process)
// with and without --publish to Debian's mosquitto on 127.0.0.1, as CPU time over wall time;
// and how fast a backlog of readings drains once the broker is there, as readings per second
// over the poll's two a second.
//
//   feed_bench [seconds] [backlog]     (defaults 30 and 100000)
#include "bench/ProcessBench.h"
#include "feed/FeedMessages.h"
#include "feed/MqttFeed.h"
#include "feed/ReadingBuffer.h"
#include "tests/support/Mosquitto.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <thread>

namespace {

using quellon::bench::CpuSeconds;
using quellon::bench::Spawn;

// quellon-cli's share of one core while it monitors for `seconds` (after 2 s of start-up).
double MonitorCpu(const std::string& dir, const std::string& link, int seconds,
                  const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {QUELLON_CLI_PATH, "--no-default-ports", "--port",
                                     "COM1=" + link, "monitor"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const pid_t cli = Spawn(argv, dir, dir + "/cli.txt");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double cpu0 = CpuSeconds(cli);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu1 = CpuSeconds(cli);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    kill(cli, SIGTERM);
    waitpid(cli, nullptr, 0);
    return (cpu1 - cpu0) / wall;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int backlog = argc > 2 ? std::atoi(argv[2]) : 100000;
    char dirTemplate[] = "/tmp/quellon-feed-bench-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    quellon::test::Mosquitto broker;
    std::string why;
    if (!broker.Start(dir, {}, why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    const std::string url = "mqtt://127.0.0.1:" + std::to_string(broker.Port()) + "/bench";

    const std::string link = dir + "/sensor";
    const pid_t sim = Spawn({QUELLON_SIM_PATH, "--link", link}, dir);
    for (int i = 0; i < 200 && access(link.c_str(), F_OK) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const double plain = MonitorCpu(dir, link, seconds, {});
    const double publishing = MonitorCpu(dir, link, seconds, {"--publish", url});
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    std::printf("monitor for %d s: %.3f %% of one core alone, %.3f %% publishing twice a second "
                "(+%.3f %%)\n",
                seconds, plain * 100, publishing * 100, (publishing - plain) * 100);

    // The backlog: readings as the live poll makes them, all held before the client starts.
    using namespace quellon::feed;
    ReadingBuffer buffer(dir + "/backlog.spool", 172800);
    const auto now = std::chrono::system_clock::now();
    for (int i = 1; i <= backlog; ++i) {
        buffer.Add(StatePayload(static_cast<std::uint64_t>(i), now,
                                {{"seconds", i * 0.5, {}},
                                 {"coarse", 55, {}},
                                 {"fine", 49, {}},
                                 {"oil", 966, {}},
                                 {"temperature", 22, {}},
                                 {"status", 0, "00"}}));
    }
    FeedSettings settings;
    ParseFeedUrl(url, settings.url, why);
    settings.clientId = "quellon-feed-bench";
    settings.stateTopic = "bench/1/state";
    settings.availabilityTopic = "bench/1/availability";
    MqttFeed client(settings, buffer, [](FeedEvent, const std::string&) {});
    const auto t0 = std::chrono::steady_clock::now();
    if (!client.Start(why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    while (buffer.Held() > 0 && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(600)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double drain =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    client.Stop(std::chrono::milliseconds(0));
    std::printf("backlog of %d readings published in %.2f s: %.0f readings/s, %.0f times the "
                "poll's 2 a second (%zu still held)\n",
                backlog, drain, backlog / drain, backlog / drain / 2.0, buffer.Held());
    broker.Stop();
    std::filesystem::remove_all(dir);
    return 0;
}
