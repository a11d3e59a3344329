#include "burnwise/records/StoreInternals.h"

#include <algorithm>

namespace burnwise::records::internal {

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

bool MigrateSchema(SchemaConnection& connection, const std::vector<SchemaStep>& steps,
                   const std::string& where, std::string& error) {
    const int newest = steps.empty() ? 0 : steps.back().Version;
    // The common case, an up-to-date database, costs one read and no write lock.
    std::string ignored;
    if (const auto version =
            connection.QueryNumber("SELECT max(version) FROM schema_version", ignored);
        version && *version == newest)
        return true;

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
                return fail("cannot bring " + where + " to schema " + std::to_string(step.Version) +
                            ": " + error);
    }
    if (!connection.Execute("DELETE FROM schema_version", error) ||
        !connection.Execute("INSERT INTO schema_version (version) VALUES (" +
                                std::to_string(newest) + ")",
                            error) ||
        !connection.Execute("COMMIT", error))
        return fail(error);
    return true;
}

} // namespace burnwise::records::internal
