#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace dl2mgr::editor {

inline constexpr std::size_t KeyerImageSize = 256;

// The keyer's parameter EEPROM, byte n at EEPROM address n. Bytes the editor does not own
// pass through untouched, so an image read from the keyer goes back to it unchanged.
using KeyerImage = std::array<std::uint8_t, KeyerImageSize>;

// Byte offsets of the parameter EEPROM: the settings the keyer uses when no host program
// drives it, and its six stored messages.
namespace offset {
// 0: not interpreted, carried through
inline constexpr std::size_t ModeReg = 1; // 1: mode bits, see the ModeReg masks below
// 2: not shown, not edited, carried through
inline constexpr std::size_t Sidetone = 3;      // 3: tone choice s = 1..10, 4000 / s Hz
inline constexpr std::size_t Weight = 4;        // 4: 10..90
inline constexpr std::size_t LeadIn = 5;        // 5: 0..250
inline constexpr std::size_t Tail = 6;          // 6: 0..250
inline constexpr std::size_t MinWpm = 7;        // 7: lowest speed of the speed pot, 5..98
inline constexpr std::size_t WpmRange = 8;      // 8: pot span, top speed = MinWpm + WpmRange
inline constexpr std::size_t FirstExt = 9;      // 9: 0..250
inline constexpr std::size_t KeyComp = 10;      // 10: 0..250
inline constexpr std::size_t Farns = 11;        // 11: 0 (off) or 10..90
inline constexpr std::size_t Sample = 12;       // 12: 10..90
inline constexpr std::size_t Ratio = 13;        // 13: 33..66
inline constexpr std::size_t OutputConfig = 14; // 14: outputs, paddle hang, Ultimatic choice
inline constexpr std::size_t ModeReg2 = 15;     // 15: two option bits
inline constexpr std::size_t CmdWpm = 16;       // 16: 5..99
inline constexpr std::size_t MessageEnd = 17;   // 17: first byte after the last message, mod 256
inline constexpr std::size_t MessageStart = 18; // 18..23: first byte of messages 1..6, 16 if empty
inline constexpr std::size_t MessageArea = 24;  // 24..255: coded message text
} // namespace offset

inline constexpr std::size_t MessageCount = 6;
inline constexpr std::size_t MessageAreaSize = KeyerImageSize - offset::MessageArea; // 232
// MessageStart value of an empty message: it points into the settings, never at text.
inline constexpr std::uint8_t EmptyMessageStart = 0x10;

// ModeReg (byte 1)
inline constexpr std::uint8_t ModeRegPaddleDog = 0x80; // bit 7: clear when PaddleDog is on
inline constexpr std::uint8_t ModeRegKeyerMode = 0x30; // bits 5,4: 01 A, 00 B, 10 Ultimatic, 11 bug
inline constexpr std::uint8_t ModeRegSwap = 0x08;      // bit 3
inline constexpr std::uint8_t ModeRegAutoSpace = 0x02; // bit 1
inline constexpr std::uint8_t ModeRegCtSpace = 0x01;   // bit 0
// bits 6 and 2 are never touched by the editor

// OutputConfig (byte 14)
inline constexpr std::uint8_t OutputUltimatic = 0xC0;  // bits 7,6: 00 plain, 10 dit, 01 dah
inline constexpr std::uint8_t OutputPaddleHang = 0x30; // bits 5,4: hang time 1.0/1.3/1.6/2.0 words
inline constexpr std::uint8_t OutputLines =
    0x0F; // bit 0 PTT, bit 1 sidetone, bit 2 port 1, bit 3 port 2

// ModeReg2 (byte 15); the editor never touches the other six bits
inline constexpr std::uint8_t ModeReg2Cut09 = 0x08;  // bit 3: "Cut 0/9"
inline constexpr std::uint8_t ModeReg2MsgBrk = 0x04; // bit 2: "MsgBrk"

} // namespace dl2mgr::editor
