#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace burnwise::codec {

// Position of the chosen entry in the device-type list.
enum class ChipType : int { None = 0, KR1S, KR1F, KR2S, KR2F, KR3D, KR4S, KR4F, KR3E };

enum class ChipFamily { None, KR1, KR2, KR3, KR4 };

// The four family selectors the codec, the scans and the field rules branch on. KR1 is
// the state with none of the first three set; Kr4FifoSelected only means something while
// Kr4Selected is set.
struct FamilySelectors {
    bool Kr2Selected = false;
    bool Kr3Selected = false;
    bool Kr4Selected = false;
    bool Kr4FifoSelected = false;

    void Clear() { *this = FamilySelectors{}; }
    bool operator==(const FamilySelectors&) const = default;
};

struct ChipModel {
    ChipType Type;
    std::string_view ListText; // the entry's text in the device-type list
    ChipFamily Family;
    FamilySelectors Selectors; // what choosing this model sets
    int DeviceTypeCode;        // what the driver reports for such a chip; -1 for None
};

// One row per entry of the device-type list, in list order.
inline constexpr std::array<ChipModel, 9> ChipModels{{
    {ChipType::None, "None", ChipFamily::None, {}, -1},
    {ChipType::KR1S, "KR1S", ChipFamily::KR1, {}, 1},
    {ChipType::KR1F, "KR1F", ChipFamily::KR1, {}, 1},
    {ChipType::KR2S, "KR2S", ChipFamily::KR2, {.Kr2Selected = true}, 0},
    {ChipType::KR2F, "KR2F", ChipFamily::KR2, {.Kr2Selected = true}, 0},
    {ChipType::KR3D, "KR3D", ChipFamily::KR3, {.Kr3Selected = true}, 4},
    {ChipType::KR4S, "KR4S", ChipFamily::KR4, {.Kr4Selected = true}, 5},
    {ChipType::KR4F, "KR4F", ChipFamily::KR4, {.Kr4Selected = true, .Kr4FifoSelected = true}, 5},
    {ChipType::KR3E, "KR3E", ChipFamily::KR3, {.Kr3Selected = true}, 4},
}};

const ChipModel& ChipModelOf(ChipType type);

// The model whose list text is `text`, if any.
std::optional<ChipType> ChipTypeFromListText(std::string_view text);

// Driver device type codes that examining a device acts on.
inline constexpr std::uint32_t DeviceTypeCodeKr2 = 0;
inline constexpr std::uint32_t DeviceTypeCodeKr1 = 1;
inline constexpr std::uint32_t DeviceTypeCodeKr3 = 4;
inline constexpr std::uint32_t DeviceTypeCodeKr4 = 5;

} // namespace burnwise::codec
