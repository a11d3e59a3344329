#include "FormFixture.h"
#include "burnwise/codec/ChipModels.h"

#include <set>

namespace burnwise::ui::testing {
namespace {

struct ActionStates {
    bool Edit, Save, SaveAs, Program, Erase;
};

void ExpectActions(const TMainForm& form, ActionStates expected, const std::string& where) {
    SCOPED_TRACE(where);
    EXPECT_TRUE(form.ActionNamed("BWNew").Enabled);
    EXPECT_TRUE(form.ActionNamed("BWOpen").Enabled);
    EXPECT_EQ(form.ActionNamed("BWEdit").Enabled, expected.Edit);
    EXPECT_EQ(form.ActionNamed("BWSave").Enabled, expected.Save);
    EXPECT_EQ(form.ActionNamed("BWSaveAs").Enabled, expected.SaveAs);
    EXPECT_EQ(form.ActionNamed("BWProgram").Enabled, expected.Program);
    EXPECT_EQ(form.ActionNamed("BWErase").Enabled, expected.Erase);
}

TEST(MainForm, StartsWithEveryFieldDisabledAndOnlyTheFileCommandsOn) {
    StartedForm p;
    const TMainForm& f = p.Form;
    EXPECT_EQ(f.Caption, StartCaption);
    ExpectActions(f, {false, false, false, false, false}, "start");
    EXPECT_EQ(f.List("CB1").Text, "None");
    EXPECT_EQ(f.List("CB2").ItemIndex, 0);
    EXPECT_EQ(f.List("CB3").Text, "USB 2.0");
    EXPECT_EQ(f.List("CBX1").ItemIndex, -1);
    EXPECT_EQ(f.List("CBX2").Text, "TXLED#") << "pin lists show a text with no entry chosen";
    p.Gather();
    EXPECT_TRUE(p.Flags.OnlyBlankDevices);
    EXPECT_TRUE(f.Messages().Lines.empty());
    EXPECT_FALSE(f.ControlNamed("GB10").Visible);
    EXPECT_FALSE(f.ControlNamed("GB11").Visible);
    EXPECT_EQ(f.Pages().ActivePage, 0);
    for (const Control* c : f.Controls()) {
        if (c->Kind == ControlKind::Group || c->Kind == ControlKind::Tabs ||
            c->Kind == ControlKind::Messages)
            continue;
        EXPECT_FALSE(f.IsUsable(*c)) << c->Name << " should be locked at start";
    }
    EXPECT_TRUE(f.ControlNamed("GB1").Enabled) << "the groups themselves stay enabled";
}

// The controls are the table's rows, one each, every group before what it holds (the view
// makes each widget inside its group's); every field is shown by a control of its own name.
TEST(MainForm, ControlsAreTheTableRowsAndChangesAreAnnounced) {
    StartedForm p;
    TMainForm& f = p.Form;
    ASSERT_EQ(f.Controls().size(), ControlRows().size());
    std::set<std::string> names;
    for (const Control* c : f.Controls()) {
        EXPECT_TRUE(names.insert(c->Name).second) << "two controls named " << c->Name;
        EXPECT_TRUE(c->Parent.empty() || names.contains(c->Parent)) << c->Name;
        EXPECT_EQ(f.FindControl(c->Name), c);
    }
    for (const app::Field& field : app::Fields())
        EXPECT_EQ(f.ControlOf(field).Field->Name, field.Name) << field.Key;
    EXPECT_EQ(
        &f.ControlOf(*app::FindField("Dual Device Driver Options A", "Virtual Com Port Driver")),
        &f.Check("RB7"))
        << "a value kept under two keys is one control";
    EXPECT_THROW(f.List("Edit1"), std::logic_error);
    std::set<std::string> actionNames;
    for (const Action* a : f.Actions())
        EXPECT_TRUE(actionNames.insert(a->Name).second) << "two actions named " << a->Name;
    EXPECT_FALSE(f.UserExecute("BWSave")) << "a disabled action runs nothing";
    EXPECT_FALSE(f.UserExecute("BWNothing"));
    EXPECT_EQ(f.FindAction("BWSaveAs")->Shortcut, "Ctrl+V");

    std::vector<std::string> changed;
    p.Form.StateChanged = [&](std::string_view name) { changed.emplace_back(name); };
    p.NewWithModel("KR2S");
    changed.clear();
    ASSERT_TRUE(p.Form.UserTypeText("Edit9", "150"));
    EXPECT_NE(std::find(changed.begin(), changed.end(), "Edit9"), changed.end());
    EXPECT_FALSE(p.Form.UserTypeText("Edit6", "1")) << "the fixed serial is locked";
    EXPECT_FALSE(p.Form.UserClick("CB6")) << "KR4 options are hidden for KR2S";
}

TEST(MainForm, ModesFollowNewSaveEditAndOpen) {
    StartedForm p;
    TMainForm& f = p.Form;
    p.NewWithModel("KR2S");
    EXPECT_EQ(f.Caption, EditModeCaption);
    ExpectActions(f, {false, false, true, false, false}, "after New and a model");

    const fs::path file = p.Folder.Path / "t.ept";
    p.Host.SaveAnswer.reset();
    f.BWSaveAsExecute();
    EXPECT_EQ(f.Caption, EditModeCaption) << "Save As cancelled";
    EXPECT_FALSE(fs::exists(file));

    ASSERT_TRUE(p.SaveAs(file));
    EXPECT_EQ(p.Host.LastSave.Filter, "EEPROM Program Templates|*.ept");
    EXPECT_EQ(p.Host.LastSave.DefaultExtension, "ept");
    EXPECT_TRUE(p.Host.LastSave.PromptOverwrite);
    EXPECT_EQ(p.Host.LastSave.InitialFolder, p.Folder.Path / "Templates");
    ExpectActions(f, {true, false, false, true, true}, "after Save As");
    EXPECT_FALSE(f.IsUsable(f.Text("Edit10"))) << "groups are locked in Program mode";

    f.BWEditExecute();
    EXPECT_EQ(f.Caption, EditModeCaption);
    ExpectActions(f, {false, false, true, false, false}, "after Edit");
    ASSERT_TRUE(f.UserTypeText("Edit10", "Maker"));
    ExpectActions(f, {false, true, true, false, false}, "after a change with a file name");

    f.BWSaveExecute();
    EXPECT_EQ(f.Caption, ProgramModeCaption);
    EXPECT_NE(ReadBytes(file).find("Manufacturer=Maker\r\n"), std::string::npos);

    // New forgets the file name: a change no longer turns Save on.
    f.BWNewExecute();
    ASSERT_TRUE(f.UserChooseEntry("CB1", 1));
    ExpectActions(f, {false, false, true, false, false}, "after New following a save");
    EXPECT_TRUE(f.TemplateFileName().empty());
}

TEST(MainForm, ACancelledOpenChangesNothing) {
    StartedForm p;
    std::vector<bool> before;
    for (const Action* action : p.Form.Actions())
        before.push_back(action->Enabled);
    p.Host.OpenAnswer.reset();
    p.Form.BWOpenExecute();
    EXPECT_EQ(p.Form.Caption, StartCaption);
    std::vector<bool> after;
    for (const Action* action : p.Form.Actions())
        after.push_back(action->Enabled);
    EXPECT_EQ(after, before);
    EXPECT_FALSE(p.Form.ActionNamed("BWProgram").Enabled);
    EXPECT_TRUE(p.Host.LastOpen.FileMustExist);
    EXPECT_EQ(p.Host.LastOpen.InitialFolder, p.Folder.Path / "Templates");

    // Erase stays off after saving or opening a KR4 template.
    for (const char* model : {"KR4S", "KR4F"}) {
        StartedForm q;
        q.NewWithModel(model);
        ASSERT_TRUE(q.SaveAs(q.Folder.Path / "k.ept"));
        EXPECT_FALSE(q.Form.ActionNamed("BWErase").Enabled) << model;
        q.Form.BWEditExecute();
        q.Open(q.Folder.Path / "k.ept");
        ExpectActions(q.Form, {true, false, false, true, false}, model);
    }
}

struct ModelRules {
    const char* Model;
    bool WakeUp, PlugAndPlay, UsbVersion, DualShown, CpuFifoShown, Kr4Shown, InvertsShown,
        PinsEnabled, OnlyBlankEnabled;
    int Page;
    const char* Pid;
    codec::FamilySelectors Selectors;
};

TEST(MainForm, DeviceTypeRulesEnableTheFieldsOfEachModel) {
    // clang-format off
    //  model   wake   pnp    usbver dual   cpufifo kr4   invert pins   blank  page pid
    const ModelRules table[] = {
        {"KR1S", true,  true,  false, false, false, false, false, false, true,  0, "71A0", {}},
        {"KR1F", false, false, false, false, false, false, false, false, true,  0, "71A0", {}},
        {"KR2S", true,  true,  true,  false, false, false, false, false, true,  0, "71A0", {.Kr2Selected = true}},
        {"KR2F", true,  false, true,  false, false, false, false, false, true,  0, "71A0", {.Kr2Selected = true}},
        {"KR3D", true,  false, true,  true,  false, false, false, false, true,  0, "71B0", {.Kr3Selected = true}},
        {"KR3E", true,  false, true,  true,  true,  false, false, false, true,  0, "71B0", {.Kr3Selected = true}},
        {"KR4S", true,  true,  true,  false, false, true,  true,  true,  false, 1, "71A0", {.Kr4Selected = true}},
        {"KR4F", true,  false, true,  false, false, true,  false, false, false, 1, "71A0",
         {.Kr4Selected = true, .Kr4FifoSelected = true}},
    };
    // clang-format on
    for (const ModelRules& row : table) {
        SCOPED_TRACE(row.Model);
        StartedForm p;
        p.NewWithModel(row.Model);
        const TMainForm& f = p.Form;
        EXPECT_EQ(f.IsUsable(f.Check("CheckBox1")), row.WakeUp);
        EXPECT_EQ(f.IsUsable(f.Check("CheckBox3")), row.PlugAndPlay);
        EXPECT_EQ(f.IsUsable(f.List("CB3")), row.UsbVersion);
        EXPECT_EQ(f.IsUsable(f.Check("CheckBox8")), row.UsbVersion);
        EXPECT_EQ(f.IsUsable(f.Check("RB4")), row.DualShown);
        EXPECT_EQ(f.IsUsable(f.Check("RB5")), row.CpuFifoShown);
        EXPECT_EQ(f.IsUsable(f.Check("CB16")), row.Kr4Shown);
        EXPECT_EQ(f.IsUsable(f.Check("CB6")), row.InvertsShown);
        EXPECT_EQ(f.IsUsable(f.List("CBX1")), row.PinsEnabled);
        EXPECT_EQ(f.IsUsable(f.Check("CheckBox6")), row.OnlyBlankEnabled);
        EXPECT_EQ(f.Check("CheckBox6").Checked, row.OnlyBlankEnabled);
        p.Gather();
        EXPECT_EQ(p.Flags.OnlyBlankDevices, row.OnlyBlankEnabled);
        EXPECT_EQ(f.Pages().ActivePage, row.Page);
        if (row.Kr4Shown) {
            EXPECT_EQ(f.ControlNamed("TabSheet2").Caption, row.Model);
        }
        EXPECT_EQ(f.Text("Edit1").Text, "3C5A");
        EXPECT_EQ(f.Text("Edit2").Text, row.Pid);
        EXPECT_FALSE(f.IsUsable(f.Text("Edit1")));
        EXPECT_FALSE(f.IsUsable(f.Text("Edit2")));
        EXPECT_EQ(p.State.Selectors, row.Selectors);
        // Prefix editable, fixed serial not, as long as the fixed serial is off.
        EXPECT_TRUE(f.IsUsable(f.Text("Edit5")));
        EXPECT_FALSE(f.IsUsable(f.Text("Edit6")));
        if (std::string_view(row.Model) == "KR4F") {
            EXPECT_FALSE(f.Check("CheckBox3").Checked);
        }
    }
}

TEST(MainForm, ChoosingAnotherModelKeepsOnlyBlankUncheckedAfterKr4) {
    StartedForm p;
    p.NewWithModel("KR4S");
    ASSERT_TRUE(p.Form.UserChooseEntry("CB1", static_cast<int>(codec::ChipType::KR2S)));
    EXPECT_TRUE(p.Form.IsUsable(p.Form.Check("CheckBox6")));
    EXPECT_FALSE(p.Form.Check("CheckBox6").Checked);
    p.Gather();
    EXPECT_FALSE(p.Flags.OnlyBlankDevices);
    EXPECT_EQ(p.State.Selectors, (codec::FamilySelectors{.Kr2Selected = true}));
    EXPECT_FALSE(p.Form.ControlNamed("GB11").Visible);
}

TEST(MainForm, VidPidTypeDecidesWhichIdsAreForcedAndEditable) {
    StartedForm p;
    p.NewWithModel("KR3D");
    EXPECT_EQ(p.Form.Text("Edit2").Text, "71B0");
    ASSERT_TRUE(p.Form.UserChooseEntry("CB2", 2));
    ASSERT_TRUE(p.Form.UserTypeText("Edit1", "1234"));
    ASSERT_TRUE(p.Form.UserTypeText("Edit2", "ABCD"));
    ASSERT_TRUE(p.Form.UserChooseEntry("CB2", 1));
    EXPECT_EQ(p.Form.Text("Edit1").Text, "3C5A");
    EXPECT_EQ(p.Form.Text("Edit2").Text, "ABCD");
    EXPECT_FALSE(p.Form.IsUsable(p.Form.Text("Edit1")));
    EXPECT_TRUE(p.Form.IsUsable(p.Form.Text("Edit2")));
    ASSERT_TRUE(p.Form.UserChooseEntry("CB2", 0));
    EXPECT_EQ(p.Form.Text("Edit2").Text, "71B0");
    ASSERT_TRUE(p.Form.UserChooseEntry("CB1", static_cast<int>(codec::ChipType::KR2S)));
    EXPECT_EQ(p.Form.Text("Edit2").Text, "71A0");
}

TEST(MainForm, TypingCorrectsVendorIdAndCurrent) {
    StartedForm p;
    p.NewWithModel("KR2S");
    ASSERT_TRUE(p.Form.UserChooseEntry("CB2", 2));
    for (const char* typed : {"0", "00", "000", "0000"})
        p.Form.UserTypeText("Edit1", typed);
    EXPECT_EQ(p.Form.Text("Edit1").Text, "3C5A");
    p.Form.UserTypeText("Edit1", "00000");
    EXPECT_EQ(p.Form.Text("Edit1").Text, "00000") << "five zeros pasted at once are accepted";

    for (const char* typed : {"5", "50", "500"})
        p.Form.UserTypeText("Edit9", typed);
    EXPECT_EQ(p.Host.Boxes(), (std::vector<std::string>{"info: All zeros is an invalid VID"}));
    p.Form.UserTypeText("Edit9", "5000");
    EXPECT_EQ(p.Form.Text("Edit9").Text, "500");
    p.Form.UserTypeText("Edit9", "-5");
    p.Form.UserTypeText("Edit9", "");
    p.Form.UserTypeText("Edit9", "1x");
    EXPECT_EQ(p.Form.Text("Edit9").Text, "1x") << "a text that is not a number stays";
    const std::vector<std::string> expected = {"info: All zeros is an invalid VID",
                                               "info: Max current exceeded - setting to 500mA",
                                               "error: '1x' is not a valid integer value"};
    EXPECT_EQ(p.Host.Boxes(), expected);
}

TEST(MainForm, FixedSerialSwapsFieldsAndLocksProgramWithoutCaption) {
    StartedForm p;
    p.NewWithModel("KR2S");
    ASSERT_TRUE(p.SaveAs(p.Folder.Path / "f.ept"));
    // In Program mode a change from code (as a device parse makes) still runs the rule.
    p.Form.SetChecked(p.Form.Check("CheckBox5"), true);
    EXPECT_FALSE(p.Form.ActionNamed("BWProgram").Enabled);
    EXPECT_TRUE(p.Form.ActionNamed("BWSave").Enabled);
    EXPECT_EQ(p.Form.Caption, ProgramModeCaption);
    EXPECT_TRUE(p.Form.Text("Edit6").Enabled);
    EXPECT_FALSE(p.Form.Text("Edit5").Enabled);
}

TEST(MainForm, ValidateTemplateListsEveryMissingField) {
    for (const bool fixedSerial : {false, true}) {
        StartedForm p;
        p.Form.BWNewExecute();
        p.Form.SetChecked(p.Form.Check("CheckBox5"), fixedSerial);
        for (TextField* text : {&p.Form.Text("Edit5"), &p.Form.Text("Edit6"), &p.Form.Text("Edit9"),
                                &p.Form.Text("Edit10"), &p.Form.Text("Edit11")})
            p.Form.SetText(*text, "");
        p.Form.ClearLines();
        EXPECT_FALSE(p.Form.ValidateTemplate());
        const std::vector<std::string> expected = {
            fixedSerial
                ? "ERROR : If you want a fixed serial number you must provide one"
                : "ERROR : You must fill in the Serial Number Prefix field with 2 characters",
            "ERROR : You must fill in Manufacturer Name",
            "ERROR : You must fill in Product Description",
            "ERROR : You must fill in current used from USB (0-500mA)",
            "ERROR : You must select a valid device type"};
        EXPECT_EQ(p.Form.Messages().Lines, expected);
    }
    StartedForm ok;
    ok.NewWithModel("KR1S");
    ok.Form.SetText(ok.Form.Text("Edit5"), "X");
    EXPECT_TRUE(ok.Form.ValidateTemplate()) << "only emptiness is checked";
}

TEST(MainForm, StringTotalAllowsFortyEightCharacters) {
    StartedForm p;
    p.NewWithModel("KR1S");
    // Prefix "VQ" + 8 generated serial characters = 10; the rest fills up to the limit.
    p.Form.SetText(p.Form.Text("Edit10"), std::string(19, 'M'));
    p.Form.SetText(p.Form.Text("Edit11"), std::string(19, 'P'));
    EXPECT_TRUE(p.Form.Messages().Lines.empty());
    p.Form.SetText(p.Form.Text("Edit11"), std::string(20, 'P'));
    ASSERT_EQ(p.Form.Messages().Lines.size(), 1u);
    EXPECT_EQ(p.Form.Messages().Lines[0],
              "ERROR - Total String Length exceeds maximum. - The total no of characters for "
              "Manufacturer,  - Description and Serial Number has to be less - than 48");
    p.Form.SetText(p.Form.Text("Edit11"), std::string(19, 'P'));
    EXPECT_TRUE(p.Form.Messages().Lines.empty()) << "a passing check clears the list";
}

} // namespace
} // namespace burnwise::ui::testing
