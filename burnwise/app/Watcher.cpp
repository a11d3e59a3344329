#include "burnwise/app/Watcher.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace burnwise::app {
namespace {

// One watch in progress: what it knows of the attached devices from poll to poll.
class Watch {
public:
    Watch(Station& station, device::Reporter& reporter, const WatchRequest& request,
          const Template& shown)
        : station_(station), engine_(station.Engine()), reporter_(reporter), request_(request),
          modelText_(shown.Model ? std::string(codec::ChipModelOf(*shown.Model).ListText)
                                 : std::string()),
          pass_(request.Program) {
        pass_.Observe = [this](const device::DeviceOutcome& outcome) { return Observe(outcome); };
        if (request.Recorded)
            pass_.AlreadyWritten = [this](const std::string& reported,
                                          const codec::EepromImage& image,
                                          const std::string& serial) {
                return AlreadyWritten(reported, image, serial);
            };
    }

    WatchResult Run();

private:
    void Record(const device::DeviceOutcome& outcome) {
        if (request_.Program.Observe && !request_.Program.Observe(outcome))
            result_.RecordFailed = true;
    }
    void Refuse(std::int32_t index, std::string model, std::string serial, std::string reason);
    bool Observe(const device::DeviceOutcome& outcome);
    std::optional<std::string> AlreadyWritten(const std::string& reported,
                                              const codec::EepromImage& image,
                                              const std::string& serial);
    bool Lost() const { return request_.RecordsLost && request_.RecordsLost(); }
    void StartWaiting(const std::string& why);
    // While waiting for the records: whether they are back (said once).
    bool Reconnected();
    // Counts the attached devices once: the serial numbers of those not judged yet, or
    // nothing when the count failed.
    std::optional<std::set<std::string>> Poll();
    // After a pass: judges every fresh device the pass's scan saw.
    void Judge(const std::set<std::string>& fresh, const Report& report);
    // After a record could not be kept: true when the watch ends (the records are not
    // lost, only unwritable); otherwise it waits for them.
    bool EndsAfterRecordFailure();

