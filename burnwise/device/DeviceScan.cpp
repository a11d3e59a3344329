#include "burnwise/codec/ImageDecoder.h"
#include "burnwise/device/DeviceEngine.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace burnwise::device {
namespace {

// No driver reports this type code, so a failed device-information call matches nothing.
constexpr std::uint32_t NoTypeCode = 0xFFFFFFFFu;

// The decoder's question for the open device's type code. The decoder passes no text
// buffers, so the driver fills none.
class UnitTypeSource final : public codec::DeviceTypeSource {
public:
    explicit UnitTypeSource(PipexUnit& unit) : unit_(unit) {}
    std::uint32_t DeviceTypeCode() override {
        std::uint32_t code = NoTypeCode;
        std::uint32_t identifier = 0;
        if (unit_.PipexGetDeviceInfo(&code, &identifier, nullptr, nullptr, nullptr) != VQ_OK)
            return NoTypeCode;
        return code;
    }

private:
    PipexUnit& unit_;
};

std::string NotExaminedLine(std::int32_t driverIndex, const std::string& fault) {
    return "ERROR - Device " + std::to_string(driverIndex) + " could not be examined: " + fault;
}

bool IsSingleChannelCode(std::uint32_t code) {
    const codec::ChipFamily family = codec::FamilyOfTypeCode(code);
    return family == codec::ChipFamily::KR1 || family == codec::ChipFamily::KR2;
}

} // namespace

namespace {
// The context of an engine between operations: nothing to tell, nothing to ask.
const RunContext NoContext;
} // namespace

DeviceEngine::DeviceEngine(PipexDriver& driver, codec::CodecState& codec, RunFlags& flags,
                           Reporter& reporter, const codec::UtcClock& clock,
                           ClockSerialRecord* clockRecord)
    : Unit(driver, reporter), codec_(codec), flags_(flags), reporter_(reporter), clock_(clock),
      clockRecord_(clockRecord), context_(&NoContext) {}

DeviceEngine::InContext::InContext(DeviceEngine& engine, const RunContext& context)
    : engine_(engine), outer_(engine.context_) {
    engine_.context_ = &context;
}

DeviceEngine::InContext::~InContext() {
    engine_.context_ = outer_;
}

void DeviceEngine::Progress(int position, int count) {
    reporter_.DeviceProgress(position, count);
}

// ---- Classification ------------------------------------------------------------------

int DeviceEngine::ReadAndClassify(int mode) {
    codec_.Settings.AttachBuffers(codec_.Texts);
    codec_.Settings.Reset();
    if (!Unit.ReadWholeImage(codec_.ReadImage)) return VerdictUnreadable;
    UnitTypeSource types(Unit);
    return codec::DecodeImage(mode, codec_.ReadImage, codec_.Selectors, codec_.EepromTypeName,
                              codec_.Settings, types);
}

bool DeviceEngine::IsChannelB(std::span<const char> description) {
    const std::size_t length = std::min<std::size_t>(description.size(), VQ_TEXT_SIZE);
    std::size_t last = length;
    for (std::size_t i = length; i-- > 0;) {
        if (description[i] != '\0') {
            last = i;
            break;
        }
    }
    if (last == length || description[last] != 'B') return false;
    return last == 0 || description[last - 1] == ' ';
}

std::optional<bool> DeviceEngine::Kr4FifoBit() {
    // Words 64 to 66 are the chip's factory words: 65 is the complement of 64, and bit 0
    // of 66 is set on the FIFO model. A word that cannot be read proves nothing.
    std::array<std::uint16_t, 3> words{};
    for (std::uint32_t k = 0; k < words.size(); ++k) {
        if (Unit.PipexReadEE(64 + k) != VQ_OK) return std::nullopt;
        words[k] = Unit.LastReadWord;
    }
    if (static_cast<std::uint16_t>(~words[1]) != words[0]) return std::nullopt;
    const std::uint16_t model = words[2] == 0xFFFF ? 0 : words[2];
    return (model & 1u) != 0;
}

codec::ChipFamily DeviceEngine::Family() const {
    return infoOk_ ? codec::FamilyOfTypeCode(typeCode_) : codec::ChipFamily::None;
}

