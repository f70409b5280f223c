// quellon-sim: a virtual Quellon sensor on a pseudo-terminal.
//
// Prints the slave's path on stdout (one line) and serves until SIGINT or SIGTERM, or
// until a hang-up fault closes the line. A short session from a shell:
//
//   quellon-sim --link /tmp/quellon --seed 7 &
//   exec 3<>/tmp/quellon
//   stty -F /tmp/quellon 19200 raw -echo
//   printf '\002I\r' >&3; timeout 0.3 cat <&3 | od -c     # LF CR STX I,04,1b CR LF 5630i
//   printf '\002R 0022 02\r' >&3; timeout 0.3 cat <&3     # R,0022,00,04,02: Oil Reference
//   printf '\002\r\002U 3C7E\r\002W 0026 b0\r' >&3        # unlock, then write a byte
//   kill %1                                               # removes /tmp/quellon
#include "sim/VirtualSensor.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) {
    g_stop = true;
}

const char* kUsage =
    "usage: quellon-sim [options]\n"
    "A virtual Quellon sensor on a pseudo-terminal; prints the slave's path.\n"
    "  --link PATH              also make PATH a symbolic link to the slave (removed on exit)\n"
    "  --model 5630|5630i       sensor model (default 5630i)\n"
    "  --output current|voltage|can   output type (default current)\n"
    "  --third oil|temperature  use of the third channel (default oil)\n"
    "  --fault LIST             faults, comma-separated: silent, drop=N, late=MS, short=N,\n"
    "                           garble[=K], garble-replies=N, refuse-write, fail-erase,\n"
    "                           fail-block=K, fail-verify, hangup-after=N, silent-after=N,\n"
    "                           reboot-after=N, hangup-at=MS\n"
    "  --return-after MS        after a hang-up, come back MS milliseconds later on a new\n"
    "                           pseudo-terminal (behind the same --link), memory kept, as an\n"
    "                           adapter plugged in again; prints the new path\n"
    "  --state FILE             keep the configuration memory in FILE between runs\n"
    "  --trace                  every frame received and sent, with times, on stderr\n"
    "  --instant                no line pacing: answer at once, as a USB CDC sensor does\n"
    "  --seed N                 seed of the live waveform (default 1)\n"
    "  --reboot-ms MS           silence after a reboot command (default 1000)\n"
    "  --boot-idle-ms MS        bootloader idle time before it starts the application\n"
    "                           (default 10000)\n"
    "  --run-time-ms MS         length of one run-time count (default 300000, 5 minutes)\n"
    "  --help                   this text\n";

int BadOption(const std::string& why) {
    std::cerr << "quellon-sim: " << why << " (try --help)\n";
    return 2;
}

bool ParseNumber(const std::string& text, long minimum, long& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < minimum) {
        return false;
    }
    value = v;
    return true;
}

