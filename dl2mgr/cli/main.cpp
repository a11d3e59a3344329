// dl2mgr-cli: the keyer commands without a window.
//   dl2mgr-cli [--port N | --device PATH] info | read FILE | write FILE | test N | show FILE
// Exit status: 0 success, 1 keyer not connected or a transfer failed, 2 bad arguments or a
// file that cannot be read or written (one line on stderr).
#include "ProjectVersion.h"
#include "dl2mgr/editor/ConfigFile.h"
#include "dl2mgr/editor/DialogFields.h"
#include "dl2mgr/editor/ImageFile.h"
#include "dl2mgr/link/KeyerLink.h"
#include "dl2mgr/link/PortNames.h"
#include "dl2mgr/link/QtSerialPort.h"

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

// Keeps what a connect reports, for printing once it is over.
class RecordedStatus final : public dl2mgr::link::StatusDisplay {
public:
    void ShowStatus(const std::string& text) override { Status = text; }
    void ShowPotVal(const std::string& text) override { PotVal = text; }
    void ShowPbVal(const std::string& text) override { PbVal = text; }
    std::string Status, PotVal, PbVal;
};

void Say(const std::string& line) {
    std::cout << line << std::endl;
}
void Complain(const std::string& line) {
    std::cerr << line << std::endl;
}

// Closes the port on every way out of a command, as the editor does after each one.
class Session {
public:
    Session(std::int32_t comPortNumber, const std::string& devicePath) : link_(port_, sleeper_) {
        link_.ComPortNumber = comPortNumber;
        link_.DevicePath = devicePath;
    }
    ~Session() {
        if (link_.PortOpen()) link_.CloseKeyerPort();
    }
    // Connects and prints the status line; false (after "DL not connected") on failure.
    bool Connect() {
        revision_ = link_.ConnectKeyer(status_);
        Say(status_.Status);
        if (revision_ < 0) {
            Complain("DL not connected");
            return false;
        }
        return true;
    }
    dl2mgr::link::KeyerLink& Link() { return link_; }
    const RecordedStatus& Status() const { return status_; }
    int Revision() const { return revision_; }
    void Pause(std::chrono::milliseconds duration) { sleeper_.Sleep(duration); }

private:
    dl2mgr::link::QtSerialPort port_;
    dl2mgr::link::ThreadSleeper sleeper_;
    dl2mgr::link::KeyerLink link_;
    RecordedStatus status_;
    int revision_ = -1;
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

std::int32_t DefaultPort() {
    using namespace dl2mgr::editor;
    const auto path =
        ConfigFilePath(QCoreApplication::applicationDirPath().toLocal8Bit().toStdString(),
                       dl2mgr::link::ConfigFolder());
    const ConfigLoad load = LoadComPortNumber(path);
    if (load.Outcome == ConfigLoad::State::Unreadable)
        throw std::runtime_error("the port is not known: " + load.Error);
    return load.ComPortNumber;
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
    auto* test = app.add_subcommand("test", "start stored message N (1 to 6)");
    test->add_option("N", message, "message number")->required()->check(CLI::Range(1, 6));
    auto* show = app.add_subcommand("show", "show the settings and messages of FILE");
    show->add_option("FILE", file, "image file")->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e); // --help
        Complain("dl2mgr-cli: " + std::string(e.what()));
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

    Session session(*portOpt || !device.empty() ? port : DefaultPort(), device);
    if (!session.Connect()) return ExitFailed;
    auto& link = session.Link();
    if (*info) {
        Say("Revision: " + std::to_string(session.Revision()));
        Say("PotVal: " + session.Status().PotVal);
        Say("PbVal: " + session.Status().PbVal);
    } else if (*read) {
        Say("Reading");
        if (!link.ReadKeyerImage(image)) {
            Complain("Read failed: the keyer did not send all 256 bytes; " + file +
                     " was not written.");
            return ExitFailed;
        }
        const std::string error = dl2mgr::editor::SaveImageFile(file, image);
        if (!error.empty()) {
            Complain(error);
            return ExitBadArguments;
        }
        Say("Done");
    } else if (*write) {
        Say("Writing");
        const bool sent = link.WriteKeyerImage(image);
        // The editor waits 500 ms after a write before it closes the port; so does this,
        // so the keyer has taken the bytes before the line goes away.
        session.Pause(std::chrono::milliseconds(500));
        if (!sent) {
            Complain("Write failed: not all 258 bytes could be sent.");
            return ExitFailed;
        }
        Say("Done");
    } else if (*test) {
        if (!link.TestKeyerMessage(static_cast<std::uint8_t>(message))) {
            Complain("Message test failed: the command could not be sent.");
            return ExitFailed;
        }
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
