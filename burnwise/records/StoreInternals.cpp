#include "burnwise/records/StoreInternals.h"

#include "common/UtcTime.h"

#include <algorithm>
#include <charconv>
#include <map>

namespace burnwise::records::internal {

std::vector<SchemaStep> SchemaSteps(const std::string& recordKeyColumn) {
    return {
        {1,
         1,
         {"CREATE TABLE production_record (" + recordKeyColumn +
              ", time TEXT NOT NULL, station TEXT NOT NULL, operation TEXT NOT NULL, "
              "driver_index INTEGER NOT NULL, model TEXT NOT NULL, eeprom TEXT NOT NULL, "
              "serial_number TEXT NOT NULL, "
              "result TEXT NOT NULL CHECK (result IN ('PASS', 'FAIL')), reason TEXT NOT NULL, "
              "template_file TEXT NOT NULL, template_sha256 TEXT NOT NULL, "
              "image_sha256 TEXT NOT NULL)",
          "CREATE INDEX production_record_serial ON production_record (serial_number)",
          "CREATE TABLE serial_series (prefix TEXT NOT NULL, digits INTEGER NOT NULL, "
          "next_number BIGINT NOT NULL, PRIMARY KEY (prefix, digits))"}},
        // Rows of schema 1 stations stored each byte of a typed name as a character; the
        // mark tells rows stored as typed from theirs, which read back as before.
        {2,
         1,
         {"ALTER TABLE production_record ADD COLUMN texts_utf8 INTEGER",
          "ALTER TABLE schema_version ADD COLUMN oldest_writer INTEGER"}},
        // What became of each device's label. Stations of schema 1 and 2 go on writing:
        // their rows leave the label columns NULL, which reads as no label asked for.
        {3,
         1,
         {"ALTER TABLE production_record ADD COLUMN label_status TEXT "
          "CHECK (label_status IN ('PRINTED', 'FAILED'))",
          "ALTER TABLE production_record ADD COLUMN label_detail TEXT",
          "ALTER TABLE production_record ADD COLUMN label_fields TEXT",
          "ALTER TABLE production_record ADD COLUMN label_layout TEXT"}},
        // A device's attempt is recorded before it is written and completed afterwards; a
        // row still marked is a device the station stopped on. Older stations read it as
        // the FAIL it is stored as, and go on writing their rows unmarked.
        {4, 1, {"ALTER TABLE production_record ADD COLUMN in_progress INTEGER"}},
    };
}

const char* const ReserveStatement =
    "INSERT INTO serial_series (prefix, digits, next_number) "
    "VALUES ($1, CAST($2 AS INTEGER), CAST($3 AS BIGINT) + 1) "
    "ON CONFLICT (prefix, digits) DO UPDATE SET next_number = serial_series.next_number + 1 "
    "WHERE serial_series.next_number <= CAST($4 AS BIGINT) "
    "RETURNING next_number - 1";

const char* const PeekStatement =
    "SELECT next_number FROM serial_series WHERE prefix = $1 AND digits = CAST($2 AS INTEGER)";

const char* const PassedImageStatement =
    "SELECT 1 FROM production_record WHERE serial_number = $1 AND image_sha256 = $2 AND "
    "result = 'PASS' AND operation = 'program' LIMIT 1";

const char* const AppendStatement =
    "INSERT INTO production_record (time, station, operation, driver_index, model, eeprom, "
    "serial_number, result, reason, template_file, template_sha256, image_sha256, "
    "label_status, label_detail, label_fields, label_layout, in_progress, texts_utf8) "
    "VALUES ($1, $2, $3, CAST($4 AS INTEGER), $5, $6, $7, $8, $9, $10, $11, $12, "
    "NULLIF($13, ''), NULLIF($14, ''), NULLIF($15, ''), NULLIF($16, ''), "
    "CAST(NULLIF($17, '') AS INTEGER), 1)";

// The serial number's first PASS program record is looked up by the insert itself, so the
// check costs no round trip of its own.
const char* const AttemptStatement =
    "INSERT INTO production_record (time, station, operation, driver_index, model, eeprom, "
    "serial_number, result, reason, template_file, template_sha256, image_sha256, "
    "label_status, label_detail, label_fields, label_layout, in_progress, texts_utf8) "
    "VALUES ($1, $2, $3, CAST($4 AS INTEGER), $5, $6, $7, $8, $9, $10, $11, $12, "
    "NULLIF($13, ''), NULLIF($14, ''), NULLIF($15, ''), NULLIF($16, ''), "
    "CAST(NULLIF($17, '') AS INTEGER), 1) "
    "RETURNING id, (SELECT p.time FROM production_record AS p WHERE p.serial_number = $7 "
    "AND p.result = 'PASS' AND p.operation = 'program' ORDER BY p.id LIMIT 1)";

const char* const CompleteStatement =
    "UPDATE production_record SET time = $1, station = $2, operation = $3, "
    "driver_index = CAST($4 AS INTEGER), model = $5, eeprom = $6, serial_number = $7, "
    "result = $8, reason = $9, template_file = $10, template_sha256 = $11, "
    "image_sha256 = $12, label_status = NULLIF($13, ''), label_detail = NULLIF($14, ''), "
    "label_fields = NULLIF($15, ''), label_layout = NULLIF($16, ''), "
    "in_progress = CAST(NULLIF($17, '') AS INTEGER) WHERE id = CAST($18 AS BIGINT)";

const char* const CompleteInterruptedStatement =
    "UPDATE production_record SET result = $1, reason = $2, image_sha256 = $3, "
    "in_progress = NULL WHERE in_progress = 1 AND operation = 'program' AND "
    "serial_number = $4 AND station = $5";

// The newest PASS record of the serial number at that station and time: a record is
// appended before its label is printed, and a reprint names the record it printed from.
const char* const SetLabelStatement =
    "UPDATE production_record SET label_status = NULLIF($1, ''), label_detail = NULLIF($2, ''), "
    "label_layout = NULLIF($3, '') WHERE id = (SELECT max(id) FROM production_record WHERE "
    "serial_number = $4 AND station = $5 AND time = $6 AND result = 'PASS')";

std::array<std::string, RecordColumnCount> RecordColumns(const Record& record) {
    return {record.Time, record.Station, record.Operation, std::to_string(record.DriverIndex),
            record.Model, record.Eeprom, record.SerialNumber,
            // An attempt is stored as the failure it is until its outcome replaces it.
            record.Outcome == Result::Pass ? "PASS" : "FAIL", record.Reason, record.TemplateFile,
            record.TemplateSha256, record.ImageSha256, LabelStateColumn(record.Label.State),
            record.Label.Detail, record.LabelFields, record.Label.Layout,
            record.Outcome == Result::Interrupted ? "1" : ""};
}

std::string LabelStateColumn(LabelState state) {
    switch (state) {
    case LabelState::Printed:
        return "PRINTED";
    case LabelState::Failed:
        return "FAILED";
    case LabelState::NotAsked:
        break;
    }
    return {};
}

LabelState ParseLabelState(std::string_view column) {
    if (column == "PRINTED") return LabelState::Printed;
    if (column == "FAILED") return LabelState::Failed;
    return LabelState::NotAsked;
}

namespace {

// The "until" of a filter: a UTC time, or a date meaning up to its last second (a leap
// second included).
std::optional<std::string> UntilBound(std::string_view until, std::string& error) {
    if (common::IsUtcTimeStamp(until)) return std::string(until);
    const std::string last = std::string(until) + "T23:59:60Z";
    if (until.size() == 10 && common::IsUtcTimeStamp(last)) return last;
    error = "\"" + std::string(until) +
            "\" is not a UTC time (YYYY-MM-DDTHH:MM:SSZ) or a date (YYYY-MM-DD)";
    return std::nullopt;
}

// The WHERE clause of a filter, its values added to `query`.
bool AddConditions(const RecordFilter& filter, Query& query, std::string& error) {
    query.Sql += " WHERE 1 = 1";
    auto add = [&](const char* condition, std::string value) {
        query.Values.push_back(std::move(value));
        query.Sql += std::string(" AND ") + condition + std::to_string(query.Values.size());
    };
    // A typed name matches the rows of older stations too, which stored it double encoded.
    auto addName = [&](const std::string& column, const std::string& name) {
        query.Values.push_back(name);
        query.Values.push_back(Latin1ToUtf8(name));
        const std::size_t n = query.Values.size();
        query.Sql += " AND (" + column + " = $" + std::to_string(n - 1) + " OR " + column + " = $" +
                     std::to_string(n) + ")";
    };
    if (filter.SerialNumber) add("serial_number = $", *filter.SerialNumber);
    if (filter.Station) addName("station", *filter.Station);
    if (filter.Model) add("model = $", *filter.Model);
    if (filter.Outcome == Result::Interrupted)
        query.Sql += " AND in_progress = 1";
    else if (filter.Outcome) {
        add("result = $", ResultName(*filter.Outcome));
        query.Sql += " AND in_progress IS NULL";
    }
    if (filter.TemplateFile) addName("template_file", *filter.TemplateFile);
    if (filter.Since) {
        const auto since = SinceBound(*filter.Since, error);
        if (!since) return false;
        add("time >= $", *since);
    }
    if (filter.Until) {
        const auto until = UntilBound(*filter.Until, error);
        if (!until) return false;
        add("time <= $", *until);
    }
    return true;
}

constexpr const char* Columns = "time, station, operation, driver_index, model, eeprom, "
                                "serial_number, result, reason, template_file, "
                                "template_sha256, image_sha256";

std::string Mark(int schemaVersion) {
    return std::string(schemaVersion >= 2 ? "texts_utf8" : "NULL AS texts_utf8") +
           (schemaVersion >= 4 ? ", in_progress" : ", NULL AS in_progress");
}

// The label's columns, NULL from a database older than them.
constexpr const char* LabelColumns = "label_status, label_detail, label_fields, label_layout";
std::string LabelSelection(int schemaVersion) {
    return schemaVersion >= 3 ? LabelColumns
                              : "NULL AS label_status, NULL AS label_detail, "
                                "NULL AS label_fields, NULL AS label_layout";
}

bool ValidUtf8(std::string_view text, bool& nonAscii, bool& beyondLatin1) {
    nonAscii = beyondLatin1 = false;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            ++i;
            continue;
        }
        nonAscii = true;
        std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 0;
        if (length == 0 || byte > 0xF4 || i + length > text.size()) return false;
        std::uint32_t code = byte & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and numbers beyond Unicode are no characters.
        static constexpr std::uint32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < Least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        if (code > 0xFF) beyondLatin1 = true;
        i += length;
    }
    return true;
}

