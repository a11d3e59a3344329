#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace common {

// SHA-256 over bytes fed in any number of pieces; a record names a template file and the
// image written by this digest.
class Sha256 {
public:
    Sha256();
    void Update(std::string_view bytes);
    // The digest of everything fed so far; the object is then spent.
    std::array<std::uint8_t, 32> Finish();

private:
    void Block(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t totalBytes_ = 0;
};

// The digest of `bytes` as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view bytes);

} // namespace common
