#include "burnwise/records/StoreInternals.h"
#include "common/FileAccess.h"
#include "common/UtcTime.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sqlite3.h>
#include <sys/stat.h>

namespace burnwise::records::internal {

namespace {

// A writer waits this long for another process's transaction to end.
constexpr int BusyTimeoutMs = 10000;
// The check of a file at open stops after this long: a large file is checked as far as
// it gets, so that a station does not wait on it.
constexpr auto QuickCheckTime = std::chrono::seconds(1);

class Statement {
public:
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(stmt_); }
    bool Prepare(sqlite3* db, const std::string& sql) {
        return sqlite3_prepare_v3(db, sql.c_str(), int(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                  &stmt_, nullptr) == SQLITE_OK;
    }
    sqlite3_stmt* operator*() const { return stmt_; }
    bool Prepared() const { return stmt_ != nullptr; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// A file grown past the process's size limit kills it with SIGXFSZ unless the signal is
// ignored; ignored, the write fails and SQLite reports a full disk, which the station says.
void SurviveFileSizeLimit() {
    struct sigaction current {};
    if (sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGXFSZ, SIG_IGN);
}

std::optional<std::string_view> ColumnText(sqlite3_stmt* s, int i) {
    if (sqlite3_column_type(s, i) == SQLITE_NULL) return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
    return std::string_view(text ? text : "", std::size_t(sqlite3_column_bytes(s, i)));
}

class SqliteStore final : public RecordStore, public SchemaConnection {
public:
    explicit SqliteStore(std::string path) : path_(std::move(path)) {}
    // Closed once the statements below are finalized, which close_v2 waits for.
    ~SqliteStore() override {
        GiveBackHeld();
        sqlite3_close_v2(db_);
    }

    bool Open(OpenMode mode, bool create, std::string& error) {
        // A link as the file could lead the records anywhere, and a folder or a device is
        // no database; links among the folders above it are the user's own arrangement.
        struct stat info {};
        if (lstat(path_.c_str(), &info) == 0) {
            if (S_ISLNK(info.st_mode)) return Fail("is a symbolic link", error);
            if (S_ISDIR(info.st_mode)) return Fail("is a folder", error);
            if (!S_ISREG(info.st_mode)) return Fail("is not a regular file", error);
        } else if (!create) {
            // A mistyped name must not start a new series in a new file.
            return Fail(mode == OpenMode::Create
                            ? "no such database - to start a new one there, give sqlite:" + path_
                            : std::string("no such database"),
                        error);
        }
        if (const auto links = common::ExtraHardLinks(path_)) return Fail(*links, error);
        if (mode == OpenMode::Read) return OpenToRead(error);
        SurviveFileSizeLimit();
        if (!OpenFile(SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0), error))
            return false;
        // Write-ahead logging lets readers run beside a writer and makes a commit one append
        // to the log; with full sync that append reaches the disk before the commit returns,
        // so a number once handed out stays handed out even across a power cut.
        if (!Execute("PRAGMA journal_mode = WAL", error) ||
            !Execute("PRAGMA synchronous = FULL", error))
            return false;
        const auto version =
            PrepareSchema(*this, SchemaSteps("id INTEGER PRIMARY KEY"), mode, path_, error);
        if (!version) return false;
        version_ = *version;
        if (!QuickCheck(error)) return false;
        if (!reserve_.Prepare(db_, ReserveStatement) || !append_.Prepare(db_, AppendStatement) ||
            !setLabel_.Prepare(db_, SetLabelStatement) ||
            !attempt_.Prepare(db_, AttemptStatement) ||
            !complete_.Prepare(db_, CompleteStatement) ||
            !completeInterrupted_.Prepare(db_, CompleteInterruptedStatement) ||
            !begin_.Prepare(db_, "BEGIN IMMEDIATE") || !commit_.Prepare(db_, "COMMIT") ||
            !rollback_.Prepare(db_, "ROLLBACK"))
            return Fail(sqlite3_errmsg(db_), error);
        return true;
    }

    bool Append(const Record& record, std::string& error) override {
        if (!append_.Prepared()) return Fail("opened for reading only", error);
        if (!common::IsUtcTimeStamp(record.Time)) return Fail("a record needs a UTC time", error);
        sqlite3_stmt* s = *append_;
        const auto values = RecordColumns(record);
        for (std::size_t i = 0; i < values.size(); ++i)
            BindText(s, int(i + 1), values[i]);
        return WriteOne(s, nullptr, error);
    }

    bool SetLabel(const Record& record, const LabelStatus& label, std::string& error) override {
        if (!setLabel_.Prepared()) return Fail("opened for reading only", error);
        sqlite3_stmt* s = *setLabel_;
        BindText(s, 1, LabelStateColumn(label.State));
        BindText(s, 2, label.Detail);
        BindText(s, 3, label.Layout);
        BindText(s, 4, record.SerialNumber);
        BindText(s, 5, record.Station);
        BindText(s, 6, record.Time);
        if (!WriteOne(s, nullptr, error)) return false;
        if (sqlite3_changes(db_) == 1) return true;
        return Fail("no PASS record of " + record.SerialNumber + " at " + record.Time, error);
    }

    std::optional<std::uint64_t> Reserve(const SeriesKey& series, std::uint64_t start,
                                         std::string& error) override {
        return ReserveNumber(series, start, false, error);
    }

    std::optional<std::uint64_t> ReserveForAttempt(const SeriesKey& series, std::uint64_t start,
                                                   std::string& error) override {
        return ReserveNumber(series, start, true, error);
    }

    std::optional<AttemptStart> StartAttempt(const Record& attempt, std::string& error) override {
        if (!attempt_.Prepared()) return FailNothing("opened for reading only", error);
        if (!common::IsUtcTimeStamp(attempt.Time))
            return FailNothing("a record needs a UTC time", error);
        sqlite3_stmt* s = *attempt_;
        const auto values = RecordColumns(attempt);
        for (std::size_t i = 0; i < values.size(); ++i)
            BindText(s, int(i + 1), values[i]);
        AttemptStart start;
        const bool ok = WriteOne(s, error, [&](sqlite3_stmt* row) {
            start.Id = sqlite3_column_int64(row, 0);
            if (const auto passed = ColumnText(row, 1)) start.PassedAt = std::string(*passed);
        });
        if (!ok) return std::nullopt;
        return start;
    }

    bool CompleteAttempt(std::int64_t id, const Record& record, std::string& error) override {
        if (!complete_.Prepared()) return Fail("opened for reading only", error);
        if (!common::IsUtcTimeStamp(record.Time)) return Fail("a record needs a UTC time", error);
        sqlite3_stmt* s = *complete_;
        const auto values = RecordColumns(record);
        for (std::size_t i = 0; i < values.size(); ++i)
            BindText(s, int(i + 1), values[i]);
        sqlite3_bind_int64(s, int(values.size() + 1), id);
        if (!WriteOne(s, nullptr, error)) return false;
        if (sqlite3_changes(db_) == 1) return true;
        return Fail("no attempt " + std::to_string(id) + " to complete", error);
    }

    std::optional<int> CompleteInterrupted(const Record& outcome, std::string& error) override {
        if (!completeInterrupted_.Prepared()) return FailNothing("opened for reading only", error);
        sqlite3_stmt* s = *completeInterrupted_;
        BindText(s, 1, outcome.Outcome == Result::Pass ? "PASS" : "FAIL");
        BindText(s, 2, outcome.Reason);
        BindText(s, 3, outcome.ImageSha256);
        BindText(s, 4, outcome.SerialNumber);
        BindText(s, 5, outcome.Station);
        if (!WriteOne(s, nullptr, error)) return std::nullopt;
        return sqlite3_changes(db_);
    }

private:
    std::optional<std::uint64_t> ReserveNumber(const SeriesKey& series, std::uint64_t start,
                                               bool hold, std::string& error) {
        if (!reserve_.Prepared()) return FailNothing("opened for reading only", error);
        const auto limit = SeriesLimit(series, start, error);
        if (!limit) return std::nullopt;
        sqlite3_stmt* s = *reserve_;
        BindText(s, 1, Latin1ToUtf8(series.Prefix));
        sqlite3_bind_int(s, 2, series.Digits);
        sqlite3_bind_int64(s, 3, sqlite3_int64(start));
        sqlite3_bind_int64(s, 4, sqlite3_int64(*limit));
        std::optional<std::int64_t> number;
        if (!WriteOne(
                s, error, [&](sqlite3_stmt* row) { number = sqlite3_column_int64(row, 0); }, hold))
            return std::nullopt;
        if (!number) {
            error = "serial series " + series.Prefix + " with " + std::to_string(series.Digits) +
                    " digits has run out";
            return std::nullopt;
        }
        return std::uint64_t(*number);
    }

public:
    std::optional<std::uint64_t> PeekSeries(const SeriesKey& series, std::uint64_t start,
                                            std::string& error) override {
        const auto limit = SeriesLimit(series, start, error);
        if (!limit) return std::nullopt;
        Statement query;
        if (!query.Prepare(db_, PeekStatement)) return FailNothing(sqlite3_errmsg(db_), error);
        BindText(*query, 1, Latin1ToUtf8(series.Prefix));
        sqlite3_bind_int(*query, 2, series.Digits);
        const int rc = sqlite3_step(*query);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return FailNothing(sqlite3_errmsg(db_), error);
        const std::uint64_t next =
            rc == SQLITE_ROW ? std::uint64_t(sqlite3_column_int64(*query, 0)) : start;
        if (next > *limit) {
            error = "serial series " + series.Prefix + " with " + std::to_string(series.Digits) +
                    " digits has run out";
            return std::nullopt;
        }
        return next;
    }

    std::optional<bool> PassedWithImage(const std::string& serialNumber,
                                        const std::string& imageSha256,
                                        std::string& error) override {
        Statement query;
        if (!query.Prepare(db_, PassedImageStatement))
            return FailNothing(sqlite3_errmsg(db_), error);
        BindText(*query, 1, serialNumber);
        BindText(*query, 2, imageSha256);
        const int rc = sqlite3_step(*query);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return FailNothing(sqlite3_errmsg(db_), error);
        return rc == SQLITE_ROW;
    }

    bool Each(const RecordFilter& filter, const std::function<bool(const Record&)>& visit,
              std::string& error) override {
        const auto query = ListQuery(filter, version_, error);
        if (!query) return false;
        return Rows(*query, error, [&](sqlite3_stmt* s) {
            return visit(RecordFromRow([s](int i) { return ColumnText(s, i); }));
        });
    }

    std::optional<std::vector<DaySummary>> Summarize(const RecordFilter& filter,
                                                     std::string& error) override {
        const auto query = SummaryQuery(filter, version_, error);
        if (!query) return std::nullopt;
        std::vector<DaySummary> days;
        if (!Rows(*query, error, [&](sqlite3_stmt* s) {
                AddSummaryRow([s](int i) { return ColumnText(s, i); }, days);
                return true;
            }))
            return std::nullopt;
        return days;
    }

    std::string Where() const override { return path_; }
    bool Lost() const override { return false; }

    bool BeginMigration(std::string& error) override { return Execute("BEGIN IMMEDIATE", error); }

    bool Execute(const std::string& sql, std::string& error) override {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
        error = path_ + ": " + (message ? message : sqlite3_errmsg(db_));
        sqlite3_free(message);
        return false;
    }

    std::optional<std::int64_t> QueryNumber(const std::string& sql, std::string& error) override {
        Statement query;
        if (!query.Prepare(db_, sql)) return FailNothing(sqlite3_errmsg(db_), error);
        const int rc = sqlite3_step(*query);
        if (rc == SQLITE_ROW) return sqlite3_column_int64(*query, 0);
        if (rc == SQLITE_DONE) return 0;
        return FailNothing(sqlite3_errmsg(db_), error);
    }

    std::optional<std::vector<std::string>> TableNames(std::string& error) override {
        Statement query;
        if (!query.Prepare(db_, "SELECT name FROM sqlite_schema WHERE type = 'table'"))
            return FailNothing(sqlite3_errmsg(db_), error);
        std::vector<std::string> names;
        int rc;
        while ((rc = sqlite3_step(*query)) == SQLITE_ROW)
            names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(*query, 0)));
        if (rc != SQLITE_DONE) return FailNothing(sqlite3_errmsg(db_), error);
        return names;
    }

private:
    // No mutex of SQLite's own: a store is used by one thread at a time.
    bool OpenFile(int flags, std::string& error, const std::string& uri = {}) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        const std::string& name = uri.empty() ? path_ : uri;
        if (sqlite3_open_v2(name.c_str(), &db_,
                            flags | SQLITE_OPEN_NOMUTEX | (uri.empty() ? 0 : SQLITE_OPEN_URI),
                            nullptr) != SQLITE_OK)
            return Fail(db_ ? sqlite3_errmsg(db_) : "out of memory", error);
        sqlite3_extended_result_codes(db_, 1);
        // Another writer's lock is waited out up to BusyTimeoutMs, or until a stop is asked.
        sqlite3_busy_handler(
            db_,
            [](void*, int tries) {
                constexpr int StepMs = 20;
                if (tries * StepMs >= BusyTimeoutMs || StopRequested()) return 0;
                sqlite3_sleep(StepMs);
                return 1;
            },
            nullptr);
        return true;
    }

