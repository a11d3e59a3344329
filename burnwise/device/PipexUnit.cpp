#include "burnwise/device/PipexUnit.h"

#include "burnwise/codec/EepromGeometry.h"

#include <array>

namespace burnwise::device {
namespace {

// The driver writes the word only on success; the marker the size probe looks for.
constexpr std::uint16_t SizeMarker = 0x00C0;
constexpr std::uint32_t SizeMarkerAddress = 192;

} // namespace

std::string PipexStatusText(VQ_STATUS status) {
    // The leading blank, the spacing and the dots belong to each text.
    static constexpr std::array<std::string_view, 18> Texts{
        "",
        " - Invalid Handle...",
        " - Device Not Found....",
        " - Device Not Opened...",
        " - General IO Error...",
        " - Insufficient Resources...",
        " - Invalid Parameter ...",
        " - Invalid baud rate ...",
        " Device not opened for erase  ...",
        " Device not opened for write ...",
        " - Failed to write ...",
        " - EEPROM read Failed ...",
        " - EEPROM write failed ...",
        " - EEPROM erase failed ...",
        " - EEPROM not present ...",
        " - EEPROM not programmed ...",
        " - invalid Arguments ...",
        " - other error  ...",
    };
    if (status < Texts.size()) return std::string(Texts[status]);
    return " - unknown status " + std::to_string(status) + " ...";
}

VQ_STATUS PipexUnit::Note(std::string_view label, VQ_STATUS status) {
    if (status != VQ_OK && Fault.empty()) Fault = std::string(label) + PipexStatusText(status);
    return status;
}

VQ_STATUS PipexUnit::GetVQDeviceCount() {
    const VQ_STATUS status = driver_.ListDevices(&DeviceCount, nullptr, VQ_LIST_NUMBER_ONLY);
    PipexReportStatus("GetVQDeviceCount", status);
    return status;
}

VQ_STATUS PipexUnit::PipexOpen() {
    const VQ_STATUS status = Note("VQ_Open", driver_.Open(CurrentDeviceIndex, &CurrentHandle));
    PipexReportStatus("VQ_Open", status);
    return status;
}

VQ_STATUS PipexUnit::PipexClose() {
    const VQ_STATUS status = Note("VQ_Close", driver_.Close(CurrentHandle));
    PipexReportStatus("VQ_Close", status);
    return status;
}

VQ_STATUS PipexUnit::PipexSetLatencyTimer(std::uint8_t value) {
    return Note("VQ_SetLatencyTimer", driver_.SetLatencyTimer(CurrentHandle, value));
}

VQ_STATUS PipexUnit::PipexGetDeviceInfo(std::uint32_t* typeCode, std::uint32_t* deviceId,
                                        char* serialNumber, char* description, void* reserved) {
    const VQ_STATUS status =
        Note("VQ_GetDeviceInfo ", driver_.GetDeviceInfo(CurrentHandle, typeCode, deviceId,
                                                        serialNumber, description, reserved));
    PipexReportStatus("VQ_GetDeviceInfo ", status);
    return status;
}

VQ_STATUS PipexUnit::PipexReadEE(std::uint32_t offset) {
    std::uint16_t word = 0;
    const VQ_STATUS status = Note("VQ_ReadEE", driver_.ReadEE(CurrentHandle, offset, &word));
    if (status == VQ_OK) LastReadWord = word;
    return status;
}

VQ_STATUS PipexUnit::PipexWriteEE(std::uint32_t offset, std::uint16_t value) {
    return Note("VQ_WriteEE", driver_.WriteEE(CurrentHandle, offset, value));
}

VQ_STATUS PipexUnit::PipexEraseEE() {
    return Note("VQ_EraseEE", driver_.EraseEE(CurrentHandle));
}

VQ_STATUS PipexUnit::PipexCyclePort() {
    return Note("VQ_CyclePort", driver_.CyclePort(CurrentHandle));
}

void PipexUnit::PipexReportStatus(std::string_view label, VQ_STATUS status) {
    if (status == VQ_OK) return;
    reporter_.ShowError(std::string(label) + PipexStatusText(status));
}

bool PipexUnit::OpenDeviceAt(std::int32_t index) {
    DeviceIsOpen = false;
    CurrentDeviceIndex = index;
    if (PipexOpen() == VQ_OK) {
        DeviceIsOpen = true;
        return true;
    }
    reporter_.ShowError("Could Not Open Device " + std::to_string(index));
    return false;
}

void PipexUnit::CloseCurrentDevice() {
    if (DeviceIsOpen) PipexClose();
    DeviceIsOpen = false;
}

bool PipexUnit::ReadWholeImage(codec::EepromImage& image) {
    image.fill(0);
    if (!DeviceIsOpen) return false;
    bool complete = true;
    // Always all 128 words: a 64-word part repeats its words in the upper half.
    for (std::uint32_t offset = 0; offset < image.size(); ++offset) {
        if (PipexReadEE(offset) == VQ_OK)
            image[offset] = LastReadWord;
        else
            complete = false;
    }
    return complete;
}

void PipexUnit::DetectEepromType(std::string& eepromTypeName) {
    if (PipexEraseEE() != VQ_OK) reporter_.AppendLine("ERROR - Erase failed");
    if (PipexWriteEE(SizeMarkerAddress, SizeMarker) != VQ_OK)
        reporter_.AppendLine("ERROR - Write failed");
    eepromTypeName.clear();
    // A part with fewer address bits ignores the upper ones: the marker written to 192
    // shows up at word 0 of a 64-word part and at word 64 of a 128-word part. A failed
    // read never counts as a hit, whatever an earlier read left behind.
    for (const codec::EepromGeometry& geometry : codec::EepromGeometries) {
        if (geometry.TestWord < 0) continue;
        // A probe that cannot be read tells nothing: moving on to the next size would take
        // a smaller part for a larger one, and an image laid out for the wrong size.
        if (PipexReadEE(static_cast<std::uint32_t>(geometry.TestWord)) != VQ_OK) {
            reporter_.AppendLine("ERROR - Read failed");
            break;
        }
        if (LastReadWord == SizeMarker) {
            eepromTypeName = geometry.Name;
            return;
        }
    }
    eepromTypeName = codec::EepromUnknown;
}

void PipexUnit::WriteWholeImage(const codec::EepromImage& image, std::string_view eepromTypeName) {
    const codec::EepromGeometry* geometry = codec::FindEepromGeometry(eepromTypeName);
    const std::size_t words = geometry ? geometry->WordsWritten : 0;
    for (std::uint32_t offset = 0; offset < words && offset < image.size(); ++offset)
        PipexWriteEE(offset, image[offset]);
}

} // namespace burnwise::device
