#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace burnwise::app {

// A fixed serial number split into its text prefix and trailing decimal digits:
// "QA000007" is prefix "QA", value 7, six digits.
struct SerialPattern {
    std::string Prefix;
    std::uint64_t Value = 0;
    int Digits = 0;

    // The serial number for `value`, zero-padded to Digits; nothing when it needs more.
    std::optional<std::string> Format(std::uint64_t value) const;
};

// Nothing with `error` set when the serial number has no trailing digits (or too many to
// count with).
std::optional<SerialPattern> SplitSerial(std::string_view serial, std::string& error);

// The counter file of a production line: one decimal number, the value the next device
// takes. Each value is reserved in the file before the device is written (under a lock,
// with an atomic replace), so a crash or a failed device never lets a number be used
// twice, and two programs sharing the file never take the same one.
class SerialCounter {
public:
    // Checks the file (a missing one starts at the pattern's own value) and that the next
    // value still fits the pattern's digits. Nothing with `error` set otherwise.
    static std::optional<SerialCounter> Open(const std::filesystem::path& file,
                                             SerialPattern pattern, std::string& error);

    // The next serial number, already taken: the file holds the value after it. Nothing
    // with `error` set when the file cannot be read or written, is damaged, or the digits
    // have run out.
    std::optional<std::string> Reserve(std::string& error);

    const SerialPattern& Pattern() const { return pattern_; }
    const std::filesystem::path& File() const { return file_; }

private:
    SerialCounter(std::filesystem::path file, SerialPattern pattern)
        : file_(std::move(file)), pattern_(std::move(pattern)) {}

    // The value the file holds; the pattern's value for a missing file.
    std::optional<std::uint64_t> ReadNext(std::string& error) const;

    std::filesystem::path file_;
    SerialPattern pattern_;
};

} // namespace burnwise::app
