// Programming every device at once, against the run one by one on a copy of the same bench.
#include "burnwise/codec/ImageDecoder.h"
#include "burnwise/codec/ImageEncoder.h"
#include "burnwise/device/DeviceEngine.h"
#include "burnwise/device/testing/FaultDriver.h"
#include "burnwise/device/testing/InProcessBench.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace burnwise::device::testing {
namespace {

using codec::ChipType;

// Everything a run reports, in order, each entry one text; every call must come from the
// thread that made the reporter.
class RecordingReporter final : public Reporter {
public:
    std::vector<std::string> Events;
    std::vector<DeviceOutcome> Outcomes;
    std::function<bool(const RecordingReporter&)> Stop;
    int ForeignCalls = 0;

    void AppendLine(std::string_view line) override { Add("line: " + std::string(line)); }
    void ClearLines() override { Add("clear"); }
    void ShowError(std::string_view text) override { Add("error: " + std::string(text)); }
    void ShowInformation(std::string_view text) override { Add("info: " + std::string(text)); }
    void DeviceProgress(int position, int count) override {
        Add("progress " + std::to_string(position) + "/" + std::to_string(count));
    }
    void DeviceFinished(const DeviceOutcome& o) override {
        Outcomes.push_back(o);
        Add("finished " + std::to_string(o.Position) + " index " + std::to_string(o.DriverIndex) +
            " " + o.Model + " " + o.EepromTypeName + " " + o.SerialNumber +
            (o.Passed ? " PASS" : " FAIL " + o.Reason));
    }
    bool StopRequested() override { return Stop && Stop(*this); }

    std::vector<std::string> Starting(std::string_view start) const {
        std::vector<std::string> found;
        for (const std::string& e : Events)
            if (e.starts_with(start)) found.push_back(e);
        return found;
    }

private:
    void Add(std::string event) {
        if (std::this_thread::get_id() != owner_) ++ForeignCalls;
        Events.push_back(std::move(event));
    }
    std::thread::id owner_ = std::this_thread::get_id();
};

// The fields of a KR2 or KR3 template as a window gives them; a fixed serial number advances
// its last character by the position, an empty one leaves the number to the clock.
class TemplateSettings final : public SettingsSource {
public:
    TemplateSettings(codec::CodecState& state, Reporter& reporter, ChipType type,
                     std::string serial)
        : state_(state), reporter_(reporter), model_(codec::ChipModelOf(type)),
          serial_(std::move(serial)) {
        state_.Selectors = model_.Selectors;
    }
    std::vector<int> Gathered;
    std::function<void()> OnGather;

    bool CheckStringTotal() override {
        reporter_.ClearLines();
        return true;
    }
    void GatherSettings(int n) override {
        Gathered.push_back(n);
        if (OnGather) OnGather();
        codec::EepromSettings& s = state_.Settings;
        s.Reset();
        s.VendorId = 0x1A2B;
        s.ProductId = 0x6001;
        codec::SetText(s.Manufacturer, "Maker");
        codec::SetText(s.SerialPrefix, "GR");
        codec::SetText(s.ProductDescription, "Gang Line");
        std::string serial = serial_;
        if (!serial.empty()) serial.back() = static_cast<char>(serial.back() + n);
        codec::SetText(s.SerialNumber, serial);
        s.MaxPowerMilliAmps = 90;
        const bool kr3 = model_.Family == codec::ChipFamily::KR3;
        s.Kr2Present = !kr3;
        s.Kr2SerialNumberEnable = !kr3;
        s.Kr2UsbVersionEnable = !kr3;
        s.Kr2UsbVersion = 0x0200;
        s.Kr3Present = kr3;
        s.Kr3SerialNumberEnable = kr3;
        s.Kr3UsbVersion = 0x0200;
        s.SideAFifo = kr3;
    }

private:
    codec::CodecState& state_;
    Reporter& reporter_;
    const codec::ChipModel& model_;
    std::string serial_;
};

// Passes every call on to the bench; holds each device's second open (the programming one)
// until `MeetAt` devices have come that far or a few seconds have passed, and keeps the most
// programming handles open at once. Can fail one device's second open and unplug one device at its
// tenth word written.
class GangDriver final : public PipexDriver {
public:
    explicit GangDriver(InProcessBench& bench) : bench_(bench) {}
    int MeetAt = 0;
    std::int32_t FailSecondOpenOf = -1;
    std::int32_t UnplugWhileWriting = -1;
    std::int32_t ThrowWhileReading = -1; // on the programming handle

