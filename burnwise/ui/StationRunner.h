#pragma once

#include "burnwise/app/Production.h"
#include "burnwise/device/PipexDriver.h"
#include "burnwise/ui/ProductionRunner.h"
#include "burnwise/ui/ProductionSettings.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace burnwise::ui {

// What a production run of the window is opened with: its settings as the command line's
// watch takes them.
app::ProductionSetup SetupOf(const ProductionSettings& settings);

// The window's production runner: the command line's watch on this station's driver. Each
// device plugged in is numbered from the run's serial source and programmed, and its record
// is written before the next one is taken; a record that cannot be written ends the run,
// the device in hand failing with the reason. One run at a time, on a thread of its own.
class StationRunner final : public ProductionRunner {
public:
    // `driver` outlives the runner; nothing else uses it while a run goes on. `opener` opens
    // the records database each run names.
    StationRunner(device::PipexDriver& driver, app::StoreOpener opener);
    ~StationRunner() override;
    StationRunner(const StationRunner&) = delete;
    StationRunner& operator=(const StationRunner&) = delete;

    void Start(const ProductionSettings& settings, ProductionEvents& events) override;
    void RequestStop() override;
    // Whether a run of this process was asked to stop and has not ended yet: the records'
    // stop check, so that a statement stalled on the database server is given up then, as
    // a signal gives it up for the command line. Safe to ask from any thread.
    static bool AnyStopping();
    bool ReprintLabel(const ProductionSettings& settings, const std::string& serial,
                      std::string& line) override;

private:
    class Notes;

    void Run(const ProductionSettings& settings, ProductionEvents& events);
    // The watch itself; returns why it ended by itself, or empty when it stopped as asked.
    std::string Watch(const ProductionSettings& settings, ProductionEvents& events, Notes& notes);
    bool Stopping();
    // The run is over: a stop asked of it no longer gives up stalled statements.
    void Ended();
    // Asks the window whether a number already passed may be written again; No on a stop.
    bool AskReuse(ProductionEvents& events, const std::string& question);
    // Waits `duration`, or less once a stop is asked for.
    void Wait(std::chrono::nanoseconds duration);

    device::PipexDriver& driver_;
    app::StoreOpener opener_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    bool running_ = false;
    // This run's stop is counted among the runs stopping.
    bool countedStopping_ = false;
    std::thread thread_;
};

} // namespace burnwise::ui
