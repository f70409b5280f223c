#pragma once
// monitor --publish: each reading of the live poll (or of the raw record) goes to an MQTT
// broker as well, through the feed's buffer, so that none is lost while the broker is away.
#include "cli/Commands.h"

#include <memory>
#include <string>
#include <vector>

namespace quellon::cli {

struct PublishOptions {
    std::string url; // empty: no publishing
    std::string ca;
    std::string cert;
    std::string key;
    std::string user;
};

// Takes the publishing option at args[i] (and its value); false when args[i] is none of them.
// `error` is set when it is one but its value is missing.
bool ParsePublishOption(const std::vector<std::string>& args, std::size_t& i, PublishOptions& o,
                        std::string& error);
// The options together: the URL parses, --cert comes with --key, --ca only with mqtts.
bool CheckPublishOptions(const PublishOptions& o, std::string& error);

class MonitorPublisher {
public:
    MonitorPublisher(Session& session, PublishOptions options, bool raw);
    ~MonitorPublisher();
    // Names the sensor (its serial number, else its COM number) and starts the client.
    bool Start();
    // One reading as its CSV line (without the port).
    void Reading(const std::string& csvLine);
    void PortGone();
    void PortBack();
    // Says what was published and what is still held; keeps the rest for the next run.
    void Finish();

    struct State;

private:
    std::unique_ptr<State> m_state;
};

} // namespace quellon::cli
