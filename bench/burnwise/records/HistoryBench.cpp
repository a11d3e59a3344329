// What `burnwise-cli history` costs on a database of a million records: the time and the
// peak memory of the command, listing all of them as CSV and as JSON, from an SQLite file
// and from a local PostgreSQL server the program starts itself. The records are made in
// one statement per database. Run by hand; not a test:
//
//   bench_burnwise_history [RECORDS [SQLITE-FILE-TO-KEEP]]
#include "burnwise/records/RecordStore.h"
#include "support/PostgresServer.h"
#include "support/TempFolder.h"

#include <chrono>
#include <cstdio>
#include <sqlite3.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace burnwise::records;

// The columns of a generated record, `i` its number: eight stations, one device every 30 s,
// one in fifty failed. `time` is the expression of its UTC time.
std::string Generated(const std::string& time, const std::string& text) {
    return "INSERT INTO production_record (time, station, operation, driver_index, model, "
           "eeprom, serial_number, result, reason, template_file, template_sha256, "
           "image_sha256, texts_utf8) SELECT " +
           time + ", 'bench-' || " + text + "(i % 8), 'program', 0, 'KR2C', 'internal', 'QA' || " +
           text +
           "(i), CASE WHEN i % 50 = 0 THEN 'FAIL' ELSE 'PASS' END, CASE WHEN i % 50 = 0 THEN "
           "'verify mismatch at word 7' ELSE '' END, 'cable.ept', "
           "'4f1e0d2c9b8a7f6e5d4c3b2a19081726354453627180a9b8c7d6e5f4a3b2c1d0', "
           "'0a1b2c3d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718293a4b5c6d7e8f9', 1";
}

bool FillSqlite(const std::string& file, long count, std::string& error) {
    if (!OpenRecordStore("sqlite:" + file, error)) return false;
    sqlite3* db = nullptr;
    char* message = nullptr;
    const std::string sql =
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(count) + ") " +
        Generated("strftime('%Y-%m-%dT%H:%M:%SZ', 1767225600 + i * 30, 'unixepoch')", "") +
        " FROM n";
    const bool ok = sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
    if (!ok) error = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    sqlite3_close(db);
    return ok;
}

bool FillPostgres(bwtest::PostgresServer& server, long count, std::string& error) {
    if (!OpenRecordStore(server.Url(), error)) return false;
    std::string sql = Generated("to_char(to_timestamp(1767225600 + i * 30) AT TIME ZONE 'UTC', "
                                "'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')",
                                "") +
                      " FROM generate_series(1, " + std::to_string(count) + ") AS i";
    // 'bench-' || (i % 8) works in both; PostgreSQL needs the number as text.
    return server.Sql(sql, error) && server.Sql("VACUUM ANALYZE production_record", error);
}

struct Measured {
    double Seconds = 0;
    double CpuSeconds = 0; // user and system: what the command costs on an idle machine
    long PeakKiB = 0;
    long Lines = 0;
    int Status = -1;
};

// Runs the command, counting the lines it prints.
Measured Run(std::vector<std::string> arguments) {
    Measured measured;
    int out[2];
    if (pipe(out) != 0) return measured;
    const auto began = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    char buffer[1 << 16];
    ssize_t got;
    while ((got = read(out[0], buffer, sizeof buffer)) > 0)
        for (ssize_t i = 0; i < got; ++i)
            measured.Lines += buffer[i] == '\n';
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    measured.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    measured.PeakKiB = usage.ru_maxrss;
    measured.CpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                          double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    measured.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return measured;
}

} // namespace

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 1'000'000;
    bwtest::TempFolder folder{"bw-history-bench-"};
    const std::string file = argc > 2 ? argv[2] : (folder.Path / "records.sqlite").string();
    std::string error;
    std::vector<std::pair<std::string, std::string>> databases;
    auto began = std::chrono::steady_clock::now();
    if (FillSqlite(file, count, error))
        databases.emplace_back("SQLite", "sqlite:" + file);
    else
        std::fprintf(stderr, "SQLite: %s\n", error.c_str());
    std::printf("made %ld records in SQLite in %.1f s\n", count,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
    bwtest::PostgresServer server{bwtest::PostgresServer::Options{.Durable = true}};
    if (argc > 2) return 0;
    began = std::chrono::steady_clock::now();
    if (const auto why = bwtest::PostgresServer::Unavailable())
        std::fprintf(stderr, "PostgreSQL: %s\n", why->c_str());
    else if (server.Start(error) && FillPostgres(server, count, error))
        databases.emplace_back("PostgreSQL", server.Url());
    else
        std::fprintf(stderr, "PostgreSQL: %s\n", error.c_str());
    std::printf("made %ld records in PostgreSQL in %.1f s\n", count,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());

    std::printf("%-11s %-8s %9s %9s %12s %10s %s\n", "database", "format", "seconds", "CPU s",
                "peak RSS MB", "lines", "status");
    for (const auto& [name, url] : databases)
        for (const char* format : {"csv", "json", "text"}) {
            const Measured m = Run({BW_CLI_PATH, "history", "--db", url, "--format", format});
            std::printf("%-11s %-8s %9.2f %9.2f %12.1f %10ld %d\n", name.c_str(), format, m.Seconds,
                        m.CpuSeconds, double(m.PeakKiB) / 1024.0, m.Lines, m.Status);
        }
    for (const auto& [name, url] : databases) {
        const Measured m = Run({BW_CLI_PATH, "history", "--db", url, "--summary"});
        std::printf("%-11s %-8s %9.2f %9.2f %12.1f %10ld %d\n", name.c_str(), "summary", m.Seconds,
                    m.CpuSeconds, double(m.PeakKiB) / 1024.0, m.Lines, m.Status);
    }
    return 0;
}
