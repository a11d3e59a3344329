#include "dl2mgr/editor/DialogFields.h"

namespace dl2mgr::editor {

namespace {

int KeyerModeItem(std::uint8_t modeReg, std::uint8_t outputConfig) {
    switch ((modeReg & ModeRegKeyerMode) >> 4) {
    case 0b01:
        return 0; // Iambic A
    case 0b00:
        return 1; // Iambic B
    case 0b11:
        return 5; // VibroBug
    default:
        break;
    }
    // The Ultimatic family: bit 7 wins over bit 6 when both are set.
    if (outputConfig & 0x80) return 3;
    if (outputConfig & 0x40) return 4;
    return 2;
}

int OutputConfigItemOf(std::uint8_t outputConfig) {
    for (std::size_t i = 0; i < OutputConfigItems.size(); ++i) {
        if (OutputConfigItems[i].Lines == (outputConfig & OutputLines)) return static_cast<int>(i);
    }
    return NoSelection;
}

} // namespace

DialogFields FieldsFromImage(const KeyerImage& image) {
    DialogFields f;
    auto number = [&](std::size_t at) { return std::to_string(image[at]); };
    f.Weight = number(offset::Weight);
    f.LeadIn = number(offset::LeadIn);
    f.Tail = number(offset::Tail);
    f.FirstExt = number(offset::FirstExt);
    f.KeyComp = number(offset::KeyComp);
    f.Farns = number(offset::Farns);
    f.Sample = number(offset::Sample);
    f.Ratio = number(offset::Ratio);
    f.CmdWpm = number(offset::CmdWpm);

    const std::uint8_t modeReg = image[offset::ModeReg];
    const std::uint8_t outputConfig = image[offset::OutputConfig];
    const std::uint8_t modeReg2 = image[offset::ModeReg2];
    f.KeyerMode = KeyerModeItem(modeReg, outputConfig);
    f.PaddleHang = (outputConfig & OutputPaddleHang) >> 4;
    f.OutputConfig = OutputConfigItemOf(outputConfig);
    const std::uint8_t sidetone = image[offset::Sidetone];
    f.Sidetone = sidetone >= 1 && sidetone <= SidetoneItems.size() ? sidetone - 1 : NoSelection;

    f.Max = std::to_string(image[offset::MinWpm] + image[offset::WpmRange]);
    f.Min = number(offset::MinWpm);

    f.Swap = modeReg & ModeRegSwap;
    f.AutoSpace = modeReg & ModeRegAutoSpace;
    f.CtSpace = modeReg & ModeRegCtSpace;
    f.PaddleDog = !(modeReg & ModeRegPaddleDog);
    f.Cut09 = modeReg2 & ModeReg2Cut09;
    f.MsgBrk = modeReg2 & ModeReg2MsgBrk;

    for (std::size_t k = 0; k < MessageCount; ++k) {
        f.Messages[k] = DecodeMessage(image, image[offset::MessageStart + k]);
    }
    return f;
}

} // namespace dl2mgr::editor