    int Calls() const { return Read(calls_); }
    int Writes() const { return Read(writes_); }
    int MostOpen() const { return Read(mostOpen_); }

    VQ_STATUS ListDevices(std::int32_t* count, void* reserved, std::uint32_t flags) override {
        Count(false);
        return bench_.ListDevices(count, reserved, flags);
    }
    VQ_STATUS Open(std::int32_t index, VQ_HANDLE* handle) override {
        Count(false);
        std::unique_lock lock(mutex_);
        const bool programming = ++opens_[index] == 2;
        VQ_STATUS status = VQ_DEVICE_NOT_OPENED;
        if (!programming || index != FailSecondOpenOf) {
            lock.unlock();
            status = bench_.Open(index, handle);
            lock.lock();
        }
        if (status == VQ_OK && programming) {
            programmingOpen_.insert(*handle);
            mostOpen_ = std::max(mostOpen_, static_cast<int>(programmingOpen_.size()));
        }
        if (status == VQ_OK) indexOf_[*handle] = index;
        if (programming && MeetAt > 0) {
            ++met_;
            met_changed_.notify_all();
            met_changed_.wait_for(lock, std::chrono::seconds(5), [this] { return met_ >= MeetAt; });
        }
        return status;
    }
    VQ_STATUS Close(VQ_HANDLE handle) override {
        Count(false);
        {
            std::lock_guard guard(mutex_);
            indexOf_.erase(handle);
            programmingOpen_.erase(handle);
        }
        return bench_.Close(handle);
    }
    VQ_STATUS SetLatencyTimer(VQ_HANDLE handle, std::uint8_t value) override {
        Count(false);
        return bench_.SetLatencyTimer(handle, value);
    }
    VQ_STATUS GetDeviceInfo(VQ_HANDLE handle, std::uint32_t* typeCode, std::uint32_t* deviceId,
                            char* serialNumber, char* description, void* reserved) override {
        Count(false);
        return bench_.GetDeviceInfo(handle, typeCode, deviceId, serialNumber, description,
                                    reserved);
    }
    VQ_STATUS ReadEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t* value) override {
        Count(false);
        {
            std::lock_guard guard(mutex_);
            if (indexOf_[handle] == ThrowWhileReading && programmingOpen_.contains(handle))
                throw std::runtime_error("bus gone");
        }
        return bench_.ReadEE(handle, wordOffset, value);
    }
    VQ_STATUS WriteEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t value) override {
        Count(true);
        bool unplug = false;
        {
            std::lock_guard guard(mutex_);
            unplug = indexOf_[handle] == UnplugWhileWriting && ++unplugWrites_ == 10;
        }
        if (unplug) bench_.RemoveDevice(UnplugWhileWriting);
        return bench_.WriteEE(handle, wordOffset, value);
    }
    VQ_STATUS EraseEE(VQ_HANDLE handle) override {
        Count(false);
        return bench_.EraseEE(handle);
    }
    VQ_STATUS CyclePort(VQ_HANDLE handle) override {
        Count(false);
        return bench_.CyclePort(handle);
    }

private:
    void Count(bool write) {
        std::lock_guard guard(mutex_);
        ++calls_;
        writes_ += write;
    }
    int Read(const int& value) const {
        std::lock_guard guard(mutex_);
        return value;
    }

    InProcessBench& bench_;
    mutable std::mutex mutex_;
    std::condition_variable met_changed_;
    std::map<std::int32_t, int> opens_;
    std::map<VQ_HANDLE, std::int32_t> indexOf_;
    std::set<VQ_HANDLE> programmingOpen_;
    int met_ = 0, calls_ = 0, writes_ = 0, mostOpen_ = 0, unplugWrites_ = 0;
};

// Puts a valid KR2 image into the bench's part, as an earlier run would leave it.
void Preprogram(InProcessBench& bench, int index) {
    codec::CodecState st;
    codec::SetText(st.Settings.SerialNumber, "PRE00001");
    st.Settings.Kr2Present = 1;
    codec::EncodeImage(st.Settings, codec::ChipModelOf(ChipType::KR2S).Selectors, "93C46",
                       codec::FixedUtcClock({}), st.WriteImage);
    bench.SetWords(index, std::span(st.WriteImage).first(64));
}

// Sixteen devices: KR2S on each of the three parts (four each), two KR1S, and a KR3D (two
// devices, its channels A and B).
void SixteenDevices(InProcessBench& bench) {
    for (const char* eeprom : {"93C46", "93C56", "93C66"})
        for (int i = 0; i < 4; ++i)
            bench.AddDevice("KR2S", eeprom);
    bench.AddDevice("KR1S", "93C46");
    bench.AddDevice("KR1S", "93C56");
    bench.AddDevice("KR3D", "93C56");
}

