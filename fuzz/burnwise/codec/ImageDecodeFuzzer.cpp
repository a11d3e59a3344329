// Feeds arbitrary EEPROM contents to the decoder in both modes, under every combination of
// family selectors and every EEPROM type name, and to the dump. Input: up to 256 bytes of
// image (little-endian words, missing bytes read as 0xFF like an erased part), then one
// byte per device type query (cycled; without any, the queries answer 0, 1, 4, 5 in turn).
// A valid decode is encoded again, so arbitrary records reach the encoder too.

#include "burnwise/codec/EepromGeometry.h"
#include "burnwise/codec/ImageDecoder.h"
#include "burnwise/codec/ImageDump.h"
#include "burnwise/codec/ImageEncoder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

namespace {

using namespace burnwise::codec;

class FuzzTypeSource final : public DeviceTypeSource {
public:
    FuzzTypeSource(const std::uint8_t* codes, std::size_t count) : codes_(codes), count_(count) {}
    std::uint32_t DeviceTypeCode() override {
        static constexpr std::uint32_t Fallback[] = {0, 1, 4, 5};
        const std::size_t n = next_++;
        ++Queries;
        return count_ ? codes_[n % count_] % 8u : Fallback[n % 4];
    }
    int Queries = 0;

private:
    const std::uint8_t* codes_;
    std::size_t count_;
    std::size_t next_ = 0;
};

// The text area between two guard blocks, so a write past any buffer shows.
struct GuardedTexts {
    std::array<char, 16> Before{};
    SettingsTextArea Texts;
    std::array<char, 16> After{};
};

void Require(bool condition) {
    if (!condition) std::abort();
}

bool IsZeroRecord(EepromSettings& s) {
    bool zero = true;
    ForEachField(s, [&zero](const char*, auto& field) {
        if constexpr (std::is_same_v<std::decay_t<decltype(field)>, TextBuffer>) {
            zero = zero && TextOf(field).empty();
        } else {
            zero = zero && field == 0;
        }
    });
    return zero;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    EepromImage image;
    for (std::size_t i = 0; i < image.size(); ++i) {
        const std::uint8_t lo = 2 * i < size ? data[2 * i] : 0xFF;
        const std::uint8_t hi = 2 * i + 1 < size ? data[2 * i + 1] : 0xFF;
        image[i] = static_cast<std::uint16_t>(lo | (hi << 8));
    }
    const std::uint8_t* codes = size > 256 ? data + 256 : nullptr;
    const std::size_t codeCount = size > 256 ? size - 256 : 0;

    static constexpr std::string_view Names[] = {"93C46", "93C56", "93C66", "Unknown", ""};
    static const FixedUtcClock clock(UtcTime{2007, 6, 15, 12, 34, 56});

    GuardedTexts guarded;
    guarded.Before.fill('G');
    guarded.After.fill('G');
    EepromSettings settings;
    settings.AttachBuffers(guarded.Texts);

    for (int mode = 0; mode <= 1; ++mode) {
        for (unsigned combo = 0; combo < 16; ++combo) {
            for (const std::string_view name : Names) {
                FamilySelectors selectors{(combo & 1) != 0, (combo & 2) != 0, (combo & 4) != 0,
                                          (combo & 8) != 0};
                std::string typeName(name);
                FuzzTypeSource types(codes, codeCount);
                const int verdict = DecodeImage(mode, image, selectors, typeName, settings, types);

                Require(verdict == Programmed || verdict == Blank);
                Require(verdict == Programmed ? types.Queries == 1
                                              : types.Queries == 1 || types.Queries == 2);
                for (std::size_t b = 0; b < 4; ++b) {
                    Require(guarded.Texts.Bytes[b * TextBufferSize + TextBufferSize - 1] == 0);
                }
                Require(std::memchr(guarded.Before.data(), 0, 16) == nullptr);
                Require(std::memchr(guarded.After.data(), 0, 16) == nullptr);
                if (mode == 1) Require(FindEepromGeometry(typeName) != nullptr);
                if (verdict == Blank) {
                    Require(IsZeroRecord(settings));
                    continue;
                }
                EepromImage encoded;
                EncodeImage(settings, selectors, typeName, clock, encoded);
            }
        }
    }

    for (unsigned combo = 0; combo < 16; ++combo) {
        const FamilySelectors selectors{(combo & 1) != 0, (combo & 2) != 0, (combo & 4) != 0,
                                        (combo & 8) != 0};
        const auto lines = DumpImage(image, selectors);
        Require(lines.size() == (selectors.Kr3Selected ? 16u : selectors.Kr4Selected ? 10u : 8u));
        for (const std::string& line : lines)
            Require(line.size() == 80);
    }
    return 0;
}
