#include "burnwise/ui/ProductionSettings.h"

#include "burnwise/app/TemplateFile.h"
#include "burnwise/ui/FileAccess.h"

#include <variant>

namespace burnwise::ui {

namespace {

// Keeps the first line and the first box of a template's reading and checks.
struct BoxKeeper final : device::Reporter {
    std::string FirstLine, FirstBox;
    void AppendLine(std::string_view line) override {
        if (FirstLine.empty()) FirstLine = line;
    }
    void ClearLines() override {}
    void ShowError(std::string_view text) override {
        if (FirstBox.empty()) FirstBox = text;
    }
    void ShowInformation(std::string_view) override {}
};

struct SourceRow {
    SerialSourceKind Kind;
    std::string_view Key;
};
constexpr SourceRow SourceRows[] = {
    {SerialSourceKind::Series, "series"},
    {SerialSourceKind::CounterFile, "counter"},
    {SerialSourceKind::Template, "template"},
};

} // namespace

std::string_view SerialSourceKey(SerialSourceKind kind) {
    for (const SourceRow& row : SourceRows)
        if (row.Kind == kind) return row.Key;
    return {};
}

std::optional<SerialSourceKind> SerialSourceFromKey(std::string_view key) {
    for (const SourceRow& row : SourceRows)
        if (row.Key == key) return row.Kind;
    return std::nullopt;
}

std::optional<std::filesystem::path> DefaultDatabaseFile() {
    const std::optional<std::filesystem::path> state = BurnwiseStateFolder();
    if (!state) return std::nullopt;
    return *state / "production.sqlite";
}

std::optional<TemplateFacts> ReadTemplateFacts(const std::filesystem::path& file,
                                               std::string& error) {
    // Read by the template file's own reader, as the run reads it.
    BoxKeeper notes;
    const std::optional<app::Template> shown =
        app::OpenTemplateFile(file, app::Template::Start(), notes);
    if (!shown) {
        error = notes.FirstBox;
        return std::nullopt;
    }
    return TemplateFacts{*shown, shown->Scheme() == app::SerialScheme::Fixed, shown->ChosenModel()};
}

app::SerialSource SourceOf(SerialSourceKind kind) {
    switch (kind) {
    case SerialSourceKind::Series:
        return app::SerialSource::Series;
    case SerialSourceKind::CounterFile:
        return app::SerialSource::Counter;
    case SerialSourceKind::Template:
        break;
    }
    return app::SerialSource::Template;
}

std::string Worded(const app::Refusal& refused, SerialSourceKind source) {
    using K = app::RefusalKind;
    switch (refused.Kind) {
    case K::SourceNeedsFixedSerial:
        return source == SerialSourceKind::Series
                   ? "A series needs a template with a fixed serial number: the series is named "
                     "by its prefix and digits."
                   : "A counter file needs a template with a fixed serial number.";
    case K::FixedSerialNeedsSource:
        return "The template has one fixed serial number: every device would get the same one. "
               "Choose a series or a counter file.";
    case K::SerialWithoutDigits:
        return "The devices cannot be numbered: " + refused.Text + ".";
    case K::TemplateChecks:
    case K::ClockSerialsNotAtOnce:
        break;
    }
    return refused.Text;
}

std::string ProductionSettingsProblem(const ProductionSettings& settings) {
    if (settings.TemplateFile.empty()) return "Choose a template first.";
    std::string error;
    const std::optional<TemplateFacts> facts = ReadTemplateFacts(settings.TemplateFile, error);
    if (!facts) return "Cannot open the template " + settings.TemplateFile.string() + ": " + error;
    // The run's own plan: the production line takes devices pass after pass.
    BoxKeeper notes;
    const std::variant<app::RunPlan, app::Refusal> planned =
        app::PlanRun({facts->Shown, SourceOf(settings.SerialSource), false, true}, notes);
    if (const app::Refusal* refused = std::get_if<app::Refusal>(&planned)) {
        if (refused->Kind == app::RefusalKind::TemplateChecks && !notes.FirstLine.empty())
            return "The template cannot be programmed: " + notes.FirstLine;
        return Worded(*refused, settings.SerialSource);
    }
    if (settings.SerialSource == SerialSourceKind::CounterFile && settings.CounterFile.empty())
        return "Choose a counter file.";
    if (settings.DatabaseUrl.empty() && !DefaultDatabaseFile())
        return "There is no state folder for the default database: name a database.";
    return {};
}

} // namespace burnwise::ui
