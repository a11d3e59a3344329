#pragma once

#include <array>
#include <cstdint>

namespace dl2mgr::editor {

// The stored byte of every character code 0..127. Letters and digits are their Morse
// elements from bit 0 upward (0 dit, 1 dah) with a 1 just above the last element marking
// the length. 0x01 marks a character the keyer cannot send.
extern const std::array<std::uint8_t, 128> MorseTable;

inline constexpr std::uint8_t NoMorseForm = 0x01;

// The stored byte of a character; codes above 127 have no Morse form.
std::uint8_t MorseByteOf(unsigned char c);

// Whether a character can be typed into a message: control codes pass (they are line
// breaks and editing keys), printable characters need a Morse form.
bool HasMorseForm(unsigned char c);

} // namespace dl2mgr::editor
