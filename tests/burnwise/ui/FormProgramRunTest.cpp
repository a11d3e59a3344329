#include "FormDeviceFixture.h"

namespace burnwise::device::testing {
namespace {

// C0 TXDEN (0), C1 TXLED# (3), C2 RXLED# (2), C3 PWRON# (1), C4 SLEEP# (5 of its own list).
constexpr std::uint16_t DefaultPinWord = 0x1230;
constexpr std::uint16_t DefaultC4Word = 0x0005;

TEST(ProgramRun, PinListsWithNoEntryChosenProgramTheirDefaultSignalAfterReopening) {
    DeviceBench p;
    p.Bench.AddDevice("KR4S");
    p.Template("KR4S", [](ui::TMainForm& f) { EXPECT_EQ(f.List("CBX1").ItemIndex, -1); });
    p.Form.BWProgramExecute();
    ASSERT_EQ(p.Outcomes.size(), 1u);
    EXPECT_EQ(p.Bench.Words(0)[10], DefaultPinWord) << "freshly saved";
    EXPECT_EQ(p.Bench.Words(0)[11], DefaultC4Word);

    // The saved template holds -1 for every pin; opened again it shows and programs the same.
    p.Bench.AddDevice("KR4S");
    p.Bench.SetWords(0, std::vector<std::uint16_t>(64, 0xFFFF));
    p.Outcomes.clear();
    p.Open(p.Folder.Path / "run.ept");
    EXPECT_EQ(p.Form.List("CBX1").Text, "TXDEN");
    EXPECT_EQ(p.Form.List("CBX2").Text, "TXLED#");
    EXPECT_EQ(p.Form.List("CBX3").Text, "RXLED#");
    EXPECT_EQ(p.Form.List("CBX4").Text, "PWRON#");
    EXPECT_EQ(p.Form.List("CBX5").Text, "SLEEP#");
    p.Form.BWProgramExecute();
    ASSERT_EQ(p.Outcomes.size(), 2u);
    for (int device = 0; device < 2; ++device) {
        EXPECT_EQ(p.Bench.Words(device)[10], DefaultPinWord) << "reopened, device " << device;
        EXPECT_EQ(p.Bench.Words(device)[11], DefaultC4Word);
    }
}

} // namespace
} // namespace burnwise::device::testing
