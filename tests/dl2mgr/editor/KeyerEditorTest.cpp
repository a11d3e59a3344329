// The editor's commands end to end: the real link over a pseudo-terminal against the
// simulated keyer on COM1, the config file, image files, the timer and the busy flag.
#include "dl2mgr/editor/KeyerEditor.h"

#include "RecordingUi.h"
#include "dl2mgr/editor/MessageCoding.h"
#include "dl2mgr/keyersim/KeyerSim.h"
#include "dl2mgr/link/QtSerialPort.h"
#include "support/TempFolder.h"

#include <QCoreApplication>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <numeric>
#include <regex>
#include <unistd.h>

namespace dl2mgr::editor {
namespace {

namespace fs = std::filesystem;
using keyersim::KeyerSim;
using keyersim::KeyerSimOptions;

// Pauses are only counted: the simulator answers at once.
class CountingSleeper final : public link::Sleeper {
public:
    void Sleep(std::chrono::milliseconds duration) override { Pauses.push_back(duration); }
    std::vector<std::chrono::milliseconds> Pauses;
};

// A RecordingUi that can run something inside a repaint, as a user click would try.
class HookedUi final : public RecordingUi {
public:
    void LetWindowRepaint() override {
        RecordingUi::LetWindowRepaint();
        if (DuringRepaint) DuringRepaint();
    }
    std::function<void()> DuringRepaint;
};

// A keyer image with settings the dialog accepts and two messages.
KeyerImage KeyerHolding() {
    KeyerImage image{};
    const std::uint8_t settings[] = {0x00, 0x1B, 0x00, 5,  50, 10,   20,   15, 20,
                                     1,    2,    0,    50, 40, 0xB9, 0x0C, 25};
    std::copy(std::begin(settings), std::end(settings), image.begin());
    EncodeMessages(image, {"CQ TEST", "", "5NN TU", "", "", ""});
    image[200] = 0x5A; // past the messages: must pass through
    return image;
}

class KeyerEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_ / "ports");
        EditorPaths paths{dir_ / "config" / "dl2mgr.cfg", dir_ / "dl2mgr.html", dir_ / "ports"};
        editor_ = std::make_unique<KeyerEditor>(port_, sleeper_, ui_, paths);
    }
    void TearDown() override {
        editor_.reset();
        thread_.reset();
        sim_.reset();
    }

    // The simulated keyer on COM1, holding `eeprom`.
    KeyerSim& StartKeyer(KeyerSimOptions options, const KeyerImage& eeprom) {
        options.Fast = true;
        options.Com = 1;
        options.PortsFolder = dir_ / "ports";
        sim_ = std::make_unique<KeyerSim>(options);
        EXPECT_EQ(sim_->Start(), "");
        sim_->SetEeprom(eeprom);
        thread_ = std::make_unique<keyersim::KeyerSimThread>(*sim_);
        editor_->ComPortNumber = 1;
        return *sim_;
    }
    static std::string ReadRaw(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static void WriteRaw(const fs::path& path, const std::string& bytes) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    // Waits until the simulator has taken `count` complete writes.
    bool WritesArrive(int count) {
        for (int i = 0; i < 300 && sim_->CompletedWrites() < count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return sim_->CompletedWrites() == count;
    }
    const std::string& Status(int controlId) { return editor_->Dialog.Text(controlId); }

    bwtest::TempFolder scratch_{"dl2mgr-commands-"};
    const fs::path dir_ = scratch_.Path;
    link::QtSerialPort port_;
    CountingSleeper sleeper_;
    HookedUi ui_;
    std::unique_ptr<KeyerEditor> editor_;
    std::unique_ptr<KeyerSim> sim_;
    std::unique_ptr<keyersim::KeyerSimThread> thread_;
};

const MessageBox NotConnected{"DL not connected", "Error", BoxOwner::None, BoxIcon::Warning};

TEST_F(KeyerEditorTest, ReadDlFillsTheDialogFromTheKeyer) {
    KeyerSimOptions options;
    options.PotVal = 9;
    options.PbVal = 4;
    StartKeyer(options, KeyerHolding());
    editor_->ReadDL();
    EXPECT_EQ(editor_->Image, KeyerHolding());
    EXPECT_EQ(Status(id::ConnectionStatus), "DL Open, F/W revision 23");
    EXPECT_EQ(Status(id::PotVal), "9");
    EXPECT_EQ(Status(id::PbVal), "4");
    EXPECT_EQ(Status(id::OperationStatus), "Done");
    EXPECT_EQ(editor_->StatusTicks, StatusShowTicks);
    EXPECT_EQ(Status(id::Weight), "50");
    EXPECT_EQ(Status(id::Max), "35");
    EXPECT_EQ(Status(id::Message1), "CQ TEST");
    EXPECT_EQ(Status(id::Message1 + 2), "5NN TU");
    EXPECT_EQ(editor_->Dialog.Selection(id::OutputConfig), 6); // Port2, PTT
    EXPECT_TRUE(ui_.Boxes.empty());
    EXPECT_GT(ui_.Repaints, 0); // "Reading" was shown while the dump ran
    EXPECT_FALSE(editor_->OperationBusy);
}

TEST_F(KeyerEditorTest, IncompleteDumpKeepsImageAndDialog) {
    KeyerSimOptions options;
    options.ShortDump = 200;
    StartKeyer(options, KeyerHolding());
    KeyerImage before{};
    before.fill(0x21);
    editor_->Image = before;
    editor_->ReadDL();
    EXPECT_EQ(editor_->Image, before);
    EXPECT_EQ(Status(id::OperationStatus), "Read failed");
    EXPECT_EQ(Status(id::Weight), ""); // not refilled
    // The box says that what the dialog shows is not the keyer's.
    ASSERT_EQ(ui_.Boxes.size(), 1u);
    EXPECT_NE(ui_.Boxes[0].Text.find("did not come from the keyer"), std::string::npos);
}

TEST_F(KeyerEditorTest, WriteDlStoresTheDialogAndSendsTheImage) {
    KeyerSim& sim = StartKeyer({}, KeyerHolding());
    editor_->ReadDL();
    editor_->Dialog.UserEditedText(id::Weight, "60");
    editor_->Dialog.UserEditedText(id::Message1 + 5, "73");
    editor_->Dialog.UserClickedCheckBox(id::Swap);
    editor_->WriteDL();
    ASSERT_TRUE(WritesArrive(1));
    KeyerImage expected = KeyerHolding();
    expected[offset::Weight] = 60;
    expected[offset::ModeReg] ^= ModeRegSwap;
    EncodeMessages(expected, {"CQ TEST", "", "5NN TU", "", "", "73"});
    EXPECT_EQ(sim.Eeprom(), expected);
    EXPECT_EQ(Status(id::OperationStatus), "Done");
    EXPECT_EQ(sleeper_.Pauses.back(), std::chrono::milliseconds(500));
}

TEST_F(KeyerEditorTest, WriteDlReadsTheKeyerBackUnlessVerifyIsOff) {
    KeyerSimOptions options;
    options.ShortDump = 200; // the write goes in, but the read-back comes short
    KeyerSim& sim = StartKeyer(options, KeyerHolding());
    editor_->Image = KeyerHolding();
    editor_->Dialog.FillDialogFromImage();
    EXPECT_EQ(editor_->WriteDL(), CommandResult::Mismatch);
    EXPECT_EQ(Status(id::OperationStatus), "Verify failed");
    EXPECT_EQ(sim.CompletedWrites(), 1);
    // The failure stays on screen until seen, after the port is closed again.
    EXPECT_EQ(ui_.Boxes, (std::vector<MessageBox>{
                             {"Verify failed: reading it back, the keyer sent 200 of its 256 "
                              "bytes, so what it holds is not known. Write the image again.",
                              "Error", BoxOwner::None, BoxIcon::Warning}}));
    ui_.Boxes.clear();
    EXPECT_TRUE(editor_->Command(id::MenuVerifyAfterWrite));
    EXPECT_FALSE(editor_->VerifyAfterWrite);
    EXPECT_EQ(ReadRaw(dir_ / "config" / "dl2mgr.cfg"), std::string("\x01\0\0\0\0", 5));
    EXPECT_EQ(editor_->WriteDL(), CommandResult::Sent);
    EXPECT_EQ(Status(id::OperationStatus), "Sent - not verified");
    // A sidetone no list item has (the all-zero start image) is not sent.
    editor_->Image[offset::Sidetone] = 0;
    editor_->Dialog.FillDialogFromImage();
    EXPECT_EQ(editor_->WriteDL(), CommandResult::Refused);
    EXPECT_EQ(ui_.BoxTexts(), std::vector<std::string>{NoSidetoneText});
    EXPECT_EQ(sim.CompletedWrites(), 2);
}

TEST_F(KeyerEditorTest, WriteDlWithAFieldErrorConnectsButSendsNothing) {
    KeyerSim& sim = StartKeyer({}, KeyerHolding());
    editor_->ReadDL();
    editor_->Dialog.UserEditedText(id::Weight, "95");
    editor_->Dialog.SetText(id::OperationStatus, "");
    editor_->WriteDL();
    EXPECT_EQ(Status(id::ConnectionStatus), "DL Open, F/W revision 23");
    EXPECT_EQ(ui_.BoxTexts(), std::vector<std::string>{"Weight must be between 10 and 90"});
    EXPECT_EQ(Status(id::OperationStatus), "");
    EXPECT_FALSE(WritesArrive(1));
    EXPECT_EQ(sim.Eeprom(), KeyerHolding());
}

TEST_F(KeyerEditorTest, CommandsWithoutAKeyerSayNotConnected) {
    // COM1 names a simulator that has gone: the port cannot be opened.
    fs::create_symlink(dir_ / "gone", dir_ / "ports" / "COM1");
    editor_->ComPortNumber = 1;
    editor_->Image.fill(0x42);
    editor_->ReadDL();
    EXPECT_EQ(Status(id::ConnectionStatus), "DL Fail:comm open");
    editor_->WriteDL();
    editor_->TestMessage(2);
    const MessageBox gone{"DL not connected: no such device " + (dir_ / "ports" / "COM1").string() +
                              ": plug the adapter in, or choose another port (dl2mgr-cli ports "
                              "lists them).",
                          "Error", BoxOwner::None, BoxIcon::Warning};
    EXPECT_EQ(ui_.Boxes, (std::vector<MessageBox>{gone, gone, gone}));
    EXPECT_EQ(editor_->Image, [] {
        KeyerImage i;
        i.fill(0x42);
        return i;
    }());
    editor_->TestDL();
    EXPECT_EQ(Status(id::OperationStatus), "DL NG");
    EXPECT_EQ(ui_.Boxes.size(), 4u); // and a box, which stays until seen
}

TEST_F(KeyerEditorTest, TestDlAndMessageTests) {
    KeyerSimOptions old;
    old.Revision = 10;
    StartKeyer(old, {});
    editor_->TestDL();
    EXPECT_EQ(Status(id::ConnectionStatus), "DL Fail:DL1 found");
    EXPECT_EQ(Status(id::OperationStatus), "DL NG");
    EXPECT_EQ(ui_.Boxes, std::vector<MessageBox>{NotConnected});
    ui_.Boxes.clear();
    EXPECT_EQ(sleeper_.Pauses.front(), std::chrono::milliseconds(500));

    thread_.reset();
    sim_.reset();
    KeyerSim& sim = StartKeyer({}, {});
    editor_->TestDL();
    EXPECT_EQ(Status(id::OperationStatus), "DL OK");
    EXPECT_EQ(editor_->StatusTicks, StatusShowTicks);
    EXPECT_TRUE(editor_->Command(id::TestMessage1 + 2));
    EXPECT_TRUE(editor_->Command(id::TestMessage1 + 5));
    for (int i = 0; i < 100 && sim.TestedMessages().size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(sim.TestedMessages(), (std::vector<int>{3, 6}));
    EXPECT_TRUE(ui_.Boxes.empty());
}

TEST_F(KeyerEditorTest, ASecondCommandInsideTheFirstDoesNothing) {
    KeyerSim& sim = StartKeyer({}, KeyerHolding());
    int inner = 0;
    ui_.DuringRepaint = [&] {
        ++inner;
        editor_->ReadDL();
        editor_->WriteDL();
        editor_->TestDL();
        editor_->TestMessage(1);
        editor_->Exit();
    };
    editor_->ReadDL();
    ui_.DuringRepaint = nullptr;
    EXPECT_GT(inner, 0);
    EXPECT_EQ(editor_->Image, KeyerHolding());
    EXPECT_EQ(Status(id::OperationStatus), "Done");
    EXPECT_TRUE(sim.TestedMessages().empty());
    EXPECT_TRUE(ui_.QuitCodes.empty());
    EXPECT_EQ(sim.CompletedWrites(), 0);
    editor_->Exit();
    EXPECT_EQ(ui_.QuitCodes, std::vector<int>{0});
}

TEST_F(KeyerEditorTest, TimerCountsFreeBytesAndClearsTheStatusAfter18Ticks) {
    editor_->Dialog.UserEditedText(id::Message1, "CQ CQ");
    editor_->Dialog.UserEditedText(id::Message1 + 4, std::string(300, 'E')); // read as 249
    editor_->Dialog.SetText(id::OperationStatus, "Done");
    editor_->StatusTicks = StatusShowTicks;
    for (int tick = 1; tick < StatusShowTicks; ++tick) {
        editor_->TimerTick();
        ASSERT_EQ(Status(id::OperationStatus), "Done") << tick;
    }
    editor_->TimerTick();
    EXPECT_EQ(Status(id::OperationStatus), "");
    EXPECT_EQ(editor_->StatusTicks, 0);
    EXPECT_EQ(Status(id::MsgBytesLeft), "Msg Bytes Left: -22");
    editor_->Dialog.UserEditedText(id::Message1 + 4, std::string(227, 'E'));
    editor_->TimerTick();
    EXPECT_EQ(Status(id::MsgBytesLeft), "Msg Bytes Left: 0");
    EXPECT_EQ(editor_->StatusTicks, 0);
}

TEST_F(KeyerEditorTest, StartUpReadsTheConfigFileOrMakesIt) {
    const fs::path config = dir_ / "config" / "dl2mgr.cfg";
    struct Case {
        const char* Name;
        std::function<void()> Make;
        std::int32_t Port;
        int CheckedItem;
        std::vector<std::string> Boxes;
    } cases[] = {
        {"missing", [] {}, 1, 500, {}},
        {"short", [&] { WriteRaw(config, "\x0C"); }, 12, 566, {}},
        {"empty", [&] { WriteRaw(config, ""); }, 0, 0, {}},
        {"four bytes", [&] { WriteRaw(config, std::string("\x0E\0\0\0", 4)); }, 14, 563, {}},
        {"folder", [&] { fs::create_directories(config); }, 0, 0, {"Read file failed."}},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir_ / "config");
        c.Make();
        ui_.Boxes.clear();
        editor_->StartUp();
        EXPECT_EQ(editor_->ComPortNumber, c.Port) << c.Name;
        EXPECT_EQ(editor_->CheckedCommItem(), c.CheckedItem) << c.Name;
        EXPECT_EQ(ui_.BoxTexts(), c.Boxes) << c.Name;
    }
    fs::remove_all(dir_ / "config");
    editor_->StartUp();
    EXPECT_EQ(ReadRaw(config), std::string("\x01\0\0\0", 4));
    EXPECT_EQ(editor_->Dialog.At(id::KeyerMode).Items.size(), 6u);

    EXPECT_TRUE(editor_->Command(566)); // Com12
    EXPECT_EQ(editor_->ComPortNumber, 12);
    EXPECT_EQ(editor_->CheckedCommItem(), 566);
    EXPECT_EQ(ReadRaw(config), std::string("\x0C\0\0\0", 4));

    // A config file that cannot be made is passed over without a box.
    fs::remove_all(dir_ / "config");
    WriteRaw(dir_ / "config", "a file where the folder should be");
    ui_.Boxes.clear();
    editor_->StartUp();
    EXPECT_EQ(editor_->ComPortNumber, 1);
    EXPECT_TRUE(ui_.Boxes.empty());
}

TEST_F(KeyerEditorTest, OpenAndSaveImageFiles) {
    editor_->Image.fill(0x33);
    // A 10-byte file replaces bytes 0 to 9 only, and the dialog is refilled.
    WriteRaw(dir_ / "ten.eep", std::string("\x00\x10\x00\x02\x28\x00\x00\x00\x00\x00", 10));
    ui_.FileAnswers = {(dir_ / "ten.eep").string()};
    editor_->OpenImageFile();
    KeyerImage expected;
    expected.fill(0x33);
    std::copy_n("\x00\x10\x00\x02\x28\x00\x00\x00\x00\x00", 10, expected.begin());
    EXPECT_EQ(editor_->Image, expected);
    EXPECT_EQ(Status(id::Weight), "40");
    EXPECT_EQ(Status(id::FileName), "File Name: ten.eep");
    EXPECT_EQ(ui_.BoxTexts(),
              std::vector<std::string>{"ten.eep holds 10 bytes, not 256: bytes 0 to 9 were loaded, "
                                       "and the rest of the image was kept as it was."});
    ui_.Boxes.clear();

    // What was typed is kept unless the user lets it go: Cancel, or Discard and then no
    // file, leave it; Save saves it first.
    editor_->Image = KeyerHolding();
    editor_->Dialog.FillDialogFromImage();
    editor_->Dialog.UserEditedText(id::Weight, "77");
    const Question unsaved{QuestionKind::UnsavedChanges,
                           "The editor holds changes that were neither written to the keyer nor "
                           "saved.\nSave them to a file?"};
    editor_->OpenImageFile();
    ui_.Answers = {Answer::No};
    editor_->OpenImageFile();
    EXPECT_EQ(ui_.Questions, (std::vector<Question>{unsaved, unsaved}));
    EXPECT_EQ(Status(id::Weight), "77");
    EXPECT_EQ(editor_->Image, KeyerHolding());
    editor_->Exit();
    EXPECT_TRUE(ui_.QuitCodes.empty());
    ui_.Answers = {Answer::Yes};
    ui_.FileAnswers = {(dir_ / "kept.eep").string(), (dir_ / "ten.eep").string()};
    editor_->OpenImageFile();
    EXPECT_EQ(ReadRaw(dir_ / "kept.eep")[offset::Weight], 77);
    EXPECT_EQ(Status(id::Weight), "40");
    EXPECT_FALSE(editor_->Dialog.Modified);
    ui_.Boxes.clear();
    ui_.Questions.clear();

    // An existing file is replaced only when the user says so.
    editor_->Image = KeyerHolding();
    editor_->Dialog.FillDialogFromImage();
    editor_->Dialog.UserEditedText(id::Weight, "66");
    ui_.FileAnswers = {(dir_ / "kept.eep").string(), (dir_ / "kept.eep").string()};
    ui_.Answers = {Answer::No, Answer::Yes};
    editor_->SaveImageFile();
    EXPECT_EQ(ReadRaw(dir_ / "kept.eep")[offset::Weight], 77);
    editor_->SaveImageFile();
    EXPECT_EQ(ReadRaw(dir_ / "kept.eep")[offset::Weight], 66);
    EXPECT_EQ(ui_.Questions.size(), 2u);
    EXPECT_EQ(ui_.Questions[0].Text, "kept.eep already exists.\nDo you want to replace it?");

    // Save, open and save again: the same bytes.
    editor_->Image = KeyerHolding();
    editor_->Dialog.FillDialogFromImage();
    ui_.FileAnswers = {(dir_ / "a.eep").string(), (dir_ / "a.eep").string(),
                       (dir_ / "b.eep").string()};
    editor_->SaveImageFile();
    EXPECT_EQ(Status(id::FileName), "a.eep");
    editor_->Image.fill(0);
    editor_->OpenImageFile();
    editor_->SaveImageFile();
    EXPECT_EQ(ReadRaw(dir_ / "a.eep").size(), 256u);
    EXPECT_EQ(ReadRaw(dir_ / "b.eep"), ReadRaw(dir_ / "a.eep"));
    const KeyerImage holding = KeyerHolding();
    EXPECT_EQ(ReadRaw(dir_ / "a.eep"), std::string(holding.begin(), holding.end()));
    EXPECT_TRUE(ui_.Boxes.empty());

    // A field error stops the save before the file dialog.
    editor_->Dialog.UserEditedText(id::Ratio, "");
    ui_.FileAnswers = {(dir_ / "c.eep").string()};
    editor_->SaveImageFile();
    EXPECT_EQ(ui_.BoxTexts(), std::vector<std::string>{"Ratio must be between 33 and 66"});
    EXPECT_EQ(ui_.FileAnswers.size(), 1u);
    EXPECT_FALSE(fs::exists(dir_ / "c.eep"));
}

TEST_F(KeyerEditorTest, FileErrorsShowTheirBoxes) {
    fs::create_directory(dir_ / "folder.eep");
    WriteRaw(dir_ / "ro.eep", "old");
    fs::permissions(dir_ / "ro.eep", fs::perms::owner_read);
    editor_->Image = KeyerHolding();
    editor_->Dialog.FillDialogFromImage();
    ui_.FileAnswers = {(dir_ / "missing.eep").string(), (dir_ / "folder.eep").string(), "/dev/zero",
                       (dir_ / "ro.eep").string(), (dir_ / "folder.eep").string()};
    ui_.Answers = {Answer::Yes, Answer::Yes}; // replace them
    editor_->OpenImageFile();
    editor_->OpenImageFile();
    editor_->OpenImageFile();
    editor_->SaveImageFile();
    editor_->SaveImageFile();
    auto box = [](const char* text) {
        return MessageBox{text, "Error", BoxOwner::MainWindow, BoxIcon::None};
    };
    EXPECT_EQ(ui_.Boxes,
              (std::vector<MessageBox>{box("File Not Found"), box("Read EEPROM file failed."),
                                       box("Read EEPROM file failed."),
                                       box("Can't open EEPROM file for write"),
                                       box("Can't open EEPROM file for write")}));
    EXPECT_EQ(editor_->Image, KeyerHolding());
    EXPECT_EQ(ReadRaw(dir_ / "ro.eep"), "old");
}

TEST_F(KeyerEditorTest, HelpAboutAndExit) {
    editor_->Help();
    ASSERT_EQ(ui_.Boxes.size(), 1u); // no help file yet
    EXPECT_NE(ui_.Boxes[0].Text.find("dl2mgr.html is missing"), std::string::npos);
    EXPECT_TRUE(ui_.HelpOpened.empty());
    WriteRaw(dir_ / "dl2mgr.html", "<html></html>");
    editor_->Help();
    EXPECT_EQ(ui_.HelpOpened, std::vector<std::string>{(dir_ / "dl2mgr.html").string()});
    EXPECT_EQ(ui_.Boxes.size(), 1u);
    ui_.HelpViewerWorks = false; // no desktop handler for the file
    editor_->Help();
    ASSERT_EQ(ui_.Boxes.size(), 2u);
    EXPECT_NE(ui_.Boxes[1].Text.find("browser"), std::string::npos) << ui_.Boxes[1].Text;

    EXPECT_TRUE(editor_->Command(id::MenuAbout));
    EXPECT_EQ(ui_.AboutShown, 1);
    EXPECT_TRUE(std::regex_match(
        editor_->VersionLine(),
        std::regex(R"(Ver 2\.10, Built \d\d:\d\d:\d\d, [A-Z][a-z]{2} [ 1-3]\d \d{4})")))
        << editor_->VersionLine();
    editor_->OsText = "Debian GNU/Linux 12 (bookworm)";
    EXPECT_EQ(editor_->OsLine(), "Operating System is Debian GNU/Linux 12 (bookworm)");

    editor_->OperationBusy = true;
    EXPECT_TRUE(editor_->Command(id::MenuExit));
    EXPECT_TRUE(ui_.QuitCodes.empty());
    editor_->OperationBusy = false;
    editor_->Exit();
    EXPECT_EQ(ui_.QuitCodes, std::vector<int>{0});
    EXPECT_FALSE(editor_->Command(4242));
}

} // namespace
} // namespace dl2mgr::editor

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