    // A copy on a read-only share cannot get the shared-memory file a write-ahead log
    // needs beside it; such a copy changes no more and is read as it stands.
    bool OpenToRead(std::string& error) {
        if (OpenFile(SQLITE_OPEN_READONLY, error)) {
            if (const auto version =
                    PrepareSchema(*this, SchemaSteps(""), OpenMode::Read, path_, error)) {
                version_ = *version;
                return true;
            }
            const int code = sqlite3_errcode(db_) & 0xFF;
            if (code != SQLITE_CANTOPEN && code != SQLITE_READONLY) return false;
        }
        std::string uri = "file:";
        for (const char c : path_) {
            if (c == '%' || c == '?' || c == '#') {
                static constexpr char Hex[] = "0123456789ABCDEF";
                uri += '%';
                uri += Hex[static_cast<unsigned char>(c) >> 4];
                uri += Hex[c & 0xF];
            } else {
                uri += c;
            }
        }
        if (!OpenFile(SQLITE_OPEN_READONLY, error, uri + "?immutable=1")) return false;
        const auto version = PrepareSchema(*this, SchemaSteps(""), OpenMode::Read, path_, error);
        if (!version) return false;
        version_ = *version;
        return true;
    }

    // A damaged file is found before a station writes any device, not after.
    bool QuickCheck(std::string& error) {
        const auto deadline = std::chrono::steady_clock::now() + QuickCheckTime;
        sqlite3_progress_handler(
            db_, 1000,
            [](void* end) {
                return std::chrono::steady_clock::now() >
                               *static_cast<std::chrono::steady_clock::time_point*>(end)
                           ? 1
                           : 0;
            },
            const_cast<std::chrono::steady_clock::time_point*>(&deadline));
        Statement check;
        std::string finding = "ok";
        int rc = check.Prepare(db_, "PRAGMA quick_check(1)") ? sqlite3_step(*check) : SQLITE_ERROR;
        if (rc == SQLITE_ROW) {
            if (const auto text = ColumnText(*check, 0)) finding = *text;
            rc = SQLITE_OK;
        } else if (rc == SQLITE_DONE || (rc & 0xFF) == SQLITE_INTERRUPT) {
            rc = SQLITE_OK;
        } else {
            finding = sqlite3_errmsg(db_);
        }
        sqlite3_progress_handler(db_, 0, nullptr, nullptr);
        if (rc == SQLITE_OK && finding == "ok") return true;
        return Fail("the database is damaged (" + finding +
                        ") - nothing was written; restore it from a backup or name a new one",
                    error);
    }

