#include "burnwise/app/Production.h"

#include "burnwise/app/LabelFields.h"
#include "burnwise/app/TemplateEditor.h"
#include "burnwise/app/TemplateFile.h"
#include "common/FileAccess.h"
#include "common/Sha256.h"
#include "common/UtcTime.h"

#include <array>
#include <unistd.h>

namespace burnwise::app {
namespace {

// Keeps a template's lines for whoever wants them, and its first box as the error.
class TemplateNotes final : public device::Reporter {
public:
    explicit TemplateNotes(device::Reporter* notes) : notes_(notes) {}

    std::string FirstError;

    void AppendLine(std::string_view line) override {
        if (notes_) notes_->AppendLine(line);
    }
    void ClearLines() override {}
    void ShowError(std::string_view text) override {
        if (FirstError.empty()) FirstError = text;
    }
    void ShowInformation(std::string_view text) override {
        if (notes_) notes_->ShowInformation(text);
    }

private:
    device::Reporter* notes_;
};

} // namespace

std::string ImageSha256(const std::vector<std::uint16_t>& words) {
    if (words.empty()) return {};
    std::string bytes;
    bytes.reserve(words.size() * 2);
    for (const std::uint16_t word : words) {
        bytes += static_cast<char>(word & 0xFF);
        bytes += static_cast<char>(word >> 8);
    }
    return common::Sha256Hex(bytes);
}

std::string HostName() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0') return "localhost";
    return name.data();
}

std::unique_ptr<Production> Production::Open(const ProductionSetup& setup,
                                             const StoreOpener& opener, std::string& error,
                                             device::Reporter* notes) {
    std::unique_ptr<Production> p(new Production());
    p->setup_ = setup;
    p->station_ = records::SystemText(setup.Station.empty() ? HostName() : setup.Station);
    if (!records::CheckStationName(p->station_, error)) return nullptr;

    // The template is read once, so the digest names exactly what was programmed from.
    const std::string path = setup.TemplateFile.string();
    std::string readError;
    const std::optional<std::string> bytes =
        common::ReadFileBounded(setup.TemplateFile, common::MaxTemplateFileBytes, readError);
    if (!bytes) {
        error = "Cannot open file \"" + path + "\": " + readError;
        return nullptr;
    }
    p->templateName_ = records::SystemText(setup.TemplateFile.filename().string());
    p->templateSha256_ = common::Sha256Hex(*bytes);
    TemplateNotes templateNotes(notes);
    const Template shown = TemplateFromText(*bytes, Template::Start(), templateNotes);
    if (!templateNotes.FirstError.empty()) {
        error = templateNotes.FirstError;
        return nullptr;
    }
    // Refused before the log, the store or any device is opened.
    std::variant<RunPlan, Refusal> plan =
        PlanRun({shown, setup.Serials, setup.Parallel, setup.Watch}, templateNotes);
    if (const Refusal* refused = std::get_if<Refusal>(&plan)) {
        error = setup.Words ? setup.Words(*refused) : refused->Text;
        return nullptr;
    }
    p->plan_ = std::move(std::get<RunPlan>(plan));
    if (setup.Serials != SerialSource::Template)
        p->pattern_ = SplitSerial(p->plan_.Checked.FixedSerial, error);
    if (setup.Serials == SerialSource::Counter) {
        p->counter_ = SerialCounter::Open(setup.CounterFile, *p->pattern_, error);
        if (!p->counter_) return nullptr;
    }

    // The log and the store are opened before anything is programmed: a production run
    // must not go unrecorded.
    if (setup.LogFile) {
        p->log_.emplace();
        if (!p->log_->Open(*setup.LogFile, error)) return nullptr;
    }
    p->store_ = opener(setup.DatabaseUrl, error);
    if (!p->store_) return nullptr;
    p->opener_ = opener;
    return p;
}

std::optional<bool> Production::HoldsRecordedImage(const codec::EepromImage& image,
                                                   const std::string& serial) {
    if (serial.empty()) return false;
    // The record keeps the words written, as many as the part takes: a 64-word part reads
    // its words twice over in the 128 read.
    std::vector<std::string> digests;
    for (const std::size_t words : {std::size_t{64}, std::size_t{128}})
        digests.push_back(ImageSha256({image.begin(), image.begin() + words}));
    for (const std::string& digest : digests) {
        std::string error;
        const std::optional<bool> held =
            store_->PassedWithImage(records::ChipText(serial), digest, error);
        if (!held) return std::nullopt;
        if (*held) return true;
    }
    return false;
}

bool Production::Reachable(std::string& error) {
    // The cheapest statement that reads the records table.
    return store_->PassedWithImage({}, {}, error).has_value() || !store_->Lost();
}

