#include "burnwise/codec/ImageDump.h"
#include "burnwise/codec/TextEscape.h"

#include <gtest/gtest.h>
#include <string>

namespace burnwise::codec {
namespace {

TEST(TextEscape, ControlBytesAndBackslashBecomeHex) {
    struct Case {
        std::string text;
        std::string escaped;
    };
    const Case cases[] = {
        {"Plain text ~!", "Plain text ~!"},
        {std::string("\0A", 2), "\\x00A"},
        {"tab\there\r\n", "tab\\x09here\\x0D\\x0A"},
        {"back\\slash", "back\\x5Cslash"},
        {"\x7F\x1F\x20", "\\x7F\\x1F "},
        {"\x80\xFF", "\x80\xFF"}, // 8-bit characters stay as they are
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.escaped);
        EXPECT_EQ(EscapeText(c.text), c.escaped);
        EXPECT_EQ(UnescapeText(c.escaped), c.text);
    }
    // Lower-case digits read back too; a backslash that starts no escape stays.
    EXPECT_EQ(UnescapeText("\\x5c\\x7f"), "\\\x7F");
    EXPECT_EQ(UnescapeText("a\\b\\x4\\xZZ\\"), "a\\b\\x4\\xZZ\\");
}

TEST(ImageDump, LinesPerFamilyAndFormat) {
    EepromImage image{};
    const std::uint16_t head[] = {0x0000, 0x1234, 0x5678, 0x0400, 0x3280, 0x0018, 0x0200, 0x0694};
    std::copy(std::begin(head), std::end(head), image.begin());
    image[79] = 0x7E2F;  // '~' shows, '/' (47) does not
    image[127] = 0x307F; // '0' shows, 0x7F does not

    const auto kr2 = DumpImage(image, {.Kr2Selected = true});
    ASSERT_EQ(kr2.size(), 8u);
    EXPECT_EQ(kr2[0], "0000 : 00 00 34 12 78 56 00 04 80 32 18 00 00 02 94 06"
                      "   .. .4 Vx .. 2. .. .. ..");
    EXPECT_EQ(kr2[7].substr(0, 7), "0070 : ");

    const auto kr4 = DumpImage(image, {.Kr4Selected = true});
    ASSERT_EQ(kr4.size(), 10u);
    EXPECT_EQ(kr4[9].substr(0, 7), "0090 : ");
    EXPECT_EQ(kr4[9].substr(kr4[9].size() - 3), " ~.");

    const auto kr3 = DumpImage(image, {.Kr3Selected = true, .Kr4Selected = true});
    ASSERT_EQ(kr3.size(), 16u) << "KR3 wins over KR4";
    EXPECT_EQ(kr3[15].substr(0, 7), "00F0 : ");
    EXPECT_EQ(kr3[15].substr(kr3[15].size() - 3), " 0.");
    EXPECT_EQ(DumpImage(image, {}).size(), 8u);
}

} // namespace
} // namespace burnwise::codec
