#include "config/J1939.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace quellon;

TEST(J1939, AllZero) {
    J1939Identity id;
    EXPECT_EQ(id.NameText(), "80 00 00 00 00 00 00 00");
    EXPECT_EQ(PgnText(id.ComposePgn()), "00000 (0)");
    EXPECT_EQ(CanIdText(id.CanId()), "00000000");
}

TEST(J1939, NameExamples) {
    struct Case {
        J1939NameFields f;
        const char* text;
    } cases[] = {
        // Manufacturer code 0x7FF, identity high 0x1F, identity low 0xFFFF: bytes 3..0 all ff.
        {{0x7FF, 0x1F, 0xFFFF, 0, 0, 0, 0, 0, 0}, "80 00 00 00 ff ff ff ff"},
        // Each field on its own, to pin its bits.
        {{0x001, 0, 0, 0, 0, 0, 0, 0, 0}, "80 00 00 00 00 20 00 00"},
        {{0x008, 0, 0, 0, 0, 0, 0, 0, 0}, "80 00 00 00 01 00 00 00"},
        {{0, 0x01, 0, 0, 0, 0, 0, 0, 0}, "80 00 00 00 00 01 00 00"},
        {{0, 0, 0x1234, 0, 0, 0, 0, 0, 0}, "80 00 00 00 00 00 12 34"},
        {{0, 0, 0, 0xA5, 0, 0, 0, 0, 0}, "80 00 a5 00 00 00 00 00"},
        {{0, 0, 0, 0, 0x7F, 0, 0, 0, 0}, "80 fe 00 00 00 00 00 00"},
        {{0, 0, 0, 0, 0, 0x7, 0, 0, 0}, "f0 00 00 00 00 00 00 00"},
        {{0, 0, 0, 0, 0, 0, 0xF, 0, 0}, "8f 00 00 00 00 00 00 00"},
        {{0, 0, 0, 0, 0, 0, 0, 0x7, 0}, "80 00 00 07 00 00 00 00"},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0x1F}, "80 00 00 f8 00 00 00 00"},
        // Values wider than their fields count only with their field's bits.
        {{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
         "ff fe ff ff ff ff ff ff"},
        {{0x1234, 0, 0, 0, 0, 0, 0, 0, 0}, "80 00 00 00 46 80 00 00"}, // kept as 0x234
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NameText(ComposeName(c.f)), c.text);
    }
}

TEST(J1939, PgnAndCanIdExamples) {
    struct Case {
        std::uint16_t priority, dataPage, pduFormat, pduSpecific, address;
        const char* pgn;
        const char* canId;
    } cases[] = {
        {6, 0, 0xFE, 0xF1, 0x51, "0fef1 (65265)", "18fef151"},
        {0, 0, 0, 0, 0, "00000 (0)", "00000000"},
        {7, 1, 0xFF, 0xFF, 0xFF, "1ffff (131071)", "1dffffff"},
        {3, 0, 0xEA, 0x00, 0x80, "0ea00 (59904)", "0cea0080"}, // PDU Specific kept below 240
        {0xF, 0xF, 0x1FF, 0x1FF, 0x1FF, "1ffff (131071)", "1dffffff"},
    };
    for (const auto& c : cases) {
        J1939Identity id;
        id.Keep(J1939Field::Priority, c.priority);
        id.Keep(J1939Field::DataPage, c.dataPage);
        id.Keep(J1939Field::PduFormat, c.pduFormat);
        id.Keep(J1939Field::PduSpecific, c.pduSpecific);
        id.Keep(J1939Field::SourceAddress, c.address);
        EXPECT_EQ(PgnText(id.ComposePgn()), c.pgn);
        EXPECT_EQ(CanIdText(id.CanId()), c.canId);
    }
}

TEST(J1939, CanIdUsesTheKeptPgn) {
    J1939Identity id;
    id.Keep(J1939Field::PduFormat, 0xFE);
    id.Keep(J1939Field::PduSpecific, 0xF1);
    id.Keep(J1939Field::Priority, 6);
    id.Keep(J1939Field::SourceAddress, 0x51);
    EXPECT_EQ(CanIdText(id.CanId()), "18000051") << "no PGN composed yet";
    id.ComposePgn();
    EXPECT_EQ(CanIdText(id.CanId()), "18fef151");
}