// Invalid sequences become U+FFFD, a byte at a time.
std::string Repaired(std::string_view text) {
    std::string out;
    bool nonAscii = false, beyond = false;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = 1;
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0xC0) length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
        length = std::min(length, text.size() - i);
        if (ValidUtf8(text.substr(i, length), nonAscii, beyond))
            out.append(text.substr(i, length));
        else {
            out += "\xEF\xBF\xBD";
            length = 1;
        }
        i += length;
    }
    return out;
}

std::string Utf8ToLatin1(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80 || i + 1 >= text.size()) {
            out += char(byte);
        } else {
            out += char(((byte & 0x03) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F));
            ++i;
        }
    }
    return out;
}

bool FromChars(std::string_view text, auto& number) {
    const auto [rest, failure] = std::from_chars(text.data(), text.data() + text.size(), number);
    return failure == std::errc() && rest == text.data() + text.size();
}

} // namespace

std::optional<Query> ListQuery(const RecordFilter& filter, int schemaVersion, std::string& error) {
    Query query;
    query.Sql = std::string("SELECT ") + (filter.Limit ? "id, " : "") + Columns + ", " +
                LabelSelection(schemaVersion) + ", " + Mark(schemaVersion) +
                " FROM production_record";
    if (!AddConditions(filter, query, error)) return std::nullopt;
    if (!filter.Limit) {
        query.Sql += " ORDER BY id";
        return query;
    }
    // The newest that many, still oldest first.
    query.Sql = std::string("SELECT ") + Columns + ", " + LabelColumns +
                ", texts_utf8, in_progress FROM (" + query.Sql + " ORDER BY id DESC LIMIT " +
                std::to_string(*filter.Limit) + ") AS newest ORDER BY id";
    return query;
}

