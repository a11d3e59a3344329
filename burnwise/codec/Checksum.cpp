#include "Checksum.h"

#include <algorithm>

namespace burnwise::codec {

std::uint16_t Checksum(const EepromImage& image, std::size_t count) {
    std::uint16_t value = 0xAAAA;
    for (std::size_t i = 0; i < std::min(count, image.size()); ++i) {
        value ^= image[i];
        value = static_cast<std::uint16_t>((value << 1) | (value >> 15));
    }
    return value;
}

} // namespace burnwise::codec
