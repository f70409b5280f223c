// Builds without libmosquitto (Windows): the feed says that it cannot publish.
#include "feed/MqttFeed.h"

namespace quellon::feed {

struct MqttFeed::Impl {};

bool PublishingAvailable() {
    return false;
}

MqttFeed::MqttFeed(FeedSettings, ReadingBuffer&, Listener) {}
MqttFeed::~MqttFeed() = default;

bool MqttFeed::Start(std::string& error) {
    error = "this build cannot publish: it has no MQTT library";
    return false;
}
void MqttFeed::SetAvailable(bool) {}
void MqttFeed::Stop(std::chrono::milliseconds) {}
bool MqttFeed::Connected() const {
    return false;
}

} // namespace quellon::feed
