#include "burnwise/codec/ChipModels.h"

#include "vqpipex/BenchModel.h"

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
        if (m.Family == ChipFamily::None) {
            EXPECT_EQ(s, FamilySelectors{});
            EXPECT_EQ(m.DeviceTypeCode, -1);
        }
        FamilySelectors family = FirstModelOf(m.Family).Selectors;
        family.Kr4FifoSelected = s.Kr4FifoSelected;
        EXPECT_EQ(s, family) << "a family's models differ at most in the FIFO selector";
    }
    EXPECT_EQ(ChipModels[0].ListText, "None");
    EXPECT_FALSE(ChipTypeFromListText("KR5S").has_value());
    EXPECT_FALSE(ChipTypeFromListText("kr1s").has_value());
}

// Every model row against the simulated bench's chips, which model what the hardware reports:
// the type code, the family, the name a device is known by, and which factory bit the
// identity test reads.
TEST(ChipModels, RowsAgreeWithTheBenchsChips) {
    int matched = 0;
    for (const vqpipex::ModelInfo& chip : vqpipex::Models) {
        SCOPED_TRACE(std::string(chip.Name));
        const std::optional<ChipType> type = ChipTypeFromListText(chip.Name);
        ASSERT_TRUE(type.has_value());
        const ChipModel& m = ChipModelOf(*type);
        ++matched;
        EXPECT_EQ(static_cast<std::uint32_t>(m.DeviceTypeCode), chip.TypeCode);
        EXPECT_EQ(FamilyOfTypeCode(chip.TypeCode), m.Family);
        EXPECT_EQ(static_cast<int>(chip.ChipFamily) + 1, static_cast<int>(m.Family));
        EXPECT_EQ(chip.Fifo, m.Selectors.Kr4FifoSelected);
        // Known by its family's name until the factory words are read; they name the model
        // only where the family has an identity test.
        const std::string family = "KR" + std::to_string(static_cast<int>(m.Family));
        EXPECT_EQ(ReportedModelName(chip.TypeCode, std::nullopt), family);
        EXPECT_EQ(ReportedModelName(chip.TypeCode, chip.Fifo),
                  m.Has(IdentityTest) ? std::string(chip.Name) : family);
        EXPECT_EQ(m.Has(Erasable), m.Has(BlankCheck)) << "an erasable part is one that reads blank";
        EXPECT_EQ(m.Has(TwoChannels), chip.Description.find("Dual") != std::string_view::npos);
    }
    EXPECT_EQ(matched + 1, static_cast<int>(ChipModels.size())) << "one row per model and None";
    EXPECT_EQ(ReportedModelName(99, std::nullopt), "");
    EXPECT_EQ(FamilyOfTypeCode(99), ChipFamily::None);
}

} // namespace
} // namespace burnwise::codec
