#pragma once

#include "burnwise/codec/CodecState.h"
#include "burnwise/codec/ImageDecoder.h"
#include "burnwise/codec/SerialNumber.h"

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

inline const FixedUtcClock Clock2007({2007, 6, 15, 12, 34, 56});

// The identity shared by the worked examples.
inline void WorkedIdentity(CodecState& st) {
    EepromSettings& s = st.Settings;
    s.VendorId = 0x1234;
    s.ProductId = 0x5678;
    SetText(s.Manufacturer, "AB");
    SetText(s.ProductDescription, "CD");
    SetText(s.SerialNumber, "XY000001");
}

// The KR2 worked example: 100 mA bus powered, USB 2.0, serial number reported.
inline void WorkedKr2(CodecState& st) {
    WorkedIdentity(st);
    EepromSettings& s = st.Settings;
    s.MaxPowerMilliAmps = 100;
    s.PlugAndPlay = 1;
    s.Kr2Present = 1;
    s.Kr2SerialNumberEnable = 1;
    s.Kr2UsbVersionEnable = 1;
    s.Kr2UsbVersion = 0x0200;
}

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
