#include "dl2mgr/editor/DialogFields.h"

#include <gtest/gtest.h>

namespace dl2mgr::editor {
namespace {

TEST(FieldsFromImage, NumbersAndSpeedPotRange) {
    KeyerImage image{};
    const std::uint8_t settings[] = {0, 0, 0, 4, 50, 12, 7, 20, 15, 3, 250, 0, 45, 66, 0, 0, 99};
    std::copy(std::begin(settings), std::end(settings), image.begin());
    image[8] = 250; // MAX is shown as the plain sum, even past a byte
    const DialogFields f = FieldsFromImage(image);
    EXPECT_EQ(f.Weight, "50");
    EXPECT_EQ(f.LeadIn, "12");
    EXPECT_EQ(f.Tail, "7");
    EXPECT_EQ(f.FirstExt, "3");
    EXPECT_EQ(f.KeyComp, "250");
    EXPECT_EQ(f.Farns, "0");
    EXPECT_EQ(f.Sample, "45");
    EXPECT_EQ(f.Ratio, "66");
    EXPECT_EQ(f.CmdWpm, "99");
    EXPECT_EQ(f.Min, "20");
    EXPECT_EQ(f.Max, "270");
    EXPECT_EQ(f.Sidetone, 3); // "1000"
}

TEST(FieldsFromImage, ListsAndTicksFromTheirBits) {
    struct Case {
        std::uint8_t ModeReg, OutputConfig;
        const char* KeyerMode;
        const char* PaddleHang;
        const char* Output; // nullptr: no selection
    } cases[] = {
        {0x10, 0x04, "Iambic A", "1.0 Word", "Port1"},
        {0x00, 0x16, "Iambic B", "1.3 Word", "Port1, ST"},
        {0x30, 0x25, "VibroBug", "1.6 Word", "Port1, PTT"},
        {0x20, 0x37, "Ultimatic", "2.0 Word", "Port1, ST, PTT"},
        {0x20, 0x88, "UltimDit", "1.0 Word", "Port2"},
        {0x20, 0xCA, "UltimDit", "1.0 Word", "Port2, ST"},
        {0x20, 0x49, "UltimDah", "1.0 Word", "Port2, PTT"},
        {0xFF, 0x4B, "VibroBug", "1.0 Word", "Port2, ST, PTT"},
        {0x10, 0x03, "Iambic A", "1.0 Word", nullptr},
        {0x10, 0x0C, "Iambic A", "1.0 Word", nullptr},
    };
    for (const auto& c : cases) {
        KeyerImage image{};
        image[1] = c.ModeReg;
        image[14] = c.OutputConfig;
        const DialogFields f = FieldsFromImage(image);
        EXPECT_STREQ(KeyerModeItems[f.KeyerMode], c.KeyerMode) << int(c.ModeReg);
        EXPECT_STREQ(PaddleHangItems[f.PaddleHang], c.PaddleHang) << int(c.OutputConfig);
        if (c.Output) {
            ASSERT_NE(f.OutputConfig, NoSelection) << int(c.OutputConfig);
            EXPECT_STREQ(OutputConfigItems[f.OutputConfig].Text, c.Output);
        } else {
            EXPECT_EQ(f.OutputConfig, NoSelection) << int(c.OutputConfig);
        }
    }

    KeyerImage image{};
    image[1] = 0x0B;  // Swap, AutoSpace, CTspace; bit 7 clear: PaddleDog ticked
    image[15] = 0x0C; // Cut 0/9 and MsgBrk
    DialogFields f = FieldsFromImage(image);
    EXPECT_TRUE(f.Swap && f.AutoSpace && f.CtSpace && f.PaddleDog && f.Cut09 && f.MsgBrk);
    image[1] = 0xF4; // only bits the editor does not show, and PaddleDog's inverted bit
    image[15] = 0xF3;
    f = FieldsFromImage(image);
    EXPECT_FALSE(f.Swap || f.AutoSpace || f.CtSpace || f.PaddleDog || f.Cut09 || f.MsgBrk);
}

TEST(FieldsFromImage, SidetoneSelectionAndMessages) {
    for (int stored = 0; stored < 256; ++stored) {
        KeyerImage image{};
        image[3] = static_cast<std::uint8_t>(stored);
        const int item = FieldsFromImage(image).Sidetone;
        if (stored >= 1 && stored <= 10) {
            EXPECT_EQ(std::stoi(SidetoneItems[item]), 4000 / stored);
        } else {
            EXPECT_EQ(item, NoSelection) << stored;
        }
    }
    KeyerImage image{};
    ASSERT_EQ(EncodeMessages(image, {"", "", "", "", "", "73"}), EncodeResult::Stored);
    const DialogFields f = FieldsFromImage(image);
    EXPECT_EQ(f.Messages, (MessageTexts{"", "", "", "", "", "73"}));
}

} // namespace
} // namespace dl2mgr::editor
