#include "cli/PublishCommand.h"

#include "config/FeatureWord.h"
#include "feed/FeedMessages.h"
#include "feed/MqttFeed.h"
#include "feed/ReadingBuffer.h"

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <sstream>
#include <unistd.h>

namespace quellon::cli {

namespace {

constexpr std::uint16_t kSerialNumberAddress = 0x0080;

} // namespace

bool ParsePublishOption(const std::vector<std::string>& args, std::size_t& i, PublishOptions& o,
                        std::string& error) {
    const std::string& a = args[i];
    std::string* target = a == "--publish" ? &o.url
                          : a == "--ca"    ? &o.ca
                          : a == "--cert"  ? &o.cert
                          : a == "--key"   ? &o.key
                          : a == "--user"  ? &o.user
                                           : nullptr;
    if (!target) {
        return false;
    }
    if (i + 1 >= args.size() || args[i + 1].empty()) {
        error = a + " needs a value";
        return true;
    }
    *target = args[++i];
    return true;
}

bool CheckPublishOptions(const PublishOptions& o, std::string& error) {
    if (o.url.empty()) {
        if (!o.ca.empty() || !o.cert.empty() || !o.key.empty() || !o.user.empty()) {
            error = "--ca, --cert, --key and --user go with --publish";
            return false;
        }
        return true;
    }
    if (!feed::PublishingAvailable()) {
        // Said before any port is opened or any sensor looked for.
        error = "this build cannot publish: it has no MQTT library (publish from the Linux build)";
        return false;
    }
    feed::FeedUrl url;
    if (!feed::ParseFeedUrl(o.url, url, error)) {
        return false;
    }
    if (o.cert.empty() != o.key.empty()) {
        error = "--cert and --key go together";
        return false;
    }
    if (!url.tls && (!o.ca.empty() || !o.cert.empty())) {
        error = "--ca, --cert and --key need an mqtts:// URL";
        return false;
    }
    return true;
}

struct MonitorPublisher::State {
    State(Session& session, PublishOptions o, bool isRaw)
        : s(session), options(std::move(o)), raw(isRaw) {}
    Session& s;
    PublishOptions options;
    bool raw;
    feed::FeedUrl url;
    std::string sensor;
    feed::SensorTopics topics;
    std::unique_ptr<feed::ReadingBuffer> buffer;
    std::unique_ptr<feed::MqttFeed> client;
    std::uint64_t seq = 0;
    std::string where; // "mqtt://host:port" for the messages
};

MonitorPublisher::MonitorPublisher(Session& session, PublishOptions options, bool raw)
    : m_state(std::make_unique<State>(session, std::move(options), raw)) {}

MonitorPublisher::~MonitorPublisher() {
    Finish();
}

bool MonitorPublisher::Start() {
    State& st = *m_state;
    Session& s = st.s;
    std::string error; // a build that cannot publish was refused with the options
    feed::ParseFeedUrl(st.options.url, st.url, error);
    std::uint16_t serial = 0;
    st.sensor = s.memory.ReadConfigWord(kSerialNumberAddress, serial) && serial != 0xffff
                    ? std::to_string(serial)
                    : s.Label();
    {
        // Two sensors of one run with the same serial number (or none set) would share a
        // topic and a spill file and throw each other off the broker: the second publishes
        // under its COM number.
        static std::mutex namesLock;
        static std::set<std::string> names;
        const std::lock_guard<std::mutex> l(namesLock);
        if (!names.insert(st.sensor).second) {
            s.Tell("another sensor of this run has the serial number " + st.sensor +
                   ": this one publishes as " + s.Label());
            st.sensor = s.Label();
            names.insert(st.sensor);
        }
    }
    st.topics = feed::TopicsOf(st.url.prefix, st.sensor);
    st.where = std::string(st.url.tls ? "mqtts://" : "mqtt://") + st.url.host + ":" +
               std::to_string(st.url.port);
    // A day of readings at the poll's rate in memory; more go to the spill file.
    const std::size_t bound = st.raw ? 86400 : 172800;
    st.buffer =
        std::make_unique<feed::ReadingBuffer>("quellon-feed-" + st.sensor + ".spool", bound);
    std::size_t left = 0;
    if (!st.buffer->LoadLeftOver(left, error)) {
        s.Tell(error + ": the readings an earlier run left there would be lost, so nothing is "
                       "published");
        return false;
    }
    if (left > 0) {
        s.Tell(std::to_string(left) + " readings left by an earlier run in " +
               st.buffer->SpillPath() + " are published first");
    }
    char firmware[32];
    std::snprintf(firmware, sizeof firmware, "%u.%03u", s.ports.firmwareNumber,
                  s.ports.firmwareRevision);
    const feed::Device device{st.sensor, (s.featureWord & FeatureBit::Inline) ? "5630i" : "5630",
                              firmware};
    feed::FeedSettings settings;
    settings.url = st.url;
    settings.caFile = st.options.ca;
    settings.certFile = st.options.cert;
    settings.keyFile = st.options.key;
    settings.user = st.options.user;
    if (const char* password = std::getenv("QUELLON_MQTT_PASSWORD");
        password && !st.options.user.empty()) {
        settings.password = password;
    }
    settings.clientId = "quellon-" + st.sensor + "-" + std::to_string(::getpid());
    settings.availabilityTopic = st.topics.availability;
    settings.stateTopic = st.topics.state;
    settings.retained =
        feed::DiscoveryConfigs(st.raw ? feed::RawValues() : feed::LiveValues(), st.topics, device);
    State* state = &st;
    st.client = std::make_unique<feed::MqttFeed>(
        settings, *st.buffer, [state](feed::FeedEvent event, const std::string& detail) {
            Session& session = state->s;
            const std::size_t held = state->buffer->Held();
            switch (event) {
            case feed::FeedEvent::Connected:
                session.Tell("publishing to " + state->where + " under " + state->topics.state);
                break;
            case feed::FeedEvent::Gone:
                session.Tell(state->where + ": the broker has gone (" + detail +
                             "); readings are held until it is back");
                if (session.printer.Json()) {
                    session.printer.Result(
                        session.Result().Add("event", "broker-gone").Add("reason", detail));
                }
                break;
            case feed::FeedEvent::Back:
                session.Tell(state->where + ": the broker is back; " + std::to_string(held) +
                             " held readings go first");
                if (session.printer.Json()) {
                    session.printer.Result(session.Result()
                                               .Add("event", "broker-back")
                                               .Add("held", static_cast<long long>(held)));
                }
                break;
            case feed::FeedEvent::Unreachable:
                session.Tell(state->where + ": cannot publish: " + detail +
                             "; readings are held and the broker is tried again");
                if (session.printer.Json()) {
                    session.printer.Result(
                        session.Result().Add("event", "broker-unreachable").Add("reason", detail));
                }
                break;
            }
        });
    if (!st.client->Start(error)) {
        s.Tell(error);
        return false;
    }
    return true;
}

void MonitorPublisher::Reading(const std::string& csvLine) {
    State& st = *m_state;
    const std::vector<feed::ValueInfo>& info = st.raw ? feed::RawValues() : feed::LiveValues();
    std::vector<feed::Value> values;
    std::stringstream in(csvLine);
    std::string field;
    for (std::size_t i = 0; i < info.size() && std::getline(in, field, ','); ++i) {
        feed::Value v;
        v.name = info[i].key;
        if (i + 1 == info.size()) {
            v.text = field; // the status code, in hexadecimal as in the CSV line
        } else {
            v.number = std::strtod(field.c_str(), nullptr);
        }
        values.push_back(v);
    }
    if (!st.buffer->Add(feed::StatePayload(++st.seq, std::chrono::system_clock::now(), values))) {
        st.s.Tell("cannot write " + st.buffer->SpillPath() + "; readings are held in memory");
    }
}

void MonitorPublisher::PortGone() {
    m_state->client->SetAvailable(false);
}

void MonitorPublisher::PortBack() {
    m_state->client->SetAvailable(true);
}

void MonitorPublisher::Finish() {
    State& st = *m_state;
    if (!st.client) {
        return;
    }
    st.client->Stop(std::chrono::seconds(3));
    const std::size_t held = st.buffer->Held();
    std::string error;
    std::string kept;
    if (held > 0) {
        kept = st.buffer->Keep(error) ? "; kept in " + st.buffer->SpillPath() + " for the next run"
                                      : "; " + error;
    }
    st.s.Tell(std::to_string(st.buffer->Published()) + " readings published, " +
              std::to_string(held) + " still held" + kept);
    if (st.s.printer.Json()) {
        st.s.printer.Result(st.s.Result()
                                .Add("published", static_cast<long long>(st.buffer->Published()))
                                .Add("held", static_cast<long long>(held)));
    }
    st.client.reset();
}

} // namespace quellon::cli
