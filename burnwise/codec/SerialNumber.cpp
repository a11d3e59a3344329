#include "SerialNumber.h"

#include <chrono>
#include <cstdint>

namespace burnwise::codec {

UtcTime SystemUtcClock::Now() const {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    return {int(date.year()),          int(unsigned(date.month())), int(unsigned(date.day())),
            int(time.hours().count()), int(time.minutes().count()), int(time.seconds().count())};
}

std::string SerialCode(const UtcTime& time) {
    const auto field = [](int value, unsigned bits) {
        return static_cast<std::uint32_t>(value) & ((1u << bits) - 1u);
    };
    std::uint32_t packed = field(time.Year, 5);
    packed = (packed << 4) | field(time.Month, 4);
    packed = (packed << 5) | field(time.Day, 5);
    packed = (packed << 5) | field(time.Hour, 5);
    packed = (packed << 6) | field(time.Minute, 6);
    packed = (packed << 6) | field(time.Second, 6);

    static constexpr char Digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string code(6, '0');
    for (auto digit = code.rbegin(); digit != code.rend(); ++digit) {
        *digit = Digits[packed % 36u];
        packed /= 36u;
    }
    return code;
}

std::string GenerateSerial(std::string_view prefix, const UtcClock& clock) {
    std::string serial(prefix);
    serial += SerialCode(clock.Now());
    return serial;
}

} // namespace burnwise::codec
