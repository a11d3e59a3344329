#pragma once

#include "burnwise/codec/ChipModels.h"
#include "burnwise/codec/CodecState.h"
#include "burnwise/codec/SerialNumber.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace burnwise::cli {

// A bad argument or unreadable input; burnwise-cli prints it as one line and exits with 2.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "Kr2Selected,Kr4Selected" and the like; empty for none (the KR1 family).
codec::FamilySelectors ParseSelectors(std::string_view list);
std::string FormatSelectors(const codec::FamilySelectors& selectors);

// "YYYY-MM-DDTHH:MM:SS".
codec::UtcTime ParseUtc(std::string_view text);

// Checks an EEPROM type name given on the command line or in a file: one of the four
// names, or empty (not detected yet).
std::string CheckEepromTypeName(std::string_view name);

struct SettingsFile {
    std::optional<codec::UtcTime> Utc;
};

// Reads `Name=value` lines into `state`, which must be fresh: any settings field by its
// name (numbers decimal or 0x hexadecimal, booleans 0 or 1, texts everything after the
// first "=" with \xHH escapes), `Selectors=`, `EepromTypeName=` and `Utc=`. Blank lines
// and lines starting with "#" are skipped; a later line for the same name wins.
SettingsFile ReadSettingsFile(const std::string& path, codec::CodecState& state);

} // namespace burnwise::cli
