#pragma once

#include "burnwise/app/Station.h"

#include <chrono>
#include <functional>

namespace burnwise::app {

// How often the watch asks the driver for the number of attached devices.
inline constexpr std::chrono::milliseconds WatchPollInterval{500};
// Polls in a row a device may fail to answer before the watch reports it.
inline constexpr int UnansweredPolls = 3;

struct WatchRequest {
    // What each pass programs. Its Observe keeps the record of every outcome, the watch's
    // own included; false from it ends the watch at once.
    ProgramRequest Program;
    // Asked before each poll and each wait.
    std::function<bool()> StopRequested;
    // Waits `duration`, or less once a stop is requested.
    std::function<void(std::chrono::nanoseconds duration)> Sleep;
};

struct WatchResult {
    bool AnyFailed = false;    // a device failed or was refused
    bool RecordFailed = false; // an outcome could not be recorded: the watch ended there
    // The plan refused the template (see Refused; the template checks have shown their lines
    // and box): the watch did not start, nothing was opened.
    bool TemplateRefused = false;
    std::optional<Refusal> Refused;
};

// The production line's watch: waits for devices and programs each one as it is plugged
// in, until a stop is requested. Devices are told apart by the serial number they report;
// one that is unplugged is forgotten, so plugging it in again judges it afresh. Every
// device gets a "PASS device N serial S" or "FAIL device N ...: REASON" line.
class Watcher {
public:
    Watcher(Station& station, device::Reporter& reporter)
        : station_(station), reporter_(reporter) {}
    WatchResult Run(const WatchRequest& request);

private:
    Station& station_;
    device::Reporter& reporter_;
};

} // namespace burnwise::app
