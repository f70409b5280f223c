// The sensor's application firmware: the text commands and their replies (layouts in
// VirtualSensor.h).
#include "sim/SensorCore.h"

#include "serial/Framing.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace quellon::sim {

namespace {

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') {
            ++i;
        }
        std::size_t j = i;
        while (j < text.size() && text[j] != ' ') {
            ++j;
        }
        if (j > i) {
            tokens.push_back(text.substr(i, j - i));
        }
        i = j;
    }
    return tokens;
}

// A hexadecimal number of 1 to 8 digits, nothing else.
bool ParseHex(const std::string& token, std::uint32_t& value) {
    if (token.empty() || token.size() > 8) {
        return false;
    }
    char* end = nullptr;
    const unsigned long v = std::strtoul(token.c_str(), &end, 16);
    if (end != token.c_str() + token.size() || token[0] == '-' || token[0] == '+') {
        return false;
    }
    value = static_cast<std::uint32_t>(v);
    return true;
}

std::string Format(const char* format, unsigned a = 0, unsigned b = 0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

int Signed16(std::uint32_t v) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(v & 0xffff));
}

std::uint16_t Word16(int v) {
    return static_cast<std::uint16_t>(static_cast<std::int16_t>(std::clamp(v, -32768, 32767)));
}

} // namespace