// After a hang-up: waits `ms` (a signal still ends the program), then serves again on a new
// pseudo-terminal, behind the same link, with the memory kept and without the hang-up
// faults, so that it comes back once. False when it cannot or was told to stop.
bool ComeBack(quellon::sim::VirtualSensor& sensor, const std::string& faults, long ms) {
    for (long waited = 0; waited < ms && !g_stop.load(); waited += 10) {
        ::usleep(10 * 1000);
    }
    if (g_stop.load()) {
        return false;
    }
    sensor.Stop();
    std::string why;
    if (!sensor.SetFaults(quellon::sim::WithoutHangups(faults), &why) || !sensor.Start(&why)) {
        std::cerr << "quellon-sim: cannot come back: " << why << "\n";
        return false;
    }
    std::cerr << "quellon-sim: back on " << sensor.SlavePath() << "\n";
    std::cout << sensor.SlavePath() << std::endl;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    using namespace quellon::sim;
    Options options;
    std::string link;
    std::string stateFile;
    bool trace = false;
    bool modelGiven = false;
    bool outputGiven = false;
    bool thirdGiven = false;
    long returnAfterMs = -1; // -1: a hang-up ends the program

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        long n = 0;
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--trace") {
            trace = true;
        } else if (arg == "--instant") {
            options.instant = true;
        } else if (arg == "--link") {
            if (!value(link) || link.empty()) {
                return BadOption("--link needs a path");
            }
        } else if (arg == "--state") {
            if (!value(stateFile) || stateFile.empty()) {
                return BadOption("--state needs a file");
            }
        } else if (arg == "--model") {
            if (!value(v) || (v != "5630" && v != "5630i")) {
                return BadOption("--model takes 5630 or 5630i");
            }
            options.model = v == "5630" ? Model::M5630 : Model::M5630i;
            modelGiven = true;
        } else if (arg == "--output") {
            if (!value(v) || (v != "current" && v != "voltage" && v != "can")) {
                return BadOption("--output takes current, voltage or can");
            }
            options.output = v == "current"   ? Output::Current
                             : v == "voltage" ? Output::Voltage
                                              : Output::Can;
            outputGiven = true;
        } else if (arg == "--third") {
            if (!value(v) || (v != "oil" && v != "temperature")) {
                return BadOption("--third takes oil or temperature");
            }
            options.third = v == "oil" ? Third::Oil : Third::Temperature;
            thirdGiven = true;
        } else if (arg == "--fault") {
            Faults f;
            std::string why;
            if (!value(v)) {
                return BadOption("--fault needs a fault list");
            }
            if (!ParseFaults(v, f, why)) {
                return BadOption(why);
            }
            options.faults = v;
        } else if (arg == "--seed") {
            if (!value(v) || !ParseNumber(v, 0, n) || n > 0xffffffffL) {
                return BadOption("--seed takes a whole number");
            }
            options.seed = static_cast<std::uint32_t>(n);
        } else if (arg == "--return-after") {
            if (!value(v) || !ParseNumber(v, 0, n) || n > 100000000L) {
                return BadOption("--return-after takes a number of milliseconds");
            }
            returnAfterMs = n;
        } else if (arg == "--reboot-ms" || arg == "--boot-idle-ms" || arg == "--run-time-ms") {
            if (!value(v) || !ParseNumber(v, arg == "--reboot-ms" ? 0 : 1, n) || n > 100000000L) {
                return BadOption(arg + " takes a number of milliseconds");
            }
            int& target = arg == "--reboot-ms"      ? options.timing.rebootMs
                          : arg == "--boot-idle-ms" ? options.timing.bootIdleMs
                                                    : options.timing.runTimePeriodMs;
            target = static_cast<int>(n);
        } else {
            return BadOption("unknown option '" + arg + "'");
        }
    }
    if (trace) {
        options.trace = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    }

    if (!link.empty()) {
        struct stat st {};
        if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            std::cerr << "quellon-sim: " << link << " exists and is not a symbolic link\n";
            return 1;
        }
        options.link = link;
    }
    VirtualSensor sensor(options);
    if (!stateFile.empty() && ::access(stateFile.c_str(), F_OK) == 0) {
        std::string why;
        if (!sensor.LoadState(stateFile, &why)) {
            std::cerr << "quellon-sim: " << why << "\n";
            return 2;
        }
        // Explicit choices on the command line win over the kept feature word.
        std::uint16_t w = sensor.ReadWord(0x001E);
        const std::uint16_t chosen = FeatureWordOf(options.model, options.output, options.third);
        if (modelGiven) {
            w = static_cast<std::uint16_t>((w & ~0x0080u) | (chosen & 0x0080u));
        }
        if (outputGiven) {
            w = static_cast<std::uint16_t>((w & ~0x0042u) | (chosen & 0x0042u));
        }
        if (thirdGiven) {
            w = static_cast<std::uint16_t>((w & ~0x0004u) | (chosen & 0x0004u));
        }
        sensor.WriteWord(0x001E, w);
    }

    std::string why;
    if (!sensor.Start(&why)) { // makes the link too, and Stop takes it away
        std::cerr << "quellon-sim: " << why << "\n";
        return 1;
    }
    std::cout << sensor.SlavePath() << std::endl;

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    std::uint64_t saved = sensor.MemoryGeneration();
    int status = 0;
    auto save = [&] {
        if (stateFile.empty()) {
            return;
        }
        std::string error;
        if (!sensor.SaveState(stateFile, &error)) {
            std::cerr << "quellon-sim: " << error << "\n";
            status = 1;
        }
        saved = sensor.MemoryGeneration();
    };
    int ticks = 0;
    while (!g_stop.load()) {
        ::usleep(100 * 1000);
        if (!sensor.IsRunning()) {
            std::cerr << "quellon-sim: the line was hung up\n";
            if (returnAfterMs < 0 || !ComeBack(sensor, options.faults, returnAfterMs)) {
                break;
            }
        }
        if (++ticks % 10 == 0 && sensor.MemoryGeneration() != saved) {
            save();
        }
    }
    sensor.Stop();
    save();
    return status;
}
