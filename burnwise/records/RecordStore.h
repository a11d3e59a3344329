#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace burnwise::records {

enum class Result { Pass, Fail };

// What became of a device's label: none was asked for (also every record of a station that
// does not print labels), printed (Detail: the print job, or the file written), or failed
// (Detail: the reason); Layout is the layout file it was drawn from.
enum class LabelState { NotAsked, Printed, Failed };
struct LabelStatus {
    LabelState State = LabelState::NotAsked;
    std::string Detail = {};
    std::string Layout = {};

    bool operator==(const LabelStatus&) const = default;
};

// One device one operation touched: what a line needs to answer later which chip got which
// serial number, when, where and from which template. Texts are 8-bit, a byte a character.
struct Record {
    std::string Time; // UTC, YYYY-MM-DDTHH:MM:SSZ
    std::string Station;
    std::string Operation; // program, verify, ...
    int DriverIndex = 0;
    std::string Model;
    std::string Eeprom;
    std::string SerialNumber;
    Result Outcome = Result::Fail;
    std::string Reason;
    std::string TemplateFile;
    std::string TemplateSha256;
    std::string ImageSha256;
    LabelStatus Label;
    // The values a label of this device shows, as LabelFields writes them, so that a reprint
    // shows what the first label did. Empty in records made before labels existed.
    std::string LabelFields;

    bool operator==(const Record&) const = default;
};

// Records match when every filter given matches; Since is a UTC time as in Record::Time.
struct RecordFilter {
    std::optional<std::string> SerialNumber = {};
    std::optional<std::string> Station = {};
    std::optional<std::string> Since = {};
};

// A serial series is named by its prefix and digit count: "QA" with 6 digits hands out
// QA000001, QA000002, ... A new series starts at Start.
struct SeriesKey {
    std::string Prefix;
    int Digits = 0;
};

// Where records and serial series are kept. Every operation is one statement in the
// database, committed when it returns true; a failure returns false (or nothing) with
// `error` set to a line for the operator. Nothing here throws. A store is used by one
// thread at a time and belongs to the process that opened it: a child process opens its own.
class RecordStore {
public:
    virtual ~RecordStore() = default;

    virtual bool Append(const Record& record, std::string& error) = 0;
    // The next number of the series, reserved for good: no other caller of any store on
    // the same database ever gets it. Nothing when the series' digits have run out.
    virtual std::optional<std::uint64_t> Reserve(const SeriesKey& series, std::uint64_t start,
                                                 std::string& error) = 0;
    // Sets the label status of the PASS record of `record`'s serial number, station and time.
    // False with `error` set when there is no such record or it cannot be written.
    virtual bool SetLabel(const Record& record, const LabelStatus& label, std::string& error) {
        (void)record;
        (void)label;
        error = Where() + ": this store keeps no labels";
        return false;
    }
    // The matching records, oldest first.
    virtual std::optional<std::vector<Record>> List(const RecordFilter& filter,
                                                    std::string& error) = 0;
    // Whether the connection to the database is gone (a server stopped, a network lost):
    // nothing more can be written through this store.
    virtual bool Lost() const = 0;
    // Where the store is, for messages: the file, or the server and database.
    virtual std::string Where() const = 0;
};

// The schema this build writes; an older database is brought up to it when opened, a
// newer one is refused.
inline constexpr int SchemaVersion = 1;

// Opens the store `url` names, creating and migrating its schema:
//   ""                               the SQLite file burnwise/production.sqlite in the user's
//                                    state folder ($XDG_STATE_HOME, else ~/.local/state)
//   PATH or sqlite:PATH              that SQLite file
//   postgresql://USER@HOST:PORT/NAME the database NAME on a PostgreSQL server
// Nothing with `error` set when the URL is not one of these or the store cannot be used.
std::unique_ptr<RecordStore> OpenRecordStore(std::string_view url, std::string& error);

// The file an empty URL names, for messages and tests.
std::optional<std::string> DefaultStorePath(std::string& error);

// The current time as Record::Time writes it.
std::string UtcNow();
// Whether `text` is a UTC time as Record::Time writes it.
bool IsUtcTime(std::string_view text);
// A serial number as the series writes it: the prefix and the number in `Digits` digits.
std::string SeriesSerial(const SeriesKey& series, std::uint64_t number);

// "not asked", "printed" or "failed", as the history shows a label's state.
const char* LabelStateName(LabelState state);

enum class ListFormat { Text, Csv, Json };
// Parses "text", "csv" or "json".
std::optional<ListFormat> ParseListFormat(std::string_view name);
// The records as the history command prints them: aligned columns, CSV with a header, or
// a JSON array of objects (its texts read as Latin-1).
std::string FormatRecords(const std::vector<Record>& records, ListFormat format);

} // namespace burnwise::records
