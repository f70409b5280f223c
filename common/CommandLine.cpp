#include "common/CommandLine.h"

#include "serial/NetworkPort.h"

#include <cctype>

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
    return true;
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
           "  --help               this text\n"
           "  --version            the configurator's version\n\n"
           "Default ports on Linux: COM1-32 /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31,\n"
           "COM65-99 /dev/ttyACM0-34. The trace goes to debug.log in the working directory.\n";
}

} // namespace quellon
