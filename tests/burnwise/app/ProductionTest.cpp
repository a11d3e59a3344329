#include "burnwise/app/Production.h"

#include "Notes.h"
#include "burnwise/app/TemplateFile.h"
#include "burnwise/device/testing/InProcessBench.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <set>

namespace burnwise::app {
namespace {

// A store that keeps its records in memory and fails as told.
struct FakeStore final : records::RecordStore {
    std::uint64_t Next = 0;
    int AppendsLeft = 1000; // writes of records that succeed before they fail
    bool ServerGone = false;
    std::set<std::string> Passed; // serial numbers recorded PASS
    std::int64_t Attempts = 0;

    bool Append(const records::Record& record, std::string& error) override {
        if (ServerGone || AppendsLeft-- <= 0) {
            error = "the disk is full";
            return false;
        }
        if (record.Outcome == records::Result::Pass) Passed.insert(record.SerialNumber);
        return true;
    }
    std::optional<records::AttemptStart> StartAttempt(const records::Record& attempt,
                                                      std::string& error) override {
        if (!Append({}, error)) return std::nullopt;
        records::AttemptStart start{++Attempts, std::nullopt};
        if (Passed.contains(attempt.SerialNumber)) start.PassedAt = "2026-12-09T12:01:07Z";
        return start;
    }
    bool CompleteAttempt(std::int64_t, const records::Record& record, std::string& error) override {
        return Append(record, error);
    }
    std::optional<std::uint64_t> Reserve(const records::SeriesKey&, std::uint64_t start,
                                         std::string& error) override {
        if (ServerGone) {
            error = "server closed the connection";
            return std::nullopt;
        }
        Next = std::max(Next, start);
        return Next++;
    }
    std::optional<std::vector<records::Record>> List(const records::RecordFilter&,
                                                     std::string&) override {
        return std::nullopt;
    }
    bool Lost() const override { return ServerGone; }
    std::string Where() const override { return "memory"; }
};

struct FixedClock : codec::UtcClock {
    codec::UtcTime Now() const override { return {2026, 12, 9, 10, 0, 0}; }
};

struct Line {
    bwtest::TempFolder Folder{"bw-production-"};
    device::testing::InProcessBench Devices;
    testing::Notes Reported;
    FixedClock Clock;
    Station Bench{Devices, Reported, Clock};
    FakeStore* Store = nullptr;
    bool AllowReuse = false;
    std::function<bool(std::string_view)> AskReuse;

    std::unique_ptr<Production> Open(SerialSource serials, int appends = 1000) {
        Template t = Template::Start();
        t.Model = codec::ChipType::KR2S;
        t.UseFixedSerial = true;
        t.FixedSerial = "QA000041";
        t.OnlyBlankDevices = true;
        const auto file = Folder.Path / "line.ept";
        EXPECT_TRUE(WriteTemplateFile(file, t));
        ProductionSetup setup{file, "", "bench-7", serials, {}, {}, false, false, {}, false, {}};
        setup.AllowReuse = AllowReuse;
        setup.AskReuse = AskReuse;
        std::string error;
        auto p = Production::Open(
            setup,
            [&](const std::string&, std::string&) {
                auto store = std::make_unique<FakeStore>();
                store->AppendsLeft = appends;
                Store = store.get();
                return store;
            },
            error);
        EXPECT_TRUE(p) << error;
        return p;
    }
};

bool Blank(const device::testing::InProcessBench& bench, int index) {
    const std::vector<std::uint16_t> words = bench.Words(index);
    return std::all_of(words.begin(), words.end(), [](std::uint16_t w) { return w == 0xFFFF; });
}

TEST(Production, ARunStopsWhereItsRecordsCanNoLongerBeKept) {
    struct Case {
        const char* Name;
        int Appends;     // records the store takes
        bool ServerGone; // before the run starts
        int Written;     // devices written
        std::string Reason;
    } cases[] = {
        // A device whose attempt cannot be put on record is not written.
        {"the attempt fails", 0, false, 0, "cannot write the record: the disk is full"},
        {"the outcome fails", 1, false, 1, "cannot write the record: the disk is full"},
        {"the server is gone", 1000, true, 0, "database unreachable: server closed the connection"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Line line;
        line.Devices.AddDevice("KR2S");
        line.Devices.AddDevice("KR2S");
        auto production = line.Open(SerialSource::Series, c.Appends);
        line.Store->ServerGone = c.ServerGone;
        const Report report = line.Bench.Program(production->Request());
        EXPECT_FALSE(report.Completed());
        EXPECT_EQ(production->StopReason(), c.Reason);
        ASSERT_EQ(report.Devices.size(), 1u);
        EXPECT_EQ(report.Devices[0].Passed, c.Written == 1);
        if (c.ServerGone) {
            EXPECT_EQ(report.Devices[0].Reason, DatabaseUnreachable);
        }
        if (c.Appends == 0) {
            EXPECT_EQ(report.Devices[0].Reason, "the disk is full - nothing written to device 0");
        }
        EXPECT_EQ(Blank(line.Devices, 0), c.Written == 0);
        EXPECT_TRUE(Blank(line.Devices, 1));
    }
}

// A number the records hold as PASS is written again only when reuse is meant: said once for
// the run, or asked once per run.
TEST(Production, ANumberAlreadyPassedIsWrittenAgainOnlyWhenReuseIsMeant) {
    struct Case {
        const char* Name;
        bool Allow;
        std::optional<bool> Answer; // the user's answer, when asked
        int Asked;
        bool Written;
    } cases[] = {
        {"nobody to ask", false, std::nullopt, 0, false},
        {"answered no", false, false, 1, false},
        {"answered yes", false, true, 1, true},
        {"allowed", true, false, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Line line;
        int asked = 0;
        std::string question;
        line.AllowReuse = c.Allow;
        if (c.Answer)
            line.AskReuse = [&](std::string_view text) {
                ++asked;
                question = text;
                return *c.Answer;
            };
        line.Devices.AddDevice("KR2S");
        auto production = line.Open(SerialSource::Template);
        ASSERT_TRUE(line.Bench.Program(production->Request()).Completed());
        // A stopped run's rerun starts from the template's number again, on new chips.
        line.Devices.AddDevice("KR2S");
        line.Devices.AddDevice("KR2S");
        const Report rerun = line.Bench.Program(production->Request());
        ASSERT_EQ(rerun.Devices.size(), 2u);
        EXPECT_EQ(asked, c.Asked);
        if (asked) {
            EXPECT_EQ(question,
                      "QA000041 was already given to a device on 2026-12-09 at 12:01 - write it "
                      "again?");
        }
        EXPECT_EQ(rerun.Devices[0].Passed, c.Written);
        EXPECT_EQ(Blank(line.Devices, 1), !c.Written);
        if (!c.Written) {
            EXPECT_EQ(rerun.Devices[0].Reason, "QA000041 was already given to a device on "
                                               "2026-12-09 at 12:01 - nothing written to device 1");
        }
        // Only the number passed before is refused.
        EXPECT_TRUE(rerun.Devices[1].Passed) << rerun.Devices[1].Reason;
    }
}

} // namespace
} // namespace burnwise::app
