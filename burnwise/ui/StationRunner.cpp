#include "burnwise/ui/StationRunner.h"

#include "burnwise/app/StateFiles.h"
#include "burnwise/app/Station.h"
#include "burnwise/app/Watcher.h"
#include "burnwise/codec/SerialNumber.h"

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

namespace burnwise::ui {

namespace {

// The line a run ends with when a record could not be kept.
std::string RecordFailure(const app::Production& production) {
    return production.StopReason().empty() ? std::string("the record could not be written")
                                           : production.StopReason();
}

} // namespace

app::ProductionSetup SetupOf(const ProductionSettings& settings) {
    app::ProductionSetup setup;
    setup.TemplateFile = settings.TemplateFile;
    setup.DatabaseUrl = settings.DatabaseUrl;
    setup.Station = settings.StationName;
    setup.Serials = settings.SerialSource;
    if (setup.Serials == app::SerialSource::Counter) setup.CounterFile = settings.CounterFile;
    setup.Watch = true;
    setup.Words = [source = settings.SerialSource](const app::Refusal& refused) {
        return Worded(refused, source);
    };
    return setup;
}

// Where the run's station reports. Nobody reads its lines as they come (the tiles show the
// outcomes); a box is kept, since it says why a run could not begin.
class StationRunner::Notes final : public device::Reporter {
public:
    explicit Notes(StationRunner& runner) : runner_(runner) {}

    void AppendLine(std::string_view) override {}
    void ClearLines() override {}
    void ShowError(std::string_view text) override { LastBox.assign(text); }
    void ShowInformation(std::string_view) override {}
    bool StopRequested() override { return runner_.Stopping(); }

    std::string LastBox;

private:
    StationRunner& runner_;
};

namespace {

// Runs asked to stop that have not ended yet.
std::atomic<int> stoppingRuns{0};

} // namespace

bool StationRunner::AnyStopping() {
    return stoppingRuns.load() > 0;
}

StationRunner::StationRunner(device::PipexDriver& driver, app::StoreOpener opener)
    : driver_(driver), opener_(std::move(opener)) {}

StationRunner::~StationRunner() {
    RequestStop();
    if (thread_.joinable()) thread_.join();
}

void StationRunner::Start(const ProductionSettings& settings, ProductionEvents& events) {
    // The run before has sent its end; its thread is all but done.
    if (thread_.joinable()) thread_.join();
    {
        const std::lock_guard lock(mutex_);
        stop_ = false;
        running_ = true;
    }
    try {
        thread_ = std::thread([this, settings, &events] { Run(settings, events); });
    } catch (const std::system_error& error) {
        Ended();
        events.RunEnded(std::string("the run could not start: ") + error.what());
    }
}

void StationRunner::RequestStop() {
    const std::lock_guard lock(mutex_);
    stop_ = true;
    if (running_ && !countedStopping_) {
        countedStopping_ = true;
        ++stoppingRuns;
    }
    wake_.notify_all();
}

void StationRunner::Ended() {
    const std::lock_guard lock(mutex_);
    running_ = false;
    if (countedStopping_) --stoppingRuns;
    countedStopping_ = false;
}

bool StationRunner::ReprintLabel(const ProductionSettings& settings, const std::string& serial,
                                 std::string& line) {
    // The records keep the chip's 8-bit serial number as UTF-8.
    return ui::ReprintLabel(settings, records::ChipText(serial), opener_, line);
}

bool StationRunner::Stopping() {
    const std::lock_guard lock(mutex_);
    return stop_;
}

void StationRunner::Wait(std::chrono::nanoseconds duration) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, duration, [this] { return stop_; });
}

bool StationRunner::AskReuse(ProductionEvents& events, const std::string& question) {
    // The window answers on its own thread, maybe after this run is gone: the answer is
    // kept where both can reach it. The run waits for it, or for a stop.
    struct Answer {
        std::mutex Mutex;
        std::condition_variable Given;
        std::optional<bool> Yes;
    };
    const auto answer = std::make_shared<Answer>();
    events.AskReuse(question, [answer](bool yes) {
        const std::lock_guard lock(answer->Mutex);
        answer->Yes = yes;
        answer->Given.notify_all();
    });
    std::unique_lock lock(answer->Mutex);
    while (!answer->Yes) {
        if (Stopping()) return false;
        answer->Given.wait_for(lock, std::chrono::milliseconds(100));
    }
    return *answer->Yes;
}

