// quellon-cli monitor --publish against Debian's mosquitto on 127.0.0.1 and virtual sensors on
// pseudo-terminals: every reading arrives numbered, none lost while the broker is restarted;
// the retained announcements; TLS with a CA made here; refusals named; --all.
#include "sim/VirtualSensor.h"
#include "tests/support/CliRun.h"
#include "tests/support/Mosquitto.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

using namespace quellon;
using namespace quellon::test;

namespace {

std::string Folder(const std::string& name) {
    std::string folder = ::testing::TempDir() + "feed-" + name + "-XXXXXX";
    EXPECT_NE(mkdtemp(folder.data()), nullptr);
    return folder;
}

// seq numbers received per state topic.
std::map<std::string, std::vector<long long>> Sequences(const std::vector<Subscriber::Message>& m) {
    std::map<std::string, std::vector<long long>> out;
    for (const Subscriber::Message& x : m) {
        if (x.topic.size() > 6 && x.topic.compare(x.topic.size() - 6, 6, "/state") == 0) {
            const auto j = nlohmann::json::parse(x.payload);
            out[x.topic].push_back(j.at("seq").get<long long>());
            EXPECT_TRUE(j.contains("time") && j.contains("coarse") && j.contains("status"))
                << x.payload;
        }
    }
    return out;
}

// Every number from 1 to the highest, each at least once.
void ExpectEveryNumber(const std::vector<long long>& seqs, long long atLeast) {
    const std::set<long long> seen(seqs.begin(), seqs.end());
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(*seen.begin(), 1);
    EXPECT_GE(*seen.rbegin(), atLeast);
    EXPECT_EQ(static_cast<long long>(seen.size()), *seen.rbegin()) << "a number is missing";
}

int Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

} // namespace

