#include "feed/MqttFeed.h"

#include <mosquitto.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace quellon::feed {

namespace {

constexpr std::size_t kWindow = 64;   // readings handed to the client at a time
constexpr int kKeepAliveSeconds = 20; // a silent broker counts as gone after 1.5 times this
constexpr auto kRetry = std::chrono::seconds(2);
constexpr auto kConnectLimit = std::chrono::seconds(10); // connection, TLS and CONNACK

void InitialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

bool PublishingAvailable() {
    return true;
}

struct MqttFeed::Impl {
    FeedSettings settings;
    ReadingBuffer& buffer;
    Listener listener;
    mosquitto* client = nullptr;
    std::thread thread;
    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    std::chrono::steady_clock::time_point drainUntil;
    std::atomic<bool> connected{false};
    std::atomic<bool> available{true};
    bool availabilitySent = false;
    bool sentAvailable = false;
    int availabilityMid = -1;
    bool availabilityAcked = false;
    bool everConnected = false;
    bool wasGone = false;
    std::string lastFailure;
    std::string lastLog; // the library's last error line (TLS reasons)
    std::string refusal; // the broker's CONNACK refusal

    Impl(FeedSettings s, ReadingBuffer& b, Listener l)
        : settings(std::move(s)), buffer(b), listener(std::move(l)) {}

    static Impl& Of(void* p) { return *static_cast<Impl*>(p); }

    void Pump() {
        if (!connected) {
            return;
        }
        if (!availabilitySent || sentAvailable != available) {
            const bool now = available;
            const char* text = now ? "online" : "offline";
            int mid = 0;
            if (mosquitto_publish(client, &mid, settings.availabilityTopic.c_str(),
                                  static_cast<int>(std::strlen(text)), text, 1,
                                  true) == MOSQ_ERR_SUCCESS) {
                availabilitySent = true;
                sentAvailable = now;
                availabilityMid = mid;
                availabilityAcked = false;
            }
        }
        std::string payload;
        std::uint64_t id = 0;
        while (buffer.InFlight() < kWindow && buffer.NextToHand(payload, id)) {
            int mid = 0;
            const int rc =
                mosquitto_publish(client, &mid, settings.stateTopic.c_str(),
                                  static_cast<int>(payload.size()), payload.data(), 1, false);
            // Only a message refused before the library queued it is the reading's to hand
            // again. Any other failure (no connection, a write that failed) came after it was
            // queued under `mid`: the library sends it once connected again, and handing the
            // reading again would publish it twice.
            const bool refused = rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_NOMEM ||
                                 rc == MOSQ_ERR_PAYLOAD_SIZE || rc == MOSQ_ERR_MALFORMED_UTF8 ||
                                 rc == MOSQ_ERR_OVERSIZE_PACKET || rc == MOSQ_ERR_QOS_NOT_SUPPORTED;
            if (refused) {
                break;
            }
            buffer.Handed(id, mid);
            if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) {
                break;
            }
        }
    }

    static void OnConnect(mosquitto*, void* self, int rc) {
        Impl& f = Of(self);
        if (rc != 0) {
            f.refusal = rc == 4 || rc == 5
                            ? std::string("the broker refused the user name or password (") +
                                  mosquitto_connack_string(rc) + ")"
                            : std::string("the broker refused the connection (") +
                                  mosquitto_connack_string(rc) + ")";
            return;
        }
        f.refusal.clear();
        f.lastFailure.clear();
        f.connected = true;
        for (const auto& [topic, payload] : f.settings.retained) {
            mosquitto_publish(f.client, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                              payload.data(), 1, true);
        }
        f.availabilitySent = false;
        if (!f.everConnected) {
            f.everConnected = true;
            f.listener(FeedEvent::Connected, {});
        } else if (f.wasGone) {
            f.wasGone = false;
            f.listener(FeedEvent::Back, {});
        }
        f.Pump();
    }

    static void OnPublish(mosquitto*, void* self, int mid) {
        Impl& f = Of(self);
        if (mid == f.availabilityMid) {
            f.availabilityAcked = true;
        }
        f.buffer.Acknowledged(mid);
        f.Pump();
    }

    static void OnLog(mosquitto*, void* self, int level, const char* text) {
        if (level == MOSQ_LOG_ERR && text) {
            Of(self).lastLog = text;
        }
    }

    void Failed(int rc) {
        const int error = errno;
        std::string why = !refusal.empty()       ? refusal
                          : rc == MOSQ_ERR_ERRNO ? std::strerror(error)
                                                 : mosquitto_strerror(rc);
        if (refusal.empty() && !lastLog.empty()) {
            if (lastLog.find("certificate verify failed") != std::string::npos) {
                why = "the broker's certificate was refused (certificate verify failed)";
            } else {
                why += " (" + lastLog + ")";
            }
        }
        lastLog.clear();
        if (connected) {
            connected = false;
            wasGone = true;
            lastFailure = why;
            listener(FeedEvent::Gone, why);
            return;
        }
        if (everConnected) {
            wasGone = true;
        }
        if (why != lastFailure) {
            lastFailure = why;
            listener(FeedEvent::Unreachable, why);
        }
    }

    bool Stopping() {
        std::lock_guard<std::mutex> l(lock);
        return stopping;
    }