std::optional<Query> SummaryQuery(const RecordFilter& filter, int schemaVersion,
                                  std::string& error) {
    Query query;
    query.Sql = "SELECT substr(time, 1, 10), station, " +
                std::string(schemaVersion >= 2 ? "texts_utf8" : "NULL AS texts_utf8") +
                ", sum(CASE WHEN result = 'PASS' THEN 1 ELSE 0 END), "
                "sum(CASE WHEN result = 'FAIL' THEN 1 ELSE 0 END), min(time), max(time) "
                "FROM production_record";
    if (!AddConditions(filter, query, error)) return std::nullopt;
    query.Sql += " AND operation = 'program' GROUP BY 1, 2, 3 ORDER BY 1, 2";
    return query;
}

Record RecordFromRow(const RowColumn& column) {
    // The 16 columns listed, then the texts' mark and the attempt's.
    constexpr int TextsMark = 16, AttemptMark = 17;
    const bool older = !column(TextsMark).has_value();
    auto text = [&](int i) { return StoredText(column(i).value_or(""), older); };
    Record record;
    record.Time = text(0);
    record.Station = text(1);
    record.Operation = text(2);
    if (!FromChars(column(3).value_or(""), record.DriverIndex)) record.DriverIndex = -1;
    record.Model = text(4);
    record.Eeprom = text(5);
    record.SerialNumber = text(6);
    record.Outcome = column(AttemptMark).value_or("").empty()
                         ? ParseResult(column(7).value_or("")).value_or(Result::Fail)
                         : Result::Interrupted;
    record.Reason = text(8);
    record.TemplateFile = text(9);
    record.TemplateSha256 = text(10);
    record.ImageSha256 = text(11);
    record.Label.State = ParseLabelState(column(12).value_or(""));
    record.Label.Detail = text(13);
    record.LabelFields = text(14);
    record.Label.Layout = text(15);
    return record;
}

