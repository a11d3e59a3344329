#include "FormDeviceFixture.h"

namespace burnwise::device::testing {
namespace {

using ui::TMainForm;

void ProgramAll(DeviceBench& p, std::string_view model, std::string_view serial) {
    p.Template(model, [serial](TMainForm& f) {
        ASSERT_TRUE(f.UserClick("CheckBox5"));
        ASSERT_TRUE(f.UserTypeText("Edit6", serial));
        ASSERT_TRUE(f.UserClick("CheckBox6"));
    });
    p.Form.BWProgramExecute();
    ASSERT_TRUE(p.Boxes().empty()) << ::testing::PrintToString(p.Boxes());
    p.Host.Calls.clear();
}

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

TEST(Operations, EraseTakesOnlyBlankOnesWhenAskedAndOpensNothingTwice) {
    for (const bool onlyBlank : {false, true}) {
        SCOPED_TRACE(onlyBlank);
        DeviceBench p;
        p.Bench.AddDevice("KR2S");
        p.Bench.AddDevice("KR2S");
        ProgramAll(p, "KR2S", "ER000001");
        p.Bench.AddDevice("KR2S");
        p.Flags.OnlyBlankDevices = onlyBlank;
        p.Trace.Calls.clear();
        p.Form.BWEraseExecute();
        if (onlyBlank) {
            EXPECT_EQ(p.Form.Memo1.Lines, std::vector<std::string>{"Erase successful Device 0"});
            EXPECT_NE(p.Bench.Words(0), std::vector<std::uint16_t>(64, 0xFFFF)) << "kept";
            EXPECT_EQ(p.Trace.Count("VQ_Open"), 3 + 1);
        } else {
            EXPECT_EQ(p.Form.Memo1.Lines, (std::vector<std::string>{"Erase successful Device 0",
                                                                    "Erase successful Device 1",
                                                                    "Erase successful Device 2"}));
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(p.Bench.Words(i), std::vector<std::uint16_t>(64, 0xFFFF));
        }
        EXPECT_EQ(p.Bench.OpenHandles(), 0);
    }
}

TEST(Operations, EraseReportsAFailedDeviceAndGoesOn) {
    DeviceBench p;
    p.Bench.AddDevice("KR2S");
    p.Bench.AddDevice("KR2S");
    p.Flags.OnlyBlankDevices = false;
    p.Bench.AddFault(0, {FaultKind::Erase, std::nullopt, VQ_EEPROM_ERASE_FAILED});
    p.Form.BWEraseExecute();
    EXPECT_EQ(p.Form.Memo1.Lines, (std::vector<std::string>{"ERROR - Erase failed Device 0",
                                                            "Erase successful Device 1"}));
}

TEST(Operations, ReadDumpsEveryDeviceAndSkipsOnlyTheDumpOfAFailedOne) {
    DeviceBench p;
    p.Bench.AddDevice("KR2S");
    p.Bench.AddDevice("KR2S");
    p.Bench.AddDevice("KR2S");
    ProgramAll(p, "KR2S", "RD000001");
    p.Bench.AddFault(1, {FaultKind::Read, 9, VQ_EEPROM_READ_FAILED});
    p.Form.Read1Click();
    const auto& lines = p.Form.Memo1.Lines;
    ASSERT_EQ(lines.size(), 1u + 8u + 1u + 1u + 8u);
    EXPECT_EQ(lines[0], "Read EEPROM successful Device 0");
    EXPECT_TRUE(lines[1].starts_with("0000 : ")) << lines[1];
    EXPECT_EQ(lines[9], "ERROR - Read EEPROM failed Device 1");
    EXPECT_EQ(lines[10], "Read EEPROM successful Device 2");
    EXPECT_EQ(p.Bench.OpenHandles(), 0);
}

TEST(Operations, ReadWithKr3SelectedVisitsExactlyTheCountedChannels) {
    DeviceBench p;
    p.Bench.AddDevice("KR3D", "93C56"); // 0 = A, 1 = B
    p.Bench.AddDevice("KR3D", "93C56"); // 2 = A, 3 = B
    p.Template("KR3D");
    p.Trace.Calls.clear();
    p.Form.Read1Click();
    const auto& lines = p.Form.Memo1.Lines;
    ASSERT_EQ(lines.size(), 2u * (1u + 16u)) << "KR3 dumps are 16 lines";
    EXPECT_EQ(lines[0], "Read EEPROM successful Device 0");
    EXPECT_EQ(lines[17], "Read EEPROM successful Device 1");
    // Four opens for the scan, then channels A at driver indexes 0 and 2.
    std::vector<std::string> opens;
    EXPECT_EQ(p.Trace.Count("VQ_Open"), 4 + 2);
    EXPECT_EQ(p.Engine().Scan.CountedDevices[1], 2);
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

TEST(Operations, CycleGoesOnAfterAnOpenFailure) {
    DeviceBench clean;
    for (int i = 0; i < 2; ++i)
        clean.Bench.AddDevice("KR2S");
    clean.Template("KR2S");
    clean.Flags.OnlyBlankDevices = false;
    clean.Trace.Calls.clear();
    clean.Form.ToolButton11Click();
    const auto& calls = clean.Trace.Calls;
    int opens = 0, call = 0;
    for (std::size_t i = 0; i < calls.size(); ++i)
        if (calls[i] == "VQ_Open" && ++opens == 3) call = static_cast<int>(i) + 1;

    DeviceBench p;
    for (int i = 0; i < 2; ++i)
        p.Bench.AddDevice("KR2S");
    p.Template("KR2S");
    p.Flags.OnlyBlankDevices = false;
    p.Faults.FailCall(p.Faults.Calls() + call, VQ_DEVICE_NOT_OPENED);
    p.Form.ToolButton11Click();
    EXPECT_EQ(p.Form.Memo1.Lines, (std::vector<std::string>{"CyclePort failed Device 0",
                                                            "CyclePort successful Device 1"}));
    EXPECT_EQ(p.Boxes(), (std::vector<std::string>{"error: VQ_Open - Device Not Opened...",
                                                   "error: Could Not Open Device 0"}));
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
