#include "config/ParameterMap.h"
#include "config/ParameterNames.h"

#include "config/FeatureWord.h"
#include "config/MemoryAccess.h"
#include "config/ParameterAccess.h"

#include "FakeLink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace quellon;
using namespace quellon::test;

namespace {

struct Rig {
    EventLog log;
    FakeSensorLink link{log};
    FakePollTimer timer{log};
    MemoryAccess memory{link, timer, [](int) {}};
};

// How a window drives a row: its display operation with the row's own arguments.
DisplayResult ReadRow(Rig& rig, const ParameterRow& row, float analogueScale = 91.2f) {
    return rig.memory.Display(row.show, row.address, row.ScaleWith(analogueScale), row.multiplier,
                              row.Limits());
}

const ParameterRow& Only(std::string_view readButton) {
    const auto rows = RowsByReadButton(readButton);
    EXPECT_EQ(rows.size(), 1u) << readButton;
    return *rows.at(0);
}

} // namespace

TEST(ParameterMap, AddressOfEveryReadButton) {
    const std::map<std::string, ConfigAddress> expected{
        {"Button37", 0x001E},  {"Button1", 0x0000},  {"Button3", 0x0004},  {"Button5", 0x0002},
        {"Button7", 0x0006},   {"Button96", 0x003A}, {"Button97", 0x003E}, {"Button100", 0x003C},
        {"Button101", 0x0040}, {"Button9", 0x0022},  {"Button11", 0x0026}, {"Button13", 0x0028},
        {"Button15", 0x0024},  {"Button39", 0x0010}, {"Button75", 0x000E}, {"Button76", 0x002A},
        {"Button77", 0x000C},  {"Button17", 0x002C}, {"Button19", 0x002E}, {"Button41", 0x0030},
        {"Button42", 0x0032},  {"Button47", 0x0060}, {"Button48", 0x0064}, {"Button49", 0x0068},
        {"Button50", 0x006C},  {"Button51", 0x0070}, {"Button21", 0x00B0}, {"Button23", 0x00B4},
        {"Button25", 0x00B6},  {"Button29", 0x00BA}, {"Button31", 0x00BC}, {"Button33", 0x00BE},
        {"Button35", 0x00C4},  {"Button65", 0x00C2}, {"Button66", 0x00C0}, {"Button27", 0x00B8},
        {"Button55", 0x00C6},  {"Button57", 0x00CC}, {"Button58", 0x00CA}, {"Button59", 0x00C8},
        {"Button69", 0x0034},  {"Button70", 0x0036}, {"Button71", 0x0038}, {"Button104", 0x0080},
    };
    std::set<ConfigAddress> seen;
    for (const auto& row : ParameterMap()) {
        EXPECT_TRUE(seen.insert(row.address).second) << "address used twice: " << row.address;
        EXPECT_EQ(row.address % 2, 0) << row.readButton;
        if (std::string(row.readButton) == "Button105") {
            continue;
        }
        ASSERT_TRUE(expected.count(row.readButton)) << row.readButton;
        EXPECT_EQ(row.address, expected.at(row.readButton)) << row.readButton;
    }
    EXPECT_EQ(ParameterMap().size(), 47u);
    const auto date = RowsByReadButton("Button105");
    ASSERT_EQ(date.size(), 3u);
    EXPECT_EQ(date[0]->address, 0x0090);
    EXPECT_EQ(date[1]->address, 0x0092);
    EXPECT_EQ(date[2]->address, 0x0094);
}