// The broker stops for several seconds mid-run and starts again: the subscriber with a
// lasting session receives every number, those taken meanwhile among them; then the retained
// discovery configurations and "offline" are there for a newcomer.
TEST(FeedNetwork, EveryReadingArrivesThroughABrokerRestart) {
    const std::string folder = Folder("restart");
    Mosquitto broker;
    std::string why;
    ASSERT_TRUE(broker.Start(folder, {}, why)) << why;
    sim::VirtualSensor sensor;
    ASSERT_TRUE(sensor.Start());
    std::vector<Subscriber::Message> received;
    CliRun run;
    {
        Subscriber subscriber(broker.Port(), "plant/#");
        ASSERT_TRUE(subscriber.WaitSubscribed());
        std::thread cli([&] {
            run = RunCli(QUELLON_CLI_PATH,
                         {"--no-default-ports", "--port", "COM5=" + sensor.SlavePath(), "--json",
                          "monitor", "--seconds", "14", "--publish",
                          "mqtt://127.0.0.1:" + std::to_string(broker.Port()) + "/plant"},
                         folder, 60000);
        });
        std::this_thread::sleep_for(std::chrono::seconds(4));
        broker.Stop();
        std::this_thread::sleep_for(std::chrono::seconds(4));
        ASSERT_TRUE(broker.Restart(why)) << why;
        cli.join();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        received = subscriber.Messages();
    }
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("the broker has gone"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("the broker is back"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("\"event\":\"broker-gone\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"event\":\"broker-back\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"held\":0}"), std::string::npos) << run.out;
    const long long readings =
        static_cast<long long>(std::count(run.out.begin(), run.out.end(), '\n')) -
        4; // less the events and summary
    const auto seqs = Sequences(received);
    ASSERT_EQ(seqs.size(), 1u) << "one sensor, one state topic";
    ExpectEveryNumber(seqs.begin()->second, readings > 20 ? readings : 20);
    const std::string sensorTopic =
        seqs.begin()->first.substr(0, seqs.begin()->first.size() - 6); // plant/<serial>

    Subscriber late(broker.Port(), "#", "quellon-test-late");
    ASSERT_TRUE(late.WaitSubscribed());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    int configs = 0;
    std::string availability;
    for (const Subscriber::Message& m : late.Messages()) {
        if (m.topic.rfind("homeassistant/sensor/", 0) == 0) {
            EXPECT_TRUE(m.retained);
            const auto c = nlohmann::json::parse(m.payload);
            EXPECT_EQ(c.at("state_topic"), sensorTopic + "/state");
            EXPECT_EQ(c.at("availability_topic"), sensorTopic + "/availability");
            EXPECT_EQ(c.at("device").at("model"), "5630i");
            EXPECT_EQ(c.at("device").at("sw_version"), "4.027");
            EXPECT_NE(c.at("value_template").get<std::string>().find("value_json."),
                      std::string::npos);
            ++configs;
        } else if (m.topic == sensorTopic + "/availability") {
            availability = m.payload;
        }
    }
    EXPECT_EQ(configs, 5) << "coarse, fine, oil, temperature, status";
    EXPECT_EQ(availability, "offline");
    sensor.Stop();
    std::filesystem::remove_all(folder);
}

// TLS with a CA made here; a broker whose certificate another CA signed, and a wrong
// password, each refused with the reason named while the readings are held.
TEST(FeedNetwork, TlsAndRefusals) {
    const std::string folder = Folder("tls");
    const std::string f = folder + "/";
    const auto makeCa = [&](const std::string& name) {
        return Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=" + name +
                     " -keyout " + f + name + ".key -out " + f + name + ".crt");
    };
    ASSERT_EQ(makeCa("ca"), 0);
    ASSERT_EQ(makeCa("otherca"), 0);
    ASSERT_EQ(Shell("openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout " + f +
                    "server.key -out " + f + "server.csr"),
              0);
    std::ofstream(f + "san.ext") << "subjectAltName=IP:127.0.0.1\n";
    ASSERT_EQ(Shell("openssl x509 -req -in " + f + "server.csr -CA " + f + "ca.crt -CAkey " + f +
                    "ca.key -CAcreateserial -days 2 -extfile " + f + "san.ext -out " + f +
                    "server.crt"),
              0);
    ASSERT_EQ(Shell("mosquitto_passwd -b -c " + f + "passwords plant secret"), 0);

    struct Case {
        const char* name;
        bool tls;
        bool passwords;
        std::vector<std::string> extra;
        const char* password;
        bool published;
        const char* message; // in standard error
    };
    const Case cases[] = {
        {"TLS with the broker's CA",
         true,
         false,
         {"--ca", f + "ca.crt"},
         "",
         true,
         "publishing to mqtts://127.0.0.1:"},
        {"TLS with another CA",
         true,
         false,
         {"--ca", f + "otherca.crt"},
         "",
         false,
         "the broker's certificate was refused"},
        {"the right password", false, true, {"--user", "plant"}, "secret", true, "publishing"},
        {"a wrong password",
         false,
         true,
         {"--user", "plant"},
         "wrong",
         false,
         "refused the user name or password"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = Folder("tls-case");
        Mosquitto::Options o;
        if (c.tls) {
            o = {f + "ca.crt", f + "server.crt", f + "server.key", ""};
        }
        if (c.passwords) {
            o.passwordFile = f + "passwords";
        }
        Mosquitto broker;
        std::string why;
        ASSERT_TRUE(broker.Start(dir, o, why)) << why;
        sim::VirtualSensor sensor;
        ASSERT_TRUE(sensor.Start());
        ::setenv("QUELLON_MQTT_PASSWORD", c.password, 1);
        std::vector<std::string> args = {"--no-default-ports",
                                         "--port",
                                         "COM5=" + sensor.SlavePath(),
                                         "monitor",
                                         "--seconds",
                                         "3",
                                         "--publish",
                                         std::string(c.tls ? "mqtts" : "mqtt") + "://127.0.0.1:" +
                                             std::to_string(broker.Port()) + "/plant"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const CliRun run = RunCli(QUELLON_CLI_PATH, args, dir, 60000);
        ::unsetenv("QUELLON_MQTT_PASSWORD");
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        if (c.published) {
            EXPECT_NE(run.err.find(" readings published, 0 still held"), std::string::npos)
                << run.err;
        } else {
            EXPECT_NE(run.err.find("0 readings published"), std::string::npos) << run.err;
            EXPECT_NE(run.err.find("kept in quellon-feed-"), std::string::npos) << run.err;
        }
        sensor.Stop();
        std::filesystem::remove_all(dir);
    }
    std::filesystem::remove_all(folder);
}

// --all over two sensors: each under its own serial number, both numbered from 1.
TEST(FeedNetwork, AllPublishesEverySensor) {
    const std::string folder = Folder("all");
    Mosquitto broker;
    std::string why;
    ASSERT_TRUE(broker.Start(folder, {}, why)) << why;
    sim::Options second;
    second.seed = 2;
    sim::VirtualSensor a;
    sim::VirtualSensor b(second);
    ASSERT_TRUE(a.Start());
    ASSERT_TRUE(b.Start());
    // Both hold the same serial number: the second to start publishing takes its COM number.
    b.WriteWord(0x80, a.ReadWord(0x80));
    Subscriber subscriber(broker.Port(), "plant/#");
    ASSERT_TRUE(subscriber.WaitSubscribed());
    const CliRun run =
        RunCli(QUELLON_CLI_PATH,
               {"--no-default-ports", "--port", "COM5=" + a.SlavePath(), "--port",
                "COM6=" + b.SlavePath(), "--all", "monitor", "--seconds", "3", "--publish",
                "mqtt://127.0.0.1:" + std::to_string(broker.Port()) + "/plant"},
               folder, 60000);
    EXPECT_EQ(run.status, 0) << run.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto seqs = Sequences(subscriber.Messages());
    ASSERT_EQ(seqs.size(), 2u) << run.err;
    const std::string serial = std::to_string(a.ReadWord(0x80));
    EXPECT_EQ(seqs.count("plant/" + serial + "/state"), 1u) << run.err;
    EXPECT_EQ(seqs.count("plant/COM5/state") + seqs.count("plant/COM6/state"), 1u) << run.err;
    EXPECT_NE(run.err.find("another sensor of this run has the serial number " + serial),
              std::string::npos)
        << run.err;
    for (const auto& [topic, numbers] : seqs) {
        SCOPED_TRACE(topic);
        ExpectEveryNumber(numbers, 4);
    }
    a.Stop();
    b.Stop();
    std::filesystem::remove_all(folder);
}
