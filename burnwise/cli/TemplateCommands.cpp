#include "burnwise/cli/TemplateCommands.h"

#include "burnwise/cli/TerminalHost.h"
#include "burnwise/codec/TextEscape.h"
#include "burnwise/ui/MainForm.h"

#include <iostream>
#include <memory>

namespace burnwise::cli {
namespace {

namespace fs = std::filesystem;

// A form just started, with its own program state.
struct StartedForm {
    codec::CodecState State;
    device::RunFlags Flags;
    TerminalHost Host;
    ui::TMainForm Form{State, Flags, Host};

    StartedForm() { Form.FormShow(); }
};

void PrintLines(const std::vector<std::string>& lines, std::size_t from = 0) {
    for (std::size_t i = from; i < lines.size(); ++i)
        std::cout << codec::EscapeText(lines[i]) << '\n';
}

// Opens `path` as the Open action does, reading it once (it may be a pipe). A file that
// cannot be read has shown its box; the command then fails with 2.
void Open(ui::TMainForm& form, TerminalHost& host, const std::string& path) {
    host.OpenFile = fs::path(path);
    const int before = host.ErrorBoxes;
    form.BWOpenExecute();
    if (host.ErrorBoxes != before) throw CLI::RuntimeError(2);
}

int ModelIndex(const ui::ListControl& list, const std::string& name) {
    const auto lower = [](std::string text) {
        for (char& c : text)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return text;
    };
    for (std::size_t i = 0; i < list.Items.size(); ++i)
        if (lower(list.Items[i]) == lower(name)) return static_cast<int>(i);
    return -1;
}

void RunNew(const std::string& path, const std::optional<std::string>& model) {
    auto started = std::make_unique<StartedForm>();
    ui::TMainForm& form = started->Form;
    form.BWNewExecute();
    if (model) {
        const int index = ModelIndex(form.CB1, *model);
        if (index < 0) throw CLI::ValidationError("--model", "unknown model " + *model);
        form.UserChooseEntry("CB1", index);
    }
    started->Host.SaveFile = fs::path(path);
    form.BWSaveAsExecute();
    PrintLines(form.Memo1.Lines);
    // A file that could not be written has shown its box: that is an error (2), while a
    // template that fails its check is a refusal (1).
    if (started->Host.ErrorBoxes != 0) throw CLI::RuntimeError(2);
    if (form.Caption != ui::ProgramModeCaption) throw CLI::RuntimeError(1);
}

void RunShow(const std::string& path) {
    auto started = std::make_unique<StartedForm>();
    ui::TMainForm& form = started->Form;
    started->Host.OpenFile = fs::path(path);
    form.BWOpenExecute();
    // A file that cannot be read at all leaves nothing to show. A box raised while the
    // values were read (a current that is not a number) does not stop the window either:
    // every value is shown as the window then holds it, and the command fails after.
    if (form.TemplateFileName().empty()) throw CLI::RuntimeError(2);
    for (const ui::TemplateValue& value : form.TemplateValues()) {
        std::cout << value.Section << '/' << value.Key << '=' << codec::EscapeText(value.Value)
                  << '\n';
    }
    PrintLines(form.Memo1.Lines);
    std::cout.flush();
    if (started->Host.ErrorBoxes != 0) throw CLI::RuntimeError(1);
}

void RunCheck(const std::string& path) {
    auto started = std::make_unique<StartedForm>();
    ui::TMainForm& form = started->Form;
    Open(form, started->Host, path);
    const std::size_t before = form.Memo1.Lines.size();
    const bool valid = form.ValidateTemplate();
    PrintLines(form.Memo1.Lines, before);
    if (!valid) throw CLI::RuntimeError(1);
}

} // namespace

void AddTemplateCommands(CLI::App& app) {
    CLI::App* group = app.add_subcommand("template", "Create, show and check template files");
    group->require_subcommand(1);

    struct Options {
        std::string File;
        std::optional<std::string> Model;
    };
    const auto options = std::make_shared<Options>();

    CLI::App* create = group->add_subcommand(
        "new", "New template, optionally for a model, saved as FILE (as New, then Save As)");
    create->add_option("FILE", options->File, "Template file to write")->required();
    create->add_option("--model", options->Model, "Device type list entry, e.g. KR2S");
    create->callback([options] { RunNew(options->File, options->Model); });

    CLI::App* show = group->add_subcommand(
        "show", "Open FILE and print the 49 values as the window then holds them");
    show->add_option("FILE", options->File, "Template file to open")->required();
    show->callback([options] { RunShow(options->File); });

    CLI::App* check = group->add_subcommand(
        "check", "Open FILE and run the check made before saving; exit 1 when it fails");
    check->add_option("FILE", options->File, "Template file to open")->required();
    check->callback([options] { RunCheck(options->File); });
}

bool LoadTemplateForEncode(const std::string& path, int deviceNumber,
                           const std::optional<std::string>& eepromName, codec::CodecState& state,
                           std::string& error) {
    device::RunFlags flags;
    TerminalHost host;
    ui::TMainForm form(state, flags, host);
    form.FormShow();
    host.OpenFile = fs::path(path);
    form.BWOpenExecute();
    if (host.ErrorBoxes != 0) {
        error.clear(); // the box has said why
        return false;
    }
    // As Program does: the device-type rules refresh the family selectors first.
    form.ApplyDeviceTypeRules();
    form.GatherSettings(deviceNumber);
    // The KR4 family's EEPROM is inside the chip and always the 64-word kind.
    state.EepromTypeName =
        state.Selectors.Kr4Selected ? std::string("93C46") : eepromName.value_or("93C46");
    return true;
}

} // namespace burnwise::cli
