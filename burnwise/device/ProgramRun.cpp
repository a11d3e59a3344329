#include "burnwise/codec/EepromGeometry.h"
#include "burnwise/codec/ImageDecoder.h"
#include "burnwise/codec/ImageEncoder.h"
#include "burnwise/device/DeviceEngine.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <tuple>

namespace burnwise::device {
namespace {

// How long a repeated serial number from the clock may take to change: it steps once a
// second.
constexpr std::chrono::milliseconds SerialClockStep{1100};
constexpr std::chrono::milliseconds SerialClockPoll{10};

// Every line, box and reason names a device by its driver index in the run.
std::string Named(std::int32_t driverIndex) {
    return std::to_string(driverIndex);
}

// A clock that stays at one time: the one recorded for the serial number in hand.
class FixedClock final : public codec::UtcClock {
public:
    explicit FixedClock(codec::UtcTime time) : time_(time) {}
    codec::UtcTime Now() const override { return time_; }

private:
    codec::UtcTime time_;
};

auto TimeKey(const codec::UtcTime& t) {
    return std::tie(t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second);
}

} // namespace

bool DeviceEngine::SetProgramTime() {
    const auto value =
        static_cast<std::uint8_t>(((ProgramTimeHigh & 0xF) << 4) | (ProgramTimeLow & 0xF));
    return Unit.PipexSetLatencyTimer(value) == VQ_OK;
}

DeviceEngine::ProgramStep DeviceEngine::ProgramOneDevice() {
    codec::CodecState& c = codec_;
    // Whether the strings fit the layout does not depend on the part, so it is known
    // before anything touches the device: an image that does not fit is never written.
    if (!codec::EncodeImage(c.Settings, c.Selectors, codec::Eeprom93C46, clock_, c.WriteImage).Fits)
        return ProgramStep::StringsDoNotFit;

    if (c.Selectors.Kr4Selected) {
        // The KR4 chip has its 64 user words inside; nothing to detect or erase.
        c.EepromTypeName = codec::Eeprom93C46;
        if (!SetProgramTime()) reporter_.AppendLine("ERROR - Failed to set Program Time");
    } else {
        const ProbeLeft left = Unit.DetectEepromType(c.EepromTypeName);
        if (c.EepromTypeName == codec::EepromUnknown)
            return left == ProbeLeft::AsFound ? ProgramStep::UnknownEeprom
                                              : ProgramStep::UnknownEepromProbeLeft;
        // The size probe left its marker behind.
        if (Unit.PipexEraseEE() != VQ_OK) reporter_.AppendLine("ERROR - Erase failed");
    }
    const FixedClock issued(issuedTime_.value_or(codec::UtcTime{}));
    const codec::UtcClock& clock =
        issuedTime_ ? static_cast<const codec::UtcClock&>(issued) : clock_;
    lastEncodedSerial_ =
        codec::EncodeImage(c.Settings, c.Selectors, c.EepromTypeName, clock, c.WriteImage).Serial;
    Unit.WriteWholeImage(c.WriteImage, c.EepromTypeName);
    return ProgramStep::Written;
}

std::optional<std::string> DeviceEngine::IssueClockTime(std::int32_t driverIndex) {
    if (!clockRecord_) return std::nullopt;
    const std::string nothing = " - nothing written to device " + Named(driverIndex);
    std::optional<codec::UtcTime> last;
    std::string error;
    if (!clockRecord_->Lock(last, error))
        return "Cannot read the record of clock serial numbers: " + error + nothing;
    codec::UtcTime now = clock_.Now();
    // The clock steps once a second; a record further ahead means the clock was set back,
    // and waiting for it would stall the line.
    for (auto waited = std::chrono::milliseconds::zero();
         last && TimeKey(now) <= TimeKey(*last) && waited < 2 * SerialClockStep;
         waited += SerialClockPoll) {
        clock_.Wait(SerialClockPoll);
        now = clock_.Now();
    }
    std::optional<std::string> failure;
    if (last && TimeKey(now) <= TimeKey(*last))
        failure =
            "The clock has not passed the last serial number issued on this machine" + nothing;
    else if (!clockRecord_->Store(now, error))
        failure = "Cannot write the record of clock serial numbers: " + error + nothing;
    else
        issuedTime_ = now;
    clockRecord_->Unlock();
    return failure;
}

std::optional<std::string> DeviceEngine::StartAttempt(int position, const std::string& serial) {
    if (!context_->AttemptStarts) return std::nullopt;
    const std::int32_t index = Scan.SelectedDevices[static_cast<std::size_t>(position)];
    DeviceOutcome attempt = Outcome(position, index, false, {});
    attempt.SerialNumber = serial;
    if (serial.empty()) {
        // The number the encoder will generate from the clock for this device.
        const FixedClock issued(issuedTime_.value_or(codec::UtcTime{}));
        codec::EepromImage scratch{};
        attempt.SerialNumber =
            codec::EncodeImage(codec_.Settings, codec_.Selectors, codec::Eeprom93C46,
                               issuedTime_ ? static_cast<const codec::UtcClock&>(issued) : clock_,
                               scratch)
                .Serial;
    }
    return context_->AttemptStarts(attempt, ReportedSerial(index));
}

void DeviceEngine::WaitForNewSerial(const std::string& serial) {
    // A generated serial number ends in the clock's code, which steps once a second; until
    // it has moved on, programming the device again would only wear the EEPROM.
    constexpr std::size_t CodeLength = 6;
    if (serial.size() < CodeLength) return;
    const std::string code = serial.substr(serial.size() - CodeLength);
    for (auto waited = std::chrono::milliseconds::zero(); waited < SerialClockStep;
         waited += SerialClockPoll) {
        if (codec::SerialCode(clock_.Now()) != code) return;
        clock_.Wait(SerialClockPoll);
    }
}

std::string DeviceEngine::SerialSourceFailed(int position, const std::string& error) const {
    return error.empty() ? "No serial number for device " +
                               Named(Scan.SelectedDevices[static_cast<std::size_t>(position)])
                         : error;
}

std::optional<RunEnd> DeviceEngine::AfterProgramScan(int count) {
    if (stoppedBefore_) return End(RunEnd::Cancelled);
    if (FailSkippedDevices()) return End(RunEnd::Stopped);
    // The last moment a stop leaves every device as it was.
    if (count >= 1 && StopBeforeDevice(Scan.SelectedDevices[0])) return End(RunEnd::Cancelled);
    if (count >= 1) return std::nullopt;
    reporter_.ShowError("No Devices Found");
    return End(anyFailed_ ? RunEnd::Stopped : RunEnd::NoDevices);
}

bool DeviceEngine::FinishProgram(int position, std::string failure, bool box,
                                 const std::string& reserved) {
    const codec::CodecState& c = codec_;
    if (!failure.empty() && box) reporter_.ShowError(failure);
    const std::int32_t index = Scan.SelectedDevices[static_cast<std::size_t>(position)];
    const bool passed = failure.empty();
    DeviceOutcome outcome = Outcome(position, index, passed, std::move(failure));
    outcome.EepromTypeName = c.EepromTypeName;
    outcome.SerialNumber =
        outcome.Passed ? std::string(codec::TextOf(c.Settings.SerialNumber)) : reserved;
    if (outcome.Passed) {
        const std::size_t written =
            codec::EepromGeometryOf(c.Selectors.Kr4Selected ? codec::Eeprom93C46
                                                            : std::string_view(c.EepromTypeName))
                .WordsWritten;
        outcome.ImageWritten.assign(c.WriteImage.begin(), c.WriteImage.begin() + written);
    }
    return Finish(std::move(outcome));
}

DeviceEngine::PassEnd DeviceEngine::ProgramPass(std::int32_t driverIndex,
                                                const std::set<std::string>& runSerials,
                                                int passes) {
    codec::CodecState& c = codec_;
    const auto failed = [this](std::string failure, bool box = true) {
        Unit.CloseCurrentDevice();
        return PassEnd{PassEnd::Kind::Failed, std::move(failure), box, {}};
    };
    lastEncodedSerial_.clear();
    Unit.Fault.clear();
    if (!OpenForWork(driverIndex)) return failed("Error opening device");
    switch (ProgramOneDevice()) {
    case ProgramStep::Written:
        break;
    case ProgramStep::StringsDoNotFit:
        return failed("The strings do not fit the EEPROM - nothing written to device " +
                      Named(driverIndex));
    case ProgramStep::UnknownEeprom:
        return failed("EEPROM size not detected - nothing written to device " + Named(driverIndex) +
                      " - it holds what it held before");
    case ProgramStep::UnknownEepromProbeLeft:
        return failed("EEPROM size not detected - no image written to device " +
                      Named(driverIndex) +
                      " - the word at address 192 may still hold the size probe's marker");
    }

    const std::size_t written =
        codec::EepromGeometryOf(c.Selectors.Kr4Selected ? codec::Eeprom93C46
                                                        : std::string_view(c.EepromTypeName))
            .WordsWritten;
    const codec::EepromImage expected = c.WriteImage;
    if (ReadAndClassify(codec::DecodeKeepChipType) != VerdictProgrammed)
        return failed("Error reading device");
    // A part that ignores writes or erases may still hold an older valid image.
    const auto differs =
        std::mismatch(expected.begin(), expected.begin() + written, c.ReadImage.begin());
    if (differs.first != expected.begin() + written) {
        reporter_.AppendLine("ERROR - Verify failed Device " + Named(driverIndex) + " at word " +
                             std::to_string(differs.first - expected.begin()));
        return failed("Error reading device");
    }

    // The guard goes by what the image written carries, not by a switch of another family: a
    // device is new unless it holds a serial number a device of this run got.
    std::string readSerial(codec::TextOf(c.Settings.SerialNumber));
    const bool isNew =
        !codec::CarriesSerialNumber(c.Settings, c.Selectors) || !runSerials.contains(readSerial);
    Unit.CloseCurrentDevice();
    // Any call the driver refused on the way (an erase, a word, the close) leaves the device
    // in doubt, whatever it read back.
    if (!Unit.Fault.empty()) {
        const std::string line = "ERROR - Device " + Named(driverIndex) + " failed: " + Unit.Fault;
        reporter_.AppendLine(line);
        return failed(line, false);
    }
    if (isNew) {
        reporter_.AppendLine("Programmed Serial Number : " + readSerial);
        return PassEnd{PassEnd::Kind::Passed, {}, true, std::move(readSerial)};
    }
    // Same serial number as the device before: program this one again.
    if (passes + 1 >= MaxSerialPasses)
        return failed("Device " + Named(driverIndex) +
                      " keeps reading back the serial number of the device before it");
    return PassEnd{PassEnd::Kind::Again, {}, true, {}};
}

RunEnd DeviceEngine::ProgramRun(SettingsSource& settings, const RunContext& context) {
    const InContext in(*this, context);
    codec::CodecState& c = codec_;
    Begin(DeviceOperation::Program);
    const int count = ProgramScan();
    int k = 0;
    std::set<std::string> runSerials; // every serial number this run's devices hold
    if (const std::optional<RunEnd> end = AfterProgramScan(count)) return *end;
    // Each pass judges its device with the run's family selectors, as a run at once gives
    // every device a copy of them: what the device before decoded never decides anything here.
    const codec::FamilySelectors runSelectors = c.Selectors;

    // The serial number reserved for the device in hand: the one it was given, or the one
    // the encoder generated for it.
    std::string reservedSerial;
    int passes = 0; // passes on the device at position k
    std::string sourcedSerial;
    while (k < count) {
        Progress(k + 1, count);
        const std::int32_t index = Scan.SelectedDevices[static_cast<std::size_t>(k)];
        if (context.DeviceTaken && passes == 0) context.DeviceTaken(index);
        settings.CheckStringTotal();
        settings.GatherSettings(k);
        // A repeated pass on the same device keeps the number it was given.
        if (context.SerialSource && passes == 0) {
            std::string error;
            std::optional<std::string> serial = context.SerialSource(k, error);
            if (!serial) {
                FinishProgram(k, SerialSourceFailed(k, error), true, {});
                return End(RunEnd::Stopped);
            }
            sourcedSerial = std::move(*serial);
        }
        if (context.SerialSource) codec::SetText(c.Settings.SerialNumber, sourcedSerial);
        reservedSerial = std::string(codec::TextOf(c.Settings.SerialNumber));
        c.Selectors = runSelectors;
        c.EepromTypeName.clear();
        // With no serial number of its own the encoder takes one from the clock.
        const bool serialFromClock = reservedSerial.empty();
        issuedTime_.reset();
        if (const std::optional<std::string> failure =
                serialFromClock ? IssueClockTime(index) : std::nullopt) {
            FinishProgram(k, *failure, true, reservedSerial);
            return End(RunEnd::Stopped);
        }
        // The attempt is on record before the device is written, so that a station that dies
        // while writing it leaves a record of it behind.
        if (passes == 0) {
            if (const std::optional<std::string> refused = StartAttempt(k, reservedSerial)) {
                reporter_.AppendLine(*refused);
                const bool stop = FinishProgram(k, *refused, false, reservedSerial);
                ++k;
                if (stop) return End(k == count ? RunEnd::Completed : RunEnd::Stopped);
                continue;
            }
        }
        const PassEnd pass = ProgramPass(index, runSerials, passes);
        ++passes;
        if (serialFromClock) reservedSerial = lastEncodedSerial_;
        switch (pass.What) {
        case PassEnd::Kind::Failed:
            FinishProgram(k, pass.Failure, pass.Box, reservedSerial);
            return End(RunEnd::Stopped);
        case PassEnd::Kind::Passed: {
            runSerials.insert(pass.ReadSerial);
            const bool stop = FinishProgram(k, {}, true, reservedSerial);
            ++k;
            passes = 0;
            if (stop) return End(k == count ? RunEnd::Completed : RunEnd::Stopped);
            break;
        }
        case PassEnd::Kind::Again:
            if (serialFromClock) WaitForNewSerial(lastEncodedSerial_);
            break;
        }
    }
    return End(RunEnd::Completed);
}

} // namespace burnwise::device
