#pragma once

#include "vqpipex/vqpipex.h"

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

// What a model can do, and so which template fields apply to it.
enum Capability : std::uint16_t {
    Erasable = 1u << 0,         // its EEPROM can be erased (the KR4's is inside the chip)
    TwoChannels = 1u << 1,      // two devices per chip, each with its modes and driver
    CpuFifo = 1u << 2,          // offers the CPU FIFO mode on both sides
    BlankCheck = 1u << 3,       // a blank chip can be told apart from a programmed one
    IdentityTest = 1u << 4,     // factory words tell which model of the family it is
    ConfigurablePins = 1u << 5, // C0 to C4 can be chosen
    RemoteWakeup = 1u << 6,     // can wake its host
    PlugAndPlay = 1u << 7,      // offers the plug-and-play option
    DeviceOptions = 1u << 8,    // USB version, serial number switch, pull-down in suspend
    IoOptions = 1u << 9,        // RS232 inversions, oscillator, drive and driver options
};
using Capabilities = std::uint16_t;

struct ChipModel {
    ChipType Type;
    std::string_view ListText; // the entry's text in the device-type list
    ChipFamily Family;
    FamilySelectors Selectors; // what choosing this model sets
    int DeviceTypeCode;        // what the driver reports for such a chip; -1 for None
    // The name a device of this model is known by before its factory words are read: the
    // family's, unless the model's identity test tells the models apart.
    std::string_view ReportedName;
    std::string_view DefaultVid; // the maker's identifiers, as the template file holds them
    std::string_view DefaultPid;
    Capabilities Can;

    bool Has(Capability capability) const { return (Can & capability) != 0; }
};

namespace models {
constexpr Capabilities Kr1 = Erasable | BlankCheck;
constexpr Capabilities Kr2 = Kr1 | DeviceOptions;
constexpr Capabilities Kr3 = Kr2 | TwoChannels;
constexpr Capabilities Kr4 = DeviceOptions | IdentityTest | IoOptions | RemoteWakeup;
} // namespace models

// One row per entry of the device-type list, in list order.
inline constexpr std::array<ChipModel, 9> ChipModels{{
    {ChipType::None, "None", ChipFamily::None, {}, -1, "", "3C5A", "71A0", Erasable | BlankCheck},
    {ChipType::KR1S,
     "KR1S",
     ChipFamily::KR1,
     {},
     VQ_TYPE_KR1,
     "KR1",
     "3C5A",
     "71A0",
     models::Kr1 | RemoteWakeup | PlugAndPlay},
    {ChipType::KR1F, "KR1F", ChipFamily::KR1, {}, VQ_TYPE_KR1, "KR1", "3C5A", "71A0", models::Kr1},
    {ChipType::KR2S,
     "KR2S",
     ChipFamily::KR2,
     {.Kr2Selected = true},
     VQ_TYPE_KR2,
     "KR2",
     "3C5A",
     "71A0",
     models::Kr2 | RemoteWakeup | PlugAndPlay},
    {ChipType::KR2F,
     "KR2F",
     ChipFamily::KR2,
     {.Kr2Selected = true},
     VQ_TYPE_KR2,
     "KR2",
     "3C5A",
     "71A0",
     models::Kr2 | RemoteWakeup},
    {ChipType::KR3D,
     "KR3D",
     ChipFamily::KR3,
     {.Kr3Selected = true},
     VQ_TYPE_KR3,
     "KR3",
     "3C5A",
     "71B0",
     models::Kr3 | RemoteWakeup},
    {ChipType::KR4S,
     "KR4S",
     ChipFamily::KR4,
     {.Kr4Selected = true},
     VQ_TYPE_KR4,
     "KR4S",
     "3C5A",
     "71A0",
     models::Kr4 | PlugAndPlay | ConfigurablePins},
    {ChipType::KR4F,
     "KR4F",
     ChipFamily::KR4,
     {.Kr4Selected = true, .Kr4FifoSelected = true},
     VQ_TYPE_KR4,
     "KR4F",
     "3C5A",
     "71A0",
     models::Kr4},
    {ChipType::KR3E,
     "KR3E",
     ChipFamily::KR3,
     {.Kr3Selected = true},
     VQ_TYPE_KR3,
     "KR3",
     "3C5A",
     "71B0",
     models::Kr3 | RemoteWakeup | CpuFifo},
}};

// The identifiers a new template starts with.
inline constexpr const ChipModel& NoModel = ChipModels[0];

const ChipModel& ChipModelOf(ChipType type);

// The model whose list text is `text`, if any.
std::optional<ChipType> ChipTypeFromListText(std::string_view text);

// The family whose chips the driver reports with `typeCode`; None for a code no model has.
ChipFamily FamilyOfTypeCode(std::uint32_t typeCode);

// The family's first model in the list: what a device of the family is taken for until
// its factory words say more.
const ChipModel& FirstModelOf(ChipFamily family);

// The name a device reporting `typeCode` is known by: the model's when the family's models
// share it, else the model the factory words name (`fifo`, read for an identity test), or
// the family's name while they are not read. Empty for an unknown code.
std::string_view ReportedModelName(std::uint32_t typeCode, std::optional<bool> fifo);

} // namespace burnwise::codec
