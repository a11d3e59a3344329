#pragma once

#include "burnwise/records/RecordText.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace burnwise::records {

// Interrupted: a device was about to be written (its attempt recorded) and no outcome
// followed, because the station stopped. The database keeps such a row as FAIL, so that
// stations older than attempts never read it as a pass.
enum class Result { Pass, Fail, Interrupted };

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
// serial number, when, where and from which template. Texts are UTF-8, as typed: a chip's
// own 8-bit texts (serial number, model, reason) are converted once with ChipText.
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

// Records match when every filter given matches. Since and Until are UTC times as in
// Record::Time, or dates (Since from its midnight, Until to its end). Limit keeps the newest
// that many of the matching records.
struct RecordFilter {
    std::optional<std::string> SerialNumber = {};
    std::optional<std::string> Station = {};
    std::optional<std::string> Since = {};
    std::optional<std::string> Until = {};
    std::optional<std::string> Model = {};
    std::optional<Result> Outcome = {};
    std::optional<std::string> TemplateFile = {};
    std::optional<std::uint64_t> Limit = {};
};

// One station's program records of one UTC day.
struct DaySummary {
    std::string Day; // YYYY-MM-DD
    std::string Station;
    std::uint64_t Passed = 0;
    std::uint64_t Failed = 0;
    std::string First, Last; // the times of the first and the last record
};

// A serial series is named by its prefix and digit count: "QA" with 6 digits hands out
// QA000001, QA000002, ... A new series starts at Start. The prefix is the chip's 8-bit text.
struct SeriesKey {
    std::string Prefix;
    int Digits = 0;
};

// What StartAttempt found: the attempt's row, and the time of a PASS program record of the
// same serial number written before it, if there is one.
struct AttemptStart {
    std::int64_t Id = 0;
    std::optional<std::string> PassedAt = {};
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
    // As Reserve, in a transaction left open for the attempt of the device that gets the
    // number: the next write (StartAttempt) commits both at once; the store's end without
    // one gives the number back.
    virtual std::optional<std::uint64_t>
    ReserveForAttempt(const SeriesKey& series, std::uint64_t start, std::string& error) {
        return Reserve(series, start, error);
    }
    // Appends `attempt` (its outcome Interrupted) before its device is written, committed
    // together with a number ReserveForAttempt holds, and looks up a PASS program record of
    // its serial number in the same statement.
    virtual std::optional<AttemptStart> StartAttempt(const Record&, std::string& error) {
        error = Where() + ": keeps no attempts";
        return std::nullopt;
    }
    // Replaces the attempt `id` by the record of its outcome.
    virtual bool CompleteAttempt(std::int64_t, const Record&, std::string& error) {
        error = Where() + ": keeps no attempts";
        return false;
    }
    // Completes every Interrupted program record of `outcome`'s serial number and station
    // with its outcome, reason and image; how many it completed.
    virtual std::optional<int> CompleteInterrupted(const Record&, std::string& error) {
        error = Where() + ": keeps no attempts";
        return std::nullopt;
    }
    // The number Reserve would hand out now, without taking it.
    virtual std::optional<std::uint64_t> PeekSeries(const SeriesKey&, std::uint64_t,
                                                    std::string& error) {
        error = Where() + ": keeps no series";
        return std::nullopt;
    }
    // Whether a PASS program record gives `serialNumber` a device written with the image of
    // digest `imageSha256` (as Record::ImageSha256 keeps it). Nothing when it cannot be
    // asked.
    virtual std::optional<bool> PassedWithImage(const std::string&, const std::string&,
                                                std::string& error) {
        error = Where() + ": cannot look up records";
        return std::nullopt;
    }
    // Gives `visit` the matching records one at a time, oldest first, holding only a few of
    // them at once; stops early when `visit` returns false. A row that cannot be read whole
    // is given as far as it can be, never ends the listing.
    virtual bool Each(const RecordFilter&, const std::function<bool(const Record&)>&,
                      std::string& error) {
        error = Where() + ": cannot list records";
        return false;
    }
    // The program records matching `filter`, counted per day and station, oldest day first.
    virtual std::optional<std::vector<DaySummary>> Summarize(const RecordFilter&,
                                                             std::string& error) {
        error = Where() + ": cannot summarize records";
        return std::nullopt;
    }
    // Sets the label status of the PASS record of `record`'s serial number, station and time.
    // False with `error` set when there is no such record or it cannot be written.
    virtual bool SetLabel(const Record&, const LabelStatus&, std::string& error) {
        error = Where() + ": this store keeps no labels";
        return false;
    }
    // Whether the connection to the database is gone (a server stopped, a network lost):
    // nothing more can be written through this store.
    virtual bool Lost() const = 0;
    // Where the store is, for messages: the file, or the server and database (never with
    // a password).
    virtual std::string Where() const = 0;