bool DeviceEngine::PassesIdentityTest() const {
    return codec::FirstModelOf(Family()).Has(codec::IdentityTest) && kr4Fifo_ &&
           *kr4Fifo_ == codec_.Selectors.Kr4FifoSelected;
}

// ---- The scan frame -----------------------------------------------------------------

int DeviceEngine::SurveyScan() {
    return RunScan(Variant::Survey);
}

int DeviceEngine::EraseScan() {
    return RunScan(Variant::Erase);
}

int DeviceEngine::ProgramScan() {
    return RunScan(Variant::Program);
}

int DeviceEngine::RunScan(Variant variant) {
    // A new look lets go of whatever an earlier one held.
    ReleaseHeldDevices();
    Scan = ScanResults{};
    notes_ = {};
    if (Unit.GetVQDeviceCount() != VQ_OK) return 0;
    Unit.CurrentDeviceIndex = 0;
    if (Unit.DeviceCount <= 0) return 0;
    const int examined = std::min(Unit.DeviceCount, MaxScanDevices);
    leftOut_ = Unit.DeviceCount - examined;
    for (int n = 0;; ++n) {
        // A stop asked for while an operation that writes is still looking is taken here,
        // before anything is written.
        if (variant != Variant::Survey && StopBeforeDevice(Unit.CurrentDeviceIndex)) break;
        Progress(n + 1, examined);
        Unit.DeviceIsOpen = false;
        ScanIndex(variant, n);
        ++Unit.CurrentDeviceIndex;
        if (n + 1 == Unit.DeviceCount || Unit.CurrentDeviceIndex >= MaxScanDevices) break;
    }
    return Scan.SelectedCount;
}

void DeviceEngine::ScanIndex(Variant variant, int n) {
    DeviceNote& note = notes_[static_cast<std::size_t>(Unit.CurrentDeviceIndex)];
    std::optional<ScanResults> before;
    note.Examined = true;
    note.Position = n;
    Unit.Fault.clear();
    const bool opened = Unit.PipexOpen() == VQ_OK;
    // A device that cannot say what it is cannot pass a filter of serial numbers.
    if (!opened && context_->ScanFilter) {
        PassOver(note);
        return;
    }
    if (opened) {
        Unit.DeviceIsOpen = true;
        Scan.OpenedDevices[static_cast<std::size_t>(Scan.OpenedCount++)] = Unit.CurrentDeviceIndex;
        // What the device says it is, asked once: the model of its outcome, and what every
        // examination below tests.
        GetDeviceInfo();
        if (context_->ScanFilter && !context_->ScanFilter(reportedSerial_)) {
            --Scan.OpenedCount;
            PassOver(note);
            return;
        }
        kr4Fifo_.reset();
        if (codec::FirstModelOf(Family()).Has(codec::IdentityTest)) kr4Fifo_ = Kr4FifoBit();
        note.Model = infoOk_ ? std::string(codec::ReportedModelName(typeCode_, kr4Fifo_)) : "";
        note.Family = Family();
        note.Serial = reportedSerial_;
        // A device the scan could not examine whole is never written: erase and program (and
        // cycle, which shares its scan) leave it alone and fail it.
        before = Scan;
        const int taken = variant == Variant::Survey ? Scan.BlankCount + Scan.ProgrammedCount
                                                     : Scan.SelectedCount;
        Examine(variant);
        note.Taken = taken != (variant == Variant::Survey ? Scan.BlankCount + Scan.ProgrammedCount
                                                          : Scan.SelectedCount);
        note.SecondChannel = Family() == codec::ChipFamily::KR3 && IsChannelB(description_);
        if (variant == Variant::Program && note.Blank == false && context_->AlreadyWritten &&
            Unit.Fault.empty()) {
            const std::optional<std::string> line =
                context_->AlreadyWritten(reportedSerial_, codec_.ReadImage,
                                         std::string(codec::TextOf(codec_.Settings.SerialNumber)));
            if (line) {
                reporter_.AppendLine(*line);
                note.AlreadyWritten = true;
                if (note.Taken) Scan = *before;
                note.Taken = false;
            }
        }
    }
    // A device taken for writing stays held until it is written; any other is closed.
    if (variant != Variant::Survey && note.Taken && Unit.Fault.empty())
        HoldCurrentDevice();
    else
        Unit.CloseCurrentDevice();
    note.Fault = Unit.Fault;
    if (variant != Variant::Survey && note.Taken && !note.Fault.empty()) {
        Scan = *before;
        note.Taken = false;
    }
}