    Station& station_;
    device::DeviceEngine& engine_;
    device::Reporter& reporter_;
    const WatchRequest& request_;
    const std::string modelText_;
    ProgramRequest pass_;
    WatchResult result_;
    // Serial numbers of the attached devices already programmed or refused. Only a complete
    // answer forgets one: a device that did not answer for a moment is still there.
    std::set<std::string> judged_;
    std::map<std::int32_t, int> unanswered_; // driver index: polls in a row it did not answer
    std::set<std::int32_t> unopenable_;      // reported as such, until it answers or goes
    std::set<std::int32_t> finished_;        // driver indexes the last pass finished with
    // Reported serial numbers the last pass could not ask the records about.
    std::set<std::string> unasked_;
    std::mutex asking_; // a pass that programs every device at once asks on many threads
    bool tooMany_ = false;
    bool waiting_ = false; // for the records: nothing is written meanwhile
    std::chrono::milliseconds backOff_ = WatchPollInterval;
};

void Watch::Refuse(std::int32_t index, std::string model, std::string serial, std::string reason) {
    result_.AnyFailed = true;
    reporter_.AppendLine("FAIL device " + std::to_string(index) +
                         (serial.empty() ? "" : " serial " + serial) + ": " + reason);
    device::DeviceOutcome outcome;
    outcome.Operation = device::DeviceOperation::Program;
    outcome.DriverIndex = index;
    outcome.Model = std::move(model);
    outcome.SerialNumber = std::move(serial);
    outcome.Reason = std::move(reason);
    Record(outcome);
}

bool Watch::Observe(const device::DeviceOutcome& outcome) {
    // No number could be reserved because the database went away: the device was not
    // touched and is taken again once the records are back.
    if (!outcome.Passed && outcome.SerialNumber.empty() && Lost()) return false;
    finished_.insert(outcome.DriverIndex);
    if (!outcome.Passed) result_.AnyFailed = true;
    if (outcome.Passed)
        reporter_.AppendLine("PASS device " + std::to_string(outcome.DriverIndex) + " serial " +
                             outcome.SerialNumber);
    else if (const std::string seen = engine_.ReportedSerial(outcome.DriverIndex);
             outcome.Position < 0 && !seen.empty())
        // Not examined, so it was given nothing: named by the serial it reports.
        reporter_.AppendLine("FAIL device " + std::to_string(outcome.DriverIndex) + " serial " +
                             seen + ": " + outcome.Reason);
    else
        reporter_.AppendLine("FAIL device " + std::to_string(outcome.DriverIndex) + ": " +
                             outcome.Reason);
    Record(outcome);
    return !result_.RecordFailed;
}

std::optional<std::string> Watch::AlreadyWritten(const std::string& reported,
                                                 const codec::EepromImage& image,
                                                 const std::string& serial) {
    const std::lock_guard lock(asking_);
    const std::optional<bool> recorded = request_.Recorded(image, serial);
    if (!recorded) {
        // Written again only once the records say it was not given this image.
        unasked_.insert(reported);
        return "records unreachable - nothing written to the device holding " + serial;
    }
    if (!*recorded) return std::nullopt;
    return "already programmed " + serial + " - not written again";
}

void Watch::StartWaiting(const std::string& why) {
    if (waiting_) return;
    waiting_ = true;
    backOff_ = WatchPollInterval;
    reporter_.AppendLine(std::string(WaitingForDatabaseLine) + (why.empty() ? "" : ": " + why));
    if (request_.Waiting) request_.Waiting(true);
}

bool Watch::Reconnected() {
    std::string error;
    if (!request_.Reconnect || !request_.Reconnect(error)) {
        backOff_ = std::min(backOff_ * 2, MaxReconnectInterval);
        return false;
    }
    waiting_ = false;
    reporter_.AppendLine("database reachable again - watching");
    if (request_.Waiting) request_.Waiting(false);
    return true;
}

std::optional<std::set<std::string>> Watch::Poll() {
    // One count per poll: the serial numbers walked here are the devices the pass takes,
    // whatever index the driver gives them by then. A failed count tells nothing.
    const std::optional<std::vector<std::string>> walked = engine_.AttachedSerials();
    if (!walked) return std::nullopt;
    const std::vector<std::string>& serials = *walked;
    if (request_.Attached) request_.Attached(serials);
    const std::int32_t count = engine_.Unit.DeviceCount;
    if (count > device::MaxScanDevices && !tooMany_)
        reporter_.AppendLine("only the first " + std::to_string(device::MaxScanDevices) +
                             " devices are examined");
    tooMany_ = count > device::MaxScanDevices;

    // The set of serial numbers, not the count: a device swapped within one poll shows.
    const bool complete = std::none_of(serials.begin(), serials.end(),
                                       [](const std::string& s) { return s.empty(); });
    if (complete)
        std::erase_if(judged_, [&](const std::string& serial) {
            return std::find(serials.begin(), serials.end(), serial) == serials.end();
        });
    std::set<std::string> fresh;
    for (std::size_t i = 0; i < serials.size(); ++i) {
        const auto index = static_cast<std::int32_t>(i);
        if (!serials[i].empty()) {
            unanswered_.erase(index);
            unopenable_.erase(index);
            if (!judged_.contains(serials[i])) fresh.insert(serials[i]);
            continue;
        }
        // One that keeps failing is a device that cannot be opened: said once.
        if (++unanswered_[index] < UnansweredPolls || unopenable_.contains(index)) continue;
        unopenable_.insert(index);
        Refuse(index, "", "", "cannot be opened or asked for its serial number");
    }
    std::erase_if(unanswered_, [&](const auto& entry) {
        return entry.first >= static_cast<std::int32_t>(serials.size());
    });
    return fresh;
}

void Watch::Judge(const std::set<std::string>& fresh, const Report& report) {
    // What the pass's own scan found, by the serial number each device reported there.
    std::map<std::string, std::int32_t> scanned;
    for (std::int32_t index = 0; index < device::MaxScanDevices; ++index)
        if (const std::string seen = engine_.ReportedSerial(index); !seen.empty())
            scanned.emplace(seen, index);
    for (const std::string& serial : fresh) {
        const auto at = scanned.find(serial);
        // Gone before the pass looked, or not asked about: it comes again while attached.
        if (at == scanned.end() || unasked_.contains(serial)) continue;
        const std::int32_t index = at->second;
        if (finished_.contains(index) || engine_.FoundAlreadyWritten(index) ||
            engine_.ReportedSecondChannel(index)) {
            // Channel B of a KR3 chip goes with channel A: nothing of its own to do.
            judged_.insert(serial);
        } else if (report.End == device::RunEnd::Stopped ||
                   report.End == device::RunEnd::Cancelled) {
            // The pass ended at an earlier device; this one comes again at the next poll.
        } else {
            judged_.insert(serial);
            // The serial number recorded is the one the device reports; nothing was written.
            Refuse(index, engine_.ReportedModel(index), serial,
                   "not programmed (not blank, or not a " + modelText_ + " device)");
        }
    }
}

bool Watch::EndsAfterRecordFailure() {
    if (!Lost()) return true;
    result_.RecordFailed = false;
    StartWaiting("");
    return false;
}

WatchResult Watch::Run() {
    reporter_.AppendLine("Waiting for " + modelText_ + " devices (Ctrl+C stops)");
    for (bool first = true; !request_.StopRequested(); first = false) {
        if (!first) request_.Sleep(waiting_ ? backOff_ : WatchPollInterval);
        if (request_.StopRequested()) break;
        if (waiting_ && !Reconnected()) continue;
        const std::optional<std::set<std::string>> fresh = Poll();
        if (!fresh) continue;
        if (result_.RecordFailed) {
            if (EndsAfterRecordFailure()) return result_;
            continue;
        }
        if (fresh->empty()) continue;
        if (std::string error; request_.RecordsReachable && !request_.RecordsReachable(error)) {
            StartWaiting(error);
            continue;
        }
        pass_.ScanFilter = [&fresh](const std::string& serial) { return fresh->contains(serial); };
        finished_.clear();
        unasked_.clear();
        const Report report = station_.Program(pass_);
        Judge(*fresh, report);
        if ((result_.RecordFailed || Lost()) && EndsAfterRecordFailure()) return result_;
    }
    reporter_.AppendLine("Stopped");
    return result_;
}

} // namespace

WatchResult Watcher::Run(const WatchRequest& request) {
    // A template that cannot be programmed would be refused again at every poll: it is
    // planned once, as each pass plans it, before any device is looked at.
    const ProgramRequest& asked = request.Program;
    std::variant<RunPlan, Refusal> planned = PlanRun(
        {asked.Shown, asked.Serials ? asked.Source : SerialSource::Template, asked.Parallel, true},
        reporter_);
    if (Refusal* refused = std::get_if<Refusal>(&planned)) {
        WatchResult result;
        result.TemplateRefused = true;
        result.Refused = std::move(*refused);
        return result;
    }
    Watch watch(station_, reporter_, request, std::get<RunPlan>(planned).Checked);
    return watch.Run();
}

} // namespace burnwise::app