TEST(J1939, KeepMasksAndShowsWholeWord) {
    J1939Identity id;
    EXPECT_EQ(id.Keep(J1939Field::ManufacturerCode, 0x1234), 0x234);
    EXPECT_EQ(id.Value(J1939Field::ManufacturerCode), 0x234);
    EXPECT_EQ(id.Keep(J1939Field::Priority, 0xF), 7);
    EXPECT_EQ(id.Keep(J1939Field::DataPage, 0x3), 1);
    EXPECT_EQ(id.Keep(J1939Field::IdentityLow, 0xFFFF), 0xFFFF);
    EXPECT_EQ(id.Keep(J1939Field::ManufacturerCode, 0), 0) << "a failed read keeps 0";
}

TEST(J1939, FieldTable) {
    struct Case {
        J1939Field field;
        ConfigAddress address;
        std::uint16_t mask;
        const char* caption;
        const char* box;
        bool setShown;
    } cases[] = {
        {J1939Field::ManufacturerCode, 0x00B0, 0x7FF, "Manufacturer Code:11", "Edit11", false},
        {J1939Field::IdentityHigh, 0x00B4, 0x1F, "IdentityH:5", "Edit12", false},
        {J1939Field::IdentityLow, 0x00B6, 0xFFFF, "IdentityL:16", "Edit13", false},
        {J1939Field::SourceAddress, 0x00B8, 0xFF, "Address:8", "Edit14", true},
        {J1939Field::Function, 0x00BA, 0xFF, "Function:8", "Edit15", false},
        {J1939Field::VehicleSystem, 0x00BC, 0x7F, "Vehicle System:7", "Edit16", false},
        {J1939Field::IndustryGroup, 0x00BE, 0x7, "Industry Group:3", "Edit17", false},
        {J1939Field::FunctionInstance, 0x00C0, 0x1F, "Function Instance:5", "Edit36", true},
        {J1939Field::EcuInstance, 0x00C2, 0x7, "ECU Instance:3", "Edit35", true},
        {J1939Field::VehicleSystemInstance, 0x00C4, 0xF, "Vehicle System Instance:4", "Edit18",
         false},
        {J1939Field::Priority, 0x00C6, 0x7, "Priority:3", "Edit29", false},
        {J1939Field::PduSpecific, 0x00C8, 0xFF, "PDU Specific:8", "Edit32", false},
        {J1939Field::PduFormat, 0x00CA, 0xFF, "PDU Format:8", "Edit31", false},
        {J1939Field::DataPage, 0x00CC, 0x1, "Data Page:1", "Edit30", false},
    };
    ASSERT_EQ(J1939Fields().size(), 14u);
    for (const auto& c : cases) {
        const auto& info = FieldInfo(c.field);
        EXPECT_EQ(info.address, c.address) << c.caption;
        EXPECT_EQ(info.mask, c.mask) << c.caption;
        EXPECT_STREQ(info.caption, c.caption);
        EXPECT_STREQ(info.box, c.box);
        EXPECT_EQ(info.setShown, c.setShown) << c.caption;
    }
    EXPECT_EQ(FieldInfo(J1939Field::EcuInstance).after, J1939Recompose::NameReload);
    EXPECT_EQ(FieldInfo(J1939Field::FunctionInstance).after, J1939Recompose::NameReload);
    EXPECT_EQ(FieldInfo(J1939Field::Function).after, J1939Recompose::Name);
    EXPECT_EQ(FieldInfo(J1939Field::SourceAddress).after, J1939Recompose::CanId);
}

TEST(J1939, ReadOrders) {
    using F = J1939Field;
    const std::vector<F> name(NameReadOrder().begin(), NameReadOrder().end());
    EXPECT_EQ(name,
              (std::vector<F>{F::ManufacturerCode, F::IdentityHigh, F::IdentityLow, F::Function,
                              F::VehicleSystem, F::IndustryGroup, F::VehicleSystemInstance,
                              F::EcuInstance, F::FunctionInstance}));
    const std::vector<F> pgn(PgnReadOrder().begin(), PgnReadOrder().end());
    EXPECT_EQ(pgn, (std::vector<F>{F::DataPage, F::PduFormat, F::PduSpecific}));
    const std::vector<F> id(CanIdReadOrder().begin(), CanIdReadOrder().end());
    EXPECT_EQ(id, (std::vector<F>{F::Priority, F::SourceAddress}));
    // Together they read every field once.
    std::set<F> all(name.begin(), name.end());
    all.insert(pgn.begin(), pgn.end());
    all.insert(id.begin(), id.end());
    EXPECT_EQ(all.size(), 14u);
}