void AddSummaryRow(const RowColumn& column, std::vector<DaySummary>& days) {
    DaySummary day;
    const bool older = !column(2).has_value();
    day.Day = StoredText(column(0).value_or(""), false);
    day.Station = StoredText(column(1).value_or(""), older);
    FromChars(column(3).value_or("0"), day.Passed);
    FromChars(column(4).value_or("0"), day.Failed);
    day.First = StoredText(column(5).value_or(""), false);
    day.Last = StoredText(column(6).value_or(""), false);
    // Rows come by day and stored station; the same typed station from older and newer
    // stations is one line.
    for (auto it = days.rbegin(); it != days.rend() && it->Day == day.Day; ++it) {
        if (it->Station != day.Station) continue;
        it->Passed += day.Passed;
        it->Failed += day.Failed;
        it->First = std::min(it->First, day.First);
        it->Last = std::max(it->Last, day.Last);
        return;
    }
    days.push_back(std::move(day));
}

std::string StoredText(std::string_view stored, bool olderStation) {
    bool nonAscii = false, beyondLatin1 = false;
    if (!ValidUtf8(stored, nonAscii, beyondLatin1)) return Repaired(stored);
    if (!olderStation || !nonAscii || beyondLatin1) return std::string(stored);
    // An older station's row: each character was one byte it had. Bytes that make UTF-8
    // were a typed name; others were a chip's Latin-1 text, already right.
    std::string bytes = Utf8ToLatin1(stored);
    bool bytesNonAscii = false;
    if (ValidUtf8(bytes, bytesNonAscii, beyondLatin1)) return bytes;
    return std::string(stored);
}

const char* ResultName(Result result) {
    switch (result) {
    case Result::Pass:
        return "PASS";
    case Result::Interrupted:
        return "INTERRUPTED";
    case Result::Fail:
        break;
    }
    return "FAIL";
}

std::optional<Result> ParseResult(std::string_view name) {
    if (name == "PASS") return Result::Pass;
    if (name == "FAIL") return Result::Fail;
    if (name == "INTERRUPTED") return Result::Interrupted;
    return std::nullopt;
}

// A series' numbers live in a signed 64-bit column: 18 digits always fit.
constexpr int MaxSeriesDigits = 18;
constexpr std::size_t MaxSeriesPrefix = 64;

std::optional<std::uint64_t> SeriesLimit(const SeriesKey& series, std::uint64_t start,
                                         std::string& error) {
    if (series.Digits < 1 || series.Digits > MaxSeriesDigits) {
        error = "a serial series has 1 to " + std::to_string(MaxSeriesDigits) + " digits, not " +
                std::to_string(series.Digits);
        return std::nullopt;
    }
    if (series.Prefix.size() > MaxSeriesPrefix) {
        error = "a serial series' prefix has at most " + std::to_string(MaxSeriesPrefix) +
                " characters";
        return std::nullopt;
    }
    std::uint64_t limit = 1;
    for (int i = 0; i < series.Digits; ++i)
        limit *= 10;
    --limit;
    if (start > limit) {
        error = "serial series " + series.Prefix + " cannot start at " + std::to_string(start) +
                ": it has " + std::to_string(series.Digits) + " digits";
        return std::nullopt;
    }
    return limit;
}