TEST(ParameterMap, WorkedExamplesThroughTheRows) {
    struct ReadCase {
        const char* readButton;
        std::string reply;
        float analogueScale;
        std::string text;
    } reads[] = {
        {"Button15", WordReply(0x24, 55), 91.2f, " 5.50"},   // Oil Filter time
        {"Button42", WordReply(0x32, 0x0640), 91.2f, "100"}, // high temperature alarm
        {"Button41", WordReply(0x30, 0xFFF8), 91.2f, "0"},   // low temperature alarm
        {"Button39", WordReply(0x10, 862), 43.1f, "20.00"},  // Full Scale Level, 4 - 20 mA
        {"Button39", WordReply(0x10, 912), 91.2f, "10.00"},  // Full Scale Level, 0 - 10 V
        {"Button47", LongReply(0x60, 13), 91.2f, "1:05"},    // Run Time
        {"Button47", LongReply(0x60, 100), 91.2f, "8:20"},
        {"Button21", WordReply(0xb0, 0x1234), 91.2f, "1234"}, // Manufacturer Code
        {"Button3", WordReply(0x04, 0xFFFF), 91.2f, "-1"},    // signed debris count
        {"Button9", WordReply(0x22, 0xFFFF), 91.2f, "65535"}, // Oil Reference, unsigned
        {"Button37", WordReply(0x1e, 0x001F), 91.2f, "001f"}, // Features
        {"Button48", WordReply(0x64, 0xFFE8), 91.2f, "-1.50"},
        {"Button104", WordReply(0x80, 668), 91.2f, "668"},
    };
    for (const auto& c : reads) {
        Rig rig;
        rig.link.Reply(c.reply);
        const auto& row = Only(c.readButton);
        const DisplayResult r = ReadRow(rig, row, c.analogueScale);
        EXPECT_TRUE(r.ok) << c.readButton;
        EXPECT_EQ(r.text, c.text) << c.readButton;
    }

    // The Manufacturer Code row keeps the masked value for the NAME.
    J1939Identity id;
    const auto& mfr = Only("Button21");
    EXPECT_EQ(id.Keep(mfr.field, 0x1234), 0x234);
    // Priority then recomputes the CAN ID.
    EXPECT_EQ(RowsBySetButton("Button56")[0]->followUp, FollowUp::CanId);
}

TEST(ParameterMap, LedRows) {
    struct Case {
        const char* readButton;
        const char* control;
        const char* setButton;
        int value;
        const char* command;
    } cases[] = {
        {"Button69", "csRed", "Button72", 100, "i 64"},
        {"Button70", "csGreen", "Button73", 0, "j 0"},
        {"Button71", "csBlue", "Button74", 31, "k 1f"},
    };
    for (const auto& c : cases) {
        const auto& row = Only(c.readButton);
        EXPECT_STREQ(row.control, c.control);
        EXPECT_STREQ(row.setButton, c.setButton);
        EXPECT_EQ(row.set, SetKind::None) << "LED Set writes nothing to the memory";
        EXPECT_EQ(row.followUp, FollowUp::LedCommand);
        EXPECT_EQ(row.controlKind, ControlKind::Spin);
        EXPECT_EQ(row.spinMinimum, 0);
        EXPECT_EQ(row.spinMaximum, 100);
        EXPECT_EQ(LedCommandText(row, c.value), c.command);
        // The single-command action of the Set button says the same.
        const auto* action = ActionByControl(c.setButton);
        ASSERT_NE(action, nullptr);
        ASSERT_EQ(action->steps.size(), 1u);
        EXPECT_EQ(action->steps[0].kind, ActionStepKind::SendValue);
        EXPECT_STREQ(action->steps[0].text, row.ledCommand);
        EXPECT_STREQ(action->steps[0].control, row.control);
    }
}

TEST(ParameterMap, ManufactureDateSpansThreeSpins) {
    const auto rows = RowsByReadButton("Button105");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(RowsBySetButton("Button107"), rows);
    struct Expect {
        const char* control;
        int maximum;
        int design;
    } parts[] = {{"CSpinDD", 31, 28}, {"CSpinMM", 12, 12}, {"CSpinYY", 99, 20}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(rows[i]->control, parts[i].control);
        EXPECT_EQ(rows[i]->part, i);
        EXPECT_EQ(rows[i]->parts, 3);
        EXPECT_EQ(rows[i]->spinMinimum, 0);
        EXPECT_EQ(rows[i]->spinMaximum, parts[i].maximum);
        EXPECT_EQ(rows[i]->designValue, parts[i].design);
        EXPECT_EQ(rows[i]->show, ShowKind::ShowSpin);
        EXPECT_EQ(rows[i]->set, SetKind::SetSpin);
        EXPECT_EQ(rows[i]->followUp, FollowUp::None);
    }
    // Driven generically: three independent accesses; a failed day still reads the others.
    Rig rig;
    rig.link.Silence(18);
    rig.link.Reply(WordReply(0x92, 40));
    rig.link.Reply(WordReply(0x94, 24));
    std::vector<int> shown;
    shown.reserve(rows.size());
    for (const auto* row : rows) {
        shown.push_back(ReadRow(rig, *row).spinValue);
    }
    EXPECT_EQ(shown, (std::vector<int>{0, 12, 24}));
    EXPECT_EQ(rig.link.commands.size(), 20u);
    EXPECT_EQ(rig.link.commands.back(), "R 0094 02");
}

