// quellon-cli --all station: a whole job (firmware of 1000 records with the backup,
// configuration, serial number and date, read-back) on 1 and on 8 virtual sensors: the time
// of 8 over the time of 1. Each port runs on its own thread and the work is waiting on the
// lines, so 8 units should take hardly longer than one (aim: at most 1.1).
//   station_bench [--runs N] [--records N]
#include "sim/VirtualSensor.h"
#include "tests/support/CliRun.h"
#include "tests/support/HexText.h"

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

// The wall time of one `--all station` over `count` sensors, in seconds; negative on failure.
double StationSeconds(int count, const std::string& folder) {
    std::vector<std::unique_ptr<sim::VirtualSensor>> sensors;
    std::vector<std::string> args = {"--no-default-ports"};
    for (int i = 0; i < count; ++i) {
        sim::Options o;
        o.timing.eraseMs = 150; // the erase and start of the sensor's bootloader, shortened
        o.timing.startMs = 100;
        sensors.push_back(std::make_unique<sim::VirtualSensor>(o));
        if (!sensors.back()->Start()) {
            return -1;
        }
        args.push_back("--port");
        args.push_back("COM" + std::to_string(10 + i) + "=" + sensors.back()->SlavePath());
    }
    args.insert(args.end(), {"--all", "station", "job.json"});
    const auto start = std::chrono::steady_clock::now();
    const test::CliRun run = test::RunCli(QUELLON_CLI_PATH, args, folder, 600000);
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
    int records = 1000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::string(argv[i]) == "--records") {
            records = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    std::string folder = std::filesystem::temp_directory_path().string() + "/station-bench-XXXXXX";
    if (!mkdtemp(folder.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    test::WriteTextFile(folder + "/fw.hex", test::JoinLines(test::FirmwareLines(records, 2, 50)));
    test::WriteTextFile(folder + "/customer.dsc", "26:04b0\n28:0100\n0c:01ad\n2a:0207\n");
    test::WriteTextFile(folder + "/job.json",
                        R"({"station": "bench", "firmware": "fw.hex",
                            "configuration": "customer.dsc",
                            "serial_numbers": {"first": 1, "last": 60000, "counter": "n.txt"},
                            "manufacture_date": "today", "log": "station.jsonl"})");
    const int counts[] = {1, 8};
    double median[2] = {};
    for (int c = 0; c < 2; ++c) {
        std::vector<double> times;
        for (int r = 0; r < runs; ++r) {
            const double t = StationSeconds(counts[c], folder);
            if (t < 0) {
                std::filesystem::remove_all(folder);
                return 1;
            }
            times.push_back(t);
        }
        median[c] = Median(times);
        std::printf("%d unit(s): median %.3f s over %d run(s)\n", counts[c], median[c], runs);
    }
    std::printf("time(8)/time(1) = %.3f (aim at most 1.1)\n", median[1] / median[0]);
    std::filesystem::remove_all(folder);
    return 0;
}
