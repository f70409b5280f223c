// The sensor's replies as the configurator parses them: identification, live status "A", and
// the configuration memory's word and long replies, the latter also through MemoryAccess over
// a link that answers with the input. The first byte picks the parser; the rest is the reply.
#include "config/Conversions.h"
#include "config/MemoryAccess.h"
#include "fuzz/FuzzCheck.h"
#include "monitor/LiveStatus.h"
#include "serial/Discovery.h"

#include <cstdint>
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

// The reply buffer of a memory read: 64 bytes, zero after what arrived.
struct ReplyBuffer {
    char bytes[MemoryAccess::kReplyBuffer] = {};
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
    Check(ParseWordReply(ReplyBuffer(text).bytes) == value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string reply(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 4) {
    case 0: {
        std::uint32_t number = 0x1234, revision = 0x5678;
        ParseIdentification(reply.c_str(), number, revision);
        break;
    }
    case 1: {
        LiveStatus s;
        s.coarse = -7;
        if (ParseLiveStatus(reply.c_str(), s)) {
            Check(reply.compare(0, 5,
                                "\n\r\x02"
                                "A,") == 0);
            (void)TraceLine(s);
            (void)StatusCaption(s.status);
        } else {
            Check(s.coarse == -7); // a refused reply changes nothing
        }
        break;
    }
    case 2: {
        const ReplyBuffer buffer(reply);
        (void)ParseWordReply(buffer.bytes);
        (void)ParseLongReply(buffer.bytes);
        if (size >= 3) {
            WordRoundTrip(reply, static_cast<std::uint16_t>(data[1] << 8 | data[2]));
        }
        break;
    }
    default: {
        InputLink link(reply);
        NoTimer timer;
        MemoryAccess memory(link, timer, [](int) {});
        std::uint16_t word = 0;
        std::uint32_t value = 0;
        const bool wordOk = memory.ReadConfigWord(ConfigAddress(0x0022), word);
        Check(wordOk == (reply.size() >= MemoryAccess::kWordReplyLength));
        if (wordOk) {
            Check(word == ParseWordReply(ReplyBuffer(reply).bytes));
        }
        (void)memory.ReadConfigLong(ConfigAddress(0x0030), value);
        const DisplayResult shown = memory.Display(ShowKind::ShowSigned, ConfigAddress(0x0026));
        Check(shown.ok || shown.text == MemoryAccess::kFailedText);
        Check(timer.stops == timer.starts); // every stopped poll is started again
        break;
    }
    }
    return 0;
}
