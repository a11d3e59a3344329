#include "FormDeviceFixture.h"

namespace burnwise::device::testing {
namespace {

using ui::TMainForm;

TEST(Operations, WithNoDeviceEachEndsWithOneLine) {
    for (const std::string_view command : {"BWErase", "Read1", "ReadandParse1", "ToolButton11"}) {
        DeviceBench p;
        p.Template("KR2S");
        p.Form.SetActionEnabled(p.Form.BWErase, true);
        ASSERT_TRUE(p.Form.UserExecute(command));
        EXPECT_EQ(p.Form.Memo1.Lines, std::vector<std::string>{"No Devices found ..."}) << command;
        EXPECT_TRUE(p.Boxes().empty());
    }
}

TEST(Operations, ReadAndParsePutsTheLastGoodDeviceIntoTheWindow) {
    DeviceBench p;
    p.Bench.AddDevice("KR2S");
    p.Bench.AddDevice("KR4S");
    p.Template("KR2S", [](TMainForm& f) {
        ASSERT_TRUE(f.UserClick("CheckBox5"));
        ASSERT_TRUE(f.UserTypeText("Edit6", "PA000001"));
        ASSERT_TRUE(f.UserTypeText("Edit10", "Parse Maker"));
    });
    p.Form.BWProgramExecute();
    p.Form.SetText(p.Form.Edit10, "Someone Else");
    p.Log.clear();
    p.Form.ReadandParse1Click();
    // Putting the texts into the fields runs their length check, which clears the list.
    EXPECT_EQ(p.Log, (std::vector<std::string>{"Read EEPROM successful Device 0",
                                               "ERROR - Read EEPROM failed Device 1"}))
        << "a blank device fails the parse";
    EXPECT_EQ(p.Form.Edit10.Text, "Parse Maker");
    EXPECT_EQ(p.Form.Edit6.Text, "PA000001");
    EXPECT_EQ(p.Form.CB1.Text, "KR2S");
    EXPECT_EQ(p.Form.CB2.Text, "Velquor Default");
    EXPECT_FALSE(p.Form.IsUsable(p.Form.CB1)) << "the template groups stay locked";
    EXPECT_FALSE(p.Form.BWProgram.Enabled);
    EXPECT_TRUE(p.Form.BWSaveAs.Enabled);
    EXPECT_TRUE(p.State.Selectors.Kr2Selected) << "the rules ran for the shown type";
    EXPECT_EQ(p.Bench.OpenHandles(), 0);
}

TEST(Operations, CycleLogsOpenFailuresAndBoxesDriverFailures) {
    DeviceBench p;
    for (int i = 0; i < 3; ++i)
        p.Bench.AddDevice("KR2S");
    p.Template("KR2S");
    p.Flags.OnlyBlankDevices = false;
    p.Bench.AddFault(1, {FaultKind::Cycle, std::nullopt, VQ_IO_ERROR});
    std::vector<bool> buttonDuringRun;
    p.Form.StateChanged = [&](std::string_view name) {
        if (name == "ToolButton11") buttonDuringRun.push_back(p.Form.ToolButton11.Enabled);
    };
    ASSERT_TRUE(p.Form.UserExecute("ToolButton11"));
    EXPECT_EQ(p.Form.Memo1.Lines, (std::vector<std::string>{"CyclePort successful Device 0",
                                                            "CyclePort successful Device 2"}));
    EXPECT_EQ(p.Boxes(), std::vector<std::string>{"info: No Valid Devices Found"});
    EXPECT_EQ(buttonDuringRun, (std::vector<bool>{false, true}));
    EXPECT_EQ(p.Bench.OpenHandles(), 0);
}

TEST(Operations, EveryOperationSaysWhenDevicesWereLeftOut) {
    for (const std::string_view command :
         {"BWScan", "BWProgram", "BWErase", "Read1", "ReadandParse1", "ToolButton11"}) {
        DeviceBench p;
        for (int i = 0; i < 17; ++i)
            p.Bench.AddDevice("KR2S");
        p.Template("KR2S");
        p.Form.SetActionEnabled(p.Form.BWErase, true);
        ASSERT_TRUE(p.Form.UserExecute(command)) << command;
        ASSERT_FALSE(p.Form.Memo1.Lines.empty()) << command;
        EXPECT_EQ(p.Form.Memo1.Lines.back(), "only the first 16 devices are examined") << command;
    }
}

TEST(Operations, FormCloseClosesADeviceLeftOpen) {
    DeviceBench p;
    p.Bench.AddDevice("KR2S");
    ASSERT_TRUE(p.Engine().Unit.OpenDeviceAt(0));
    EXPECT_EQ(p.Bench.OpenHandles(), 1);
    p.Form.FormClose();
    EXPECT_EQ(p.Bench.OpenHandles(), 0);
    EXPECT_FALSE(p.Engine().Unit.DeviceIsOpen);
}

TEST(Operations, WithoutADriverEveryDeviceCommandSaysSo) {
    StartedForm p;
    for (const std::string_view command : {"BWScan", "Read1", "ReadandParse1", "ToolButton11"}) {
        p.Host.Calls.clear();
        ASSERT_TRUE(p.Form.UserExecute(command));
        EXPECT_EQ(p.Host.Boxes(), std::vector<std::string>{"error: No device driver is loaded"});
    }
    p.Form.FormClose();
}

} // namespace
} // namespace burnwise::device::testing
