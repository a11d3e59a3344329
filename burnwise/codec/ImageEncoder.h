#pragma once

#include "burnwise/codec/ChipModels.h"
#include "burnwise/codec/EepromImage.h"
#include "burnwise/codec/EepromSettings.h"
#include "burnwise/codec/SerialNumber.h"

#include <string>
#include <string_view>

namespace burnwise::codec {

struct EncodeResult {
    // The serial number text placed in the image. A generated one whose prefix is empty
    // starts with a zero character, exactly as the descriptor holds it.
    std::string Serial;
    // Whether the three descriptors and the Plug and Play word end below word 63, the
    // checksum word of the 64-word layout. When false the image still holds everything
    // that fits below word 128, but its descriptors are broken and it must not be written.
    bool Fits = false;
};

// Builds the image for `settings` on a chip of the family `selectors` name, fitted with the
// EEPROM `eepromTypeName`; `clock` is asked only when a serial number must be generated.
// Never writes outside `out`'s 128 words.
EncodeResult EncodeImage(const EepromSettings& settings, const FamilySelectors& selectors,
                         std::string_view eepromTypeName, const UtcClock& clock, EepromImage& out);

} // namespace burnwise::codec
