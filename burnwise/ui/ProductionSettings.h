#pragma once

#include "burnwise/app/Plan.h"
#include "burnwise/codec/ChipModels.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace burnwise::ui {

// Where a production run takes the serial numbers of its devices.
enum class SerialSourceKind {
    Series,      // a series kept in the records database, shared by every station on it
    CounterFile, // a counter file on this machine
    Template,    // the template's own scheme (prefix and position, or the clock)
};

// The names the settings dialog lists, in its order.
inline constexpr std::string_view SerialSourceNames[] = {"Series (database)", "Counter file",
                                                         "From the template"};
// How the settings file keeps a source.
std::string_view SerialSourceKey(SerialSourceKind kind);
std::optional<SerialSourceKind> SerialSourceFromKey(std::string_view key);

// What a production run is started with.
struct ProductionSettings {
    std::filesystem::path TemplateFile;
    SerialSourceKind SerialSource = SerialSourceKind::Series;
    std::filesystem::path CounterFile; // for SerialSourceKind::CounterFile
    std::string DatabaseUrl;           // empty: the default SQLite file in the state folder
    std::string StationName;           // empty: the host name
};

// The default records database: production.sqlite in the state folder; nothing when the
// user has no state folder.
std::optional<std::filesystem::path> DefaultDatabaseFile();

// What the settings need to know of the template before a run.
struct TemplateFacts {
    app::Template Shown;                  // as the template file's reader reads it
    bool FixedSerialNumber = false;       // one fixed serial number rather than a scheme
    std::optional<codec::ChipType> Model; // the device type chosen, when one is
};
// Reads the template (bounded); nothing, with `error` set, when it cannot be read.
std::optional<TemplateFacts> ReadTemplateFacts(const std::filesystem::path& file,
                                               std::string& error);

// Why a run cannot start with these settings (a line for the window), or empty when it can.
// Reads the template file and asks the run's plan.
std::string ProductionSettingsProblem(const ProductionSettings& settings);

// The serial number source of the run, and a refusal of its plan in the window's words.
app::SerialSource SourceOf(SerialSourceKind kind);
std::string Worded(const app::Refusal& refused, SerialSourceKind source);

} // namespace burnwise::ui
