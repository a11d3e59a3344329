#include "burnwise/app/Production.h"

#include "Notes.h"
#include "burnwise/app/TemplateFile.h"
#include "burnwise/device/testing/InProcessBench.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace burnwise::app {
namespace {

// A store that keeps its records in memory and fails as told.
struct FakeStore final : records::RecordStore {
    std::uint64_t Next = 0;
    int AppendsLeft = 1000; // appends that succeed before they fail
    bool ServerGone = false;

    bool Append(const records::Record&, std::string& error) override {
        if (ServerGone || AppendsLeft-- <= 0) {
            error = "the disk is full";
            return false;
        }
        return true;
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

    std::unique_ptr<Production> Open(SerialSource serials, int appends = 1000) {
        Template t = Template::Start();
        t.Model = codec::ChipType::KR2S;
        t.UseFixedSerial = true;
        t.FixedSerial = "QA000041";
        const auto file = Folder.Path / "line.ept";
        EXPECT_TRUE(WriteTemplateFile(file, t));
        ProductionSetup setup{file, "", "bench-7", serials, {}, {}, false, false, {}};
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
        {"a record fails", 0, false, 1, "cannot write the record: the disk is full"},
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
        EXPECT_EQ(Blank(line.Devices, 0), c.Written == 0);
        EXPECT_TRUE(Blank(line.Devices, 1));
    }
}

} // namespace
} // namespace burnwise::app
