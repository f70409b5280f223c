// The end-of-line station: SHA-256 against the FIPS 180 vectors and sha256sum, the serial
// number counter shared by many takers at once, and quellon-cli's station, station-check and
// verify against five virtual sensors on pseudo-terminals.
#include "sim/VirtualSensor.h"
#include "station/Sha256.h"
#include "station/StationFiles.h"
#include "tests/support/CliRun.h"
#include "tests/support/HexText.h"
#include "tests/support/SensorHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sys/resource.h>
#include <thread>

using namespace quellon;
using namespace quellon::test;
using quellon::station::Record;

namespace {

std::string Folder(const std::string& name) {
    std::string folder = ::testing::TempDir() + "station-" + name + "-XXXXXX";
    EXPECT_NE(mkdtemp(folder.data()), nullptr);
    return folder;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) {
        text += l + "\n";
    }
    return text;
}

} // namespace

TEST(Station, Sha256MatchesTheStandardVectorsAndSha256sum) {
    const std::string folder = Folder("sha");
    // A file of every byte value, longer than several blocks, hashed by the system's tool.
    std::string bytes;
    for (int i = 0; i < 1000; ++i) {
        bytes += static_cast<char>((i * 37 + i / 256) & 0xff);
    }
    WriteTextFile(folder + "/bytes.bin", bytes);
    std::string tool;
    if (std::FILE* p = ::popen(("sha256sum " + folder + "/bytes.bin").c_str(), "r")) {
        char buffer[128] = {};
        if (std::fgets(buffer, sizeof buffer, p)) {
            tool = std::string(buffer).substr(0, 64);
        }
        ::pclose(p);
    }
    ASSERT_EQ(tool.size(), 64u) << "sha256sum gave no digest";
    const struct {
        std::string text;
        std::string digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmn"
         "opqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {std::string(55, 'x'), ""}, // padding fits the block exactly: against itself split
        {bytes, tool},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 20) + " (" + std::to_string(c.text.size()) + " bytes)");
        const std::string whole = station::Sha256Hex(c.text);
        if (!c.digest.empty()) {
            EXPECT_EQ(whole, c.digest);
        }
        // The same bytes in pieces of every size up to 70 give the same digest.
        for (std::size_t piece = 1; piece <= 70 && c.text.size() < 5000; ++piece) {
            station::Sha256 sha;
            for (std::size_t at = 0; at < c.text.size(); at += piece) {
                sha.Update(std::string_view(c.text).substr(at, piece));
            }
            std::string hex;
            for (const std::uint8_t b : sha.Finish()) {
                char two[3];
                std::snprintf(two, sizeof two, "%02x", b);
                hex += two;
            }
            ASSERT_EQ(hex, whole) << "in pieces of " << piece;
        }
    }
    std::filesystem::remove_all(folder);
}

