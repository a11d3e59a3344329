#pragma once

#include "burnwise/codec/ChipModels.h"
#include "burnwise/codec/EepromImage.h"

#include <string>
#include <vector>

namespace burnwise::codec {

// The image as hexadecimal lines of 8 words each: 128 words for KR3, 80 for KR4 (the
// user words and the factory words after them), 64 otherwise. A line is the byte address,
// " : ", each word's low and high byte in hexadecimal, then each word's high and low byte
// as characters, "." for a byte outside "0" to "~":
//   0000 : 00 00 34 12 78 56 00 04 80 32 18 00 00 02 94 06   .. .4 Vx .. 2. .. .. ..
std::vector<std::string> DumpImage(const EepromImage& image, const FamilySelectors& selectors);

} // namespace burnwise::codec
