#include "EepromSettings.h"

#include <algorithm>

namespace burnwise::codec {

void EepromSettings::AttachBuffers(SettingsTextArea& area) {
    const auto slot = [&area](std::size_t index) {
        return TextBuffer(area.Bytes.data() + index * TextBufferSize, TextBufferSize);
    };
    Manufacturer = slot(0);
    SerialPrefix = slot(1);
    ProductDescription = slot(2);
    SerialNumber = slot(3);
}

void EepromSettings::Reset() {
    // Keep the attachments; everything else returns to zero.
    const TextBuffer texts[] = {Manufacturer, SerialPrefix, ProductDescription, SerialNumber};
    *this = EepromSettings{};
    Manufacturer = texts[0];
    SerialPrefix = texts[1];
    ProductDescription = texts[2];
    SerialNumber = texts[3];
    for (const TextBuffer text : texts)
        std::fill(text.begin(), text.end(), '\0');
}

std::string_view TextOf(TextBuffer buffer) {
    const auto end = std::find(buffer.begin(), buffer.end(), '\0');
    return {buffer.data(), static_cast<std::size_t>(end - buffer.begin())};
}

void SetText(TextBuffer buffer, std::string_view text) {
    if (buffer.empty()) return;
    const std::size_t count = std::min(text.size(), buffer.size() - 1);
    std::fill(std::copy_n(text.begin(), count, buffer.begin()), buffer.end(), '\0');
}

} // namespace burnwise::codec
