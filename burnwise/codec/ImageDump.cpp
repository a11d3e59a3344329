#include "ImageDump.h"

#include <cstddef>
#include <cstdint>

namespace burnwise::codec {
namespace {

constexpr std::size_t WordsPerLine = 8;

void AppendHex(std::string& line, unsigned value, int digits) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        line += Hex[(value >> shift) & 0xF];
}

char Shown(unsigned byte) {
    return byte < 48 || byte > 126 ? '.' : static_cast<char>(byte);
}

} // namespace

std::vector<std::string> DumpImage(const EepromImage& image, const FamilySelectors& selectors) {
    const std::size_t words = selectors.Kr3Selected ? 128 : selectors.Kr4Selected ? 80 : 64;
    std::vector<std::string> lines;
    for (std::size_t first = 0; first + WordsPerLine <= words; first += WordsPerLine) {
        std::string line;
        AppendHex(line, static_cast<unsigned>(2 * first), 4);
        line += " : ";
        for (std::size_t i = first; i < first + WordsPerLine; ++i) {
            AppendHex(line, image[i] & 0xFFu, 2);
            line += ' ';
            AppendHex(line, image[i] >> 8, 2);
            line += ' ';
        }
        line += ' ';
        for (std::size_t i = first; i < first + WordsPerLine; ++i) {
            line += ' ';
            line += Shown(image[i] >> 8);
            line += Shown(image[i] & 0xFFu);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace burnwise::codec
