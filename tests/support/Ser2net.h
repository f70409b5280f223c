#pragma once
// Debian's ser2net serving a device (a virtual sensor's pseudo-terminal) on 127.0.0.1, as a
// serial device server does: RFC 2217 or raw TCP, on a free port, started and stopped by
// the test itself.
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace quellon::test {

class Ser2net {
public:
    enum class Kind { Rfc2217, Tcp };

    Ser2net() = default;
    ~Ser2net() { Stop(); }
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    static std::string Program() {
        struct stat st {};
        return ::stat("/usr/sbin/ser2net", &st) == 0 ? "/usr/sbin/ser2net" : "ser2net";
    }

    // Serves `device` at 19200 8N1 on a free port of 127.0.0.1; false with the reason.
    bool Start(const std::string& device, Kind kind, std::string& why) {
        m_port = FreePort();
        if (m_port == 0) {
            why = "no free port on 127.0.0.1";
            return false;
        }
        m_kind = kind;
        m_config = std::filesystem::temp_directory_path().string() + "/ser2net-" +
                   std::to_string(::getpid()) + "-" + std::to_string(m_port) + ".yaml";
        std::ofstream(m_config) << "%YAML 1.1\n---\n"
                                << "connection: &quellon\n"
                                << "    accepter: "
                                << (kind == Kind::Rfc2217 ? "telnet(rfc2217),tcp," : "tcp,")
                                << "127.0.0.1," << m_port << "\n"
                                << "    connector: serialdev," << device << ",19200n81,local\n"
                                << "    options:\n"
                                << "      kickolduser: true\n"
                                << "      chardelay: false\n";
        return Spawn(why);
    }

    // The same server again, on the same port, after Stop.
    bool Restart(std::string& why) {
        Stop();
        return Spawn(why);
    }

    // Ends the server: its connections close under their clients.
    void Stop() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

    std::string Url() const {
        return std::string(m_kind == Kind::Rfc2217 ? "rfc2217://" : "tcp://") +
               "127.0.0.1:" + std::to_string(m_port);
    }
    std::string Log() const {
        std::ifstream in(m_config + ".log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // A port of 127.0.0.1 that nothing listens on (just now).
    static int FreePort() {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        int port = 0;
        if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0) {
            port = ntohs(a.sin_port);
        }
        ::close(s);
        return port;
    }

private:
    bool Spawn(std::string& why) {
        const std::string program = Program();
        std::vector<std::string> args = {program,          "-n", "-u", "-c", m_config, "-P",
                                         m_config + ".pid"};
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        const std::string log = m_config + ".log";
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT, 0644);
        const int r =
            ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (r != 0) {
            m_pid = -1;
            why = "cannot start " + program + " (install ser2net)";
            return false;
        }
        for (int i = 0; i < 500; ++i) { // until it accepts, at most 5 s
            if (Accepts()) {
                return true;
            }
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                why = "ser2net ended at once: " + Log();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        why = "ser2net does not accept on 127.0.0.1:" + std::to_string(m_port);
        return false;
    }

    bool Accepts() const {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(m_port));
        const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(s);
        return ok;
    }

    pid_t m_pid = -1;
    int m_port = 0;
    Kind m_kind = Kind::Rfc2217;
    std::string m_config;
};

} // namespace quellon::test
