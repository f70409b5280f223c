// quellon-cli --all export from 1, 4 and 8 virtual sensors: the wall time of each run, and
// the time of 8 over the time of 1. The work is waiting on the lines, each port on its own
// thread, so more sensors should cost little more time.
//   cli_all_bench [--runs N]
#include "sim/VirtualSensor.h"
#include "tests/support/CliRun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace quellon;

namespace {

// The wall time of one `--all export` over `count` sensors, in seconds; negative on failure.
double ExportSeconds(int count, const std::string& folder) {
    std::vector<std::unique_ptr<sim::VirtualSensor>> sensors;
    std::vector<std::string> args = {"--no-default-ports"};
    for (int i = 0; i < count; ++i) {
        sensors.push_back(std::make_unique<sim::VirtualSensor>());
        if (!sensors.back()->Start()) {
            return -1;
        }
        args.push_back("--port");
        args.push_back("COM" + std::to_string(10 + i) + "=" + sensors.back()->SlavePath());
    }
    args.push_back("--all");
    args.push_back("export");
    args.push_back("record.dsc");
    const auto start = std::chrono::steady_clock::now();
    const test::CliRun run = test::RunCli(QUELLON_CLI_PATH, args, folder, 300000);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (run.status != 0) {
        std::fprintf(stderr, "run with %d sensors failed (%d):\n%s%s", count, run.status,
                     run.out.c_str(), run.err.c_str());
        return -1;
    }
    return seconds;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    int runs = 3;
    if (argc == 3 && std::string(argv[1]) == "--runs") {
        runs = std::max(1, std::atoi(argv[2]));
    }
    std::string folder = std::filesystem::temp_directory_path().string() + "/cli-all-bench-XXXXXX";
    if (!mkdtemp(folder.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const int counts[] = {1, 4, 8};
    double median[3] = {};
    for (int c = 0; c < 3; ++c) {
        std::vector<double> times;
        for (int r = 0; r < runs; ++r) {
            const double t = ExportSeconds(counts[c], folder);
            if (t < 0) {
                std::filesystem::remove_all(folder);
                return 1;
            }
            times.push_back(t);
        }
        median[c] = Median(times);
        std::printf("%d sensor(s): median %.3f s over %d run(s)\n", counts[c], median[c], runs);
    }
    std::printf("time(4)/time(1) = %.3f\n", median[1] / median[0]);
    std::printf("time(8)/time(1) = %.3f\n", median[2] / median[0]);
    std::filesystem::remove_all(folder);
    return 0;
}
