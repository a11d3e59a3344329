#include "common/WordDump.h"

namespace common {
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

std::vector<std::string> DumpWords(std::span<const std::uint16_t> words,
                                   std::size_t firstByteAddress) {
    std::vector<std::string> lines;
    for (std::size_t first = 0; first + WordsPerLine <= words.size(); first += WordsPerLine) {
        std::string line;
        AppendHex(line, static_cast<unsigned>(firstByteAddress + 2 * first), 4);
        line += " : ";
        for (std::size_t i = first; i < first + WordsPerLine; ++i) {
            AppendHex(line, words[i] & 0xFFu, 2);
            line += ' ';
            AppendHex(line, words[i] >> 8, 2);
            line += ' ';
        }
        line += ' ';
        for (std::size_t i = first; i < first + WordsPerLine; ++i) {
            line += ' ';
            line += Shown(words[i] >> 8);
            line += Shown(words[i] & 0xFFu);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace common
