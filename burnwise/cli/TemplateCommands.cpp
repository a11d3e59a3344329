#include "burnwise/cli/TemplateCommands.h"

#include "burnwise/app/TemplateEditor.h"
#include "burnwise/app/TemplateFile.h"
#include "burnwise/cli/ConsoleReporter.h"
#include "burnwise/codec/TextEscape.h"

#include <iostream>

namespace burnwise::cli {
namespace {

namespace fs = std::filesystem;

constexpr int RefusedStatus = 1;
constexpr int BadInputStatus = 2;

std::optional<codec::ChipType> ModelNamed(const std::string& name) {
    const auto lower = [](std::string_view text) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    };
    for (const codec::ChipModel& model : codec::ChipModels)
        if (lower(model.ListText) == lower(name)) return model.Type;
    return std::nullopt;
}

// Opens `path` over the start template, reading it once (it may be a pipe). Nothing when
// it cannot be read at all; the box has said why.
std::optional<app::Template> Open(const std::string& path, ConsoleReporter& console) {
    return app::OpenTemplateFile(fs::path(path), app::Template::Start(), console);
}

void RunNew(const std::string& path, const std::optional<std::string>& modelName) {
    ConsoleReporter console(ConsoleReporter::LineMode::Keep);
    app::Template t = app::Template::Start();
    app::TemplateEditor editor(t, console);
    app::ApplyNewTemplate(editor);
    console.ClearLines();
    if (modelName) {
        const std::optional<codec::ChipType> model = ModelNamed(*modelName);
        if (!model) throw CLI::ValidationError("--model", "unknown model " + *modelName);
        editor.SetModel(*model);
        app::ApplyModelValues(editor);
    }
    if (app::ValidateTemplate(t, console)) {
        if (app::WriteTemplateFile(fs::path(path), t))
            console.ClearLines();
        else
            console.ShowError("Unable to write to " + fs::path(path).string());
    } else {
        console.PrintLines();
        throw CLI::RuntimeError(RefusedStatus);
    }
    console.PrintLines();
    // A file that could not be written has shown its box: that is an error, while a
    // template that fails its check is a refusal.
    if (console.ErrorBoxes != 0) throw CLI::RuntimeError(BadInputStatus);
}

void RunShow(const std::string& path) {
    ConsoleReporter console(ConsoleReporter::LineMode::Keep);
    // A file that cannot be read at all leaves nothing to show. A box raised while the
    // values were read (a current that is not a number) does not stop the reading either:
    // every value is shown as it then stands, and the command fails after.
    const std::optional<app::Template> t = Open(path, console);
    if (!t) throw CLI::RuntimeError(BadInputStatus);
    for (const app::TemplateValue& value : app::TemplateValues(*t)) {
        std::cout << value.Section << '/' << value.Key << '=' << codec::EscapeText(value.Value)
                  << '\n';
    }
    console.PrintLines();
    std::cout.flush();
    if (console.ErrorBoxes != 0) throw CLI::RuntimeError(RefusedStatus);
}

void RunCheck(const std::string& path) {
    ConsoleReporter console(ConsoleReporter::LineMode::Keep);
    const std::optional<app::Template> t = Open(path, console);
    if (!t || console.ErrorBoxes != 0) throw CLI::RuntimeError(BadInputStatus);
    const std::size_t before = console.Lines.size();
    const bool valid = app::ValidateTemplate(*t, console);
    console.PrintLines(before);
    if (!valid) throw CLI::RuntimeError(RefusedStatus);
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
    ConsoleReporter console(ConsoleReporter::LineMode::Keep);
    const std::optional<app::Template> t = Open(path, console);
    if (!t || console.ErrorBoxes != 0) {
        error.clear(); // the box has said why
        return false;
    }
    // As Program does: the chosen model's family selectors, then the settings.
    const std::optional<codec::ChipType> model = t->ChosenModel();
    state.Selectors = model ? codec::ChipModelOf(*model).Selectors : codec::FamilySelectors{};
    device::RunFlags flags;
    app::GatherSettings(*t, deviceNumber, state, flags);
    // The KR4 family's EEPROM is inside the chip and always the 64-word kind.
    state.EepromTypeName =
        state.Selectors.Kr4Selected ? std::string("93C46") : eepromName.value_or("93C46");
    return true;
}

} // namespace burnwise::cli
