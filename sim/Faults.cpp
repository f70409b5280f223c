#include "sim/Faults.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace quellon::sim {

namespace {

bool ParseCount(const std::string& text, int minimum, int& value) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    const long v = std::strtol(text.c_str(), nullptr, 10);
    if (v < minimum || v > INT_MAX) {
        return false;
    }
    value = static_cast<int>(v);
    return true;
}

std::string Trim(const std::string& s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) {
        ++b;
    }
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) {
        --e;
    }
    return s.substr(b, e - b);
}

} // namespace

bool ParseFaults(const std::string& faultText, Faults& faults, std::string& error) {
    Faults parsed;
    std::size_t pos = 0;
    const std::string all = Trim(faultText);
    if (all.empty()) {
        faults = parsed;
        return true;
    }
    while (pos <= all.size()) {
        std::size_t comma = all.find(',', pos);
        if (comma == std::string::npos) {
            comma = all.size();
        }
        const std::string item = Trim(all.substr(pos, comma - pos));
        pos = comma + 1;
        if (item.empty()) {
            error = "empty fault item in '" + faultText + "'";
            return false;
        }
        const std::size_t eq = item.find('=');
        const std::string name = item.substr(0, eq);
        const bool hasValue = eq != std::string::npos;
        const std::string value = hasValue ? item.substr(eq + 1) : std::string();

        struct Numbered {
            const char* name;
            int* target;
            int minimum;
        };
        const Numbered numbered[] = {
            {"drop", &parsed.dropEvery, 1},
            {"late", &parsed.lateMs, 0},
            {"short", &parsed.shortTo, 0},
            {"fail-block", &parsed.failBlock, 1},
            {"hangup-after", &parsed.hangupAfter, 1},
            {"hangup-at", &parsed.hangupAtMs, 1},
            {"garble-replies", &parsed.garbleReplyEvery, 1},
            {"silent-after", &parsed.silentAfter, 1},
            {"reboot-after", &parsed.rebootAfter, 1},
        };
        struct Flag {
            const char* name;
            bool* target;
        };
        const Flag flags[] = {{"silent", &parsed.silent},
                              {"refuse-write", &parsed.refuseWrite},
                              {"fail-erase", &parsed.failErase},
                              {"fail-verify", &parsed.failVerify}};

        bool known = false;
        for (const Numbered& n : numbered) {
            if (name == n.name) {
                known = true;
                if (!hasValue || !ParseCount(value, n.minimum, *n.target)) {
                    const std::string least = std::to_string(n.minimum);
                    const std::string example = std::to_string(n.minimum == 0 ? 5 : 3);
                    error = "fault '";
                    error.append(name).append("' needs a whole number of at least ");
                    error.append(least).append(" (as in ").append(name).append("=");
                    error.append(example).append(")");
                    return false;
                }
            }
        }
        for (const Flag& f : flags) {
            if (name == f.name) {
                known = true;
                if (hasValue) {
                    error = "fault '" + name + "' takes no value";
                    return false;
                }
                *f.target = true;
            }
        }
        if (name == "garble") {
            known = true;
            parsed.garbleEvery = 4;
            if (hasValue && !ParseCount(value, 1, parsed.garbleEvery)) {
                error = "fault 'garble' takes an optional whole number of at least 1";
                return false;
            }
        }
        if (!known) {
            error = "unknown fault '" + name +
                    "' (known: silent, drop=N, late=MS, short=N, garble[=K], garble-replies=N, "
                    "refuse-write, fail-erase, fail-block=K, fail-verify, hangup-after=N, "
                    "hangup-at=MS, silent-after=N, reboot-after=N)";
            return false;
        }
        if (comma == all.size()) {
            break;
        }
    }
    faults = parsed;
    return true;
}

std::string WithoutHangups(const std::string& faultText) {
    std::string kept;
    std::size_t pos = 0;
    while (pos <= faultText.size()) {
        std::size_t comma = faultText.find(',', pos);
        if (comma == std::string::npos) {
            comma = faultText.size();
        }
        const std::string item = Trim(faultText.substr(pos, comma - pos));
        if (!item.empty() && item.rfind("hangup-", 0) != 0) {
            kept += (kept.empty() ? "" : ",") + item;
        }
        pos = comma + 1;
    }
    return kept;
}

} // namespace quellon::sim
