#include "burnwise/codec/ImageEncoder.h"

#include "CodecTestSupport.h"
#include "burnwise/codec/Checksum.h"
#include "burnwise/codec/CodecState.h"
#include "burnwise/codec/TextEscape.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace burnwise::codec {
namespace {

using test::Clock2007;
using test::WorkedIdentity;
using test::WorkedKr2;

constexpr FamilySelectors Kr1{};
constexpr FamilySelectors Kr2{.Kr2Selected = true};
constexpr FamilySelectors Kr3{.Kr3Selected = true};
constexpr FamilySelectors Kr4S{.Kr4Selected = true};

void WorkedKr4S(CodecState& st) {
    WorkedIdentity(st);
    EepromSettings& s = st.Settings;
    s.MaxPowerMilliAmps = 90;
    s.Kr4Present = 1;
    s.Kr4SerialNumberEnable = 1;
    s.InvertTxd = 1;
    s.InEndpointSize = 64;
    s.C1Signal = 3;
    s.C2Signal = 2;
    s.C3Signal = 1;
    s.C4Signal = 5;
}

struct Expected {
    std::size_t first;                // first word index given
    std::vector<std::uint16_t> words; // words from `first` on
};

struct Case {
    const char* name;
    FamilySelectors selectors;
    const char* eeprom;
    std::function<void(CodecState&)> fill;
    std::vector<Expected> expected;
    std::vector<std::size_t> zeroRanges; // pairs [from, to) that must be all zero
    const char* serial;
};

const std::vector<std::uint16_t> Kr2Strings = {0x0306, 0x0041, 0x0042, 0x0306, 0x0043,
                                               0x0044, 0x0312, 0x0058, 0x0059, 0x0030,
                                               0x0030, 0x0030, 0x0030, 0x0030, 0x0031};

TEST(ImageEncoder, WorkedExamplesAndQuirks) {
    std::vector<std::uint16_t> kr2Head = {0x0000, 0x1234, 0x5678, 0x0400, 0x3280,
                                          0x0018, 0x0200, 0x0694, 0x069A, 0x12A0};
    kr2Head.insert(kr2Head.end(), Kr2Strings.begin(), Kr2Strings.end());
    kr2Head.insert(kr2Head.end(), {0x0000, 0x0000});

    const std::vector<Case> cases = {
        {"KR2 worked example",
         Kr2,
         "93C46",
         WorkedKr2,
         {{0, kr2Head}, {63, {0x08CA}}},
         {27, 63},
         "XY000001"},
        {"KR2 with Plug and Play off",
         Kr2,
         "93C46",
         [](CodecState& st) {
             WorkedKr2(st);
             st.Settings.PlugAndPlay = 0;
         },
         {{25, {0x0000, 0x0001}}, {63, {0x08EA}}},
         {27, 63},
         "XY000001"},
        {"KR4S worked example",
         Kr4S,
         "93C46",
         WorkedKr4S,
         {{0,
           {0x4000, 0x1234, 0x5678, 0x0000, 0x2D80, 0x0108, 0x0000, 0x0698, 0x069E, 0x12A4, 0x1230,
            0x0005}},
          {12, Kr2Strings},
          {27, {0x0000, 0x0001}},
          {63, {0x72E7}}},
         {29, 63},
         "XY000001"},
        {"KR3 on a 93C56 moves the strings up",
         Kr3,
         "93C56",
         [](CodecState& st) {
             WorkedIdentity(st);
             st.Settings.Kr3Present = 1;
             st.Settings.PlugAndPlay = 1;
         },
         {{3, {0x0500}}, {7, {0x0696}}, {10, {0x0056}}, {75, {0x0306, 0x0041, 0x0042}}},
         {11, 75},
         "XY000001"},
        {"KR3 on an unknown part gets the 128-word layout",
         Kr3,
         "Unknown",
         [](CodecState& st) { WorkedIdentity(st); },
         {{10, {0x0066}}, {75, {0x0306}}},
         {11, 75},
         "XY000001"},
        {"KR3 before detection counts as unknown",
         Kr3,
         "",
         [](CodecState& st) { WorkedIdentity(st); },
         {{10, {0x0066}}},
         {11, 75},
         "XY000001"},
        {"KR3 on a 93C46 keeps the strings low",
         Kr3,
         "93C46",
         [](CodecState& st) {
             WorkedIdentity(st);
             st.Settings.Kr3Present = 1;
             st.Settings.SideAFifo = 1;
             st.Settings.SideACpuFifo = 1; // FIFO wins on side A
             st.Settings.SideBCpuFifo = 1;
             st.Settings.SideBOptoIsolate = 1; // CPU FIFO wins on side B
             st.Settings.SideBHighCurrent = 1;
             st.Settings.Kr3ReservedB1 = 1;
             st.Settings.Kr3UsbVersion = 0x0110;
         },
         {{0, {0x1201}}, {5, {0x0040, 0x0110}}, {10, {0x0046, 0x0306, 0x0041}}},
         {64, 128},
         "XY000001"},
        {"KR1 repeats the power word in word 6",
         Kr1,
         "93C46",
         [](CodecState& st) {
             WorkedIdentity(st);
             st.Settings.MaxPowerMilliAmps = 101; // the odd milliampere is dropped
             st.Settings.PlugAndPlay = 1;
         },
         {{0, {0x0000, 0x1234, 0x5678, 0x0200, 0x3280, 0x0000, 0x3280}}, {10, {0x0306}}},
         {64, 128},
         "XY000001"},
        {"KR4 words 3 and 6 are 0 whatever the record holds",
         Kr4S,
         "93C46",
         [](CodecState& st) {
             WorkedIdentity(st);
             st.Settings.Kr2Present = 1;
             st.Settings.Kr2UsbVersion = 0x0200;
             st.Settings.Kr4Present = 1;
             st.Settings.MaxPowerMilliAmps = 500;
             st.Settings.SelfPowered = 1;
             st.Settings.RemoteWakeup = 1;
         },
         {{3, {0x0000, 0xFAE0, 0x0000, 0x0000}}},
         {},
         "XY000001"},
        {"an empty manufacturer is one zero character",
         Kr1,
         "93C46",
         [](CodecState& st) {
             SetText(st.Settings.ProductDescription, "P");
             SetText(st.Settings.SerialNumber, "S");
             st.Settings.PlugAndPlay = 1;
         },
         {{7, {0x0494, 0x0498, 0x049C, 0x0304, 0x0000, 0x0304, 0x0050, 0x0304, 0x0053}}},
         {19, 63},
         "S"},
        {"InEndpointSize 64 alone",
         Kr4S,
         "93C46",
         [](CodecState& st) { st.Settings.InEndpointSize = 64; },
         {{0, {0x4000}}},
         {},
         nullptr},
        {"a pin index of 0xFF stays in its own field",
         Kr4S,
         "93C46",
         [](CodecState& st) {
             st.Settings.C0Signal = 0xFF;
             st.Settings.C2Signal = 0xFF;
             st.Settings.C4Signal = 0xFF;
         },
         {{10, {0x0F0F, 0x000F}}},
         {},
         nullptr},
        {"a generated serial number follows the prefix",
         Kr2,
         "93C46",
         [](CodecState& st) {
             WorkedIdentity(st);
             SetText(st.Settings.SerialNumber, "");
             st.Settings.SerialNumber[1] = 'Z'; // a first byte of 0 means empty
             SetText(st.Settings.SerialPrefix, "VQ");
         },
         {{16, {0x0312, 0x0056, 0x0051, 0x0050, 0x005A, 0x0035, 0x0039, 0x0059, 0x0057}}},
         {},
         "VQPZ59YW"},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CodecState st;
        c.fill(st);
        st.WriteImage.fill(0xEEEE); // encoding starts from zero words whatever was there
        const EncodeResult result =
            EncodeImage(st.Settings, c.selectors, c.eeprom, Clock2007, st.WriteImage);
        const EepromImage& image = st.WriteImage;
        for (const Expected& e : c.expected) {
            for (std::size_t i = 0; i < e.words.size(); ++i) {
                EXPECT_EQ(image[e.first + i], e.words[i]) << "word " << e.first + i;
            }
        }
        for (std::size_t i = 0; i + 1 < c.zeroRanges.size(); i += 2) {
            for (std::size_t w = c.zeroRanges[i]; w < c.zeroRanges[i + 1]; ++w) {
                EXPECT_EQ(image[w], 0) << "word " << w;
            }
        }
        const bool large = c.selectors.Kr3Selected && std::string(c.eeprom) != "93C46";
        EXPECT_EQ(image[large ? 127 : 63], Checksum(image, large ? 127 : 63));
        EXPECT_EQ(image[large ? 63 : 127], 0);
        if (c.serial) {
            EXPECT_EQ(result.Serial, c.serial);
        }
        EXPECT_TRUE(result.Fits);
    }
}

TEST(ImageEncoder, GeneratedSerialWithEmptyPrefixKeepsItsZeroCharacter) {
    CodecState st;
    const EncodeResult result = EncodeImage(st.Settings, Kr1, "93C46", Clock2007, st.WriteImage);
    EXPECT_EQ(result.Serial, std::string("\0PZ59YW", 7));
    // Empty manufacturer and product take 4 bytes each; the serial starts at byte 28.
    EXPECT_EQ(st.WriteImage[9], 0x109C);
    EXPECT_EQ(st.WriteImage[15], 0x0000);
    EXPECT_EQ(st.WriteImage[16], 'P');
    EXPECT_EQ(st.WriteImage[23], 0x0001) << "Plug and Play off: 14 + 7 + 2";
}

// A text is taken from its first character on, whatever that is, up to the zero byte that
// follows: a manufacturer that starts with a zero byte keeps the characters after it.
TEST(ImageEncoder, TakesTextsFromTheFirstCharacterToTheNextZeroByte) {
    struct Case {
        std::string_view text;
        std::uint16_t pointer; // length in the high byte, 0x80 | byte 20 in the low byte
        std::vector<std::uint16_t> characters;
    };
    using namespace std::string_view_literals;
    const Case cases[] = {
        {""sv, 0x0494, {0x0000}},
        {"\0AB"sv, 0x0894, {0x0000, 'A', 'B'}},
        {"AB"sv, 0x0694, {'A', 'B'}},
        {"A\0B"sv, 0x0494, {'A'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(EscapeText(c.text));
        CodecState st;
        SetText(st.Settings.Manufacturer, c.text);
        EncodeImage(st.Settings, Kr1, "93C46", Clock2007, st.WriteImage);
        EXPECT_EQ(st.WriteImage[7], c.pointer);
        for (std::size_t k = 0; k < c.characters.size(); ++k)
            EXPECT_EQ(st.WriteImage[11 + k], c.characters[k]) << "character " << k;
    }
}

// The descriptors and the Plug and Play word must end below word 63. Whatever does not
// fit is cut at the end of the image, never written beyond it.
TEST(ImageEncoder, ReportsWhetherTheStringsFit) {
    struct Case {
        FamilySelectors selectors;
        std::size_t manufacturer, product, serial;
        bool fits;
    };
    const Case cases[] = {
        {Kr4S, 20, 18, 8, true},                          // 12 + 4 + 46 = 62
        {Kr4S, 20, 19, 8, false},                         // 63
        {Kr3, 21, 18, 8, true},                           // 11 + 4 + 47 = 62
        {Kr3, 21, 19, 8, false},  {Kr1, 22, 18, 8, true}, // 10 + 4 + 48 = 62
        {Kr2, 22, 19, 8, false},  {Kr4S, 63, 63, 63, false},
    };
    for (const Case& c : cases) {
        for (const char* eeprom : {"93C46", "93C56"}) {
            SCOPED_TRACE(testing::Message() << c.manufacturer << "+" << c.product << "+" << c.serial
                                            << " on " << eeprom);
            CodecState st;
            SetText(st.Settings.Manufacturer, std::string(c.manufacturer, 'M'));
            SetText(st.Settings.ProductDescription, std::string(c.product, 'P'));
            SetText(st.Settings.SerialNumber, std::string(c.serial, 'S'));
            const EncodeResult result =
                EncodeImage(st.Settings, c.selectors, eeprom, Clock2007, st.WriteImage);
            EXPECT_EQ(result.Fits, c.fits);
            EXPECT_EQ(result.Serial.size(), c.serial);
        }
    }
}

TEST(ImageEncoder, TextWithoutZeroByteStopsAtItsBuffer) {
    CodecState st;
    // 64 characters and no terminating zero: the next buffer must not be read.
    std::fill(st.Settings.Manufacturer.begin(), st.Settings.Manufacturer.end(), 'M');
    SetText(st.Settings.SerialPrefix, "QQ");
    SetText(st.Settings.SerialNumber, "S");
    const EncodeResult result = EncodeImage(st.Settings, Kr1, "93C46", Clock2007, st.WriteImage);
    EXPECT_EQ(st.WriteImage[7], 0x8294) << "130 bytes: 64 characters";
    EXPECT_EQ(st.WriteImage[74], 'M');
    EXPECT_EQ(st.WriteImage[75], 0x0304) << "the product descriptor follows the 64th character";
    EXPECT_FALSE(result.Fits);
}

} // namespace
} // namespace burnwise::codec
