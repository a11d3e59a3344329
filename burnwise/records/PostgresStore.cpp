#include "burnwise/records/StoreInternals.h"
#include "common/UtcTime.h"

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <libpq-fe.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <thread>
#include <vector>

namespace burnwise::records::internal {

namespace {

// Two stations opening a fresh database at once migrate it one after the other.
constexpr const char* MigrationLock = "SELECT pg_advisory_xact_lock(7310541)";
// A listing is fetched this many rows at a time, so that a million records never sit in
// memory at once.
constexpr int FetchRows = 5000;
// A statement's answer is waited for this long, past the server's own statement_timeout,
// so that a server that still runs says why first.
constexpr std::chrono::milliseconds ClientTimeout{20000};
// A sound server answers well within this; a stop asked for while a statement waits longer
// gives the statement up.
constexpr std::chrono::milliseconds StopGrace{300};

// Connects as PQconnectdbParams does (each host tried in turn within its connect_timeout),
// on a thread of its own, so that a stop is taken while a stalled server holds the
// connection: the caller then gets nothing, and the thread closes whatever it gets later.
PGconn* Connect(const char* const* keys, const char* const* values) {
    struct Attempt {
        std::vector<std::string> Keys, Values;
        std::mutex Lock;
        PGconn* Conn = nullptr;
        bool Done = false, Abandoned = false;
        std::condition_variable Ended;
    };
    auto attempt = std::make_shared<Attempt>();
    for (int i = 0; keys[i]; ++i) {
        attempt->Keys.emplace_back(keys[i]);
        attempt->Values.emplace_back(values[i]);
    }
    std::thread([attempt] {
        std::vector<const char*> k, v;
        for (std::size_t i = 0; i < attempt->Keys.size(); ++i) {
            k.push_back(attempt->Keys[i].c_str());
            v.push_back(attempt->Values[i].c_str());
        }
        k.push_back(nullptr);
        v.push_back(nullptr);
        PGconn* conn = PQconnectdbParams(k.data(), v.data(), 1);
        const std::lock_guard<std::mutex> lock(attempt->Lock);
        if (attempt->Abandoned) {
            PQfinish(conn);
            return;
        }
        attempt->Conn = conn;
        attempt->Done = true;
        attempt->Ended.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(attempt->Lock);
    const auto start = std::chrono::steady_clock::now();
    while (!attempt->Ended.wait_for(lock, std::chrono::milliseconds(50),
                                    [&] { return attempt->Done; })) {
        if (std::chrono::steady_clock::now() - start >= StopGrace && StopRequested()) {
            attempt->Abandoned = true;
            return nullptr;
        }
    }
    return attempt->Conn;
}

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

// The server and database for messages, as a URI without a password:
// postgresql://line@db1/production.
std::string Label(const char* user, const char* host, const char* port, const char* database) {
    std::string label = "postgresql://";
    if (user && *user) label += std::string(user) + "@";
    const std::string hosts = host ? host : "";
    if (hosts.find(':') != std::string::npos && hosts.find(',') == std::string::npos)
        label += "[" + hosts + "]";
    else
        for (const char c : hosts)
            label += c == '/' ? std::string("%2F") : std::string(1, c);
    if (port && *port && std::strcmp(port, "5432") != 0) label += ":" + std::string(port);
    return label + "/" + (database ? database : "");
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
    ~PostgresStore() override {
        if (held_) {
            std::string ignored;
            Execute("ROLLBACK", ignored);
        }
        PQfinish(conn_);
    }

    bool Open(const std::string& conninfo, OpenMode mode, std::string& error) {
        char* parseError = nullptr;
        PQconninfoOption* parsed = PQconninfoParse(conninfo.c_str(), &parseError);
        if (!parsed) {
            error = "\"" + MaskPassword(conninfo) + "\" is no PostgreSQL connection string: " +
                    OneLine(parseError ? parseError : "out of memory");
            PQfreemem(parseError);
            return false;
        }
        const char *user = nullptr, *host = nullptr, *port = nullptr, *database = nullptr;
        for (const PQconninfoOption* option = parsed; option->keyword; ++option) {
            const std::string_view keyword = option->keyword;
            if (keyword == "user") user = option->val;
            if (keyword == "host" || (keyword == "hostaddr" && !host)) host = option->val;
            if (keyword == "port") port = option->val;
            if (keyword == "dbname") database = option->val;
        }
        where_ = Label(user, host, port, database);
        PQconninfoFree(parsed);

        // Give up on an unreachable server, and on a connection that goes silent, within
        // seconds rather than the system's minutes, unless the connection string says
        // otherwise: its own settings come after these. The database holds UTF-8, as our
        // texts are; that comes last.
        const char* keys[] = {"connect_timeout",
                              "fallback_application_name",
                              "keepalives",
                              "keepalives_idle",
                              "keepalives_interval",
                              "keepalives_count",
                              "tcp_user_timeout",
                              "options",
                              "dbname",
                              "client_encoding",
                              nullptr};
        const char* values[] = {"5",
                                "burnwise",
                                "1",
                                "5",
                                "2",
                                "2",
                                "5000",
                                "-c statement_timeout=15000",
                                conninfo.c_str(),
                                "UTF8",
                                nullptr};
        conn_ = Connect(keys, values);
        if (!conn_)
            return Fail(StopRequested() ? "cannot connect: stopped" : "out of memory", error);
        if (PQstatus(conn_) != CONNECTION_OK)
            return Fail("cannot connect: " + OneLine(PQerrorMessage(conn_)), error);
        where_ = Label(PQuser(conn_), PQhost(conn_), PQport(conn_), PQdb(conn_));
        PQsetNoticeProcessor(
            conn_, [](void*, const char*) {}, nullptr);
        const auto version =
            PrepareSchema(*this, SchemaSteps("id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY"),
                          mode, where_, error);
        if (!version) return false;
        version_ = *version;
        if (mode == OpenMode::Read) return true;
        // Prepared once, so that each operation is a single round trip.
        writable_ = Prepare("reserve", ReserveStatement, error) &&
                    Prepare("append", AppendStatement, error) &&
                    Prepare("set_label", SetLabelStatement, error) &&
                    Prepare("attempt", AttemptStatement, error) &&
                    Prepare("complete", CompleteStatement, error) &&
                    Prepare("complete_interrupted", CompleteInterruptedStatement, error);
        return writable_;
    }

    std::optional<std::uint64_t> ReserveForAttempt(const SeriesKey& series, std::uint64_t start,
                                                   std::string& error) override {
        if (!writable_) {
            Fail("opened for reading only", error);
            return std::nullopt;
        }
        if (!held_ && !Execute("BEGIN", error)) return std::nullopt;
        held_ = true;
        std::optional<std::uint64_t> number = Reserve(series, start, error);
        if (!number) {
            held_ = false;
            std::string ignored;
            Execute("ROLLBACK", ignored);
        }
        return number;
    }

    std::optional<AttemptStart> StartAttempt(const Record& attempt, std::string& error) override {
        AttemptStart start;
        const bool ok = WriteRecord("attempt", attempt, {}, error, [&](PGresult* rows) {
            if (PQntuples(rows) != 1 || !ParseNumber(PQgetvalue(rows, 0, 0), start.Id))
                return Fail("the attempt returned no row", error);
            if (!PQgetisnull(rows, 0, 1)) start.PassedAt = PQgetvalue(rows, 0, 1);
            return true;
        });
        if (!ok) return std::nullopt;
        return start;
    }

    bool CompleteAttempt(std::int64_t id, const Record& record, std::string& error) override {
        return WriteRecord("complete", record, std::to_string(id), error, [&](PGresult* result) {
            if (std::string_view(PQcmdTuples(result)) == "1") return true;
            return Fail("no attempt " + std::to_string(id) + " to complete", error);
        });
    }

    std::optional<int> CompleteInterrupted(const Record& outcome, std::string& error) override {
        if (!writable_) {
            Fail("opened for reading only", error);
            return std::nullopt;
        }
        Settle();
        const char* values[] = {outcome.Outcome == Result::Pass ? "PASS" : "FAIL",
                                outcome.Reason.c_str(), outcome.ImageSha256.c_str(),
                                outcome.SerialNumber.c_str(), outcome.Station.c_str()};
        const QueryResult result(Await(
            PQsendQueryPrepared(conn_, "complete_interrupted", 5, values, nullptr, nullptr, 0)));
        if (!result.Is(PGRES_COMMAND_OK)) {
            Fail(ResultError(*result), error);
            return std::nullopt;
        }
        int count = 0;
        ParseNumber(PQcmdTuples(*result), count);
        return count;
    }

    bool Append(const Record& record, std::string& error) override {
        return WriteRecord("append", record, {}, error, [](PGresult*) { return true; });
    }

    bool SetLabel(const Record& record, const LabelStatus& label, std::string& error) override {
        if (!writable_) return Fail("opened for reading only", error);
        Settle();
        const std::string state = LabelStateColumn(label.State);
        const char* values[] = {state.c_str(),          label.Detail.c_str(),
                                label.Layout.c_str(),   record.SerialNumber.c_str(),
                                record.Station.c_str(), record.Time.c_str()};
        const QueryResult result(
            Await(PQsendQueryPrepared(conn_, "set_label", 6, values, nullptr, nullptr, 0)));
        if (!result.Is(PGRES_COMMAND_OK)) return Fail(ResultError(*result), error);
        if (std::string_view(PQcmdTuples(*result)) == "1") return true;
        return Fail("no PASS record of " + record.SerialNumber + " at " + record.Time, error);
    }

    std::optional<std::uint64_t> Reserve(const SeriesKey& series, std::uint64_t start,
                                         std::string& error) override {
        if (!writable_) {
            Fail("opened for reading only", error);
            return std::nullopt;
        }
        const auto limit = SeriesLimit(series, start, error);
        if (!limit) return std::nullopt;
        const std::string prefix = Latin1ToUtf8(series.Prefix);
        const std::string digits = std::to_string(series.Digits);
        const std::string first = std::to_string(start);
        const std::string last = std::to_string(*limit);
        const char* values[] = {prefix.c_str(), digits.c_str(), first.c_str(), last.c_str()};
        const QueryResult result(
            Await(PQsendQueryPrepared(conn_, "reserve", 4, values, nullptr, nullptr, 0)));
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

    std::optional<bool> PassedWithImage(const std::string& serialNumber,
                                        const std::string& imageSha256,
                                        std::string& error) override {
        const char* values[] = {serialNumber.c_str(), imageSha256.c_str()};
        const QueryResult result(Await(PQsendQueryParams(conn_, PassedImageStatement, 2, nullptr,
                                                         values, nullptr, nullptr, 0)));
        if (!result.Is(PGRES_TUPLES_OK)) {
            Fail(ResultError(*result), error);
            return std::nullopt;
        }
        return PQntuples(*result) > 0;
    }

    std::optional<std::uint64_t> PeekSeries(const SeriesKey& series, std::uint64_t start,
                                            std::string& error) override {
        const auto limit = SeriesLimit(series, start, error);
        if (!limit) return std::nullopt;
        const std::string prefix = Latin1ToUtf8(series.Prefix);
        const std::string digits = std::to_string(series.Digits);
        const char* values[] = {prefix.c_str(), digits.c_str()};
        const QueryResult result(Await(
            PQsendQueryParams(conn_, PeekStatement, 2, nullptr, values, nullptr, nullptr, 0)));
        if (!result.Is(PGRES_TUPLES_OK)) {
            Fail(ResultError(*result), error);
            return std::nullopt;
        }
        std::uint64_t next = start;
        if (PQntuples(*result) == 1 && !ParseNumber(PQgetvalue(*result, 0, 0), next)) {
            Fail("the series returned no number", error);
            return std::nullopt;
        }
        if (next > *limit) {
            error = "serial series " + series.Prefix + " with " + std::to_string(series.Digits) +
                    " digits has run out";
            return std::nullopt;
        }
        return next;
    }

    bool Each(const RecordFilter& filter, const std::function<bool(const Record&)>& visit,
              std::string& error) override {
        const auto query = ListQuery(filter, version_, error);
        if (!query) return false;
        // A cursor hands the rows over a batch at a time, inside a transaction of its own.
        if (!Execute("BEGIN READ ONLY", error)) return false;
        bool ok = Run("DECLARE history NO SCROLL CURSOR FOR " + query->Sql, query->Values,
                      PGRES_COMMAND_OK, error, [](PGresult*) { return true; });
        bool more = ok;
        while (more) {
            more = false;
            ok = Run("FETCH FORWARD " + std::to_string(FetchRows) + " FROM history", {},
                     PGRES_TUPLES_OK, error, [&](PGresult* rows) {
                         const int count = PQntuples(rows);
                         for (int row = 0; row < count; ++row)
                             if (!visit(RecordFromRow([&](int i) { return Column(rows, row, i); })))
                                 return true;
                         more = count == FetchRows;
                         return true;
                     });
            more = more && ok;
        }
        std::string ignored;
        Execute(ok ? "COMMIT" : "ROLLBACK", ok ? error : ignored);
        return ok;
    }

    std::optional<std::vector<DaySummary>> Summarize(const RecordFilter& filter,
                                                     std::string& error) override {
        const auto query = SummaryQuery(filter, version_, error);
        if (!query) return std::nullopt;
        std::vector<DaySummary> days;
        if (!Run(query->Sql, query->Values, PGRES_TUPLES_OK, error, [&](PGresult* rows) {
                for (int row = 0; row < PQntuples(rows); ++row)
                    AddSummaryRow([&](int i) { return Column(rows, row, i); }, days);
                return true;
            }))
            return std::nullopt;
        return days;
    }

    std::string Where() const override { return where_; }
    bool Lost() const override { return !abandoned_.empty() || PQstatus(conn_) != CONNECTION_OK; }

    bool BeginMigration(std::string& error) override {
        return Execute("BEGIN", error) && Execute(MigrationLock, error);
    }

    bool Execute(const std::string& sql, std::string& error) override {
        const QueryResult result(Await(PQsendQuery(conn_, sql.c_str())));
        if (result.Is(PGRES_COMMAND_OK) || result.Is(PGRES_TUPLES_OK)) return true;
        return Fail(ResultError(*result), error);
    }

    std::optional<std::int64_t> QueryNumber(const std::string& sql, std::string& error) override {
        const QueryResult result(Await(PQsendQuery(conn_, sql.c_str())));
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
        const QueryResult result(Await(
            PQsendQuery(conn_, "SELECT table_name FROM information_schema.tables WHERE "
                               "table_schema = current_schema() AND table_type = 'BASE TABLE'")));
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
    // Runs the prepared statement `name` on the record's columns (and `id` after them when
    // given), committing a number held for it; `take` judges its result.
    template <typename Take>
    bool WriteRecord(const char* name, const Record& record, const std::string& id,
                     std::string& error, Take take) {
        if (!writable_) return Fail("opened for reading only", error);
        if (!common::IsUtcTimeStamp(record.Time)) return Fail("a record needs a UTC time", error);
        const auto texts = RecordColumns(record);
        std::vector<const char*> values;
        for (const std::string& text : texts)
            values.push_back(text.c_str());
        if (!id.empty()) values.push_back(id.c_str());
        const QueryResult result(Await(PQsendQueryPrepared(conn_, name, int(values.size()),
                                                           values.data(), nullptr, nullptr, 0)));
        const bool ran = result.Is(PGRES_COMMAND_OK) || result.Is(PGRES_TUPLES_OK);
        if (!ran) Fail(ResultError(*result), error);
        const bool ok = ran && take(*result);
        if (!held_) return ok;
        held_ = false;
        std::string commitError;
        if (ok && Execute("COMMIT", commitError)) return true;
        std::string ignored;
        Execute("ROLLBACK", ignored);
        if (ok) error = commitError;
        return false;
    }

    // A write other than a record's commits a number held for an attempt first.
    void Settle() {
        if (!held_) return;
        held_ = false;
        std::string ignored;
        Execute("COMMIT", ignored);
    }

    static std::optional<std::string_view> Column(PGresult* rows, int row, int column) {
        if (PQgetisnull(rows, row, column)) return std::nullopt;
        return std::string_view(PQgetvalue(rows, row, column),
                                std::size_t(PQgetlength(rows, row, column)));
    }

    // Runs `sql` with `values`, giving its result to `take` when it has `status`.
    template <typename Take>
    bool Run(const std::string& sql, const std::vector<std::string>& values, ExecStatusType status,
             std::string& error, Take take) {
        std::vector<const char*> pointers;
        for (const auto& value : values)
            pointers.push_back(value.c_str());
        const QueryResult result(
            Await(PQsendQueryParams(conn_, sql.c_str(), int(values.size()), nullptr,
                                    pointers.data(), nullptr, nullptr, 0)));
        if (!result.Is(status)) return Fail(ResultError(*result), error);
        return take(*result);
    }

    bool Prepare(const char* name, const char* sql, std::string& error) {
        const QueryResult result(Await(PQsendPrepare(conn_, name, sql, 0, nullptr)));
        if (!result.Is(PGRES_COMMAND_OK)) return Fail(ResultError(*result), error);
        return true;
    }

    std::string ResultError(PGresult* result) const {
        if (!result && !abandoned_.empty()) return abandoned_;
        const char* message = result ? PQresultErrorMessage(result) : "";
        return OneLine(message && *message ? message : PQerrorMessage(conn_));
    }

    bool Fail(const std::string& message, std::string& error) const {
        error = where_ + ": " + message;
        return false;
    }

    // libpq's own calls wait for an answer however long it takes, and a stalled server (a
    // stopped process, a hung disk) still has its socket answered by the system, so no
    // keepalive notices. Each statement is sent and its answer awaited here instead: given
    // up after ClientTimeout (past the server's own statement time-out), or once a stop is
    // asked for after StopGrace, leaving the connection lost. The result as PQexec gives
    // it: the last one, or the first error.
    PGresult* Await(int sent) {
        if (!sent) return nullptr;
        const auto start = std::chrono::steady_clock::now();
        PGresult* kept = nullptr;
        for (;;) {
            const int flushed = PQflush(conn_);
            if (flushed < 0) break;
            if (flushed == 0 && !PQconsumeInput(conn_)) break;
            if (flushed == 0 && !PQisBusy(conn_)) {
                PGresult* next = PQgetResult(conn_);
                if (!next) return kept;
                if (kept && PQresultStatus(kept) == PGRES_FATAL_ERROR) {
                    PQclear(next);
                } else {
                    PQclear(kept);
                    kept = next;
                }
                continue;
            }
            const auto waited = std::chrono::steady_clock::now() - start;
            const bool stop = waited >= StopGrace && StopRequested();
            if (waited >= ClientTimeout || stop) {
                abandoned_ = stop ? "given up waiting for the server: the run is stopping"
                                  : "no answer from the server within " +
                                        std::to_string(ClientTimeout.count() / 1000) + " s";
                break;
            }
            pollfd socket{PQsocket(conn_), short(POLLIN | (flushed == 1 ? POLLOUT : 0)), 0};
            ::poll(&socket, 1, 100);
        }
        PQclear(kept);
        return nullptr;
    }

    std::string where_;
    std::string abandoned_; // why a statement was given up: the connection is lost
    PGconn* conn_ = nullptr;
    int version_ = 0;
    bool writable_ = false;
    bool held_ = false; // a transaction is open for the attempt of a reserved number
};

} // namespace

std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& conninfo, OpenMode mode,
                                               std::string& error) {
    auto store = std::make_unique<PostgresStore>();
    if (!store->Open(conninfo, mode, error)) return nullptr;
    return store;
}

} // namespace burnwise::records::internal
