#include "burnwise/device/PipexUnit.h"

#include "burnwise/codec/EepromGeometry.h"

#include <array>

namespace burnwise::device {
namespace {

// The size probe's marker: the first of these that neither word 0 nor word 64 holds.
constexpr std::array<std::uint16_t, 3> SizeMarkers{0x00C0, 0x0C00, 0xC000};
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

ProbeLeft PipexUnit::DetectEepromType(std::string& eepromTypeName) {
    eepromTypeName = codec::EepromUnknown;
    // The part is sized without erasing it, so a probe that fails can never cost the image
    // it holds. The words the marker could show up at are read first: the marker is chosen
    // unlike both lower ones, so only the word address 192 reaches can hold it afterwards,
    // and that word is what a failed probe puts back. Address 192 reaches word 0, 64 or
    // 192, whatever the size.
    std::uint16_t word0 = 0, word64 = 0, overwritten = 0;
    for (const auto& [address, word] : {std::pair{0u, &word0}, std::pair{64u, &word64},
                                        std::pair{SizeMarkerAddress, &overwritten}}) {
        if (PipexReadEE(address) != VQ_OK) {
            reporter_.AppendLine("ERROR - Read failed");
            return ProbeLeft::AsFound;
        }
        *word = LastReadWord;
    }
    std::uint16_t marker = SizeMarkers[0];
    for (const std::uint16_t candidate : SizeMarkers) {
        marker = candidate;
        if (candidate != word0 && candidate != word64) break;
    }

    bool probed = PipexWriteEE(SizeMarkerAddress, marker) == VQ_OK;
    if (!probed) reporter_.AppendLine("ERROR - Write failed");
    // A part with fewer address bits ignores the upper ones: the marker written to 192
    // shows up at word 0 of a 64-word part and at word 64 of a 128-word part. A failed
    // read never counts as a hit, whatever an earlier read left behind.
    for (const codec::EepromGeometry& geometry : codec::EepromGeometries) {
        if (!probed || geometry.TestWord < 0) break;
        // A probe that cannot be read tells nothing: moving on to the next size would take
        // a smaller part for a larger one, and an image laid out for the wrong size.
        if (PipexReadEE(static_cast<std::uint32_t>(geometry.TestWord)) != VQ_OK) {
            reporter_.AppendLine("ERROR - Read failed");
            probed = false;
        } else if (LastReadWord == marker) {
            // The image written next replaces the marker.
            eepromTypeName = geometry.Name;
            return ProbeLeft::Marker;
        }
    }
    // Put back the word the marker went to, unless it still holds what it held (a refused
    // marker write, a part that ignores writes), and make sure it holds it again.
    const auto holdsItsWord = [&] {
        return PipexReadEE(SizeMarkerAddress) == VQ_OK && LastReadWord == overwritten;
    };
    if (holdsItsWord()) return ProbeLeft::AsFound;
    PipexWriteEE(SizeMarkerAddress, overwritten);
    return holdsItsWord() ? ProbeLeft::AsFound : ProbeLeft::InDoubt;
}

void PipexUnit::WriteWholeImage(const codec::EepromImage& image, std::string_view eepromTypeName) {
    const codec::EepromGeometry* geometry = codec::FindEepromGeometry(eepromTypeName);
    const std::size_t words = geometry ? geometry->WordsWritten : 0;
    for (std::uint32_t offset = 0; offset < words && offset < image.size(); ++offset)
        PipexWriteEE(offset, image[offset]);
}

} // namespace burnwise::device
