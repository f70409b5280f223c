// Export, import and compare of a whole configuration through the main window's menu, the
// real dialogs (the prompts answer the file dialogs) and the virtual sensor.
#include "config/TForm2.h"
#include "configfiles/DscFormat.h"
#include "configfiles/TCompareDialog.h"
#include "serial/TForm3.h"
#include "tests/e2e/Harness.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <thread>

using namespace quellon;
using namespace quellon::test;
namespace fs = std::filesystem;

namespace {

const char* const kSavingErrorBox =
    "There has been an error saving configuration. Please try again.";
const char* const kWritingErrorBox =
    "There has been an error writing configuration. Please try again.";

// What arrived at the sensor, without the live polls.
std::vector<std::string> Commands(const sim::VirtualSensor& s) {
    return SettledCommands(s);
}

std::string Hex(const char* format, unsigned a, unsigned b = 0) {
    char text[32];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// The byte writes of a file's lines, in file order.
std::vector<std::string> Writes(const std::vector<std::pair<unsigned, unsigned>>& words) {
    std::vector<std::string> out;
    for (const auto& [address, value] : words) {
        out.push_back(Hex("W %04x %02x", address, value & 0xff));
        out.push_back(Hex("W %04x %02x", address + 1, value >> 8));
    }
    return out;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The 38 words of the export list as the sensor holds them.
std::vector<std::pair<unsigned, unsigned>> Held(const sim::VirtualSensor& s) {
    std::vector<std::pair<unsigned, unsigned>> out;
    out.reserve(kExportList.size());
    for (const ConfigAddress a : kExportList) {
        out.emplace_back(a, s.ReadWord(a));
    }
    return out;
}

// The reads of an export, in the list's order.
std::vector<std::string> ExportReads() {
    std::vector<std::string> out;
    out.reserve(kExportList.size());
    for (const ConfigAddress a : kExportList) {
        out.push_back(Hex("R %04x 02", a));
    }
    return out;
}

std::string FileOf(const std::vector<std::pair<unsigned, unsigned>>& words) {
    std::string text;
    for (const auto& [address, value] : words) {
        text += DscLine(static_cast<ConfigAddress>(address), static_cast<std::uint16_t>(value));
    }
    return text;
}

// Every word but the feature word gets a value of its own, so that a word written to the
// wrong address or left out shows.
void Scatter(sim::VirtualSensor& s, unsigned salt) {
    unsigned i = 0;
    for (const ConfigAddress a : kExportList) {
        if (a != 0x1e) {
            s.WriteWord(a, static_cast<std::uint16_t>((salt + 0x0111 * ++i) & 0x7fff));
        }
    }
}

class ConfigFiles : public ProgramFixture {
protected:
    void SetUp() override {
        ProgramFixture::SetUp();
        folder = fs::path(::testing::TempDir()) /
                 ("configfiles-" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override {
        if (app && Forms().Form2) {
            Forms().Form2->Timer1->stop();
        }
        ProgramFixture::TearDown();
        fs::remove_all(folder);
    }
    sim::VirtualSensor& Start(sim::Options o = {}, int com = 5) {
        auto& s = AddSensor(com, std::move(o));
        Launch();
        EXPECT_EQ(Form1()->lbComms->text(), "Comms:Ok");
        Form1()->StopPoll();
        Pump(100);
        s.ClearLog();
        return s;
    }
    std::string Put(const std::string& name, const std::string& text) {
        const fs::path p = folder / name;
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }
    std::size_t FilesIn(const fs::path& f) const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(f), {}));
    }
    TCompareDialog* Compare() { return Form1()->CompareDialog; }

    fs::path folder;
};

} // namespace

TEST_F(ConfigFiles, ExportWritesTheListInOrderThroughTheWholePathReplacingTheOlderFileAtTheEnd) {
    auto& sensor = Start();
    Scatter(sensor, 0x0203);
    // A path over 256 bytes with characters outside any single-byte code page; the name
    // is given without its extension, which the save dialog's default adds.
    fs::path deep = folder;
    for (int i = 0; i < 3; ++i) {
        deep /= "Ölsensor-Konfiguration-äöü-日本語-" + std::to_string(i) + std::string(50, 'x');
    }
    fs::create_directories(deep);
    const std::string chosen = (deep / "Prüfstand ß 設定").string();
    const std::string path = chosen + ".dsc";
    ASSERT_GT(path.size(), 256u);
    std::ofstream(path) << "1e:0041\n";

    // Looks at the file and the progress dialog while the export runs.
    std::string during;
    QString caption;
    int maximum = 0;
    bool shown = false;
    bool shownAfterEscape = false;
    bool cancelOffered = true;
    QTimer::singleShot(250, [&] {
        during = ReadText(path);
        caption = Forms().Form3->windowTitle();
        maximum = Forms().Form3->pb->maximum();
        shown = Forms().Form3->isVisible();
        cancelOffered = Forms().Form3->cancelButton->isVisible();
        // An export has no Cancel: Escape must not hide a box whose operation goes on.
        QTest::keyClick(Forms().Form3, Qt::Key_Escape);
        shownAfterEscape = Forms().Form3->isVisible();
    });
    prompts.ExpectFile(chosen);
    Form1()->Save1->trigger();

    EXPECT_EQ(ReadText(path), FileOf(Held(sensor)));
    EXPECT_EQ(Commands(sensor), Concat({"", "U 3C7E"}, ExportReads()));
    EXPECT_EQ(during, "1e:0041\n") << "the older file stays whole until the export is complete";
    EXPECT_TRUE(shown);
    EXPECT_TRUE(shownAfterEscape);
    EXPECT_FALSE(cancelOffered);
    EXPECT_EQ(caption, "Saving configuration");
    EXPECT_EQ(maximum, 38);
    EXPECT_FALSE(Forms().Form3->isVisible());
    EXPECT_EQ(FilesIn(deep), 1u) << "no temporary file is left beside it";
    EXPECT_TRUE(Form1()->Timer1->isActive());
    EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(ConfigFiles, ExportWithASilentSensorKeepsTheOlderFileAndTheBoxNamesThePartialOne) {
    auto& sensor = Start();
    const std::string path = Put("old.dsc", "1e:0041\n");
    const std::string partial = path.substr(0, path.size() - 4) + ".partial.dsc";
    ASSERT_TRUE(sensor.SetFaults("silent"));
    prompts.ExpectFile(path);
    prompts.Expect("Error", kSavingErrorBox, PromptAnswer::Ok);
    Form1()->Save1->trigger();
    EXPECT_EQ(ReadText(path), "1e:0041\n") << "the older file stays whole";
    EXPECT_TRUE(std::filesystem::exists(partial));
    EXPECT_EQ(ReadText(partial), "") << "the partial file holds the lines that were read: none";
    ASSERT_FALSE(prompts.boxes.empty());
    EXPECT_EQ(prompts.boxes.back().details, "Only 0 of 38 words were read: they are in " + partial +
                                                ". " + path + " was left as it was.");
    EXPECT_EQ(Commands(sensor).size(), 2u + 2u * 38u) << "two tries of each word";
    EXPECT_TRUE(Form1()->Timer1->isActive());
}

TEST_F(ConfigFiles, ImportWritesEveryLineInFileOrderThenReloadsAndReadsTheFeatures) {
    struct Case {
        const char* name;
        std::string text;
        const char* faults;
        std::vector<std::string> commands; // after the unlock
        const char* box;                   // nullptr: none
        std::vector<std::pair<unsigned, unsigned>> held;
    } cases[] = {
        {"single digits, Windows line ends, blanks",
         "e:1234\r\n\n26:04b0  \r\n28:4B1\n",
         "",
         Concat(Writes({{0x0e, 0x1234}, {0x26, 0x04b0}, {0x28, 0x04b1}}), {"Z", "R 001e 02"}),
         nullptr,
         {{0x0e, 0x1234}, {0x26, 0x04b0}, {0x28, 0x04b1}}},
        {"a low byte that is not acknowledged",
         "26:04b0\n28:0320\n",
         "refuse-write",
         {"W 0026 b0", "W 0026 b0", "W 0028 20", "W 0028 20", "R 001e 02"},
         kWritingErrorBox,
         {}},
    };
    auto& sensor = Start();
    for (const Case& c : cases) {
        ASSERT_TRUE(sensor.SetFaults(c.faults));
        sensor.ClearLog();
        prompts.ExpectFile(Put("in.dsc", c.text));
        if (c.box) {
            prompts.Expect("Error", c.box, PromptAnswer::Ok);
        }
        Form1()->Load1->trigger();
        EXPECT_EQ(Commands(sensor), Concat({"", "U 3C7E"}, c.commands)) << c.name;
        for (const auto& [address, value] : c.held) {
            EXPECT_EQ(sensor.ReadWord(static_cast<std::uint16_t>(address)), value) << c.name;
        }
        EXPECT_TRUE(Form1()->Timer1->isActive()) << c.name;
        EXPECT_FALSE(Forms().Form3->isVisible()) << c.name;
        Form1()->StopPoll();
        Pump(100);
    }
}

TEST_F(ConfigFiles, EscapeOnTheImportsBoxStopsItBetweenTwoWordsAndSaysHowManyWent) {
    auto& sensor = Start();
    std::string text;
    for (const ConfigAddress a : kExportList) {
        text += DscLine(a, sensor.ReadWord(a));
    }
    prompts.ExpectFile(Put("all.dsc", text));
    prompts.Expect("Error", "The import was cancelled.", PromptAnswer::Ok);
    bool shownAfterEscape = false;
    QTimer::singleShot(250, [&] {
        QTest::keyClick(Forms().Form3, Qt::Key_Escape);
        shownAfterEscape = Forms().Form3->isVisible();
    });
    sensor.ClearLog();
    Form1()->Load1->trigger();
    const std::vector<std::string> sent = Commands(sensor);
    const auto writes = std::count_if(sent.begin(), sent.end(),
                                      [](const std::string& c) { return c.starts_with("W "); });
    EXPECT_TRUE(shownAfterEscape) << "the box stays while the word in hand is written";
    EXPECT_GT(writes, 0);
    EXPECT_LT(writes, 76) << "stopped before the end";
    EXPECT_EQ(writes % 2, 0) << "never between a word's two bytes";
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "Z"), 0) << "no reload of a partial import";
    ASSERT_FALSE(prompts.boxes.empty());
    EXPECT_EQ(prompts.boxes.back().details,
              std::to_string(writes / 2) +
                  " of 38 words were written before the import was cancelled; the sensor keeps "
                  "them, and the configuration was not reloaded (\"Z\" was not sent).");
    EXPECT_FALSE(Forms().Form3->isVisible());
    EXPECT_TRUE(Form1()->Timer1->isActive());
}