// Takers on threads of their own, each with its own open lock, as separate stations are:
// every number of the range is given exactly once, then none.
TEST(Station, SharedCounterGivesEveryNumberOnce) {
    const std::string folder = Folder("counter");
    const std::string path = folder + "/serials.txt";
    WriteTextFile(path, "99\n"); // numbers up to 99 given by an earlier range
    constexpr int kTakers = 4;
    std::vector<std::vector<std::uint32_t>> taken(kTakers);
    std::vector<int> exhausted(kTakers, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kTakers; ++t) {
        threads.emplace_back([&, t] {
            const station::SerialCounter counter(path, 50, 179);
            for (;;) {
                std::uint32_t n = 0;
                std::string reason;
                const auto outcome = counter.Take(n, reason);
                if (outcome != station::SerialCounter::Outcome::Taken) {
                    exhausted[static_cast<std::size_t>(t)] =
                        outcome == station::SerialCounter::Outcome::Exhausted ? 1 : -1;
                    return;
                }
                taken[static_cast<std::size_t>(t)].push_back(n);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    std::multiset<std::uint32_t> all;
    for (const auto& list : taken) {
        all.insert(list.begin(), list.end());
    }
    EXPECT_EQ(all.size(), 80u);
    EXPECT_EQ(std::set<std::uint32_t>(all.begin(), all.end()).size(), all.size())
        << "no number twice";
    EXPECT_EQ(*all.begin(), 100u);
    EXPECT_EQ(*all.rbegin(), 179u);
    EXPECT_EQ(exhausted, std::vector<int>(kTakers, 1));
    EXPECT_EQ(FileText(path), "179\n");
    std::filesystem::remove_all(folder);
}

// A lock that another holder keeps is waited for, and given up with a message after the
// wait instead of hanging the station; one let go meanwhile is taken.
TEST(Station, ALockHeldElsewhereIsWaitedForWithinABound) {
    const std::string folder = Folder("lock");
    const std::string path = folder + "/serials.txt.lock";
    const struct {
        const char* name;
        int releaseAfterMs; // -1: kept all along
        bool locked;
    } cases[] = {{"let go meanwhile", 100, true}, {"kept", -1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        station::FileLock other;
        std::string reason;
        ASSERT_TRUE(other.Lock(path, reason)) << reason;
        std::thread release;
        if (c.releaseAfterMs >= 0) {
            release = std::thread([&other, &c] {
                std::this_thread::sleep_for(std::chrono::milliseconds(c.releaseAfterMs));
                other.Unlock();
            });
        }
        station::FileLock mine;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(mine.Lock(path, reason, std::chrono::milliseconds(400)), c.locked) << reason;
        const auto waited = std::chrono::steady_clock::now() - start;
        if (release.joinable()) {
            release.join();
        }
        if (c.locked) {
            EXPECT_GE(waited, std::chrono::milliseconds(90));
        } else {
            EXPECT_GE(waited, std::chrono::milliseconds(400));
            EXPECT_LT(waited, std::chrono::seconds(3)) << "bounded";
            EXPECT_NE(reason.find("is held by another program for more than 400 ms"),
                      std::string::npos)
                << reason;
        }
    }
    std::filesystem::remove_all(folder);
}

namespace {

// In a child process: appends a record to a log that may grow to `limit` bytes only; 0 when
// the append failed and said why.
int AppendBeyondASizeLimit(const std::string& log, std::size_t limit) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit size{limit, limit};
    if (::setrlimit(RLIMIT_FSIZE, &size) != 0) {
        return 3;
    }
    Record record = {{"station", "line-2"}, {"result", "fail"}, {"reason", "x"}};
    std::string why;
    const bool written = station::AppendRecord(log, record, why);
    return !written && why.find("cannot write the log") != std::string::npos ? 0 : 1;
}

} // namespace

// A record that could go to the disk only in part (a full disk: here a file size limit) is
// taken out again, so the log's chain still holds for the records after it.
TEST(Station, ARecordWrittenInPartIsTakenOutAgain) {
    const std::string folder = Folder("partial");
    const std::string log = folder + "/station.jsonl";
    std::string reason;
    Record first = {{"station", "line-2"}, {"result", "pass"}};
    ASSERT_TRUE(station::AppendRecord(log, first, reason)) << reason;
    const std::string before = FileText(log);
    GTEST_FLAG_SET(death_test_style, "fast"); // the child works on this test's files
    EXPECT_EXIT(std::_Exit(AppendBeyondASizeLimit(log, before.size() + 40)),
                ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(FileText(log), before);
    Record third = {{"station", "line-2"}, {"result", "pass"}};
    ASSERT_TRUE(station::AppendRecord(log, third, reason)) << reason;
    EXPECT_TRUE(station::CheckChain(log).ok) << station::CheckChain(log).reason;
    std::filesystem::remove_all(folder);
}

namespace {

struct Unit {
    const char* faults;
    const char* result;
    const char* reason; // in the record's reason
    bool usedUp;        // took a serial number from the counter and failed after
};

struct Bench {
    std::vector<std::unique_ptr<sim::VirtualSensor>> sensors;
    std::vector<std::string> args = {"--no-default-ports"};
    void Add(int com, const std::string& faults) {
        sim::Options o = FastBootloaderOptions();
        o.faults = faults;
        sensors.push_back(std::make_unique<sim::VirtualSensor>(o));
        ASSERT_TRUE(sensors.back()->Start());
        args.push_back("--port");
        args.push_back("COM" + std::to_string(com) + "=" + sensors.back()->SlavePath());
    }
};

std::map<std::string, Record> RecordsByPort(const std::string& log) {
    std::map<std::string, Record> out;
    for (const std::string& line : Lines(FileText(log))) {
        const Record r = Record::parse(line);
        out[r["port"].get<std::string>()] = r;
    }
    return out;
}

} // namespace

TEST(Station, FiveUnitsOneRunThenChecksAndVerifies) {
    const std::string folder = Folder("run");
    WriteTextFile(folder + "/fw.hex", JoinLines(FirmwareLines(40, 0x21, 0x05)));
    WriteTextFile(folder + "/customer.dsc", "26:04b0\n28:0100\n0c:01ad\n");
    WriteTextFile(folder + "/job.json", R"({"station": "line-2", "firmware": "fw.hex",
        "configuration": "customer.dsc",
        "serial_numbers": {"first": 5000, "last": 5999, "counter": "serials.txt"},
        "manufacture_date": "today", "log": "station.jsonl"})");
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    localtime_r(&now, &today);

    const Unit units[] = {
        {"", "pass", "", false},
        {"", "pass", "", false},
        {"refuse-write", "fail",
         "configuration: 0 of 3 words were written: the sensor answers but did not take", false},
        // 109 replies make a whole unit: this one falls silent in the read-back
        {"silent-after=90", "fail", "could not be read: the sensor fell silent", true},
        {"silent", "fail", "identification: the sensor did not answer", false},
    };
    Bench first;
    for (int i = 0; i < 5; ++i) {
        first.Add(5 + i, units[i].faults);
    }
    std::vector<std::string> args = first.args;
    args.insert(args.end(), {"--all", "station", "job.json"});
    const CliRun run = RunCli(QUELLON_CLI_PATH, args, folder, 180000);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("station line-2: 5 units, 2 passed, 3 failed"), std::string::npos)
        << run.out;

    const std::string log = folder + "/station.jsonl";
    std::map<std::string, Record> records = RecordsByPort(log);
    ASSERT_EQ(records.size(), 5u) << FileText(log);
    std::set<std::uint32_t> serials;
    for (int i = 0; i < 5; ++i) {
        const std::string port = "COM" + std::to_string(5 + i);
        SCOPED_TRACE(port);
        const Record& r = records[port];
        EXPECT_EQ(r["result"], units[i].result) << r.dump();
        EXPECT_EQ(r["station"], "line-2");
        EXPECT_EQ(r["firmware_before"], i < 4 ? Record("4.027") : Record(nullptr));
        if (units[i].reason[0]) {
            EXPECT_NE(r.value("reason", "").find(units[i].reason), std::string::npos) << r.dump();
            EXPECT_NE(run.out.find("\n  " + port + " failed: " + r.value("reason", "") + "\n"),
                      std::string::npos)
                << run.out;
            EXPECT_EQ(r["serial_number"].is_number(), units[i].usedUp) << r.dump();
            if (units[i].usedUp) {
                serials.insert(r["serial_number"].get<std::uint32_t>());
                EXPECT_NE(run.out.find("serial numbers used up by failed units: " +
                                       r["serial_number"].dump() + "\n"),
                          std::string::npos)
                    << run.out;
            }
            continue;
        }
        const sim::VirtualSensor& s = *first.sensors[static_cast<std::size_t>(i)];
        EXPECT_EQ(s.FirmwareNumber(), 0x21u);
        EXPECT_EQ(r["firmware_after"], "33.005");
        EXPECT_EQ(s.ReadWord(0x26), 0x04b0);
        EXPECT_EQ(s.ReadWord(0x28), 0x0100);
        EXPECT_EQ(s.ReadWord(0x0c), 0x01ad);
        EXPECT_EQ(s.ReadWord(0x90), today.tm_mday);
        EXPECT_EQ(s.ReadWord(0x92), today.tm_mon + 1);
        EXPECT_EQ(s.ReadWord(0x94), today.tm_year % 100);
        const std::uint16_t serial = s.ReadWord(0x80);
        EXPECT_GE(serial, 5000);
        EXPECT_LE(serial, 5999);
        EXPECT_EQ(r["serial_number"], serial);
        serials.insert(serial);
        // The fingerprint is of the words the sensor holds, as an export lists them.
        std::string words;
        for (const auto& [address, value] : r["words"].items()) {
            words += address + ":" + value.get<std::string>() + "\n";
            EXPECT_EQ(s.ReadWord(static_cast<std::uint16_t>(std::stoul(address, nullptr, 16))),
                      std::stoul(value.get<std::string>(), nullptr, 16))
                << address;
        }
        EXPECT_EQ(r["words_sha256"], station::Sha256Hex(words));
    }
    EXPECT_EQ(serials.size(), 3u) << "distinct numbers";

    // A second run: two new units and one of the first run's again, which keeps its number.
    // One new unit comes holding 5999, a number of the range that the counter has not given:
    // it gets a number of its own, since the counter would give 5999 to another unit later.
    Bench second;
    second.Add(5, "");
    second.Add(6, "");
    second.sensors[1]->WriteWord(0x80, 5999);
    args = second.args;
    args.insert(args.end(), {"--port", "COM7=" + first.sensors[0]->SlavePath()});
    args.insert(args.end(), {"--all", "station", "job.json"});
    const CliRun again = RunCli(QUELLON_CLI_PATH, args, folder, 180000);
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    const std::uint32_t firstRunLast = *serials.rbegin();
    const std::vector<std::string> lines = Lines(FileText(log));
    ASSERT_EQ(lines.size(), 8u);
    for (std::size_t i = 5; i < 8; ++i) {
        const Record r = Record::parse(lines[i]);
        const std::uint32_t n = r["serial_number"];
        if (r["port"] == "COM7") {
            EXPECT_EQ(n, first.sensors[0]->ReadWord(0x80));
            EXPECT_EQ(r["serial_number_kept"], true);
        } else {
            EXPECT_GT(n, firstRunLast) << "a new number";
            EXPECT_NE(n, 5999u) << "a number the counter has not given is not kept";
            EXPECT_EQ(r["serial_number_kept"], false);
            serials.insert(n);
        }
    }
    EXPECT_EQ(serials.size(), 5u);

    // station-check: the log as written, and with one byte changed, a line removed or two
    // lines swapped.
    const std::string text = FileText(log);
    std::string flipped = text;
    flipped[lines[0].size() + 1 + lines[1].find("\"seconds\"") + 11] ^= 1; // a digit of line 2
    std::vector<std::string> removed = lines;
    removed.erase(removed.begin() + 2);
    std::vector<std::string> swapped = lines;
    std::swap(swapped[3], swapped[4]);
    const struct {
        const char* name;
        std::string text;
        int status;
        std::string message;
    } logs[] = {
        {"as written", text, 0, ""},
        {"one byte changed", flipped, 1, ": line 2: "},
        {"a line removed", Joined(removed), 1, ": line 3: "},
        {"two lines swapped", Joined(swapped), 1, ": line 4: "},
        {"the last line cut", text.substr(0, text.size() - 5), 1, ": line 8: "},
    };
    for (const auto& c : logs) {
        SCOPED_TRACE(c.name);
        WriteTextFile(folder + "/check.jsonl", c.text);
        const CliRun check = RunCli(QUELLON_CLI_PATH, {"station-check", "check.jsonl"}, folder);
        EXPECT_EQ(check.status, c.status) << check.out << check.err;
        if (c.status == 0) {
            EXPECT_NE(check.out.find("records=8"), std::string::npos) << check.out;
        } else {
            EXPECT_NE(check.err.find("check.jsonl" + c.message), std::string::npos) << check.err;
        }
    }

    // verify: a unit changed after the station, and one that was not.
    first.sensors[1]->WriteWord(0x26, 0x0500);
    const struct {
        std::size_t sensor;
        int status;
        const char* result;
    } fields[] = {{0, 0, "result=unchanged"}, {1, 1, "result=changed changes=26:04b0->0500"}};
    for (const auto& c : fields) {
        std::vector<std::string> a = {"--no-default-ports", "--port",
                                      "COM5=" + first.sensors[c.sensor]->SlavePath(), "verify",
                                      "station.jsonl"};
        const CliRun verify = RunCli(QUELLON_CLI_PATH, a, folder);
        EXPECT_EQ(verify.status, c.status) << verify.out << verify.err;
        EXPECT_NE(verify.out.find(c.result), std::string::npos) << verify.out;
    }
    std::filesystem::remove_all(folder);
}

// A job that cannot run is refused with its reason before any port is opened: the sensor on
// the named port receives nothing.
TEST(Station, BadJobsAreRefusedBeforeAnyPortOpens) {
    const std::string folder = Folder("jobs");
    WriteTextFile(folder + "/fw.hex", JoinLines(FirmwareLines(4, 0x21, 0x05)));
    WriteTextFile(folder + "/bad.hex", ":10000000FF\n");
    WriteTextFile(folder + "/customer.dsc", "26:04b0\n");
    WriteTextFile(folder + "/bad.dsc", "26:04b0\n28:1x\n");
    WriteTextFile(folder + "/used.txt", "5999\n");
    WriteTextFile(folder + "/serial.dsc", "26:04b0\n80:04d2\n");
    WriteTextFile(folder + "/dated.dsc", "26:04b0\n92:000c\n");
    const std::string range = R"("serial_numbers": {"first": 5000, "last": 5999, "counter": )";
    const struct {
        const char* name;
        std::string job;
        std::string message;
    } cases[] = {
        {"an unknown key", R"({"log": "l", "firmwre": "fw.hex"})", "unknown key \"firmwre\""},
        {"no log", R"({"firmware": "fw.hex"})", "the job has no \"log\""},
        {"a missing firmware", R"({"log": "l", "firmware": "none.hex"})",
         "cannot open the firmware none.hex"},
        {"a refused firmware", R"({"log": "l", "firmware": "bad.hex"})",
         "the firmware bad.hex is refused: line 1"},
        {"a missing configuration", R"({"log": "l", "configuration": "none.dsc"})",
         "the configuration none.dsc is refused: Cannot open file"},
        {"a refused configuration", R"({"log": "l", "configuration": "bad.dsc"})",
         "the configuration bad.dsc is refused: Cannot import bad.dsc: line 2"},
        {"an exhausted range", R"({"log": "l", )" + range + R"("used.txt"}})",
         "the serial numbers 5000 to 5999 are used up"},
        {"a range beyond a word", R"({"log": "l", "serial_numbers": {"first": 1, "last": 70000,
          "counter": "n.txt"}})",
         "\"serial_numbers\" takes"},
        {"a bad date", R"({"log": "l", "manufacture_date": "31:13:26"})",
         "\"manufacture_date\" takes \"today\" or DD:MM:YY"},
        {"a configuration that writes the serial number",
         R"({"log": "l", "configuration": "serial.dsc", )" + range + R"("n.txt"}})",
         "the configuration serial.dsc writes the serial number (80)"},
        {"a configuration that writes the date",
         R"({"log": "l", "configuration": "dated.dsc", "manufacture_date": "today"})",
         "the configuration dated.dsc writes the manufacture date"},
        {"a range that holds a blank sensor's 65535",
         R"({"log": "l", "serial_numbers": {"first": 65000, "last": 65535, "counter": "n.txt"}})",
         "may not hold 0 or 65535"},
        {"a range that holds 0",
         R"({"log": "l", "serial_numbers": {"first": 0, "last": 9, "counter": "n.txt"}})",
         "may not hold 0 or 65535"},
        {"a log that cannot be written", R"({"log": "none/l", "configuration": "customer.dsc"})",
         "cannot write the log"},
        {"not JSON", "{\"log\": ", "is not JSON"},
    };
    sim::VirtualSensor sensor(FastBootloaderOptions());
    ASSERT_TRUE(sensor.Start());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTextFile(folder + "/job.json", c.job);
        const CliRun run = RunCli(QUELLON_CLI_PATH,
                                  {"--no-default-ports", "--port", "COM5=" + sensor.SlavePath(),
                                   "--all", "station", "job.json"},
                                  folder);
        EXPECT_EQ(run.status, 2) << run.out << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_TRUE(sensor.Frames().empty()) << "nothing reached the sensor";
        EXPECT_FALSE(std::filesystem::exists(folder + "/l")) << "no record";
    }
    EXPECT_EQ(FileText(folder + "/used.txt"), "5999\n");
    std::filesystem::remove_all(folder);
}

