#include "ImageFile.h"

#include "burnwise/cli/SettingsFile.h"
#include "common/FileAccess.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <sstream>

namespace burnwise::cli {
namespace {

constexpr std::size_t ImageBytes = 2 * codec::ImageWords;

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

codec::EepromImage ParseWords(const std::string& text, const std::string& path) {
    codec::EepromImage image{};
    std::size_t count = 0;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (line.find('=') != std::string::npos) continue;
        std::istringstream tokens(line);
        std::string token;
        while (tokens >> token) {
            const bool isWord = token.size() == 4 && IsHexDigit(token[0]) && IsHexDigit(token[1]) &&
                                IsHexDigit(token[2]) && IsHexDigit(token[3]);
            if (!isWord) {
                throw InputError(path + ":" + std::to_string(number) + ": \"" + token +
                                 "\" is not a four-digit hexadecimal word");
            }
            if (count == image.size()) {
                throw InputError(path + ": more than 128 words");
            }
            std::from_chars(token.data(), token.data() + 4, image[count++], 16);
        }
    }
    if (count != image.size()) {
        throw InputError(path + ": " + std::to_string(count) +
                         " words; an image is 256 bytes or 128 hexadecimal words");
    }
    return image;
}

} // namespace

codec::EepromImage ReadImageFile(const std::string& path) {
    std::string error;
    const std::optional<std::string> read =
        common::ReadFileBounded(path, common::MaxImageFileBytes, error);
    if (!read) throw InputError("cannot read " + path + ": " + error);
    const std::string& bytes = *read;
    if (bytes.size() != ImageBytes) return ParseWords(bytes, path);
    codec::EepromImage image{};
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                              static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    }
    return image;
}

void WriteImageWords(std::ostream& out, const codec::EepromImage& image) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < image.size(); ++i) {
        for (int shift = 12; shift >= 0; shift -= 4)
            out << Hex[(image[i] >> shift) & 0xF];
        out << ((i % 8 == 7) ? '\n' : ' ');
    }
}

void WriteImageBytes(std::ostream& out, const codec::EepromImage& image) {
    for (const std::uint16_t word : image) {
        out.put(static_cast<char>(word & 0xFF));
        out.put(static_cast<char>(word >> 8));
    }
}

} // namespace burnwise::cli
