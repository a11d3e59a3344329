#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace burnwise::codec {

// One serial EEPROM type that may sit beside a chip.
struct EepromGeometry {
    std::string_view Name;       // the EepromTypeName text
    std::size_t Words;           // size in 16-bit words; 0 when not known
    int TestWord;                // where the size probe's marker shows up; -1 for none
    std::size_t WordsWritten;    // words the image writer puts into the part
    std::size_t Kr3ChecksumWord; // checksum word of a KR3 image; every other family uses 63
    std::uint16_t Kr3Marker;     // word 10 of a KR3 image
};

// The size probe writes its marker to address 192: a part with fewer address bits ignores
// the upper ones, so it lands on word 0 of a 64-word part and word 64 of a 128-word part.
// A 256-word part only ever receives the lower 128 words. An unknown part is laid out
// like the largest one but receives nothing.
inline constexpr std::array<EepromGeometry, 4> EepromGeometries{{
    {"93C46", 64, 0, 64, 63, 0x0046},
    {"93C56", 128, 64, 128, 127, 0x0056},
    {"93C66", 256, 192, 128, 127, 0x0066},
    {"Unknown", 0, -1, 0, 127, 0x0066},
}};

inline constexpr std::string_view Eeprom93C46 = "93C46";
inline constexpr std::string_view Eeprom93C56 = "93C56";
inline constexpr std::string_view Eeprom93C66 = "93C66";
inline constexpr std::string_view EepromUnknown = "Unknown";

// The row named `name`; any other name (empty before detection, or misspelt) gets the
// "Unknown" row.
const EepromGeometry& EepromGeometryOf(std::string_view name);

// The row named exactly `name`, or null.
const EepromGeometry* FindEepromGeometry(std::string_view name);

} // namespace burnwise::codec