    void Run() {
        bool attempted = false;
        bool socketUp = false;
        std::chrono::steady_clock::time_point attemptStart;
        for (;;) {
            {
                std::lock_guard<std::mutex> l(lock);
                if (stopping) {
                    const bool drained = buffer.InFlight() == 0 && buffer.Held() == 0;
                    if (!connected || drained || std::chrono::steady_clock::now() >= drainUntil) {
                        break;
                    }
                }
            }
            if (!socketUp) {
                // Asynchronous: a host that drops the connection request leaves the attempt
                // to the time limit below, not to the system's minutes of retries.
                const int rc = attempted
                                   ? mosquitto_reconnect_async(client)
                                   : mosquitto_connect_async(client, settings.url.host.c_str(),
                                                             settings.url.port, kKeepAliveSeconds);
                attempted = true;
                attemptStart = std::chrono::steady_clock::now();
                if (rc != MOSQ_ERR_SUCCESS) {
                    Failed(rc);
                    std::unique_lock<std::mutex> l(lock);
                    wake.wait_for(l, kRetry, [this] { return stopping; });
                    if (stopping) {
                        break;
                    }
                    continue;
                }
                socketUp = true;
            }
            int rc = mosquitto_loop(client, 100, 1);
            if (rc == MOSQ_ERR_SUCCESS && !connected &&
                std::chrono::steady_clock::now() - attemptStart > kConnectLimit) {
                mosquitto_disconnect(client);
                lastLog = "no answer within " +
                          std::to_string(std::chrono::seconds(kConnectLimit).count()) + " s";
                rc = MOSQ_ERR_NO_CONN;
            }
            if (rc != MOSQ_ERR_SUCCESS) {
                socketUp = false;
                Failed(rc);
                std::unique_lock<std::mutex> l(lock);
                wake.wait_for(l, kRetry, [this] { return stopping; });
                continue;
            }
            Pump();
        }
        if (connected) {
            // The program ends: "offline" (retained), then a clean disconnect, which the
            // broker answers without sending the last will.
            available = false;
            Pump();
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (!availabilityAcked && std::chrono::steady_clock::now() < until &&
                   mosquitto_loop(client, 50, 1) == MOSQ_ERR_SUCCESS) {
            }
            mosquitto_disconnect(client);
            mosquitto_loop(client, 50, 1);
            connected = false;
        }
    }
};

MqttFeed::MqttFeed(FeedSettings settings, ReadingBuffer& buffer, Listener listener)
    : m_impl(std::make_unique<Impl>(std::move(settings), buffer, std::move(listener))) {}

MqttFeed::~MqttFeed() {
    Stop(std::chrono::milliseconds(0));
    if (m_impl->client) {
        mosquitto_destroy(m_impl->client);
    }
}

bool MqttFeed::Start(std::string& error) {
    InitialiseLibrary();
    Impl& f = *m_impl;
    f.client = mosquitto_new(f.settings.clientId.c_str(), true, &f);
    if (!f.client) {
        error = "cannot make an MQTT client";
        return false;
    }
    mosquitto_connect_callback_set(f.client, &Impl::OnConnect);
    mosquitto_publish_callback_set(f.client, &Impl::OnPublish);
    mosquitto_log_callback_set(f.client, &Impl::OnLog);
    mosquitto_max_inflight_messages_set(f.client, static_cast<unsigned>(kWindow) + 8);
    const char* offline = "offline";
    int rc = mosquitto_will_set(f.client, f.settings.availabilityTopic.c_str(),
                                static_cast<int>(std::strlen(offline)), offline, 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !f.settings.user.empty()) {
        rc = mosquitto_username_pw_set(f.client, f.settings.user.c_str(),
                                       f.settings.password.empty() ? nullptr
                                                                   : f.settings.password.c_str());
    }
    if (rc == MOSQ_ERR_SUCCESS && f.settings.url.tls) {
        rc = mosquitto_tls_set(
            f.client, f.settings.caFile.empty() ? nullptr : f.settings.caFile.c_str(),
            f.settings.caFile.empty() ? "/etc/ssl/certs" : nullptr,
            f.settings.certFile.empty() ? nullptr : f.settings.certFile.c_str(),
            f.settings.keyFile.empty() ? nullptr : f.settings.keyFile.c_str(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = std::string("the TLS files were refused: ") + mosquitto_strerror(rc) +
                    " (--ca " + f.settings.caFile + ")";
            return false;
        }
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        error = std::string("cannot set up the MQTT client: ") + mosquitto_strerror(rc);
        return false;
    }
    f.thread = std::thread([&f] { f.Run(); });
    return true;
}

void MqttFeed::SetAvailable(bool available) {
    m_impl->available = available;
}

bool MqttFeed::Connected() const {
    return m_impl->connected;
}

void MqttFeed::Stop(std::chrono::milliseconds drain) {
    Impl& f = *m_impl;
    {
        std::lock_guard<std::mutex> l(f.lock);
        if (!f.stopping) {
            f.stopping = true;
            f.drainUntil = std::chrono::steady_clock::now() + drain;
        }
    }
    f.wake.notify_all();
    if (f.thread.joinable()) {
        f.thread.join();
    }
}

} // namespace quellon::feed
