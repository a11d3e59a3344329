#pragma once

#include <string>
#include <string_view>

namespace burnwise::codec {

// Keeps an 8-bit text on one printable line: bytes below 0x20, 0x7F and the backslash
// become "\xHH" (upper-case hexadecimal); every other byte stays as it is.
std::string EscapeText(std::string_view text);

// The reverse: "\xHH" (either case) becomes the byte; a backslash that does not start
// such an escape stays a backslash.
std::string UnescapeText(std::string_view text);

} // namespace burnwise::codec
