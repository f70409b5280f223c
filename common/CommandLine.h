#pragma once
// The configurator's command line.
#include <map>
#include <string>
#include <vector>

namespace quellon {

struct CommandLine {
    std::map<int, std::string> ports; // --port COMn=PATH
    bool noDefaultPorts = false;
    bool simulate = false;
    bool service = false;
    bool help = false;
    bool version = false;
    std::string simModel = "5630";     // --sim-model 5630|5630i
    std::string simOutput = "current"; // --sim-output current|voltage|can
    std::string simThird = "oil";      // --sim-third oil|temperature
    std::string openLog;               // --open-log FILE: the Log window with FILE
    std::string plotLog;               // --plot-log LOG: the picture of LOG, no window
    std::string plotOut;               // --out FILE.png|FILE.svg, with --plot-log
    bool hasFrom = false;              // --from S, with --plot-log
    bool hasTo = false;                // --to S, with --plot-log
    double from = 0;
    double to = 0;
};

// Parses the arguments after the program name. On a bad argument returns false and puts a
// one-line message into `error`.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error);

std::string UsageText(const std::string& program);

} // namespace quellon