void StationRunner::Run(const ProductionSettings& settings, ProductionEvents& events) {
    Notes notes(*this);
    std::string reason;
    try {
        reason = Watch(settings, events, notes);
    } catch (const std::exception& error) {
        reason = std::string("the run stopped on an error: ") + error.what();
    } catch (...) {
        reason = "the run stopped on an error";
    }
    Ended();
    events.RunEnded(reason);
}

std::string StationRunner::Watch(const ProductionSettings& settings, ProductionEvents& events,
                                 Notes& notes) {
    std::string error;
    // A layout that cannot be used ends the run before any device is touched.
    std::shared_ptr<labels::DeviceLabels> labels = OpenLabels(settings.Labels, error);
    if (settings.Labels.Print && !labels) return error;
    app::ProductionSetup setup = SetupOf(settings);
    setup.AskReuse = [this, &events](std::string_view question) {
        return AskReuse(events, std::string(question));
    };
    const std::unique_ptr<app::Production> production =
        app::Production::Open(setup, opener_, error, &notes);
    if (!production) return error;
    std::string said;
    for (const std::string& line : production->InterruptedAttempts())
        said += (said.empty() ? "" : "\n") + line;
    if (!said.empty()) events.StationSaid(said);

    // Serial numbers from the clock are kept in the user's state folder, as the window's and
    // the command line's are, so that no run on this machine repeats one.
    const codec::SystemUtcClock clock;
    const std::unique_ptr<device::ClockSerialRecord> clockRecord = app::MachineClockRecord();
    app::Station station(driver_, notes, clock, clockRecord.get());
    app::WatchRequest watch;
    watch.Program = production->Request("program");
    watch.Program.Started = [&events](std::int32_t index, const std::string& serial) {
        events.DeviceStarted(index, serial);
    };
    const auto record = std::move(watch.Program.Observe);
    watch.Program.Observe = [&](const device::DeviceOutcome& outcome) {
        if (!record || record(outcome)) {
            events.DeviceFinished(outcome);
            return true;
        }
        // A record kept for a database that is away is written once it is back: the device
        // shows as it ended, and the watch waits.
        if (production->Lost() && outcome.Passed) {
            events.DeviceFinished(outcome);
            return false;
        }
        // Without its record the device cannot be traced: it does not pass. One that failed
        // already (no number could be reserved for it) keeps its reason.
        device::DeviceOutcome unrecorded = outcome;
        if (unrecorded.Passed) unrecorded.Reason = RecordFailure(*production);
        unrecorded.Passed = false;
        events.DeviceFinished(unrecorded);
        return false;
    };
    // Each PASS device's label is handed over once its tile shows the PASS.
    if (labels)
        labels::PrintAfterRecords(
            watch.Program, *production, std::move(labels),
            [&events](const device::DeviceOutcome& outcome, const records::LabelStatus& status,
                      const std::string& line) {
                events.LabelFinished(outcome.DriverIndex, outcome.SerialNumber, status, line);
            });
    watch.StopRequested = [this] { return Stopping(); };
    watch.Sleep = [this](std::chrono::nanoseconds duration) { Wait(duration); };
    // At each poll the window learns which devices are there, from the count the watch
    // works from: a tile follows its device by the serial number it reports, whatever the
    // driver numbers it.
    watch.Attached = [&events](const std::vector<std::string>& serials) {
        events.DevicesAttached(serials);
    };
    production->Serve(watch);
    watch.Waiting = [&events](bool waiting) { events.DatabaseWaiting(waiting); };
    app::Watcher watcher(station, notes);
    const app::WatchResult result = watcher.Run(watch);
    if (result.RecordFailed) return RecordFailure(*production);
    if (production->Unwritten() != 0)
        return "the records of " + std::to_string(production->Unwritten()) +
               " devices programmed could not be written: " + std::string(app::DatabaseUnreachable);
    return {};
}

} // namespace burnwise::ui
