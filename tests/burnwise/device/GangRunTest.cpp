// Programming every device at once, against the run one by one on a copy of the same bench.
#include "burnwise/device/DeviceEngine.h"
#include "burnwise/device/testing/FaultDriver.h"
#include "burnwise/device/testing/InProcessBench.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <stdexcept>
#include <thread>

namespace burnwise::device::testing {
namespace {

using codec::ChipType;

// Everything a run reports, in order; counts the reports made from another thread.
struct Recorder final : Reporter {
    std::vector<std::string> Events;
    std::vector<DeviceOutcome> Outcomes;
    std::function<bool()> Stop;
    int Foreign = 0;

    void AppendLine(std::string_view text) override { Add("line: ", text); }
    void ClearLines() override { Add("clear", ""); }
    void ShowError(std::string_view text) override { Add("error: ", text); }
    void ShowInformation(std::string_view text) override { Add("info: ", text); }
    void DeviceProgress(int p, int n) override { Add(std::to_string(p) + "/", std::to_string(n)); }
    void DeviceFinished(const DeviceOutcome& o) override {
        Outcomes.push_back(o);
        Add("finished ", std::to_string(o.Position) + " " + std::to_string(o.DriverIndex) + " " +
                             o.Model + " " + o.EepromTypeName + " " + o.SerialNumber + " " +
                             (o.Passed ? "PASS" : "FAIL " + o.Reason));
    }
    bool StopRequested() override { return Stop && Stop(); }
    void Add(std::string_view kind, std::string_view text) {
        Foreign += std::this_thread::get_id() != owner_;
        Events.push_back(std::string(kind).append(text));
    }
    std::vector<std::string> Starting(std::string_view start) const {
        std::vector<std::string> found;
        std::copy_if(Events.begin(), Events.end(), std::back_inserter(found),
                     [&](const std::string& e) { return e.starts_with(start); });
        return found;
    }

private:
    std::thread::id owner_ = std::this_thread::get_id();
};

// A KR2 or KR3 template as a window gives it; a fixed serial number advances its last
// character by the position, an empty one leaves the number to the clock.
struct Template final : SettingsSource {
    Template(codec::CodecState& state, Reporter& lines, ChipType type, std::string serial)
        : State(state), Lines(lines), Kr3(type == ChipType::KR3D), Serial(std::move(serial)) {
        State.Selectors = codec::ChipModelOf(type).Selectors;
    }
    codec::CodecState& State;
    Reporter& Lines;
    bool Kr3;
    std::string Serial;
    std::function<void()> OnGather;

    bool CheckStringTotal() override {
        Lines.ClearLines();
        return true;
    }
    void GatherSettings(int n) override {
        if (OnGather) OnGather();
        codec::EepromSettings& s = State.Settings;
        s.Reset();
        codec::SetText(s.Manufacturer, "Maker");
        codec::SetText(s.ProductDescription, "Gang Line");
        std::string serial = Serial;
        if (!serial.empty()) serial.back() = static_cast<char>(serial.back() + n);
        codec::SetText(s.SerialNumber, serial);
        s.Kr2Present = s.Kr2SerialNumberEnable = !Kr3;
        s.Kr3Present = s.Kr3SerialNumberEnable = Kr3;
    }
};

// The in-process bench, holding each device's first write (where its programming starts,
// on the handle the scan opened and kept) until MeetAt devices have come that far or five
// seconds have passed, and keeping the most such handles open at once. It can fail one
// device's open, unplug one device at its tenth word written, and throw from one device's
// reads.
class GangBench final : public InProcessBench {
public:
    int MeetAt = 0;
    std::int32_t FailOpen = -1, Unplug = -1, Throw = -1;
    int MostOpen = 0;

