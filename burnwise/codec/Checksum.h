#pragma once

#include "burnwise/codec/EepromImage.h"

#include <cstddef>
#include <cstdint>

namespace burnwise::codec {

// The image checksum over words 0 to count-1 (count is 63 or 127); it is stored in word
// `count`. Starts at 0xAAAA; each word is XORed in, then the value rotates left by one.
// A count above the image size is cut to the image.
std::uint16_t Checksum(const EepromImage& image, std::size_t count);

} // namespace burnwise::codec
