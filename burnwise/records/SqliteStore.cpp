#include "burnwise/common/FileAccess.h"
#include "burnwise/records/StoreInternals.h"

#include <sqlite3.h>
#include <sys/stat.h>

namespace burnwise::records::internal {

namespace {

// A writer waits this long for another process's transaction to end.
constexpr int BusyTimeoutMs = 10000;

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

private:
    sqlite3_stmt* stmt_ = nullptr;
};

class SqliteStore final : public RecordStore, public SchemaConnection {
public:
    explicit SqliteStore(std::string path) : path_(std::move(path)) {}
    // Closed once the statements below are finalized, which close_v2 waits for.
    ~SqliteStore() override { sqlite3_close_v2(db_); }

    bool Open(std::string& error) {
        // A link could lead the records anywhere; a folder or a device is no database.
        struct stat info {};
        if (lstat(path_.c_str(), &info) == 0) {
            if (S_ISLNK(info.st_mode)) return Fail("is a symbolic link", error);
            if (S_ISDIR(info.st_mode)) return Fail("is a folder", error);
            if (!S_ISREG(info.st_mode)) return Fail("is not a regular file", error);
        }
        if (const auto links = common::ExtraHardLinks(path_)) return Fail(*links, error);
        if (sqlite3_open_v2(path_.c_str(), &db_,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW |
                                SQLITE_OPEN_FULLMUTEX,
                            nullptr) != SQLITE_OK)
            return Fail(db_ ? sqlite3_errmsg(db_) : "out of memory", error);
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, BusyTimeoutMs);
        // Write-ahead logging lets readers run beside a writer and makes a commit one append
        // to the log; with full sync that append reaches the disk before the commit returns,
        // so a number once handed out stays handed out even across a power cut.
        if (!Execute("PRAGMA journal_mode = WAL", error) ||
            !Execute("PRAGMA synchronous = FULL", error))
            return false;
        if (!MigrateSchema(*this, SchemaSteps("id INTEGER PRIMARY KEY"), path_, error))
            return false;
        if (!reserve_.Prepare(db_, ReserveStatement) || !append_.Prepare(db_, AppendStatement) ||
            !setLabel_.Prepare(db_, SetLabelStatement) || !begin_.Prepare(db_, "BEGIN IMMEDIATE") ||
            !commit_.Prepare(db_, "COMMIT") || !rollback_.Prepare(db_, "ROLLBACK"))
            return Fail(sqlite3_errmsg(db_), error);
        return true;
    }

    bool Append(const Record& record, std::string& error) override {
        if (!IsUtcTime(record.Time)) return Fail("a record needs a UTC time", error);
        sqlite3_stmt* s = *append_;
        const auto values = RecordColumns(record);
        for (std::size_t i = 0; i < values.size(); ++i)
            BindText(s, int(i + 1), values[i]);
        return WriteOne(s, nullptr, error);
    }

    bool SetLabel(const Record& record, const LabelStatus& label, std::string& error) override {
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
        const auto limit = SeriesLimit(series, start, error);
        if (!limit) return std::nullopt;
        sqlite3_stmt* s = *reserve_;
        BindText(s, 1, series.Prefix);
        sqlite3_bind_int(s, 2, series.Digits);
        sqlite3_bind_int64(s, 3, sqlite3_int64(start));
        sqlite3_bind_int64(s, 4, sqlite3_int64(*limit));
        std::optional<std::int64_t> number;
        if (!WriteOne(s, &number, error)) return std::nullopt;
        if (!number) {
            error = "serial series " + series.Prefix + " with " + std::to_string(series.Digits) +
                    " digits has run out";
            return std::nullopt;
        }
        return std::uint64_t(*number);
    }

    std::optional<std::vector<Record>> List(const RecordFilter& filter,
                                            std::string& error) override {
        std::vector<std::string> values;
        const auto sql = ListStatement(filter, values, error);
        if (!sql) return std::nullopt;
        Statement query;
        if (!query.Prepare(db_, *sql)) return FailNothing(sqlite3_errmsg(db_), error);
        for (std::size_t i = 0; i < values.size(); ++i)
            BindText(*query, int(i + 1), values[i]);
        std::vector<Record> records;
        int rc;
        while ((rc = sqlite3_step(*query)) == SQLITE_ROW) {
            auto column = [&](int i) {
                const auto* text = sqlite3_column_text(*query, i);
                return Utf8ToLatin1(text ? reinterpret_cast<const char*>(text) : "");
            };
            records.push_back(RecordFromColumns(column));
        }
        if (rc != SQLITE_DONE) return FailNothing(sqlite3_errmsg(db_), error);
        return records;
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
    static void BindText(sqlite3_stmt* s, int index, const std::string& text) {
        const std::string utf8 = Latin1ToUtf8(text);
        sqlite3_bind_text(s, index, utf8.data(), int(utf8.size()), SQLITE_TRANSIENT);
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
    // behind other processes' writers instead of failing busy half-way. `number` takes the
    // first column of the row it returns, if any.
    bool WriteOne(sqlite3_stmt* s, std::optional<std::int64_t>* number, std::string& error) {
        bool ok = sqlite3_step(*begin_) == SQLITE_DONE;
        sqlite3_reset(*begin_);
        if (!ok) {
            sqlite3_clear_bindings(s);
            return Fail(sqlite3_errmsg(db_), error);
        }
        int rc = sqlite3_step(s);
        if (rc == SQLITE_ROW && number) *number = sqlite3_column_int64(s, 0);
        while (rc == SQLITE_ROW)
            rc = sqlite3_step(s);
        ok = rc == SQLITE_DONE;
        if (!ok) Fail(sqlite3_errmsg(db_), error);
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
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

    std::string path_;
    sqlite3* db_ = nullptr;
    Statement reserve_, append_, setLabel_, begin_, commit_, rollback_;
};

} // namespace

std::unique_ptr<RecordStore> OpenSqliteStore(const std::string& path, std::string& error) {
    auto store = std::make_unique<SqliteStore>(path);
    if (!store->Open(error)) return nullptr;
    return store;
}

} // namespace burnwise::records::internal
