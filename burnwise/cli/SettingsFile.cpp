#include "SettingsFile.h"

#include "burnwise/codec/EepromGeometry.h"
#include "burnwise/codec/TextEscape.h"
#include "common/FileAccess.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <sstream>
#include <type_traits>

namespace burnwise::cli {
namespace {

using codec::FamilySelectors;

struct SelectorName {
    std::string_view Name;
    bool FamilySelectors::*Flag;
};

constexpr std::array<SelectorName, 4> SelectorNames{{
    {"Kr2Selected", &FamilySelectors::Kr2Selected},
    {"Kr3Selected", &FamilySelectors::Kr3Selected},
    {"Kr4Selected", &FamilySelectors::Kr4Selected},
    {"Kr4FifoSelected", &FamilySelectors::Kr4FifoSelected},
}};

// The numeric fields that are not booleans; every other number field holds 0 or 1.
constexpr std::array<std::string_view, 11> NumberFields{
    "VendorId",      "ProductId",      "MaxPowerMilliAmps", "Kr2UsbVersion",
    "Kr3UsbVersion", "InEndpointSize", "C0Signal",          "C1Signal",
    "C2Signal",      "C3Signal",       "C4Signal"};

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::uint32_t ParseNumber(std::string_view text, std::uint32_t max, const std::string& where) {
    text = Trim(text);
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        throw InputError(where + ": not a number: \"" + std::string(text) + "\"");
    }
    if (value > max) {
        throw InputError(where + ": " + std::to_string(value) + " is above " + std::to_string(max));
    }
    return value;
}

int ParseField(std::string_view text, int min, int max, std::string_view utc) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < min || value > max) {
        throw InputError("not a UTC time of the form YYYY-MM-DDTHH:MM:SS: \"" + std::string(utc) +
                         "\"");
    }
    return value;
}

// Sets the field called `name`; false when there is none.
bool SetField(codec::EepromSettings& s, std::string_view name, std::string_view value,
              const std::string& where) {
    bool found = false;
    codec::ForEachField(s, [&](std::string_view fieldName, auto& field) {
        if (found || fieldName != name) return;
        found = true;
        using Field = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<Field, codec::TextBuffer>) {
            const std::string text = codec::UnescapeText(value);
            if (text.size() >= codec::TextBufferSize) {
                throw InputError(where + ": the text is longer than " +
                                 std::to_string(codec::TextBufferSize - 1) + " characters");
            }
            codec::SetText(field, text);
        } else {
            bool isNumber = false;
            for (const std::string_view n : NumberFields)
                isNumber = isNumber || n == name;
            const std::uint32_t max = isNumber ? std::numeric_limits<Field>::max() : 1;
            field = static_cast<Field>(ParseNumber(value, max, where));
        }
    });
    return found;
}

} // namespace

codec::FamilySelectors ParseSelectors(std::string_view list) {
    FamilySelectors selectors;
    while (!list.empty()) {
        const auto comma = list.find(',');
        const std::string_view item = Trim(list.substr(0, comma));
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
        if (item.empty()) continue;
        bool known = false;
        for (const SelectorName& s : SelectorNames) {
            if (s.Name == item) {
                selectors.*s.Flag = true;
                known = true;
            }
        }
        if (!known) {
            throw InputError("unknown selector \"" + std::string(item) +
                             "\" (expected Kr2Selected, Kr3Selected, Kr4Selected or "
                             "Kr4FifoSelected)");
        }
    }
    return selectors;
}

std::string FormatSelectors(const codec::FamilySelectors& selectors) {
    std::string list;
    for (const SelectorName& s : SelectorNames) {
        if (!(selectors.*s.Flag)) continue;
        if (!list.empty()) list += ',';
        list += s.Name;
    }
    return list;
}

codec::UtcTime ParseUtc(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SS
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':') {
        throw InputError("not a UTC time of the form YYYY-MM-DDTHH:MM:SS: \"" + std::string(text) +
                         "\"");
    }
    return {
        ParseField(text.substr(0, 4), 0, 9999, text), ParseField(text.substr(5, 2), 1, 12, text),
        ParseField(text.substr(8, 2), 1, 31, text),   ParseField(text.substr(11, 2), 0, 23, text),
        ParseField(text.substr(14, 2), 0, 59, text),  ParseField(text.substr(17, 2), 0, 59, text)};
}

std::string CheckEepromTypeName(std::string_view name) {
    if (!name.empty() && codec::FindEepromGeometry(name) == nullptr) {
        throw InputError("unknown EEPROM type \"" + std::string(name) +
                         "\" (expected 93C46, 93C56, 93C66 or Unknown)");
    }
    return std::string(name);
}

SettingsFile ReadSettingsFile(const std::string& path, codec::CodecState& state) {
    std::string error;
    const std::optional<std::string> bytes =
        common::ReadFileBounded(path, common::MaxTemplateFileBytes, error);
    if (!bytes) throw InputError("cannot read " + path + ": " + error);
    std::istringstream in(*bytes);
    SettingsFile file;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (Trim(line).empty() || Trim(line).front() == '#') continue;
        const std::string where = path + ":" + std::to_string(number);
        const auto equals = line.find('=');
        if (equals == std::string::npos) throw InputError(where + ": expected Name=value");
        const std::string_view name = Trim(std::string_view(line).substr(0, equals));
        const std::string_view value = std::string_view(line).substr(equals + 1);
        if (name == "Selectors") {
            state.Selectors = ParseSelectors(value);
        } else if (name == "EepromTypeName") {
            state.EepromTypeName = CheckEepromTypeName(Trim(value));
        } else if (name == "Utc") {
            file.Utc = ParseUtc(Trim(value));
        } else if (!SetField(state.Settings, name, value, where)) {
            throw InputError(where + ": unknown field \"" + std::string(name) + "\"");
        }
    }
    return file;
}

} // namespace burnwise::cli
