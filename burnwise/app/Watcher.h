#pragma once

#include "burnwise/app/Station.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
    // When set: whether a device holding `image`, whose image holds the serial number
    // `serial`, holds what the records say it was given (a PASS program record of that
    // number with that image). Such a device is not written again. Nothing when the records
    // cannot be asked: the device is left alone until they can.
    std::function<std::optional<bool>(const codec::EepromImage& image, const std::string& serial)>
        Recorded;
    // When set, told of the serial numbers each poll found attached, by driver index (empty
    // where a device did not answer): the one count the poll works from.
    std::function<void(const std::vector<std::string>& serials)> Attached;
    // When set: whether the records can be reached now (asked before each pass that would
    // write a device); false with `error` set when they cannot.
    std::function<bool(std::string& error)> RecordsReachable;
    // When set: whether the connection to the records is gone, so that the watch waits for
    // them rather than ending.
    std::function<bool()> RecordsLost;
    // Reopens the records after they were lost and keeps what could not be written then;
    // false with `error` while they still cannot be reached.
    std::function<bool(std::string& error)> Reconnect;
    // When set, told when the watch starts (true) and ends (false) waiting for its records.
    std::function<void(bool waiting)> Waiting;
};

// Said while a watch waits for its database; no device is written meanwhile.
inline constexpr std::string_view WaitingForDatabaseLine = "database unreachable - waiting";
// The longest wait between two tries to reach the database again.
inline constexpr std::chrono::milliseconds MaxReconnectInterval{4000};

struct WatchResult {
    bool AnyFailed = false;    // a device failed or was refused
    bool RecordFailed = false; // an outcome could not be recorded: the watch ended there
    // The plan refused the template (see Refused; the template checks have shown their lines
    // and box): the watch did not start, nothing was opened.
    bool TemplateRefused = false;
    std::optional<Refusal> Refused;
};

// The production line's watch: waits for devices and programs each one as it is plugged
// in, until a stop is requested. Devices are told apart by the serial number they report,
// never by the index a driver count gives them; one that is unplugged is forgotten, so
// plugging it in again judges it afresh (and one that holds what the records gave it is
// not written again). Every device gets a "PASS device N serial S" or "FAIL device N ...:
// REASON" line. While the records cannot be reached it writes nothing and waits for them.
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
