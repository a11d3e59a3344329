#include "common/UtcTime.h"

#include <cctype>
#include <chrono>

namespace common {

std::string UtcTimeStamp(std::time_t time) {
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string UtcTimeStamp() {
    return UtcTimeStamp(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
}

bool IsUtcTimeStamp(std::string_view text) {
    static constexpr std::string_view Shape = "DDDD-DD-DDTDD:DD:DDZ";
    if (text.size() != Shape.size()) return false;
    for (std::size_t i = 0; i < Shape.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[i]));
        if (Shape[i] == 'D' ? !digit : text[i] != Shape[i]) return false;
    }
    auto number = [&](std::size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
    const int month = number(5), day = number(8), hour = number(11), minute = number(14),
              second = number(17);
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59 &&
           second <= 60;
}

} // namespace common
