#include "burnwise/codec/Checksum.h"
#include "burnwise/codec/EepromGeometry.h"
#include "burnwise/codec/SerialNumber.h"

#include <gtest/gtest.h>
#include <set>

namespace burnwise::codec {
namespace {

TEST(Checksum, RotatesAndXorsFromAAAA) {
    EepromImage image{};
    EXPECT_EQ(Checksum(image, 63), 0x5555);
    EXPECT_EQ(Checksum(image, 127), 0x5555);
    image[0] = 0xAAAA; // cancels the start value: zero rotates to zero
    EXPECT_EQ(Checksum(image, 63), 0x0000);
    image[0] = 0x2AAA; // bit 15 of the start value survives the XOR and wraps to bit 0
    EXPECT_EQ(Checksum(image, 1), 0x0001);
    image[62] = 0x1234; // only words below count take part
    const std::uint16_t with62 = Checksum(image, 63);
    image[63] = 0xFFFF;
    EXPECT_EQ(Checksum(image, 63), with62);
    EXPECT_EQ(Checksum(image, 1000), Checksum(image, 128)) << "a count past the image stops there";
}

TEST(SerialNumber, CodesOfKnownTimes) {
    struct Case {
        UtcTime time;
        const char* code;
    };
    const Case cases[] = {
        {{2007, 6, 15, 12, 34, 56}, "PZ59YW"},
        {{2000, 1, 1, 0, 0, 0}, "HTUPZ4"},
        {{2032, 1, 1, 0, 0, 0}, "HTUPZ4"}, // the year counts modulo 32
        {{1984, 0, 0, 0, 0, 0}, "000000"},
        // Every field at its mask: 2^31 - 1 in base 36.
        {{2015, 15, 31, 31, 63, 63}, "ZIK0ZJ"},
        // Out-of-range values are masked to their width and never reach the next field.
        {{2007, 6 + 16, 15 + 32, 12 + 32, 34 + 64, 56 + 64}, "PZ59YW"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(SerialCode(c.time), c.code);
    }
    const FixedUtcClock clock({2007, 6, 15, 12, 34, 56});
    EXPECT_EQ(GenerateSerial("VQ", clock), "VQPZ59YW");
    EXPECT_EQ(GenerateSerial("", clock), "PZ59YW");
}

TEST(SerialNumber, SystemClockGivesAValidUtcTime) {
    const UtcTime now = SystemUtcClock().Now();
    EXPECT_GE(now.Year, 2024);
    EXPECT_TRUE(now.Month >= 1 && now.Month <= 12);
    EXPECT_TRUE(now.Day >= 1 && now.Day <= 31);
    EXPECT_TRUE(now.Hour >= 0 && now.Hour <= 23);
    EXPECT_TRUE(now.Minute >= 0 && now.Minute <= 59);
    EXPECT_TRUE(now.Second >= 0 && now.Second <= 60);
}

// Walks the geometry rows: the size probe writes its marker to address 192, and a part
// with fewer address bits sees it at 192 modulo its size.
TEST(EepromGeometry, TableIsConsistent) {
    std::set<std::string_view> names;
    for (const EepromGeometry& row : EepromGeometries) {
        SCOPED_TRACE(std::string(row.Name));
        EXPECT_TRUE(names.insert(row.Name).second);
        EXPECT_EQ(FindEepromGeometry(row.Name), &row);
        EXPECT_EQ(&EepromGeometryOf(row.Name), &row);
        if (row.Words == 0) {
            EXPECT_EQ(row.TestWord, -1);
            EXPECT_EQ(row.WordsWritten, 0u);
        } else {
            EXPECT_EQ(std::size_t(row.TestWord), 192 % row.Words);
            EXPECT_EQ(row.WordsWritten, std::min<std::size_t>(row.Words, 128));
            EXPECT_EQ(row.Kr3ChecksumWord, row.WordsWritten - 1);
        }
        EXPECT_EQ(row.Kr3Marker, row.Words == 64 ? 0x0046 : row.Words == 128 ? 0x0056 : 0x0066);
    }
    EXPECT_EQ(FindEepromGeometry(""), nullptr);
    EXPECT_EQ(FindEepromGeometry("93c46"), nullptr);
    EXPECT_EQ(EepromGeometryOf("").Name, EepromUnknown);
    EXPECT_EQ(EepromGeometryOf("93C86").Name, EepromUnknown);
}

} // namespace
} // namespace burnwise::codec
