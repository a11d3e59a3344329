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

// One step of the schema: the statements that bring a database from Version - 1 to Version,
// and the oldest schema version whose programs may still write a database at Version.
// An additive step (a new nullable column, a new table) keeps the oldest writer of the step
// before it: older stations go on writing, and their rows read with the new column NULL.
struct SchemaStep {
    int Version;
    int OldestWriter;
    std::vector<std::string> Statements;
};

// The schema's steps; only the record's key column is written differently by each database.
std::vector<SchemaStep> SchemaSteps(const std::string& recordKeyColumn);

// The statements both databases run. Parameters are written $1, $2, ... in the order they
// appear, which both read the same way.
//
// Reserve: $1 prefix, $2 digits, $3 start, $4 the largest number; returns the number, or
// no row when the series has run out. The increment happens in the database in one
// statement, so no two callers can read the same value.
extern const char* const ReserveStatement;
// Peek: $1 prefix, $2 digits; the series' next number, or no row for a new series.
extern const char* const PeekStatement;
// Any PASS program record of serial number $1 with image digest $2.
extern const char* const PassedImageStatement;
// Append: the record's columns in the order of RecordColumns.
extern const char* const AppendStatement;
// StartAttempt: as Append; returns the row's id and the time of the first PASS program
// record of the serial number, or NULL.
extern const char* const AttemptStatement;
// CompleteAttempt: as Append, and $18 the row's id.
extern const char* const CompleteStatement;
// CompleteInterrupted: $1 result, $2 reason, $3 image digest, $4 serial number, $5 station.
extern const char* const CompleteInterruptedStatement;
// SetLabel: $1 label state, $2 detail, $3 layout, $4 serial number, $5 station, $6 time.
extern const char* const SetLabelStatement;
// A record's columns as texts, in the order the statements and the list use: the 12 of
// every schema, then the label's state, detail, fields and layout, and "1" for an attempt.
inline constexpr std::size_t RecordColumnCount = 17;
std::array<std::string, RecordColumnCount> RecordColumns(const Record& record);
// A label's state as the label_status column holds it: "PRINTED", "FAILED", or empty (NULL).
std::string LabelStateColumn(LabelState state);
LabelState ParseLabelState(std::string_view column);

// A query and the values of its parameters.
struct Query {
    std::string Sql;
    std::vector<std::string> Values;
};
// The query for `filter` on a database at `schemaVersion`; nothing with `error` set for a
// bad filter. Its rows are the record's first 16 columns, the column that says the texts
// were stored as typed (NULL for rows of older stations) and the attempt's mark, read back
// by RecordFromRow.
std::optional<Query> ListQuery(const RecordFilter& filter, int schemaVersion, std::string& error);
// The query for a summary of `filter`: day, station, the texts' column, passed, failed,
// first and last time.
std::optional<Query> SummaryQuery(const RecordFilter& filter, int schemaVersion,
                                  std::string& error);
// A column of a row: nothing for NULL.
using RowColumn = std::function<std::optional<std::string_view>(int)>;
Record RecordFromRow(const RowColumn& column);
// Adds a summary row to `days`, merging the rows of one day and station.
void AddSummaryRow(const RowColumn& column, std::vector<DaySummary>& days);

// A stored text as typed: invalid UTF-8 replaced, and for a row of an older station (which
// stored each byte of a typed UTF-8 name as a Latin-1 character) that double encoding undone.
std::string StoredText(std::string_view stored, bool olderStation);

const char* ResultName(Result result);
std::optional<Result> ParseResult(std::string_view name);

// The largest number the series can hand out, or nothing with `error` set when the key or
// the start cannot make a series.
std::optional<std::uint64_t> SeriesLimit(const SeriesKey& series, std::uint64_t start,
                                         std::string& error);

// The "since" of a filter as stored times compare with it: a UTC time, or a date meaning
// its midnight. Nothing with `error` set otherwise.
std::optional<std::string> SinceBound(std::string_view since, std::string& error);

// What a store needs from its connection to check and bring the schema up to date.
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

// Checks the schema for `mode` and, for an older one when writing, applies the missing steps
// and the new version in one transaction. Returns the database's schema version. A schema
// whose oldest writer is newer than this build, a database of somebody else's, and (unless
// creating) one without records are refused.
std::optional<int> PrepareSchema(SchemaConnection& connection, const std::vector<SchemaStep>& steps,
                                 OpenMode mode, const std::string& where, std::string& error);

// `create`: the file may be made.
std::unique_ptr<RecordStore> OpenSqliteStore(const std::string& path, OpenMode mode, bool create,
                                             std::string& error);
// `conninfo` is a URI or keyword string as libpq reads it.
std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& conninfo, OpenMode mode,
                                               std::string& error);

} // namespace burnwise::records::internal
