// quellon-cli as a process against virtual sensors on pseudo-terminals: every command's
// results, messages and exit status, and --all on four sensors at once.
#include "cli/CliSupport.h"
#include "configfiles/ConfigTransfer.h"
#include "sim/VirtualSensor.h"
#include "tests/support/CliRun.h"
#include "tests/support/HexText.h"
#include "tests/support/SensorHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace quellon;
using namespace quellon::test;

namespace {

std::string Folder(const std::string& name) {
    std::string folder = ::testing::TempDir() + "cli-" + name + "-XXXXXX";
    EXPECT_NE(mkdtemp(folder.data()), nullptr);
    return folder;
}

int Count(const std::vector<std::string>& v, const std::string& prefix) {
    return static_cast<int>(std::count_if(
        v.begin(), v.end(), [&](const std::string& t) { return t.rfind(prefix, 0) == 0; }));
}

sim::Options Fast(const std::string& faults = {}) {
    sim::Options o = FastBootloaderOptions();
    o.faults = faults;
    return o;
}

std::vector<std::string> PortArgs(const sim::VirtualSensor& s, int com) {
    return {"--no-default-ports", "--port", "COM" + std::to_string(com) + "=" + s.SlavePath()};
}

} // namespace

TEST(Cli, EveryCommandAgainstTheVirtualSensor) {
    using Sensor = sim::VirtualSensor;
    struct Case {
        const char* name;
        std::vector<std::string> args; // after --no-default-ports --port COM5=...
        std::function<void(Sensor&, const std::string& folder)> setup = {};
        int status = 0;
        std::vector<std::string> out = {}; // each must appear in standard output
        std::string err = {};              // must appear in standard error
        std::function<void(Sensor&, const std::string& folder)> check = {};
        std::string faults = {};
        bool withPort = true;
    };
    const auto jOnly = [](Sensor& s, const std::string&) {
        s.WriteWord(0x0004, 862);
        s.WriteWord(0x0010, 862);
        s.WriteWord(0x00c6, 6);
        s.WriteWord(0x00cc, 0);
        s.WriteWord(0x00ca, 0xfe);
        s.WriteWord(0x00c8, 0xf1);
        s.WriteWord(0x00b8, 0x51);
    };
    const auto golden = [](Sensor&, const std::string& folder) {
        WriteTextFile(folder + "/golden.dsc", "26:04b0\n3a:0007\n");
    };
    const auto nothingWritten = [](Sensor& s, const std::string&) {
        EXPECT_EQ(Count(TextFrames(s), "W "), 0);
    };
    const Case cases[] = {
        {"identify",
         {"identify"},
         {},
         0,
         {"port=COM5 device=",
          "firmware=4.027 model=5630i output=\"4 - 20 mA\" third=\"Oil Status\""}},
        {"ports",
         {"ports"},
         {},
         0,
         {"port=COM5 device=", " sensor=true firmware=4.027 model=5630i"}},
        {"get as the window shows it",
         {"--json", "get", "coarse-full-scale", "full-scale-level", "can-id", "manufacture-date"},
         jOnly,
         0,
         {R"({"port":"COM5","name":"coarse-full-scale","value":"862","unit":""})",
          R"({"port":"COM5","name":"full-scale-level","value":"20.00","unit":"mA"})",
          R"({"port":"COM5","name":"can-id","value":"18fef151","unit":"hex"})",
          R"("name":"manufacture-date","value":"28:12:20")"}},
        {"set converts, writes, follows up and reads back",
         {"set", "oil-filter-time=2,57", "coarse-full-scale=016", "manufacture-date=3:4:25"},
         {},
         0,
         {"name=oil-filter-time written=true word=0019\n",
          "name=coarse-full-scale written=true word=0010 value=16\n",
          "name=manufacture-date written=true word=0003:0004:0019\n"},
         "",
         [](Sensor& s, const std::string&) {
             EXPECT_EQ(s.ReadWord(0x0024), 25);
             EXPECT_EQ(s.ReadWord(0x0004), 16);
             EXPECT_EQ(s.ReadWord(0x0094), 25);
             EXPECT_EQ(s.ReloadCount(), 2); // oil-filter-time and coarse-full-scale reload
         }},
        {"params with the feature word's offer",
         {"--json", "params"},
         {},
         0,
         {R"({"port":"COM5","name":"can-source-address","page":"PGN/ID","address":"0x00b8","unit":"hex","offered":false,"settable":true})",
          R"({"port":"COM5","name":"full-scale-level","page":"Analog Output","address":"0x0010","unit":"mA","offered":true,"settable":true})",
          R"("name":"run-time","page":"Log","address":"0x0060","unit":"h:m","offered":true,"settable":false})"}},
        {"params without a sensor: the whole map, without what a sensor offers",
         {"--no-default-ports", "--json", "params"},
         {},
         0,
         {R"({"name":"oil-upper-threshold","page":"Oil","address":"0x0026","unit":"","settable":true})",
          R"("name":"run-time","page":"Log","address":"0x0060","unit":"h:m","settable":false})"},
         "quellon-cli: no sensor found: what a sensor offers is not shown",
         {},
         "",
         false},
        {"monitor: the live poll as CSV",
         {"monitor", "--seconds", "2"},
         [](Sensor& s, const std::string&) {
             s.PinLive(sim::Field::Coarse, 0x32);
             s.PinLive(sim::Field::Fine, 0x10);
             s.PinLive(sim::Field::Oil, 0x400);
             s.PinLive(sim::Field::Temperature, 0x170);
             s.PinLive(sim::Field::Status, 0x02);
         },
         0,
         {"Seconds,Coarse(%),Fine(%),Oil Status,Temperature,Status\n", ",50,16,1000,23,02\n"},
         "",
         [](Sensor& s, const std::string&) {
             const int polls = Count(TextFrames(s), "A");
             EXPECT_GE(polls, 3) << "every 500 ms after the first at 200 ms";
             EXPECT_LE(polls, 5);
         }},
        {"monitor --raw",
         {"monitor", "--raw", "--seconds", "3"},
         [](Sensor& s, const std::string&) { s.PinLive(sim::Field::IntC, 0x190); },
         0,
         {"Seconds,Coarse(%),Fine(%),Dielectric,RawInt", ",400,"},
         "",
         [](Sensor& s, const std::string&) { EXPECT_EQ(Count(TextFrames(s), "a"), 2); }},
        {"--json monitor --raw: numbers JSON takes, the status as text",
         {"--json", "monitor", "--raw", "--seconds", "2"},
         [](Sensor& s, const std::string&) { s.PinLive(sim::Field::IntC, 0x190); },
         0,
         {R"("raw":[)", R"(,400,)", R"(],"status":"00"})"}},
        {"--json export to a name that is not UTF-8",
         {"--json", "export", "bad\xff-name"},
         {},
         0,
         {"\"file\":\"bad\xef\xbf\xbd-name.dsc\",\"words\":38"}},
        {"export",
         {"export", "out"},
         {},
         0,
         {"file=out.dsc words=38"},
         "",
         [](Sensor& s, const std::string& folder) {
             const std::string text = FileText(folder + "/out.dsc");
             EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 38);
             char first[16];
             std::snprintf(first, sizeof first, "1e:%04x\n", s.ReadWord(0x1e));
             EXPECT_EQ(text.rfind(first, 0), 0u) << text;
         }},
        {"import --dry-run writes nothing",
         {"import", "golden.dsc", "--dry-run"},
         golden,
         0,
         {"address=26 name=\"Oil Upper threshold\" file=04b0 sensor=", "summary="},
         "",
         nothingWritten},
        {"import",
         {"import", "golden.dsc"},
         golden,
         0,
         {"words=2"},
         "",
         [](Sensor& s, const std::string&) {
             EXPECT_EQ(s.ReadWord(0x0026), 0x04b0);
             EXPECT_EQ(s.ReadWord(0x003a), 7);
             EXPECT_EQ(s.ReloadCount(), 1);
         }},
        {"import of an address outside the configuration is refused",
         {"import", "odd.dsc"},
         [](Sensor&, const std::string& folder) {
             WriteTextFile(folder + "/odd.dsc", "26:04b0\nee:1234\n");
         },
         2,
         {},
         "- line 2: address ee is not one of the configuration words an export holds Write it "
         "to the sensor anyway?\nnothing was written; give --accept-unusual to write such a "
         "file\n",
         nothingWritten},
        {"import --accept-unusual writes it",
         {"import", "odd.dsc", "--accept-unusual"},
         [](Sensor&, const std::string& folder) {
             WriteTextFile(folder + "/odd.dsc", "26:04b0\n26:04b1\n");
         },
         0,
         {"words=2"},
         "",
         [](Sensor& s, const std::string&) { EXPECT_EQ(s.ReadWord(0x0026), 0x04b1); }},
        {"import of a bad file sends nothing",
         {"import", "bad.dsc"},
         [](Sensor&, const std::string& folder) {
             WriteTextFile(folder + "/bad.dsc", "26:04b0\nzz\n");
         },
         2,
         {},
         "line 2",
         nothingWritten},
        {"calibrate debris",
         {"calibrate", "debris"},
         {},
         0,
         {"calibration=debris result=done"},
         "Calibration finished",
         [](Sensor& s, const std::string&) {
             std::vector<std::string> c;
             for (const std::string& t : TextFrames(s)) {
                 if (t.size() == 2 && t[0] == 'c') {
                     c.push_back(t);
                 }
             }
             EXPECT_EQ(c, (std::vector<std::string>{"cs", "cy", "cz", "cf", "cc", "ce"}));
         }},
        {"unknown command",
         {"bogus"},
         {},
         2,
         {},
         "quellon-cli: unknown command 'bogus' (see --help)\n",
         [](Sensor& s, const std::string&) { EXPECT_TRUE(s.Frames().empty()); }},
        {"unknown parameter",
         {"get", "nope"},
         {},
         2,
         {},
         "quellon-cli: unknown parameter 'nope' (see quellon-cli params)\n",
         [](Sensor& s, const std::string&) { EXPECT_TRUE(s.Frames().empty()); }},
        {"read-only parameter",
         {"set", "run-time=5"},
         {},
         2,
         {},
         "run-time cannot be set",
         [](Sensor& s, const std::string&) { EXPECT_TRUE(s.Frames().empty()); }},
        {"text that is not a value of the parameter",
         {"set", "oil-upper-threshold=12abc"},
         {},
         2,
         {},
         "quellon-cli: oil-upper-threshold: \"12abc\" is not a whole number from -32768 to "
         "32767. Nothing was written.",
         nothingWritten},
        {"a day beyond the spin edit's limits",
         {"set", "manufacture-date=40:4:25"},
         {},
         2,
         {},
         "manufacture-date: \"40\" is not a whole number from 0 to 31",
         nothingWritten},
        {"an output level beyond the sensor's scale: no result line",
         {"set", "full-scale-level=761"},
         {},
         2,
         {},
         "full-scale-level: \"761\" is not a number from 0.00 to 760.26. Nothing was written.",
         nothingWritten},
        {"a silent sensor is no sensor", {"identify"}, {}, 3, {}, "no sensor", {}, "silent"},
        {"a --port path without a device is named",
         {"--no-default-ports", "--port", "COM9=no-adapter-here", "identify"},
         {},
         3,
         {},
         "quellon-cli: no sensor found\nCOM9 (no-adapter-here): no such device\n",
         {},
         "",
         false},
        {"--simulate",
         {"--no-default-ports", "--simulate", "--json", "identify"},
         {},
         0,
         {R"({"port":"COM1",)", R"("model":"5630","output":"4 - 20 mA")"},
         "",
         {},
         "",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sensor sensor(Fast(c.faults));
        ASSERT_TRUE(sensor.Start());
        const std::string folder = Folder("cmd");
        if (c.setup) {
            c.setup(sensor, folder);
        }
        std::vector<std::string> args =
            c.withPort ? PortArgs(sensor, 5) : std::vector<std::string>{};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliRun run = RunCli(QUELLON_CLI_PATH, args, folder);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        for (const std::string& o : c.out) {
            EXPECT_NE(run.out.find(o), std::string::npos) << o << "\nin:\n" << run.out << run.err;
        }
        EXPECT_NE(run.err.find(c.err), std::string::npos) << c.err << "\nin:\n" << run.err;
        if (std::find(c.args.begin(), c.args.end(), "--json") != c.args.end()) {
            std::istringstream lines(run.out);
            for (std::string line; std::getline(lines, line);) {
                EXPECT_TRUE(nlohmann::json::accept(line)) << "not JSON: " << line;
            }
        }
        if (c.status == 2 && c.out.empty()) {
            EXPECT_EQ(run.out, "") << "no result line for what was refused";
        }
        if (c.status != 0) {
            EXPECT_EQ(run.err.find('\r'), std::string::npos) << "no progress bar off a terminal";
        }
        if (c.check) {
            c.check(sensor, folder);
        }
        std::filesystem::remove_all(folder);
    }
}

