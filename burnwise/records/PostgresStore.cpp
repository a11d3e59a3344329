#include "burnwise/records/StoreInternals.h"

#include <charconv>
#include <cstring>
#include <libpq-fe.h>

namespace burnwise::records::internal {

namespace {

// Two stations opening a fresh database at once migrate it one after the other.
constexpr const char* MigrationLock = "SELECT pg_advisory_xact_lock(7310541)";

// libpq's messages end in a newline and may run over lines.
std::string OneLine(const char* message) {
    std::string line;
    for (const char* c = message ? message : ""; *c; ++c) {
        if (*c != '\n') {
            line += *c;
            continue;
        }
        while (c[1] == ' ' || c[1] == '\t')
            ++c;
        if (c[1]) line += "; ";
    }
    return line.empty() ? "unknown error" : line;
}

template <typename Number>
bool ParseNumber(const char* text, Number& number) {
    const char* end = text + std::strlen(text);
    const auto [rest, failure] = std::from_chars(text, end, number);
    return failure == std::errc() && rest == end;
}

class QueryResult {
public:
    explicit QueryResult(PGresult* result) : result_(result) {}
    QueryResult(const QueryResult&) = delete;
    QueryResult& operator=(const QueryResult&) = delete;
    ~QueryResult() { PQclear(result_); }
    PGresult* operator*() const { return result_; }
    bool Is(ExecStatusType status) const { return PQresultStatus(result_) == status; }

private:
    PGresult* result_;
};

class PostgresStore final : public RecordStore, public SchemaConnection {
public:
    explicit PostgresStore(std::string where) : where_(std::move(where)) {}
    ~PostgresStore() override { PQfinish(conn_); }

    bool Open(const std::string& user, const std::string& host, const std::string& port,
              const std::string& database, std::string& error) {
        // Give up on an unreachable server, and on a connection that goes silent, within
        // seconds rather than the system's minutes. The database holds UTF-8; our texts are
        // Latin-1, which the server converts both ways.
        const char* keys[] = {"host",
                              "port",
                              "user",
                              "dbname",
                              "connect_timeout",
                              "client_encoding",
                              "application_name",
                              "keepalives",
                              "keepalives_idle",
                              "keepalives_interval",
                              "keepalives_count",
                              "tcp_user_timeout",
                              "options",
                              nullptr};
        const char* values[] = {host.c_str(),
                                port.c_str(),
                                user.c_str(),
                                database.c_str(),
                                "5",
                                "LATIN1",
                                "burnwise",
                                "1",
                                "5",
                                "2",
                                "2",
                                "5000",
                                "-c statement_timeout=15000",
                                nullptr};
        conn_ = PQconnectdbParams(keys, values, 0);
        if (!conn_) return Fail("out of memory", error);
        if (PQstatus(conn_) != CONNECTION_OK)
            return Fail("cannot connect: " + OneLine(PQerrorMessage(conn_)), error);
        PQsetNoticeProcessor(
            conn_, [](void*, const char*) {}, nullptr);
        if (!MigrateSchema(*this, SchemaSteps("id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY"),
                           where_, error))
            return false;
        // Prepared once, so that each operation is a single round trip.
        return Prepare("reserve", ReserveStatement, error) &&
               Prepare("append", AppendStatement, error) &&
               Prepare("set_label", SetLabelStatement, error);
    }

    bool Append(const Record& record, std::string& error) override {
        if (!IsUtcTime(record.Time)) return Fail("a record needs a UTC time", error);
        const auto texts = RecordColumns(record);
        std::array<const char*, std::tuple_size_v<decltype(texts)>> values{};
        for (std::size_t i = 0; i < texts.size(); ++i)
            values[i] = texts[i].c_str();
        const QueryResult result(PQexecPrepared(conn_, "append", int(values.size()), values.data(),
                                                nullptr, nullptr, 0));
        if (!result.Is(PGRES_COMMAND_OK)) return Fail(ResultError(*result), error);
        return true;
    }

    bool SetLabel(const Record& record, const LabelStatus& label, std::string& error) override {
        const std::string state = LabelStateColumn(label.State);
        const char* values[] = {state.c_str(),          label.Detail.c_str(),
                                label.Layout.c_str(),   record.SerialNumber.c_str(),
                                record.Station.c_str(), record.Time.c_str()};
        const QueryResult result(
            PQexecPrepared(conn_, "set_label", 6, values, nullptr, nullptr, 0));
        if (!result.Is(PGRES_COMMAND_OK)) return Fail(ResultError(*result), error);
        if (std::string_view(PQcmdTuples(*result)) == "1") return true;
        return Fail("no PASS record of " + record.SerialNumber + " at " + record.Time, error);
    }

