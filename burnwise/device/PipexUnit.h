#pragma once

#include "burnwise/codec/EepromImage.h"
#include "burnwise/device/PipexDriver.h"
#include "burnwise/device/Reporter.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace burnwise::device {

// The text a failed driver status is shown with, after the label of the failed call.
// Statuses the driver documents have their fixed text; 15 (which the driver returns for
// an EEPROM that holds no image) and anything above 17 get a text naming the number.
std::string PipexStatusText(VQ_STATUS status);

// What the size probe leaves in the part.
enum class ProbeLeft {
    Marker,  // the size was found; one word holds the marker until the image is written
    AsFound, // every word as it was before the probe
    InDoubt, // the word at address 192 may still hold the marker
};

// The one place that talks to the driver: a single current device (driver index and
// handle), the nine driver calls, and the device routines every operation shares. At most
// one device is open at a time.
class PipexUnit {
public:
    PipexUnit(PipexDriver& driver, Reporter& reporter) : driver_(driver), reporter_(reporter) {}
    PipexUnit(const PipexUnit&) = delete;
    PipexUnit& operator=(const PipexUnit&) = delete;

    std::int32_t CurrentDeviceIndex = 0;
    VQ_HANDLE CurrentHandle = nullptr;
    std::int32_t DeviceCount = 0;
    std::uint16_t LastReadWord = 0;
    bool DeviceIsOpen = false;
    // The first driver call that failed since the engine last cleared it, as its label and
    // status text ("VQ_ReadEE - General IO Error..."); empty while every call succeeded.
    // Every failed call counts, also those whose caller goes on.
    std::string Fault;

    // ---- The driver calls; each returns the driver's status unchanged ------------------
    // Count, open, close and device information show a box on failure.

    VQ_STATUS GetVQDeviceCount();
    VQ_STATUS PipexOpen();
    VQ_STATUS PipexClose();
    VQ_STATUS PipexSetLatencyTimer(std::uint8_t value);
    // Any of the three text buffers may be null; given ones must hold VQ_TEXT_SIZE bytes.
    VQ_STATUS PipexGetDeviceInfo(std::uint32_t* typeCode, std::uint32_t* deviceId,
                                 char* serialNumber, char* description, void* reserved);
    VQ_STATUS PipexReadEE(std::uint32_t offset);
    VQ_STATUS PipexWriteEE(std::uint32_t offset, std::uint16_t value);
    VQ_STATUS PipexEraseEE();
    VQ_STATUS PipexCyclePort();

    // The driver every call goes to.
    PipexDriver& Driver() const { return driver_; }

    // Shows "label" followed by the status text in an error box when the status is not 0.
    void PipexReportStatus(std::string_view label, VQ_STATUS status);

    // ---- Device routines ------------------------------------------------------------

    // Opens the device at `index`; on failure a second box names the index.
    bool OpenDeviceAt(std::int32_t index);
    // Closes the current device if it is open; does not call the driver otherwise.
    void CloseCurrentDevice();
    // Reads words 0 to 127 of the open device into `image`, every one even after a failed
    // one (which stays 0). False when nothing is open or any word failed.
    bool ReadWholeImage(codec::EepromImage& image);
    // Finds the size of the open device's EEPROM with a marker at address 192, erasing
    // nothing; sets `eepromTypeName` to "93C46", "93C56", "93C66" or "Unknown". Reports its
    // failed calls as lines. When the size is not found, the word the marker went to is
    // put back.
    ProbeLeft DetectEepromType(std::string& eepromTypeName);
    // Writes the words the named EEPROM takes (64 for "93C46", 128 for "93C56" and
    // "93C66", none otherwise), word n to address n; the statuses are not looked at.
    void WriteWholeImage(const codec::EepromImage& image, std::string_view eepromTypeName);

private:
    VQ_STATUS Note(std::string_view label, VQ_STATUS status);

    PipexDriver& driver_;
    Reporter& reporter_;
};

} // namespace burnwise::device
