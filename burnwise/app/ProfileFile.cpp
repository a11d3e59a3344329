#include "burnwise/app/ProfileFile.h"

#include <algorithm>

namespace burnwise::app {
namespace {

constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// The name of a section header line, or nothing for any other line. A '[' line without a
// closing ']' is not a header.
std::optional<std::string_view> SectionName(std::string_view line) {
    const std::string_view text = Trim(line);
    if (text.empty() || text.front() != '[') return std::nullopt;
    const std::size_t close = text.rfind(']');
    if (close == std::string_view::npos || close == 0) return std::nullopt;
    return Trim(text.substr(1, close - 1));
}

struct KeyLine {
    std::string_view Key;
    std::size_t ValueStart; // index in the line just past the '='
};

std::optional<KeyLine> KeyOf(std::string_view line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    return KeyLine{Trim(line.substr(0, equals)), equals + 1};
}

bool IsBlank(std::string_view line) {
    return Trim(line).empty();
}

// Each character of the UTF-8 text as its 8-bit code. A sequence that is not valid UTF-8
// (a stray byte, a cut or overlong sequence, a surrogate) and a character beyond Latin-1
// become a zero byte: no value read from a file holds one otherwise, and the template
// checks refuse it, so such a text is never written to a chip in some other form.
std::string Latin1FromUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        std::uint32_t least = 0; // the lowest code this length may carry
        if (lead < 0x80) {
            length = 1;
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1Fu;
            least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0Fu;
            least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07u;
            least = 0x10000;
        }
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                valid = false;
            else
                code = (code << 6) | (next & 0x3Fu);
        }
        valid = valid && code >= least && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            out.push_back(UnreadableCharacter);
            ++i;
            continue;
        }
        out.push_back(code <= 0xFF ? static_cast<char>(code) : UnreadableCharacter);
        i += length;
    }
    return out;
}

std::string Utf8FromLatin1(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return out;
}

} // namespace

ProfileFile ProfileFile::Parse(std::string_view bytes) {
    ProfileFile file;
    if (bytes.substr(0, Utf8Mark.size()) == Utf8Mark) {
        file.utf8_ = true;
        bytes.remove_prefix(Utf8Mark.size());
    }
    bool styleKnown = false;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t stop = bytes.find_first_of("\r\n", start);
        if (stop == std::string_view::npos) {
            file.lines_.push_back({std::string(bytes.substr(start)), {}});
            break;
        }
        const std::size_t endLength =
            (bytes[stop] == '\r' && stop + 1 < bytes.size() && bytes[stop + 1] == '\n') ? 2 : 1;
        Line line{std::string(bytes.substr(start, stop - start)),
                  std::string(bytes.substr(stop, endLength))};
        if (!styleKnown) {
            file.newline_ = line.End;
            styleKnown = true;
        }
        file.lines_.push_back(std::move(line));
        start = stop + endLength;
    }
    return file;
}

std::optional<ProfileFile> ProfileFile::Load(const std::filesystem::path& path,
                                             std::string& error) {
    const std::optional<std::string> bytes =
        common::ReadFileBounded(path, common::MaxTemplateFileBytes, error);
    if (!bytes) return std::nullopt;
    return Parse(*bytes);
}

std::optional<std::string> ProfileFile::Read(std::string_view section, std::string_view key) const {
    bool inSection = false;
    for (const Line& line : lines_) {
        if (const auto name = SectionName(line.Text)) {
            // Only the first copy of a section is searched.
            if (inSection) return std::nullopt;
            inSection = SameName(*name, section);
            continue;
        }
        if (!inSection) continue;
        const auto keyLine = KeyOf(line.Text);
        if (!keyLine || !SameName(keyLine->Key, key)) continue;

        std::string_view value = std::string_view(line.Text).substr(keyLine->ValueStart);
        value = value.substr(0, value.find('\0'));
        value = Trim(value);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        std::string text = utf8_ ? Latin1FromUtf8(value) : std::string(value);
        if (text.size() > MaxProfileValueLength) text.resize(MaxProfileValueLength);
        return text;
    }
    return std::nullopt;
}

void ProfileFile::Write(std::string_view section, std::string_view key, std::string_view value) {
    value = value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)));
    const std::string stored = utf8_ ? Utf8FromLatin1(value) : std::string(value);

    std::optional<std::size_t> header;
    for (std::size_t i = 0; i < lines_.size() && !header; ++i) {
        const auto name = SectionName(lines_[i].Text);
        if (name && SameName(*name, section)) header = i;
    }

    if (!header) {
        if (!lines_.empty() && lines_.back().End.empty()) lines_.back().End = newline_;
        lines_.push_back({"[" + std::string(section) + "]", newline_});
        lines_.push_back({std::string(key) + "=" + stored, newline_});
        return;
    }

    std::size_t lastUsed = *header;
    for (std::size_t i = *header + 1; i < lines_.size(); ++i) {
        if (SectionName(lines_[i].Text)) break;
        if (const auto keyLine = KeyOf(lines_[i].Text); keyLine && SameName(keyLine->Key, key)) {
            lines_[i].Text.resize(keyLine->ValueStart);
            lines_[i].Text += stored;
            return;
        }
        if (!IsBlank(lines_[i].Text)) lastUsed = i;
    }
    if (lines_[lastUsed].End.empty()) lines_[lastUsed].End = newline_;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastUsed + 1),
                  Line{std::string(key) + "=" + stored, newline_});
}

std::string ProfileFile::Serialize() const {
    std::string out;
    if (utf8_) out += Utf8Mark;
    for (const Line& line : lines_) {
        out += line.Text;
        out += line.End;
    }
    return out;
}

} // namespace burnwise::app
