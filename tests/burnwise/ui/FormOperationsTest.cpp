#include "FormDeviceFixture.h"

namespace burnwise::device::testing {
namespace {

using ui::TMainForm;

TEST(Operations, WithNoDeviceEachEndsWithOneLine) {
    for (const std::string_view command : {"BWErase", "Read1", "ReadandParse1", "ToolButton11"}) {
        DeviceBench p;
        p.Template("KR2S");
        p.Form.SetActionEnabled(p.Form.ActionNamed("BWErase"), true);
        ASSERT_TRUE(p.Form.UserExecute(command));
        EXPECT_EQ(p.Form.Messages().Lines, std::vector<std::string>{"No Devices found ..."})
            << command;
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
    p.Form.SetText(p.Form.Text("Edit10"), "Someone Else");
    p.Log.clear();
    p.Form.ReadandParse1Click();
    // Putting the texts into the fields runs their length check, which clears the list.
    EXPECT_EQ(p.Log, (std::vector<std::string>{"Read EEPROM successful Device 0",
                                               "ERROR - Read EEPROM failed Device 1"}))
        << "a blank device fails the parse";
    EXPECT_EQ(p.Form.Text("Edit10").Text, "Parse Maker");
    EXPECT_EQ(p.Form.Text("Edit6").Text, "PA000001");
    EXPECT_EQ(p.Form.List("CB1").Text, "KR2S");
    EXPECT_EQ(p.Form.List("CB2").Text, "Velquor Default");
    EXPECT_FALSE(p.Form.IsUsable(p.Form.List("CB1"))) << "the template groups stay locked";
    EXPECT_FALSE(p.Form.ActionNamed("BWProgram").Enabled);
    EXPECT_TRUE(p.Form.ActionNamed("BWSaveAs").Enabled);
    EXPECT_EQ(p.Form.CurrentTemplate().Model, codec::ChipType::KR2S)
        << "the rules ran for the shown type";
    EXPECT_EQ(p.Bench.OpenHandles(), 0);
}

TEST(Operations, CycleLogsOpenFailuresAndBoxesDriverFailures) {
    DeviceBench p;
    for (int i = 0; i < 3; ++i)
        p.Bench.AddDevice("KR2S");
    p.Template("KR2S", [](ui::TMainForm& f) { f.SetChecked(f.Check("CheckBox6"), false); });
    p.Bench.AddFault(1, {FaultKind::Cycle, std::nullopt, VQ_IO_ERROR});
    std::vector<bool> buttonDuringRun;
    p.Form.StateChanged = [&](std::string_view name) {
        if (name == "ToolButton11")
            buttonDuringRun.push_back(p.Form.ActionNamed("ToolButton11").Enabled);
    };
    ASSERT_TRUE(p.Form.UserExecute("ToolButton11"));
    EXPECT_EQ(p.Form.Messages().Lines, (std::vector<std::string>{"CyclePort successful Device 0",
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
        p.Form.SetActionEnabled(p.Form.ActionNamed("BWErase"), true);
        ASSERT_TRUE(p.Form.UserExecute(command)) << command;
        ASSERT_FALSE(p.Form.Messages().Lines.empty()) << command;
        EXPECT_EQ(p.Form.Messages().Lines.back(), "only the first 16 devices are examined")
            << command;
    }
}

TEST(Operations, EraseAsksOnceListingWhatItTakesAndCancelErasesNothing) {
    for (const bool goOn : {false, true}) {
        SCOPED_TRACE(goOn);
        DeviceBench p;
        for (const char* model : {"KR2S", "KR4S", "KR3D", "KR2S"})
            p.Bench.AddDevice(model);
        const std::vector<std::uint16_t> image(64, 0x1234);
        p.Bench.SetWords(0, image);
        p.Template("KR2S", [](ui::TMainForm& f) { f.SetChecked(f.Check("CheckBox6"), false); });
        p.Host.GoOn = goOn;
        p.Form.SetActionEnabled(p.Form.ActionNamed("BWErase"), true);
        ASSERT_TRUE(p.Form.UserExecute("BWErase"));
        std::vector<std::string> asked;
        for (const std::string& call : p.Host.Calls)
            if (call.starts_with("ask ")) asked.push_back(call);
        // A KR2 template's Erase takes every device but a KR3 chip's channel B.
        const std::string s = p.Bench.SerialOf(0) + ", " + p.Bench.SerialOf(4);
        EXPECT_EQ(asked, std::vector<std::string>{
                             "ask Erase: Erase the EEPROM of 4 devices? Whatever model the "
                             "template names, Erase takes these:\nKR2: 2 (" +
                             s + ")\nKR4S: 1 (" + p.Bench.SerialOf(1) + ")\nKR3: 1 (" +
                             p.Bench.SerialOf(2) + ")"});
        EXPECT_EQ(p.Bench.Words(0)[0], goOn ? 0xFFFF : 0x1234);
        if (!goOn)
            EXPECT_EQ(p.Form.Messages().Lines,
                      std::vector<std::string>{"Erase cancelled - nothing erased"});
        else
            EXPECT_EQ(p.Form.Messages().Lines.size(), 4u);
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
