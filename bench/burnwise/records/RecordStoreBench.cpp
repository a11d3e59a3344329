// What the records cost a station per device, on the settings a station runs with.
//
//   Reserve/*         reserving the next number of a serial series
//   Append/*          writing one device's record
//   Device/*          both, one commit each
//   Attempt/*         as a station does for every device: the number reserved and the
//                     attempt recorded (with the look-up of a PASS of that number) in one
//                     commit, the outcome replacing the attempt in the second
//
// on an SQLite file in the temporary folder (write-ahead log, full sync) and on a local
// PostgreSQL server the benchmark starts itself (disk flushes on, as a real server runs).
// Under 5 ms per device each is the goal.
#include "burnwise/records/RecordStore.h"
#include "common/UtcTime.h"
#include "support/PostgresServer.h"
#include "support/TempFolder.h"

#include <benchmark/benchmark.h>
#include <memory>
#include <string>
#include <utility>

namespace {

using namespace burnwise::records;

const SeriesKey Series{"QA", 12};

Record DeviceRecord(std::uint64_t number) {
    Record record;
    record.Time = common::UtcTimeStamp();
    record.Station = "bench-1";
    record.Operation = "program";
    record.DriverIndex = 0;
    record.Model = "KR2C";
    record.Eeprom = "internal";
    record.SerialNumber = SeriesSerial(Series, number);
    record.Outcome = Result::Pass;
    record.TemplateFile = "cable.bwt";
    record.TemplateSha256 = std::string(64, 'a');
    record.ImageSha256 = std::string(64, 'b');
    return record;
}

// The database a case names, opened once for the whole program.
struct Databases {
    bwtest::TempFolder Folder{"bw-records-bench-"};
    bwtest::PostgresServer Server{bwtest::PostgresServer::Options{.Durable = true}};
    std::unique_ptr<RecordStore> Sqlite, Postgres;
    std::string SqliteError, PostgresError;

    Databases() {
        Sqlite =
            OpenRecordStore("sqlite:" + (Folder.Path / "records.sqlite").string(), SqliteError);
        if (const auto why = bwtest::PostgresServer::Unavailable())
            PostgresError = *why;
        else if (Server.Start(PostgresError))
            Postgres = OpenRecordStore(Server.Url(), PostgresError);
    }
};

Databases& Stores() {
    static Databases databases;
    return databases;
}

enum Backend { Sqlite, Postgres };
enum Work { ReserveOnly, AppendOnly, Both, Attempt };

void Run(benchmark::State& state, Backend backend, Work work) {
    auto& databases = Stores();
    RecordStore* store = backend == Sqlite ? databases.Sqlite.get() : databases.Postgres.get();
    if (!store) {
        state.SkipWithError(
            (backend == Sqlite ? databases.SqliteError : databases.PostgresError).c_str());
        return;
    }
    std::string error;
    std::uint64_t number = 1;
    for (auto _ : state) {
        if (work == Attempt) {
            const auto reserved = store->ReserveForAttempt(Series, 1, error);
            Record record = reserved ? DeviceRecord(*reserved) : Record{};
            record.Outcome = Result::Interrupted;
            const auto started = reserved ? store->StartAttempt(record, error) : std::nullopt;
            record.Outcome = Result::Pass;
            if (!started || !store->CompleteAttempt(started->Id, record, error)) {
                state.SkipWithError(error.c_str());
                return;
            }
            continue;
        }
        if (work != AppendOnly) {
            const auto reserved = store->Reserve(Series, 1, error);
            if (!reserved) {
                state.SkipWithError(error.c_str());
                return;
            }
            number = *reserved;
        }
        if (work != ReserveOnly && !store->Append(DeviceRecord(number), error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// Registered by name, so that the names keep their slashes.
const bool Registered = [] {
    for (const auto& [backend, backendName] :
         {std::pair{Sqlite, "SQLite"}, {Postgres, "PostgreSQL"}})
        for (const auto& [work, workName] : {std::pair{ReserveOnly, "Reserve"},
                                             {AppendOnly, "Append"},
                                             {Both, "Device"},
                                             {Attempt, "Attempt"}})
            benchmark::RegisterBenchmark(
                (std::string(workName) + "/" + backendName).c_str(),
                [backend, work](benchmark::State& state) { Run(state, backend, work); })
                ->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace

BENCHMARK_MAIN();
