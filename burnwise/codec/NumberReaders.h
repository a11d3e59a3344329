#pragma once

#include <cstdint>
#include <string_view>

namespace burnwise::codec {

// The window's lenient number readers. Every character that is not a digit of the base
// counts as a 0 digit ("1x5" reads as 105), an empty text reads as 0, and nothing is
// ever reported. The result wraps like the 32-bit integer it is built in; callers keep
// the low bits their field holds.
std::uint32_t ReadDecimal(std::string_view text);
std::uint32_t ReadHexadecimal(std::string_view text);

} // namespace burnwise::codec