TEST(ParameterMap, HiddenControls) {
    std::set<std::string> designHiddenRead, setHiddenOnShow, hiddenOnShow;
    for (const auto& row : ParameterMap()) {
        if (row.Is(Hidden::ReadButtonD)) {
            designHiddenRead.insert(row.readButton);
            EXPECT_TRUE(row.Is(Hidden::ControlD)) << row.readButton;
        }
        if (row.Is(Hidden::SetButtonS)) {
            setHiddenOnShow.insert(row.setButton);
        }
        if (row.Is(Hidden::ReadButtonS)) {
            hiddenOnShow.insert(row.readButton);
        }
    }
    EXPECT_EQ(designHiddenRead, (std::set<std::string>{"Button1", "Button5", "Button97",
                                                       "Button101", "Button9", "Button37"}));
    // The Set buttons that the window hides each time it is shown (pages CAN and PGN/ID) and
    // those of the two temperature offsets.
    EXPECT_EQ(setHiddenOnShow,
              (std::set<std::string>{"Button34", "Button36", "Button32", "Button30", "Button22",
                                     "Button24", "Button26", "Button56", "Button60", "Button61",
                                     "Button62", "Button18", "Button20"}));
    EXPECT_EQ(hiddenOnShow, (std::set<std::string>{"Button37", "Button17", "Button19"}));
}

TEST(ParameterMap, RowsAgreeWithTheJ1939Fields) {
    int rows = 0;
    for (const auto& info : J1939Fields()) {
        const ParameterRow* row = RowByField(info.field);
        ASSERT_NE(row, nullptr) << info.name;
        ++rows;
        EXPECT_EQ(row->address, info.address) << info.name;
        EXPECT_EQ(row->mask, info.mask) << info.name;
        EXPECT_EQ(row->page, info.page) << info.name;
        EXPECT_STREQ(row->control, info.box);
        EXPECT_STREQ(row->readButton, info.readButton);
        EXPECT_STREQ(row->caption, info.caption);
        EXPECT_STREQ(row->setButton, info.setButton);
        EXPECT_EQ(!row->Is(Hidden::SetButtonS), info.setShown) << info.name;
        EXPECT_EQ(row->show, ShowKind::ShowHex);
        EXPECT_EQ(row->set, SetKind::SetMaskedHex);
        EXPECT_STREQ(row->hint, "Refer to J1939 Spec");
        EXPECT_FALSE(row->hintShown);
        const FollowUp expected = info.after == J1939Recompose::Name         ? FollowUp::Name
                                  : info.after == J1939Recompose::NameReload ? FollowUp::NameReload
                                                                             : FollowUp::CanId;
        EXPECT_EQ(row->followUp, expected) << info.name;
    }
    EXPECT_EQ(rows, 14);
    for (const auto& row : ParameterMap()) {
        EXPECT_EQ(row.set == SetKind::SetMaskedHex, row.field != J1939Field::None)
            << row.readButton;
    }
}