bool Production::Reconnect(std::string& error) {
    std::unique_ptr<records::RecordStore> store = opener_(setup_.DatabaseUrl, error);
    if (!store) return false;
    store_ = std::move(store);
    while (!unwritten_.empty()) {
        if (!store_->Append(unwritten_.front(), error)) return false;
        ++recorded_;
        unwritten_.erase(unwritten_.begin());
    }
    stopReason_.clear();
    return true;
}

Production::~Production() = default;

std::string Production::StartLine() {
    const std::string where = store_->Where();
    if (setup_.Serials != SerialSource::Series) return "records in " + where;
    const std::string series = "series " + records::ChipText(pattern_->Prefix) + "/" +
                               std::to_string(pattern_->Digits) + " in " + where;
    std::string error;
    const std::optional<std::uint64_t> next =
        store_->PeekSeries({pattern_->Prefix, pattern_->Digits}, pattern_->Value, error);
    std::optional<std::string> serial = next ? pattern_->Format(*next) : std::nullopt;
    if (!serial) return series + ": " + (next ? "the series has run out of digits" : error);
    return series + ": next " + records::ChipText(*serial);
}

std::string Production::StoreFailure(const std::string& error) const {
    if (store_->Lost()) return std::string(DatabaseUnreachable) + ": " + error;
    return error;
}

std::optional<std::string> Production::NextSerial(std::string& error) {
    if (counter_) return counter_->Reserve(error);
    const records::SeriesKey series{pattern_->Prefix, pattern_->Digits};
    std::string storeError;
    // Held open, so that the device's attempt record commits the number with it.
    const std::optional<std::uint64_t> number =
        store_->ReserveForAttempt(series, pattern_->Value, storeError);
    if (number) {
        // The series writes its numbers as the template's serial number does.
        if (std::optional<std::string> serial = pattern_->Format(*number)) return serial;
        error = "serial series " + series.Prefix + " has run out of digits";
        stopReason_ = error;
        return std::nullopt;
    }
    // The device in hand gets a short reason; the run's stop names the database.
    stopReason_ = StoreFailure(storeError);
    error = store_->Lost() ? std::string(DatabaseUnreachable) : storeError;
    return std::nullopt;
}

ProgramRequest Production::Request(std::string operation) {
    stopReason_.clear();
    attempts_.clear();
    reuseAnswer_.reset();
    ProgramRequest request;
    request.Shown = plan_.Checked;
    request.Parallel = plan_.AtOnce;
    request.Source = setup_.Serials;
    if (setup_.Serials != SerialSource::Template) {
        // Each device takes its number the moment it is reached, so a failed device uses
        // up its number and no later run repeats it.
        request.Serials = [this](int, std::string& error) { return NextSerial(error); };
    }
    request.Attempt = [this](const device::DeviceOutcome& attempt, std::string_view reported) {
        return Attempt(attempt, reported);
    };
    request.Observe = [this,
                       operation = std::move(operation)](const device::DeviceOutcome& outcome) {
        return Record(outcome, operation);
    };
    return request;
}

namespace {

// "2026-12-09T12:01:07Z" as "2026-12-09 at 12:01".
std::string DayAndMinute(const std::string& time) {
    if (time.size() < 16) return time;
    return time.substr(0, 10) + " at " + time.substr(11, 5);
}

} // namespace

records::Record Production::RecordOf(const device::DeviceOutcome& outcome,
                                     std::string_view operation) const {
    records::Record record;
    record.Time = common::UtcTimeStamp();
    record.Station = station_;
    record.Operation = operation;
    record.DriverIndex = outcome.DriverIndex;
    // The chip's texts are a byte a character; the record keeps them as UTF-8.
    record.Model = records::ChipText(outcome.Model);
    record.Eeprom = records::ChipText(outcome.EepromTypeName);
    record.SerialNumber = records::ChipText(outcome.SerialNumber);
    record.Outcome = outcome.Passed ? records::Result::Pass : records::Result::Fail;
    record.Reason = records::ChipText(outcome.Reason);
    record.TemplateFile = templateName_;
    record.TemplateSha256 = templateSha256_;
    record.ImageSha256 = ImageSha256(outcome.ImageWritten);
    // Kept with the record, so that a label printed from it later shows the same.
    record.LabelFields = WriteLabelValues(LabelValuesOf(plan_.Checked, record));
    return record;
}

