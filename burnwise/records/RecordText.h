#pragma once

// The texts of a record, as the store interface takes them: UTF-8 as typed. Header-only, so
// that a program that only fills records needs no database library.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace burnwise::records {

// Latin-1 to UTF-8, a byte a character.
inline std::string Latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += char(0xC0 | (byte >> 6));
            out += char(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

// The characters of UTF-8 text; nothing when it is not valid UTF-8 (overlong forms,
// surrogates and numbers beyond Unicode included).
inline std::optional<std::u32string> DecodeUtf8(std::string_view text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
        if ((byte >= 0x80 && byte < 0xC0) || byte > 0xF4 || length > text.size() - i)
            return std::nullopt;
        char32_t code = length == 1 ? byte : byte & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            code = (code << 6) | (next & 0x3F);
        }
        static constexpr char32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < Least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return std::nullopt;
        out += code;
        i += length;
    }
    return out;
}

// A chip's 8-bit text (a byte a character) as a record keeps it.
inline std::string ChipText(std::string_view latin1) {
    return Latin1ToUtf8(latin1);
}

// A name the system gives (a file name, a host name) as UTF-8: kept when it is UTF-8 already,
// else read a byte a character.
inline std::string SystemText(std::string_view bytes) {
    if (DecodeUtf8(bytes)) return std::string(bytes);
    return Latin1ToUtf8(bytes);
}

inline constexpr std::size_t MaxStationName = 64;
// Whether `name` can name a station: 1 to MaxStationName printable characters of UTF-8.
// False with `error` set otherwise.
inline bool CheckStationName(std::string_view name, std::string& error) {
    const auto characters = DecodeUtf8(name);
    bool printable = characters && !characters->empty() && characters->size() <= MaxStationName;
    if (printable)
        for (const char32_t c : *characters)
            if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029)
                printable = false;
    if (!printable)
        error = "a station name is 1 to " + std::to_string(MaxStationName) +
                " printable characters of UTF-8";
    return printable;
}

} // namespace burnwise::records