TEST(ParameterMap, OperationsAndScales) {
    struct Case {
        const char* readButton;
        ShowKind show;
        SetKind set;
        float scale;
        bool analogue;
        FollowUp followUp;
    } cases[] = {
        {"Button37", ShowKind::ShowHex, SetKind::SetHex, 1, false, FollowUp::FeatureSet},
        {"Button3", ShowKind::ShowSigned, SetKind::SetDecimal, 1, false, FollowUp::ReReadReload},
        {"Button9", ShowKind::ShowUnsigned, SetKind::SetDecimal, 1, false, FollowUp::Reload},
        {"Button11", ShowKind::ShowScaledInt, SetKind::SetScaledInt, 1, false, FollowUp::Reload},
        {"Button15", ShowKind::ShowScaledReal, SetKind::SetScaledReal, 10, false, FollowUp::Reload},
        {"Button75", ShowKind::ShowScaledReal, SetKind::SetScaledReal, 1, true, FollowUp::Reload},
        {"Button17", ShowKind::ShowUnsigned, SetKind::SetDecimal, 1, false,
         FollowUp::ReReadPauseReload},
        {"Button41", ShowKind::ShowScaledInt, SetKind::SetScaledInt, 16, false,
         FollowUp::ReReadPauseReload},
        {"Button47", ShowKind::ShowRunTime, SetKind::None, 1, false, FollowUp::None},
        {"Button51", ShowKind::ShowScaledReal, SetKind::None, 16, false, FollowUp::None},
        {"Button104", ShowKind::ShowUnsigned, SetKind::SetDecimal, 1, false, FollowUp::None},
    };
    for (const auto& c : cases) {
        const auto& row = Only(c.readButton);
        EXPECT_EQ(row.show, c.show) << c.readButton;
        EXPECT_EQ(row.set, c.set) << c.readButton;
        EXPECT_EQ(row.analogueScale, c.analogue) << c.readButton;
        if (!c.analogue) {
            EXPECT_EQ(row.ScaleWith(43.1f), c.scale) << c.readButton;
        }
        EXPECT_EQ(row.followUp, c.followUp) << c.readButton;
    }
    // The analogue levels are exactly the four rows of page 3.
    std::set<std::string> analogue;
    for (const auto& row : ParameterMap()) {
        if (row.analogueScale) {
            analogue.insert(row.readButton);
            EXPECT_EQ(row.page, kPageAnalog);
            EXPECT_EQ(row.ScaleWith(43.1f), 43.1f);
        }
        EXPECT_EQ(row.width, std::string(row.readButton) == "Button47" ? 32 : 16);
        EXPECT_EQ(row.setButton == nullptr, row.page == kPageLog) << row.readButton;
    }
    EXPECT_EQ(analogue, (std::set<std::string>{"Button39", "Button75", "Button76", "Button77"}));
    EXPECT_EQ(Only("Button47").multiplier, 5);
}

TEST(ParameterMap, Lookups) {
    ASSERT_NE(RowByAddress(0x0026), nullptr);
    EXPECT_STREQ(RowByAddress(0x0026)->readButton, "Button11");
    EXPECT_STREQ(RowByAddress(0x0060)->caption, "Run Time (h:m)");
    EXPECT_EQ(RowByAddress(0x0061), nullptr);
    EXPECT_EQ(RowByAddress(0x0800), nullptr);
    ASSERT_NE(RowByControl("Edit6"), nullptr);
    EXPECT_STREQ(RowByControl("Edit6")->setButton, "Button12");
    EXPECT_EQ(RowByControl("Edit28"), nullptr) << "the NAME box is a composite";
    EXPECT_TRUE(RowsByReadButton("Button54").empty());
    EXPECT_TRUE(RowsBySetButton("Button85").empty());
    EXPECT_STREQ(Only("Button42").readButtonHint, "Temperature above which to raise alarm");
    EXPECT_STREQ(Only("Button104").designText, "00000");
}

TEST(ParameterMap, Pages) {
    const char* names[] = {"TabType",        "TabDebris",     "TabOil",           "TabAnalog",
                           "TabTemperature", "TabLog",        "TabCAN",           "TabPGNID",
                           "TabLEDs",        "TabCorrection", "TabLinearisation", "TabSerialise"};
    const char* captions[] = {"Sensor Type", "Debris",     "Oil",           "Analog Output",
                              "Temperature", "Log",        "CAN",           "PGN/ID",
                              "LEDs",        "Correction", "Linearisation", "Serialise"};
    ASSERT_EQ(Pages().size(), 12u);
    for (int i = 0; i < 12; ++i) {
        const PageInfo& p = Pages()[static_cast<std::size_t>(i)];
        EXPECT_EQ(p.index, i);
        EXPECT_STREQ(p.name, names[i]);
        EXPECT_STREQ(p.caption, captions[i]);
        EXPECT_EQ(p.designVisible, i != 9 && i != 10) << i;
        EXPECT_EQ(p.hiddenOnShow, i == 5 || i == 8 || i == 9 || i == 10 || i == 11) << i;
        EXPECT_EQ(PageByName(names[i]), &p);
    }
    EXPECT_EQ(PageByName("TabNone"), nullptr);
    for (const auto& row : ParameterMap()) {
        EXPECT_NE(row.page, kPageCorrection);
        EXPECT_NE(row.page, kPageLinearisation);
    }
}

