#pragma once

#include "dl2mgr/editor/FileResults.h"
#include "dl2mgr/editor/KeyerImage.h"

#include <filesystem>
#include <string>

namespace dl2mgr::editor {

// The image file holds the raw 256 bytes of the keyer's EEPROM, offset 0 first, with no
// header. For the command-line tool and the simulator a file of any other size is not an
// image: it is refused and the image is left as it was. Returns an empty string on
// success, else the reason.
std::string LoadImageFile(const std::filesystem::path& path, KeyerImage& image);

// Replaces the file atomically; on failure the old file stays whole.
std::string SaveImageFile(const std::filesystem::path& path, const KeyerImage& image);

} // namespace dl2mgr::editor
