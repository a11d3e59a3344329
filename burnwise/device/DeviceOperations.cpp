#include "burnwise/codec/ImageDecoder.h"
#include "burnwise/codec/ImageDump.h"
#include "burnwise/device/DeviceEngine.h"

#include <algorithm>
#include <functional>

namespace burnwise::device {
namespace {

constexpr std::string_view NoDevicesLine = "No Devices found ...";
constexpr std::string_view EraseCancelledLine = "Erase cancelled - nothing erased";

} // namespace

bool DeviceEngine::ReadsBlank(std::int32_t driverIndex) {
    // An erased word reads all ones. A KR4 chip keeps its factory words above the 64 user
    // words, which no erase touches.
    const DeviceNote* seen = NoteOf(driverIndex);
    const bool kr4 = seen != nullptr && seen->Family == codec::ChipFamily::KR4;
    const std::size_t words = kr4 ? 64 : codec_.ReadImage.size();
    if (!Unit.ReadWholeImage(codec_.ReadImage)) return false;
    return std::all_of(codec_.ReadImage.begin(), codec_.ReadImage.begin() + words,
                       [](std::uint16_t word) { return word == 0xFFFF; });
}

RunEnd DeviceEngine::Erase(const RunContext& context) {
    const InContext in(*this, context);
    Begin(DeviceOperation::Erase);
    reporter_.ClearLines();
    EraseScan();
    const int count = Scan.SelectedCount;
    if (stoppedBefore_) return End(RunEnd::Cancelled);
    if (FailSkippedDevices()) return End(RunEnd::Stopped);
    if (count >= 1 && StopBeforeDevice(Scan.SelectedDevices[0])) return End(RunEnd::Cancelled);
    if (count < 1) {
        reporter_.AppendLine(NoDevicesLine);
        return End(anyFailed_ ? RunEnd::Stopped : RunEnd::NoDevices);
    }
    if (context.ConfirmErase && !context.ConfirmErase({Scan.SelectedDevices.begin(),
                                                       Scan.SelectedDevices.begin() + count})) {
        reporter_.AppendLine(EraseCancelledLine);
        cancelled_ = true;
        return End(RunEnd::Cancelled);
    }
    for (int i = 0; i < count; ++i) {
        Progress(i + 1, count);
        const std::int32_t index = Scan.SelectedDevices[static_cast<std::size_t>(i)];
        Unit.Fault.clear();
        if (!OpenForWork(index)) {
            Finish(Outcome(i, index, false, "Could Not Open Device " + std::to_string(index)));
            return End(RunEnd::Stopped);
        }
        std::string failure;
        if (Unit.PipexEraseEE() != VQ_OK)
            failure = "ERROR - Erase failed Device " + std::to_string(index);
        else if (!ReadsBlank(index))
            failure = "ERROR - Erase failed Device " + std::to_string(index) +
                      " - the part does not read blank";
        Unit.CloseCurrentDevice();
        if (failure.empty() && !Unit.Fault.empty())
            failure = "ERROR - Device " + std::to_string(index) + " failed: " + Unit.Fault;
        if (failure.empty())
            reporter_.AppendLine("Erase successful Device " + std::to_string(index));
        else
            reporter_.AppendLine(failure);
        if (Finish(Outcome(i, index, failure.empty(), failure))) break;
    }
    return End(RunEnd::Completed);
}

RunEnd DeviceEngine::WalkCountedDevices(
    const std::function<std::string(std::int32_t driverIndex)>& visit) {
    reporter_.ClearLines();
    SurveyScan();
    const int count = Scan.BlankCount + Scan.ProgrammedCount;
    if (FailSkippedDevices()) return End(RunEnd::Stopped);
    if (count < 1) {
        reporter_.AppendLine(NoDevicesLine);
        return End(anyFailed_ ? RunEnd::Stopped : RunEnd::NoDevices);
    }
    for (int i = 0; i < count; ++i) {
        Progress(i + 1, count);
        const std::int32_t index = Scan.CountedDevices[static_cast<std::size_t>(i)];
        Unit.Fault.clear();
        if (!Unit.OpenDeviceAt(index)) {
            Finish(Outcome(i, index, false, "Could Not Open Device " + std::to_string(index)));
            return End(RunEnd::Stopped);
        }
        std::string failure = visit(index);
        Unit.CloseCurrentDevice();
        if (failure.empty() && !Unit.Fault.empty()) {
            failure = "ERROR - Device " + std::to_string(index) + " failed: " + Unit.Fault;
            reporter_.AppendLine(failure);
        }
        if (Finish(Outcome(i, index, failure.empty(), failure))) break;
    }
    return End(RunEnd::Completed);
}

RunEnd DeviceEngine::Read(const RunContext& context) {
    const InContext in(*this, context);
    Begin(DeviceOperation::Read);
    return WalkCountedDevices([this](std::int32_t index) -> std::string {
        if (Unit.ReadWholeImage(codec_.ReadImage)) {
            reporter_.AppendLine("Read EEPROM successful Device " + std::to_string(index));
            for (const std::string& line : codec::DumpImage(codec_.ReadImage, codec_.Selectors))
                reporter_.AppendLine(line);
            return {};
        }
        const std::string line = "ERROR - Read EEPROM failed Device " + std::to_string(index);
        reporter_.AppendLine(line);
        return line;
    });
}

RunEnd DeviceEngine::ReadAndParse(ParsedDeviceSink& sink, const RunContext& context) {
    const InContext in(*this, context);
    Begin(DeviceOperation::ReadAndParse);
    return WalkCountedDevices([this, &sink](std::int32_t index) -> std::string {
        const int verdict = ReadAndClassify(codec::DecodeFromScratch);
        const bool saidBySink =
            verdict != VerdictUnreadable &&
            sink.WordsRead(codec_.ReadImage, codec_.EepromTypeName, verdict == VerdictProgrammed);
        if (verdict != VerdictProgrammed) {
            if (saidBySink) return "Device " + std::to_string(index) + " holds no valid image";
            const std::string line = "ERROR - Read EEPROM failed Device " + std::to_string(index);
            reporter_.AppendLine(line);
            return line;
        }
        reporter_.AppendLine("Read EEPROM successful Device " + std::to_string(index));
        sink.PutIntoWindow(codec_.Settings, codec_.Selectors);
        sink.ShowParsedDeviceType(codec_.Settings, codec_.Selectors);
        return {};
    });
}

RunEnd DeviceEngine::Cycle(const RunContext& context) {
    const InContext in(*this, context);
    Begin(DeviceOperation::Cycle);
    const int count = ProgramScan();
    if (stoppedBefore_) return End(RunEnd::Cancelled);
    if (FailSkippedDevices()) return End(RunEnd::Stopped);
    if (count <= 0) {
        reporter_.AppendLine(NoDevicesLine);
        return End(anyFailed_ ? RunEnd::Stopped : RunEnd::NoDevices);
    }
    for (int i = 0; i < count; ++i) {
        Progress(i + 1, count);
        const std::int32_t index = Scan.SelectedDevices[static_cast<std::size_t>(i)];
        Unit.Fault.clear();
        if (!OpenForWork(index)) {
            const std::string line = "CyclePort failed Device " + std::to_string(index);
            reporter_.AppendLine(line);
            if (Finish(Outcome(i, index, false, line))) break;
            continue;
        }
        std::string failure;
        if (Unit.PipexCyclePort() == VQ_OK) {
            reporter_.AppendLine("CyclePort successful Device " + std::to_string(index));
        } else {
            failure = "No Valid Devices Found";
            reporter_.ShowInformation(failure);
        }
        Unit.CloseCurrentDevice();
        if (failure.empty() && !Unit.Fault.empty()) {
            failure = "ERROR - Device " + std::to_string(index) + " failed: " + Unit.Fault;
            reporter_.AppendLine(failure);
        }
        if (Finish(Outcome(i, index, failure.empty(), failure))) break;
    }
    return End(RunEnd::Completed);
}

} // namespace burnwise::device
