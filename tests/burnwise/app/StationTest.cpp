#include "burnwise/app/Station.h"

#include "Notes.h"
#include "burnwise/app/Watcher.h"
#include "burnwise/device/testing/InProcessBench.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace burnwise::app {
namespace {

using codec::ChipType;
using device::RunEnd;
using testing::Notes;

struct FixedClock : codec::UtcClock {
    codec::UtcTime Now() const override { return {2026, 12, 9, 10, 0, 0}; }
};

// A station on an in-process bench, and a KR2S template numbering its devices from a
// counter of its own.
struct Bench {
    device::testing::InProcessBench Devices;
    Notes Reported;
    FixedClock Clock;
    Station Line{Devices, Reported, Clock};
    int NextSerial = 1;

    Bench() {
        Line.Engine().Sleep = [](std::chrono::milliseconds) {};
    }

    ProgramRequest Request(ChipType model = ChipType::KR2S) {
        ProgramRequest request;
        request.Shown = Template::Start();
        request.Shown.Model = model;
        request.Shown.UseFixedSerial = true;
        request.Shown.FixedSerial = "WA000001";
        request.Serials = [this](int, std::string&) {
            return std::optional<std::string>("WA00000" + std::to_string(NextSerial++));
        };
        return request;
    }

    std::vector<std::string> LinesStartingWith(std::initializer_list<std::string_view> starts) {
        std::vector<std::string> found;
        for (const std::string& line : Reported.Lines)
            if (std::any_of(starts.begin(), starts.end(),
                            [&](std::string_view s) { return line.starts_with(s); }))
                found.push_back(line);
        return found;
    }
};

// The user words (all of a KR4's below its factory words) read all ones.
bool Blank(const device::testing::InProcessBench& bench, int index) {
    const std::vector<std::uint16_t> words = bench.Words(index);
    const std::size_t user = std::min<std::size_t>(words.size(), 64);
    return std::all_of(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(user),
                       [](std::uint16_t w) { return w == 0xFFFF; });
}

TEST(Station, ProgramReportsEachDeviceAndReadAndParseGivesTheTemplateBack) {
    Bench b;
    b.Devices.AddDevice("KR2S");
    b.Devices.AddDevice("KR2S");
    ProgramRequest request = b.Request();
    request.Shown.Manufacturer = "Report Maker";
    const Report report = b.Line.Program(request);
    EXPECT_EQ(report.Operation, device::DeviceOperation::Program);
    EXPECT_EQ(report.End, RunEnd::Completed);
    ASSERT_EQ(report.Devices.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(report.Devices[i].Passed) << report.Devices[i].Reason;
        EXPECT_EQ(report.Devices[i].DriverIndex, static_cast<int>(i));
        EXPECT_EQ(report.Devices[i].SerialNumber, "WA00000" + std::to_string(i + 1));
    }

    Template decoded;
    const Report parsed = b.Line.ReadAndParse(Template::Start(), decoded);
    EXPECT_EQ(parsed.End, RunEnd::Completed);
    EXPECT_EQ(decoded.Model, ChipType::KR2S);
    EXPECT_EQ(decoded.Manufacturer, "Report Maker");
    EXPECT_EQ(decoded.FixedSerial, "WA000002") << "the last device's";
}

TEST(Station, ARefusedTemplateOrAStoppingObserverLeavesTheRestAlone) {
    {
        Bench b;
        b.Devices.AddDevice("KR2S");
        ProgramRequest request = b.Request();
        request.Shown.VidPidType = 2;
        request.Shown.VendorId = "12";
        const Report report = b.Line.Program(request);
        EXPECT_EQ(report.End, RunEnd::Stopped);
        EXPECT_TRUE(report.Devices.empty());
        EXPECT_EQ(b.Reported.Boxes,
                  std::vector<std::string>{
                      "error: The template cannot be programmed - nothing written to any device"});
        EXPECT_TRUE(Blank(b.Devices, 0));
    }
    {
        Bench b;
        b.Devices.AddDevice("KR2S");
        b.Devices.AddDevice("KR2S");
        ProgramRequest request = b.Request();
        request.Observe = [](const device::DeviceOutcome&) { return false; };
        const Report report = b.Line.Program(request);
        EXPECT_NE(report.End, RunEnd::Completed);
        ASSERT_EQ(report.Devices.size(), 1u);
        EXPECT_FALSE(Blank(b.Devices, 0));
        EXPECT_TRUE(Blank(b.Devices, 1)) << "nothing after a record that could not be kept";
    }
}

TEST(Watcher, ProgramsEachDeviceAsItArrivesAndRefusesAForeignOne) {
    Bench b;
    b.Devices.AddDevice("KR2S");
    std::vector<device::DeviceOutcome> recorded;
    int polls = 0;
    std::chrono::steady_clock::time_point now{};
    WatchRequest watch;
    watch.Program = b.Request();
    watch.Program.Observe = [&](const device::DeviceOutcome& o) {
        recorded.push_back(o);
        return true;
    };
    watch.StopRequested = [&] { return polls >= 5; };
    watch.Now = [&] { return now; };
    // Each wait between polls is where devices come and go.
    watch.Sleep = [&](std::chrono::nanoseconds duration) {
        now += std::chrono::duration_cast<std::chrono::steady_clock::duration>(duration);
        if (duration != WatchPollInterval) return;
        ++polls;
        if (polls == 1) b.Devices.AddDevice("KR2S");
        if (polls == 2) b.Devices.AddDevice("KR4S");
    };
    Watcher watcher(b.Line, b.Reported);
    const WatchResult result = watcher.Run(watch);

    EXPECT_TRUE(result.AnyFailed);
    EXPECT_FALSE(result.RecordFailed);
    const std::string foreign = b.Devices.SerialOf(2);
    EXPECT_EQ(
        b.LinesStartingWith({"Waiting", "PASS", "FAIL", "Stopped"}),
        (std::vector<std::string>{"Waiting for KR2S devices (Ctrl+C stops)",
                                  "PASS device 0 serial WA000001", "PASS device 1 serial WA000002",
                                  "FAIL device 2 serial " + foreign +
                                      ": not programmed (not blank, or not a KR2S device)",
                                  "Stopped"}));
    ASSERT_EQ(recorded.size(), 3u);
    EXPECT_EQ(recorded[2].Position, 0);
    EXPECT_EQ(recorded[2].Model, "KR4S");
    EXPECT_TRUE(Blank(b.Devices, 2));
}

TEST(Watcher, AnOutcomeThatCannotBeRecordedEndsTheWatch) {
    Bench b;
    b.Devices.AddDevice("KR2S");
    b.Devices.AddDevice("KR2S");
    WatchRequest watch;
    watch.Program = b.Request();
    watch.Program.Observe = [](const device::DeviceOutcome&) { return false; };
    watch.StopRequested = [] { return false; };
    watch.Now = [] { return std::chrono::steady_clock::time_point{}; };
    watch.Sleep = [](std::chrono::nanoseconds) {};
    Watcher watcher(b.Line, b.Reported);
    const WatchResult result = watcher.Run(watch);
    EXPECT_TRUE(result.RecordFailed);
    EXPECT_EQ(std::count(b.Reported.Lines.begin(), b.Reported.Lines.end(), "Stopped"), 0);
    EXPECT_TRUE(Blank(b.Devices, 1));
}

TEST(Watcher, ATemplateThatCannotBeProgrammedNeverStartsTheWatch) {
    Bench b;
    b.Devices.AddDevice("KR2S");
    WatchRequest watch;
    watch.Program = b.Request();
    watch.Program.Shown.VidPidType = 2; // its own VID and PID
    watch.Program.Shown.VendorId = "0000";
    int polls = 0;
    watch.StopRequested = [&] { return ++polls > 3; };
    watch.Now = [] { return std::chrono::steady_clock::time_point{}; };
    watch.Sleep = [](std::chrono::nanoseconds) {};
    Watcher watcher(b.Line, b.Reported);
    const WatchResult result = watcher.Run(watch);
    EXPECT_TRUE(result.TemplateRefused);
    EXPECT_EQ(polls, 0);
    EXPECT_EQ(std::count(b.Reported.Lines.begin(), b.Reported.Lines.end(),
                         "ERROR : All zeros is an invalid VID"),
              1);
    EXPECT_EQ(b.Reported.Boxes.size(), 1u);
    EXPECT_TRUE(Blank(b.Devices, 0));
}

} // namespace
} // namespace burnwise::app
