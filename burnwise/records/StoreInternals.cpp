#include "burnwise/records/StoreInternals.h"

#include <algorithm>
#include <charconv>

namespace burnwise::records::internal {

std::vector<SchemaStep> SchemaSteps(const std::string& recordKeyColumn) {
    return {
        {1,
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
    };
}

std::vector<SchemaExtension> SchemaExtensions() {
    return {
        {"label",
         {"ALTER TABLE production_record ADD COLUMN label_status TEXT "
          "CHECK (label_status IN ('PRINTED', 'FAILED'))",
          "ALTER TABLE production_record ADD COLUMN label_detail TEXT",
          "ALTER TABLE production_record ADD COLUMN label_fields TEXT",
          "ALTER TABLE production_record ADD COLUMN label_layout TEXT"}},
    };
}

const char* const ReserveStatement =
    "INSERT INTO serial_series (prefix, digits, next_number) "
    "VALUES ($1, CAST($2 AS INTEGER), CAST($3 AS BIGINT) + 1) "
    "ON CONFLICT (prefix, digits) DO UPDATE SET next_number = serial_series.next_number + 1 "
    "WHERE serial_series.next_number <= CAST($4 AS BIGINT) "
    "RETURNING next_number - 1";

const char* const AppendStatement =
    "INSERT INTO production_record (time, station, operation, driver_index, model, eeprom, "
    "serial_number, result, reason, template_file, template_sha256, image_sha256, "
    "label_status, label_detail, label_fields, label_layout) "
    "VALUES ($1, $2, $3, CAST($4 AS INTEGER), $5, $6, $7, $8, $9, $10, $11, $12, "
    "NULLIF($13, ''), NULLIF($14, ''), NULLIF($15, ''), NULLIF($16, ''))";

// The newest PASS record of the serial number at that station and time: a record is
// appended before its label is printed, and a reprint names the record it printed from.
const char* const SetLabelStatement =
    "UPDATE production_record SET label_status = NULLIF($1, ''), label_detail = NULLIF($2, ''), "
    "label_layout = NULLIF($3, '') WHERE id = (SELECT max(id) FROM production_record WHERE "
    "serial_number = $4 AND station = $5 AND time = $6 AND result = 'PASS')";

std::array<std::string, RecordColumnCount> RecordColumns(const Record& record) {
    return {record.Time,
            record.Station,
            record.Operation,
            std::to_string(record.DriverIndex),
            record.Model,
            record.Eeprom,
            record.SerialNumber,
            ResultName(record.Outcome),
            record.Reason,
            record.TemplateFile,
            record.TemplateSha256,
            record.ImageSha256,
            LabelStateColumn(record.Label.State),
            record.Label.Detail,
            record.LabelFields,
            record.Label.Layout};
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

std::optional<std::string> ListStatement(const RecordFilter& filter,
                                         std::vector<std::string>& values, std::string& error) {
    std::string sql = "SELECT time, station, operation, driver_index, model, eeprom, "
                      "serial_number, result, reason, template_file, template_sha256, "
                      "image_sha256, COALESCE(label_status, ''), COALESCE(label_detail, ''), "
                      "COALESCE(label_fields, ''), COALESCE(label_layout, '') "
                      "FROM production_record WHERE 1 = 1";
    auto add = [&](const char* condition, std::string value) {
        values.push_back(std::move(value));
        sql += std::string(" AND ") + condition + std::to_string(values.size());
    };
    if (filter.SerialNumber) add("serial_number = $", *filter.SerialNumber);
    if (filter.Station) add("station = $", *filter.Station);
    if (filter.Since) {
        const auto since = SinceBound(*filter.Since, error);
        if (!since) return std::nullopt;
        add("time >= $", *since);
    }
    return sql + " ORDER BY id";
}

Record RecordFromColumns(const std::function<std::string(int)>& column) {
    Record record;
    record.Time = column(0);
    record.Station = column(1);
    record.Operation = column(2);
    const std::string driverIndex = column(3);
    std::from_chars(driverIndex.data(), driverIndex.data() + driverIndex.size(),
                    record.DriverIndex);
    record.Model = column(4);
    record.Eeprom = column(5);
    record.SerialNumber = column(6);
    record.Outcome = ParseResult(column(7)).value_or(Result::Fail);
    record.Reason = column(8);
    record.TemplateFile = column(9);
    record.TemplateSha256 = column(10);
    record.ImageSha256 = column(11);
    record.Label.State = ParseLabelState(column(12));
    record.Label.Detail = column(13);
    record.LabelFields = column(14);
    record.Label.Layout = column(15);
    return record;
}

std::string Latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += char(0xC0 | (byte >> 6));
            out += char(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

std::string Utf8ToLatin1(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        if (byte >= 0xF0)
            length = 4;
        else if (byte >= 0xE0)
            length = 3;
        else if (byte >= 0xC0)
            length = 2;
        if (byte < 0x80) {
            out += char(byte);
        } else if (length == 2 && i + 1 < text.size() && byte <= 0xC3) {
            out += char(((byte & 0x03) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F));
        } else {
            out += '?';
        }
        i += std::min(length, text.size() - i);
    }
    return out;
}

const char* ResultName(Result result) {
    return result == Result::Pass ? "PASS" : "FAIL";
}

std::optional<Result> ParseResult(std::string_view name) {
    if (name == "PASS") return Result::Pass;
    if (name == "FAIL") return Result::Fail;
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
    if (IsUtcTime(since)) return std::string(since);
    const std::string midnight = std::string(since) + "T00:00:00Z";
    if (since.size() == 10 && IsUtcTime(midnight)) return midnight;
    error = "\"" + std::string(since) +
            "\" is not a UTC time (YYYY-MM-DDTHH:MM:SSZ) or a date (YYYY-MM-DD)";
    return std::nullopt;
}

namespace {

std::string ExtensionList(const std::vector<SchemaExtension>& extensions) {
    std::string list;
    for (const auto& extension : extensions)
        list += (list.empty() ? "'" : ", '") + extension.Name + "'";
    return list;
}

} // namespace

bool MigrateSchema(SchemaConnection& connection, const std::vector<SchemaStep>& steps,
                   const std::string& where, std::string& error) {
    const int newest = steps.empty() ? 0 : steps.back().Version;
    const std::vector<SchemaExtension> extensions = SchemaExtensions();
    const std::string countExtensions =
        "SELECT count(*) FROM schema_extension WHERE name IN (" + ExtensionList(extensions) + ")";
    // The common case, an up-to-date database, costs two reads and no write lock.
    std::string ignored;
    if (const auto version =
            connection.QueryNumber("SELECT max(version) FROM schema_version", ignored);
        version && *version == newest) {
        const auto present = connection.QueryNumber(countExtensions, ignored);
        if (present && *present == std::int64_t(extensions.size())) return true;
    }

    if (!connection.BeginMigration(error)) return false;
    auto fail = [&](const std::string& message) {
        error = message;
        std::string rollbackError;
        connection.Execute("ROLLBACK", rollbackError);
        return false;
    };
    const auto tables = connection.TableNames(error);
    if (!tables) return fail(error);
    if (!tables->empty() &&
        std::find(tables->begin(), tables->end(), "schema_version") == tables->end())
        return fail(where + " holds other tables and no Burnwise records");
    if (!connection.Execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)",
                            error))
        return fail(error);
    const auto version = connection.QueryNumber("SELECT max(version) FROM schema_version", error);
    if (!version) return fail(error);
    if (*version > newest)
        return fail(where + " was written by a newer Burnwise (schema " + std::to_string(*version) +
                    "); this one reads up to " + std::to_string(newest));
    for (const auto& step : steps) {
        if (step.Version <= *version) continue;
        for (const auto& statement : step.Statements)
            if (!connection.Execute(statement, error))
                return fail("cannot bring the schema to version " + std::to_string(step.Version) +
                            ": " + error);
    }
    if (!connection.Execute("DELETE FROM schema_version", error) ||
        !connection.Execute(
            "INSERT INTO schema_version (version) VALUES (" + std::to_string(newest) + ")", error))
        return fail(error);
    // Additions that leave the version as it is, so that stations of an older Burnwise go
    // on using the database: they neither write nor read what was added.
    if (!connection.Execute(
            "CREATE TABLE IF NOT EXISTS schema_extension (name TEXT NOT NULL PRIMARY KEY)", error))
        return fail(error);
    for (const auto& extension : extensions) {
        const auto present = connection.QueryNumber(
            "SELECT count(*) FROM schema_extension WHERE name = '" + extension.Name + "'", error);
        if (!present) return fail(error);
        if (*present) continue;
        for (const auto& statement : extension.Statements)
            if (!connection.Execute(statement, error))
                return fail("cannot add " + extension.Name + " to the schema: " + error);
        if (!connection.Execute(
                "INSERT INTO schema_extension (name) VALUES ('" + extension.Name + "')", error))
            return fail(error);
    }
    if (!connection.Execute("COMMIT", error)) return fail(error);
    return true;
}

} // namespace burnwise::records::internal
