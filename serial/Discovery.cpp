#include "serial/Discovery.h"

#include "serial/PortDirectory.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

namespace quellon {

std::string IdentifiedTitle() {
    char title[64];
    std::snprintf(title, sizeof title, "Quellon Configurator %u.%03u", kGuiBuildNumber,
                  kGuiBuildRevision);
    return title;
}

void ParseIdentification(const char* reply, std::uint32_t& number, std::uint32_t& revision) {
    unsigned a = number;
    unsigned b = revision;
    const int n = std::sscanf(reply + 5, "%x,%x", &a, &b);
    if (n >= 1) {
        number = a;
    }
    if (n >= 2) {
        revision = b;
    }
}

bool IsIdentification(const char* reply, int count) {
    if (count < 8 || std::memcmp(reply, "\n\r\x02I,", 5) != 0) {
        return false;
    }
    // Two hexadecimal numbers with a comma between them, within what arrived.
    int i = 5;
    const auto digits = [&] {
        const int first = i;
        while (i < count && std::isxdigit(static_cast<unsigned char>(reply[i]))) {
            ++i;
        }
        return i > first;
    };
    if (!digits() || i >= count || reply[i] != ',') {
        return false;
    }
    ++i;
    return digits();
}

bool IdentifySensor(CommandExchange& exchange, int tries,
                    const std::function<void(const std::string&)>& setTitle) {
    ProgressDisplay* progress = exchange.Progress();
    if (progress) {
        progress->SetPosition(0);
        progress->SetCaption("Identifying firmware");
        progress->ShowProgress();
        progress->SetMaximum(tries);
    }
    char reply[64] = {};
    for (int i = 0; i < tries; ++i) {
        WaitMs(50);
        exchange.SendCommand("I");
        int count = 0;
        if (exchange.WaitReply(reply, sizeof reply, 17, 100, count)) {
            PortTable& ports = exchange.Ports();
            ParseIdentification(reply, ports.firmwareNumber, ports.firmwareRevision);
            if (setTitle) {
                setTitle(IdentifiedTitle());
            }
            if (progress) {
                progress->CloseProgress();
            }
            return true;
        }
        if (progress) {
            progress->StepIt();
        }
        exchange.ProcessEvents();
    }
    if (progress) {
        progress->CloseProgress();
    }
    return false;
}

namespace {
// Reasons that only say the device is not there are not worth a line for the default ports:
// on a typical machine most of the 99 COM numbers have no device behind them. A port that
// the user named (--port) is reported whatever the reason: a mistyped path must show.
bool WorthReporting(int comNumber, const std::string& reason) {
    return PortDirectory::Instance().IsNamed(comNumber) ||
           (reason != "no such device" && reason != "no such port");
}
} // namespace

StartupSearch::Outcome StartupSearch::Run(const std::function<std::optional<int>()>& choosePort,
                                          const std::function<void(const std::string&)>& setTitle,
                                          const std::function<bool()>& abandoned) {
    PortTable& ports = m_exchange.Ports();
    TraceLog& trace = ports.debugLog;
    if (m_again) {
        trace.Write("\nSearching every port again");
        for (int i = 1; i < PortTable::kSlots; ++i) {
            if (auto& channel = ports.channels[static_cast<std::size_t>(i)]) {
                trace.Write("\nclosing comport %i", i);
                channel->Close();
                channel.reset();
            }
        }
    } else {
        trace.Create(m_tracePath);
    }
    ports.m_comnum = PortTable::kNoPort;
    m_skipped.clear();
    m_openedPorts.clear();
    m_opened = 0;

    int answered = 0;
    for (int i = 1; i <= 99; ++i) {
        if (abandoned && abandoned()) {
            return Outcome::Cancelled;
        }
        auto channel = std::make_unique<TCommsThread>();
        const auto whileOpening = [this, &abandoned] {
            m_exchange.ProcessEvents();
            return !(abandoned && abandoned());
        };
        if (!channel->Open(i, 19200, whileOpening)) {
            if (WorthReporting(i, channel->OpenError())) {
                m_skipped.push_back({i, channel->DevicePath(), channel->OpenError()});
            }
            channel->Close();
            continue;
        }
        TCommsThread* raw = channel.get();
        ports.channels[static_cast<std::size_t>(i)] = std::move(channel);
        trace.Write("\nOpen Port %i", i);
        ports.m_comnum = i;
        ++m_opened;
        raw->Start();
        OpenedPort found{i, raw->DevicePath()};
        if (IdentifySensor(m_exchange, 1, setTitle)) {
            trace.Write("\nPingcomport %i", i);
            answered = i;
            found.answered = true;
            found.firmwareNumber = ports.firmwareNumber;
            found.firmwareRevision = ports.firmwareRevision;
            if (m_onAnswered) {
                m_onAnswered(i);
            }
        }
        m_openedPorts.push_back(found);
    }

    if (m_opened == 0) {
        TraceSkipped();
        return Outcome::NoPorts;
    }

    if (ports.m_comnumtemperature != 0) {
        trace.Write("\nm_comnumtemperature %i", ports.m_comnumtemperature);
    }
    if (answered != 0) {
        ports.m_comnum = answered;
        trace.Write("\nm_comnum %i", ports.m_comnum);
    } else if (m_opened > 1) {
        const std::optional<int> chosen = choosePort ? choosePort() : std::nullopt;
        if (!chosen) {
            TraceSkipped();
            return Outcome::Cancelled;
        }
        ports.m_comnum = *chosen;
    }

    // Every other port is closed, COM99 included: a foreign port must not stay held.
    for (int i = 1; i <= 99; ++i) {
        if (!ports.channels[static_cast<std::size_t>(i)] || i == ports.m_comnum ||
            i == ports.m_comnumtemperature) {
            continue;
        }
        trace.Write("\ndeleting comport %i\n", i);
        ports.channels[static_cast<std::size_t>(i)]->Close();
        ports.channels[static_cast<std::size_t>(i)].reset();
    }
    TraceSkipped();
    return Outcome::Chosen;
}

void StartupSearch::TraceSkipped() {
    for (const SkippedPort& s : m_skipped) {
        m_exchange.Ports().debugLog.Write("\nskipped COM%d %s: %s", s.comNumber, s.path.c_str(),
                                          s.reason.c_str());
    }
}

std::string StartupSearch::SkippedDetails() const {
    std::string text;
    for (const SkippedPort& s : m_skipped) {
        text += "COM" + std::to_string(s.comNumber) + " (" + s.path + "): " + s.reason + "\n";
    }
    if (text.empty()) {
        text = m_opened == 0 ? "No serial port could be opened.\n"
                             : "The sensor did not answer on any port that opened.\n";
    }
    return text;
}

bool ConnectChosenSensor(CommandExchange& exchange,
                         const std::function<void(const std::string&)>& setTitle,
                         const std::function<void()>& featuresRead) {
    if (!IdentifySensor(exchange, 5, setTitle)) {
        return false;
    }
    exchange.UnlockSensor();
    WaitMs(50);
    if (featuresRead) {
        featuresRead();
    }
    return true;
}

} // namespace quellon
