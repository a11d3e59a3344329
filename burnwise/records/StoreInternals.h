#pragma once

#include "burnwise/records/RecordStore.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the SQLite and PostgreSQL stores share: the schema's steps, the checks on a series
// and the text conversions at the database's boundary.
namespace burnwise::records::internal {

// One step of the schema: the statements that bring a database from Version - 1 to Version.
struct SchemaStep {
    int Version;
    std::vector<std::string> Statements;
};

// The schema's steps; only the record's key column is written differently by each database.
std::vector<SchemaStep> SchemaSteps(const std::string& recordKeyColumn);

// Additions to the schema that leave its version as it is: only new nullable columns or new
// tables, which an older Burnwise neither writes nor reads, so its stations keep using a
// database a newer one has extended. Each is applied once, and named in schema_extension.
struct SchemaExtension {
    std::string Name;
    std::vector<std::string> Statements;
};
std::vector<SchemaExtension> SchemaExtensions();

// The statements both databases run. Parameters are written $1, $2, ... in the order they
// appear, which both read the same way.
//
// Reserve: $1 prefix, $2 digits, $3 start, $4 the largest number; returns the number, or
// no row when the series has run out. The increment happens in the database in one
// statement, so no two callers can read the same value.
extern const char* const ReserveStatement;
// Append: the record's columns in the order of RecordColumns.
extern const char* const AppendStatement;
// SetLabel: $1 label state, $2 detail, $3 layout, $4 serial number, $5 station, $6 time.
extern const char* const SetLabelStatement;
// A record's columns as texts, in the order the statements and the list use; the history
// shows the first 12 and the label's state and detail.
inline constexpr std::size_t RecordColumnCount = 16;
std::array<std::string, RecordColumnCount> RecordColumns(const Record& record);
// A label's state as the label_status column holds it: "PRINTED", "FAILED", or empty (NULL).
std::string LabelStateColumn(LabelState state);
LabelState ParseLabelState(std::string_view column);
// The query for `filter` and the values of its parameters; nothing with `error` set for a
// bad filter. Its columns are read back by RecordFromColumns.
std::optional<std::string> ListStatement(const RecordFilter& filter,
                                         std::vector<std::string>& values, std::string& error);
Record RecordFromColumns(const std::function<std::string(int)>& column);

// Our texts are Latin-1; the databases hold UTF-8.
std::string Latin1ToUtf8(std::string_view text);
// Characters beyond Latin-1 (written by some other program) become '?'.
std::string Utf8ToLatin1(std::string_view text);

const char* ResultName(Result result);
std::optional<Result> ParseResult(std::string_view name);

// The largest number the series can hand out, or nothing with `error` set when the key or
// the start cannot make a series.
std::optional<std::uint64_t> SeriesLimit(const SeriesKey& series, std::uint64_t start,
                                         std::string& error);

// The "since" of a filter as stored times compare with it: a UTC time, or a date meaning
// its midnight. Nothing with `error` set otherwise.
std::optional<std::string> SinceBound(std::string_view since, std::string& error);

// What a store needs from its connection to bring the schema up to date.
class SchemaConnection {
public:
    virtual ~SchemaConnection() = default;
    // Starts the transaction in which migration happens, holding off other migrators.
    virtual bool BeginMigration(std::string& error) = 0;
    virtual bool Execute(const std::string& sql, std::string& error) = 0;
    // The first column of the first row as a number; 0 for NULL or no row.
    virtual std::optional<std::int64_t> QueryNumber(const std::string& sql, std::string& error) = 0;
    // The names of the tables the database holds.
    virtual std::optional<std::vector<std::string>> TableNames(std::string& error) = 0;
};

// Reads the schema's version and, for an older one or one without every extension, applies
// the missing steps, the new version and the missing extensions in one transaction. A newer schema
// or a database of somebody else's is refused.
bool MigrateSchema(SchemaConnection& connection, const std::vector<SchemaStep>& steps,
                   const std::string& where, std::string& error);

std::unique_ptr<RecordStore> OpenSqliteStore(const std::string& path, std::string& error);
// `user`, `host`, `port` and `database` come checked from the URL.
std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& user, const std::string& host,
                                               const std::string& port, const std::string& database,
                                               std::string& error);

} // namespace burnwise::records::internal
