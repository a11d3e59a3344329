#include "burnwise/codec/ImageDecoder.h"
#include "burnwise/codec/ImageDump.h"
#include "burnwise/device/DeviceEngine.h"

#include <functional>

namespace burnwise::device {
namespace {

constexpr std::string_view NoDevicesLine = "No Devices found ...";

} // namespace

RunEnd DeviceEngine::Erase() {
    reporter_.ClearLines();
    EraseScan();
    const int count = Scan.SelectedCount;
    if (count < 1) {
        reporter_.AppendLine(NoDevicesLine);
        return End(RunEnd::NoDevices);
    }
    for (int i = 0; i < count; ++i) {
        Progress(i + 1, count);
        if (!Unit.OpenDeviceAt(Scan.SelectedDevices[static_cast<std::size_t>(i)]))
            return End(RunEnd::Stopped);
        if (Unit.PipexEraseEE() == VQ_OK)
            reporter_.AppendLine("Erase successful Device " + std::to_string(i));
        else
            reporter_.AppendLine("ERROR - Erase failed Device " + std::to_string(i));
        Unit.CloseCurrentDevice();
    }
    return End(RunEnd::Completed);
}

RunEnd DeviceEngine::WalkCountedDevices(const std::function<void(int position)>& visit) {
    reporter_.ClearLines();
    SurveyScan();
    const int count = Scan.BlankCount + Scan.ProgrammedCount;
    if (count < 1) {
        reporter_.AppendLine(NoDevicesLine);
        return End(RunEnd::NoDevices);
    }
    for (int i = 0; i < count; ++i) {
        Progress(i + 1, count);
        if (!Unit.OpenDeviceAt(Scan.CountedDevices[static_cast<std::size_t>(i)]))
            return End(RunEnd::Stopped);
        visit(i);
        Unit.CloseCurrentDevice();
    }
    return End(RunEnd::Completed);
}

RunEnd DeviceEngine::Read() {
    return WalkCountedDevices([this](int i) {
        if (Unit.ReadWholeImage(codec_.ReadImage)) {
            reporter_.AppendLine("Read EEPROM successful Device " + std::to_string(i));
            for (const std::string& line : codec::DumpImage(codec_.ReadImage, codec_.Selectors))
                reporter_.AppendLine(line);
        } else {
            reporter_.AppendLine("ERROR - Read EEPROM failed Device " + std::to_string(i));
        }
    });
}

RunEnd DeviceEngine::ReadAndParse(ParsedDeviceSink& sink) {
    return WalkCountedDevices([this, &sink](int i) {
        if (ReadAndClassify(codec::DecodeFromScratch) != VerdictProgrammed) {
            reporter_.AppendLine("ERROR - Read EEPROM failed Device " + std::to_string(i));
        } else {
            reporter_.AppendLine("Read EEPROM successful Device " + std::to_string(i));
            sink.PutIntoWindow(codec_.Settings, codec_.Selectors);
            sink.ShowParsedDeviceType(codec_.Settings, codec_.Selectors);
        }
    });
}

RunEnd DeviceEngine::Cycle() {
    const int count = ProgramScan();
    if (count <= 0) {
        reporter_.AppendLine(NoDevicesLine);
        return End(RunEnd::NoDevices);
    }
    for (int i = 0; i < count; ++i) {
        Progress(i + 1, count);
        if (!Unit.OpenDeviceAt(Scan.SelectedDevices[static_cast<std::size_t>(i)])) {
            reporter_.AppendLine("CyclePort failed Device " + std::to_string(i));
            continue;
        }
        if (Unit.PipexCyclePort() == VQ_OK)
            reporter_.AppendLine("CyclePort successful Device " + std::to_string(i));
        else
            reporter_.ShowInformation("No Valid Devices Found");
        Unit.CloseCurrentDevice();
    }
    return End(RunEnd::Completed);
}

} // namespace burnwise::device