    VQ_STATUS Open(std::int32_t index, VQ_HANDLE* handle) override {
        if (index == FailOpen) return VQ_DEVICE_NOT_OPENED;
        const VQ_STATUS status = InProcessBench::Open(index, handle);
        std::lock_guard lock(mutex_);
        if (status == VQ_OK) handles_[*handle] = index;
        return status;
    }
    VQ_STATUS Close(VQ_HANDLE handle) override {
        std::unique_lock lock(mutex_);
        handles_.erase(handle);
        programming_.erase(handle);
        lock.unlock();
        return InProcessBench::Close(handle);
    }
    VQ_STATUS ReadEE(VQ_HANDLE handle, std::uint32_t offset, std::uint16_t* value) override {
        // The read-back of a device being programmed; its scan's reads go through.
        if (Throw >= 0 && IndexOf(handle) == Throw && Programming(handle))
            throw std::runtime_error("bus gone");
        return InProcessBench::ReadEE(handle, offset, value);
    }
    VQ_STATUS WriteEE(VQ_HANDLE handle, std::uint32_t offset, std::uint16_t value) override {
        {
            std::unique_lock lock(mutex_);
            if (programming_.insert(handle).second) {
                MostOpen = std::max(MostOpen, static_cast<int>(programming_.size()));
                if (MeetAt > 0) {
                    ++met_;
                    metChanged_.notify_all();
                    metChanged_.wait_for(lock, std::chrono::seconds(5),
                                         [this] { return met_ >= MeetAt; });
                }
            }
        }
        // Only the unplugged device's own thread counts its writes.
        if (Unplug >= 0 && IndexOf(handle) == Unplug && ++unplugWrites_ == 10) RemoveDevice(Unplug);
        return InProcessBench::WriteEE(handle, offset, value);
    }

private:
    bool Programming(VQ_HANDLE handle) {
        std::lock_guard guard(mutex_);
        return programming_.contains(handle);
    }
    std::int32_t IndexOf(VQ_HANDLE handle) {
        std::lock_guard guard(mutex_);
        const auto found = handles_.find(handle);
        return found == handles_.end() ? -1 : found->second;
    }
    std::mutex mutex_;
    std::condition_variable metChanged_;
    std::map<VQ_HANDLE, std::int32_t> handles_;
    std::set<VQ_HANDLE> programming_;
    int met_ = 0, unplugWrites_ = 0;
};

// A bench of sixteen devices: KR2S on each of the three parts (four each), two KR1S and a
// KR3D (its channels A and B), with an engine on it.
struct Station {
    GangBench Bench;
    FaultDriver Faults{Bench};
    codec::CodecState State;
    RunFlags Flags;
    Recorder Reports;
    codec::FixedUtcClock Clock{{2026, 12, 9, 10, 0, 0}};
    DeviceEngine Engine{Faults, State, Flags, Reports, Clock};
    RunContext Context;