TEST(ParameterMap, PageChangeReads) {
    struct Case {
        int page;
        std::vector<std::string> reads;
        bool start;
    } cases[] = {
        {0, {}, false},
        {1, {"Button3", "Button7", "Button96", "Button100"}, true},
        {2, {"Button9", "Button11", "Button13", "Button15"}, true},
        {3, {"Button75", "Button77", "Button39", "Button76"}, false},
        {4, {"Button17", "Button19", "Button41", "Button42"}, false},
        {5, {"Button47", "Button48", "Button49", "Button50", "Button51"}, false},
        {6, {"Button54"}, false},
        {7, {"Button64"}, false},
        {8, {"Button69", "Button70", "Button71"}, false},
        {9, {}, false},
        {10, {}, false},
        {11, {"Button104", "Button105"}, false},
    };
    for (const auto& c : cases) {
        const PageRead& r = PageReads(c.page);
        EXPECT_EQ(r.page, c.page);
        EXPECT_EQ(std::vector<std::string>(r.reads.begin(), r.reads.end()), c.reads) << c.page;
        EXPECT_EQ(r.startReadout, c.start) << c.page;
        for (const char* b : r.reads) {
            const std::string button = b;
            if (button != "Button54" && button != "Button64") {
                ASSERT_FALSE(RowsByReadButton(b).empty()) << b;
                EXPECT_EQ(RowsByReadButton(b)[0]->page, c.page) << b;
            }
        }
    }
    EXPECT_TRUE(PageReads(12).reads.empty());
    EXPECT_TRUE(PageReads(-1).reads.empty());
}

TEST(ParameterMap, WholeConfigurationReadOrder) {
    const auto order = ReadAllOrder();
    ASSERT_EQ(order.size(), 47u);
    EXPECT_STREQ(order[0].readButton, "Button37");
    std::vector<std::string> direct;
    std::vector<J1939Field> name, canId;
    for (const auto& step : order) {
        const auto rows = RowsByReadButton(step.readButton);
        ASSERT_EQ(rows.size(), 1u) << step.readButton;
        switch (step.via) {
        case ReadVia::Direct:
            direct.push_back(step.readButton);
            break;
        case ReadVia::Name:
            name.push_back(rows[0]->field);
            break;
        case ReadVia::CanId:
            canId.push_back(rows[0]->field);
            break;
        }
    }
    const std::vector<std::string> expectedDirect{
        "Button37", "Button75", "Button76", "Button77", "Button39", "Button1",  "Button3",
        "Button5",  "Button7",  "Button9",  "Button11", "Button13", "Button15", "Button17",
        "Button19", "Button21", "Button23", "Button25", "Button27", "Button29", "Button31",
        "Button33", "Button35", "Button41", "Button42", "Button47", "Button48", "Button49",
        "Button50", "Button51", "Button69", "Button70", "Button71"};
    EXPECT_EQ(direct, expectedDirect);
    EXPECT_EQ(name, std::vector<J1939Field>(NameReadOrder().begin(), NameReadOrder().end()));
    std::vector<J1939Field> expectedCanId(PgnReadOrder().begin(), PgnReadOrder().end());
    expectedCanId.insert(expectedCanId.end(), CanIdReadOrder().begin(), CanIdReadOrder().end());
    EXPECT_EQ(canId, expectedCanId);
    // NAME comes before CAN ID, and the LED reads close the batch.
    EXPECT_EQ(order[30].via, ReadVia::Name);
    EXPECT_EQ(order[39].via, ReadVia::CanId);
    EXPECT_STREQ(order[46].readButton, "Button71");
}

