#include "dl2mgr/editor/MessageCoding.h"

#include "dl2mgr/editor/MorseTable.h"

#include <gtest/gtest.h>
#include <vector>

namespace dl2mgr::editor {
namespace {

std::vector<std::uint8_t> Bytes(const KeyerImage& image, std::size_t from, std::size_t to) {
    return {image.begin() + from, image.begin() + to};
}

KeyerImage Filled(std::uint8_t value) {
    KeyerImage image;
    image.fill(value);
    return image;
}

TEST(EncodeMessages, PacksMessagesWithoutGapsAndMarksEachEnd) {
    KeyerImage image = Filled(0xEE);
    ASSERT_EQ(EncodeMessages(image, {"CQ", "", "TEST", "", "", ""}), EncodeResult::Stored);
    EXPECT_EQ(Bytes(image, 18, 24), (std::vector<std::uint8_t>{24, 16, 26, 16, 16, 16}));
    EXPECT_EQ(Bytes(image, 24, 30),
              (std::vector<std::uint8_t>{0x15, 0x9B, 0x03, 0x02, 0x08, 0x83}));
    EXPECT_EQ(image[17], 30);
    // Settings and the bytes after the last message are left alone.
    EXPECT_EQ(Bytes(image, 0, 17), std::vector<std::uint8_t>(17, 0xEE));
    EXPECT_EQ(Bytes(image, 30, 256), std::vector<std::uint8_t>(226, 0xEE));

    ASSERT_EQ(EncodeMessages(image, {}), EncodeResult::Stored);
    EXPECT_EQ(Bytes(image, 18, 24), std::vector<std::uint8_t>(6, 16));
    EXPECT_EQ(image[17], 24);
}

TEST(EncodeMessages, FullAreaEndsAtOffset255AndOneMoreCharacterIsRefused) {
    KeyerImage image = Filled(0x00);
    const MessageTexts full = {
        std::string(100, 'E'), std::string(100, 'T'), "", std::string(30, 'A'), "", "NN"};
    ASSERT_EQ(EncodeMessages(image, full), EncodeResult::Stored);
    EXPECT_EQ(image[255], 0x05 | 0x80);
    EXPECT_EQ(image[17], 0); // 256 as a byte
    EXPECT_EQ(Bytes(image, 18, 24), (std::vector<std::uint8_t>{24, 124, 16, 224, 16, 254}));
    for (std::size_t k = 0; k < 6; ++k)
        EXPECT_EQ(DecodeMessage(image, image[18 + k]), full[k]);

    // 233 characters do not fit: nothing at all is written, not even MessageStart.
    KeyerImage before = Filled(0x5A);
    KeyerImage refused = before;
    MessageTexts tooLong = full;
    tooLong[2] = "E";
    EXPECT_EQ(EncodeMessages(refused, tooLong), EncodeResult::TooLong);
    EXPECT_EQ(refused, before);
    EXPECT_EQ(EncodeMessages(refused, {std::string(1000, 'E')}), EncodeResult::TooLong);
    EXPECT_EQ(refused, before);
}

TEST(DecodeMessage, SharedBytesComeBackAsTheLowestCharacter) {
    struct Case {
        const char* Typed;
        const char* ReadBack;
    } cases[] = {
        {"AB", "AB"},       {"ab", "AB"},         {"CQ DE X1Y", "CQ DE X1Y"},
        {"A:B", "A(B"},     {"]", "("},           {"\\", "/"},
        {"<", "+"},         {"?.,'\"", "?.,'\""}, {"a$b", "A"},
        {"AB\r\nCD", "AB"}, {"\r\n", ""},         {"[|@=>;-)", "[|@=>;-)"},
    };
    for (const auto& c : cases) {
        KeyerImage image{};
        ASSERT_EQ(EncodeMessages(image, {"", c.Typed}), EncodeResult::Stored);
        EXPECT_EQ(DecodeMessage(image, image[19]), c.ReadBack) << c.Typed;
    }
    KeyerImage image{};
    EncodeMessages(image, {"AB"});
    EXPECT_EQ(Bytes(image, 24, 26), (std::vector<std::uint8_t>{0x06, 0x91}));
}

TEST(DecodeMessage, EveryCharacterCodeRoundTrips) {
    for (int code = 1; code < 256; ++code) {
        KeyerImage image{};
        const std::string typed = {'E', static_cast<char>(code), 'T'};
        ASSERT_EQ(EncodeMessages(image, {typed}), EncodeResult::Stored);
        const std::uint8_t byte = MorseByteOf(static_cast<unsigned char>(code));
        EXPECT_EQ(image[25], byte) << code;
        std::string expected = "E";
        if (byte != 0x00 && byte != 0xC8) {
            // The first code from 32 up that stores the same byte.
            int first = 32;
            while (MorseTable[first] != byte)
                ++first;
            expected += {static_cast<char>(first), 'T'};
        }
        EXPECT_EQ(DecodeMessage(image, 24), expected) << code;
    }
}

TEST(DecodeMessage, BadStartsAndUnterminatedMessagesStayInsideTheImage) {
    KeyerImage image = Filled(MorseTable['E']); // no end mark anywhere
    for (int start : {0, 1, 15, 16, 17, 23}) {
        EXPECT_EQ(DecodeMessage(image, static_cast<std::uint8_t>(start)), "") << start;
    }
    EXPECT_EQ(DecodeMessage(image, 24), std::string(232, 'E'));
    EXPECT_EQ(DecodeMessage(image, 250), std::string(6, 'E'));
    EXPECT_EQ(DecodeMessage(image, 255), "E");
}

} // namespace
} // namespace dl2mgr::editor
