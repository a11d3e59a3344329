#pragma once

#include "burnwise/codec/ChipModels.h"
#include "burnwise/codec/EepromImage.h"
#include "burnwise/codec/EepromSettings.h"

#include <cstdint>
#include <string>

namespace burnwise::codec {

// Tells the decoder which chip the image came from: the device type code the driver
// reports for the open device (0 KR2, 1 KR1, 4 KR3, 5 KR4).
class DeviceTypeSource {
public:
    virtual ~DeviceTypeSource() = default;
    virtual std::uint32_t DeviceTypeCode() = 0;
};

// What a decode makes of an image. (Classifying a device adds 4, unreadable, of its own.)
enum Verdict : int { Programmed = 0, Blank = 15 };

// Decode modes: a device examined from scratch, or with the chosen chip type standing.
inline constexpr int DecodeKeepChipType = 0;
inline constexpr int DecodeFromScratch = 1;

// Judges `image` and, when it is a valid image, decodes it into `settings` and returns
// Programmed; otherwise returns Blank and leaves every field zero and every text empty.
// May set family selectors (mode 1 clears them first) and `eepromTypeName` (mode 1 starts
// it at "93C46"). Asks `types` once, or twice for a candidate whose checksum fails.
// Reads nothing outside the image's 128 words and writes no text past its buffer.
int DecodeImage(int mode, const EepromImage& image, FamilySelectors& selectors,
                std::string& eepromTypeName, EepromSettings& settings, DeviceTypeSource& types);

// Whether decoded settings hold a serial number of the device's own: the serial switch of
// its family (a KR1 image always holds one). Otherwise the decoder shows "Disabled".
bool CarriesSerialNumber(const EepromSettings& settings, const FamilySelectors& selectors);

} // namespace burnwise::codec