TEST_F(ConfigFiles, AnOpenConfigurationWindowShowsTheImportedValues) {
    auto& sensor = Start();
    sensor.WriteWord(0x26, 1300);
    TForm2* f2 = Forms().Form2;
    f2->show();
    f2->PageControl1->setCurrentIndex(kPageOil);
    Pump(100);
    ASSERT_EQ(f2->Find<QLineEdit>("Edit6")->text(), "1300");
    prompts.ExpectFile(Put("oil.dsc", "26:04d2\n"));
    Form1()->Load1->trigger();
    EXPECT_EQ(sensor.ReadWord(0x26), 1234);
    EXPECT_EQ(f2->Find<QLineEdit>("Edit6")->text(), "1234") << "the page is read again";
    f2->Timer1->stop();
    f2->hide();
}

TEST_F(ConfigFiles, ExportFromOneSensorImportedIntoAnotherOfAnotherTypeMakesThemHoldTheSame) {
    sim::Options a;
    a.model = sim::Model::M5630i;
    a.output = sim::Output::Current;
    auto& first = Start(a);
    Scatter(first, 0x0305);
    const std::string path = (folder / "first.dsc").string();
    prompts.ExpectFile(path);
    Form1()->Save1->trigger();
    const auto words = Held(first);
    ASSERT_EQ(ReadText(path), FileOf(words));

    // The program again, now with the second sensor.
    app.reset();
    PortDirectory::Instance() = PortDirectory();
    options.ports.clear();
    sim::Options b;
    b.model = sim::Model::M5630;
    b.output = sim::Output::Voltage;
    b.third = sim::Third::Temperature;
    b.seed = 7;
    auto& second = Start(b, 6);
    ASSERT_NE(Held(second), words);
    ASSERT_NE(Forms().Form2->GetFeatureWord(), words[0].second);

    prompts.ExpectFile(path);
    prompts.Expect("Warning",
                   path + " holds more than a configuration of this sensor:\n- line 1: the "
                          "feature word changes the sensor from a 5630 with 0 - 10 V output to a "
                          "5630i with 4 - 20 mA output\nWrite it to the sensor anyway?",
                   PromptAnswer::Yes);
    Form1()->Load1->trigger();
    EXPECT_EQ(Commands(second), Concat(Concat({"", "U 3C7E"}, Writes(words)), {"Z", "R 001e 02"}));
    EXPECT_EQ(Held(second), words);
    EXPECT_EQ(Forms().Form2->GetFeatureWord(), words[0].second)
        << "the configuration window reads what the sensor now holds";
    EXPECT_EQ(second.ReloadCount(), 1);
}

