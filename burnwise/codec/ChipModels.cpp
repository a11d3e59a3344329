#include "ChipModels.h"

namespace burnwise::codec {

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

} // namespace burnwise::codec
