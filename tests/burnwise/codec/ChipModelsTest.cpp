#include "burnwise/codec/ChipModels.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

namespace burnwise::codec {
namespace {

// Walks the model table: positions, list texts, families and what each row sets must
// agree with one another, since the form, the codec and the scans all read this table.
TEST(ChipModels, TableIsConsistent) {
    std::set<std::string_view> texts;
    for (std::size_t i = 0; i < ChipModels.size(); ++i) {
        const ChipModel& m = ChipModels[i];
        SCOPED_TRACE(std::string(m.ListText));
        EXPECT_EQ(static_cast<std::size_t>(m.Type), i) << "row order is the list order";
        EXPECT_TRUE(texts.insert(m.ListText).second) << "list texts are unique";
        EXPECT_EQ(ChipTypeFromListText(m.ListText), m.Type);
        EXPECT_EQ(&ChipModelOf(m.Type), &m);

        const FamilySelectors& s = m.Selectors;
        EXPECT_LE(int(s.Kr2Selected) + int(s.Kr3Selected) + int(s.Kr4Selected), 1);
        EXPECT_TRUE(!s.Kr4FifoSelected || s.Kr4Selected);
        switch (m.Family) {
        case ChipFamily::None:
            EXPECT_EQ(s, FamilySelectors{});
            EXPECT_EQ(m.DeviceTypeCode, -1);
            break;
        case ChipFamily::KR1:
            EXPECT_EQ(s, FamilySelectors{});
            EXPECT_EQ(m.DeviceTypeCode, int(DeviceTypeCodeKr1));
            break;
        case ChipFamily::KR2:
            EXPECT_TRUE(s.Kr2Selected);
            EXPECT_EQ(m.DeviceTypeCode, int(DeviceTypeCodeKr2));
            break;
        case ChipFamily::KR3:
            EXPECT_TRUE(s.Kr3Selected);
            EXPECT_EQ(m.DeviceTypeCode, int(DeviceTypeCodeKr3));
            break;
        case ChipFamily::KR4:
            EXPECT_TRUE(s.Kr4Selected);
            EXPECT_EQ(s.Kr4FifoSelected, m.ListText == "KR4F");
            EXPECT_EQ(m.DeviceTypeCode, int(DeviceTypeCodeKr4));
            break;
        }
    }
    EXPECT_EQ(ChipModels[0].ListText, "None");
    EXPECT_FALSE(ChipTypeFromListText("KR5S").has_value());
    EXPECT_FALSE(ChipTypeFromListText("kr1s").has_value());
}

} // namespace
} // namespace burnwise::codec
