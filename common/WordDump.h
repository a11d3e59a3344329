#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace common {

// 16-bit EEPROM words as hexadecimal lines of 8 words each, as the programmer and the bench
// tool both show a chip. A line is the byte address (the first word's at `firstByteAddress`),
// " : ", each word's low and high byte in hexadecimal, then each word's high and low byte
// as characters, "." for a byte outside "0" to "~":
//   0000 : 00 00 34 12 78 56 00 04 80 32 18 00 00 02 94 06   .. .4 Vx .. 2. .. .. ..
// Words after the last full line are not shown.
std::vector<std::string> DumpWords(std::span<const std::uint16_t> words,
                                   std::size_t firstByteAddress = 0);

} // namespace common
