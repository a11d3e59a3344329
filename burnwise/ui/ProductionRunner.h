#pragma once

#include "burnwise/device/Reporter.h"
#include "burnwise/records/RecordStore.h"
#include "burnwise/ui/ProductionSettings.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace burnwise::ui {

// What a production run tells the window, from the run's own thread, in the order it
// happens. Every Start ends in exactly one RunEnded, also a run that could not begin.
class ProductionEvents {
public:
    virtual ~ProductionEvents() = default;

    // A device is taken in hand (before anything is written to it), with the serial number
    // it reports (empty when it reported none).
    virtual void DeviceStarted(std::int32_t driverIndex, const std::string& reportedSerial) = 0;
    // The serial number each attached device reports at this poll, by driver index (empty
    // where one did not answer). The driver renumbers the devices after an earlier one goes
    // away, so only these numbers tell which device is which.
    virtual void DevicesAttached(const std::vector<std::string>& serials) = 0;
    // A device is done, passed or failed, and its record is written. A device whose record
    // could not be written comes as a FAIL, and RunEnded follows with the reason.
    virtual void DeviceFinished(const device::DeviceOutcome& outcome) = 0;
    // The label of a device that passed, printed or not, after its DeviceFinished.
    // `serial` is the number the device was given; `line` says what became of the label.
    virtual void LabelFinished(std::int32_t driverIndex, const std::string& serial,
                               const records::LabelStatus& status, const std::string& line) {
        (void)driverIndex, (void)serial, (void)status, (void)line;
    }
    // What the station says of itself as a run starts, before it takes any device: the
    // devices it was writing when it last stopped, one line each. For the log and a box.
    virtual void StationSaid(const std::string& lines) = 0;
    // Asks whether a serial number the records hold as PASS for another device may be
    // written again (`question` says which and when), at most once per run. The answer is
    // given to `answer`, on any thread; an answer never given counts as No once the run is
    // asked to stop.
    virtual void AskReuse(const std::string& question, std::function<void(bool)> answer) = 0;
    // The run is over: `reason` is empty when it stopped as asked, else the line saying why
    // it stopped ("database unreachable").
    virtual void RunEnded(const std::string& reason) = 0;
    // The run's database cannot be reached: nothing is written until it can (false), and the
    // run goes on by itself then.
    virtual void DatabaseWaiting(bool /*waiting*/) {}
};

// A production run: the watcher taking each device plugged in through the Program command,
// with its serial source and records. The window owns it and drives it from the GUI thread.
class ProductionRunner {
public:
    // Ends a run still going after the device in hand and returns only when the run's thread
    // is done: no event comes after it.
    virtual ~ProductionRunner() = default;

    // Starts a run on a thread of its own and returns at once. `events` outlives the run.
    virtual void Start(const ProductionSettings& settings, ProductionEvents& events) = 0;
    // Asks the run to end after the device in hand; callable at any time, also twice.
    virtual void RequestStop() = 0;
    // Prints the label of the device given `serial` again, from its record in the
    // settings' database; callable while a run goes on. `line` says what became of it.
    virtual bool ReprintLabel(const ProductionSettings& settings, const std::string& serial,
                              std::string& line) {
        (void)settings;
        line = "Label " + serial + " not printed: reprints are not available in this program";
        return false;
    }
};

} // namespace burnwise::ui