TEST(Cli, AllUpgradesAndConfiguresFourSensorsAndASilentOneFailsAlone) {
    for (const int silent : {-1, 3}) { // four that answer; the fourth silent
        SCOPED_TRACE(silent < 0 ? "four answer" : "COM8 silent");
        std::vector<std::unique_ptr<sim::VirtualSensor>> sensors;
        std::vector<std::string> args = {"--no-default-ports"};
        for (int i = 0; i < 4; ++i) {
            sensors.push_back(
                std::make_unique<sim::VirtualSensor>(Fast(i == silent ? "silent" : "")));
            ASSERT_TRUE(sensors.back()->Start());
            args.push_back("--port");
            args.push_back("COM" + std::to_string(5 + i) + "=" + sensors.back()->SlavePath());
        }
        const std::string folder = Folder("all");
        WriteTextFile(folder + "/fw.hex", JoinLines(FirmwareLines(40, 0x21, 0x05)));
        WriteTextFile(folder + "/golden.dsc", "26:04b0\n28:0100\n");

        struct Step {
            std::vector<std::string> command;
            std::function<void(const sim::VirtualSensor&)> done; // on each sensor that answers
        } steps[] = {
            {{"--all", "upgrade", "fw.hex"},
             [](const sim::VirtualSensor& s) { EXPECT_EQ(s.FirmwareNumber(), 0x21u); }},
            {{"--all", "import", "golden.dsc"},
             [](const sim::VirtualSensor& s) {
                 EXPECT_EQ(s.ReadWord(0x0026), 0x04b0);
                 EXPECT_EQ(s.ReadWord(0x0028), 0x0100);
             }},
        };
        for (const Step& step : steps) {
            SCOPED_TRACE(step.command[1]);
            std::vector<std::string> a = args;
            a.insert(a.end(), step.command.begin(), step.command.end());
            const CliRun run = RunCli(QUELLON_CLI_PATH, a, folder);
            EXPECT_EQ(run.status, silent < 0 ? 0 : 1) << run.out << run.err;
            // The summary table: one line per port, the silent one failing alone.
            const auto summary = [&run](int com) {
                const std::string head = "\nCOM" + std::to_string(com) + "   ";
                const std::size_t at = run.out.find(head);
                return at == std::string::npos
                           ? std::string()
                           : run.out.substr(at + 1, run.out.find('\n', at + 1) - at - 1);
            };
            EXPECT_NE(run.out.find("port   sensor             result\n"), std::string::npos)
                << run.out;
            for (int i = 0; i < 4; ++i) {
                const std::string port = "COM" + std::to_string(5 + i);
                if (i == silent) {
                    EXPECT_EQ(
                        summary(5 + i),
                        port + "   -                  failed: the sensor refused or did not answer")
                        << run.out;
                    EXPECT_NE(run.err.find(port + ": the sensor did not answer"), std::string::npos)
                        << run.err;
                    continue;
                }
                step.done(*sensors[static_cast<std::size_t>(i)]);
                EXPECT_EQ(summary(5 + i), port + "   5630i FW-33.005    ok") << run.out;
                std::string log = folder;
                log.append("/debug-").append(port).append(".log");
                EXPECT_NE(FileText(log).find("\nOpen Port " + std::to_string(5 + i)),
                          std::string::npos);
            }
        }
        int backups = 0;
        for (const auto& e : std::filesystem::directory_iterator(folder)) {
            backups += e.path().filename().string().find("-backup-") != std::string::npos;
        }
        EXPECT_EQ(backups, silent < 0 ? 4 : 3) << "one configuration backup per upgraded sensor";
        std::filesystem::remove_all(folder);
    }
}

