#pragma once

#include "dl2mgr/editor/KeyerImage.h"

#include <array>
#include <cstdint>
#include <string>

namespace dl2mgr::editor {

using MessageTexts = std::array<std::string, MessageCount>;

enum class EncodeResult {
    Stored,
    TooLong, // more characters than the message area holds; the image is unchanged
};

inline constexpr const char* MessagesTooLongText =
    "The messages hold more than 232 characters in all. Nothing was stored.";

// Packs the six texts into the message area without gaps, empty ones skipped, and sets
// MessageStart and MessageEnd. The last byte of each message carries bit 7 as its end
// mark. Texts that together exceed the area are refused before anything is written.
EncodeResult EncodeMessages(KeyerImage& image, const MessageTexts& texts);

// The text of the message that starts at `start` (a MessageStart value). Reading stops at
// the byte with bit 7 set, at a byte that no character has, or at offset 255. A start
// that is neither the empty marker nor inside the message area gives an empty text.
std::string DecodeMessage(const KeyerImage& image, std::uint8_t start);

// The image of a keyer that has never been set up: every setting inside its range, a
// sidetone from the list (800 Hz), Iambic A on port 1 with sidetone, no messages.
KeyerImage DefaultKeyerImage();

} // namespace dl2mgr::editor