void DeviceEngine::PassOver(DeviceNote& note) {
    Unit.CloseCurrentDevice();
    Unit.Fault.clear();
    note = DeviceNote{};
}

void DeviceEngine::HoldCurrentDevice() {
    const std::int32_t index = Unit.CurrentDeviceIndex;
    if (!Unit.DeviceIsOpen || index < 0 || index >= MaxScanDevices) {
        Unit.CloseCurrentDevice();
        return;
    }
    held_[static_cast<std::size_t>(index)] = Unit.CurrentHandle;
    Unit.DeviceIsOpen = false;
}

bool DeviceEngine::OpenForWork(std::int32_t driverIndex) {
    Unit.CloseCurrentDevice();
    if (driverIndex >= 0 && driverIndex < MaxScanDevices) {
        VQ_HANDLE& held = held_[static_cast<std::size_t>(driverIndex)];
        if (held != nullptr) {
            Unit.CurrentDeviceIndex = driverIndex;
            Unit.CurrentHandle = std::exchange(held, nullptr);
            Unit.DeviceIsOpen = true;
            return true;
        }
    }
    return Unit.OpenDeviceAt(driverIndex);
}

void DeviceEngine::ReleaseHeldDevices() {
    Unit.CloseCurrentDevice();
    for (std::size_t index = 0; index < held_.size(); ++index) {
        if (held_[index] == nullptr) continue;
        Unit.CurrentDeviceIndex = static_cast<std::int32_t>(index);
        Unit.CurrentHandle = std::exchange(held_[index], nullptr);
        Unit.DeviceIsOpen = true;
        Unit.CloseCurrentDevice();
    }
}

DeviceEngine::~DeviceEngine() {
    try {
        ReleaseHeldDevices();
    } catch (...) {
        // Only a report of a failed close can throw; the closes themselves were made.
    }
}

std::optional<std::vector<std::string>> DeviceEngine::AttachedSerials() {
    std::vector<std::string> serials;
    if (Unit.GetVQDeviceCount() != VQ_OK) return std::nullopt;
    if (Unit.DeviceCount <= 0) return serials;
    const int examined = std::min(Unit.DeviceCount, MaxScanDevices);
    for (int index = 0; index < examined; ++index) {
        std::array<char, VQ_TEXT_SIZE> serial{};
        std::array<char, VQ_TEXT_SIZE> description{};
        std::array<char, VQ_TEXT_SIZE> reserved{};
        std::uint32_t typeCode = 0, identifier = 0;
        Unit.CurrentDeviceIndex = index;
        Unit.DeviceIsOpen = Unit.PipexOpen() == VQ_OK;
        if (Unit.DeviceIsOpen &&
            Unit.PipexGetDeviceInfo(&typeCode, &identifier, serial.data(), description.data(),
                                    reserved.data()) == VQ_OK)
            serials.emplace_back(serial.data(), strnlen(serial.data(), serial.size()));
        else
            serials.emplace_back();
        Unit.CloseCurrentDevice();
    }
    return serials;
}

bool DeviceEngine::GetDeviceInfo() {
    infoOk_ = false;
    std::array<char, VQ_TEXT_SIZE> serial{};
    std::array<char, VQ_TEXT_SIZE> reserved{};
    std::uint32_t identifier = 0;
    description_.fill('\0');
    typeCode_ = NoTypeCode;
    const bool ok = Unit.PipexGetDeviceInfo(&typeCode_, &identifier, serial.data(),
                                            description_.data(), reserved.data()) == VQ_OK;
    if (!ok) typeCode_ = NoTypeCode;
    infoOk_ = ok;
    reportedSerial_ = ok ? std::string(serial.data(), strnlen(serial.data(), serial.size())) : "";
    return ok;
}

bool DeviceEngine::IsChannelA(bool infoOk) const {
    return infoOk && !IsChannelB(description_);
}

