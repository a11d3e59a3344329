#include "burnwise/ui/ProductionSettings.h"

#include "burnwise/app/LabelFields.h"
#include "burnwise/app/ProductionLog.h"
#include "burnwise/app/SerialCounter.h"
#include "burnwise/app/TemplateFile.h"
#include "burnwise/codec/SerialNumber.h"
#include "burnwise/common/FileAccess.h"
#include "burnwise/ui/FileAccess.h"
#include "burnwise/ui/TemplatesFolder.h"

#include <algorithm>
#include <charconv>
#include <system_error>
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

} // namespace

std::string_view SerialSourceName(app::SerialSource source) {
    for (const SerialSourceChoice& choice : SerialSourceChoices)
        if (choice.Source == source) return choice.Name;
    return {};
}

std::string_view SerialSourceKey(app::SerialSource source) {
    for (const SerialSourceChoice& choice : SerialSourceChoices)
        if (choice.Source == source) return choice.Key;
    return {};
}

std::optional<app::SerialSource> SerialSourceFromKey(std::string_view key) {
    for (const SerialSourceChoice& choice : SerialSourceChoices)
        if (choice.Key == key) return choice.Source;
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

std::shared_ptr<labels::DeviceLabels> OpenLabels(const LabelSettings& settings,
                                                 std::string& error) {
    if (!settings.Print) return nullptr;
    labels::LabelTarget target{settings.Printer, std::nullopt};
    if (settings.ToFolder) target.Folder = settings.Folder;
    std::shared_ptr<labels::DeviceLabels> opened =
        labels::OpenDeviceLabels(settings.Layout, target, error);
    if (!opened) error = "The label layout cannot be used: " + error;
    return opened;
}

std::string LabelSettingsProblem(const LabelSettings& settings) {
    if (!settings.Print) return {};
    if (settings.Layout.empty()) return "Choose a label layout.";
    if (settings.ToFolder && settings.Folder.empty()) return "Choose a folder for the labels.";
    std::string error;
    if (!OpenLabels(settings, error)) return error;
    return {};
}

std::vector<std::filesystem::path> ShippedLabelLayouts() {
    namespace fs = std::filesystem;
    const fs::path program = ProgramFolder();
    std::error_code error;
    fs::path folder = program / "Labels";
    if (!fs::is_directory(folder, error))
        folder = program.parent_path() / "share" / "burnwise" / "Labels";
    std::vector<fs::path> layouts;
    for (fs::directory_iterator file(folder, error), end; !error && file != end;
         file.increment(error))
        if (file->path().extension() == ".svg") layouts.push_back(file->path());
    std::sort(layouts.begin(), layouts.end());
    return layouts;
}

namespace {

// The next number of the series in the settings' database, without reserving it.
std::optional<std::string> NextOfSeries(const ProductionSettings& settings,
                                        const app::SerialPattern& pattern,
                                        const app::StoreOpener& reader) {
    std::string error;
    const std::unique_ptr<records::RecordStore> store =
        reader ? reader(settings.DatabaseUrl, error) : nullptr;
    if (!store) return std::nullopt;
    const std::optional<std::uint64_t> next =
        store->PeekSeries({pattern.Prefix, pattern.Digits}, pattern.Value, error);
    return next ? pattern.Format(*next) : std::nullopt;
}

// The number a counter file holds, without taking it.
std::optional<std::string> NextOfCounter(const ProductionSettings& settings,
                                         const app::SerialPattern& pattern) {
    std::string error;
    const std::optional<std::string> text =
        common::ReadFileBounded(settings.CounterFile, 64, error);
    if (!text) return pattern.Format(pattern.Value); // a new counter starts there
    std::uint64_t value = 0;
    const char* begin = text->data();
    const char* end = begin + text->size();
    while (begin != end && (*begin == ' ' || *begin == '\t'))
        ++begin;
    if (std::from_chars(begin, end, value).ec != std::errc()) return std::nullopt;
    return pattern.Format(value);
}

} // namespace

labels::FieldValues PreviewLabelValues(const ProductionSettings& settings,
                                       const app::StoreOpener& reader) {
    std::string error;
    const std::optional<TemplateFacts> facts = ReadTemplateFacts(settings.TemplateFile, error);
    const app::Template shown = facts ? facts->Shown : app::Template::Start();
    const codec::SystemUtcClock clock;
    std::optional<std::string> serial;
    if (shown.Scheme() == app::SerialScheme::Fixed) {
        const std::optional<app::SerialPattern> pattern =
            app::SplitSerial(shown.FixedSerial, error);
        if (pattern && settings.SerialSource == app::SerialSource::Series)
            serial = NextOfSeries(settings, *pattern, reader);
        else if (pattern && settings.SerialSource == app::SerialSource::Counter)
            serial = NextOfCounter(settings, *pattern);
        if (!serial) serial = shown.FixedSerial;
    } else {
        serial = codec::GenerateSerial(shown.SerialPrefix, clock);
    }
    records::Record record;
    record.SerialNumber = records::ChipText(*serial);
    record.Time = app::UtcTimestamp();
    record.Station = settings.StationName.empty() ? app::HostName() : settings.StationName;
    record.TemplateFile = records::SystemText(settings.TemplateFile.filename().string());
    if (facts && facts->Model) record.Model = codec::ChipModelOf(*facts->Model).ListText;
    return app::LabelValuesOf(shown, record);
}

bool ReprintLabel(const ProductionSettings& settings, const std::string& serial,
                  const app::StoreOpener& opener, std::string& line) {
    std::string error;
    const std::shared_ptr<labels::DeviceLabels> labels = OpenLabels(settings.Labels, error);
    if (!labels) {
        line = "Label " + serial +
               " not printed: " + (error.empty() ? std::string("no labels are asked for") : error);
        return false;
    }
    const std::unique_ptr<records::RecordStore> store = opener(settings.DatabaseUrl, error);
    const std::optional<records::Record> record =
        store ? labels::NewestPassRecord(*store, serial, std::nullopt, error) : std::nullopt;
    if (!record) {
        line = "Label " + serial + " not printed: " + error;
        return false;
    }
    return labels->Print(*record, *store, line).State == records::LabelState::Printed;
}

std::string Worded(const app::Refusal& refused, app::SerialSource source) {
    using K = app::RefusalKind;
    switch (refused.Kind) {
    case K::SourceNeedsFixedSerial:
        return source == app::SerialSource::Series
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
        app::PlanRun({facts->Shown, settings.SerialSource, false, true}, notes);
    if (const app::Refusal* refused = std::get_if<app::Refusal>(&planned)) {
        if (refused->Kind == app::RefusalKind::TemplateChecks && !notes.FirstLine.empty())
            return "The template cannot be programmed: " + notes.FirstLine;
        return Worded(*refused, settings.SerialSource);
    }
    if (settings.SerialSource == app::SerialSource::Counter && settings.CounterFile.empty())
        return "Choose a counter file.";
    if (settings.DatabaseUrl.empty() && !DefaultDatabaseFile())
        return "There is no state folder for the default database: name a database.";
    return LabelSettingsProblem(settings.Labels);
}

} // namespace burnwise::ui