TEST_F(ConfigFiles, CancelledDialogsAndRefusedFilesSendNothing) {
    auto& sensor = Start();
    std::string exported;
    for (const ConfigAddress a : kExportList) {
        exported += DscLine(a, sensor.ReadWord(a));
    }
    std::string bad = exported;
    std::size_t at = 0;
    for (int line = 1; line < 17; ++line) {
        at = bad.find('\n', at) + 1;
    }
    bad.replace(at, 7, "22:1g00"); // line 17 of 38
    const std::string badPath = Put("bad.dsc", bad);
    const std::string emptyPath = Put("empty.dsc", "\r\n");
    const std::string cutPath = Put("cut.dsc", exported.substr(0, 150)); // "26:051" last
    const std::string cutLine = exported.substr(144, 6);
    const std::string missingFolder = (folder / "missing" / "out.dsc").string();
    const std::string missingFile = (folder / "missing.dsc").string();
    const std::string badText = "line 17 \"22:1g00\" is not an address and a value (aa:vvvv): "
                                "there is more text after the value. Nothing has been written to "
                                "the sensor.";
    struct Case {
        QAction* entry;
        std::string file; // empty: the dialog is cancelled
        std::string box;
    } cases[] = {
        {Form1()->Save1, "", "Save file cancelled"},
        {Form1()->Load1, "", "Open file cancelled"},
        {Form1()->Compare1, "", "Open file cancelled"},
        {Form1()->Save1, missingFolder,
         "Cannot create file " + missingFolder + ": No such file or directory"},
        {Form1()->Load1, missingFile,
         "Cannot open file " + missingFile + ": No such file or directory"},
        {Form1()->Compare1, folder.string(),
         "Cannot open file " + folder.string() + ": Is a directory"},
        {Form1()->Load1, badPath, "Cannot import " + badPath + ": " + badText},
        {Form1()->Compare1, badPath, "Cannot compare with " + badPath + ": " + badText},
        {Form1()->Load1, emptyPath,
         "Cannot import " + emptyPath +
             ": the file holds no configuration word. Nothing has been written to the sensor."},
        {Form1()->Load1, cutPath,
         "Cannot import " + cutPath + ": line 19 \"" + cutLine +
             "\" is not an address and a value (aa:vvvv): the file ends inside this line, which "
             "is shorter than aa:vvvv (the file looks cut short). Nothing has been written to "
             "the sensor."},
    };
    for (const Case& c : cases) {
        sensor.ClearLog();
        prompts.ExpectFile(c.file);
        prompts.Expect("Error", c.box, PromptAnswer::Ok);
        c.entry->trigger();
        EXPECT_TRUE(Commands(sensor).empty()) << c.box;
        EXPECT_TRUE(Form1()->Timer1->isActive()) << c.box;
        Form1()->StopPoll();
        Pump(100);
    }
    EXPECT_FALSE(fs::exists(folder / "missing"));
    EXPECT_EQ(Compare(), nullptr) << "no comparison was shown";
}

