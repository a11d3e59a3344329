#pragma once

#include "support/PostgresServer.h"
#include "support/TempFolder.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <string>

// The two kinds of store, for tests that run the same cases on both: each makes a fresh
// empty database, gives its URL, and runs SQL on it behind the store's back.
namespace bwtest {

struct SqliteBackend {
    static constexpr bool HasServer = false;
    TempFolder Folder{"bw-records-"};
    std::string File = (Folder.Path / "records.sqlite").string();

    // A file of no bytes is an empty database.
    bool Setup(std::string&) { return std::ofstream(File).good(); }
    std::string Url() const { return "sqlite:" + File; }
    bool Sql(const std::string& sql, std::string& error) {
        sqlite3* db = nullptr;
        char* message = nullptr;
        const bool ok = sqlite3_open(File.c_str(), &db) == SQLITE_OK &&
                        sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
        if (!ok) error = message ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        sqlite3_close(db);
        return ok;
    }
};

struct PostgresBackend {
    static constexpr bool HasServer = true;
    PostgresServer Server;

    bool Setup(std::string& error) { return Server.Start(error); }
    std::string Url() const { return Server.Url(); }
    bool Sql(const std::string& sql, std::string& error) { return Server.Sql(sql, error); }
};

// A test on a fresh database of the kind `Backend` makes; skipped where there is no server.
template <typename Backend>
class BackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        if constexpr (Backend::HasServer) BW_SKIP_WITHOUT_POSTGRES();
        std::string error;
        ASSERT_TRUE(backend_.Setup(error)) << error;
    }
    Backend backend_;
};

using Backends = ::testing::Types<SqliteBackend, PostgresBackend>;

} // namespace bwtest