void VirtualSensor::Impl::HandleText(const std::string& text, double at) {
    const bool afterEmpty = lastWasEmpty;
    lastWasEmpty = text.empty();
    if (text.empty()) {
        return;
    }
    const std::vector<std::string> t = Split(text);
    if (t.empty()) {
        return;
    }
    const std::string& cmd = t[0];
    std::uint32_t v1 = 0;
    std::uint32_t v2 = 0;
    const bool one = t.size() == 2 && ParseHex(t[1], v1);
    const bool two = t.size() == 3 && ParseHex(t[1], v1) && ParseHex(t[2], v2);

    if (cmd == "U") {
        if (one && v1 == 1) {
            unlocked = false;
        } else if (one && v1 == 0x3C7E && afterEmpty) {
            unlocked = true;
        }
        return;
    }
    if (cmd == "I" && t.size() == 1) {
        // CR LF and the model in five characters make it 17 bytes.
        const bool inline5630 = (memory.Word(addr::Features) & feature::Inline) != 0;
        SendText(Format("I,%02x,%02x\r\n", firmwareNumber, firmwareRevision) +
                     (inline5630 ? "5630i" : "5630 "),
                 at);
        return;
    }
    if (cmd == "A" && t.size() == 1) {
        const RawRecord r = Record(at);
        SendText(Format("A,%03x,%03x,", At(r, Field::Coarse), At(r, Field::Fine)) +
                     Format("%04x,%04x,", At(r, Field::Oil), At(r, Field::Temperature)) +
                     Format("%03x", At(r, Field::Status)),
                 at);
        return;
    }
    if (cmd == "a" && t.size() == 1) {
        const RawRecord r = Record(at);
        std::string body = "a";
        for (int i = 0; i < kFieldCount; ++i) {
            body += Format(i + 1 < kFieldCount ? ",%04x" : ",%03x", r[static_cast<std::size_t>(i)]);
        }
        SendText(body, at);
        return;
    }
    if (cmd == "R") {
        if (!two || v1 > 0xffff || v2 < 1 || v2 > 16) {
            return;
        }
        std::string body = Format("R,%04x", v1);
        for (std::uint32_t i = 0; i < v2; ++i) {
            body += Format(",%02x", memory.Byte(v1 + i));
        }
        SendText(body + Format(",%02x\r\n", v2), at);
        return;
    }
    if (cmd == "W") {
        if (!two || v1 > 0xffff || v2 > 0xff) {
            return;
        }
        if (!unlocked) {
            Trace("write refused: locked");
            return;
        }
        if (faults.refuseWrite) {
            Trace("write refused: fault");
            return;
        }
        memory.SetByte(v1, static_cast<std::uint8_t>(v2));
        Queue({kLf, kCr}, at);
        return;
    }
    if (cmd == "Q" && t.size() == 1) {
        Reboot(Mode::Bootloader, opts.timing.rebootMs, at);
        return;
    }
    if (cmd == "q" && t.size() == 1) {
        Reboot(Mode::Application, opts.timing.rebootMs, at);
        return;
    }
    if (cmd == "h" && one) {
        brightness = static_cast<int>(v1);
        return;
    }
    if (cmd == "D") {
        if (!unlocked) {
            return;
        }
        if (t.size() == 1) {
            ApplyDefaultSet(memory, 0);
        } else if (one && v1 >= 1 && v1 <= 3) {
            ApplyDefaultSet(memory, static_cast<int>(v1));
        }
        return;
    }
    if (cmd == "Z" && t.size() == 1) {
        ++reloads;
        return;
    }
    if (cmd == "rr" && t.size() == 1) {
        memory.SetLong(addr::RunTime, 0);
        return;
    }
    if (cmd == "rt" && t.size() == 1) {
        const RawRecord r = Record(at);
        const auto intC = static_cast<std::uint16_t>(At(r, Field::IntC));
        const auto extC = static_cast<std::uint16_t>(At(r, Field::ExtC));
        memory.SetWord(addr::ElectronicsMin, intC);
        memory.SetWord(addr::ElectronicsMax, intC);
        memory.SetWord(addr::ProbeMin, extC);
        memory.SetWord(addr::ProbeMax, extC);
        return;
    }
    if ((cmd == "i" || cmd == "j" || cmd == "k") && one) {
        const std::uint16_t where = cmd == "i"   ? addr::RedIntensity
                                    : cmd == "j" ? addr::GreenIntensity
                                                 : addr::BlueIntensity;
        memory.SetWord(where, static_cast<std::uint16_t>(v1 & 0xffff));
        return;
    }
    if (cmd == "M" && one && v1 <= 1) {
        outputFix.fixed = v1 == 1;
        return;
    }
    if (cmd == "F" && one) {
        outputFix.levelSet = true;
        outputFix.level = static_cast<int>(v1);
        return;
    }
    if (cmd == "o" && two) {
        ledTest = LedTest{true, true, static_cast<int>(v1), static_cast<int>(v2)};
        return;
    }
    if (cmd == "p" && one) {
        ledTest.any = true;
        ledTest.on = false;
        ledTest.led = static_cast<int>(v1);
        return;
    }
    if (cmd.size() == 2 && cmd[0] == 'c' && t.size() == 1) {
        const char which = cmd[1];
        if (which == 's' || which == 'e') {
            session = which == 's';
            SendText(Format("c,%c,ok", static_cast<unsigned char>(which)), at);
            return;
        }
        if (std::string("yzncfdop").find(which) == std::string::npos) {
            return;
        }
        if (!unlocked) {
            Trace(std::string("calibration refused: locked (") + cmd + ")");
            return;
        }
        const RawRecord r = Record(at);
        const int calCoarse = Signed16(At(r, Field::CalibratedCoarse));
        const int calFine = Signed16(At(r, Field::CalibratedFine));
        switch (which) {
        case 'y':
            break;
        case 'z': {
            const int dq = static_cast<int>(At(r, Field::DebrisQ)) -
                           static_cast<int>(At(r, Field::DebrisRefQ));
            const int dc = static_cast<int>(At(r, Field::DebrisCount)) -
                           static_cast<int>(At(r, Field::DebrisRefCount));
            memory.SetWord(addr::CoarseZero, Word16(dq));
            memory.SetWord(addr::FineZero, Word16(dc));
            break;
        }
        case 'n':
            memory.SetWord(addr::CoarseOffset, Word16(calCoarse));
            memory.SetWord(addr::FineOffset, Word16(calFine));
            break;
        case 'c':
            memory.SetWord(addr::Coarse100, Word16(calCoarse));
            break;
        case 'f':
            memory.SetWord(addr::Fine100, Word16(calFine));
            break;
        case 'd': {
            const std::uint32_t oil = At(r, Field::OilCount);
            memory.SetWord(addr::OilReference,
                           static_cast<std::uint16_t>(std::clamp<std::uint32_t>(oil, 1, 0xffff)));
            break;
        }
        case 'o':
        case 'p': {
            const bool coarse = which == 'o';
            const std::uint32_t ref = At(r, coarse ? Field::DebrisRefQ : Field::DebrisRefCount);
            const long long nominal = coarse ? 2000 : 1500;
            const long long scaling =
                ref == 0 ? 1000 : std::clamp<long long>(1000 * nominal / ref, 1, 32767);
            const std::uint16_t where = coarse ? addr::CoarseScaling : addr::FineScaling;
            memory.SetWord(where, static_cast<std::uint16_t>(scaling));
            break;
        }
        default:
            break;
        }
        SendText(Format("c,%c,ok", static_cast<unsigned char>(which)), at);
        return;
    }
    Trace("unknown command \"" + text + "\"");
}

void VirtualSensor::Impl::AdvanceApplication(double now) {
    if (mode != Mode::Application) {
        return;
    }
    const int period = std::max(1, opts.timing.runTimePeriodMs);
    int guard = 0;
    while (now >= nextRunTime && guard++ < 1000) {
        memory.SetLong(addr::RunTime, memory.Long(addr::RunTime) + 1);
        nextRunTime += period;
    }
    if (now >= nextTick) {
        nextTick = now + 1000;
        const RawRecord r = Record(now);
        const int intC = Signed16(At(r, Field::IntC));
        const int extC = Signed16(At(r, Field::ExtC));
        if (intC < memory.Signed(addr::ElectronicsMin)) {
            memory.SetWord(addr::ElectronicsMin, Word16(intC));
        }
        if (intC > memory.Signed(addr::ElectronicsMax)) {
            memory.SetWord(addr::ElectronicsMax, Word16(intC));
        }
        if (extC < memory.Signed(addr::ProbeMin)) {
            memory.SetWord(addr::ProbeMin, Word16(extC));
        }
        if (extC > memory.Signed(addr::ProbeMax)) {
            memory.SetWord(addr::ProbeMax, Word16(extC));
        }
    }
}

} // namespace quellon::sim
