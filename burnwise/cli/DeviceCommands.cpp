#include "burnwise/cli/DeviceCommands.h"

#include "burnwise/cli/ProductionLog.h"
#include "burnwise/codec/TextEscape.h"
#include "burnwise/device/LinkedDriver.h"
#include "burnwise/ui/MainForm.h"

#include <functional>
#include <iostream>
#include <memory>
#include <optional>

namespace burnwise::cli {
namespace {

namespace fs = std::filesystem;

constexpr int StoppedStatus = 1;
constexpr int BadInputStatus = 2;

// The form's window services on a terminal: the open dialog answers with the template named
// on the command line, boxes go to stderr as they come.
class ConsoleHost : public ui::FormHost {
public:
    std::optional<fs::path> OpenFile;

    std::optional<fs::path> RunOpenDialog(const ui::FileDialogOptions&) override {
        return OpenFile;
    }
    std::optional<fs::path> RunSaveDialog(const ui::FileDialogOptions&) override {
        return std::nullopt;
    }
    void ShowErrorBox(std::string_view text) override {
        std::cerr << "error: " << codec::EscapeText(text) << std::endl;
    }
    void ShowInformationBox(std::string_view text) override {
        std::cerr << "info: " << codec::EscapeText(text) << std::endl;
    }
    void ProcessPendingEvents() override {}
    void OpenHelpFile(const fs::path&) override {}
    void ShowAboutBox() override {}
    void CloseWindow() override {}
};

// A started form on the linked driver that prints every message-list line the moment it
// is appended, so a long run shows its progress.
struct ConsoleForm {
    codec::CodecState State;
    device::RunFlags Flags;
    ConsoleHost Host;
    device::LinkedDriver Driver;
    ui::TMainForm Form{State, Flags, Host};
    std::size_t Shown = 0;

    ConsoleForm() {
        Form.FormShow();
        Form.AttachDriver(Driver);
        Form.StateChanged = [this](std::string_view name) {
            if (name != Form.Memo1.Name) return;
            const auto& lines = Form.Memo1.Lines;
            for (std::size_t i = std::min(Shown, lines.size()); i < lines.size(); ++i)
                std::cout << codec::EscapeText(lines[i]) << std::endl;
            Shown = lines.size();
        };
    }
    ~ConsoleForm() { Form.FormClose(); }

    void OpenTemplate(const std::string& path) {
        std::error_code error;
        if (!ui::ProfileFile::Load(path, error))
            throw CLI::RuntimeError("cannot read " + path + ": " + error.message(), BadInputStatus);
        Host.OpenFile = fs::path(path);
        Form.BWOpenExecute();
    }

    void Finish() {
        if (Form.Engine()->LastEnd != device::RunEnd::Completed)
            throw CLI::RuntimeError(StoppedStatus);
    }
};

struct Options {
    std::optional<std::string> Template;
    std::optional<std::string> Log;
};

void RunOperation(const Options& options, const std::function<void(ui::TMainForm&)>& handler) {
    auto console = std::make_unique<ConsoleForm>();
    if (options.Template) console->OpenTemplate(*options.Template);
    handler(console->Form);
    console->Finish();
}

void RunProgram(const Options& options) {
    auto console = std::make_unique<ConsoleForm>();
    console->OpenTemplate(*options.Template);
    ui::TMainForm& form = console->Form;

    // The log is opened before anything is programmed: a production run must not go
    // unrecorded.
    std::optional<ProductionLog> log;
    if (options.Log) {
        std::string error;
        log.emplace();
        if (!log->Open(*options.Log, error)) throw CLI::RuntimeError(error, BadInputStatus);
    }
    bool logFailed = false;
    form.Engine()->DeviceFinished = [&](const device::ProgramOutcome& outcome) {
        if (!log || !outcome.Programmed) return;
        const DeviceRecord record{UtcTimestamp(), outcome.Position,       outcome.DriverIndex,
                                  form.CB1.Text,  outcome.EepromTypeName, outcome.SerialNumber};
        if (!log->Append(record)) logFailed = true;
    };
    form.BWProgramExecute();
    if (logFailed) {
        std::cerr << "burnwise-cli: cannot write the log " << *options.Log << std::endl;
        throw CLI::RuntimeError(StoppedStatus);
    }
    console->Finish();
}

} // namespace

void AddDeviceCommands(CLI::App& app) {
    const auto options = std::make_shared<Options>();

    struct Command {
        const char* Name;
        const char* Description;
        std::function<void(ui::TMainForm&)> Handler;
    };
    const Command commands[] = {
        {"scan", "Count the blank and programmed devices (the Scan action)",
         [](ui::TMainForm& f) { f.BWScanExecute(); }},
        {"erase", "Erase the devices the template's model selects (the Erase action)",
         [](ui::TMainForm& f) { f.BWEraseExecute(); }},
        {"read", "Dump the EEPROM of every device (the Read command)",
         [](ui::TMainForm& f) { f.Read1Click(); }},
        {"parse", "Decode every device's EEPROM into the fields (Read and Parse)",
         [](ui::TMainForm& f) { f.ReadandParse1Click(); }},
        {"cycle", "Make the devices of the template's model re-enumerate (Cycle Device)",
         [](ui::TMainForm& f) { f.ToolButton11Click(); }},
    };
    for (const Command& command : commands) {
        CLI::App* sub = app.add_subcommand(command.Name, command.Description);
        sub->add_option("--template", options->Template, "Template file to open first")
            ->check(CLI::ExistingFile);
        sub->callback([options, handler = command.Handler] { RunOperation(*options, handler); });
    }

    CLI::App* program = app.add_subcommand(
        "program", "Program every device of the template's model (the Program action)");
    program->add_option("--template", options->Template, "Template file to program from")
        ->required()
        ->check(CLI::ExistingFile);
    program->add_option("--log", options->Log,
                        "CSV file that gains one line per programmed device");
    program->callback([options] { RunProgram(*options); });
}

} // namespace burnwise::cli
