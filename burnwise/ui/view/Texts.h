#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace burnwise::view {

// The title the desktop shows for the program, and the caption of its own boxes.
inline constexpr std::string_view ApplicationTitle = "Burnwise - Multi Device EEPROM Programmer";

// The form's texts are 8-bit: one byte is one character.
inline QString FromLatin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToLatin1(const QString& text) {
    return text.toLatin1().toStdString();
}

} // namespace burnwise::view