    // Steps `query`, giving each row to `row` until it returns false.
    template <typename Row>
    bool Rows(const Query& query, std::string& error, Row row) {
        Statement s;
        if (!s.Prepare(db_, query.Sql)) return Fail(sqlite3_errmsg(db_), error);
        for (std::size_t i = 0; i < query.Values.size(); ++i)
            BindText(*s, int(i + 1), query.Values[i]);
        int rc;
        while ((rc = sqlite3_step(*s)) == SQLITE_ROW)
            if (!row(*s)) return true;
        if (rc != SQLITE_DONE) return Fail(sqlite3_errmsg(db_), error);
        return true;
    }

    static void BindText(sqlite3_stmt* s, int index, const std::string& text) {
        sqlite3_bind_text(s, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
    }

    bool Fail(const std::string& message, std::string& error) const {
        error = path_ + ": " + message;
        return false;
    }
    std::nullopt_t FailNothing(const std::string& message, std::string& error) const {
        Fail(message, error);
        return std::nullopt;
    }

    // Runs a writing statement alone in an immediate transaction, so it waits its turn
    // behind other processes' writers instead of failing busy half-way. `row` is given the
    // first row it returns, if any. With `hold` the transaction is left open for the next
    // write, which commits both; a failure rolls back whatever is open.
    template <typename Row>
    bool WriteOne(sqlite3_stmt* s, std::string& error, Row row, bool hold = false) {
        bool ok = true;
        if (!held_) {
            ok = sqlite3_step(*begin_) == SQLITE_DONE;
            sqlite3_reset(*begin_);
        }
        held_ = false;
        if (!ok) {
            sqlite3_clear_bindings(s);
            return Fail(sqlite3_errmsg(db_), error);
        }
        int rc = sqlite3_step(s);
        if (rc == SQLITE_ROW) row(s);
        while (rc == SQLITE_ROW)
            rc = sqlite3_step(s);
        ok = rc == SQLITE_DONE;
        if (!ok) Fail(sqlite3_errmsg(db_), error);
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        if (ok && hold) {
            held_ = true;
            return true;
        }
        if (ok && sqlite3_step(*commit_) != SQLITE_DONE) {
            ok = false;
            Fail(sqlite3_errmsg(db_), error);
        }
        sqlite3_reset(*commit_);
        if (!ok && !sqlite3_get_autocommit(db_)) {
            sqlite3_step(*rollback_);
            sqlite3_reset(*rollback_);
        }
        return ok;
    }
    bool WriteOne(sqlite3_stmt* s, std::nullptr_t, std::string& error) {
        return WriteOne(s, error, [](sqlite3_stmt*) {});
    }

    // A number held for an attempt that never came is given back.
    void GiveBackHeld() {
        if (!held_) return;
        held_ = false;
        sqlite3_step(*rollback_);
        sqlite3_reset(*rollback_);
    }

    std::string path_;
    sqlite3* db_ = nullptr;
    int version_ = 0;
    Statement reserve_, append_, setLabel_, attempt_, complete_, completeInterrupted_, begin_,
        commit_, rollback_;
    bool held_ = false; // a transaction is open for the attempt of a reserved number
};

} // namespace

std::unique_ptr<RecordStore> OpenSqliteStore(const std::string& path, OpenMode mode, bool create,
                                             std::string& error) {
    auto store = std::make_unique<SqliteStore>(path);
    if (!store->Open(mode, create, error)) return nullptr;
    return store;
}

} // namespace burnwise::records::internal