// An export that the sensor cuts short (it hangs up half-way) keeps the words it read
// without replacing any file: at the chosen name when nothing stood there, else in the first
// free partial name beside the file that would have been replaced, which for a link into
// another file system is beside the link's target. Standard error names that file, and the
// exit status is the sensor's failure.
TEST(Cli, ExportCutShortKeepsTheWordsReadAndReplacesNothing) {
    namespace fs = std::filesystem;
    struct stat here {};
    struct stat shm {};
    const bool otherFs = ::stat(::testing::TempDir().c_str(), &here) == 0 &&
                         ::stat("/dev/shm", &shm) == 0 && ::access("/dev/shm", W_OK) == 0 &&
                         here.st_dev != shm.st_dev;
    const struct {
        const char* name;
        bool older;        // a file stood at the chosen name (the link's target for a link)
        bool link;         // out.dsc is a link to real.dsc on another file system
        int olderPartials; // partial files that stood beside the target
        const char* wordsIn;
    } cases[] = {
        {"nothing at the chosen name", false, false, 0, "out.dsc"},
        {"an older file", true, false, 0, "out.partial.dsc"},
        {"an older file and an older partial file", true, false, 1, "out.partial-2.dsc"},
        {"a link into another file system", true, true, 0, "real.partial.dsc"},
    };
    bool skipped = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.link && !otherFs) {
            skipped = true;
            continue;
        }
        sim::VirtualSensor sensor(Fast("hangup-after=20"));
        ASSERT_TRUE(sensor.Start());
        const std::string folder = Folder("partial");
        std::string targetFolder = folder;
        if (c.link) {
            targetFolder = "/dev/shm/quellon-cli-partial-XXXXXX";
            ASSERT_NE(mkdtemp(targetFolder.data()), nullptr);
        }
        const std::string target = targetFolder + (c.link ? "/real.dsc" : "/out.dsc");
        if (c.older) {
            WriteTextFile(target, "1e:0041\n");
        }
        if (c.link) {
            fs::create_symlink(target, folder + "/out.dsc");
        }
        std::vector<std::string> older; // beside the target, each with a text of its own
        for (int n = 1; n <= c.olderPartials; ++n) {
            older.push_back(PartialExportPath(target, n));
            WriteTextFile(older.back(), "partial " + std::to_string(n) + "\n");
        }
        std::vector<std::string> args = PortArgs(sensor, 5);
        args.insert(args.end(), {"export", "out.dsc"});
        const CliRun run = RunCli(QUELLON_CLI_PATH, args, folder);

        EXPECT_EQ(run.status, cli::kExitSensor) << run.out << run.err;
        const std::string wordsIn = targetFolder + "/" + c.wordsIn;
        const std::size_t at = run.out.find(" words=");
        ASSERT_NE(at, std::string::npos) << run.out;
        const int words = std::atoi(run.out.c_str() + at + 7);
        EXPECT_GT(words, 0) << "the sensor answered some reads";
        EXPECT_LT(words, 38) << "and hung up before the last";
        // The words read are the sensor's own, in the list's order.
        std::string expected;
        for (int i = 0; i < words; ++i) {
            const ConfigAddress a = kExportList[static_cast<std::size_t>(i)];
            expected += DscLine(a, sensor.ReadWord(a));
        }
        EXPECT_EQ(FileText(wordsIn), expected);
        EXPECT_NE(run.err.find("There has been an error saving configuration"), std::string::npos)
            << run.err;
        // Named as given (relative to the working folder), a link's target in full.
        const std::string named = c.link ? wordsIn : c.wordsIn;
        EXPECT_NE(run.err.find(" " + named), std::string::npos)
            << "standard error names the file that holds the words:\n"
            << run.err;
        const bool partial = wordsIn != target;
        EXPECT_EQ(run.out.find(" partial=" + named) != std::string::npos, partial) << run.out;
        if (partial) {
            EXPECT_EQ(FileText(target), "1e:0041\n") << "the older file is kept whole";
        }
        for (int n = 1; n <= c.olderPartials; ++n) {
            EXPECT_EQ(FileText(older[static_cast<std::size_t>(n - 1)]),
                      "partial " + std::to_string(n) + "\n")
                << "an older partial file is kept whole";
        }
        EXPECT_EQ(fs::is_symlink(folder + "/out.dsc"), c.link);
        for (const std::string& f : {folder, targetFolder}) {
            for (const auto& e : fs::directory_iterator(f)) {
                EXPECT_NE(e.path().filename().string().rfind(".quellon-", 0), 0u)
                    << "no temporary file left: " << e.path();
            }
        }
        fs::remove_all(folder);
        if (c.link) {
            fs::remove_all(targetFolder);
        }
    }
    if (skipped) {
        GTEST_SKIP() << "the link into another file system needs /dev/shm on a file system of "
                        "its own, writable; the test folder shares it or it is missing";
    }
}

