#pragma once
// The client that carries one sensor's readings to the broker (libmosquitto), on a thread
// of its own: it connects and reconnects, announces the sensor ("online", retained, with
// "offline" as its last will) and its discovery configurations, and hands the buffer's
// readings out oldest first (QoS 1), a bounded number at a time; the broker's
// acknowledgement takes each out of the buffer. While the broker is away the readings wait
// in the buffer and the client tries again every few seconds.
#include "feed/FeedUrl.h"
#include "feed/ReadingBuffer.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quellon::feed {

struct FeedSettings {
    FeedUrl url;
    std::string caFile;   // mqtts: the CA that signed the broker's certificate; empty: the system's
    std::string certFile; // the client's certificate and key, both or none
    std::string keyFile;
    std::string user;     // empty: none
    std::string password; // only with a user
    std::string clientId;
    std::string availabilityTopic;
    std::string stateTopic;
    std::vector<std::pair<std::string, std::string>> retained; // sent at each connection
};

// What the client tells its owner (called on the client's thread).
enum class FeedEvent {
    Connected,   // the first connection
    Gone,        // the connection to the broker was lost
    Back,        // connected again after Gone or after failed attempts
    Unreachable, // an attempt failed (the detail says why); said again only when the reason changes
};

// True when this build can publish (not on Windows, where there is no libmosquitto).
bool PublishingAvailable();

class MqttFeed {
public:
    using Listener = std::function<void(FeedEvent, const std::string& detail)>;
    MqttFeed(FeedSettings settings, ReadingBuffer& buffer, Listener listener);
    ~MqttFeed();
    MqttFeed(const MqttFeed&) = delete;
    MqttFeed& operator=(const MqttFeed&) = delete;

    // Starts the client's thread; false with the reason when the settings are refused
    // (a file that cannot be read, ...).
    bool Start(std::string& error);
    // "online" or "offline" (retained) on the availability topic, now or at the next connection.
    void SetAvailable(bool available);
    // Waits up to `drain` for the buffer to empty while connected, says "offline", and ends.
    void Stop(std::chrono::milliseconds drain);
    bool Connected() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace quellon::feed
