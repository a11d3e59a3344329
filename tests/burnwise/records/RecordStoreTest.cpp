#include "burnwise/records/RecordStore.h"

#include "StoreBackends.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace burnwise::records;

Record MakeRecord(std::string time, std::string station, std::string serial, Result outcome) {
    Record record;
    record.Time = std::move(time);
    record.Station = std::move(station);
    record.Operation = "program";
    record.DriverIndex = 2;
    record.Model = "KR2C";
    record.Eeprom = "internal";
    record.SerialNumber = std::move(serial);
    record.Outcome = outcome;
    record.Reason = outcome == Result::Pass ? "" : "verify mismatch at word 7";
    record.TemplateFile = "cable \"A\", rev\xe9.bwt"; // a Latin-1 e acute
    record.TemplateSha256 = std::string(64, 'a');
    record.ImageSha256 = std::string(64, 'b');
    return record;
}

template <typename Backend>
class StoreTest : public bwtest::BackendTest<Backend> {
protected:
    std::unique_ptr<RecordStore> Open() {
        std::string error;
        auto store = OpenRecordStore(this->backend_.Url(), error);
        EXPECT_TRUE(store) << error;
        return store;
    }
};

TYPED_TEST_SUITE(StoreTest, bwtest::Backends);

TYPED_TEST(StoreTest, ListsRecordsOldestFirstByEachFilter) {
    auto store = this->Open();
    ASSERT_TRUE(store);
    const std::vector<Record> written = {
        MakeRecord("2026-12-01T08:00:00Z", "bench-1", "QA000001", Result::Pass),
        MakeRecord("2026-12-02T09:30:00Z", "bench-2", "QA000002", Result::Fail),
        MakeRecord("2026-12-02T09:30:01Z", "bench-1", "QA000003", Result::Pass),
        MakeRecord("2026-12-03T00:00:00Z", "bench-2", "QA000002", Result::Pass),
    };
    std::string error;
    for (const auto& record : written)
        ASSERT_TRUE(store->Append(record, error)) << error;

    struct Case {
        RecordFilter Filter;
        std::vector<int> Expected;
    };
    const Case cases[] = {
        {{}, {0, 1, 2, 3}},
        {{.SerialNumber = "QA000002"}, {1, 3}},
        {{.Station = "bench-1"}, {0, 2}},
        {{.Since = "2026-12-02T09:30:01Z"}, {2, 3}},
        {{.Since = "2026-12-02"}, {1, 2, 3}},
        {{.SerialNumber = "QA000002", .Station = "bench-2", .Since = "2026-12-03"}, {3}},
        {{.SerialNumber = "QA999999"}, {}},
    };
    for (const auto& c : cases) {
        const auto listed = store->List(c.Filter, error);
        ASSERT_TRUE(listed) << error;
        std::vector<Record> expected;
        for (const int i : c.Expected)
            expected.push_back(written[i]);
        EXPECT_EQ(*listed, expected)
            << "serial " << c.Filter.SerialNumber.value_or("-") << " station "
            << c.Filter.Station.value_or("-") << " since " << c.Filter.Since.value_or("-");
    }
    EXPECT_FALSE(store->List({.Since = "yesterday"}, error));
    EXPECT_NE(error.find("is not a UTC time"), std::string::npos) << error;
    EXPECT_FALSE(store->Append(MakeRecord("2026-12-03", "b", "s", Result::Pass), error));

    // A second store on the same database sees what the first wrote.
    auto again = this->Open();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->List({}, error)->size(), written.size());
}

TYPED_TEST(StoreTest, SeriesStartAtTheirValueCountOnAndRunOut) {
    auto store = this->Open();
    ASSERT_TRUE(store);
    std::string error;
    const SeriesKey qa2{"QA", 2};
    const SeriesKey qa6{"QA", 6};
    EXPECT_EQ(store->Reserve(qa2, 97, error), 97u) << error;
    EXPECT_EQ(store->Reserve(qa6, 1, error), 1u) << error;
    // An existing series goes on where it stands, whatever start a later template gives.
    EXPECT_EQ(store->Reserve(qa2, 10, error), 98u) << error;
    EXPECT_EQ(store->Reserve(qa2, 97, error), 99u) << error;
    for (int i = 0; i < 2; ++i) {
        error.clear();
        EXPECT_FALSE(store->Reserve(qa2, 97, error));
        EXPECT_NE(error.find("serial series QA with 2 digits has run out"), std::string::npos)
            << error;
    }
    EXPECT_EQ(store->Reserve(qa6, 1, error), 2u) << error;
    EXPECT_EQ(SeriesSerial(qa6, 2), "QA000002");

    struct Bad {
        SeriesKey Key;
        std::uint64_t Start;
        const char* Message;
    };
    const Bad bad[] = {
        {{"QB", 0}, 1, "1 to 18 digits, not 0"},
        {{"QB", 19}, 1, "1 to 18 digits, not 19"},
        {{"QB", 3}, 1000, "cannot start at 1000"},
        {{std::string(65, 'Q'), 3}, 1, "at most 64 characters"},
    };
    for (const auto& b : bad) {
        error.clear();
        EXPECT_FALSE(store->Reserve(b.Key, b.Start, error));
        EXPECT_NE(error.find(b.Message), std::string::npos) << error;
    }
}

