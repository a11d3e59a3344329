#include "ChipModels.h"

namespace burnwise::codec {

namespace {
constexpr std::string_view FamilyNames[] = {"", "KR1", "KR2", "KR3", "KR4"};
} // namespace

const ChipModel& ChipModelOf(ChipType type) {
    const auto index = static_cast<std::size_t>(type);
    return index < ChipModels.size() ? ChipModels[index] : ChipModels[0];
}

std::optional<ChipType> ChipTypeFromListText(std::string_view text) {
    for (const ChipModel& model : ChipModels) {
        if (model.ListText == text) return model.Type;
    }
    return std::nullopt;
}

ChipFamily FamilyOfTypeCode(std::uint32_t typeCode) {
    for (const ChipModel& model : ChipModels)
        if (model.DeviceTypeCode >= 0 &&
            static_cast<std::uint32_t>(model.DeviceTypeCode) == typeCode)
            return model.Family;
    return ChipFamily::None;
}

const ChipModel& FirstModelOf(ChipFamily family) {
    for (const ChipModel& model : ChipModels)
        if (model.Family == family) return model;
    return ChipModels[0];
}

std::string_view ReportedModelName(std::uint32_t typeCode, std::optional<bool> fifo) {
    const ChipFamily family = FamilyOfTypeCode(typeCode);
    if (family == ChipFamily::None) return {};
    const ChipModel& first = FirstModelOf(family);
    if (!first.Has(IdentityTest)) return first.ReportedName;
    const std::string_view familyName = FamilyNames[static_cast<std::size_t>(family)];
    if (!fifo) return familyName;
    for (const ChipModel& model : ChipModels)
        if (model.Family == family && model.Selectors.Kr4FifoSelected == *fifo)
            return model.ReportedName;
    return familyName;
}

} // namespace burnwise::codec
