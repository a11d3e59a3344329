#include "burnwise/app/Station.h"

#include "Notes.h"
#include "burnwise/app/Watcher.h"
#include "burnwise/device/testing/InProcessBench.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <utility>

namespace burnwise::app {
namespace {

using codec::ChipType;
using device::RunEnd;
using testing::Notes;

struct FixedClock : codec::UtcClock {
    codec::UtcTime Now() const override { return {2026, 12, 9, 10, 0, 0}; }
    void Wait(std::chrono::milliseconds) const override {}
};

// A station on an in-process bench, and a KR2S template numbering its devices from a
// counter of its own.
struct Bench {
    device::testing::InProcessBench Devices;
    Notes Reported;
    FixedClock Clock;
    Station Line{Devices, Reported, Clock};
    int NextSerial = 1;

    ProgramRequest Request(ChipType model = ChipType::KR2S) {
        ProgramRequest request;
        request.Shown = Template::Start();
        request.Shown.Model = model;
        request.Shown.UseFixedSerial = true;
        request.Shown.FixedSerial = "WA000001";
        request.Source = SerialSource::Counter;
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
    WatchRequest watch;
    watch.Program = b.Request();
    watch.Program.Observe = [&](const device::DeviceOutcome& o) {
        recorded.push_back(o);
        return true;
    };
    watch.StopRequested = [&] { return polls >= 5; };
    // Each wait between polls is where devices come and go.
    watch.Sleep = [&](std::chrono::nanoseconds duration) {
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

// The watch knows a device by the serial number it reports, never by an index of another
// count; the second channel of a KR3 chip is channel A's; a chip that holds what the records
// gave it is not written again; and while the records cannot be reached nothing is written.
TEST(Watcher, KnowsEachDeviceByWhatItIsAndWaitsForItsRecords) {
    struct Case {
        const char* Name;
        std::vector<const char*> Models; // attached from the start
        ChipType Model;
        std::function<void(Bench&, WatchRequest&, const int& polls)> Arrange;
        std::vector<std::string> Lines;
        std::size_t Outcomes;
    } const cases[] = {
        {"a device unplugged between the walk and the pass",
         {"KR2S", "KR2S"},
         ChipType::KR2S,
         [](Bench& b, WatchRequest& w, const int&) {
             w.Attached = [&b, once = true](const std::vector<std::string>&) mutable {
                 if (std::exchange(once, false)) b.Devices.RemoveDevice(0);
             };
         },
         {"PASS device 0 serial WA000001"},
         1},
        {"the second channel of a KR3 chip",
         {"KR3D"},
         ChipType::KR3D,
         {},
         {"PASS device 0 serial WA000001"},
         1},
        {"a chip holding the image the records gave it",
         {"KR4S"},
         ChipType::KR4S,
         [](Bench& b, WatchRequest& w, const int&) {
             std::vector<std::uint16_t> written;
             ProgramRequest first = b.Request(ChipType::KR4S);
             first.Observe = [&](const device::DeviceOutcome& o) {
                 written = o.ImageWritten;
                 return true;
             };
             b.Line.Program(first);
             w.Recorded = [written](const codec::EepromImage& image, const std::string& serial) {
                 return serial == "WA000001" &&
                        std::equal(written.begin(), written.end(), image.begin());
             };
         },
         {"already programmed WA000001 - not written again"},
         0},
        {"a database away for two polls",
         {"KR2S"},
         ChipType::KR2S,
         [](Bench& b, WatchRequest& w, const int& polls) {
             w.RecordsReachable = [&polls](std::string& error) {
                 error = "server gone";
                 return polls >= 3;
             };
             w.RecordsLost = [&polls] { return polls < 3; };
             w.Reconnect = [&b, &polls](std::string&) {
                 EXPECT_TRUE(Blank(b.Devices, 0)) << "written while the records were away";
                 return polls >= 3;
             };
         },
         {"database unreachable - waiting: server gone", "database reachable again - watching",
          "PASS device 0 serial WA000001"},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Bench b;
        for (const char* model : c.Models)
            b.Devices.AddDevice(model, "93C56");
        int polls = 0;
        std::size_t outcomes = 0;
        WatchRequest watch;
        watch.StopRequested = [&] { return polls >= 6; };
        watch.Sleep = [&](std::chrono::nanoseconds) { ++polls; };
        if (c.Arrange) c.Arrange(b, watch, polls);
        b.Reported.Lines.clear();
        watch.Program = b.Request(c.Model);
        watch.Program.Observe = [&](const device::DeviceOutcome&) { return ++outcomes, true; };
        Watcher watcher(b.Line, b.Reported);
        const WatchResult result = watcher.Run(watch);
        EXPECT_FALSE(result.AnyFailed);
        std::vector<std::string> lines = c.Lines;
        lines.insert(lines.begin(), "Waiting for " +
                                        std::string(codec::ChipModelOf(c.Model).ListText) +
                                        " devices (Ctrl+C stops)");
        lines.push_back("Stopped");
        EXPECT_EQ(
            b.LinesStartingWith({"Waiting", "PASS", "FAIL", "Stopped", "already", "database"}),
            lines);
        EXPECT_EQ(outcomes, c.Outcomes);
        EXPECT_FALSE(Blank(b.Devices, 0));
    }
}

// Random mixed benches (every model, every part, faults between them), programmed one by one
// and at once from the same template: each device the one-by-one run reached ends the same
// way in both, with the same serial number and the same words, and nothing of one device
// decides anything about the next.
TEST(Station, OneByOneAndAtOnceAgreeOnRandomMixedBenches) {
    using device::testing::InProcessBench;
    constexpr std::string_view Models[] = {"KR1S", "KR1F", "KR2S", "KR2F",
                                           "KR3D", "KR3E", "KR4S", "KR4F"};
    constexpr std::string_view Parts[] = {"93C46", "93C56", "93C66", "none"};
    const ChipType Types[] = {ChipType::KR1S, ChipType::KR1F, ChipType::KR2S, ChipType::KR2F,
                              ChipType::KR3D, ChipType::KR3E, ChipType::KR4S, ChipType::KR4F};
    struct Plug {
        std::string_view Model, Part;
        std::optional<device::testing::FaultKind> Fault;
    };
    struct Case {
        ChipType Type;
        bool BlankOnly;
        std::vector<Plug> Plugs;
    };
    // A KR1 chip after a KR2 chip, then random benches.
    std::vector<Case> cases{
        {ChipType::KR1S, false, {{"KR2S", "93C46", {}}, {"KR1S", "93C46", {}}}}};
    std::mt19937 random(2612);
    const auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    for (int bench = 0; bench < 160; ++bench) {
        Case c{Types[pick(std::size(Types))], pick(2) == 0, {}};
        for (std::size_t n = 1 + pick(6); n > 0; --n) {
            Plug plug{Models[pick(std::size(Models))], Parts[pick(std::size(Parts))], {}};
            if (pick(6) == 0)
                plug.Fault = static_cast<device::testing::FaultKind>(pick(6)); // open .. cycle
            c.Plugs.push_back(plug);
        }
        cases.push_back(std::move(c));
    }
    int devices = 0;
    for (std::size_t n = 0; n < cases.size(); ++n) {
        const Case& c = cases[n];
        Bench oneByOne, atOnce;
        for (Bench* b : {&oneByOne, &atOnce})
            for (const Plug& plug : c.Plugs) {
                const int index = b->Devices.AddDevice(plug.Model, plug.Part);
                if (plug.Fault)
                    b->Devices.AddFault(index, {*plug.Fault, std::nullopt,
                                                vqpipex::InfoOf(*plug.Fault).DefaultStatus, 1});
            }
        ProgramRequest request;
        request.Shown = Template::Start();
        request.Shown.Model = c.Type;
        request.Shown.OnlyBlankDevices = c.BlankOnly;
        request.Shown.UseFixedSerial = true;
        request.Shown.FixedSerial = "EW000001";
        const Report one = oneByOne.Line.Program(request);
        request.Parallel = true;
        const Report all = atOnce.Line.Program(request);
        SCOPED_TRACE("bench " + std::to_string(n));
        for (const device::DeviceOutcome& mine : one.Devices) {
            const auto same =
                std::find_if(all.Devices.begin(), all.Devices.end(),
                             [&](const auto& o) { return o.DriverIndex == mine.DriverIndex; });
            ASSERT_NE(same, all.Devices.end()) << "device " << mine.DriverIndex;
            EXPECT_EQ(mine.Passed, same->Passed) << mine.Reason << " / " << same->Reason;
            EXPECT_EQ(mine.Reason, same->Reason);
            EXPECT_EQ(mine.SerialNumber, same->SerialNumber);
            EXPECT_EQ(mine.Model, same->Model);
            EXPECT_EQ(mine.EepromTypeName, same->EepromTypeName);
            EXPECT_EQ(mine.ImageWritten, same->ImageWritten);
            EXPECT_EQ(oneByOne.Devices.Words(mine.DriverIndex),
                      atOnce.Devices.Words(mine.DriverIndex));
            if (mine.Passed && mine.Model.starts_with("KR1")) {
                EXPECT_NE(mine.SerialNumber, "Disabled");
            }
            ++devices;
        }
        if (one.End == RunEnd::Completed) {
            EXPECT_EQ(one.Devices.size(), all.Devices.size());
        }
    }
    EXPECT_GT(devices, 150);
}

// A device judged blank stays held until it is written: a second run on the same devices
// (another window, a watch) that comes between the judgement and the write cannot take it,
// and no chip is written twice by two runs that both say PASS.
TEST(Station, ADeviceIsHeldFromItsJudgementToItsWrite) {
    for (const bool atOnce : {false, true}) {
        SCOPED_TRACE(atOnce);
        Bench b;
        for (int i = 0; i < 4; ++i)
            b.Devices.AddDevice("KR2S", i % 2 ? "93C56" : "93C46");
        Notes otherNotes;
        Station other(b.Devices, otherNotes, b.Clock);
        ProgramRequest first = b.Request();
        first.Shown.OnlyBlankDevices = true;
        first.Parallel = atOnce;
        std::optional<Report> second;
        ProgramRequest late = first;
        late.Parallel = false;
        late.Serials = [](int position, std::string&) {
            return std::optional<std::string>("LT00000" + std::to_string(position + 1));
        };
        first.Started = [&](std::int32_t, const std::string&) {
            if (!second) second = other.Program(late);
        };
        const Report report = b.Line.Program(first);
        ASSERT_TRUE(second);
        EXPECT_TRUE(std::none_of(second->Devices.begin(), second->Devices.end(),
                                 [](const device::DeviceOutcome& o) { return o.Passed; }))
            << "the second run took a device the first had judged";
        ASSERT_EQ(report.Devices.size(), 4u);
        for (const device::DeviceOutcome& o : report.Devices) {
            EXPECT_TRUE(o.Passed) << o.Reason;
            const std::vector<std::uint16_t> words = b.Devices.Words(o.DriverIndex);
            EXPECT_TRUE(std::equal(o.ImageWritten.begin(), o.ImageWritten.end(), words.begin()))
                << "device " << o.DriverIndex << " holds what its PASS says";
        }
        EXPECT_EQ(b.Devices.OpenHandles(), 0);
    }
}

// A stop asked for while a run still scans is taken before anything is written, one by one,
// at once, and for an erase; a stop after the first device ends the run there.
TEST(Station, AStopDuringTheScanWritesNothing) {
    struct Stopping : Notes {
        int Questions = 0, StopAt = 1;
        bool StopRequested() override { return ++Questions >= StopAt; }
    };
    for (const int operation : {0, 1, 2}) {
        SCOPED_TRACE(operation);
        device::testing::InProcessBench devices;
        for (int i = 0; i < 3; ++i)
            devices.AddDevice("KR2S");
        Stopping notes;
        notes.StopAt = 2; // the scan looks at device 0, then the stop is asked for
        FixedClock clock;
        Station line(devices, notes, clock);
        ProgramRequest request;
        request.Shown = Template::Start();
        request.Shown.Model = ChipType::KR2S;
        request.Shown.UseFixedSerial = true;
        request.Shown.FixedSerial = "ST000001";
        request.Shown.OnlyBlankDevices = false;
        request.Parallel = operation == 1;
        const Report report = operation == 2 ? line.Erase(request.Shown) : line.Program(request);
        EXPECT_EQ(report.End, RunEnd::Cancelled);
        EXPECT_TRUE(report.Devices.empty());
        EXPECT_NE(std::find_if(
                      notes.Lines.begin(), notes.Lines.end(),
                      [](const std::string& l) { return l.starts_with("Stopped before device"); }),
                  notes.Lines.end());
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(Blank(devices, i)) << "device " << i;
        EXPECT_EQ(devices.OpenHandles(), 0);
    }
}

} // namespace
} // namespace burnwise::app
