#include "Notes.h"
#include "burnwise/app/TemplateEditor.h"
#include "burnwise/app/TemplateFile.h"
#include "support/TempFolder.h"

#include <fstream>
#include <gtest/gtest.h>
#include <set>

namespace burnwise::app {
namespace {

using codec::ChipType;
using testing::Notes;

TEST(FieldTable, EveryRowIsCompleteAndFindsItsOwnText) {
    std::set<std::pair<std::string_view, std::string_view>> keys;
    const Template start = Template::Start();
    for (const Field& field : Fields()) {
        EXPECT_TRUE(keys.insert({field.Section, field.Key}).second) << field.Key;
        // Two rows of one name hold one value (a key of older files kept beside its own).
        const Field* named = FieldNamed(field.Name);
        ASSERT_NE(named, nullptr) << field.Key;
        EXPECT_TRUE(named->Index == field.Index && named->Flag == field.Flag &&
                    named->Text == field.Text && named->Kind == field.Kind)
            << field.Key;
        const bool typed = field.Kind == FieldKind::Model ||
                           (field.Kind == FieldKind::Index && field.Index && field.Entries > 0) ||
                           (field.Kind == FieldKind::Flag && field.Flag) ||
                           (field.Kind == FieldKind::Text && field.Text);
        EXPECT_TRUE(typed) << field.Key;
        // The start template holds every default, and a field's text is one call.
        EXPECT_EQ(FieldText(start, field), field.Default) << field.Key;
    }
    EXPECT_EQ(TemplateValues(start).size(), 49u);
    const Field* power = FindField("USB Power Options", "Max Bus Power");
    ASSERT_NE(power, nullptr);
    Template t = start;
    t.MaxBusPower = "250";
    EXPECT_EQ(FieldText(t, *power), "250");
    EXPECT_EQ(FindField("USB Power Options", "No Such Key"), nullptr);
}

TEST(TemplateFile, WhatIsWrittenOpensAsTheSameTemplate) {
    bwtest::TempFolder folder("burnwise-app-test-");
    Template t = Template::Start();
    t.Model = ChipType::KR3E;
    t.VidPidType = 2;
    t.VendorId = "1234";
    t.ProductId = "ABCD";
    t.UseFixedSerial = true;
    t.FixedSerial = "RT000009";
    t.SideARs232 = false;
    t.SideAOptoIsolate = true; // the key files gained later
    t.SideBRs232 = false;
    t.SideBCpuFifo = true;
    t.SideBVirtualComPort = false;
    t.SideBPipexDirect = true;
    t.C2Signal = 7;
    const auto file = folder.Path / "round.ept";
    ASSERT_TRUE(WriteTemplateFile(file, t));
    Notes notes;
    const std::optional<Template> opened = OpenTemplateFile(file, Template::Start(), notes);
    ASSERT_TRUE(opened);
    EXPECT_EQ(*opened, t);
    EXPECT_TRUE(notes.Boxes.empty());
}

TEST(TemplateFile, OpeningRunsTheRulesAChangeSetsOff) {
    bwtest::TempFolder folder("burnwise-app-test-");
    const auto file = folder.Path / "rules.ept";
    std::ofstream(file) << "[Basic Details]\nDevice Type=7\nVID PID Type=2\nUSB VID=0000\n"
                           "[USB Power Options]\nBus Powered=0\nSelf Powered=1\nMax Bus Power=600\n"
                           "[Windows Plug and Play]\nEnable Plug and Play=1\n"
                           "[Programming Options]\nOnly Program Blank Devices=1\n";
    Notes notes;
    const std::optional<Template> t = OpenTemplateFile(file, Template::Start(), notes);
    ASSERT_TRUE(t);
    EXPECT_EQ(notes.Boxes,
              (std::vector<std::string>{"info: All zeros is an invalid VID",
                                        "info: Max current exceeded - setting to 500mA"}));
    EXPECT_EQ(t->VendorId, "3C5A");
    EXPECT_EQ(t->MaxBusPower, "500");
    EXPECT_TRUE(t->SelfPowered);
    EXPECT_FALSE(t->BusPowered) << "one power button at a time";
    EXPECT_FALSE(t->PlugAndPlay) << "the KR4F has no Plug and Play";
    EXPECT_FALSE(t->OnlyBlankDevices) << "nor a blank state";

    Notes missing;
    EXPECT_FALSE(OpenTemplateFile(folder.Path / "none.ept", Template::Start(), missing));
    ASSERT_EQ(missing.Boxes.size(), 1u);
    EXPECT_TRUE(missing.Boxes[0].starts_with("error: Cannot open file")) << missing.Boxes[0];
}

TEST(GatherSettings, TheModelDecidesWhatEachFieldFeeds) {
    codec::CodecState state;
    device::RunFlags flags;
    Template t = Template::Start();
    t.Model = ChipType::KR4S;
    t.InvertRts = true;
    t.DisableSerialNumber = true;
    t.SideAFifo = true; // not a KR4 option
    GatherSettings(t, 0, state, flags);
    const codec::EepromSettings& s = state.Settings;
    EXPECT_EQ(s.Kr4Present, 1);
    EXPECT_EQ(s.InvertRts, 1);
    EXPECT_EQ(s.SideAFifo, 0);
    EXPECT_EQ(s.PlugAndPlay, 1);
    EXPECT_EQ(s.Kr4SerialNumberEnable, 0);
    EXPECT_TRUE(flags.SerialNumberDisabled);
    // Pins without an entry program the signal they show.
    EXPECT_EQ((std::vector<int>{s.C0Signal, s.C1Signal, s.C2Signal, s.C3Signal, s.C4Signal}),
              (std::vector<int>{0, 3, 2, 1, 5}));
    EXPECT_EQ(s.InEndpointSize, 64);

    t.Model = ChipType::KR4F;
    GatherSettings(t, 0, state, flags);
    EXPECT_EQ(state.Settings.PlugAndPlay, 0) << "disabled for the model";
    EXPECT_EQ(state.Settings.Kr4IsFifo, 1);
}

} // namespace
} // namespace burnwise::app