// A log's chain can be made by anyone: records whose fields are not of their kind, or a line
// nested a million deep, get a message from verify and station-check, never a crash.
TEST(Station, HostileLogsGetAMessageNotACrash) {
    const std::string folder = Folder("hostile");
    sim::VirtualSensor sensor(FastBootloaderOptions());
    ASSERT_TRUE(sensor.Start());
    const unsigned serial = sensor.ReadWord(0x80);
    const std::string deep = std::string(1000000, '[') + std::string(1000000, ']');
    const struct {
        const char* name;
        std::string field; // the JSON of the record's "x", after serial_number
        bool viaChain;     // appended as a record with its chain, else written as a raw line
        int checkStatus;
        int verifyStatus;
        const char* message;
    } cases[] = {
        {"fields of another kind", R"({"result": 5, "time": 7, "words_sha256": []})", true, 0, 1,
         "no passing record of serial number"},
        {"a value nested a million deep", deep, false, 1, 2, "nested too deeply"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string log = folder + "/" + std::to_string(&c - cases) + ".jsonl";
        if (c.viaChain) {
            Record r = Record::parse(c.field);
            r["serial_number"] = serial;
            r["words"] = {{"26", "04b0"}};
            std::string reason;
            ASSERT_TRUE(station::AppendRecord(log, r, reason)) << reason;
        } else {
            WriteTextFile(log, std::string(R"({"prev":"0","hash":"0","x":)") + c.field + "}\n");
        }
        const CliRun check = RunCli(QUELLON_CLI_PATH, {"station-check", log}, folder);
        EXPECT_EQ(check.status, c.checkStatus) << check.out << check.err;
        const CliRun verify = RunCli(
            QUELLON_CLI_PATH,
            {"--no-default-ports", "--port", "COM5=" + sensor.SlavePath(), "verify", log}, folder);
        EXPECT_EQ(verify.status, c.verifyStatus) << verify.err;
        EXPECT_NE((check.out + check.err + verify.err).find(c.message), std::string::npos)
            << check.out << check.err << verify.err;
    }
    std::filesystem::remove_all(folder);
}
