// The sensor's replies as the configurator parses them: identification, live status "A", the
// configuration memory's word and long replies (also through MemoryAccess over a link that
// answers with the input, with the acknowledgement of a write), and the raw record "a" (also
// through a whole reporting sample). The first byte picks the parser; the rest is the reply.
// Where the input's bytes can be read as values, a well-formed reply carrying them must parse
// back to them.
#include "config/Conversions.h"
#include "config/MemoryAccess.h"
#include "config/Trims.h"
#include "fuzz/FuzzCheck.h"
#include "monitor/LiveStatus.h"
#include "reporting/RawData.h"
#include "serial/Discovery.h"
#include "serial/ReplyMatch.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using namespace quellon;

// Answers every command with the fuzz input, cut to the buffer as the real exchange cuts it.
class InputLink final : public SensorLink {
public:
    explicit InputLink(const std::string& reply) : m_reply(reply) {}
    void SendCommand(const std::string& text) override { m_commands += text + '\n'; }
    bool WaitReply(char* buffer, int capacity, int length, int, int& count) override {
        count = static_cast<int>(m_reply.size());
        if (count < length || capacity < 1) {
            return false;
        }
        const auto n =
            std::min<std::size_t>(m_reply.size(), static_cast<std::size_t>(capacity - 1));
        std::memcpy(buffer, m_reply.data(), n);
        buffer[n] = '\0';
        return true;
    }

private:
    std::string m_reply;
    std::string m_commands;
};

class NoTimer final : public PollTimer {
public:
    void StopPoll() override { ++stops; }
    void StartPoll() override { ++starts; }
    int stops = 0;
    int starts = 0;
};

using quellon::fuzz::Check;

// A reply buffer as the exchange fills it (64 bytes for a memory read or the identification,
// 128 for the live status and the raw record), zero after what arrived.
template <std::size_t Size = MemoryAccess::kReplyBuffer> struct ReplyBuffer {
    char bytes[Size] = {};
    explicit ReplyBuffer(const std::string& text) {
        std::memcpy(bytes, text.data(), std::min(text.size(), sizeof bytes - 1));
    }
};

// A well-formed word reply for `value` parses back to it, whatever stands around the digits.
void WordRoundTrip(std::string text, std::uint16_t value) {
    static const char* hex = "0123456789abcdef";
    text.resize(21, ',');
    const int positions[4] = {13, 14, 10, 11};
    for (int i = 0; i < 4; ++i) {
        text[static_cast<std::size_t>(positions[i])] = hex[(value >> (12 - 4 * i)) & 0xf];
    }
    Check(ParseWordReply(ReplyBuffer<>(text).bytes) == value);
}

// The same for a long reply: digit pairs at 10, 13, 16 and 19, low byte first.
void LongRoundTrip(std::string text, std::uint32_t value) {
    char pairs[16];
    std::snprintf(pairs, sizeof pairs, "%02x,%02x,%02x,%02x", value & 0xff, value >> 8 & 0xff,
                  value >> 16 & 0xff, value >> 24);
    text.resize(26, ',');
    text.replace(10, 11, pairs);
    Check(ParseLongReply(ReplyBuffer<>(text).bytes) == value);
}

// Values taken from the input, four bytes each, zero past its end.
std::uint32_t Value(const std::string& in, std::size_t i) {
    std::uint32_t v = 0;
    for (std::size_t k = 4 * i; k < 4 * i + 4; ++k) {
        v = v << 8 | (k < in.size() ? static_cast<std::uint8_t>(in[k]) : 0u);
    }
    return v;
}

// A reply of a letter and fields as the sensor writes them: LF CR STX letter, then ",%x" each.
std::string Reply(char letter, const std::uint32_t* fields, int n) {
    std::string text = std::string("\n\r\x02") + letter;
    for (int i = 0; i < n; ++i) {
        char field[16];
        std::snprintf(field, sizeof field, ",%x", fields[i]);
        text += field;
    }
    return text + "\r\n";
}