int DeviceEngine::Classify() {
    // Each device is judged by its own contents: the decoder takes the family from the
    // device's type code, never from the selectors the window or the device before left,
    // which would pick another checksum range and layout. The family chosen in the window
    // then governs the rest of the scan.
    const codec::FamilySelectors saved = codec_.Selectors;
    codec_.Selectors.Clear();
    classified_ = true;
    const int verdict = ReadAndClassify(codec::DecodeKeepChipType);
    codec_.Selectors = saved;
    return verdict;
}

void DeviceEngine::Count(int verdict) {
    if (const auto index = static_cast<std::size_t>(Unit.CurrentDeviceIndex); index < notes_.size())
        notes_[index].Blank = verdict == VerdictBlank;
    if (verdict == VerdictBlank)
        ++Scan.BlankCount;
    else
        ++Scan.ProgrammedCount;
    const int counted = Scan.BlankCount + Scan.ProgrammedCount;
    Scan.CountedDevices[static_cast<std::size_t>(counted - 1)] = Unit.CurrentDeviceIndex;
}

void DeviceEngine::Select() {
    Scan.SelectedDevices[static_cast<std::size_t>(Scan.SelectedCount++)] = Unit.CurrentDeviceIndex;
}

void DeviceEngine::CountAndSelectBlank(int verdict) {
    Count(verdict);
    if (verdict == VerdictBlank) Select();
}

void DeviceEngine::Examine(Variant variant) {
    // The second channel of a KR3 chip shares the first one's EEPROM: it is never counted
    // or worked on, whichever family is chosen.
    if (Family() == codec::ChipFamily::KR3 && IsChannelB(description_)) return;
    switch (variant) {
    case Variant::Survey:
        ExamineSurvey(flags_.OnlyBlankDevices);
        break;
    case Variant::Erase:
        if (flags_.OnlyBlankDevices)
            ExamineSurvey(true);
        else
            ExamineErase();
        break;
    case Variant::Program:
        ExamineProgram();
        break;
    }
}

void DeviceEngine::ExamineSurvey(bool onlyBlank) {
    if (!onlyBlank) {
        if (!codec_.Selectors.Kr3Selected) {
            Count(Classify());
            Select();
        } else if (IsChannelA(infoOk_)) {
            Count(Classify());
            Select();
        }
        return;
    }
    const int verdict = Classify();
    if (!codec_.Selectors.Kr3Selected || IsChannelA(infoOk_)) CountAndSelectBlank(verdict);
}

void DeviceEngine::ExamineErase() {
    const codec::FamilySelectors& selectors = codec_.Selectors;
    bool take = false;
    if (selectors.Kr3Selected)
        take = IsChannelA(infoOk_);
    else if (selectors.Kr4Selected)
        take = Family() == codec::ChipFamily::KR4 && PassesIdentityTest();
    else
        take = true;
    if (take) {
        Count(Classify());
        Select();
    }
}

void DeviceEngine::ExamineProgram() {
    const codec::FamilySelectors& selectors = codec_.Selectors;
    if (!flags_.OnlyBlankDevices) {
        bool take = false;
        if (selectors.Kr3Selected)
            take = IsChannelA(infoOk_) && Family() == codec::ChipFamily::KR3;
        else if (selectors.Kr4Selected)
            take = Family() == codec::ChipFamily::KR4 && PassesIdentityTest();
        else
            take = infoOk_ && IsSingleChannelCode(typeCode_);
        if (take) {
            Count(Classify());
            Select();
        }
        return;
    }
    const int verdict = Classify();
    if (selectors.Kr3Selected) {
        if (IsChannelA(infoOk_) && Family() == codec::ChipFamily::KR3) CountAndSelectBlank(verdict);
        return;
    }
    // A KR4 chip is never taken here: only blank single-channel chips are.
    if (!infoOk_) {
        Count(VerdictProgrammed);
    } else if (IsSingleChannelCode(typeCode_)) {
        CountAndSelectBlank(verdict);
    }
}

// ---- Outcomes ------------------------------------------------------------------------

void DeviceEngine::Begin(DeviceOperation operation) {
    operation_ = operation;
    anyFailed_ = false;
    cancelled_ = false;
    stoppedBefore_.reset();
    leftOut_ = 0;
}

const DeviceEngine::DeviceNote* DeviceEngine::NoteOf(std::int32_t driverIndex) const {
    if (driverIndex < 0 || driverIndex >= MaxScanDevices) return nullptr;
    return &notes_[static_cast<std::size_t>(driverIndex)];
}

