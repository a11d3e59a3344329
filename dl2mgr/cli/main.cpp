// dl2mgr-cli: the keyer commands without a window.
//   dl2mgr-cli [--port N | --device PATH] info | read FILE | write [--no-verify] FILE | test N
//   dl2mgr-cli show FILE
// Exit status: 0 success, 1 keyer not connected, a transfer failed or the read-back after a
// write differed, 2 bad arguments, a file that cannot be read or written, or an image the
// editor's field checks refuse (one line on stderr).
#include "ProjectVersion.h"
#include "dl2mgr/editor/ConfigFile.h"
#include "dl2mgr/editor/DialogFields.h"
#include "dl2mgr/editor/ImageFile.h"
#include "dl2mgr/editor/KeyerEditor.h"
#include "dl2mgr/editor/OutsideFile.h"
#include "dl2mgr/link/PortNames.h"
#include "dl2mgr/link/QtSerialPort.h"
#include "dl2mgr/link/SystemPorts.h"

#include <CLI/CLI.hpp>
#include <QCoreApplication>
#include <cstdio>
#include <iostream>
#include <stdexcept>

namespace {

using dl2mgr::editor::KeyerImage;

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitBadArguments = 2;

void Say(const std::string& line) {
    std::cout << line << std::endl;
}
void Complain(const std::string& line) {
    std::cerr << line << std::endl;
}

// The editor's boxes as lines on stderr; a command-line tool has no file dialogs, help
// viewer or about box.
class CliUi final : public dl2mgr::editor::EditorUi {
public:
    void ShowBox(const dl2mgr::editor::MessageBox& box) override { Complain(box.Text); }
    // Nothing to drop: the command line never holds unsaved edits.
    dl2mgr::editor::Answer Ask(const dl2mgr::editor::Question&) override {
        return dl2mgr::editor::Answer::Cancel;
    }
    std::optional<std::string> ChooseOpenFile() override { return std::nullopt; }
    std::optional<std::string> ChooseSaveFile() override { return std::nullopt; }
    void LetWindowRepaint() override {}
    bool OpenHelp(const std::string&) override { return false; }
    void ShowAbout() override {}
    void Quit(int) override {}
};

// The editor the window runs on, with the connection line and the operation status
// printed as they change.
class Session {
public:
    Session(std::int32_t comPortNumber, const std::string& devicePath)
        : editor_(port_, sleeper_, ui_, {{}, {}, dl2mgr::link::PortsFolder()}) {
        editor_.ComPortNumber = comPortNumber;
        editor_.DevicePath = devicePath;
        editor_.Dialog.Changed = [this](int controlId) {
            namespace id = dl2mgr::editor::id;
            if (controlId == id::ConnectionStatus || controlId == id::OperationStatus)
                Say(editor_.Dialog.Text(controlId));
        };
    }
    dl2mgr::editor::KeyerEditor& Editor() { return editor_; }

private:
    dl2mgr::link::QtSerialPort port_;
    dl2mgr::link::ThreadSleeper sleeper_;
    CliUi ui_;
    dl2mgr::editor::KeyerEditor editor_;
};

const char* ItemOr(int index, const auto& items) {
    if (index < 0 || static_cast<std::size_t>(index) >= items.size()) return "(none)";
    if constexpr (requires { items[0].Text; }) {
        return items[static_cast<std::size_t>(index)].Text;
    } else {
        return items[static_cast<std::size_t>(index)];
    }
}

void PrintImage(const KeyerImage& image) {
    using namespace dl2mgr::editor;
    const DialogFields f = FieldsFromImage(image);
    auto tick = [](bool on) { return on ? "on" : "off"; };
    std::cout << "Weight: " << f.Weight << "\nLeadIn: " << f.LeadIn << "\nTail: " << f.Tail
              << "\n1stExt: " << f.FirstExt << "\nComp: " << f.KeyComp << "\nFarns: " << f.Farns
              << "\nSample: " << f.Sample << "\nRatio: " << f.Ratio << "\nCmdWpm: " << f.CmdWpm
              << "\nMAX: " << f.Max << "\nMIN: " << f.Min
              << "\nKeyer Mode: " << ItemOr(f.KeyerMode, KeyerModeItems)
              << "\nPaddle Hang: " << ItemOr(f.PaddleHang, PaddleHangItems)
              << "\nSidetone Hz: " << ItemOr(f.Sidetone, SidetoneItems)
              << "\nOutput Config: " << ItemOr(f.OutputConfig, OutputConfigItems)
              << "\nSwap: " << tick(f.Swap) << "\nAutoSpace: " << tick(f.AutoSpace)
              << "\nCTspace: " << tick(f.CtSpace) << "\nPaddleDog: " << tick(f.PaddleDog)
              << "\nCut 0/9: " << tick(f.Cut09) << "\nMsgBrk: " << tick(f.MsgBrk) << "\n";
    for (std::size_t k = 0; k < f.Messages.size(); ++k) {
        std::cout << "Message " << k + 1 << ": \"" << f.Messages[k] << "\"\n";
    }
    std::cout << std::flush;
}

// The window's choice: a system port kept by its path, else the COM number.
struct PortChoice {
    std::int32_t ComPortNumber = 0;
    std::string Device;
};

PortChoice DefaultPort() {
    using namespace dl2mgr::editor;
    const auto path =
        ConfigFilePath(QCoreApplication::applicationDirPath().toLocal8Bit().toStdString(),
                       dl2mgr::link::ConfigFolder());
    const ConfigLoad load = LoadComPortNumber(path);
    if (load.Outcome == ConfigLoad::State::Unreadable)
        throw std::runtime_error("the port is not known: " + load.Error);
    return {load.ComPortNumber, ReadPortFile(PortFilePath(path))};
}

} // namespace

