#include "dl2mgr/editor/MorseTable.h"

#include <gtest/gtest.h>
#include <string>

namespace dl2mgr::editor {
namespace {

// Packs dots and dashes the keyer's way: element i is bit i (dah = 1), then a length bit.
std::uint8_t Pack(const std::string& elements) {
    std::uint8_t value = 0;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (elements[i] == '-') value |= 1u << i;
    }
    return value | (1u << elements.size());
}

TEST(MorseTable, LettersAndDigitsAreInternationalMorseInBothCases) {
    const std::pair<char, const char*> morse[] = {
        {'A', ".-"},    {'B', "-..."},  {'C', "-.-."},  {'D', "-.."},   {'E', "."},
        {'F', "..-."},  {'G', "--."},   {'H', "...."},  {'I', ".."},    {'J', ".---"},
        {'K', "-.-"},   {'L', ".-.."},  {'M', "--"},    {'N', "-."},    {'O', "---"},
        {'P', ".--."},  {'Q', "--.-"},  {'R', ".-."},   {'S', "..."},   {'T', "-"},
        {'U', "..-"},   {'V', "...-"},  {'W', ".--"},   {'X', "-..-"},  {'Y', "-.--"},
        {'Z', "--.."},  {'0', "-----"}, {'1', ".----"}, {'2', "..---"}, {'3', "...--"},
        {'4', "....-"}, {'5', "....."}, {'6', "-...."}, {'7', "--..."}, {'8', "---.."},
        {'9', "----."},
    };
    for (const auto& [c, elements] : morse) {
        EXPECT_EQ(MorseTable[c], Pack(elements)) << c;
        if (c >= 'A') {
            EXPECT_EQ(MorseTable[c + 32], Pack(elements)) << char(c + 32);
        }
    }
    EXPECT_EQ(MorseTable['E'], 0x02);
    EXPECT_EQ(MorseTable['T'], 0x03);
    EXPECT_EQ(MorseTable['0'], 0x3F);
    EXPECT_EQ(MorseTable['5'], 0x20);
}

TEST(MorseTable, PunctuationControlCodesAndCharactersWithoutMorse) {
    const std::pair<char, std::uint8_t> punctuation[] = {
        {' ', 0x1C},  {'"', 0x52}, {'$', 0xC8}, {'\'', 0x5E}, {'(', 0x2D}, {')', 0x6D},
        {'+', 0x2A},  {'.', 0x6A}, {'/', 0x29}, {':', 0x2D},  {';', 0x1A}, {'<', 0x2A},
        {'=', 0x31},  {',', 0x73}, {'>', 0x68}, {'?', 0x4C},  {'@', 0x56}, {'[', 0x22},
        {'\\', 0x29}, {']', 0x2D}, {'|', 0x2C}, {'-', 0x61},
    };
    for (const auto& [c, byte] : punctuation)
        EXPECT_EQ(MorseTable[c], byte) << c;
    for (char c : std::string("!#%&*^_`{}~\x7f")) {
        EXPECT_EQ(MorseTable[c], NoMorseForm) << int(c);
        EXPECT_FALSE(HasMorseForm(c)) << int(c);
    }
    for (int c = 0; c < 32; ++c)
        EXPECT_EQ(MorseTable[c], 0x00) << c;
    EXPECT_TRUE(HasMorseForm('\r'));
    EXPECT_TRUE(HasMorseForm('a'));
    // Codes above the table (pasted text) have no Morse form.
    for (int c = 128; c < 256; ++c) {
        EXPECT_EQ(MorseByteOf(static_cast<unsigned char>(c)), NoMorseForm) << c;
        EXPECT_FALSE(HasMorseForm(static_cast<unsigned char>(c))) << c;
    }
}

} // namespace
} // namespace dl2mgr::editor
