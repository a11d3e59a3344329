#include "FormFixture.h"
#include "burnwise/codec/ChipModels.h"

namespace burnwise::ui::testing {
namespace {

using codec::TextOf;

TEST(GatherSettings, FixedSerialAdvancesTheLastCharacterPerDevice) {
    StartedForm p;
    p.NewWithModel("KR2S");
    p.Form.SetChecked(p.Form.Check("CheckBox5"), true);
    p.Form.SetText(p.Form.Text("Edit6"), "00000001");
    const std::pair<int, std::string> cases[] = {
        {0, "00000001"}, {1, "00000002"}, {2, "00000003"}, {9, "0000000:"}};
    for (const auto& [device, serial] : cases) {
        p.Gather(device);
        EXPECT_EQ(TextOf(p.State.Settings.SerialNumber), serial) << device;
    }
    p.Form.SetChecked(p.Form.Check("CheckBox5"), false);
    p.Gather(3);
    EXPECT_EQ(TextOf(p.State.Settings.SerialNumber), "") << "generated from the clock";
    EXPECT_EQ(TextOf(p.State.Settings.SerialPrefix), "VQ");
}

TEST(GatherSettings, LongTextsAreCutTo63Characters) {
    StartedForm p;
    p.NewWithModel("KR1S");
    p.Form.SetChecked(p.Form.Check("CheckBox5"), true);
    p.Form.SetText(p.Form.Text("Edit10"), std::string(2047, 'M'));
    p.Form.SetText(p.Form.Text("Edit6"), std::string(100, '0'));
    p.Gather(1);
    EXPECT_EQ(TextOf(p.State.Settings.Manufacturer), std::string(63, 'M'));
    EXPECT_EQ(TextOf(p.State.Settings.SerialNumber), std::string(62, '0') + "1")
        << "the device number goes to the last character kept";
    EXPECT_EQ(TextOf(p.State.Settings.SerialPrefix), "VQ") << "no spill into the next buffer";
}

TEST(GatherSettings, Kr2TakesTheWindowAndDisabledBoxesCountAsOff) {
    StartedForm p;
    p.NewWithModel("KR2F"); // Plug and Play is disabled for the FIFO model
    TMainForm& f = p.Form;
    ASSERT_TRUE(f.UserChooseEntry("CB2", 2));
    f.SetText(f.Text("Edit1"), "12ab");
    f.SetText(f.Text("Edit2"), "1x5");
    f.SetText(f.Text("Edit9"), "1x5");
    f.SetChecked(f.Check("CheckBox3"), true);
    f.SetChecked(f.Check("CheckBox1"), true);
    f.SetChecked(f.Check("CheckBox8"), true);
    f.SetChecked(f.Check("CheckBox11"), true);
    f.ChooseEntry(f.List("CB3"), 0);
    p.Gather(0);
    const codec::EepromSettings& s = p.State.Settings;
    EXPECT_EQ(s.VendorId, 0x12AB);
    EXPECT_EQ(s.ProductId, 0x105);
    EXPECT_EQ(s.MaxPowerMilliAmps, 105);
    EXPECT_EQ(s.PlugAndPlay, 0) << "checked but disabled";
    EXPECT_EQ(s.RemoteWakeup, 1);
    EXPECT_EQ(s.SelfPowered, 0);
    EXPECT_EQ(s.Kr2Present, 1);
    EXPECT_EQ(s.Kr2PullDownInSuspend, 1);
    EXPECT_EQ(s.Kr2SerialNumberEnable, 0);
    EXPECT_EQ(s.Kr2UsbVersionEnable, 1);
    EXPECT_EQ(s.Kr2UsbVersion, 0x0110);
    EXPECT_EQ(s.Kr3Present + s.Kr4Present, 0);
    EXPECT_TRUE(p.Flags.SerialNumberDisabled);

    // KR1 leaves the flag alone and has no family block.
    ASSERT_TRUE(f.UserChooseEntry("CB1", static_cast<int>(codec::ChipType::KR1S)));
    p.Gather(0);
    EXPECT_TRUE(p.Flags.SerialNumberDisabled);
    EXPECT_EQ(p.State.Settings.Kr2Present, 0);
    EXPECT_EQ(p.State.Settings.Kr2PullDownInSuspend, 0);
}

TEST(GatherSettings, Kr3TakesBothSidesModesAndDrivers) {
    StartedForm p;
    p.NewWithModel("KR3E");
    TMainForm& f = p.Form;
    for (const char* name : {"RB5", "RB8", "RB12", "CB5"})
        ASSERT_TRUE(f.UserClick(name)) << name;
    p.Gather(0);
    const codec::EepromSettings& s = p.State.Settings;
    EXPECT_EQ(s.Kr3Present, 1);
    EXPECT_EQ(s.Kr3UsbVersionEnable, 0);
    EXPECT_EQ(s.Kr3UsbVersion, 0x0200);
    EXPECT_EQ(s.Kr3SerialNumberEnable, 1);
    EXPECT_EQ((std::array{s.SideAFifo, s.SideACpuFifo, s.SideAOptoIsolate, s.SideAVirtualComPort}),
              (std::array<codec::Bool8, 4>{0, 1, 0, 0}));
    EXPECT_EQ((std::array{s.SideBFifo, s.SideBCpuFifo, s.SideBOptoIsolate, s.SideBVirtualComPort}),
              (std::array<codec::Bool8, 4>{0, 0, 1, 1}));
    EXPECT_EQ(s.SideAHighCurrent, 0);
    EXPECT_EQ(s.SideBHighCurrent, 1);
    EXPECT_FALSE(p.Flags.SerialNumberDisabled);
}

TEST(GatherSettings, Kr4TakesPinsInvertsAndPacketSize) {
    StartedForm p;
    p.NewWithModel("KR4S");
    TMainForm& f = p.Form;
    f.ChooseEntry(f.List("CBX1"), 13);
    f.ChooseEntry(f.List("CBX5"), 9);
    f.ChooseEntry(f.List("CBX6"), 2);
    f.SetChecked(f.Check("CB7"), true);
    f.SetChecked(f.Check("CB13"), true);
    f.SetChecked(f.Check("CB16"), true);
    p.Gather(0);
    const codec::EepromSettings& s = p.State.Settings;
    EXPECT_EQ(s.Kr4Present, 1);
    EXPECT_EQ(s.Kr4IsFifo, 0);
    EXPECT_EQ(s.C0Signal, 13);
    // No entry chosen: the signal the list shows (C1 "TXLED#", C2 "RXLED#", C3 "PWRON#").
    EXPECT_EQ(s.C1Signal, 3);
    EXPECT_EQ(s.C2Signal, 2);
    EXPECT_EQ(s.C3Signal, 1);
    EXPECT_EQ(s.C4Signal, 9);
    EXPECT_EQ(s.InEndpointSize, 16);
    EXPECT_EQ(s.InvertRxd + s.InvertRi + s.Kr4HighCurrentIo, 3);
    EXPECT_EQ(s.InvertTxd + s.InvertRts + s.Kr4LoadPipexDriver + s.Kr4ExternalOscillator, 0);

    ASSERT_TRUE(f.UserChooseEntry("CB1", static_cast<int>(codec::ChipType::KR4F)));
    p.Gather(0);
    EXPECT_EQ(p.State.Settings.Kr4IsFifo, 1);
    EXPECT_EQ(p.State.Settings.PlugAndPlay, 0);
}

// A record as the decoder leaves it, attached to its own text area.
struct Decoded {
    codec::SettingsTextArea Texts;
    codec::EepromSettings Settings;
    codec::FamilySelectors Selectors;
    Decoded() {
        Settings.AttachBuffers(Texts);
        Settings.Reset();
    }
};

TEST(ShowDecoded, ShowsAKr2RecordAndKeepsItsCurrent) {
    StartedForm p;
    p.NewWithModel("KR1S");
    ASSERT_TRUE(p.Form.UserClick("RB2")); // shown before: self powered
    Decoded d;
    d.Settings.VendorId = 0x1234;
    d.Settings.ProductId = 0xBEEF;
    codec::SetText(d.Settings.Manufacturer, "AB");
    codec::SetText(d.Settings.ProductDescription, "CD");
    codec::SetText(d.Settings.SerialNumber, "XY000001");
    d.Settings.MaxPowerMilliAmps = 250;
    d.Settings.Kr2Present = 1;
    d.Settings.Kr2UsbVersion = 0x0200;
    d.Settings.Kr2SerialNumberEnable = 0;
    d.Selectors.Kr2Selected = true;
    app::ApplyDecoded(*p.Form.IntoControls(), d.Settings, d.Selectors);
    app::ApplyParsedDeviceType(*p.Form.IntoControls(), d.Settings, d.Selectors);

    const TMainForm& f = p.Form;
    // The current is the device's, not the power buttons' default.
    EXPECT_EQ(States(f, {"Edit1", "Edit2", "Edit10", "Edit11", "Edit6", "Edit5", "Edit9", "RB1",
                         "RB2", "CheckBox3", "CheckBox8", "CB1", "CB3", "CB2"}),
              "Edit1=1234 Edit2=BEEF Edit10=AB Edit11=CD Edit6=XY000001 Edit5=XY Edit9=250 RB1=1 "
              "RB2=0 CheckBox3=0 CheckBox8=1 CB1=3 CB3=1 CB2=2");
    EXPECT_EQ(TextOf(d.Settings.SerialPrefix), "XY");
    EXPECT_TRUE(f.CurrentTemplate().DisableSerialNumber);
}

TEST(ShowDecoded, ShowsKr3ModesAndKr4Options) {
    StartedForm p;
    p.NewWithModel("KR4S");
    p.Form.SetChecked(p.Form.Check("CB6"), true); // left from the template shown before
    Decoded kr3;
    kr3.Settings.Kr3Present = 1;
    kr3.Settings.Kr3SerialNumberEnable = 1;
    kr3.Settings.SideACpuFifo = 1;
    kr3.Settings.SideBOptoIsolate = 1;
    kr3.Settings.SideBVirtualComPort = 1;
    kr3.Selectors.Kr3Selected = true;
    app::ApplyDecoded(*p.Form.IntoControls(), kr3.Settings, kr3.Selectors);
    const TMainForm& f = p.Form;
    EXPECT_EQ(States(f, {"CB1", "RB3", "RB5", "RB8", "RB12", "RB13", "CheckBox8"}),
              "CB1=5 RB3=0 RB5=1 RB8=1 RB12=1 RB13=1 CheckBox8=0");

    Decoded kr4;
    kr4.Settings.Kr4Present = 1;
    kr4.Settings.Kr4IsFifo = 1;
    kr4.Settings.C2Signal = 7;
    kr4.Settings.InvertDcd = 1;
    kr4.Settings.InEndpointSize = 32;
    kr4.Selectors.Kr4Selected = true;
    app::ApplyDecoded(*p.Form.IntoControls(), kr4.Settings, kr4.Selectors);
    // The FIFO pins are fixed; an invert the device does not have is cleared.
    EXPECT_EQ(States(f, {"CB1", "CBX1", "CBX3", "CBX5", "CB6", "CB12", "CBX6"}),
              "CB1=7 CBX1=13 CBX3=13 CBX5=1 CB6=0 CB12=1 CBX6=1");
    EXPECT_TRUE(kr4.Selectors.Kr4FifoSelected);
    EXPECT_EQ(kr4.Settings.C2Signal, 0);

    kr4.Settings.Kr4IsFifo = 0;
    kr4.Settings.C2Signal = 7;
    kr4.Settings.C4Signal = 12; // beyond the C4 list
    kr4.Settings.InEndpointSize = 48;
    app::ApplyDecoded(*p.Form.IntoControls(), kr4.Settings, kr4.Selectors);
    EXPECT_EQ(States(f, {"CB1", "CBX3", "CBX5", "CBX6"}), "CB1=6 CBX3=7 CBX5=-1 CBX6=-1");
    EXPECT_FALSE(kr4.Selectors.Kr4FifoSelected);
}

TEST(ShowDecoded, ParsedIdsChooseTheIdentifierKind) {
    struct Case {
        std::uint16_t Vid, Pid;
        bool Kr3;
        const char* Kind;
        const char* Model;
    };
    const Case cases[] = {
        {0x3C5A, 0x71A0, false, "Velquor Default", "KR2S"},
        {0x3C5A, 0x71B0, false, "Velquor Supplied PID", "KR2S"},
        {0x3C5A, 0x71B0, true, "Velquor Default", "KR3D"},
        {0x3C5A, 0x71A0, true, "Velquor Supplied PID", "KR3D"},
        {0x1234, 0x71A0, false, "Own VID & PID", "KR2S"},
    };
    for (const Case& c : cases) {
        StartedForm p;
        Decoded d;
        d.Settings.VendorId = c.Vid;
        d.Settings.ProductId = c.Pid;
        (c.Kr3 ? d.Settings.Kr3Present : d.Settings.Kr2Present) = 1;
        app::ApplyParsedDeviceType(*p.Form.IntoControls(), d.Settings, d.Selectors);
        EXPECT_EQ(p.Form.List("CB2").Text, c.Kind)
            << std::hex << c.Vid << " " << c.Pid << " " << c.Kr3;
        EXPECT_EQ(p.Form.List("CB1").Text, c.Model);
    }
}

} // namespace
} // namespace burnwise::ui::testing