int Run(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    CLI::App app{"Keyer commands over a serial port", "dl2mgr-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("dl2mgr-cli ") + ProjectVersion);
    std::int32_t port = 0;
    std::string device;
    auto* portOpt = app.add_option("--port", port, "COM port number (default: dl2mgr's config)");
    auto* deviceOpt = app.add_option("--device", device, "open this device path directly");
    portOpt->excludes(deviceOpt);

    std::string file;
    int message = 0;
    auto* info = app.add_subcommand("info", "connect and show revision, PotVal and PbVal");
    auto* read = app.add_subcommand("read", "read the keyer's image into FILE");
    read->add_option("FILE", file, "image file to write")->required();
    auto* write = app.add_subcommand("write", "write FILE to the keyer");
    write->add_option("FILE", file, "image file to send")->required();
    bool noVerify = false;
    write->add_flag("--no-verify", noVerify,
                    "do not read the keyer back and compare after writing (by default a "
                    "write ends in \"Done\" only when all 256 bytes match)");
    auto* test = app.add_subcommand("test", "start stored message N (1 to 6)");
    test->add_option("N", message, "message number")->required()->check(CLI::Range(1, 6));
    auto* ports = app.add_subcommand(
        "ports", "list the serial ports the system reports: the path --device takes, and what "
                 "the port is");
    auto* show = app.add_subcommand("show", "show the settings and messages of FILE");
    show->add_option("FILE", file, "image file")->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e); // --help
        Complain("dl2mgr-cli: " + std::string(e.what()));
        return ExitBadArguments;
    }

    // An empty name is a mistake (an unset variable), never "the default": refused before
    // any port is opened.
    if (*deviceOpt && device.empty()) {
        Complain("dl2mgr-cli: --device: the device name is empty");
        return ExitBadArguments;
    }
    if ((*read || *write || *show) && file.empty()) {
        Complain("dl2mgr-cli: FILE: the file name is empty");
        return ExitBadArguments;
    }

    KeyerImage image{};
    if (*show || *write) {
        const std::string error = dl2mgr::editor::LoadImageFile(file, image);
        if (!error.empty()) {
            Complain(error);
            return ExitBadArguments;
        }
    }
    if (*show) {
        PrintImage(image);
        return ExitOk;
    }

    if (*ports) {
        for (const auto& system : dl2mgr::link::SystemPorts())
            Say(dl2mgr::link::ChoicePath(system) + "\t" + dl2mgr::link::PortLabel(system));
        return ExitOk;
    }

    PortChoice choice{port, device};
    if (!*portOpt && !*deviceOpt) choice = DefaultPort();
    Session session(choice.ComPortNumber, choice.Device);
    auto& editor = session.Editor();
    using dl2mgr::editor::CommandResult;
    auto exitFor = [](CommandResult result) {
        return result == CommandResult::Done || result == CommandResult::Sent ? ExitOk
               : result == CommandResult::Refused                             ? ExitBadArguments
                                                                              : ExitFailed;
    };
    if (*info) {
        const int revision = editor.QueryKeyer();
        if (revision < 0) {
            Complain(editor.NotConnectedText());
            return ExitFailed;
        }
        Say("Revision: " + std::to_string(revision));
        Say("PotVal: " + editor.Dialog.Text(dl2mgr::editor::id::PotVal));
        Say("PbVal: " + editor.Dialog.Text(dl2mgr::editor::id::PbVal));
    } else if (*read) {
        // A file that cannot be written is known before the keyer is read for 2.6 s.
        if (const auto check = dl2mgr::editor::CheckReplace(file); !check.Ok()) {
            Complain(check.Error);
            return ExitBadArguments;
        }
        const CommandResult result = editor.ReadDL();
        if (result == CommandResult::Failed) Complain(file + " was not written.");
        if (result != CommandResult::Done) return exitFor(result);
        const std::string error = dl2mgr::editor::SaveImageFile(file, editor.Image);
        if (!error.empty()) {
            Complain(error);
            return ExitBadArguments;
        }
    } else if (*write) {
        editor.Image = image;
        editor.VerifyAfterWrite = !noVerify;
        return exitFor(editor.WriteImage());
    } else if (*test) {
        const CommandResult result = editor.TestMessage(message);
        if (result != CommandResult::Done) return exitFor(result);
        Say("Message " + std::to_string(message) + " started");
    }
    return ExitOk;
}

int main(int argc, char** argv) {
    // Whatever goes wrong ends as one line and exit 2, never as an abort.
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        Complain(std::string("dl2mgr-cli: ") + e.what());
    } catch (...) {
        Complain("dl2mgr-cli: unexpected error");
    }
    return ExitBadArguments;
}