TEST(ParameterMap, WholeConfigurationReadFields) {
    const auto hidden = ReadAllHiddenFields();
    ASSERT_EQ(hidden.size(), 42u);
    EXPECT_EQ(hidden.front(), "Edit1");
    EXPECT_EQ(hidden[38], "Edit39");
    EXPECT_EQ(hidden.back(), "csBlue");

    auto contains = [](const std::vector<std::string>& v, const char* n) {
        return std::find(v.begin(), v.end(), n) != v.end();
    };
    const auto temperature = ReadAllShownFields(0x0044);
    const auto oil = ReadAllShownFields(0x0040);
    const auto can = ReadAllShownFields(0x0000);
    for (const char* n : {"Edit5", "Edit6", "Edit7", "Edit8"}) {
        EXPECT_FALSE(contains(temperature, n)) << n;
        EXPECT_TRUE(contains(oil, n)) << n;
    }
    for (const char* n : {"Edit21", "Edit22"}) {
        EXPECT_TRUE(contains(temperature, n)) << n;
        EXPECT_FALSE(contains(oil, n)) << n;
    }
    for (const char* n : {"Edit37", "Edit38", "Edit39", "Edit20"}) {
        EXPECT_FALSE(contains(can, n)) << n;
        EXPECT_TRUE(contains(oil, n)) << n;
        EXPECT_TRUE(contains(ReadAllShownFields(0x0002), n)) << n;
    }
    const std::vector<std::string> expectedOil{
        "Edit1",  "Edit2",  "Edit3",  "Edit4",  "Edit9",  "Edit10", "Edit11",  "Edit12",
        "Edit13", "Edit14", "Edit15", "Edit16", "Edit17", "Edit18", "Edit19",  "Edit5",
        "Edit6",  "Edit7",  "Edit8",  "Edit23", "Edit24", "Edit25", "Edit26",  "Edit27",
        "Edit28", "Edit29", "Edit30", "Edit31", "Edit32", "Edit33", "Edit34",  "Edit35",
        "Edit36", "Edit37", "Edit38", "Edit39", "Edit20", "csRed",  "csGreen", "csBlue"};
    EXPECT_EQ(oil, expectedOil);
}

TEST(ParameterMap, SingleCommandActions) {
    struct Case {
        const char* handler;
        std::vector<std::string> steps; // "send X", "wait N", "read B", "ack X", ...
    } cases[] = {
        {"Button85Click", {"send Z"}},
        {"Button52Click", {"send rr", "wait 50", "read Button47"}},
        {"Button53Click",
         {"send rt", "wait 50", "read Button48", "wait 50", "read Button49", "wait 50",
          "read Button50", "wait 50", "read Button51"}},
        {"Button72Click", {"value i %x csRed"}},
        {"Button73Click", {"value j %x csGreen"}},
        {"Button74Click", {"value k %x csBlue"}},
    };
    ASSERT_EQ(SingleCommandActions().size(), std::size(cases));
    for (const auto& c : cases) {
        const auto* action = ActionByHandler(c.handler);
        ASSERT_NE(action, nullptr) << c.handler;
        std::vector<std::string> steps;
        for (const auto& s : action->steps) {
            switch (s.kind) {
            case ActionStepKind::Send:
                steps.push_back(std::string("send ") + s.text);
                break;
            case ActionStepKind::SendValue:
                steps.push_back(std::string("value ") + s.text + " " + s.control);
                break;
            case ActionStepKind::Wait:
                steps.push_back("wait " + std::to_string(s.ms));
                break;
            case ActionStepKind::Read:
                steps.push_back(std::string("read ") + s.text);
                ASSERT_EQ(RowsByReadButton(s.text).size(), 1u) << s.text;
                break;
            }
        }
        EXPECT_EQ(steps, c.steps) << c.handler;
    }
    EXPECT_STREQ(ActionByHandler("Button85Click")->caption, "Reload");
    EXPECT_EQ(ActionByHandler("Button99Click"), nullptr);
}

