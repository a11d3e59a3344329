#include "burnwise/ui/ProductionSettings.h"

#include "burnwise/ui/FileAccess.h"
#include "burnwise/ui/ProfileFile.h"

#include <charconv>

namespace burnwise::ui {

namespace {

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
    const std::optional<ProfileFile> profile = ProfileFile::Load(file, error);
    if (!profile) return std::nullopt;
    TemplateFacts facts;
    // Read as the form reads a flag: a whole number, anything else counts as 0.
    if (const auto fixed = profile->Read("USB Serial Number Control", "Use Fixed Serial Number")) {
        long value = 0;
        const char* end = fixed->data() + fixed->size();
        const auto [at, failure] = std::from_chars(fixed->data(), end, value);
        facts.FixedSerialNumber = failure == std::errc() && at == end && value != 0;
    }
    if (const auto type = profile->Read("Basic Details", "Device Type")) {
        int value = 0;
        const char* end = type->data() + type->size();
        const auto [at, failure] = std::from_chars(type->data(), end, value);
        if (failure == std::errc() && at == end && value > 0 &&
            value <= static_cast<int>(codec::ChipType::KR3E))
            facts.Model = static_cast<codec::ChipType>(value);
    }
    return facts;
}

std::string ProductionSettingsProblem(const ProductionSettings& settings) {
    if (settings.TemplateFile.empty()) return "Choose a template first.";
    std::string error;
    const std::optional<TemplateFacts> facts = ReadTemplateFacts(settings.TemplateFile, error);
    if (!facts) return "Cannot open the template " + settings.TemplateFile.string() + ": " + error;
    switch (settings.SerialSource) {
    case SerialSourceKind::Series:
        if (!facts->FixedSerialNumber)
            return "A series needs a template with a fixed serial number: the series is named "
                   "by its prefix and digits.";
        break;
    case SerialSourceKind::CounterFile:
        if (!facts->FixedSerialNumber)
            return "A counter file needs a template with a fixed serial number.";
        if (settings.CounterFile.empty()) return "Choose a counter file.";
        break;
    case SerialSourceKind::Template:
        if (facts->FixedSerialNumber)
            return "The template has one fixed serial number: every device would get the "
                   "same one. Choose a series or a counter file.";
        break;
    }
    if (settings.DatabaseUrl.empty() && !DefaultDatabaseFile())
        return "There is no state folder for the default database: name a database.";
    return {};
}

} // namespace burnwise::ui
