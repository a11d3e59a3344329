#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace common {

// A moment in UTC as files, logs and records write it, to the second: "2026-12-09T10:00:00Z".
std::string UtcTimeStamp(std::time_t time);
// The present moment so.
std::string UtcTimeStamp();

// Whether `text` is a time stamp written so, each field in its range (a leap second too).
bool IsUtcTimeStamp(std::string_view text);

} // namespace common
