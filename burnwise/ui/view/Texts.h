#pragma once

#include "common/qt/Latin1.h"

#include <string_view>

namespace burnwise::view {

// The title the desktop shows for the program, and the caption of its own boxes.
inline constexpr std::string_view ApplicationTitle = "Burnwise - Multi Device EEPROM Programmer";

using common::qt::FromLatin1;
using common::qt::ToLatin1;

} // namespace burnwise::view
