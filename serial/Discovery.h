#pragma once
// The start-up search for the sensor's port and the sensor identification.
#include "serial/CommandExchange.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quellon {

// The configurator's own build number and revision ("%u.%03u" in the title and about box).
constexpr unsigned kGuiBuildNumber = QUELLON_BUILD_NUMBER;
constexpr unsigned kGuiBuildRevision = QUELLON_BUILD_REVISION;
// The main window's title before the first identification: the configurator's part number
// and issue.
constexpr const char* kInitialTitle = "Quellon Configurator QC-5630-CFG Issue 1";
std::string IdentifiedTitle();

// Asks the sensor on m_comnum for its identification, up to `tries` times, behind the
// progress dialog. On success stores the firmware number and revision in the port table
// and hands the configurator's own title to `setTitle`.
bool IdentifySensor(CommandExchange& exchange, int tries,
                    const std::function<void(const std::string&)>& setTitle);

// Parses an identification reply from its sixth byte on with "%x,%x"; a field that does
// not convert keeps its previous value.
void ParseIdentification(const char* reply, std::uint32_t& number, std::uint32_t& revision);
// True for an identification reply and nothing else: LF CR STX 'I' ',' and then the firmware
// number and revision in hexadecimal, separated by a comma (as ParseIdentification reads
// them). `count` bytes of `reply` arrived.
bool IsIdentification(const char* reply, int count);

struct SkippedPort {
    int comNumber;
    std::string path;
    std::string reason;
};

// A port that opened during the search, and what its one identification gave.
struct OpenedPort {
    int comNumber = 0;
    std::string path;
    bool answered = false;
    std::uint32_t firmwareNumber = 0;
    std::uint32_t firmwareRevision = 0;
};

class StartupSearch {
public:
    enum class Outcome {
        NoPorts,   // nothing opened: the program ends after the message
        Cancelled, // several silent ports and the user closed the port dialog
        Chosen     // m_comnum holds the sensor's port
    };

    StartupSearch(CommandExchange& exchange, std::string tracePath = "debug.log")
        : m_exchange(exchange), m_tracePath(std::move(tracePath)) {}

    // Steps up to and including the clean-up of the other ports. `choosePort` shows the
    // port dialog and returns the chosen COM number, or nothing when the user closed it.
    // `abandoned` is asked before each port: when it holds (the main window was closed
    // meanwhile) the search stops there and reports Cancelled.
    // A network port opens on a thread of its own meanwhile, the exchange processing events
    // (ProcessEvents) and `abandoned` asked about every 10 ms: when it holds, the open ends
    // at once.
    Outcome Run(const std::function<std::optional<int>()>& choosePort,
                const std::function<void(const std::string&)>& setTitle,
                const std::function<bool()>& abandoned = {});

    // Ports that exist but could not be used, with the reason, for the user and the trace.
    const std::vector<SkippedPort>& Skipped() const { return m_skipped; }
    std::string SkippedDetails() const;
    int OpenedCount() const { return m_opened; }
    // Every port that opened, in COM order, with its answer.
    const std::vector<OpenedPort>& Opened() const { return m_openedPorts; }
    // Called right after a port answered, while m_comnum is that port and every port opened
    // so far still receives (the command-line tool asks each sensor its feature word then).
    void SetOnAnswered(std::function<void(int comNumber)> onAnswered) {
        m_onAnswered = std::move(onAnswered);
    }
    // A search on demand ("Reconnect"), for an adapter that came back under another name:
    // every channel still in the table is closed first and the trace goes on where it is,
    // instead of starting anew.
    void SearchAgain() { m_again = true; }

private:
    void TraceSkipped();

    CommandExchange& m_exchange;
    std::string m_tracePath;
    std::vector<SkippedPort> m_skipped;
    std::vector<OpenedPort> m_openedPorts;
    std::function<void(int)> m_onAnswered;
    int m_opened = 0;
    bool m_again = false;
};

// The start-up's end once the search has chosen a port: five identifications; on success
// the unlock, 50 ms and `featuresRead` (the configuration window's Features read and
// ApplyFeatures). False when the sensor did not answer.
bool ConnectChosenSensor(CommandExchange& exchange,
                         const std::function<void(const std::string&)>& setTitle,
                         const std::function<void()>& featuresRead);

} // namespace quellon
