#pragma once
// Debian's mosquitto on 127.0.0.1 on a free port, started and stopped by the test itself,
// with its session store in the test's folder (so that a subscriber's lasting session and
// its queued messages outlive a restart), optionally with TLS and a password file; and a
// subscriber on it (libmosquitto) that records every message it receives.
#include "tests/support/Ser2net.h"

#include <mosquitto.h>

#include <mutex>
#include <string>
#include <vector>

namespace quellon::test {

class Mosquitto {
public:
    struct Options {
        std::string caFile, certFile, keyFile; // TLS when certFile is set
        std::string passwordFile;              // mosquitto_passwd's format
    };

    ~Mosquitto() { Stop(); }

    static std::string Program() {
        struct stat st {};
        return ::stat("/usr/sbin/mosquitto", &st) == 0 ? "/usr/sbin/mosquitto" : "mosquitto";
    }

    bool Start(const std::string& folder, const Options& o, std::string& why) {
        m_port = Ser2net::FreePort();
        m_folder = folder;
        std::ofstream conf(folder + "/mosquitto.conf");
        conf << "listener " << m_port << " 127.0.0.1\n"
             << "persistence true\npersistence_location " << folder << "/\n"
             << "autosave_interval 1\n";
        if (::geteuid() == 0) {
            // As root it would become the user "mosquitto", who cannot read the test's
            // private folder.
            conf << "user root\n";
        }
        if (o.passwordFile.empty()) {
            conf << "allow_anonymous true\n";
        } else {
            conf << "allow_anonymous false\npassword_file " << o.passwordFile << "\n";
        }
        if (!o.certFile.empty()) {
            conf << "cafile " << o.caFile << "\ncertfile " << o.certFile << "\nkeyfile "
                 << o.keyFile << "\n";
        }
        conf.close();
        return Spawn(why);
    }
    bool Restart(std::string& why) { return Spawn(why); }

    // SIGTERM: the broker saves its sessions, as at a normal shutdown.
    void Stop() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }
    int Port() const { return m_port; }
    std::string Log() const { return FileText(m_folder + "/mosquitto.log"); }

    static std::string FileText(const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    bool Spawn(std::string& why) {
        const std::string program = Program();
        std::vector<std::string> args = {program, "-c", m_folder + "/mosquitto.conf"};
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string log = m_folder + "/mosquitto.log";
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        const int r =
            ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (r != 0) {
            m_pid = -1;
            why = "cannot start " + program + " (install mosquitto)";
            return false;
        }
        for (int i = 0; i < 500; ++i) {
            const int s = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<std::uint16_t>(m_port));
            const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            ::close(s);
            if (ok) {
                return true;
            }
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                why = "mosquitto ended at once: " + Log();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        why = "mosquitto does not accept on 127.0.0.1:" + std::to_string(m_port);
        return false;
    }

    pid_t m_pid = -1;
    int m_port = 0;
    std::string m_folder;
};

// A subscriber with a lasting session (clean session off, QoS 1): what the broker queued for
// it while it was away reaches it when it is back.
class Subscriber {
public:
    struct Message {
        std::string topic;
        std::string payload;
        bool retained;
    };

    Subscriber(int port, const std::string& filter, const std::string& id = "quellon-test-sub")
        : m_filter(filter) {
        mosquitto_lib_init();
        m_client = mosquitto_new(id.c_str(), false, this);
        mosquitto_connect_callback_set(m_client, [](mosquitto* m, void* self, int rc) {
            if (rc == 0) {
                mosquitto_subscribe(m, nullptr, static_cast<Subscriber*>(self)->m_filter.c_str(),
                                    1);
            }
        });
        mosquitto_subscribe_callback_set(
            m_client, [](mosquitto*, void* self, int, int, const int*) {
                std::lock_guard<std::mutex> l(static_cast<Subscriber*>(self)->m_lock);
                static_cast<Subscriber*>(self)->m_subscribed = true;
            });
        mosquitto_message_callback_set(
            m_client, [](mosquitto*, void* self, const mosquitto_message* m) {
                auto* s = static_cast<Subscriber*>(self);
                std::lock_guard<std::mutex> l(s->m_lock);
                s->m_messages.push_back({m->topic,
                                         std::string(static_cast<const char*>(m->payload),
                                                     static_cast<std::size_t>(m->payloadlen)),
                                         m->retain});
            });
        mosquitto_reconnect_delay_set(m_client, 1, 1, false);
        mosquitto_connect(m_client, "127.0.0.1", port, 10);
        mosquitto_loop_start(m_client);
    }
    // The loop thread ends by itself after the disconnect; cancelling it instead could leave
    // one of the library's mutexes locked when the client is destroyed.
    ~Subscriber() {
        mosquitto_disconnect(m_client);
        mosquitto_loop_stop(m_client, false);
        mosquitto_destroy(m_client);
    }
    bool WaitSubscribed() {
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard<std::mutex> l(m_lock);
                if (m_subscribed) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    std::vector<Message> Messages() {
        std::lock_guard<std::mutex> l(m_lock);
        return m_messages;
    }

private:
    std::string m_filter;
    mosquitto* m_client = nullptr;
    std::mutex m_lock;
    bool m_subscribed = false;
    std::vector<Message> m_messages;
};

} // namespace quellon::test