    // The matching records, oldest first, all at once: for small listings.
    virtual std::optional<std::vector<Record>> List(const RecordFilter& filter,
                                                    std::string& error) {
        std::vector<Record> records;
        if (!Each(
                filter,
                [&](const Record& record) {
                    records.push_back(record);
                    return true;
                },
                error))
            return std::nullopt;
        return records;
    }
    // The databases' stores implement every operation; a store kept elsewhere (in memory,
    // for a test) may leave out what it has no use for, which then fails with a line.
};

// The schema this build writes; an older database is brought up to it when opened for
// writing. A newer one is written while its oldest writer is no newer than this.
inline constexpr int SchemaVersion = 4;

enum class OpenMode {
    Create, // may start a new database: a new SQLite file named sqlite:PATH or the default
            // file, or the schema in an empty PostgreSQL database
    Write,  // writes to a database that already holds records
    Read,   // never writes, so a read-only copy will do
};

// Opens the store `url` names:
//   ""                   the SQLite file burnwise/production.sqlite in the user's state
//                        folder ($XDG_STATE_HOME, else ~/.local/state)
//   sqlite:PATH          that SQLite file
//   PATH                 that SQLite file, which must exist: a mistyped name never starts a
//                        new series
//   postgresql://... or postgres://...   a PostgreSQL URI, as libpq reads it
//   host=... dbname=...  a PostgreSQL keyword string, as libpq reads it
// Passwords come from the URI, PGPASSWORD, the password file or a service file. Nothing
// with `error` set when the URL is not one of these or the store cannot be used.
std::unique_ptr<RecordStore> OpenRecordStore(std::string_view url, OpenMode mode,
                                             std::string& error);
inline std::unique_ptr<RecordStore> OpenRecordStore(std::string_view url, std::string& error) {
    return OpenRecordStore(url, OpenMode::Create, error);
}

// Asked while a statement waits on a database server: true gives the statement up once it
// has waited longer than a sound server needs, and the store is lost. A program that ends
// on a signal sets it, so that a stalled server never holds it up. Signal-safe to ask.
void SetStopCheck(bool (*stopRequested)());
// Whether the stop check says stop.
bool StopRequested();

// The file an empty URL names, for messages and tests.
std::optional<std::string> DefaultStorePath(std::string& error);
// `url` with any password in it replaced by "***", for messages.
std::string MaskPassword(std::string_view url);

// A serial number as the series writes it: the prefix and the number in `Digits` digits.
std::string SeriesSerial(const SeriesKey& series, std::uint64_t number);

// "not asked", "printed" or "failed", as the history shows a label's state.
const char* LabelStateName(LabelState state);

enum class ListFormat { Text, Csv, Json };
// Parses "text", "csv" or "json".
std::optional<ListFormat> ParseListFormat(std::string_view name);

// Writes records as the history command prints them, one at a time to `sink`: aligned
// columns (measured on the first rows), CSV with a header, or a JSON array of objects.
// `sink` returns false when it can take no more (a closed pipe, a full disk).
class RecordWriter {
public:
    using Sink = std::function<bool(std::string_view)>;
    RecordWriter(ListFormat format, Sink sink);
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;
    bool Add(const Record& record);
    bool Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// All of `records` at once, as RecordWriter writes them.
std::string FormatRecords(const std::vector<Record>& records, ListFormat format);
// The summary as `history --summary` prints it: passed, failed, yield and devices per hour
// (over the span from the day's first to its last record, at least a minute).
std::string FormatSummary(const std::vector<DaySummary>& days, ListFormat format);

} // namespace burnwise::records
