#include "DeviceFixture.h"

namespace burnwise::device::testing {
namespace {

void ProgramAll(DeviceBench& p, std::string_view model, std::string_view serial) {
    p.Template(model, [serial](app::Template& t) {
        t.UseFixedSerial = true;
        t.FixedSerial = std::string(serial);
        t.OnlyBlankDevices = false;
    });
    p.Program();
    ASSERT_TRUE(p.Boxes().empty()) << ::testing::PrintToString(p.Boxes());
    p.ClearBoxes();
}

TEST(Operations, EraseTakesOnlyBlankOnesWhenAskedAndOpensNothingTwice) {
    for (const bool onlyBlank : {false, true}) {
        SCOPED_TRACE(onlyBlank);
        DeviceBench p;
        p.Bench.AddDevice("KR2S");
        p.Bench.AddDevice("KR2S");
        ProgramAll(p, "KR2S", "ER000001");
        p.Bench.AddDevice("KR2S");
        p.Flags.OnlyBlankDevices = onlyBlank;
        p.Trace.Calls.clear();
        p.Erase();
        if (onlyBlank) {
            // Named by its driver index, as its outcome and every other line name it.
            EXPECT_EQ(p.Lines(), std::vector<std::string>{"Erase successful Device 2"});
            EXPECT_NE(p.Bench.Words(0), std::vector<std::uint16_t>(64, 0xFFFF)) << "kept";
            EXPECT_EQ(p.Trace.Count("VQ_Open"), 3) << "the device erased stays open from its scan";
        } else {
            EXPECT_EQ(p.Lines(), (std::vector<std::string>{"Erase successful Device 0",
                                                           "Erase successful Device 1",
                                                           "Erase successful Device 2"}));
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(p.Bench.Words(i), std::vector<std::uint16_t>(64, 0xFFFF));
        }
        EXPECT_EQ(p.Bench.OpenHandles(), 0);
    }
}

TEST(Operations, EraseReportsAFailedDeviceAndGoesOn) {
    DeviceBench p;
    p.Bench.AddDevice("KR2S");
    p.Bench.AddDevice("KR2S");
    p.Flags.OnlyBlankDevices = false;
    p.Bench.AddFault(0, {FaultKind::Erase, std::nullopt, VQ_EEPROM_ERASE_FAILED});
    p.Erase();
    EXPECT_EQ(p.Lines(), (std::vector<std::string>{"ERROR - Erase failed Device 0",
                                                   "Erase successful Device 1"}));
}

TEST(Operations, ReadDumpsEveryDeviceAndSkipsOnlyTheDumpOfAFailedOne) {
    DeviceBench p;
    p.Bench.AddDevice("KR2S");
    p.Bench.AddDevice("KR2S");
    p.Bench.AddDevice("KR2S");
    ProgramAll(p, "KR2S", "RD000001");
    p.Bench.AddFault(1, {FaultKind::Read, 9, VQ_EEPROM_READ_FAILED});
    p.Read();
    const auto& lines = p.Lines();
    ASSERT_EQ(lines.size(), 1u + 8u + 1u + 1u + 8u);
    EXPECT_EQ(lines[0], "Read EEPROM successful Device 0");
    EXPECT_TRUE(lines[1].starts_with("0000 : ")) << lines[1];
    EXPECT_EQ(lines[9], "ERROR - Read EEPROM failed Device 1");
    EXPECT_EQ(lines[10], "Read EEPROM successful Device 2");
    EXPECT_EQ(p.Bench.OpenHandles(), 0);
}

TEST(Operations, ReadWithKr3SelectedVisitsExactlyTheCountedChannels) {
    DeviceBench p;
    p.Bench.AddDevice("KR3D", "93C56"); // 0 = A, 1 = B
    p.Bench.AddDevice("KR3D", "93C56"); // 2 = A, 3 = B
    p.Template("KR3D");
    p.Trace.Calls.clear();
    p.Read();
    const auto& lines = p.Lines();
    ASSERT_EQ(lines.size(), 2u * (1u + 16u)) << "KR3 dumps are 16 lines";
    EXPECT_EQ(lines[0], "Read EEPROM successful Device 0");
    EXPECT_EQ(lines[17], "Read EEPROM successful Device 2");
    // Four opens for the scan, then channels A at driver indexes 0 and 2.
    std::vector<std::string> opens;
    EXPECT_EQ(p.Trace.Count("VQ_Open"), 4 + 2);
    EXPECT_EQ(p.Engine().Scan.CountedDevices[1], 2);
}

TEST(Operations, CycleGoesOnAfterAnOpenFailure) {
    // Each device is opened once, by the scan, and held until it is cycled: the open that
    // can fail is the scan's.
    DeviceBench clean;
    for (int i = 0; i < 2; ++i)
        clean.Bench.AddDevice("KR2S");
    clean.Template("KR2S");
    clean.Flags.OnlyBlankDevices = false;
    clean.Trace.Calls.clear();
    clean.Cycle();
    const auto& calls = clean.Trace.Calls;
    EXPECT_EQ(clean.Trace.Count("VQ_Open"), 2);
    const int call =
        static_cast<int>(std::find(calls.begin(), calls.end(), "VQ_Open") - calls.begin()) + 1;

    DeviceBench p;
    for (int i = 0; i < 2; ++i)
        p.Bench.AddDevice("KR2S");
    p.Template("KR2S");
    p.Flags.OnlyBlankDevices = false;
    p.Faults.FailCall(p.Faults.Calls() + call, VQ_DEVICE_NOT_OPENED);
    p.Cycle();
    EXPECT_EQ(p.Lines(),
              (std::vector<std::string>{
                  "ERROR - Device 0 could not be examined: VQ_Open - Device Not Opened...",
                  "CyclePort successful Device 1"}));
    EXPECT_EQ(p.Boxes(), (std::vector<std::string>{"error: VQ_Open - Device Not Opened..."}));
}

} // namespace
} // namespace burnwise::device::testing
