#pragma once

#include "burnwise/codec/CodecState.h"

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

namespace burnwise::cli {

// Adds `template new`, `template show` and `template check` to the command line.
void AddTemplateCommands(CLI::App& app);

// For `encode --template FILE`: opens FILE into a freshly started form, applies the
// device-type rules as Program does, gathers the settings for `deviceNumber` into
// `state.Settings`, sets `state.Selectors` from the form and `state.EepromTypeName`
// (`eepromName`, default "93C46"; always "93C46" for the KR4 family). Returns false when
// the file cannot be read, after the form has printed its error box.
bool LoadTemplateForEncode(const std::string& path, int deviceNumber,
                           const std::optional<std::string>& eepromName, codec::CodecState& state,
                           std::string& error);

} // namespace burnwise::cli
