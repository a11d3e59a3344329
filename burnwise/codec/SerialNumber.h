#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <thread>

namespace burnwise::codec {

struct UtcTime {
    int Year = 2000;
    int Month = 1; // 1 to 12
    int Day = 1;   // 1 to 31
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
};

// Where generated serial numbers take the time from; tests and the CLI inject a fixed one.
class UtcClock {
public:
    virtual ~UtcClock() = default;
    virtual UtcTime Now() const = 0;
    // Lets `pause` pass while a run waits for the clock to move on; a clock that moves only
    // when told to (in tests) moves instead.
    virtual void Wait(std::chrono::milliseconds pause) const { std::this_thread::sleep_for(pause); }
};

class SystemUtcClock final : public UtcClock {
public:
    UtcTime Now() const override;
};

class FixedUtcClock final : public UtcClock {
public:
    explicit FixedUtcClock(const UtcTime& time) : time_(time) {}
    UtcTime Now() const override { return time_; }
    // Time does not pass on it: a wait returns at once.
    void Wait(std::chrono::milliseconds) const override {}

private:
    UtcTime time_;
};

// Six base-36 digits ("0".."9", "A".."Z") of the time packed into 31 bits, most
// significant first: year mod 32 (5 bits), month (4), day (5), hour (5), minute (6),
// second (6). It changes once a second and repeats every 32 years.
std::string SerialCode(const UtcTime& time);

// The prefix followed by the code of the clock's present time.
std::string GenerateSerial(std::string_view prefix, const UtcClock& clock);

} // namespace burnwise::codec
