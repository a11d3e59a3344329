#include "dl2mgr/editor/KeyerEditor.h"

#include "dl2mgr/editor/ConfigFile.h"
#include "dl2mgr/editor/FileResults.h"

#include <algorithm>
#include <functional>
#include <numeric>

namespace dl2mgr::editor {

namespace {

constexpr std::chrono::milliseconds CommandPause{500};

MessageBox Warning(const std::string& text) {
    return {text, "Error", BoxOwner::None, BoxIcon::Warning};
}
// Why a dump is not the keyer's image; the caller puts its own words before it.
std::string DumpFault(const link::DumpRead& read) {
    if (read.Overrun)
        return "the keyer sent more than its 256 bytes, so what arrived is not its image";
    return "the keyer sent " + std::to_string(read.Received) + " of its 256 bytes";
}

MessageBox FileError(const std::string& text) {
    return {text, "Error", BoxOwner::MainWindow, BoxIcon::None};
}

} // namespace

KeyerEditor::KeyerEditor(link::SerialPort& port, link::Sleeper& sleeper, EditorUi& ui,
                         EditorPaths paths)
    : sleeper_(sleeper), ui_(ui), paths_(std::move(paths)),
      link_(port, sleeper, paths_.PortsFolder) {
    Dialog.FillLists();
}

void KeyerEditor::StartUp() {
    const ConfigLoad load = ReadConfigFile(paths_.ConfigFile);
    switch (load.Outcome) {
    case ConfigLoad::State::Missing:
        ComPortNumber = DefaultComPortNumber;
        SaveConfig();
        break;
    case ConfigLoad::State::Unreadable:
        ComPortNumber = 0;
        ui_.ShowBox(Warning("Read file failed."));
        break;
    case ConfigLoad::State::Read:
        ComPortNumber = load.ComPortNumber;
        VerifyAfterWrite = load.VerifyAfterWrite;
        break;
    }
    DevicePath = ReadPortFile(PortFilePath(paths_.ConfigFile));
}

void KeyerEditor::SaveConfig() {
    const FileReplace saved = SaveConfigFile(paths_.ConfigFile, ComPortNumber, VerifyAfterWrite);
    // A file that cannot be made at all is passed over; one that fails on the way is said.
    if (saved.Result == FileReplace::Outcome::CannotWrite)
        ui_.ShowBox(Warning("CFG File SAve Failed."));
}

bool KeyerEditor::Command(int commandId) {
    if (commandId >= id::TestMessage1 && commandId < id::TestMessage1 + 6) {
        TestMessage(commandId - id::TestMessage1 + 1);
        return true;
    }
    const auto comm = std::find(id::MenuComm.begin(), id::MenuComm.end(), commandId);
    if (comm != id::MenuComm.end()) {
        ChooseComPort(static_cast<std::int32_t>(comm - id::MenuComm.begin()) + 1);
        return true;
    }
    switch (commandId) {
    case id::ReadDL:
        ReadDL();
        return true;
    case id::WriteDL:
        WriteDL();
        return true;
    case id::TestDL:
        TestDL();
        return true;
    case id::MenuOpen:
        OpenImageFile();
        return true;
    case id::MenuSave:
        SaveImageFile();
        return true;
    case id::MenuExit:
        Exit();
        return true;
    case id::MenuHelp:
        Help();
        return true;
    case id::MenuVerifyAfterWrite:
        ToggleVerifyAfterWrite();
        return true;
    case id::MenuAbout:
        About();
        return true;
    default:
        return false;
    }
}

template <typename Work>
int KeyerEditor::Connected(Work work) {
    link_.ComPortNumber = ComPortNumber;
    link_.DevicePath = DevicePath;
    const int revision = link_.ConnectKeyer(*this);
    if (revision >= 0) work();
    if (link_.PortOpen()) link_.CloseKeyerPort();
    // The port is free again while the user reads the box.
    if (afterClose_) {
        const MessageBox box = std::move(*afterClose_);
        afterClose_.reset();
        ui_.ShowBox(box);
    }
    return revision;
}

template <typename Work>
CommandResult KeyerEditor::Exclusive(Work work) {
    if (OperationBusy) return CommandResult::Busy;
    OperationBusy = true;
    const CommandResult result = work();
    OperationBusy = false;
    return result;
}

CommandResult KeyerEditor::ReadDL() {
    return Exclusive([&] {
        CommandResult result = CommandResult::Done;
        const int revision = Connected([&] {
            ShowOperation("Reading");
            // Only a whole dump replaces the image: a half-new image shown and later written
            // back would corrupt the keyer.
            KeyerImage received = Image;
            const link::DumpRead read = link_.ReadKeyerImage(received);
            ShowOperation(read ? "Done" : "Read failed");
            StatusTicks = StatusShowTicks;
            if (read) {
                Image = received;
                Dialog.FillDialogFromImage();
                Dialog.Modified = false;
            } else {
                result = CommandResult::Failed;
                ShowAfterClose(Warning("Read failed: " + DumpFault(read) +
                                       ". What the editor shows did not come from the keyer; it "
                                       "is what the editor held before."));
            }
        });
        if (revision < 0) {
            ShowNotConnected();
            return CommandResult::NotConnected;
        }
        return result;
    });
}

CommandResult KeyerEditor::SendImage() {
    ShowOperation("Writing");
    // The send returns once the bytes have left the port, not when the keyer has stored
    // them: the pause gives it the time, and only reading the keyer back tells what it holds.
    const bool sent = link_.WriteKeyerImage(Image);
    sleeper_.Sleep(CommandPause);
    StatusTicks = StatusShowTicks;
    if (!sent) {
        ShowOperation("Write failed");
        ShowAfterClose(Warning("Write failed: not all 258 bytes could be sent. The keyer may hold "
                               "a part of the new image; write it again."));
        return CommandResult::Failed;
    }
    if (!VerifyAfterWrite) {
        ShowOperation("Sent - not verified");
        Dialog.Modified = false;
        return CommandResult::Sent;
    }
    KeyerImage back{};
    const link::DumpRead read = link_.ReadKeyerImage(back);
    if (!read || back != Image) {
        ShowOperation("Verify failed");
        std::string why;
        if (!read) {
            why = "reading it back, " + DumpFault(read) + ", so what it holds is not known";
        } else {
            const auto differ =
                std::inner_product(back.begin(), back.end(), Image.begin(), std::size_t{0},
                                   std::plus<>(), std::not_equal_to<>());
            why = "the keyer holds " + std::to_string(differ) +
                  " bytes that differ from the image sent";
        }
        ShowAfterClose(Warning("Verify failed: " + why + ". Write the image again."));
        return CommandResult::Mismatch;
    }
    ShowOperation("Done");
    Dialog.Modified = false;
    return CommandResult::Done;
}

CommandResult KeyerEditor::WriteDL() {
    return Exclusive([&] {
        CommandResult result = CommandResult::Done;
        const int revision = Connected([&] {
            if (!Dialog.StoreDialogToImage(ui_)) {
                result = CommandResult::Refused;
                return;
            }
            if (const auto refusal = SendRefusal(Image)) {
                ui_.ShowBox({*refusal, "Error", BoxOwner::Dialog, BoxIcon::None});
                result = CommandResult::Refused;
                return;
            }
            result = SendImage();
        });
        if (revision < 0) {
            ShowNotConnected();
            return CommandResult::NotConnected;
        }
        return result;
    });
}

CommandResult KeyerEditor::WriteImage() {
    return Exclusive([&] {
        // Checked before connecting: an image the window would refuse never reaches the line.
        if (const auto refusal = StoreRefusal(Image)) {
            ui_.ShowBox({*refusal, "Error", BoxOwner::Dialog, BoxIcon::None});
            return CommandResult::Refused;
        }
        CommandResult result = CommandResult::Done;
        const int revision = Connected([&] { result = SendImage(); });
        if (revision < 0) {
            ShowNotConnected();
            return CommandResult::NotConnected;
        }
        return result;
    });
}

int KeyerEditor::QueryKeyer() {
    return Connected([] {});
}

CommandResult KeyerEditor::TestDL() {
    return Exclusive([&] {
        sleeper_.Sleep(CommandPause);
        const int revision = QueryKeyer();
        ShowOperation(revision >= 0 ? "DL OK" : "DL NG");
        StatusTicks = StatusShowTicks;
        if (revision < 0) ShowNotConnected();
        return revision >= 0 ? CommandResult::Done : CommandResult::NotConnected;
    });
}

CommandResult KeyerEditor::TestMessage(int message) {
    return Exclusive([&] {
        bool sent = false;
        const int revision =
            Connected([&] { sent = link_.TestKeyerMessage(static_cast<std::uint8_t>(message)); });
        if (revision < 0) {
            ShowNotConnected();
            return CommandResult::NotConnected;
        }
        if (!sent) {
            ui_.ShowBox(Warning("Message test failed: the command could not be sent."));
            return CommandResult::Failed;
        }
        return CommandResult::Done;
    });
}

void KeyerEditor::ToggleVerifyAfterWrite() {
    VerifyAfterWrite = !VerifyAfterWrite;
    SaveConfig();
}

void KeyerEditor::TimerTick() {
    // A command holds the window for seconds; its repaints must not count down the status
    // it has just set.
    if (OperationBusy) return;
    Dialog.SetText(id::MsgBytesLeft,
                   "Msg Bytes Left: " + std::to_string(Dialog.MessageBytesLeft()));
    if (StatusTicks > 0) {
        if (StatusTicks == 1) Dialog.SetText(id::OperationStatus, "");
        --StatusTicks;
    }
}

void KeyerEditor::NoteRefusedCharacter(unsigned char typed) {
    std::string note;
    if (Dialog.MessageBytesLeft() <= 0) {
        note = "Messages full: 232 characters";
    } else if (typed >= 0x21 && typed < 0x7F) {
        note = std::string("No Morse for ") + static_cast<char>(typed);
    } else {
        note = "No Morse for that character";
    }
    Dialog.SetText(id::OperationStatus, note);
    StatusTicks = StatusShowTicks;
}

void KeyerEditor::ChooseComPort(std::int32_t port) {
    ComPortNumber = port;
    ChooseDevice({});
    SaveConfig();
}

void KeyerEditor::ChooseDevice(const std::string& devicePath) {
    DevicePath = devicePath;
    const FileReplace saved = SavePortFile(PortFilePath(paths_.ConfigFile), DevicePath);
    if (saved.Result == FileReplace::Outcome::CannotWrite)
        ui_.ShowBox(Warning("CFG File SAve Failed."));
}

std::vector<link::SystemPort> KeyerEditor::SystemPorts() const {
    return link::SystemPorts(ByIdFolder);
}

int KeyerEditor::CheckedCommItem() const {
    if (!DevicePath.empty() || ComPortNumber < 1 || ComPortNumber > 14) return 0;
    return id::MenuComm[static_cast<std::size_t>(ComPortNumber - 1)];
}

void KeyerEditor::OpenImageFile() {
    if (!MayDropChanges()) return;
    // Cancelled: the dialog keeps what the user typed.
    const auto path = ui_.ChooseOpenFile();
    if (!path) return;
    const std::string name = std::filesystem::path(*path).filename().string();
    Dialog.SetText(id::FileName, "File Name: " + name);
    const FileRead read = ReadOutsideFile(*path, ImageFileCap);
    if (read.Result == FileRead::Outcome::CannotOpen) {
        ui_.ShowBox(FileError("File Not Found"));
    } else if (read.Result == FileRead::Outcome::CannotRead) {
        ui_.ShowBox(FileError("Read EEPROM file failed."));
    } else {
        // Up to 256 bytes: a shorter file replaces only as many bytes as it holds.
        const std::size_t n = std::min(read.Bytes.size(), Image.size());
        std::copy_n(read.Bytes.begin(), n, Image.begin());
        if (n < Image.size()) {
            ui_.ShowBox({name + " holds " + std::to_string(n) + " bytes, not 256: bytes 0 to " +
                             std::to_string(static_cast<long>(n) - 1) +
                             " were loaded, and the rest of the image was kept as it was.",
                         "dl2mgr", BoxOwner::MainWindow, BoxIcon::Information});
        }
    }
    Dialog.FillDialogFromImage();
    Dialog.Modified = false;
}

bool KeyerEditor::SaveImageFile() {
    if (!Dialog.StoreDialogToImage(ui_)) return false;
    const auto path = ui_.ChooseSaveFile();
    if (!path) return false;
    const std::string name = std::filesystem::path(*path).filename().string();
    std::error_code ec;
    if (std::filesystem::exists(*path, ec) &&
        ui_.Ask({QuestionKind::ReplaceFile,
                 name + " already exists.\nDo you want to replace it?"}) != Answer::Yes) {
        return false;
    }
    Dialog.SetText(id::FileName, name);
    const FileReplace saved = ReplaceFile(*path, Image);
    if (saved.Result == FileReplace::Outcome::CannotCreate)
        ui_.ShowBox(FileError("Can't open EEPROM file for write"));
    else if (saved.Result == FileReplace::Outcome::CannotWrite)
        ui_.ShowBox(FileError("Export Log File Failed."));
    if (!saved.Ok()) return false;
    Dialog.Modified = false;
    return true;
}

bool KeyerEditor::MayDropChanges() {
    if (!Dialog.Modified) return true;
    switch (ui_.Ask({QuestionKind::UnsavedChanges,
                     "The editor holds changes that were neither written to the keyer nor "
                     "saved.\nSave them to a file?"})) {
    case Answer::Yes:
        return SaveImageFile();
    case Answer::No:
        return true;
    case Answer::Cancel:
        break;
    }
    return false;
}

void KeyerEditor::Exit() {
    if (!OperationBusy && MayDropChanges()) ui_.Quit(0);
}

void KeyerEditor::Help() {
    std::error_code ec;
    const std::string path = paths_.HelpFile.string();
    if (!std::filesystem::is_regular_file(paths_.HelpFile, ec)) {
        ui_.ShowBox(FileError("The help file " + path + " is missing."));
    } else if (!ui_.OpenHelp(path)) {
        ui_.ShowBox(FileError("No program to show " + path + " was found; open it in a browser."));
    }
}

void KeyerEditor::About() {
    ui_.ShowAbout();
}

std::string KeyerEditor::VersionLine() const {
    // __TIME__ is hh:mm:ss and __DATE__ "Mmm dd yyyy" with the day padded by a space.
    return std::string("Ver ") + ProgramVersion + ", Built " + __TIME__ + ", " + __DATE__;
}

std::string KeyerEditor::OsLine() const {
    return "Operating System is " + OsText;
}

void KeyerEditor::ShowStatus(const std::string& text) {
    Dialog.SetText(id::ConnectionStatus, text);
    ui_.LetWindowRepaint();
}

void KeyerEditor::ShowPotVal(const std::string& text) {
    Dialog.SetText(id::PotVal, text);
}

void KeyerEditor::ShowPbVal(const std::string& text) {
    Dialog.SetText(id::PbVal, text);
    ui_.LetWindowRepaint();
}

std::string KeyerEditor::NotConnectedText() const {
    const link::OpenError& error = link_.LastOpenError();
    if (error.Failure == link::OpenFailure::None) return "DL not connected";
    return "DL not connected: " + link::OpenErrorText(error) + ".";
}

void KeyerEditor::ShowNotConnected() {
    ui_.ShowBox(Warning(NotConnectedText()));
}

void KeyerEditor::ShowOperation(const char* text) {
    Dialog.SetText(id::OperationStatus, text);
    ui_.LetWindowRepaint();
}

} // namespace dl2mgr::editor
