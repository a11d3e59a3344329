// The production line's serial counter: numbers are split, reserved in the file before use,
// and never handed out twice.

#include "burnwise/app/SerialCounter.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace burnwise::app {
namespace {

namespace fs = std::filesystem;

struct Scratch {
    fs::path Path = fs::temp_directory_path() /
                    ("burnwise-counter-test-" + std::to_string(std::random_device{}()));
    Scratch() { fs::create_directories(Path); }
    ~Scratch() { fs::remove_all(Path); }
};

std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

TEST(SerialCounter, SplitsTheTrailingDigitsAndFormatsWithTheirWidth) {
    struct Case {
        const char* Serial;
        const char* Prefix; // nullptr: refused
        std::uint64_t Value;
        int Digits;
    };
    const Case cases[] = {
        {"QA000007", "QA", 7, 6},  {"00000001", "", 1, 8}, {"AB12CD99", "AB12CD", 99, 2},
        {"SERIAL", nullptr, 0, 0}, {"", nullptr, 0, 0},    {"X12345678901234567890", nullptr, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Serial);
        std::string error;
        const auto pattern = SplitSerial(c.Serial, error);
        if (c.Prefix == nullptr) {
            EXPECT_FALSE(pattern);
            EXPECT_FALSE(error.empty());
            continue;
        }
        ASSERT_TRUE(pattern) << error;
        EXPECT_EQ(pattern->Prefix, c.Prefix);
        EXPECT_EQ(pattern->Value, c.Value);
        EXPECT_EQ(pattern->Digits, c.Digits);
    }
    const SerialPattern qa{"QA", 7, 6};
    EXPECT_EQ(qa.Format(10), "QA000010");
    EXPECT_EQ(qa.Format(999999), "QA999999");
    EXPECT_FALSE(qa.Format(1000000)) << "a seventh digit does not fit";
}

TEST(SerialCounter, ReservesInTheFileBeforeUseAndGoesOnAcrossRuns) {
    Scratch scratch;
    const fs::path file = scratch.Path / "line.counter";
    std::string error;
    auto first = SerialCounter::Open(file, {"QA", 7, 6}, error);
    ASSERT_TRUE(first) << error;
    EXPECT_FALSE(fs::exists(file)) << "opening writes nothing";
    EXPECT_EQ(first->Reserve(error), "QA000007");
    EXPECT_EQ(Read(file), "8\n") << "the file holds the value the next device takes";
    EXPECT_EQ(first->Reserve(error), "QA000008");

    // A second run (or a second program) on the same file carries on.
    auto second = SerialCounter::Open(file, {"QA", 7, 6}, error);
    ASSERT_TRUE(second) << error;
    EXPECT_EQ(second->Reserve(error), "QA000009");
    EXPECT_EQ(first->Reserve(error), "QA000010");
    EXPECT_EQ(Read(file), "11\n");
}

TEST(SerialCounter, DamagedOrExhaustedCountersAreRefusedBeforeAnythingIsTaken) {
    Scratch scratch;
    const fs::path file = scratch.Path / "c";
    for (const char* bad : {"", "x\n", "-3\n", "12 13\n", "7\n\n", "99999999999999999999999\n"}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(bad)));
        Write(file, bad);
        std::string error;
        EXPECT_FALSE(SerialCounter::Open(file, {"QA", 7, 6}, error));
        EXPECT_NE(error.find("damaged"), std::string::npos) << error;
        EXPECT_EQ(Read(file), bad) << "a refused counter is left as it was";
    }
    Write(file, "1000000\n");
    std::string error;
    EXPECT_FALSE(SerialCounter::Open(file, {"QA", 7, 6}, error));
    EXPECT_NE(error.find("more than the serial number's 6 digits"), std::string::npos) << error;
    std::string folderError;
    EXPECT_FALSE(SerialCounter::Open(scratch.Path, {"QA", 7, 6}, folderError));

    // The last number is handed out; the one after it is refused and the file unchanged.
    Write(file, "99\n");
    auto counter = SerialCounter::Open(file, {"Z", 0, 2}, error);
    ASSERT_TRUE(counter) << error;
    EXPECT_EQ(counter->Reserve(error), "Z99");
    EXPECT_FALSE(counter->Reserve(error));
    EXPECT_NE(error.find("run out"), std::string::npos);
    EXPECT_EQ(Read(file), "100\n");
}

TEST(SerialCounter, ProcessesSharingAFileNeverTakeTheSameNumber) {
    Scratch scratch;
    const fs::path file = scratch.Path / "shared";
    const fs::path results = scratch.Path / "taken";
    constexpr int Processes = 4, Each = 25;
    std::vector<pid_t> children;
    for (int p = 0; p < Processes; ++p) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::string error, taken;
            auto counter = SerialCounter::Open(file, {"", 0, 6}, error);
            for (int i = 0; counter && i < Each; ++i)
                taken += counter->Reserve(error).value_or("FAILED") + "\n";
            std::ofstream(results.string() + std::to_string(p)) << taken;
            ::_exit(counter ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::set<std::string> all;
    for (int p = 0; p < Processes; ++p) {
        std::istringstream lines(Read(results.string() + std::to_string(p)));
        for (std::string line; std::getline(lines, line);)
            EXPECT_TRUE(all.insert(line).second) << line << " was taken twice";
    }
    EXPECT_EQ(all.size(), std::size_t{Processes * Each});
    EXPECT_EQ(all.count("FAILED"), 0u);
    EXPECT_EQ(Read(file), std::to_string(Processes * Each) + "\n");
}

} // namespace
} // namespace burnwise::app