TEST(ParameterMap, AlarmCaptions) {
    ASSERT_EQ(CaptionRewrites().size(), 2u);
    EXPECT_STREQ(CaptionRewrites()[0].button, "Button42");
    EXPECT_EQ(RewrittenCaption(CaptionRewrites()[0]), "High temperature alarm (\xC2\xB0"
                                                      "C)");
    EXPECT_STREQ(CaptionRewrites()[1].button, "Button41");
    EXPECT_EQ(RewrittenCaption(CaptionRewrites()[1]), "Low temperature alarm (\xC2\xB0"
                                                      "C)");
    EXPECT_STREQ(Only("Button42").caption, "High temperature alarm (C)");
}

// Every read button of the map and every J1939 composite has exactly one stable name, and a
// feature word takes a name away exactly when the window hides its page or control.
TEST(ParameterNames, EveryReadButtonHasOneNameAndTheOfferFollowsTheFeatureWord) {
    std::set<std::string> buttons;
    for (const ParameterRow& row : ParameterMap()) {
        buttons.insert(row.readButton);
    }
    for (const J1939Composite* c : {&kNameComposite, &kPgnComposite, &kCanIdComposite}) {
        buttons.insert(c->button);
    }
    std::set<std::string> named;
    std::set<std::string> names;
    for (const ParameterName& n : ParameterNames()) {
        EXPECT_TRUE(named.insert(n.readButton).second) << n.readButton << " has two names";
        EXPECT_TRUE(names.insert(n.name).second) << n.name << " names two parameters";
        EXPECT_EQ(ParameterByName(n.name), &n);
    }
    EXPECT_EQ(named, buttons);

    const std::uint16_t current = FeatureBit::OutputCurrent;
    const std::uint16_t can = 0;
    const std::uint16_t temperature = FeatureBit::OutputVoltage | FeatureBit::ThirdIsTemperature;
    const struct {
        const char* name;
        std::uint16_t word;
        bool offered;
        const char* unit;
    } cases[] = {
        {"full-scale-level", current, true, "mA"},
        {"full-scale-level", temperature, true, "V"},
        {"full-scale-level", can, false, "V"},
        {"can-source-address", can, true, "hex"},
        {"can-source-address", current, false, "hex"},
        {"can-id", can, true, "hex"},
        {"oil-upper-threshold", current, true, ""},
        {"oil-upper-threshold", temperature, false, ""},
        {"high-temperature-alarm", temperature, true, "degC"},
        {"coarse-full-scale", FeatureBit::CoarseDisabled | FeatureBit::FineDisabled, false, ""},
    };
    for (const auto& c : cases) {
        const ParameterName* n = ParameterByName(c.name);
        ASSERT_NE(n, nullptr) << c.name;
        EXPECT_EQ(OfferedBy(*n, c.word), c.offered) << c.name << " with " << c.word;
        EXPECT_EQ(UnitText(n->unit, c.word), c.unit) << c.name;
    }
}

namespace {

class RecordingView final : public ParameterView {
public:
    void ShowRead(const ParameterRow&, const DisplayResult&) override {}
    void ShowEntry(const ParameterRow&, const EntryResult& result) override {
        if (result.refused) {
            messages.push_back(result.message);
        }
    }
    void ShowComposite(const J1939Composite&, const std::string&) override {}
    std::vector<std::string> messages;
};

} // namespace