    Station() {
        for (const char* eeprom : {"93C46", "93C56", "93C66"})
            for (int i = 0; i < 4; ++i)
                Bench.AddDevice("KR2S", eeprom);
        Bench.AddDevice("KR1S", "93C46");
        Bench.AddDevice("KR1S", "93C56");
        Bench.AddDevice("KR3D", "93C56");
        Context.DeviceFinished = [this](const DeviceOutcome&) { Reports.Add("callback", ""); };
    }
    std::vector<std::vector<std::uint16_t>> Words() const {
        std::vector<std::vector<std::uint16_t>> words;
        for (int i = 0; i < Bench.DeviceCount(); ++i)
            words.push_back(Bench.Words(i));
        return words;
    }
};

TEST(GangRun, GivesWhatTheRunOneByOneGivesDeviceForDevice) {
    struct Case {
        const char* name;
        ChipType type;
        std::string serial;
        int sourceDry; // a SerialSource that has no number from this position on; -1: none
        int passed;
        RunEnd end;
        std::function<void(Station&)> prepare;
    } const cases[] = {
        {"fixed serial numbers", ChipType::KR2S, "GANG0001", -1, 14, RunEnd::Completed, {}},
        {"a serial source", ChipType::KR2S, "", 99, 14, RunEnd::Completed, {}},
        {"a source that runs dry", ChipType::KR2S, "", 5, 5, RunEnd::Stopped, {}},
        {"the KR3 template", ChipType::KR3D, "KR3AB001", -1, 1, RunEnd::Completed, {}},
        {"a scan filter", ChipType::KR2S, "ODD00001", -1, 7, RunEnd::Completed,
         [](Station& s) {
             std::set<std::string> odd;
             for (int i = 1; i < s.Bench.DeviceCount(); i += 2)
                 odd.insert(s.Bench.SerialOf(i));
             s.Context.ScanFilter = [odd](const std::string& serial) {
                 return odd.contains(serial);
             };
         }},
        {"a device the scan cannot examine", ChipType::KR2S, "SKIP0001", -1, 13, RunEnd::Failed,
         [](Station& s) {
             s.Bench.AddFault(6, Fault{FaultKind::Info, {}, VQ_IO_ERROR, -1});
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Station one, all;
        int writesBefore = 0; // writes made before a setting or a number was taken
        for (Station* s : {&one, &all}) {
            if (c.prepare) c.prepare(*s);
            if (c.sourceDry >= 0)
                s->Context.SerialSource = [&, s](int position,
                                                 std::string&) -> std::optional<std::string> {
                    if (s == &all) writesBefore += all.Faults.Calls("VQ_WriteEE");
                    if (position >= c.sourceDry) return std::nullopt;
                    return "SRC000" + std::to_string(position + 1);
                };
        }
        all.Bench.MeetAt = c.passed;
        Template oneSettings(one.State, one.Reports, c.type, c.serial);
        Template allSettings(all.State, all.Reports, c.type, c.serial);
        allSettings.OnGather = [&] { writesBefore += all.Faults.Calls("VQ_WriteEE"); };

        EXPECT_EQ(one.Engine.ProgramRun(oneSettings, one.Context), c.end);
        EXPECT_EQ(all.Engine.ProgramRunParallel(allSettings, all.Context), c.end);
        EXPECT_EQ(all.Reports.Events, one.Reports.Events);
        EXPECT_EQ(all.Words(), one.Words());
        EXPECT_EQ(all.State.WriteImage, one.State.WriteImage);
        EXPECT_EQ(all.Reports.Starting("line: Programmed").size(), std::size_t(c.passed));
        EXPECT_EQ(all.Bench.MostOpen, c.passed) << "every device open at once";
        EXPECT_EQ(all.Reports.Foreign, 0);
        EXPECT_EQ(writesBefore, 0);
        EXPECT_EQ(all.Bench.OpenHandles() + one.Bench.OpenHandles(), 0);
    }
}

TEST(GangRun, AFailingDeviceFailsAloneAndTheOthersPass) {
    Station s, clean;
    s.Bench.AddFault(3, Fault{FaultKind::Write, 3u, VQ_EEPROM_WRITE_FAILED, -1});
    s.Bench.Throw = 5;
    s.Bench.Unplug = 7;
    s.Bench.FailOpen = 11;
    s.Bench.MeetAt = 13; // the unplug moves the indexes: every device is open before it
    std::vector<std::string> serials; // by driver index before the run
    for (int i = 0; i < s.Bench.DeviceCount(); ++i)
        serials.push_back(s.Bench.SerialOf(i));
    Template settings(s.State, s.Reports, ChipType::KR2S, "FLT00001");
    EXPECT_EQ(s.Engine.ProgramRunParallel(settings, s.Context), RunEnd::Failed);

    const std::map<int, std::string> reasons{
        {3, "Error reading device"},
        {5, "ERROR - Device 5 failed: bus gone"},
        {7, "Error reading device"},
        {11, "ERROR - Device 11 could not be examined: VQ_Open - Device Not Opened..."}};
    ASSERT_EQ(s.Reports.Outcomes.size(), 14u);
    for (const DeviceOutcome& o : s.Reports.Outcomes) {
        const auto failed = reasons.find(o.DriverIndex);
        EXPECT_EQ(o.Reason, failed == reasons.end() ? "" : failed->second) << o.DriverIndex;
        if (o.Position >= 0) {
            EXPECT_EQ(o.SerialNumber,
                      "FLT0000" + std::string(1, static_cast<char>('1' + o.Position)));
        }
    }
    EXPECT_EQ(
        s.Reports.Starting("error: "),
        (std::vector<std::string>{"error: VQ_Open - Device Not Opened...",
                                  "error: Error reading device", "error: Error reading device"}));
    // Each device that passed holds what the run one by one writes on a bench without
    // faults; the one that failed its open is still blank.
    clean.Bench.FailOpen = 11;
    Template cleanSettings(clean.State, clean.Reports, ChipType::KR2S, "FLT00001");
    ASSERT_EQ(clean.Engine.ProgramRun(cleanSettings, clean.Context), RunEnd::Failed);
    ASSERT_EQ(s.Bench.DeviceCount(), 15);
    for (int i = 0; i < s.Bench.DeviceCount(); ++i) {
        const auto index =
            std::find(serials.begin(), serials.end(), s.Bench.SerialOf(i)) - serials.begin();
        if (index == 3 || index == 5) continue; // a word failed; a read threw
        const std::vector<std::uint16_t> blank(s.Bench.Words(i).size(), 0xFFFF);
        EXPECT_EQ(s.Bench.Words(i), index == 11 ? blank : clean.Bench.Words(int(index))) << index;
    }
    EXPECT_EQ(s.Bench.OpenHandles(), 0);
}

TEST(GangRun, AStopLetsTheDevicesRunningFinishAndOneBeforeTheStartWritesNothing) {
    Station late, early;
    late.Reports.Stop = [&] { return late.Reports.Outcomes.size() == 2; };
    early.Context.StopWanted = [] { return true; };
    for (Station* s : {&late, &early}) {
        Template settings(s->State, s->Reports, ChipType::KR2S, "STP00001");
        EXPECT_EQ(s->Engine.ProgramRunParallel(settings, s->Context), RunEnd::Cancelled);
    }
    EXPECT_EQ(late.Reports.Starting("line: Programmed").size(), 14u);
    EXPECT_EQ(late.Reports.Starting("line: Stopped"),
              std::vector<std::string>{"line: Stopped after device 1"});
    EXPECT_EQ(early.Faults.Calls("VQ_WriteEE"), 0);
    EXPECT_EQ(early.Reports.Starting("line: Stopped"),
              std::vector<std::string>{"line: Stopped before device 0"});
}

TEST(GangRun, APositionWithoutASerialNumberIsNeverWrittenAtOnce) {
    // No number from the template, or an empty one from the source: the clock would be
    // asked, which cannot number devices written at once.
    Station noSerial, emptySource;
    Template settings(noSerial.State, noSerial.Reports, ChipType::KR2S, "");
    emptySource.Context.SerialSource = [](int, std::string&) { return std::string(); };
    Template sourced(emptySource.State, emptySource.Reports, ChipType::KR2S, "");
    for (auto [station, source] : {std::pair{&noSerial, &settings}, {&emptySource, &sourced}}) {
        EXPECT_EQ(station->Engine.ProgramRunParallel(*source, station->Context), RunEnd::Stopped);
        EXPECT_EQ(station->Faults.Calls("VQ_WriteEE"), 0);
        ASSERT_EQ(station->Reports.Outcomes.size(), 1u);
        EXPECT_EQ(station->Reports.Outcomes[0].Reason, ClockSerialsNotAtOnce);
    }
}

} // namespace
} // namespace burnwise::device::testing
