#include "dl2mgr/editor/ImageFile.h"

#include <algorithm>

namespace dl2mgr::editor {

std::string LoadImageFile(const std::filesystem::path& path, KeyerImage& image) {
    const FileRead read = ReadOutsideFile(path, ImageFileCap);
    if (read.Result != FileRead::Outcome::Read) return read.Error;
    if (read.Bytes.size() != KeyerImageSize) {
        return path.string() + " is not a keyer image: it must hold exactly 256 bytes, but holds " +
               std::to_string(read.Bytes.size()) + ".";
    }
    std::copy(read.Bytes.begin(), read.Bytes.end(), image.begin());
    return {};
}

std::string SaveImageFile(const std::filesystem::path& path, const KeyerImage& image) {
    return ReplaceFile(path, image).Error;
}

} // namespace dl2mgr::editor