    std::optional<std::uint64_t> Reserve(const SeriesKey& series, std::uint64_t start,
                                         std::string& error) override {
        const auto limit = SeriesLimit(series, start, error);
        if (!limit) return std::nullopt;
        const std::string digits = std::to_string(series.Digits);
        const std::string first = std::to_string(start);
        const std::string last = std::to_string(*limit);
        const char* values[] = {series.Prefix.c_str(), digits.c_str(), first.c_str(), last.c_str()};
        const QueryResult result(PQexecPrepared(conn_, "reserve", 4, values, nullptr, nullptr, 0));
        if (!result.Is(PGRES_TUPLES_OK)) {
            Fail(ResultError(*result), error);
            return std::nullopt;
        }
        if (PQntuples(*result) != 1) {
            error = "serial series " + series.Prefix + " with " + std::to_string(series.Digits) +
                    " digits has run out";
            return std::nullopt;
        }
        std::uint64_t number = 0;
        if (!ParseNumber(PQgetvalue(*result, 0, 0), number)) {
            Fail("the series returned no number", error);
            return std::nullopt;
        }
        return number;
    }

    std::optional<std::vector<Record>> List(const RecordFilter& filter,
                                            std::string& error) override {
        std::vector<std::string> values;
        const auto sql = ListStatement(filter, values, error);
        if (!sql) return std::nullopt;
        std::vector<const char*> pointers;
        for (const auto& value : values)
            pointers.push_back(value.c_str());
        const QueryResult result(PQexecParams(conn_, sql->c_str(), int(values.size()), nullptr,
                                              pointers.data(), nullptr, nullptr, 0));
        if (!result.Is(PGRES_TUPLES_OK)) {
            Fail(ResultError(*result), error);
            return std::nullopt;
        }
        std::vector<Record> records;
        for (int row = 0; row < PQntuples(*result); ++row) {
            records.push_back(
                RecordFromColumns([&](int i) { return std::string(PQgetvalue(*result, row, i)); }));
        }
        return records;
    }

    std::string Where() const override { return where_; }
    bool Lost() const override { return PQstatus(conn_) != CONNECTION_OK; }

    bool BeginMigration(std::string& error) override {
        return Execute("BEGIN", error) && Execute(MigrationLock, error);
    }

    bool Execute(const std::string& sql, std::string& error) override {
        const QueryResult result(PQexec(conn_, sql.c_str()));
        if (result.Is(PGRES_COMMAND_OK) || result.Is(PGRES_TUPLES_OK)) return true;
        return Fail(ResultError(*result), error);
    }

    std::optional<std::int64_t> QueryNumber(const std::string& sql, std::string& error) override {
        const QueryResult result(PQexec(conn_, sql.c_str()));
        if (!result.Is(PGRES_TUPLES_OK)) {
            Fail(ResultError(*result), error);
            return std::nullopt;
        }
        if (PQntuples(*result) == 0 || PQgetisnull(*result, 0, 0)) return 0;
        std::int64_t number = 0;
        if (!ParseNumber(PQgetvalue(*result, 0, 0), number)) {
            Fail("\"" + sql + "\" gave no number", error);
            return std::nullopt;
        }
        return number;
    }

    std::optional<std::vector<std::string>> TableNames(std::string& error) override {
        const QueryResult result(
            PQexec(conn_, "SELECT table_name FROM information_schema.tables WHERE "
                          "table_schema = current_schema() AND table_type = 'BASE TABLE'"));
        if (!result.Is(PGRES_TUPLES_OK)) {
            Fail(ResultError(*result), error);
            return std::nullopt;
        }
        std::vector<std::string> names;
        for (int row = 0; row < PQntuples(*result); ++row)
            names.emplace_back(PQgetvalue(*result, row, 0));
        return names;
    }

private:
    bool Prepare(const char* name, const char* sql, std::string& error) {
        const QueryResult result(PQprepare(conn_, name, sql, 0, nullptr));
        if (!result.Is(PGRES_COMMAND_OK)) return Fail(ResultError(*result), error);
        return true;
    }

    std::string ResultError(PGresult* result) const {
        const char* message = result ? PQresultErrorMessage(result) : "";
        return OneLine(message && *message ? message : PQerrorMessage(conn_));
    }

    bool Fail(const std::string& message, std::string& error) const {
        error = where_ + ": " + message;
        return false;
    }

    std::string where_;
    PGconn* conn_ = nullptr;
};

} // namespace

std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& user, const std::string& host,
                                               const std::string& port, const std::string& database,
                                               std::string& error) {
    auto store = std::make_unique<PostgresStore>("postgresql://" + user + "@" + host + ":" + port +
                                                 "/" + database);
    if (!store->Open(user, host, port, database, error)) return nullptr;
    return store;
}

} // namespace burnwise::records::internal