std::optional<std::string> SinceBound(std::string_view since, std::string& error) {
    if (common::IsUtcTimeStamp(since)) return std::string(since);
    const std::string midnight = std::string(since) + "T00:00:00Z";
    if (since.size() == 10 && common::IsUtcTimeStamp(midnight)) return midnight;
    error = "\"" + std::string(since) +
            "\" is not a UTC time (YYYY-MM-DDTHH:MM:SSZ) or a date (YYYY-MM-DD)";
    return std::nullopt;
}

namespace {

// Whether this build may write a database at `version`: a newer schema says which is the
// oldest schema whose programs may still write it.
bool MayWrite(SchemaConnection& connection, std::int64_t version, int newest,
              const std::string& where, std::string& error) {
    std::string ignored;
    std::int64_t oldest =
        connection.QueryNumber("SELECT max(oldest_writer) FROM schema_version", ignored)
            .value_or(0);
    if (oldest == 0) oldest = version;
    if (oldest <= newest) return true;
    error = where + " has schema version " + std::to_string(version) +
            ", which only Burnwise writing schema version " + std::to_string(oldest) +
            " or newer may write; this Burnwise writes schema version " + std::to_string(newest) +
            " - install a newer Burnwise on this station";
    return false;
}

} // namespace

std::optional<int> PrepareSchema(SchemaConnection& connection, const std::vector<SchemaStep>& steps,
                                 OpenMode mode, const std::string& where, std::string& error) {
    const int newest = steps.empty() ? 0 : steps.back().Version;
    const int oldestWriter = steps.empty() ? 0 : steps.back().OldestWriter;
    auto noRecords = [&](const std::vector<std::string>& tables) {
        error = where + (tables.empty() ? " holds no Burnwise records"
                                        : " holds other tables and no Burnwise records");
        return std::nullopt;
    };
    if (mode == OpenMode::Read) {
        // Read as it is, whatever its version: the listing names its columns.
        const auto tables = connection.TableNames(error);
        if (!tables) return std::nullopt;
        if (std::find(tables->begin(), tables->end(), "schema_version") == tables->end())
            return noRecords(*tables);
        const auto version =
            connection.QueryNumber("SELECT max(version) FROM schema_version", error);
        if (!version) return std::nullopt;
        return int(*version);
    }

    // The common case, an up-to-date database, costs one read and no write lock.
    std::string ignored;
    if (const auto version =
            connection.QueryNumber("SELECT max(version) FROM schema_version", ignored);
        version && *version >= newest) {
        if (!MayWrite(connection, *version, newest, where, error)) return std::nullopt;
        return int(*version);
    }

    if (!connection.BeginMigration(error)) return std::nullopt;
    auto fail = [&](const std::string& message) -> std::optional<int> {
        error = message;
        std::string rollbackError;
        connection.Execute("ROLLBACK", rollbackError);
        return std::nullopt;
    };
    const auto tables = connection.TableNames(error);
    if (!tables) return fail(error);
    if (std::find(tables->begin(), tables->end(), "schema_version") == tables->end() &&
        (!tables->empty() || mode != OpenMode::Create)) {
        noRecords(*tables);
        return fail(error);
    }
    if (!connection.Execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)",
                            error))
        return fail(error);
    const auto version = connection.QueryNumber("SELECT max(version) FROM schema_version", error);
    if (!version) return fail(error);
    if (*version >= newest) {
        // Another station migrated it meanwhile.
        const bool may = MayWrite(connection, *version, newest, where, error);
        std::string rollbackError;
        connection.Execute("ROLLBACK", rollbackError);
        if (!may) return std::nullopt;
        return int(*version);
    }
    for (const auto& step : steps) {
        if (step.Version <= *version) continue;
        for (const auto& statement : step.Statements)
            if (!connection.Execute(statement, error))
                return fail("cannot bring the schema to version " + std::to_string(step.Version) +
                            ": " + error);
    }
    if (!connection.Execute("DELETE FROM schema_version", error) ||
        !connection.Execute("INSERT INTO schema_version (version, oldest_writer) VALUES (" +
                                std::to_string(newest) + ", " + std::to_string(oldestWriter) + ")",
                            error) ||
        !connection.Execute("COMMIT", error))
        return fail(error);
    return newest;
}

} // namespace burnwise::records::internal