TYPED_TEST(StoreTest, SchemaIsMigratedFromEmptyAndANewerOneRefused) {
    std::string error;
    {
        auto store = this->Open(); // an empty database
        ASSERT_TRUE(store);
        EXPECT_EQ(store->Reserve({"QA", 6}, 1, error), 1u) << error;
    }
    ASSERT_TRUE(this->backend_.Sql("INSERT INTO serial_series VALUES ('check', 1, 1); "
                                   "DELETE FROM serial_series WHERE prefix = 'check'; "
                                   "DELETE FROM schema_version WHERE version <> 1",
                                   error))
        << "the schema is not at version 1: " << error;
    ASSERT_TRUE(this->backend_.Sql("UPDATE schema_version SET version = 7", error)) << error;
    EXPECT_FALSE(OpenRecordStore(this->backend_.Url(), error));
    EXPECT_NE(error.find("was written by a newer Burnwise (schema 7); this one reads up to 1"),
              std::string::npos)
        << error;

    // A database that holds somebody else's tables is left alone.
    ASSERT_TRUE(this->backend_.Sql("DROP TABLE schema_version", error)) << error;
    EXPECT_FALSE(OpenRecordStore(this->backend_.Url(), error));
    EXPECT_NE(error.find("holds other tables and no Burnwise records"), std::string::npos) << error;
}

TYPED_TEST(StoreTest, LabelsComeAsAnExtensionThatStationsOfThePreviousReleaseKeepWritingBeside) {
    std::string error;
    // A database as the previous release leaves it: schema 1 without the label columns.
    { ASSERT_TRUE(this->Open()); }
    ASSERT_TRUE(this->backend_.Sql("DROP TABLE schema_extension; "
                                   "ALTER TABLE production_record DROP COLUMN label_status; "
                                   "ALTER TABLE production_record DROP COLUMN label_detail; "
                                   "ALTER TABLE production_record DROP COLUMN label_fields; "
                                   "ALTER TABLE production_record DROP COLUMN label_layout",
                                   error))
        << error;
    auto store = this->Open();
    ASSERT_TRUE(store);
    Record labelled = MakeRecord("2026-12-09T10:00:00Z", "bench-1", "QA000001", Result::Pass);
    labelled.LabelFields = "product=Cable\nserial=QA000001\n";
    ASSERT_TRUE(store->Append(labelled, error)) << error;
    // A station of the previous release writes its columns, as it always did, and finds the
    // version it knows.
    ASSERT_TRUE(this->backend_.Sql(
        "INSERT INTO production_record (time, station, operation, driver_index, model, eeprom, "
        "serial_number, result, reason, template_file, template_sha256, image_sha256) VALUES "
        "('2026-12-09T10:00:01Z', 'old', 'program', 0, 'KR2C', '93C46', 'QA000002', 'PASS', "
        "'', 'cable.ept', 'a', 'b'); "
        "INSERT INTO serial_series (prefix, digits, next_number) "
        "SELECT 'version', version, 1 FROM schema_version",
        error))
        << error;
    EXPECT_EQ(store->Reserve({"version", 1}, 5, error), 1u) << "the schema is not at version 1";

    const LabelStatus printed{LabelState::Printed, "labels-7", "/srv/cable-50x25.svg"};
    EXPECT_TRUE(store->SetLabel(labelled, printed, error)) << error;
    Record other = labelled;
    other.Time = "2026-12-09T11:00:00Z";
    EXPECT_FALSE(store->SetLabel(other, printed, error));
    EXPECT_NE(error.find("no PASS record of QA000001 at 2026-12-09T11:00:00Z"), std::string::npos)
        << error;

    const auto listed = store->List({}, error);
    ASSERT_TRUE(listed && listed->size() == 2u) << error;
    EXPECT_EQ((*listed)[0].Label, printed);
    EXPECT_EQ((*listed)[0].LabelFields, labelled.LabelFields);
    EXPECT_EQ((*listed)[1].Label, LabelStatus{});
    EXPECT_EQ((*listed)[1].LabelFields, "");
}

