#include "common/CommandLine.h"

#include "serial/NetworkPort.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace quellon {

namespace {

bool ParsePortMapping(const std::string& text, int& number, std::string& path) {
    const auto eq = text.find('=');
    if (eq == std::string::npos || eq < 4 || text.compare(0, 3, "COM") != 0) {
        return false;
    }
    const std::string digits = text.substr(3, eq - 3);
    if (digits.empty() || digits.size() > 2) {
        return false;
    }
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    number = std::stoi(digits);
    path = text.substr(eq + 1);
    return number >= 1 && number <= 99 && !path.empty();
}

bool OneOf(const std::string& v, std::initializer_list<const char*> allowed) {
    for (const char* a : allowed) {
        if (v == a) {
            return true;
        }
    }
    return false;
}

// Seconds as a finite number, the whole text.
bool ParseSeconds(const std::string& text, double& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

bool EndsWith(const std::string& text, const char* tail) {
    const std::string t(tail);
    return text.size() > t.size() && text.compare(text.size() - t.size(), t.size(), t) == 0;
}

// What --plot-log needs and what only it may take.
bool CheckPlotOptions(const CommandLine& out, std::string& error) {
    if (out.plotLog.empty()) {
        if (!out.plotOut.empty() || out.hasFrom || out.hasTo) {
            error = "--out, --from and --to go with --plot-log";
            return false;
        }
        return true;
    }
    if (out.plotOut.empty()) {
        error = "--plot-log needs --out FILE.png or FILE.svg";
        return false;
    }
    if (!EndsWith(out.plotOut, ".png") && !EndsWith(out.plotOut, ".svg")) {
        error = "bad --out '" + out.plotOut + "': the picture's name must end in .png or .svg";
        return false;
    }
    if (out.hasFrom && out.hasTo && !(out.from < out.to)) {
        error = "--from must be before --to";
        return false;
    }
    if (!out.openLog.empty()) {
        error = "--open-log and --plot-log cannot go together";
        return false;
    }
    return true;
}

} // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            v = args[++i];
            return true;
        };
        std::string v;
        if (a == "--port") {
            int n = 0;
            std::string path;
            if (!value(v)) {
                return false;
            }
            if (!ParsePortMapping(v, n, path)) {
                error = "bad --port '" + v + "': expected COMn=PATH with n from 1 to 99";
                return false;
            }
            PortUrl url;
            std::string why;
            if (IsNetworkPath(path) && !ParsePortUrl(path, url, why)) {
                error = "bad --port '" + v + "': " + why;
                return false;
            }
            out.ports[n] = path;
        } else if (a == "--no-default-ports") {
            out.noDefaultPorts = true;
        } else if (a == "--simulate") {
            out.simulate = true;
        } else if (a == "--service") {
            out.service = true;
        } else if (a == "--open-log" || a == "--plot-log" || a == "--out") {
            if (!value(v)) {
                return false;
            }
            if (v.empty()) {
                error = a + " needs a file name";
                return false;
            }
            (a == "--open-log" ? out.openLog : a == "--plot-log" ? out.plotLog : out.plotOut) = v;
        } else if (a == "--from" || a == "--to") {
            if (!value(v)) {
                return false;
            }
            double seconds = 0;
            if (!ParseSeconds(v, seconds)) {
                error = "bad value '";
                error += v;
                error += "' for ";
                error += a;
                error += ": expected seconds";
                return false;
            }
            (a == "--from" ? out.from : out.to) = seconds;
            (a == "--from" ? out.hasFrom : out.hasTo) = true;
        } else if (a == "--help" || a == "-h") {
            out.help = true;
        } else if (a == "--version") {
            out.version = true;
        } else if (a == "--sim-model" || a == "--sim-output" || a == "--sim-third") {
            if (!value(v)) {
                return false;
            }
            const bool ok = a == "--sim-model"    ? OneOf(v, {"5630", "5630i"})
                            : a == "--sim-output" ? OneOf(v, {"current", "voltage", "can"})
                                                  : OneOf(v, {"oil", "temperature"});
            if (!ok) {
                error = "bad value '";
                error += v;
                error += "' for ";
                error += a;
                return false;
            }
            (a == "--sim-model"    ? out.simModel
             : a == "--sim-output" ? out.simOutput
                                   : out.simThird) = v;
        } else {
            error = "unknown argument '" + a + "' (see --help)";
            return false;
        }
    }
    return CheckPlotOptions(out, error);
}

std::string UsageText(const std::string& program) {
    return "Usage: " + program +
           " [options]\n"
           "Finds the Quellon sensor on a serial port and configures it.\n\n"
           "  --port COMn=PATH     COM number n (1..99) is the device at PATH (repeatable);\n"
           "                       PATH may be rfc2217://HOST:PORT or tcp://HOST:PORT, a\n"
           "                       port of a serial device server\n"
           "  --no-default-ports   COM numbers without a --port do not exist\n"
           "  --simulate           start the built-in virtual sensor on COM1 and use no\n"
           "                       system ports unless --port adds some\n"
           "  --sim-model M        virtual sensor model: 5630 (default) or 5630i\n"
           "  --sim-output O       virtual sensor output: current (default), voltage or can\n"
           "  --sim-third T        virtual sensor third channel: oil (default) or temperature\n"
           "  --service            service mode: shows the calibration, engineering,\n"
           "                       bootloader, reporting and table facilities that the\n"
           "                       delivered windows hide\n"
           "  --open-log FILE      open the Log window with the recorded log FILE (no\n"
           "                       sensor search)\n"
           "  --plot-log LOG --out FILE.png|FILE.svg [--from S] [--to S]\n"
           "                       write the Log window's picture of LOG (seconds S to S)\n"
           "                       without showing a window; exit status 2 when LOG cannot\n"
           "                       be read\n"
           "  --help               this text\n"
           "  --version            the configurator's version\n\n"
           "Default ports on Linux: COM1-32 /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31,\n"
           "COM65-99 /dev/ttyACM0-34. The trace goes to debug.log in the working directory.\n";
}

} // namespace quellon
