#include "burnwise/app/SerialCounter.h"

#include "common/FileAccess.h"

#include <cerrno>
#include <charconv>

namespace burnwise::app {
namespace {

namespace fs = std::filesystem;

// A counter file is one number and a line end; anything much longer is not one.
constexpr std::size_t MaxCounterFileBytes = 4096;
// 10^19 still fits 64 bits.
constexpr int MaxDigits = 19;

std::uint64_t PowerOfTen(int digits) {
    std::uint64_t value = 1;
    for (int i = 0; i < digits; ++i)
        value *= 10;
    return value;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<std::string> SerialPattern::Format(std::uint64_t value) const {
    if (value >= PowerOfTen(Digits)) return std::nullopt;
    std::string digits = std::to_string(value);
    return Prefix + std::string(static_cast<std::size_t>(Digits) - digits.size(), '0') + digits;
}

std::optional<SerialPattern> SplitSerial(std::string_view serial, std::string& error) {
    std::size_t start = serial.size();
    while (start > 0 && IsDigit(serial[start - 1]))
        --start;
    const std::size_t digits = serial.size() - start;
    if (digits == 0) {
        error = "the fixed serial number \"" + std::string(serial) +
                "\" does not end in decimal digits to count with";
        return std::nullopt;
    }
    if (digits > MaxDigits) {
        error = "the fixed serial number \"" + std::string(serial) + "\" ends in more than " +
                std::to_string(MaxDigits) + " digits";
        return std::nullopt;
    }
    SerialPattern pattern{std::string(serial.substr(0, start)), 0, static_cast<int>(digits)};
    std::from_chars(serial.data() + start, serial.data() + serial.size(), pattern.Value);
    return pattern;
}

std::optional<SerialCounter> SerialCounter::Open(const fs::path& file, SerialPattern pattern,
                                                 std::string& error) {
    SerialCounter counter(file, std::move(pattern));
    const std::optional<std::uint64_t> next = counter.ReadNext(error);
    if (!next) return std::nullopt;
    if (!counter.pattern_.Format(*next)) {
        error = "counter " + file.string() + ": the next value " + std::to_string(*next) +
                " needs more than the serial number's " + std::to_string(counter.pattern_.Digits) +
                " digits";
        return std::nullopt;
    }
    return counter;
}

std::optional<std::uint64_t> SerialCounter::ReadNext(std::string& error) const {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(file_, ec)) && !fs::exists(file_, ec)) return pattern_.Value;
    if (std::optional<std::string> links = common::ExtraHardLinks(file_)) {
        error = "counter " + file_.string() + ": " + *links;
        return std::nullopt;
    }
    std::string readError;
    const std::optional<std::string> bytes =
        common::ReadFileBounded(file_, MaxCounterFileBytes, readError);
    if (!bytes) {
        error = "counter " + file_.string() + ": " + readError;
        return std::nullopt;
    }
    std::string_view text = *bytes;
    if (text.ends_with('\n')) text.remove_suffix(1);
    std::uint64_t value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || !IsDigit(text.front()) || failure != std::errc() ||
        end != text.data() + text.size()) {
        error = "counter " + file_.string() +
                " is damaged: it must hold the next value as one decimal number";
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> SerialCounter::Reserve(std::string& error) {
    // Held while a value is reserved, on the counter file itself, so every name of it takes
    // the same lock.
    common::FileLock lock;
    if (std::string lockError; !lock.Acquire(file_, lockError)) {
        error = lock.FailureCode() == EMLINK ? "counter " + lockError
                                             : "counter " + file_.string() + ": cannot lock it";
        return std::nullopt;
    }
    const std::optional<std::uint64_t> next = ReadNext(error);
    if (!next) return std::nullopt;
    const std::optional<std::string> serial = pattern_.Format(*next);
    if (!serial) {
        error = "counter " + file_.string() + ": the serial numbers of " +
                std::to_string(pattern_.Digits) + " digits have run out";
        return std::nullopt;
    }
    std::error_code ec;
    if (!common::ReplaceFileAtomically(file_, std::to_string(*next + 1) + "\n", ec)) {
        error = "counter " + file_.string() + ": cannot write it: " + ec.message();
        return std::nullopt;
    }
    return serial;
}

} // namespace burnwise::app