// A raw record refused leaves the caller's record as it was; one accepted has the header, and
// the configuration window's live readout takes the same replies with the same fields.
void RawRecordChecks(const std::string& reply) {
    RawDataRecord record;
    record.fields.fill(0xdead);
    const auto readout = ParseLiveReadout(reply.c_str());
    if (ParseRawDataRecord(reply.c_str(), record)) {
        Check(readout && static_cast<std::uint32_t>(readout->coarse) == record.fields[0] &&
              static_cast<std::uint32_t>(readout->fine) == record.fields[1] &&
              static_cast<std::uint32_t>(readout->oilRaw) == record.fields[2] &&
              readout->status == record.fields[17]);
        (void)readout->OilStatus();
        Check(reply.compare(0, 5,
                            "\n\r\x02"
                            "a,") == 0);
        const RawDataView view = ViewOf(record);
        Check(std::all_of(view.text.begin(), view.text.end(), [](auto& t) { return !t.empty(); }));
        const std::string line = RawFileRecord(0, record);
        Check(std::count(line.begin(), line.end(), ',') == kRawFieldCount);
        const std::string values = LogValuesPiece(record);
        Check(std::count(values.begin(), values.end(), ',') == kRawFieldCount - 1);
    } else {
        Check(!readout);
        Check(std::all_of(record.fields.begin(), record.fields.end(),
                          [](std::uint32_t f) { return f == 0xdead; }));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string reply(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 6) {
    case 0: {
        std::uint32_t number = 0x1234, revision = 0x5678;
        ParseIdentification(ReplyBuffer<>(reply).bytes, number, revision);
        const std::uint32_t sent[2] = {Value(reply, 0), Value(reply, 1)};
        ParseIdentification(Reply('I', sent, 2).c_str(), number, revision);
        Check(number == sent[0] && revision == sent[1]);
        break;
    }
    case 1: {
        LiveStatus s;
        s.coarse = -7;
        if (ParseLiveStatus(reply.c_str(), s)) {
            Check(reply.compare(0, 5,
                                "\n\r\x02"
                                "A,") == 0);
            (void)StatusCaption(s.status);
            // Shown values: the oil scaled down, the temperature in whole degrees of 16 bits.
            Check(std::abs(OilStatusShown(s.oil)) <= std::abs(s.oil / 1024 * 1000) + 1000);
            Check(std::abs(TemperatureShown(s.temperature)) <= 2048);
        } else {
            Check(s.coarse == -7); // a refused reply changes nothing
        }
        std::uint32_t sent[5];
        for (std::size_t i = 0; i < 5; ++i) {
            sent[i] = Value(reply, i);
        }
        Check(ParseLiveStatus(Reply('A', sent, 5).c_str(), s));
        Check(static_cast<std::uint32_t>(s.coarse) == sent[0] &&
              static_cast<std::uint32_t>(s.fine) == sent[1] &&
              static_cast<std::uint32_t>(s.oil) == sent[2] &&
              static_cast<std::uint32_t>(s.temperature) == sent[3] &&
              static_cast<std::uint32_t>(s.status) == sent[4]);
        char trace[64];
        std::snprintf(trace, sizeof trace, "%d,%d,%d,%d,%x\n", s.coarse, s.fine, s.oil,
                      s.temperature, static_cast<unsigned>(s.status));
        Check(TraceLine(s) == trace);
        break;
    }
    case 2: {
        const ReplyBuffer<> buffer(reply);
        (void)ParseWordReply(buffer.bytes);
        (void)ParseLongReply(buffer.bytes);
        WordRoundTrip(reply, static_cast<std::uint16_t>(Value(reply, 0)));
        LongRoundTrip(reply, Value(reply, 0));
        break;
    }
    case 4: {
        RawRecordChecks(ReplyBuffer<128>(reply).bytes);
        std::uint32_t sent[kRawFieldCount];
        for (std::size_t i = 0; i < kRawFieldCount; ++i) {
            sent[i] = Value(reply, i);
        }
        RawDataRecord record;
        Check(ParseRawDataRecord(Reply('a', sent, kRawFieldCount).c_str(), record));
        Check(std::equal(record.fields.begin(), record.fields.end(), sent));
        break;
    }
    case 5: {
        // One whole sample: no files open, the reply is the input as the exchange cuts it.
        InputLink link(reply);
        RawDataFiles files;
        RawDataRecord record;
        const SampleResult r = TakeRawSample(link, files, 1, record);
        RawDataRecord parsed;
        const bool good =
            reply.size() >= 93 && ParseRawDataRecord(ReplyBuffer<128>(reply).bytes, parsed);
        Check(r == (reply.size() < 93 ? SampleResult::NoReply
                    : good            ? SampleResult::Good
                                      : SampleResult::Malformed));
        Check(!good || parsed.fields == record.fields);
        break;
    }
    default: {
        InputLink link(reply);
        NoTimer timer;
        MemoryAccess memory(link, timer, [](int) {});
        std::uint16_t word = 0;
        std::uint32_t value = 0;
        // A reply counts when it is long enough and answers the command: a read's echoes the
        // address, a write's acknowledgement is a bare LF CR.
        const auto answers = [&reply](const char* command, std::size_t length) {
            return reply.size() >= length &&
                   FitsReply(ExpectedReply(command),
                             reinterpret_cast<const std::uint8_t*>(ReplyBuffer<>(reply).bytes),
                             static_cast<int>(std::min<std::size_t>(reply.size(), 63))) ==
                       ReplyFit::Fits;
        };
        const bool wordOk = memory.ReadConfigWord(ConfigAddress(0x0022), word);
        Check(wordOk == answers("R 0022 02", MemoryAccess::kWordReplyLength));
        if (wordOk) {
            Check(word == ParseWordReply(ReplyBuffer<>(reply).bytes));
        }
        Check(memory.ReadConfigLong(ConfigAddress(0x0030), value) ==
              answers("R 0030 04", MemoryAccess::kLongReplyLength));
        Check(memory.WriteConfigWord(ConfigAddress(0x0026), 0x04b0) ==
              (answers("W 0026 b0", 2) && answers("W 0027 04", 2)));
        const DisplayResult shown = memory.Display(ShowKind::ShowSigned, ConfigAddress(0x0026));
        Check(shown.ok || shown.text == MemoryAccess::kFailedText);
        Check(timer.stops == timer.starts); // every stopped poll is started again
        break;
    }
    }
    return 0;
}
