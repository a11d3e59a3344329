#include "FormFixture.h"
#include "burnwise/codec/ChipModels.h"
#include "burnwise/ui/ProfileFile.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace burnwise::ui::testing {
namespace {

using common::ReplaceFileAtomically;

struct ReadCase {
    const char* What;
    std::string File;
    const char* Section;
    const char* Key;
    std::optional<std::string> Expected;
};

TEST(ProfileFile, ReadsAsTheTemplatesWereAlwaysRead) {
    const ReadCase cases[] = {
        {"CRLF", "[S]\r\nk=v\r\n", "S", "k", "v"},
        {"LF only", "[S]\nk=v\n", "S", "k", "v"},
        {"CR only", "[S]\rk=v\rj=w", "S", "j", "w"},
        {"names without case or blanks", " [ sEc ] \r\n\t KEY \t= v", "Sec", "key", "v"},
        {"section name to the last ]", "[a]b]\r\nk=v", "a]b", "k", "v"},
        {"blanks and one pair of quotes", "[S]\r\nk= \t\"  q \" \t", "S", "k", "  q "},
        {"single quotes", "[S]\r\nk='x'", "S", "k", "x"},
        {"quotes only when they match", "[S]\r\nk=\"x'", "S", "k", "\"x'"},
        {"value after the first =", "[S]\r\nk=a=b", "S", "k", "a=b"},
        {"first copy of a key", "[S]\r\nk=1\r\nk=2", "S", "k", "1"},
        {"first copy of a section", "[S]\r\na=1\r\n[S]\r\nk=2", "S", "k", std::nullopt},
        {"lines without = ignored", "[S]\r\nk\r\nk=v", "S", "k", "v"},
        {"key in another section", "[T]\r\nk=v", "S", "k", std::nullopt},
        {"key before any section", "k=v\r\n[S]", "S", "k", std::nullopt},
        {"a [ line without ] is no header", "[S]\r\n[junk\r\nk=v", "S", "k", "v"},
        {"value cut at a zero byte", std::string("[S]\r\nk=ab\0cd", 12), "S", "k", "ab"},
        // What has no 8-bit code, and what is not UTF-8 at all (an overlong "A", a stray
        // continuation byte), becomes a zero byte, which the template checks refuse.
        {"UTF-8 mark converts to 8 bits", "\xEF\xBB\xBF[S]\r\nk=M\xC3\xB6\xE2\x82\xAC", "S", "k",
         std::string("M\xF6\0", 3)},
        {"bytes not UTF-8", "\xEF\xBB\xBF[S]\r\nk=\xC1\x81\x80z", "S", "k",
         std::string("\0\0\0z", 4)},
        {"without the mark bytes stay", "[S]\r\nk=M\xC3\xB6", "S", "k", "M\xC3\xB6"},
        {"empty value", "[S]\r\nk=", "S", "k", ""},
    };
    for (const ReadCase& c : cases) {
        EXPECT_EQ(ProfileFile::Parse(c.File).Read(c.Section, c.Key), c.Expected) << c.What;
    }
    const std::string longValue = "[S]\r\nk=" + std::string(3000, 'x');
    EXPECT_EQ(ProfileFile::Parse(longValue).Read("S", "k")->size(), MaxProfileValueLength);
}

TEST(ProfileFile, UpdatesInPlaceKeepingEverythingElse) {
    ProfileFile file =
        ProfileFile::Parse("; comment\n[Other]\nx=1\n\n[sec]\nKEY = old \n\n[Last]\ny=2");
    file.Write("Sec", "key", "new");
    file.Write("Sec", "added", "a");
    file.Write("Last", "z", "3");
    file.Write("Fresh", "k", "v\r\nsecond line");
    EXPECT_EQ(file.Serialize(), "; comment\n[Other]\nx=1\n\n[sec]\nKEY =new\nadded=a\n\n"
                                "[Last]\ny=2\nz=3\n[Fresh]\nk=v\n");

    ProfileFile utf8 = ProfileFile::Parse("\xEF\xBB\xBF[S]\r\nk=v\r\n");
    utf8.Write("S", "k", "M\xF6");
    EXPECT_EQ(utf8.Serialize(), "\xEF\xBB\xBF[S]\r\nk=M\xC3\xB6\r\n");

    ProfileFile fresh;
    fresh.Write("A", "k", "1");
    fresh.Write("B", "k", "2");
    fresh.Write("A", "j", "3");
    EXPECT_EQ(fresh.Serialize(), "[A]\r\nk=1\r\nj=3\r\n[B]\r\nk=2\r\n");
}

TEST(TemplateFile, NewKr2sTemplateIsTheWorkedExampleByteForByte) {
    StartedForm p;
    p.NewWithModel("KR2S");
    const fs::path file = p.Folder.Path / "worked.ept";
    ASSERT_TRUE(p.SaveAs(file));
    const std::string expected =
        "[Basic Details]\r\nDevice Type=3\r\nVID PID Type=0\r\nUSB VID=3C5A\r\nUSB PID=71A0\r\n"
        "[USB Power Options]\r\nBus Powered=1\r\nSelf Powered=0\r\nMax Bus Power=100\r\n"
        "[USB Serial Number Control]\r\nPrefix=VQ\r\nUse Fixed Serial Number=0\r\n"
        "Fixed Serial Number=12345678\r\n"
        "[USB Remote WakeUp]\r\nEnable Remote WakeUp=0\r\n"
        "[Windows Plug and Play]\r\nEnable Plug and Play=1\r\n"
        "[USB String Descriptors]\r\nManufacturer=Velquor\r\nProduct=USB <-> Serial Cable\r\n"
        "[Programming Options]\r\nOnly Program Blank Devices=1\r\n"
        "[KR2 Device Specific Options]\r\nUSB Version Number=1\r\nDisable Serial Number=0\r\n"
        "IO Pin Pull Down in Suspend=0\r\n"
        "[Dual Device Specific Options A]\r\nRS 232 mode=1\r\nKRF FIFO mode=0\r\n"
        "KRF CPU FIFO mode=0\r\nOPTO Isolate mode=1\r\nHigh Current Drive=0\r\n"
        "[Dual Device Specific Options B]\r\nRS 232 mode=1\r\nKRF FIFO mode=0\r\n"
        "KRF CPU FIFO mode=0\r\nOPTO Isolate mode=0\r\nHigh Current Drive=0\r\n"
        "[Dual Device Driver Options A]\r\nVirtual Com Port Driver=1\r\nPipex Driver=0\r\n"
        "[Dual Device Driver Options B]\r\nVirtual Com Port Driver=1\r\nPipex Driver=0\r\n"
        "[KR4 Device Specific Options]\r\nInvert TXD=0\r\nInvert RXD=0\r\nInvert RTS#=0\r\n"
        "Invert CTS#=0\r\nInvert DTR#=0\r\nInvert DSR#=0\r\nInvert DCD#=0\r\nInvert RI#=0\r\n"
        "C0 Signal=-1\r\nC1 Signal=-1\r\nC2 Signal=-1\r\nC3 Signal=-1\r\nC4 Signal=-1\r\n"
        "Enable Ext Osc=0\r\nHigh Current I/O=0\r\nLoad Pipex Driver=0\r\nIn EndPoint Size=0\r\n";
    EXPECT_EQ(ReadBytes(file), expected);
}

TEST(TemplateFile, EmptyFileReadsAsDefaultsWithOnlyTheModelListUsable) {
    StartedForm p;
    WriteBytes(p.Folder.Path / "empty.ept", "");
    p.Form.BWNewExecute();
    p.Form.ReadTemplate(p.Folder.Path / "empty.ept");
    const TMainForm& f = p.Form;
    EXPECT_EQ(f.List("CB1").Text, "None");
    EXPECT_EQ(f.List("CB2").Text, "Velquor Default");
    for (const TextField* text : {&f.Text("Edit1"), &f.Text("Edit2"), &f.Text("Edit5"),
                                  &f.Text("Edit6"), &f.Text("Edit9"), &f.Text("Edit10")})
        EXPECT_EQ(text->Text, "") << text->Name;
    for (const Control* c : f.Controls()) {
        if (c->Kind == ControlKind::Check || c->Kind == ControlKind::Radio) {
            EXPECT_FALSE(static_cast<const CheckControl*>(c)->Checked) << c->Name;
        }
        if (c->Kind == ControlKind::Text || c->Kind == ControlKind::Check ||
            c->Kind == ControlKind::Radio || c->Kind == ControlKind::List) {
            const bool expected = c->Name == "CB1" || c->Name == "CheckBox6";
            EXPECT_EQ(f.IsUsable(*c), expected) << c->Name;
        }
    }
    p.Gather();
    EXPECT_FALSE(p.Flags.OnlyBlankDevices);
}

struct ReadingCase {
    const char* What;
    std::string Body;
    std::vector<std::pair<const char*, std::string>> Expected; // control name, state
    std::vector<std::string> Boxes = {};
};

TEST(TemplateFile, ReadingRunsTheChangeRulesAsTypingWould) {
    const ReadingCase cases[] = {
        {"hexadecimal index, word index",
         "[Basic Details]\nDevice Type=0x6\nVID PID Type=word",
         {{"CB1", "6"}, {"CB2", "0"}}},
        {"index outside the list chooses nothing",
         "[Basic Details]\nDevice Type=9",
         {{"CB1", "-1"}}},
        {"flags 2 and 0x1 are on, a word is off",
         "[USB Remote WakeUp]\nEnable Remote WakeUp=2\n[Windows Plug and Play]\n"
         "Enable Plug and Play=0x1\n[KR2 Device Specific Options]\nIO Pin Pull Down in Suspend=yes",
         {{"CheckBox1", "1"}, {"CheckBox3", "1"}, {"CheckBox11", "0"}}},
        {"both power flags on: self powered, stored current kept",
         "[USB Power Options]\nBus Powered=1\nSelf Powered=1\nMax Bus Power=250",
         {{"RB1", "0"}, {"RB2", "1"}, {"Edit9", "250"}}},
        {"both power flags off: neither",
         "[USB Power Options]\nBus Powered=0\nSelf Powered=0",
         {{"RB1", "0"}, {"RB2", "0"}}},
        {"Velquor Default forces the KR3 IDs",
         "[Basic Details]\nDevice Type=5\nVID PID Type=0\nUSB VID=1111\nUSB PID=2222",
         {{"Edit1", "3C5A"}, {"Edit2", "71B0"}}},
        {"Velquor Supplied PID keeps the PID",
         "[Basic Details]\nDevice Type=3\nVID PID Type=1\nUSB VID=1111\nUSB PID=2222",
         {{"Edit1", "3C5A"}, {"Edit2", "2222"}}},
        {"own IDs stay",
         "[Basic Details]\nDevice Type=3\nVID PID Type=2\nUSB VID=1111\nUSB PID=2222",
         {{"Edit1", "1111"}, {"Edit2", "2222"}}},
        {"zero VID and too much current are corrected",
         "[Basic Details]\nDevice Type=3\nVID PID Type=2\nUSB VID=0000\n"
         "[USB Power Options]\nMax Bus Power=900",
         {{"Edit1", "3C5A"}, {"Edit9", "500"}},
         {"info: All zeros is an invalid VID", "info: Max current exceeded - setting to 500mA"}},
        {"current that is not a number is reported and kept",
         "[USB Power Options]\nMax Bus Power=12mA",
         {{"Edit9", "12mA"}},
         {"error: '12mA' is not a valid integer value"}},
        {"side A driver key: the driver section wins",
         "[Dual Device Specific Options A]\nOPTO Isolate mode=1\n"
         "[Dual Device Driver Options A]\nVirtual Com Port Driver=0\nPipex Driver=1",
         {{"RB7", "0"}, {"RB8", "1"}}},
        {"pins stored as -1 choose nothing",
         "[KR4 Device Specific Options]\nC0 Signal=-1\nC4 Signal=-1\nIn EndPoint Size=2",
         {{"CBX1", "-1"}, {"CBX5", "-1"}, {"CBX6", "2"}}},
        {"KR4 unchecks only-blank after the file checked it",
         "[Basic Details]\nDevice Type=7\n[Programming Options]\nOnly Program Blank Devices=1",
         {{"CheckBox6", "0"}, {"CheckBox3", "0"}}},
    };
    for (const ReadingCase& c : cases) {
        SCOPED_TRACE(c.What);
        StartedForm p;
        EXPECT_EQ(p.Form.CurrentTemplate(), app::Template::Start());
        p.Form.ReadTemplate(ProfileFile::Parse(c.Body));
        for (const auto& [name, state] : c.Expected)
            EXPECT_EQ(StateOf(p.Form, name), state) << name;
        EXPECT_EQ(p.Host.Boxes(), c.Boxes);
        // Without a window the same file opens to the same template, with the same boxes.
        const auto [opened, boxes] = OpenWithoutWindow(ProfileFile::Parse(c.Body));
        EXPECT_EQ(opened, p.Form.CurrentTemplate());
        EXPECT_EQ(boxes, c.Boxes);
    }
}

TEST(TemplateFile, SerialNumberDisabledFollowsTheFileAndOnlyBlankTheBox) {
    StartedForm p;
    p.Form.ReadTemplate(ProfileFile::Parse(
        "[KR2 Device Specific Options]\nDisable Serial Number=1\n[Basic Details]\nDevice Type=1\n"
        "[Programming Options]\nOnly Program Blank Devices=1"));
    p.Gather();
    EXPECT_TRUE(p.Flags.SerialNumberDisabled);
    EXPECT_TRUE(p.Flags.OnlyBlankDevices);
    p.Form.BWNewExecute();
    p.Gather();
    EXPECT_FALSE(p.Flags.SerialNumberDisabled) << "New clears it";
}

TEST(TemplateFile, SideAOptoIsolateSurvivesSaveAndOpen) {
    StartedForm p;
    p.NewWithModel("KR3D");
    ASSERT_TRUE(p.Form.UserClick("RB6"));
    ASSERT_TRUE(p.Form.UserClick("RB8"));
    const fs::path file = p.Folder.Path / "opto.ept";
    ASSERT_TRUE(p.SaveAs(file));
    const ProfileFile saved = ProfileFile::Parse(ReadBytes(file));
    // The keys older files have keep their meaning; the choice has a key of its own.
    for (const char* key :
         {"RS 232 mode", "KRF FIFO mode", "KRF CPU FIFO mode", "OPTO Isolate mode"})
        EXPECT_EQ(saved.Read("Dual Device Specific Options A", key), "0") << key;
    EXPECT_EQ(saved.Read("Dual Device Specific Options A", "Side A OPTO Isolate mode"), "1");

    StartedForm q; // RB3 is checked at start and RB6 is not
    q.Open(file);
    EXPECT_EQ(States(q.Form, {"RB3", "RB4", "RB5", "RB6", "RB7", "RB8"}),
              "RB3=0 RB4=0 RB5=0 RB6=1 RB7=0 RB8=1");
    // What is programmed is what was chosen.
    q.Form.ApplyDeviceTypeRules();
    q.Gather(0);
    EXPECT_TRUE(q.State.Settings.SideAOptoIsolate);

    // Choosing RS232 again and saving over the file clears the key.
    q.Form.BWEditExecute();
    ASSERT_TRUE(q.Form.UserClick("RB3"));
    ASSERT_TRUE(q.SaveAs(file));
    EXPECT_EQ(ProfileFile::Parse(ReadBytes(file))
                  .Read("Dual Device Specific Options A", "Side A OPTO Isolate mode"),
              "0");

    // A file written before the key existed opens as it always did: RB6 as it was.
    std::string old = ReadBytes(file);
    old.erase(old.find("Side A OPTO Isolate mode=0"),
              std::string("Side A OPTO Isolate mode=0").size());
    for (const char* key : {"RS 232 mode=1", "OPTO Isolate mode=0"})
        ASSERT_NE(old.find(key), std::string::npos);
    old.replace(old.find("RS 232 mode=1"), 13, "RS 232 mode=0");
    WriteBytes(file, old);
    StartedForm r;
    r.Open(file);
    EXPECT_EQ(States(r.Form, {"RB3", "RB4", "RB5", "RB6"}), "RB3=0 RB4=0 RB5=0 RB6=0");
}

TEST(TemplateFile, SavingOverAFileKeepsWhatElseItHolds) {
    StartedForm p;
    const fs::path file = p.Folder.Path / "foreign.ept";
    WriteBytes(file,
               "\xEF\xBB\xBF; made by hand\n[Notes]\nwho=M\xC3\xBCller\n\n[basic details]\n"
               "device type = 1\nextra=keep\n[USB Serial Number Control]\nPrefix=AB\n"
               "[USB Power Options]\nMax Bus Power=100\n[USB String Descriptors]\nProduct=P\n");
    p.Open(file);
    p.Form.BWEditExecute();
    ASSERT_TRUE(p.Form.UserTypeText("Edit10", "M\xFC"
                                              "ller"));
    p.Form.BWSaveExecute();
    ASSERT_EQ(p.Form.Caption, ProgramModeCaption);
    const std::string bytes = ReadBytes(file);
    EXPECT_TRUE(bytes.starts_with("\xEF\xBB\xBF; made by hand\n[Notes]\nwho=M\xC3\xBCller\n\n"
                                  "[basic details]\ndevice type =1\nextra=keep\nVID PID Type=0\n"))
        << bytes;
    EXPECT_NE(bytes.find("Manufacturer=M\xC3\xBCller\n"), std::string::npos);
    EXPECT_EQ(bytes.find('\r'), std::string::npos) << "the file's LF endings are kept";
}

// Fills every one of the 49 values with something other than its default, as far as the
// model lets the window hold it.
void FillEverything(StartedForm& p, int seed) {
    TMainForm& f = p.Form;
    f.SetChecked(f.Check("CheckBox5"), seed % 2 == 0);
    ASSERT_TRUE(f.UserChooseEntry("CB2", 2));
    f.SetText(f.Text("Edit1"), "12A" + std::to_string(seed % 10));
    f.SetText(f.Text("Edit2"), "B0" + std::to_string(10 + seed));
    f.SetChecked(f.Check("RB2"), true);
    f.SetText(f.Text("Edit9"), std::to_string(90 + seed));
    f.SetText(f.Text("Edit5"), "P" + std::to_string(seed));
    f.SetText(f.Text("Edit6"), "SN" + std::to_string(1000 + seed));
    f.SetText(f.Text("Edit10"), "Maker \"" + std::to_string(seed) + "\" & Co");
    f.SetText(f.Text("Edit11"), "Product=" + std::to_string(seed));
    f.SetChecked(f.Check("CheckBox1"), true);
    if (f.Check("CheckBox3").Enabled) f.SetChecked(f.Check("CheckBox3"), false);
    f.ChooseEntry(f.List("CB3"), 0);
    f.SetChecked(f.Check("CheckBox8"), true);
    f.SetChecked(f.Check("CheckBox11"), true);
    f.SetChecked(f.Check("RB4"), true);
    f.SetChecked(f.Check("CB4"), true);
    f.SetChecked(f.Check("RB12"), true);
    f.SetChecked(f.Check("CB5"), true);
    f.SetChecked(f.Check("RB8"), true);
    f.SetChecked(f.Check("RB14"), true);
    for (CheckControl* box : {&f.Check("CB6"), &f.Check("CB8"), &f.Check("CB10"), &f.Check("CB12"),
                              &f.Check("CB15"), &f.Check("CB17")})
        f.SetChecked(*box, true);
    ListControl* pins[] = {&f.List("CBX1"), &f.List("CBX2"), &f.List("CBX3"), &f.List("CBX4"),
                           &f.List("CBX5")};
    for (int i = 0; i < 5; ++i)
        f.ChooseEntry(*pins[i], (seed + i) % 10);
    f.ChooseEntry(f.List("CBX6"), 3);
}

TEST(TemplateFile, EveryValueSurvivesSaveAndOpenForEveryModel) {
    for (const codec::ChipModel& model : codec::ChipModels) {
        if (model.Type == codec::ChipType::None) continue;
        SCOPED_TRACE(model.ListText);
        StartedForm p;
        p.NewWithModel(model.ListText);
        FillEverything(p, static_cast<int>(model.Type));
        const fs::path file = p.Folder.Path / "all.ept";
        ASSERT_TRUE(p.SaveAs(file)) << ::testing::PrintToString(p.Form.Messages().Lines);
        const std::vector<TemplateValue> saved = p.Form.TemplateValues();

        StartedForm q;
        q.Open(file);
        const std::vector<TemplateValue> read = q.Form.TemplateValues();
        ASSERT_EQ(read.size(), 49u);
        for (std::size_t i = 0; i < read.size(); ++i)
            EXPECT_EQ(read[i].Value, saved[i].Value) << read[i].Section << "/" << read[i].Key;
        q.Gather();
        EXPECT_EQ(q.State.Selectors, model.Selectors);
        EXPECT_TRUE(q.Flags.SerialNumberDisabled);
    }
}

// Runs `body` as an ordinary user, since root may write anywhere. Returns its result.
bool RunUnprivileged(const std::function<bool()>& body) {
    if (::geteuid() != 0) return body();
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(TemplateFile, UnwritableFolderLeavesTheOldFileWholeAndStaysInEditMode) {
    TempFolder scratch;
    const fs::path folder = scratch.Path / "locked";
    fs::create_directories(folder);
    const fs::path file = folder / "old.ept";
    const std::string old = "[Basic Details]\r\nDevice Type=1\r\n[Mine]\r\nkeep=1\r\n";
    WriteBytes(file, old);
    ::chmod(scratch.Path.c_str(), 0755);
    ::chmod(file.c_str(), 0644);
    ::chmod(folder.c_str(), 0555);

    const bool asExpected = RunUnprivileged([&] {
        StartedForm p;
        p.NewWithModel("KR2S");
        p.Host.SaveAnswer = file;
        p.Form.BWSaveAsExecute();
        const std::vector<std::string> boxes = {"error: Unable to write to " + file.string()};
        return p.Form.Caption == EditModeCaption && p.Host.Boxes() == boxes &&
               !p.Form.ActionNamed("BWProgram").Enabled && p.Form.ActionNamed("BWSaveAs").Enabled;
    });
    EXPECT_TRUE(asExpected) << "the save must fail with the box and leave Edit mode on";
    EXPECT_EQ(ReadBytes(file), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

    // A read-only file in a writable folder is not replaced either.
    ::chmod(folder.c_str(), 0777);
    ::chmod(file.c_str(), 0444);
    const bool refused = RunUnprivileged([&] {
        std::error_code error;
        return !ReplaceFileAtomically(file, "new", error) && error == std::errc::permission_denied;
    });
    EXPECT_TRUE(refused);
    EXPECT_EQ(ReadBytes(file), old);
}

} // namespace
} // namespace burnwise::ui::testing
