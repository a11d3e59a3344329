#include "burnwise/app/Watcher.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace burnwise::app {

WatchResult Watcher::Run(const WatchRequest& request) {
    device::DeviceEngine& engine = station_.Engine();
    WatchResult result;
    const auto record = [&](const device::DeviceOutcome& outcome) {
        if (request.Program.Observe && !request.Program.Observe(outcome))
            result.RecordFailed = true;
    };
    const auto refuse = [&](std::int32_t index, std::string model, std::string serial,
                            std::string reason) {
        result.AnyFailed = true;
        reporter_.AppendLine("FAIL device " + std::to_string(index) +
                             (serial.empty() ? "" : " serial " + serial) + ": " + reason);
        device::DeviceOutcome outcome;
        outcome.Operation = device::DeviceOperation::Program;
        outcome.DriverIndex = index;
        outcome.Model = std::move(model);
        outcome.SerialNumber = std::move(serial);
        outcome.Reason = std::move(reason);
        record(outcome);
    };

    // A template that cannot be programmed would be refused again at every poll: it is
    // planned once, as each pass plans it, before any device is looked at.
    const ProgramRequest& asked = request.Program;
    std::variant<RunPlan, Refusal> planned = PlanRun(
        {asked.Shown, asked.Serials ? asked.Source : SerialSource::Template, asked.Parallel, true},
        reporter_);
    if (Refusal* refused = std::get_if<Refusal>(&planned)) {
        result.TemplateRefused = true;
        result.Refused = std::move(*refused);
        return result;
    }

    const Template& shown = std::get<RunPlan>(planned).Checked;
    const std::string modelText =
        shown.Model ? std::string(codec::ChipModelOf(*shown.Model).ListText) : std::string();

    // Serial numbers of the attached devices already programmed or refused. Only a complete
    // answer forgets one: a device that did not answer for a moment is still there.
    std::set<std::string> judged;
    std::map<std::int32_t, int> unanswered; // driver index: polls in a row it did not answer
    std::set<std::int32_t> unopenable;      // reported as such, until it answers or goes
    std::set<std::int32_t> finished;        // driver indexes the last pass finished with
    // Reported serial numbers the last pass could not ask the records about.
    std::set<std::string> unasked;
    std::mutex asking; // a pass that programs every device at once asks on many threads
    bool tooMany = false;
    bool waiting = false; // for the records: nothing is written meanwhile
    std::chrono::milliseconds backOff = WatchPollInterval;

    const auto lost = [&] { return request.RecordsLost && request.RecordsLost(); };
    const auto startWaiting = [&](const std::string& why) {
        if (waiting) return;
        waiting = true;
        backOff = WatchPollInterval;
        reporter_.AppendLine(std::string(WaitingForDatabaseLine) + (why.empty() ? "" : ": " + why));
        if (request.Waiting) request.Waiting(true);
    };

    ProgramRequest pass = request.Program;
    pass.Observe = [&](const device::DeviceOutcome& outcome) {
        // No number could be reserved because the database went away: the device was not
        // touched and is taken again once the records are back.
        if (!outcome.Passed && outcome.SerialNumber.empty() && lost()) return false;
        finished.insert(outcome.DriverIndex);
        if (!outcome.Passed) result.AnyFailed = true;
        if (outcome.Passed)
            reporter_.AppendLine("PASS device " + std::to_string(outcome.DriverIndex) + " serial " +
                                 outcome.SerialNumber);
        else if (const std::string seen = engine.ReportedSerial(outcome.DriverIndex);
                 outcome.Position < 0 && !seen.empty())
            // Not examined, so it was given nothing: named by the serial it reports.
            reporter_.AppendLine("FAIL device " + std::to_string(outcome.DriverIndex) + " serial " +
                                 seen + ": " + outcome.Reason);
        else
            reporter_.AppendLine("FAIL device " + std::to_string(outcome.DriverIndex) + ": " +
                                 outcome.Reason);
        record(outcome);
        return !result.RecordFailed;
    };
    if (request.Recorded)
        pass.AlreadyWritten = [&](const std::string& reported, const codec::EepromImage& image,
                                  const std::string& serial) -> std::optional<std::string> {
            const std::lock_guard lock(asking);
            const std::optional<bool> recorded = request.Recorded(image, serial);
            if (!recorded) {
                // Written again only once the records say it was not given this image.
                unasked.insert(reported);
                return "records unreachable - nothing written to the device holding " + serial;
            }
            if (!*recorded) return std::nullopt;
            return "already programmed " + serial + " - not written again";
        };

    reporter_.AppendLine("Waiting for " + modelText + " devices (Ctrl+C stops)");
    for (bool first = true; !request.StopRequested(); first = false) {
        if (!first) request.Sleep(waiting ? backOff : WatchPollInterval);
        if (request.StopRequested()) break;
        if (waiting) {
            std::string error;
            if (!request.Reconnect || !request.Reconnect(error)) {
                backOff = std::min(backOff * 2, MaxReconnectInterval);
                continue;
            }
            waiting = false;
            reporter_.AppendLine("database reachable again - watching");
            if (request.Waiting) request.Waiting(false);
        }
        // One count per poll: the serial numbers walked here are the devices the pass takes,
        // whatever index the driver gives them by then. A failed count tells nothing.
        const std::optional<std::vector<std::string>> walked = engine.AttachedSerials();
        if (!walked) continue;
        const std::vector<std::string>& serials = *walked;
        if (request.Attached) request.Attached(serials);
        const std::int32_t count = engine.Unit.DeviceCount;
        if (count > device::MaxScanDevices && !tooMany)
            reporter_.AppendLine("only the first " + std::to_string(device::MaxScanDevices) +
                                 " devices are examined");
        tooMany = count > device::MaxScanDevices;

        // The set of serial numbers, not the count: a device swapped within one poll shows.
        const bool complete = std::none_of(serials.begin(), serials.end(),
                                           [](const std::string& s) { return s.empty(); });
        if (complete)
            std::erase_if(judged, [&](const std::string& serial) {
                return std::find(serials.begin(), serials.end(), serial) == serials.end();
            });
        std::set<std::string> fresh;
        for (std::size_t i = 0; i < serials.size(); ++i) {
            const auto index = static_cast<std::int32_t>(i);
            if (!serials[i].empty()) {
                unanswered.erase(index);
                unopenable.erase(index);
                if (!judged.contains(serials[i])) fresh.insert(serials[i]);
                continue;
            }
            // One that keeps failing is a device that cannot be opened: said once.
            if (++unanswered[index] < UnansweredPolls || unopenable.contains(index)) continue;
            unopenable.insert(index);
            refuse(index, "", "", "cannot be opened or asked for its serial number");
        }
        std::erase_if(unanswered, [&](const auto& entry) {
            return entry.first >= static_cast<std::int32_t>(serials.size());
        });
        if (result.RecordFailed) {
            if (!lost()) return result;
            result.RecordFailed = false;
            startWaiting("");
            continue;
        }
        if (fresh.empty()) continue;
        if (std::string error; request.RecordsReachable && !request.RecordsReachable(error)) {
            startWaiting(error);
            continue;
        }

        pass.ScanFilter = [&fresh](const std::string& serial) { return fresh.contains(serial); };
        finished.clear();
        unasked.clear();
        const Report report = station_.Program(pass);

        // What the pass's own scan found, by the serial number each device reported there.
        std::map<std::string, std::int32_t> scanned;
        for (std::int32_t index = 0; index < device::MaxScanDevices; ++index)
            if (const std::string seen = engine.ReportedSerial(index); !seen.empty())
                scanned.emplace(seen, index);
        for (const std::string& serial : fresh) {
            const auto at = scanned.find(serial);
            // Gone before the pass looked, or not asked about: it comes again while attached.
            if (at == scanned.end() || unasked.contains(serial)) continue;
            const std::int32_t index = at->second;
            if (finished.contains(index) || engine.FoundAlreadyWritten(index) ||
                engine.ReportedSecondChannel(index)) {
                // Channel B of a KR3 chip goes with channel A: nothing of its own to do.
                judged.insert(serial);
            } else if (report.End == device::RunEnd::Stopped ||
                       report.End == device::RunEnd::Cancelled) {
                // The pass ended at an earlier device; this one comes again at the next poll.
            } else {
                judged.insert(serial);
                // The serial number recorded is the one the device reports; nothing was
                // written.
                refuse(index, engine.ReportedModel(index), serial,
                       "not programmed (not blank, or not a " + modelText + " device)");
            }
        }
        if (result.RecordFailed || lost()) {
            if (!lost()) return result;
            result.RecordFailed = false;
            startWaiting("");
        }
    }
    reporter_.AppendLine("Stopped");
    return result;
}

} // namespace burnwise::app
