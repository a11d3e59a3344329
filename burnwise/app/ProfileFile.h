#pragma once

#include "common/FileAccess.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace burnwise::app {

// The longest value a read hands back, in 8-bit characters.
inline constexpr std::size_t MaxProfileValueLength = 2047;

// What a UTF-8 file's value holds in place of bytes that are not valid UTF-8 and of a
// character beyond Latin-1. A value is cut at a zero byte in the file, so it stands for
// nothing else.
inline constexpr char UnreadableCharacter = '\0';

// A profile (INI) text file, read with the rules the templates were always read with and
// updated in place so that everything else in the file survives a save.
//
// Reading: lines end in CRLF, LF or CR; a leading UTF-8 byte-order mark makes the file
// UTF-8 (its texts come back as 8-bit Latin-1, what has no 8-bit code as
// UnreadableCharacter), any other
// file is taken byte for byte. Section and key names match without case and without
// surrounding blanks or tabs; a section name runs to the last ']' on its line; the first
// copy of a duplicated section or key counts; lines without '=' are ignored. A value is
// the text after the first '=', cut at a zero byte, trimmed of blanks and tabs, with one
// matching pair of double or single quotes removed, and at most MaxProfileValueLength
// characters long.
//
// Writing replaces the value of an existing key, adds a missing key after the last line
// of its section and a missing section at the end; other lines, the names' case, blank
// lines, the line-ending style and a UTF-8 mark are kept. A new file gets CRLF endings.
class ProfileFile {
public:
    ProfileFile() = default;

    static ProfileFile Parse(std::string_view bytes);
    // The file's contents, read once as a stream of at most MaxTemplateFileBytes, or
    // nothing with `error` set to a short reason when it cannot be read.
    static std::optional<ProfileFile> Load(const std::filesystem::path& path, std::string& error);

    std::optional<std::string> Read(std::string_view section, std::string_view key) const;
    // A value is one line: it is cut at the first line break or zero byte.
    void Write(std::string_view section, std::string_view key, std::string_view value);

    std::string Serialize() const;
    bool IsUtf8() const { return utf8_; }

private:
    struct Line {
        std::string Text;
        std::string End; // the line's own ending; empty on a last line without one
    };

    std::vector<Line> lines_;
    bool utf8_ = false;
    std::string newline_ = "\r\n";
};

} // namespace burnwise::app