std::optional<std::string> Production::Attempt(const device::DeviceOutcome& attempt,
                                               std::string_view reportedSerial) {
    const std::string nothing =
        " - nothing written to device " + std::to_string(attempt.DriverIndex);
    records::Record record = RecordOf(attempt, "program");
    record.Outcome = records::Result::Interrupted;
    record.Reason = "interrupted while being written";
    std::string error;
    const std::optional<records::AttemptStart> started = store_->StartAttempt(record, error);
    if (!started) {
        // Without its attempt on record, a device that the station dies on could not be
        // traced: it is not written, and the run stops once it is recorded.
        if (stopReason_.empty()) stopReason_ = StoreFailure("cannot write the record: " + error);
        return (store_->Lost() ? std::string(DatabaseUnreachable) : error) + nothing;
    }
    attempts_[attempt.DriverIndex] = started->Id;
    // A device that already reports the number holds it: it is the one the record names.
    if (!started->PassedAt || reportedSerial == attempt.SerialNumber || setup_.AllowReuse)
        return std::nullopt;
    const std::string given = records::ChipText(attempt.SerialNumber) +
                              " was already given to a device on " +
                              DayAndMinute(*started->PassedAt);
    if (!reuseAnswer_)
        reuseAnswer_ = setup_.AskReuse && setup_.AskReuse(given + " - write it again?");
    if (*reuseAnswer_) return std::nullopt;
    return given + nothing;
}

std::vector<std::string> Production::InterruptedAttempts() {
    std::vector<std::string> lines;
    records::RecordFilter filter;
    filter.Station = station_;
    filter.Outcome = records::Result::Interrupted;
    // The newest of them: a station that kept dying must still start.
    constexpr std::uint64_t MaxShown = 100;
    filter.Limit = MaxShown;
    std::string error;
    store_->Each(
        filter,
        [&](const records::Record& r) {
            const std::string clock = r.Time.size() >= 19 ? r.Time.substr(11, 8) : r.Time;
            lines.push_back(r.SerialNumber + " on device " + std::to_string(r.DriverIndex) +
                            " was being programmed when this station stopped at " + clock +
                            " - check it with verify");
            return true;
        },
        error);
    return lines;
}

void Production::Serve(WatchRequest& watch) {
    watch.Recorded = [this](const codec::EepromImage& image, const std::string& serial) {
        return HoldsRecordedImage(image, serial);
    };
    watch.RecordsReachable = [this](std::string& error) { return Reachable(error); };
    watch.RecordsLost = [this] { return Lost(); };
    watch.Reconnect = [this](std::string& error) { return Reconnect(error); };
}

bool Production::CompleteFromVerify(const device::DeviceOutcome& verified) {
    if (verified.SerialNumber.empty()) return true;
    records::Record record = RecordOf(verified, "program");
    record.Reason = verified.Passed ? "checked by verify"
                                    : "checked by verify: " + records::ChipText(verified.Reason);
    std::string error;
    if (store_->CompleteInterrupted(record, error)) return true;
    stopReason_ = StoreFailure("cannot complete the record: " + error);
    return false;
}

bool Production::Record(const device::DeviceOutcome& outcome, std::string_view operation) {
    records::Record record = RecordOf(outcome, operation);

    // Both are tried, so the reason names every one that failed.
    const auto failed = [this](const std::string& why) {
        // A database that is gone is said once, as is a failure the attempt has said.
        if (why.starts_with(DatabaseUnreachable) && stopReason_.starts_with(DatabaseUnreachable))
            return;
        if (stopReason_.find(why) != std::string::npos) return;
        stopReason_ += (stopReason_.empty() ? "" : "; ") + why;
    };
    bool kept = true;
    std::string error;
    const auto attempt = attempts_.find(outcome.DriverIndex);
    const std::optional<std::int64_t> attemptId =
        attempt != attempts_.end() ? std::optional(attempt->second) : std::nullopt;
    if (attempt != attempts_.end()) attempts_.erase(attempt);
    if (attemptId ? !store_->CompleteAttempt(*attemptId, record, error)
                  : !store_->Append(record, error)) {
        failed(StoreFailure("cannot write the record: " + error));
        kept = false;
        // Written once the database is back, should the run wait for it.
        if (store_->Lost()) unwritten_.push_back(record);
    }
    if (log_) {
        const DeviceRecord line{record.Time,
                                outcome.Position,
                                outcome.DriverIndex,
                                outcome.Model,
                                outcome.EepromTypeName,
                                outcome.SerialNumber,
                                outcome.Passed ? "PASS" : "FAIL " + outcome.Reason};
        if (!log_->Append(line)) {
            failed("cannot write the log " + setup_.LogFile->string());
            kept = false;
        }
    }
    if (kept) ++recorded_;
    lastRecord_ = std::move(record);
    // A number that could not be reserved stops the run too, once its device is recorded.
    return kept && stopReason_.empty();
}

} // namespace burnwise::app
