#include "burnwise/app/Watcher.h"

#include <algorithm>
#include <map>
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
    const std::vector<std::string>* attached = nullptr; // by driver index, during a pass
    bool tooMany = false;

    ProgramRequest pass = request.Program;
    pass.Observe = [&](const device::DeviceOutcome& outcome) {
        finished.insert(outcome.DriverIndex);
        if (!outcome.Passed) result.AnyFailed = true;
        if (outcome.Passed)
            reporter_.AppendLine("PASS device " + std::to_string(outcome.DriverIndex) + " serial " +
                                 outcome.SerialNumber);
        else if (outcome.Position < 0 && attached != nullptr &&
                 outcome.DriverIndex < static_cast<std::int32_t>(attached->size()))
            // Not examined, so it was given nothing: named by the serial it reports.
            reporter_.AppendLine("FAIL device " + std::to_string(outcome.DriverIndex) + " serial " +
                                 (*attached)[static_cast<std::size_t>(outcome.DriverIndex)] + ": " +
                                 outcome.Reason);
        else
            reporter_.AppendLine("FAIL device " + std::to_string(outcome.DriverIndex) + ": " +
                                 outcome.Reason);
        record(outcome);
        return !result.RecordFailed;
    };

    reporter_.AppendLine("Waiting for " + modelText + " devices (Ctrl+C stops)");
    for (bool first = true; !request.StopRequested(); first = false) {
        if (!first) request.Sleep(WatchPollInterval);
        if (request.StopRequested()) break;
        // A failed count tells nothing: keep what was known and ask again.
        if (engine.Unit.GetVQDeviceCount() != VQ_OK) continue;
        const std::int32_t count = engine.Unit.DeviceCount;
        if (count > device::MaxScanDevices && !tooMany)
            reporter_.AppendLine("only the first " + std::to_string(device::MaxScanDevices) +
                                 " devices are examined");
        tooMany = count > device::MaxScanDevices;

        // The set of serial numbers, not the count: a device swapped within one poll shows.
        const std::vector<std::string> serials = engine.AttachedSerials();
        const std::size_t expected =
            static_cast<std::size_t>(std::clamp(count, 0, device::MaxScanDevices));
        const bool complete = serials.size() == expected &&
                              std::none_of(serials.begin(), serials.end(),
                                           [](const std::string& s) { return s.empty(); });
        if (complete)
            std::erase_if(judged, [&](const std::string& serial) {
                return std::find(serials.begin(), serials.end(), serial) == serials.end();
            });
        std::set<std::int32_t> fresh;
        for (std::size_t i = 0; i < serials.size(); ++i) {
            const auto index = static_cast<std::int32_t>(i);
            if (!serials[i].empty()) {
                unanswered.erase(index);
                unopenable.erase(index);
                if (!judged.contains(serials[i])) fresh.insert(index);
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
        if (result.RecordFailed) return result;
        if (fresh.empty()) continue;

        pass.ScanFilter = [&](std::int32_t index) { return fresh.contains(index); };
        finished.clear();
        attached = &serials;
        const Report report = station_.Program(pass);
        attached = nullptr;

        for (const std::int32_t index : fresh) {
            const std::string& serial = serials[static_cast<std::size_t>(index)];
            if (finished.contains(index)) {
                judged.insert(serial);
                // The device the scan actually found there, should it have been swapped.
                const std::string seen = engine.ReportedSerial(index);
                if (!seen.empty()) judged.insert(seen);
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
        if (result.RecordFailed) return result;
    }
    reporter_.AppendLine("Stopped");
    return result;
}

} // namespace burnwise::app
