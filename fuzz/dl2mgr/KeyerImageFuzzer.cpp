// Any 256 bytes, as a keyer or a file may deliver them, through the editor's view of an
// image: every setting and all six messages decoded from their MessageStart bytes.
#include "dl2mgr/editor/DialogFields.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    dl2mgr::editor::KeyerImage image{};
    std::memcpy(image.data(), data, std::min(size, image.size()));
    const auto fields = dl2mgr::editor::FieldsFromImage(image);
    for (std::size_t k = 0; k < dl2mgr::editor::MessageCount; ++k) {
        const auto start = image[dl2mgr::editor::offset::MessageStart + k];
        const std::string text = dl2mgr::editor::DecodeMessage(image, start);
        // A message never runs past the end of the image.
        if (start >= dl2mgr::editor::offset::MessageArea && text.size() > 256u - start)
            __builtin_trap();
        if (text != fields.Messages[k]) __builtin_trap();
    }
    // Re-encoding what was shown must fit whenever the shown texts fit.
    dl2mgr::editor::KeyerImage again = image;
    dl2mgr::editor::EncodeMessages(again, fields.Messages);
    return 0;
}
