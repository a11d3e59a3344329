#include "dl2mgr/editor/ImageFile.h"

#include "dl2mgr/editor/AtomicFile.h"

#include <algorithm>

namespace dl2mgr::editor {

std::string LoadImageFile(const std::filesystem::path& path, KeyerImage& image) {
    std::string bytes;
    std::string error;
    // One byte more than an image, to tell a longer file from an exact one.
    if (!ReadFileBounded(path, KeyerImageSize + 1, bytes, error)) return error;
    if (bytes.size() != KeyerImageSize) {
        return path.string() + " is not a keyer image: it must hold exactly 256 bytes, but " +
               (bytes.size() > KeyerImageSize ? std::string("holds more")
                                              : "holds " + std::to_string(bytes.size())) +
               ".";
    }
    std::transform(bytes.begin(), bytes.end(), image.begin(),
                   [](char c) { return static_cast<std::uint8_t>(c); });
    return {};
}

std::string SaveImageFile(const std::filesystem::path& path, const KeyerImage& image) {
    return WriteFileAtomically(path, image);
}

} // namespace dl2mgr::editor
