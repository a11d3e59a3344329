#pragma once

#include "burnwise/codec/ImageDecoder.h"

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace burnwise::codec::test {

// Answers device type queries from a list (the last answer repeats) and counts them.
class ScriptedTypeSource final : public DeviceTypeSource {
public:
    explicit ScriptedTypeSource(std::vector<std::uint32_t> codes) : codes_(std::move(codes)) {}
    std::uint32_t DeviceTypeCode() override {
        const std::size_t n = Queries++;
        return codes_.empty() ? 0 : codes_[std::min(n, codes_.size() - 1)];
    }
    std::size_t Queries = 0;

private:
    std::vector<std::uint32_t> codes_;
};

// Every field as "Name=value", so two records compare field by field with readable output.
inline std::vector<std::string> FieldLines(const EepromSettings& s) {
    std::vector<std::string> lines;
    ForEachField(s, [&lines](const char* name, const auto& field) {
        if constexpr (std::is_same_v<std::decay_t<decltype(field)>, TextBuffer>) {
            lines.push_back(std::string(name) + "=" + std::string(TextOf(field)));
        } else {
            lines.push_back(std::string(name) + "=" + std::to_string(unsigned(field)));
        }
    });
    return lines;
}

} // namespace burnwise::codec::test
