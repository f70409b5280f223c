// Export, import and compare on a scripted link: what goes out, in which order, what the
// file holds and what is reported, word by word.
#include "configfiles/ConfigTransfer.h"
#include "tests/config/FakeLink.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace quellon;
using namespace quellon::test;
namespace fs = std::filesystem;

namespace {

class NoPrompts final : public UserPrompts {
public:
    PromptAnswer Message(const std::string& caption, const std::string& text, PromptButtons,
                         const std::string& = {}) override {
        ADD_FAILURE() << "box " << caption << ": " << text;
        return PromptAnswer::Ok;
    }
    std::string OpenFileName(const std::string&, const std::string&) override { return {}; }
    std::string SaveFileName(const std::string&, const std::string&) override { return {}; }
};

class Progress final : public ProgressDisplay {
public:
    explicit Progress(EventLog& log) : m_log(log) {}
    void SetCaption(const std::string& c) override { m_log.Add("caption " + c); }
    void SetMaximum(int m) override { m_log.Add("maximum " + std::to_string(m)); }
    void SetPosition(int p) override { m_log.Add("position " + std::to_string(p)); }
    void StepIt() override { ++steps; }
    void ShowProgress() override { m_log.Add("show"); }
    void CloseProgress() override { m_log.Add("close"); }
    int steps = 0;

private:
    EventLog& m_log;
};

class Transfer : public ::testing::Test {
protected:
    Transfer()
        : link(log), timer(log), memory(link, timer, [this](int ms) { waits += ms; }),
          progress(log), context{memory, prompts, [this] { log.Add("unlock"); }, &progress,
                                 [this] { ++processed; }} {}
    void SetUp() override {
        folder = fs::path(::testing::TempDir()) /
                 ("transfer-" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    static std::string Text(const fs::path& p) {
        std::ifstream in(p);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    EventLog log;
    FakeSensorLink link;
    FakePollTimer timer;
    MemoryAccess memory;
    Progress progress;
    NoPrompts prompts;
    int waits = 0;
    int processed = 0;
    ConfigFileContext context;
    fs::path folder;
};

} // namespace

TEST_F(Transfer, ExportLeavesOutAWordThatCannotBeReadAndGoesOn) {
    std::string expected;
    for (std::size_t i = 0; i < kExportList.size(); ++i) {
        const ConfigAddress a = kExportList[i];
        if (i == 5) {
            link.Silence(2); // both tries of the sixth word
            continue;
        }
        const auto value = static_cast<std::uint16_t>(0x1000 + i * 0x0101);
        link.Reply(WordReply(a, value));
        expected += DscLine(a, value);
    }
    const fs::path path = folder / "out.dsc";
    const ExportResult r = ExportToFile(context, path.string());
    EXPECT_EQ(r.status, ExportResult::Status::ReadErrors);
    EXPECT_EQ(r.wordsRead, 37);
    EXPECT_EQ(ExportMessage(r), kSavingError);
    EXPECT_EQ(Text(path), expected);
    ASSERT_EQ(link.commands.size(), 39u);
    EXPECT_EQ(link.commands[5], "R 003a 02");
    EXPECT_EQ(link.commands[6], "R 003a 02") << "two tries";
    EXPECT_EQ(link.commands[7], "R 003c 02") << "then the next word";
    EXPECT_EQ(progress.steps, 38);
    EXPECT_EQ(processed, 38);
    const std::vector<std::string> head(log.events.begin(), log.events.begin() + 6);
    EXPECT_EQ(head,
              (std::vector<std::string>{"unlock", "caption Saving configuration", "maximum 38",
                                        "position 0", "show", "send R 001e 02"}));
    EXPECT_EQ(log.events.back(), "close");
    EXPECT_EQ(timer.stops + timer.starts, 0) << "the live poll is the caller's";
    EXPECT_EQ(waits, 0);
    EXPECT_TRUE(memory.m_commerror);
}

// A second file system for a link to lead into: /dev/shm when it is one (a tmpfs) and the
// test folder is not on it. Empty when there is none.
std::string OtherFileSystem(const fs::path& here) {
    struct stat local {};
    struct stat shm {};
    if (::stat(here.c_str(), &local) == 0 && ::stat("/dev/shm", &shm) == 0 &&
        S_ISDIR(shm.st_mode) && ::access("/dev/shm", W_OK) == 0 && shm.st_dev != local.st_dev) {
        return "/dev/shm";
    }
    return {};
}

// An export that could not read every word replaces nothing: not an older file of that name,
// not an older partial file. Its lines stand at the chosen name when nothing stood there,
// else in the first free partial name beside the file that would have been replaced (through
// a link into another file system, beside the link's target, where the rename stays on one
// file system), named in the box's details.
TEST_F(Transfer, AnIncompleteExportReplacesNothingAndKeepsTheWordsRead) {
    const std::string other = OtherFileSystem(folder);
    const struct {
        const char* name;
        bool older;          // a file stood at the chosen name
        bool link;           // the chosen name is a link to real.dsc on another file system
        int olderPartials;   // NAME.partial.dsc, NAME.partial-2.dsc... stood beside the target
        int silentAt;        // the word that does not answer, or -1
        const char* wordsIn; // the file beside the target that holds the new lines
    } cases[] = {
        {"no older file, a word silent", false, false, 0, 5, "out.dsc"},
        {"older file, a word silent", true, false, 0, 5, "out.partial.dsc"},
        {"older file, the last word silent", true, false, 0, 37, "out.partial.dsc"},
        {"older file, every word read", true, false, 0, -1, "out.dsc"},
        {"an older partial file", true, false, 1, 5, "out.partial-2.dsc"},
        {"two older partial files", true, false, 2, 0, "out.partial-3.dsc"},
        {"link to another file system, a word silent", true, true, 0, 5, "real.partial.dsc"},
        {"link to another file system, every word read", true, true, 0, -1, "real.dsc"},
        {"link to another file system, an older partial file", true, true, 1, 5,
         "real.partial-2.dsc"},
    };
    const std::string olderText = "1e:0001\n";
    bool skipped = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.link && other.empty()) {
            skipped = true;
            continue;
        }
        const fs::path targetFolder =
            c.link ? fs::path(other) / ("quellon-" + folder.filename().string()) : folder;
        fs::remove_all(folder);
        fs::remove_all(targetFolder);
        fs::create_directories(folder);
        fs::create_directories(targetFolder);
        const fs::path path = folder / "out.dsc";
        const fs::path target = targetFolder / (c.link ? "real.dsc" : "out.dsc");
        if (c.older) {
            std::ofstream(target) << olderText;
        }
        if (c.link) {
            fs::create_symlink(target, path);
        }
        std::vector<std::string> partials; // older partial files, each with a text of its own
        for (int n = 1; n <= c.olderPartials; ++n) {
            partials.push_back(PartialExportPath(target.string(), n));
            std::ofstream(partials.back()) << "partial " << n << "\n";
        }
        std::string expected;
        for (std::size_t i = 0; i < kExportList.size(); ++i) {
            if (static_cast<int>(i) == c.silentAt) {
                link.Silence(2);
                continue;
            }
            const auto value = static_cast<std::uint16_t>(0x2000 + i);
            link.Reply(WordReply(kExportList[i], value));
            expected += DscLine(kExportList[i], value);
        }
        const ExportResult r = ExportToFile(context, path.string());
        const bool complete = c.silentAt < 0;
        EXPECT_EQ(r.status,
                  complete ? ExportResult::Status::Saved : ExportResult::Status::ReadErrors)
            << r.reason;
        EXPECT_EQ(r.wordsRead, complete ? 38 : 37);
        const fs::path wordsIn = targetFolder / c.wordsIn;
        EXPECT_EQ(Text(wordsIn), expected);
        const bool atChosen = wordsIn == target;
        if (!atChosen && c.older) {
            EXPECT_EQ(Text(target), olderText) << "the older file is kept whole";
        }
        for (int n = 1; n <= c.olderPartials; ++n) {
            EXPECT_EQ(Text(partials[n - 1]), "partial " + std::to_string(n) + "\n")
                << "an older partial file is kept whole";
        }
        EXPECT_EQ(fs::is_symlink(path), c.link);
        EXPECT_EQ(r.partialPath, atChosen ? std::string() : wordsIn.string());
        const std::string details = ExportDetails(r);
        if (complete) {
            EXPECT_EQ(details, "");
        } else if (atChosen) {
            EXPECT_EQ(details, "Only 37 of 38 words were read; " + path.string() + " holds them.");
        } else {
            EXPECT_EQ(details, "Only 37 of 38 words were read: they are in " + wordsIn.string() +
                                   ". " + path.string() + " was left as it was.");
        }
        const auto files = [](const fs::path& f) {
            return std::distance(fs::directory_iterator(f), fs::directory_iterator());
        };
        // The target, the older partial files and the new one; no temporary file.
        const long inTarget = (c.older || atChosen ? 1 : 0) + c.olderPartials + (atChosen ? 0 : 1);
        EXPECT_EQ(files(targetFolder), inTarget) << "no temporary file left behind";
        if (c.link) {
            EXPECT_EQ(files(folder), 1) << "the link alone";
            fs::remove_all(targetFolder);
        }
    }
    const struct {
        const char* path;
        int nth;
        const char* partial;
    } names[] = {{"a/b.dsc", 1, "a/b.partial.dsc"},
                 {"x.DSC", 1, "x.partial.DSC"},
                 {"a.b/c", 1, "a.b/c.partial.dsc"},
                 {"C:\\cfg.v2\\unit", 1, "C:\\cfg.v2\\unit.partial.dsc"},
                 {"a/b.dsc", 2, "a/b.partial-2.dsc"},
                 {"a.b/c", 12, "a.b/c.partial-12.dsc"}};
    for (const auto& n : names) {
        EXPECT_EQ(PartialExportPath(n.path, n.nth), n.partial);
    }
    if (skipped) {
        GTEST_SKIP() << "the link rows need a second file system: /dev/shm is missing, not "
                        "writable or on the test folder's own file system";
    }
}

TEST_F(Transfer, ExportThatCannotCreateItsFileSendsNothing) {
    const ExportResult r = ExportToFile(context, (folder / "missing" / "out.dsc").string());
    EXPECT_EQ(r.status, ExportResult::Status::CannotCreate);
    EXPECT_EQ(ExportMessage(r), "Cannot create file " + (folder / "missing" / "out.dsc").string() +
                                    ": No such file or directory");
    EXPECT_TRUE(log.events.empty());
}

// The backup before an upgrade: an export into the working folder named after the local time.
TEST_F(Transfer, BackupIsNamedAfterTheLocalTime) {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11; // December
    local.tm_mday = 9;
    local.tm_hour = 14;
    local.tm_min = 25;
    local.tm_sec = 1;
    local.tm_isdst = -1;
    const fs::path here = fs::current_path();
    fs::current_path(folder);
    std::string pathOrError;
    const bool saved = BackupConfiguration(context, std::mktime(&local), pathOrError);
    fs::current_path(here);
    EXPECT_FALSE(saved) << "the link answers nothing";
    EXPECT_EQ(pathOrError, "backup-20261209-142501.dsc: only 0 of 38 words could be read");
    EXPECT_TRUE(fs::exists(folder / "backup-20261209-142501.dsc"));
}

TEST_F(Transfer, ImportGoesOnAfterAFailedWordAndThenSendsNoReload) {
    const std::vector<DscEntry> entries = {{0x26, 0x04b0, 1}, {0x28, 0x0320, 2}, {0x1e, 0x0041, 3}};
    link.Reply(WriteReply()); // 26
    link.Reply(WriteReply()); // 27
    link.Silence(2);          // 28, both tries: no 29
    link.Reply(WriteReply()); // 1e
    link.Reply(WriteReply()); // 1f
    const ImportResult r = ImportEntries(context, entries);
    EXPECT_EQ(r.status, ImportResult::Status::WriteErrors);
    EXPECT_EQ(r.failed, 1);
    EXPECT_EQ(r.message, kWritingError);
    EXPECT_EQ(ImportDetails(r), "2 of 3 words were written.");
    EXPECT_EQ(link.commands, (std::vector<std::string>{"W 0026 b0", "W 0027 04", "W 0028 20",
                                                       "W 0028 20", "W 001e 41", "W 001f 00"}));
    EXPECT_EQ(log.events.front(), "unlock");
    EXPECT_EQ(log.events[1], "caption Writing configuration");
    EXPECT_EQ(log.events[2], "maximum 3");
    EXPECT_EQ(progress.steps, 3);

    link.commands.clear();
    link.Reply(WriteReply());
    link.Reply(WriteReply());
    const ImportResult ok = ImportEntries(context, {{0x0e, 0x1234, 1}});
    EXPECT_EQ(ok.status, ImportResult::Status::Written);
    EXPECT_EQ(link.commands, (std::vector<std::string>{"W 000e 34", "W 000f 12", "Z"}));
}

TEST_F(Transfer, ImportStopsAtTheFirstWordThatFindsThePortGone) {
    link.goneAfterCommands = 3; // the port goes while the second word's low byte is sent
    link.Reply(WriteReply());
    link.Reply(WriteReply());
    link.Silence(4);
    const ImportResult r =
        ImportEntries(context, {{0x26, 0x04b0, 1}, {0x28, 0x0320, 2}, {0x1e, 0x0041, 3}});
    EXPECT_EQ(r.status, ImportResult::Status::WriteErrors);
    EXPECT_TRUE(r.portGone);
    EXPECT_EQ(r.written, 1);
    EXPECT_EQ(r.failed, 2) << "the word never tried counts as not written";
    EXPECT_EQ(link.commands, (std::vector<std::string>{"W 0026 b0", "W 0027 04", "W 0028 20"}))
        << "no second try and nothing after the word that found the port gone";
}

namespace {

// Answers every question with `answer` and records the boxes.
class AnsweringPrompts final : public UserPrompts {
public:
    PromptAnswer Message(const std::string& caption, const std::string& text, PromptButtons,
                         const std::string& details = {}) override {
        boxes.push_back(caption + ": " + text + (details.empty() ? "" : " | " + details));
        return answer;
    }
    std::string OpenFileName(const std::string&, const std::string&) override { return file; }
    std::string SaveFileName(const std::string&, const std::string&) override { return {}; }
    PromptAnswer answer = PromptAnswer::No;
    std::string file;
    std::vector<std::string> boxes;
};

// Asks for Cancel once `after` words were written.
class CancellingProgress final : public ProgressDisplay {
public:
    void SetCaption(const std::string&) override {}
    void SetMaximum(int) override {}
    void SetPosition(int) override {}
    void StepIt() override { ++steps; }
    void ShowProgress() override {}
    void CloseProgress() override {}
    void OfferCancel(bool offered) override { offers.push_back(offered); }
    bool CancelRequested() const override { return after >= 0 && steps >= after; }
    int after = -1;
    int steps = 0;
    std::vector<bool> offers;
};

} // namespace

// The whole file is judged before anything is written: a file with nothing in it, or with
// words an export would not hold, sends no write unless the user agrees; a file as an export
// writes it goes out as ever. Cancel stops between two words and says how many went.
TEST_F(Transfer, ImportWritesOnlyWhatTheUserMeant) {
    const std::string exportLike = "1e:0041\n26:04b0\n28:0320\n";
    struct Case {
        const char* name;
        std::string text;
        std::optional<std::uint16_t> features;   // known to the caller
        std::optional<std::uint16_t> sensorWord; // read from the sensor when not known
        PromptAnswer answer;
        int cancelAfter;
        ImportResult::Status status;
        int writes; // write commands sent
        std::vector<std::string> boxes;
    } cases[] = {
        {"as an export writes it",
         exportLike,
         0x0041,
         {},
         PromptAnswer::No,
         -1,
         ImportResult::Status::Written,
         6,
         {}},
        {"the feature word read when not known",
         exportLike,
         {},
         0x0041,
         PromptAnswer::No,
         -1,
         ImportResult::Status::Written,
         6,
         {}},
        {"an empty file",
         "\n\n",
         0x0041,
         {},
         PromptAnswer::Yes,
         -1,
         ImportResult::Status::FileRefused,
         0,
         {"Error: Cannot import F: the file holds no configuration word. Nothing has been "
          "written to the sensor."}},
        {"an address outside the configuration, declined",
         exportLike + "ee:1234\n",
         0x0041,
         {},
         PromptAnswer::No,
         -1,
         ImportResult::Status::Cancelled,
         0,
         {"Warning: F holds more than a configuration of this sensor:\n- line 4: address ee is "
          "not one of the configuration words an export holds\nWrite it to the sensor anyway?"}},
        {"an address twice, accepted",
         exportLike + "26:0001\n",
         0x0041,
         {},
         PromptAnswer::Yes,
         -1,
         ImportResult::Status::Written,
         8,
         {"Warning: F holds more than a configuration of this sensor:\n- address 26 is written 2 "
          "times (lines 2, 4); the last value stays\nWrite it to the sensor anyway?"}},
        {"another output, declined",
         "1e:0000\n26:04b0\n",
         0x0041,
         {},
         PromptAnswer::No,
         -1,
         ImportResult::Status::Cancelled,
         0,
         {"Warning: F holds more than a configuration of this sensor:\n- line 1: the feature word "
          "changes the sensor from a 5630 with 4 - 20 mA output to a 5630 with CAN output\nWrite "
          "it to the sensor anyway?"}},
        {"the same model and output with other switches",
         "1e:0049\n",
         0x0041,
         {},
         PromptAnswer::No,
         -1,
         ImportResult::Status::Written,
         2,
         {}},
        {"cancelled after two words",
         exportLike,
         0x0041,
         {},
         PromptAnswer::No,
         2,
         ImportResult::Status::Stopped,
         4,
         {"Error: The import was cancelled. | 2 of 3 words were written before the import was "
          "cancelled; the sensor keeps them, and the configuration was not reloaded (\"Z\" was "
          "not sent)."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = folder / "F";
        std::ofstream(file, std::ios::binary) << c.text;
        AnsweringPrompts answers;
        answers.answer = c.answer;
        answers.file = file.string();
        CancellingProgress cancelling;
        cancelling.after = c.cancelAfter;
        EventLog events;
        FakeSensorLink sensor(events);
        FakePollTimer poll(events);
        MemoryAccess access(sensor, poll, [](int) {});
        if (c.sensorWord) {
            sensor.Reply(WordReply(0x1e, *c.sensorWord));
        }
        for (int i = 0; i < 16; ++i) {
            sensor.Reply(WriteReply());
        }
        const ConfigFileContext ctx{access, answers, [] {}, &cancelling, [] {}};
        ImportOptions options;
        options.sensorFeatures = c.features;
        const ImportResult r = RunImport(ctx, {}, options);
        EXPECT_EQ(r.status, c.status);
        int writes = 0;
        for (const std::string& command : sensor.commands) {
            writes += command.starts_with("W ") ? 1 : 0;
        }
        EXPECT_EQ(writes, c.writes);
        const bool reload = !sensor.commands.empty() && sensor.commands.back() == "Z";
        EXPECT_EQ(reload, c.status == ImportResult::Status::Written);
        std::vector<std::string> boxes;
        for (std::string b : answers.boxes) {
            for (std::size_t at; (at = b.find(file.string())) != std::string::npos;) {
                b.replace(at, file.string().size(), "F");
            }
            boxes.push_back(b);
        }
        EXPECT_EQ(boxes, c.boxes);
    }
}

TEST_F(Transfer, CompareReadsEachAddressOnceAndCountsDifferences) {
    const std::vector<DscEntry> entries = {
        {0x26, 0x04b0, 1}, {0x28, 0x0320, 2}, {0x26, 0x0001, 3}, {0x50, 0x0000, 4}};
    link.Reply(WordReply(0x26, 0x04b0));
    link.Reply(WordReply(0x28, 0x0321));
    link.Silence(2);
    const CompareResult r = CompareEntries(context, entries);
    EXPECT_EQ(link.commands,
              (std::vector<std::string>{"R 0026 02", "R 0028 02", "R 0050 02", "R 0050 02"}));
    ASSERT_EQ(r.rows.size(), 4u);
    EXPECT_FALSE(r.rows[0].Differs());
    EXPECT_EQ(r.rows[0].name, "Oil Upper threshold");
    EXPECT_TRUE(r.rows[1].Differs());
    EXPECT_EQ(r.rows[1].sensorValue, 0x0321);
    EXPECT_TRUE(r.rows[2].Differs()) << "the repeated address against the same reading";
    EXPECT_FALSE(r.rows[3].sensorRead);
    EXPECT_EQ(r.rows[3].name, "");
    EXPECT_EQ(r.differences, 3);
    EXPECT_EQ(r.unread, 1);
    EXPECT_EQ(CompareSummary(r), "3 differences (1 word could not be read)");
    EXPECT_EQ(log.events.front(), "caption Reading configuration");
    EXPECT_EQ(log.events[1], "maximum 3");
}
