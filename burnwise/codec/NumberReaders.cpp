#include "NumberReaders.h"

namespace burnwise::codec {

std::uint32_t ReadDecimal(std::string_view text) {
    std::uint32_t value = 0;
    for (const char c : text) {
        const std::uint32_t digit =
            (c >= '1' && c <= '9') ? static_cast<std::uint32_t>(c - '0') : 0;
        value = value * 10u + digit;
    }
    return value;
}

std::uint32_t ReadHexadecimal(std::string_view text) {
    std::uint32_t value = 0;
    for (const char c : text) {
        std::uint32_t digit = 0;
        if (c >= '1' && c <= '9')
            digit = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        value = value * 16u + digit;
    }
    return value;
}

} // namespace burnwise::codec