// What a typed value puts on the wire: the words of every value the parameter holds, exactly
// as before; nothing at all, and a message naming the field and its range, for anything else.
TEST(ParameterMap, ASetWritesOnlyAValueTheParameterHolds) {
    using W = std::vector<std::string>;
    struct Case {
        const char* setButton;
        const char* text;
        float analogueScale;
        W writes;            // the write commands, when the value is taken
        const char* message; // the message, when it is refused
    } cases[] = {
        {"Button4", "-1", 43.1f, {"W 0004 ff", "W 0005 ff"}, nullptr},
        {"Button4", " 42 ", 43.1f, {"W 0004 2a", "W 0005 00"}, nullptr},
        {"Button4", "32767", 43.1f, {"W 0004 ff", "W 0005 7f"}, nullptr},
        {"Button106", "01234", 43.1f, {"W 0080 d2", "W 0081 04"}, nullptr}, // decimal, not octal
        {"Button106", "65535", 43.1f, {"W 0080 ff", "W 0081 ff"}, nullptr},
        {"Button16", "2.57", 43.1f, {"W 0024 19", "W 0025 00"}, nullptr}, // 25.7 truncated
        {"Button16", "3,5", 43.1f, {"W 0024 23", "W 0025 00"}, nullptr},  // the decimal comma
        {"Button44", "-10", 43.1f, {"W 0032 60", "W 0033 ff"}, nullptr},  // x16: 0xFF60
        {"Button44", "2047", 43.1f, {"W 0032 f0", "W 0033 7f"}, nullptr},
        {"Button12", "1200", 43.1f, {"W 0026 b0", "W 0027 04"}, nullptr},
        {"Button56", "0x7", 43.1f, {"W 00c6 07", "W 00c7 00"}, nullptr},
        {"Button22", "7FF", 43.1f, {"W 00b0 ff", "W 00b1 07"}, nullptr},
        {"Button40", "20", 43.1f, {"W 0010 5e", "W 0011 03"}, nullptr}, // 862 counts
        {"Button4",
         "70000",
         43.1f,
         {},
         "Read Coarse 100%: \"70000\" is not a whole number from -32768 to 32767. Nothing was "
         "written."},
        {"Button4", "12abc", 43.1f, {}, "is not a whole number from -32768 to 32767"},
        {"Button4", "1e3", 43.1f, {}, "is not a whole number"},
        {"Button4", "0x10", 43.1f, {}, "is not a whole number"},
        {"Button4", "", 43.1f, {}, "is not a whole number"},
        {"Button4", "1 2", 43.1f, {}, "is not a whole number"},
        {"Button106", "-1", 43.1f, {}, "is not a whole number from 0 to 65535"},
        {"Button106", "65536", 43.1f, {}, "from 0 to 65535"},
        {"Button16", "1e9", 43.1f, {}, "is not a number from 0.00 to 3276.70"},
        {"Button16", "-1", 43.1f, {}, "is not a number from 0.00 to 3276.70"},
        {"Button16", "3276.8", 43.1f, {}, "from 0.00 to 3276.70"},
        {"Button16", "inf", 43.1f, {}, "is not a number"},
        {"Button16", "1,000", 43.1f, {}, "thousands separator"},
        {"Button16", "1,5,0", 43.1f, {}, "is not a number"},
        {"Button44", "2048", 43.1f, {}, "is not a whole number from -2048 to 2047"},
        {"Button44", "2.5", 43.1f, {}, "is not a whole number"},
        {"Button56", "8", 43.1f, {}, "is not a hexadecimal number from 0 to 7"},
        {"Button22", "0xFFFF", 43.1f, {}, "Manufacturer Code:11: \"0xFFFF\" is not a hexadecimal"},
        {"Button22", "-1", 43.1f, {}, "is not a hexadecimal number from 0 to 7ff"},
        {"Button40", "761", 43.1f, {}, "is not a number from 0.00 to 760.26"},
        {"Button40", "20", 0.0f, {}, "scale is unknown"},
    };
    for (const auto& c : cases) {
        Rig rig;
        for (int i = 0; i < 64; ++i) {
            rig.link.Reply(WriteReply());
        }
        RecordingView view;
        ParameterAccess params(rig.memory, view);
        params.analogueScale = c.analogueScale;
        const EntryInput input{false, c.text, 0};
        params.Set(c.setButton, std::span<const EntryInput>(&input, 1));
        W writes;
        for (const std::string& command : rig.link.commands) {
            if (command.starts_with("W ")) {
                writes.push_back(command);
            }
        }
        EXPECT_EQ(writes, c.writes) << c.setButton << " [" << c.text << "]";
        if (c.message) {
            EXPECT_TRUE(rig.link.commands.empty()) << c.setButton << " [" << c.text << "]";
            ASSERT_EQ(view.messages.size(), 1u) << c.setButton << " [" << c.text << "]";
            EXPECT_NE(view.messages[0].find(c.message), std::string::npos) << view.messages[0];
        } else {
            EXPECT_TRUE(view.messages.empty()) << c.setButton << " [" << c.text << "]";
        }
    }
}
