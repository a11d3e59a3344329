#include "burnwise/codec/EepromSettings.h"

#include "burnwise/codec/NumberReaders.h"

#include <gtest/gtest.h>
#include <string>

namespace burnwise::codec {
namespace {

TEST(EepromSettings, BuffersSitAtTheirOffsetsAndResetClearsThem) {
    SettingsTextArea area;
    area.Bytes.fill('x');
    EepromSettings s;
    s.AttachBuffers(area);
    EXPECT_EQ(s.Manufacturer.data(), area.Bytes.data());
    EXPECT_EQ(s.SerialPrefix.data(), area.Bytes.data() + 64);
    EXPECT_EQ(s.ProductDescription.data(), area.Bytes.data() + 128);
    EXPECT_EQ(s.SerialNumber.data(), area.Bytes.data() + 192);
    EXPECT_EQ(s.SerialNumber.size(), 64u);

    s.VendorId = 0x1234;
    s.C4Signal = 9;
    s.Reset();
    EXPECT_EQ(s.VendorId, 0);
    EXPECT_EQ(s.C4Signal, 0);
    EXPECT_EQ(s.SerialNumber.data(), area.Bytes.data() + 192) << "Reset keeps the attachments";
    for (const char c : area.Bytes)
        ASSERT_EQ(c, '\0');
}

TEST(EepromSettings, TextsStopAtZeroAndAtTheBufferEnd) {
    SettingsTextArea area;
    EepromSettings s;
    s.AttachBuffers(area);
    SetText(s.Manufacturer, std::string(100, 'M'));
    EXPECT_EQ(TextOf(s.Manufacturer), std::string(63, 'M'));
    EXPECT_EQ(area.Bytes[64], '\0') << "a long text never reaches the next buffer";

    // A buffer with no zero byte at all still ends at its own end.
    std::fill(s.SerialPrefix.begin(), s.SerialPrefix.end(), 'P');
    EXPECT_EQ(TextOf(s.SerialPrefix).size(), 64u);

    // A first byte of 0 means empty even when later bytes are not.
    s.SerialNumber[0] = '\0';
    s.SerialNumber[1] = 'Z';
    EXPECT_TRUE(TextOf(s.SerialNumber).empty());

    EepromSettings unattached;
    EXPECT_TRUE(TextOf(unattached.Manufacturer).empty());
    SetText(unattached.Manufacturer, "ignored");
}

TEST(NumberReaders, NonDigitsCountAsZero) {
    struct Case {
        const char* text;
        std::uint32_t decimal;
        std::uint32_t hexadecimal;
    };
    const Case cases[] = {
        {"", 0, 0},
        {"0", 0, 0},
        {"100", 100, 0x100},
        {"1x5", 105, 0x105},
        {"-5", 5, 5},
        {"3C5A", 3050, 0x3C5A},
        {"3c5a", 3050, 0x3C5A},
        {"fFgG", 0, 0xFF00},
        {" 12", 12, 0x12},
        {"500", 500, 0x500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ReadDecimal(c.text), c.decimal);
        EXPECT_EQ(ReadHexadecimal(c.text), c.hexadecimal);
    }
    // Long texts keep the low bits, as a 16-bit field would after storing.
    EXPECT_EQ(static_cast<std::uint16_t>(ReadHexadecimal("123456")), 0x3456);
}

} // namespace
} // namespace burnwise::codec