// One bench and one engine with everything it reported.
struct Station {
    InProcessBench Bench;
    GangDriver Driver{Bench};
    FaultDriver Faults{Driver};
    codec::CodecState State;
    RunFlags Flags;
    RecordingReporter Reports;
    codec::FixedUtcClock Clock{codec::UtcTime{2026, 12, 9, 10, 0, 0}};
    DeviceEngine Engine{Faults, State, Flags, Reports, Clock};
    std::vector<std::string> Finished; // what DeviceFinished saw
    int ForeignCalls = 0;              // engine callbacks from another thread

    Station() {
        SixteenDevices(Bench);
        Engine.DeviceFinished = [this](const DeviceOutcome& o) {
            Note();
            Finished.push_back(std::to_string(o.Position) + (o.Passed ? " PASS" : " FAIL"));
        };
    }
    void Note() { ForeignCalls += std::this_thread::get_id() != owner_; }

    // The serial number of the valid KR2 image the device holds; empty for none.
    std::string SerialHeld(std::int32_t index) {
        codec::CodecState state;
        state.Selectors = codec::ChipModelOf(ChipType::KR2S).Selectors;
        RecordingReporter quiet;
        DeviceEngine reader(Bench, state, Flags, quiet, Clock);
        if (!reader.Unit.OpenDeviceAt(index)) return {};
        const bool valid = reader.ReadAndClassify(codec::DecodeKeepChipType) == VerdictProgrammed;
        reader.Unit.CloseCurrentDevice();
        return valid ? std::string(codec::TextOf(state.Settings.SerialNumber)) : std::string();
    }

    std::vector<std::vector<std::uint16_t>> AllWords() const {
        std::vector<std::vector<std::uint16_t>> words;
        for (int i = 0; i < Bench.DeviceCount(); ++i)
            words.push_back(Bench.Words(i));
        return words;
    }

private:
    std::thread::id owner_ = std::this_thread::get_id();
};