TEST(Cli, JsonStringsAreEscaped) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"a \"quoted\" \\ path", "a \\\"quoted\\\" \\\\ path"},
        {"line\nbreak\ttab\rret", "line\\nbreak\\ttab\\rret"},
        {std::string("nul\x01\x1f", 5), "nul\\u0001\\u001f"},
        {"\xc2\xb0"
         "C",
         "\xc2\xb0"
         "C"},
    };
    for (const auto& [text, escaped] : cases) {
        EXPECT_EQ(cli::JsonEscape(text), escaped);
        EXPECT_EQ(cli::Record().Add("k", text).Json(), "{\"k\":\"" + escaped + "\"}");
    }
}

// monitor rides through an unplug: the port's link leads to a new pseudo-terminal after a
// while (as a /dev/serial/by-id link does when the adapter is plugged in again); the monitor
// says that the port went and came back, and goes on reading the sensor found there.
TEST(Cli, MonitorRidesThroughAnUnplug) {
    const std::string folder = Folder("unplug");
    const std::string link = folder + "/by-id-quellon";
    sim::Options withLink;
    withLink.link = link; // taken away with its sensor, made again by the next one
    auto first = std::make_unique<sim::VirtualSensor>(withLink);
    ASSERT_TRUE(first->Start());
    CliRun run;
    std::thread cli([&] {
        run = RunCli(QUELLON_CLI_PATH,
                     {"--no-default-ports", "--port", "COM5=" + link, "--json", "monitor",
                      "--seconds", "10"},
                     folder, 60000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    first->Stop();
    EXPECT_FALSE(std::filesystem::is_symlink(link)) << "the link went with its sensor";
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    auto second = std::make_unique<sim::VirtualSensor>(withLink);
    ASSERT_TRUE(second->Start());
    cli.join();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("COM5 (" + link + "): the device has gone; waiting for it to return"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("COM5 (" + link + "): the sensor answers again"), std::string::npos)
        << run.err;
    const std::size_t gone = run.out.find("\"event\":\"gone\"");
    const std::size_t back = run.out.find("\"event\":\"back\"");
    ASSERT_NE(gone, std::string::npos) << run.out;
    ASSERT_NE(back, std::string::npos) << run.out;
    EXPECT_LT(gone, back);
    EXPECT_NE(run.out.find("\"coarse\":", back), std::string::npos) << "readings after the return";
    EXPECT_GE(Count(TextFrames(*second), "A"), 2) << "the live poll on the sensor found again";
    second->Stop();
    std::filesystem::remove_all(folder);
}
