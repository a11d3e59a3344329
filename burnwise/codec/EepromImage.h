#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace burnwise::codec {

inline constexpr std::size_t ImageWords = 128;

// Word n goes to (or came from) EEPROM word address n.
using EepromImage = std::array<std::uint16_t, ImageWords>;

} // namespace burnwise::codec