DeviceOutcome DeviceEngine::Outcome(int position, std::int32_t driverIndex, bool passed,
                                    std::string reason) const {
    DeviceOutcome outcome;
    outcome.Operation = operation_;
    outcome.Position = position;
    outcome.DriverIndex = driverIndex;
    if (const DeviceNote* note = NoteOf(driverIndex)) {
        outcome.Model = note->Model;
        if (operation_ == DeviceOperation::Scan && passed) outcome.Blank = note->Blank;
    }
    outcome.Passed = passed;
    outcome.Reason = std::move(reason);
    return outcome;
}

bool DeviceEngine::StopBeforeDevice(std::int32_t driverIndex) {
    if (!cancelled_ && !reporter_.StopRequested() &&
        !(context_->StopWanted && context_->StopWanted()))
        return false;
    if (!stoppedBefore_) {
        cancelled_ = true;
        stoppedBefore_ = driverIndex;
        reporter_.AppendLine("Stopped before device " + std::to_string(driverIndex));
    }
    return true;
}

bool DeviceEngine::Finish(DeviceOutcome outcome) {
    outcome.Operation = operation_;
    if (!outcome.Passed) anyFailed_ = true;
    reporter_.DeviceFinished(outcome);
    if (context_->DeviceFinished) context_->DeviceFinished(outcome);
    if (cancelled_) return true;
    const bool stop = reporter_.StopRequested() || (context_->StopWanted && context_->StopWanted());
    if (!stop) return false;
    cancelled_ = true;
    reporter_.AppendLine("Stopped after device " + std::to_string(outcome.DriverIndex));
    return true;
}

bool DeviceEngine::FailSkippedDevices() {
    for (std::int32_t index = 0; index < MaxScanDevices; ++index) {
        const DeviceNote& note = notes_[static_cast<std::size_t>(index)];
        if (!note.Examined || note.Taken || note.Fault.empty()) continue;
        // Its open or a read failed, so the scan could not judge it: it may well be one
        // the operation should have taken.
        const std::string line = NotExaminedLine(index, note.Fault);
        reporter_.AppendLine(line);
        if (Finish(Outcome(-1, index, false, line))) return true;
    }
    return false;
}

RunEnd DeviceEngine::End(RunEnd end) {
    ReleaseHeldDevices();
    issuedTime_.reset();
    Progress(0, 0);
    if (end == RunEnd::Completed && anyFailed_) end = RunEnd::Failed;
    // Said last, so no clearing of the lines takes it away. A watch picks its devices by a
    // filter and says this itself, once.
    if (leftOut_ > 0 && !context_->ScanFilter) {
        reporter_.AppendLine(FirstDevicesOnlyLine);
        const bool writes =
            operation_ == DeviceOperation::Program || operation_ == DeviceOperation::Erase;
        if (writes && end == RunEnd::Completed) end = RunEnd::Failed;
    }
    if (cancelled_) end = RunEnd::Cancelled;
    LastEnd = end;
    return end;
}

RunEnd DeviceEngine::ScanDevices(const RunContext& context) {
    const InContext in(*this, context);
    Begin(DeviceOperation::Scan);
    reporter_.ClearLines();
    SurveyScan();
    reporter_.AppendLine("Number Of Blank Devices = " + std::to_string(Scan.BlankCount));
    reporter_.AppendLine("Number Of Programmed Devices = " + std::to_string(Scan.ProgrammedCount));
    for (std::int32_t index = 0; index < MaxScanDevices; ++index) {
        const DeviceNote& note = notes_[static_cast<std::size_t>(index)];
        if (!note.Examined || (!note.Taken && note.Fault.empty())) continue;
        // A count that rests on a failed call may be wrong: the device fails.
        std::string reason;
        if (!note.Fault.empty()) {
            reason = NotExaminedLine(index, note.Fault);
            reporter_.AppendLine(reason);
        }
        if (Finish(Outcome(note.Position, index, reason.empty(), reason))) break;
    }
    return End(Scan.BlankCount + Scan.ProgrammedCount > 0 || anyFailed_ ? RunEnd::Completed
                                                                        : RunEnd::NoDevices);
}

} // namespace burnwise::device