TEST(GangRun, GivesWhatTheRunOneByOneGivesDeviceForDevice) {
    struct Case {
        const char* name;
        ChipType type;
        std::string serial;
        bool source;    // serial numbers from a SerialSource ("SRC0001" + position)
        int sourceGaps; // the source has none from this position on (-1: never)
        int expectedPassed;
        RunEnd end;
        std::function<void(Station&)> prepare;
    } const cases[] = {
        {"fixed serial numbers", ChipType::KR2S, "GANG0001", false, -1, 14, RunEnd::Completed, {}},
        {"serial numbers from a source", ChipType::KR2S, "", true, -1, 14, RunEnd::Completed, {}},
        {"a source that runs dry", ChipType::KR2S, "", true, 5, 5, RunEnd::Stopped, {}},
        {"the KR3 template", ChipType::KR3D, "KR3AB001", false, -1, 1, RunEnd::Completed, {}},
        {"only blank devices", ChipType::KR2S, "BLNK0001", false, -1, 12, RunEnd::Completed,
         [](Station& s) {
             s.Flags.OnlyBlankDevices = true;
             Preprogram(s.Bench, 2);
             Preprogram(s.Bench, 9);
         }},
        {"a scan filter", ChipType::KR2S, "ODD00001", false, -1, 7, RunEnd::Completed,
         [](Station& s) { s.Engine.ScanFilter = [](std::int32_t index) { return index % 2; }; }},
        {"a device the scan cannot examine", ChipType::KR2S, "SKIP0001", false, -1, 13,
         RunEnd::Failed,
         [](Station& s) {
             s.Bench.AddFault(6, Fault{FaultKind::Info, std::nullopt, VQ_IO_ERROR, -1});
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Station one, all;
        for (Station* s : {&one, &all}) {
            if (c.prepare) c.prepare(*s);
            if (c.source)
                s->Engine.SerialSource = [s, &c](int position) -> std::optional<std::string> {
                    s->Note();
                    if (c.sourceGaps >= 0 && position >= c.sourceGaps) return std::nullopt;
                    return "SRC000" + std::to_string(position + 1);
                };
        }
        all.Driver.MeetAt = c.expectedPassed;
        int writesAtSource = 0;
        if (c.source) {
            auto inner = all.Engine.SerialSource;
            all.Engine.SerialSource = [&, inner](int position) {
                writesAtSource += all.Driver.Writes();
                return inner(position);
            };
        }
        TemplateSettings oneSettings(one.State, one.Reports, c.type, c.serial);
        TemplateSettings allSettings(all.State, all.Reports, c.type, c.serial);
        int writesAtGather = 0;
        allSettings.OnGather = [&] { writesAtGather += all.Driver.Writes(); };

        const RunEnd oneEnd = one.Engine.ProgramRun(oneSettings);
        const RunEnd allEnd = all.Engine.ProgramRunParallel(allSettings);

        EXPECT_EQ(oneEnd, c.end);
        EXPECT_EQ(allEnd, c.end);
        EXPECT_EQ(all.Reports.Events, one.Reports.Events);
        EXPECT_EQ(all.Finished, one.Finished);
        EXPECT_EQ(all.AllWords(), one.AllWords());
        EXPECT_EQ(all.State.WriteImage, one.State.WriteImage);
        EXPECT_EQ(all.State.EepromTypeName, one.State.EepromTypeName);
        EXPECT_EQ(all.Reports.Starting("line: Programmed Serial Number : ").size(),
                  static_cast<std::size_t>(c.expectedPassed));
        EXPECT_EQ(all.Reports.ForeignCalls + all.ForeignCalls, 0);
        EXPECT_EQ(writesAtGather + writesAtSource, 0) << "settings and numbers come first";
        EXPECT_EQ(all.Bench.OpenHandles(), 0);
        EXPECT_EQ(one.Bench.OpenHandles(), 0);
        EXPECT_EQ(all.Driver.MostOpen(), c.expectedPassed) << "every device open at once";
    }
}

TEST(GangRun, AFailingDeviceFailsAloneAndTheOthersPass) {
    Station s;
    s.Bench.AddFault(3, Fault{FaultKind::Write, 3u, VQ_EEPROM_WRITE_FAILED, -1});
    s.Driver.UnplugWhileWriting = 7;
    s.Driver.FailSecondOpenOf = 11;
    s.Driver.ThrowWhileReading = 5;
    s.Driver.MeetAt = 14; // every unplug comes after the last open, as indexes move with it
    std::vector<std::string> serials; // by driver index before the run
    for (int i = 0; i < s.Bench.DeviceCount(); ++i)
        serials.push_back(s.Bench.SerialOf(i));
    TemplateSettings settings(s.State, s.Reports, ChipType::KR2S, "FLT00001");
    EXPECT_EQ(s.Engine.ProgramRunParallel(settings), RunEnd::Failed);

    ASSERT_EQ(s.Reports.Outcomes.size(), 14u);
    const std::map<int, std::string> reasons{{3, "Error reading device"},
                                             {5, "ERROR - Device 5 failed: bus gone"},
                                             {7, "Error reading device"},
                                             {11, "Error opening device"}};
    for (const DeviceOutcome& o : s.Reports.Outcomes) {
        SCOPED_TRACE(o.Position);
        const auto failed = reasons.find(o.DriverIndex);
        EXPECT_EQ(o.Passed, failed == reasons.end());
        EXPECT_EQ(o.Reason, failed == reasons.end() ? "" : failed->second);
        EXPECT_EQ(o.SerialNumber, "FLT0000" + std::string(1, static_cast<char>('1' + o.Position)));
    }
    EXPECT_EQ(s.Reports.Starting("error: "),
              (std::vector<std::string>{
                  "error: Error reading device", "error: Error reading device",
                  "error: VQ_Open - Device Not Opened...", "error: Could Not Open Device 11",
                  "error: Error opening device"}));
    EXPECT_EQ(s.Reports.Starting("error: Could Not Open Device 11").size(), 1u);
    // What the run one by one writes on a bench without faults: each device that passed
    // holds that, the one that failed its open is still blank, and the unplugged one is gone.
    Station clean;
    TemplateSettings cleanSettings(clean.State, clean.Reports, ChipType::KR2S, "FLT00001");
    ASSERT_EQ(clean.Engine.ProgramRun(cleanSettings), RunEnd::Completed);
    ASSERT_EQ(s.Bench.DeviceCount(), 15);
    for (int i = 0; i < s.Bench.DeviceCount(); ++i) {
        const auto index =
            std::find(serials.begin(), serials.end(), s.Bench.SerialOf(i)) - serials.begin();
        SCOPED_TRACE(index);
        EXPECT_NE(index, 7);
        if (index == 3 || index == 5) continue; // its third word failed; it threw
        const std::vector<std::uint16_t> blank(s.Bench.Words(i).size(), 0xFFFF);
        EXPECT_EQ(s.Bench.Words(i),
                  index == 11 ? blank : clean.Bench.Words(static_cast<int>(index)));
    }
    EXPECT_EQ(s.Bench.OpenHandles(), 0);
}

TEST(GangRun, WhicheverCallsFailNoDevicePassesWithoutItsImageAndNothingStaysOpen) {
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        Station s;
        // Three calls anywhere in the run, in whatever order the threads make them.
        for (std::uint32_t k = 0; k < 3; ++k)
            s.Faults.FailCall(static_cast<int>((seed * 2654435761u + k * 40503u) % 4000u) + 1);
        TemplateSettings settings(s.State, s.Reports, ChipType::KR2S, "SWP00001");
        const RunEnd end = s.Engine.ProgramRunParallel(settings);

        EXPECT_EQ(s.Bench.OpenHandles(), 0);
        std::set<int> positions;
        std::set<std::string> serials;
        bool allPassed = true;
        for (const DeviceOutcome& o : s.Reports.Outcomes) {
            allPassed = allPassed && o.Passed;
            if (o.Position >= 0) {
                EXPECT_TRUE(positions.insert(o.Position).second);
            }
            if (!o.Passed) continue;
            EXPECT_EQ(s.SerialHeld(o.DriverIndex), o.SerialNumber) << "device " << o.DriverIndex;
            EXPECT_TRUE(serials.insert(o.SerialNumber).second);
        }
        EXPECT_EQ(positions.size(), static_cast<std::size_t>(s.Engine.Scan.SelectedCount));
        EXPECT_EQ(end == RunEnd::Completed, allPassed && !positions.empty());
        EXPECT_EQ(s.Faults.Failures(), 3);
    }
}

TEST(GangRun, AStopLetsTheRunningDevicesFinishAndAStopBeforeWritesNothing) {
    Station late;
    late.Reports.Stop = [](const RecordingReporter& r) { return r.Outcomes.size() == 2; };
    TemplateSettings lateSettings(late.State, late.Reports, ChipType::KR2S, "STP00001");
    EXPECT_EQ(late.Engine.ProgramRunParallel(lateSettings), RunEnd::Cancelled);
    EXPECT_EQ(late.Reports.Outcomes.size(), 14u);
    EXPECT_EQ(late.Reports.Starting("line: Programmed Serial Number : ").size(), 14u);
    EXPECT_EQ(late.Reports.Starting("line: Stopped after device"),
              std::vector<std::string>{"line: Stopped after device 1"});

    Station early;
    early.Engine.StopWanted = [] { return true; };
    TemplateSettings earlySettings(early.State, early.Reports, ChipType::KR2S, "STP00001");
    EXPECT_EQ(early.Engine.ProgramRunParallel(earlySettings), RunEnd::Cancelled);
    EXPECT_EQ(early.Driver.Writes(), 0);
    EXPECT_TRUE(early.Reports.Outcomes.empty());
    EXPECT_EQ(early.Reports.Starting("line: Stopped"),
              std::vector<std::string>{"line: Stopped before programming any device"});
}

TEST(GangRun, SerialNumbersFromTheClockAreRefusedBeforeAnythingIsOpened) {
    Station noSerial;
    TemplateSettings settings(noSerial.State, noSerial.Reports, ChipType::KR2S, "");
    EXPECT_TRUE(noSerial.Engine.SerialsFromClock(settings));
    EXPECT_EQ(noSerial.Engine.ProgramRunParallel(settings), RunEnd::Stopped);
    EXPECT_EQ(noSerial.Driver.Calls(), 0);
    EXPECT_EQ(
        noSerial.Reports.Events,
        (std::vector<std::string>{"error: " + std::string(ClockSerialsNotAtOnce), "progress 0/0"}));

    // A source that gives an empty number would leave it to the clock too.
    Station emptySource;
    emptySource.Engine.SerialSource = [](int) { return std::string(); };
    TemplateSettings sourced(emptySource.State, emptySource.Reports, ChipType::KR2S, "");
    EXPECT_FALSE(emptySource.Engine.SerialsFromClock(sourced));
    EXPECT_EQ(emptySource.Engine.ProgramRunParallel(sourced), RunEnd::Stopped);
    EXPECT_EQ(emptySource.Driver.Writes(), 0);
    ASSERT_EQ(emptySource.Reports.Outcomes.size(), 1u);
    EXPECT_EQ(emptySource.Reports.Outcomes[0].Reason, ClockSerialsNotAtOnce);
}

} // namespace
} // namespace burnwise::device::testing