TEST_F(ConfigFiles, CompareShowsNoDifferenceAfterAnExportAndExactlyTheWordSetSince) {
    auto& sensor = Start();
    const std::string path = (folder / "now.dsc").string();
    prompts.ExpectFile(path);
    Form1()->Save1->trigger();
    const auto words = Held(sensor);

    const std::vector<std::string> reads = ExportReads();
    struct Step {
        const char* setText; // typed into "Oil Upper threshold" and Set first; nullptr: none
        const char* summary;
        int differingRow; // -1: none
    } steps[] = {{nullptr, "No differences", -1}, {"1234", "1 difference", 18}};
    ASSERT_EQ(kExportList[18], 0x26);
    for (const Step& s : steps) {
        if (s.setText) {
            TForm2* f2 = Forms().Form2;
            f2->show();
            Form1()->StopPoll();
            f2->Find<QLineEdit>("Edit6")->setText(s.setText);
            ASSERT_TRUE(f2->RunHandler("Button12Click"));
            f2->Timer1->stop();
            f2->hide();
            Form1()->StopPoll();
            Pump(100);
            ASSERT_EQ(sensor.ReadWord(0x26), 1234);
        }
        sensor.ClearLog();
        const auto before = sensor.MemoryGeneration();
        prompts.ExpectFile(path);
        Form1()->Compare1->trigger();
        EXPECT_EQ(Commands(sensor), reads) << "each word read once, nothing written";
        EXPECT_EQ(sensor.MemoryGeneration(), before);
        ASSERT_NE(Compare(), nullptr);
        EXPECT_TRUE(Compare()->isVisible());
        EXPECT_EQ(Compare()->lbSummary->text(), s.summary);
        QTableWidget* t = Compare()->sgCompare;
        ASSERT_EQ(t->rowCount(), 38);
        for (int r = 0; r < 38; ++r) {
            const auto [address, value] = words[static_cast<std::size_t>(r)];
            EXPECT_EQ(t->item(r, 0)->text().toStdString(), Hex("%02x", address));
            EXPECT_EQ(t->item(r, 3)->text().toStdString(), Hex("%04x", value));
            const bool differs = r == s.differingRow;
            EXPECT_EQ(t->item(r, 2)->text().toStdString(), Hex("%04x", differs ? 1234u : value));
            EXPECT_EQ(t->item(r, 2)->background().color() == TCompareDialog::DifferenceColour(),
                      differs)
                << r;
        }
        EXPECT_EQ(t->item(18, 1)->text(), "Oil Upper threshold");
        EXPECT_EQ(t->item(0, 1)->text(), "Features");
        EXPECT_TRUE(Form1()->Timer1->isActive());
        Form1()->StopPoll();
        Pump(100);
    }
}
