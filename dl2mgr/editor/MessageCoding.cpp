#include "dl2mgr/editor/MessageCoding.h"

#include "dl2mgr/editor/MorseTable.h"

#include <array>

namespace dl2mgr::editor {

namespace {

constexpr std::uint8_t EndMark = 0x80;

// Characters that share a byte read back as the lowest code that has it, so lower case
// comes back upper case and `:` comes back as `(`. Code 0 means no character has it.
std::array<char, 128> MakeCharacterOf() {
    std::array<char, 128> characterOf{};
    // From the top down, so the lowest code is the one left standing. `$` stores 0xC8,
    // which no 7-bit value equals: it never reads back.
    for (unsigned code = MorseTable.size() - 1; code >= 32; --code) {
        if (MorseTable[code] < 0x80) characterOf[MorseTable[code]] = static_cast<char>(code);
    }
    return characterOf;
}

char CharacterOf(std::uint8_t value) {
    static const std::array<char, 128> characterOf = MakeCharacterOf();
    return characterOf[value & 0x7F];
}

} // namespace

EncodeResult EncodeMessages(KeyerImage& image, const MessageTexts& texts) {
    std::size_t total = 0;
    for (const auto& text : texts)
        total += text.size();
    if (total > MessageAreaSize) return EncodeResult::TooLong;

    std::size_t next = offset::MessageArea;
    for (std::size_t k = 0; k < MessageCount; ++k) {
        const std::string& text = texts[k];
        if (text.empty()) {
            image[offset::MessageStart + k] = EmptyMessageStart;
            continue;
        }
        image[offset::MessageStart + k] = static_cast<std::uint8_t>(next);
        for (char c : text)
            image[next++] = MorseByteOf(static_cast<unsigned char>(c));
        image[next - 1] |= EndMark;
    }
    // A full area ends at 256, which the byte stores as 0.
    image[offset::MessageEnd] = static_cast<std::uint8_t>(next);
    return EncodeResult::Stored;
}

std::string DecodeMessage(const KeyerImage& image, std::uint8_t start) {
    std::string text;
    if (start < offset::MessageArea) return text;
    for (std::size_t at = start; at < image.size(); ++at) {
        const std::uint8_t b = image[at];
        const char c = CharacterOf(b & ~EndMark);
        if (c == '\0') break;
        text.push_back(c);
        if (b & EndMark) break;
    }
    return text;
}

KeyerImage DefaultKeyerImage() {
    KeyerImage image{};
    image[offset::ModeReg] = ModeRegPaddleDog | 0x10; // Iambic A, PaddleDog off
    image[offset::Sidetone] = 5;                      // 800 Hz
    image[offset::Weight] = 50;
    image[offset::MinWpm] = 15;
    image[offset::WpmRange] = 20; // the pot spans 15 to 35 wpm
    image[offset::Sample] = 50;
    image[offset::Ratio] = 50;
    image[offset::OutputConfig] = 0x06; // port 1 and sidetone
    image[offset::CmdWpm] = 20;
    EncodeMessages(image, {});
    return image;
}

} // namespace dl2mgr::editor
