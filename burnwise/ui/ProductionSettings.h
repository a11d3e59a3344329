#pragma once

#include "burnwise/app/Plan.h"
#include "burnwise/app/Production.h"
#include "burnwise/codec/ChipModels.h"
#include "burnwise/labels/DeviceLabels.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace burnwise::ui {

// Each serial number source a production run can take, in the order the settings dialog
// lists them: how the settings file keeps it and the dialog's text for it.
struct SerialSourceChoice {
    app::SerialSource Source;
    std::string_view Key;
    std::string_view Name;
};
inline constexpr SerialSourceChoice SerialSourceChoices[] = {
    // a series kept in the records database, shared by every station on it
    {app::SerialSource::Series, "series", "Series (database)"},
    // a counter file on this machine
    {app::SerialSource::Counter, "counter", "Counter file"},
    // the template's own scheme (prefix and position, or the clock)
    {app::SerialSource::Template, "template", "From the template"},
};
std::string_view SerialSourceName(app::SerialSource source);
std::string_view SerialSourceKey(app::SerialSource source);
std::optional<app::SerialSource> SerialSourceFromKey(std::string_view key);

// The label each device that passes gets: from a layout, to a print queue of the system's
// print service (empty: its default destination) or, when ToFolder, as SERIAL.pdf files in
// a folder.
struct LabelSettings {
    bool Print = false;
    std::filesystem::path Layout;
    std::string Printer;
    bool ToFolder = false;
    std::filesystem::path Folder;
};

// The labels the settings ask for; nothing when they ask for none, and nothing with `error`
// set to "The label layout cannot be used: " and the layout's line when it cannot be used.
std::shared_ptr<labels::DeviceLabels> OpenLabels(const LabelSettings& settings, std::string& error);
// Why labels cannot be printed with these settings, or empty when they can (or are not
// asked for).
std::string LabelSettingsProblem(const LabelSettings& settings);

// The layouts shipped with the program, beside its example templates: the Labels folder
// beside the program file (a build tree or a portable install), else the installed one.
std::vector<std::filesystem::path> ShippedLabelLayouts();

// What a production run is started with.
struct ProductionSettings {
    std::filesystem::path TemplateFile;
    app::SerialSource SerialSource = app::SerialSource::Series;
    std::filesystem::path CounterFile; // for app::SerialSource::Counter
    std::string DatabaseUrl;           // empty: the default SQLite file in the state folder
    std::string StationName;           // empty: the host name
    LabelSettings Labels;
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

// The label a layout shows before a run, in the preview: the template's values with the
// serial number the next device would get (the series' or the counter's next number, the
// template's own otherwise) and this moment's date and time. `reader` opens the database
// without writing to it; without one, a series shows the template's number.
labels::FieldValues PreviewLabelValues(const ProductionSettings& settings,
                                       const app::StoreOpener& reader = {});

// The label of `serial` printed again from its newest PASS record in the settings'
// database, with the settings' layout and target, and kept with the record. `line` says
// what became of it (or why no record could be used).
bool ReprintLabel(const ProductionSettings& settings, const std::string& serial,
                  const app::StoreOpener& opener, std::string& line);

// A refusal of the run's plan in the window's words.
std::string Worded(const app::Refusal& refused, app::SerialSource source);

} // namespace burnwise::ui