TEST(PostgresStore, AStationLosingTheServerFailsClearlyAndQuickly) {
    BW_SKIP_WITHOUT_POSTGRES();
    bwtest::PostgresServer server;
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    auto store = OpenRecordStore(server.Url(), error);
    ASSERT_TRUE(store) << error;
    ASSERT_EQ(store->Reserve({"QA", 6}, 1, error), 1u) << error;
    EXPECT_FALSE(store->Lost());
    server.Stop();

    const auto began = std::chrono::steady_clock::now();
    EXPECT_FALSE(store->Reserve({"QA", 6}, 1, error));
    EXPECT_NE(error.find(store->Where()), std::string::npos) << error;
    EXPECT_TRUE(store->Lost());
    EXPECT_FALSE(store->Append(MakeRecord("2026-12-03T00:00:00Z", "b", "s", Result::Pass), error));
    EXPECT_FALSE(OpenRecordStore(server.Url(), error));
    EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(15));
}

TEST(PostgresStore, AServerThatNeverAnswersIsGivenUpWithinSeconds) {
    // A socket that takes connections and never says a word, like a server that hangs.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

    std::string error;
    const auto began = std::chrono::steady_clock::now();
    EXPECT_FALSE(OpenRecordStore(
        "postgresql://burnwise@127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/db",
        error));
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));
    EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
    close(listener);
}

TEST(RecordStoreOpen, RefusesBadUrlsAndFilesThatAreNoDatabase) {
    bwtest::TempFolder folder;
    const auto text = folder.Path / "notes.txt";
    std::ofstream(text) << "these are notes, not records\n";
    const auto link = folder.Path / "link.sqlite";
    std::filesystem::create_symlink(folder.Path / "target.sqlite", link);

    const std::pair<std::string, const char*> cases[] = {
        {"mysql://u@h:1/db", "is no database this program knows"},
        {"ftp:records", "is no database this program knows"},
        {"postgresql:records", "is not a PostgreSQL URL"},
        {"postgresql://h:5432/db", "is not a PostgreSQL URL"},
        {"postgresql://u@h/db", "is not a PostgreSQL URL"},
        {"postgresql://u@h:99999/db", "is not a PostgreSQL URL"},
        {"postgresql://u@h:5432/", "is not a PostgreSQL URL"},
        {"postgresql://u:secret@h:5432/db", "is not a PostgreSQL URL"},
        {"sqlite:", "names no file"},
        {folder.Path.string(), "is a folder"},
        {"sqlite:" + link.string(), "is a symbolic link"},
        {text.string(), "file is not a database"},
        {"/dev/null", "is not a regular file"},
        {(folder.Path / "no" / "such.sqlite").string(), "unable to open"},
        // Port 1 on this machine: nothing listens there, the refusal comes at once.
        {"postgresql://burnwise@127.0.0.1:1/production", "cannot connect"},
    };
    for (const auto& [url, message] : cases) {
        std::string error;
        EXPECT_FALSE(OpenRecordStore(url, error)) << url;
        EXPECT_NE(error.find(message), std::string::npos) << url << ": " << error;
    }
    EXPECT_FALSE(std::filesystem::exists(folder.Path / "target.sqlite"));
}

TEST(RecordStoreOpen, NoUrlMeansTheFileInTheStateFolder) {
    bwtest::TempFolder folder;
    struct Case {
        const char* XdgState; // nullptr: unset
        std::filesystem::path Expected;
    };
    const Case cases[] = {
        {"", folder.Path / "xdg" / "burnwise" / "production.sqlite"},
        {nullptr, folder.Path / ".local" / "state" / "burnwise" / "production.sqlite"},
        {"relative/state", folder.Path / ".local" / "state" / "burnwise" / "production.sqlite"},
    };
    const std::string xdg = (folder.Path / "xdg").string();
    setenv("HOME", folder.Path.c_str(), 1);
    for (const auto& c : cases) {
        if (!c.XdgState)
            unsetenv("XDG_STATE_HOME");
        else
            setenv("XDG_STATE_HOME", *c.XdgState ? c.XdgState : xdg.c_str(), 1);
        std::string error;
        auto store = OpenRecordStore("", error);
        ASSERT_TRUE(store) << error;
        EXPECT_EQ(store->Where(), c.Expected.string());
        ASSERT_TRUE(
            store->Append(MakeRecord("2026-12-03T00:00:00Z", "b", "s", Result::Pass), error))
            << error;
        EXPECT_TRUE(std::filesystem::is_regular_file(c.Expected));
    }
}

} // namespace
