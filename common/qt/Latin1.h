#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace common::qt {

// Both programs' texts are 8-bit: one byte is one character, read and written as Latin-1
// wherever they meet Qt.
inline QString FromLatin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// A character beyond Latin-1 becomes "?".
inline std::string ToLatin1(const QString& text) {
    return text.toLatin1().toStdString();
}

// Whether every character of `text` has a Latin-1 byte.
inline bool IsLatin1(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() > 0xFF) return false;
    return true;
}

} // namespace common::qt
