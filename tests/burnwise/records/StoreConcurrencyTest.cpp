#include "StoreBackends.h"
#include "burnwise/records/RecordStore.h"
#include "common/UtcTime.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace burnwise::records;

const SeriesKey Series{"QA", 6};
constexpr std::uint64_t SeriesStart = 1000;

// A station in a process of its own: reserves `count` numbers (forever when 0) and records a
// device for each, sending every number down `pipe` as it gets it. Exits 0 when all went
// through, 1 with the error on stderr otherwise.
[[noreturn]] void Station(const std::string& url, int count, int pipe, int station) {
    std::string error;
    auto store = OpenRecordStore(url, error);
    for (int i = 0; store && (count == 0 || i < count); ++i) {
        const auto number = store->Reserve(Series, SeriesStart, error);
        if (!number) break;
        if (write(pipe, &*number, sizeof *number) != sizeof *number) _exit(1);
        Record record;
        record.Time = common::UtcTimeStamp();
        record.Station = "bench-" + std::to_string(station);
        record.Operation = "program";
        record.SerialNumber = SeriesSerial(Series, *number);
        record.Outcome = Result::Pass;
        if (!store->Append(record, error)) break;
        if (count != 0 && i + 1 == count) _exit(0);
    }
    fprintf(stderr, "station %d: %s\n", station, error.c_str());
    _exit(1);
}

std::vector<std::uint64_t> ReadNumbers(int pipe, std::size_t most) {
    std::vector<std::uint64_t> numbers;
    std::uint64_t number;
    while (numbers.size() < most && read(pipe, &number, sizeof number) == sizeof number)
        numbers.push_back(number);
    return numbers;
}

template <typename Backend>
class StoreConcurrencyTest : public bwtest::BackendTest<Backend> {
protected:
    void SetUp() override {
        bwtest::BackendTest<Backend>::SetUp();
        if (this->IsSkipped() || this->HasFatalFailure()) return;
        std::string error;
        // The schema is made once up front, as the first station on a new database would.
        ASSERT_TRUE(OpenRecordStore(this->backend_.Url(), error)) << error;
        ASSERT_EQ(pipe(pipe_), 0);
    }
    void TearDown() override {
        for (const int fd : pipe_)
            if (fd >= 0) close(fd);
    }
    pid_t Fork(int count, int station) {
        const pid_t child = fork();
        if (child == 0) {
            close(pipe_[0]);
            Station(this->backend_.Url(), count, pipe_[1], station);
        }
        return child;
    }
    int pipe_[2] = {-1, -1};
};

TYPED_TEST_SUITE(StoreConcurrencyTest, bwtest::Backends);

TYPED_TEST(StoreConcurrencyTest, StationsAtOnceGetDistinctConsecutiveNumbers) {
    constexpr int Stations = 4, Each = 50;
    std::vector<pid_t> children;
    for (int i = 0; i < Stations; ++i)
        children.push_back(this->Fork(Each, i));
    close(this->pipe_[1]);
    this->pipe_[1] = -1;
    auto numbers = ReadNumbers(this->pipe_[0], Stations * Each + 1);
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "station failed";
    }
    std::sort(numbers.begin(), numbers.end());
    ASSERT_EQ(numbers.size(), std::size_t(Stations * Each));
    for (std::size_t i = 0; i < numbers.size(); ++i)
        ASSERT_EQ(numbers[i], SeriesStart + i);

    std::string error;
    auto store = OpenRecordStore(this->backend_.Url(), error);
    ASSERT_TRUE(store) << error;
    const auto records = store->List({}, error);
    ASSERT_TRUE(records) << error;
    std::set<std::string> serials;
    for (const auto& record : *records)
        serials.insert(record.SerialNumber);
    EXPECT_EQ(records->size(), std::size_t(Stations * Each));
    EXPECT_EQ(serials.size(), std::size_t(Stations * Each));
}

TYPED_TEST(StoreConcurrencyTest, AStationKilledMidRunLeavesNoNumberToReuse) {
    const pid_t child = this->Fork(0, 1);
    const auto seen = ReadNumbers(this->pipe_[0], 20);
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(seen.size(), 20u);

    std::string error;
    auto store = OpenRecordStore(this->backend_.Url(), error);
    ASSERT_TRUE(store) << error;
    const auto next = store->Reserve(Series, SeriesStart, error);
    ASSERT_TRUE(next) << error;
    EXPECT_GT(*next, *std::max_element(seen.begin(), seen.end()));
}

} // namespace
