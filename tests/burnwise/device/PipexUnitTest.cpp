#include "DeviceFixture.h"

namespace burnwise::device::testing {
namespace {

// A reporter that keeps everything, for the driver layer on its own.
struct Recorder : Reporter {
    std::vector<std::string> Seen;
    void AppendLine(std::string_view line) override {
        Seen.push_back("line: " + std::string(line));
    }
    void ClearLines() override { Seen.emplace_back("clear"); }
    void ShowError(std::string_view text) override {
        Seen.push_back("error: " + std::string(text));
    }
    void ShowInformation(std::string_view text) override {
        Seen.push_back("info: " + std::string(text));
    }
};

struct Unit {
    InProcessBench Bench;
    TraceDriver Trace{Bench};
    FaultDriver Faults{Trace};
    Recorder Report;
    PipexUnit Pipex{Faults, Report};
};

TEST(PipexUnit, StatusTextsFollowTheLabelDirectly) {
    const std::pair<VQ_STATUS, std::string_view> cases[] = {
        {1, " - Invalid Handle..."},
        {2, " - Device Not Found...."},
        {3, " - Device Not Opened..."},
        {4, " - General IO Error..."},
        {5, " - Insufficient Resources..."},
        {6, " - Invalid Parameter ..."},
        {7, " - Invalid baud rate ..."},
        {8, " Device not opened for erase  ..."},
        {9, " Device not opened for write ..."},
        {10, " - Failed to write ..."},
        {11, " - EEPROM read Failed ..."},
        {12, " - EEPROM write failed ..."},
        {13, " - EEPROM erase failed ..."},
        {14, " - EEPROM not present ..."},
        {15, " - EEPROM not programmed ..."},
        {16, " - invalid Arguments ..."},
        {17, " - other error  ..."},
        {18, " - unknown status 18 ..."},
        {0xFFFFFFFFu, " - unknown status 4294967295 ..."},
    };
    for (const auto& [status, text] : cases) {
        Unit u;
        u.Pipex.PipexReportStatus("VQ_Open", status);
        EXPECT_EQ(u.Report.Seen, std::vector<std::string>{"error: VQ_Open" + std::string(text)});
    }
    Unit quiet;
    quiet.Pipex.PipexReportStatus("VQ_Open", VQ_OK);
    EXPECT_TRUE(quiet.Report.Seen.empty());
}

TEST(PipexUnit, FailedOpenShowsTheDriverBoxThenTheIndexAndLeavesNothingOpen) {
    Unit u;
    for (int i = 0; i < 4; ++i)
        u.Bench.AddDevice("KR2S");
    u.Faults.FailCall(1, VQ_DEVICE_NOT_FOUND);
    EXPECT_FALSE(u.Pipex.OpenDeviceAt(3));
    EXPECT_FALSE(u.Pipex.DeviceIsOpen);
    EXPECT_EQ(u.Pipex.CurrentDeviceIndex, 3);
    EXPECT_EQ(u.Report.Seen, (std::vector<std::string>{"error: VQ_Open - Device Not Found....",
                                                       "error: Could Not Open Device 3"}));
    u.Pipex.CloseCurrentDevice();
    EXPECT_EQ(u.Trace.Count("VQ_Close"), 0) << "nothing open, nothing to close";

    ASSERT_TRUE(u.Pipex.OpenDeviceAt(3));
    u.Pipex.CloseCurrentDevice();
    u.Pipex.CloseCurrentDevice();
    EXPECT_EQ(u.Trace.Count("VQ_Close"), 1);
    EXPECT_EQ(u.Bench.OpenHandles(), 0);
}

TEST(PipexUnit, ReadWholeImageReadsEveryWordAndKeepsAFailedOneZero) {
    Unit u;
    u.Bench.AddDevice("KR2S", "93C46");
    std::vector<std::uint16_t> words(64);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<std::uint16_t>(0x100 + i);
    u.Bench.SetWords(0, words);

    codec::EepromImage image;
    image.fill(0xAAAA);
    EXPECT_FALSE(u.Pipex.ReadWholeImage(image)) << "nothing open";
    EXPECT_EQ(std::count(image.begin(), image.end(), 0), 128);
    EXPECT_EQ(u.Trace.Count("VQ_ReadEE"), 0);

    ASSERT_TRUE(u.Pipex.OpenDeviceAt(0));
    EXPECT_TRUE(u.Pipex.ReadWholeImage(image));
    EXPECT_EQ(image[127], 0x100 + 63) << "a 64-word part repeats itself in the upper half";

    u.Bench.AddFault(0, {FaultKind::Read, 5, VQ_EEPROM_READ_FAILED});
    EXPECT_FALSE(u.Pipex.ReadWholeImage(image));
    EXPECT_EQ(image[4], 0x104);
    EXPECT_EQ(image[5], 0);
    EXPECT_EQ(image[6], 0x106) << "the words after a failed one are still read";
    EXPECT_EQ(image[127], 0x100 + 63);
    EXPECT_EQ(u.Trace.Count("VQ_ReadEE"), 256);
    u.Pipex.CloseCurrentDevice();
}

TEST(PipexUnit, DetectEepromTypeFindsTheMarkerWhereThePartWrapsIt) {
    const std::pair<std::string_view, std::string_view> parts[] = {
        {"93C46", "93C46"}, {"93C56", "93C56"}, {"93C66", "93C66"}, {"none", "Unknown"}};
    for (const auto& [part, name] : parts) {
        SCOPED_TRACE(part);
        Unit u;
        u.Bench.AddDevice("KR2S", part);
        ASSERT_TRUE(u.Pipex.OpenDeviceAt(0));
        std::string detected = "stale";
        u.Pipex.DetectEepromType(detected);
        EXPECT_EQ(detected, name);
        u.Pipex.CloseCurrentDevice();
        if (part == "none") {
            // The first read fails with its line and ends the detection.
            EXPECT_EQ(u.Report.Seen, std::vector<std::string>{"line: ERROR - Read failed"});
        } else {
            EXPECT_TRUE(u.Report.Seen.empty());
        }
    }
}

TEST(PipexUnit, ASizeProbeThatFailsLeavesThePartAsItFound) {
    // Every call of the probe fails in turn, on every size, over an image whose words 0 and
    // 64 already hold the first markers the probe could pick.
    for (const std::string_view part : {"93C46", "93C56", "93C66"}) {
        for (const bool markersHeld : {false, true}) {
            SCOPED_TRACE(::testing::Message() << part << (markersHeld ? " markers held" : ""));
            std::vector<std::uint16_t> image(256);
            for (std::size_t i = 0; i < image.size(); ++i)
                image[i] = static_cast<std::uint16_t>(0x1000 + i);
            if (markersHeld) image[0] = 0x00C0, image[64] = 0x0C00;
            int probeCalls = 0;
            for (int failing = 0; failing == 0 || failing <= probeCalls; ++failing) {
                SCOPED_TRACE(failing);
                Unit u;
                u.Bench.AddDevice("KR2S", part);
                u.Bench.SetWords(0, image);
                const std::vector<std::uint16_t> before = u.Bench.Words(0);
                ASSERT_TRUE(u.Pipex.OpenDeviceAt(0));
                const int start = u.Faults.Calls();
                if (failing > 0) u.Faults.FailCall(start + failing, VQ_EEPROM_WRITE_FAILED);
                std::string detected;
                const ProbeLeft left = u.Pipex.DetectEepromType(detected);
                if (failing == 0) probeCalls = u.Faults.Calls() - start;
                u.Pipex.CloseCurrentDevice();
                EXPECT_EQ(u.Trace.Count("VQ_EraseEE"), 0);
                if (detected == "Unknown") {
                    EXPECT_GT(failing, 0);
                    EXPECT_EQ(left, ProbeLeft::AsFound) << "one failed call can be mended";
                    EXPECT_EQ(u.Bench.Words(0), before);
                } else {
                    EXPECT_EQ(detected, part);
                    EXPECT_EQ(left, ProbeLeft::Marker);
                }
            }
        }
    }
}

TEST(PipexUnit, ASizeProbeThatCannotPutBackItsWordSaysSo) {
    // Reads 0, 64 and 192, the marker at 192; then nothing can be read any more.
    Unit u;
    u.Bench.AddDevice("KR2S", "93C66");
    ASSERT_TRUE(u.Pipex.OpenDeviceAt(0));
    const int start = u.Faults.Calls();
    for (int call = 5; call <= 8; ++call)
        if (call != 7) u.Faults.FailCall(start + call);
    std::string detected;
    EXPECT_EQ(u.Pipex.DetectEepromType(detected), ProbeLeft::InDoubt);
    EXPECT_EQ(detected, "Unknown");
    u.Pipex.CloseCurrentDevice();
}

TEST(PipexUnit, AFailedProbeReadNeverCountsAsTheMarker) {
    Unit u;
    u.Bench.AddDevice("KR2S", "93C46");
    ASSERT_TRUE(u.Pipex.OpenDeviceAt(0));
    // The read slot still holds the marker from an earlier read when every probe read fails.
    u.Pipex.LastReadWord = 0x00C0;
    for (const std::uint32_t word : {0u, 64u, 192u})
        u.Bench.AddFault(0, {FaultKind::Read, word, VQ_EEPROM_READ_FAILED});
    std::string detected;
    u.Pipex.DetectEepromType(detected);
    EXPECT_EQ(detected, "Unknown");
    EXPECT_EQ(u.Report.Seen, std::vector<std::string>(1, "line: ERROR - Read failed"));
    u.Pipex.CloseCurrentDevice();
}

TEST(PipexUnit, AFailedProbeReadNeverMovesTheProbeOn) {
    // A 128-word part whose word 64 cannot be read must not be taken for a 256-word one.
    Unit u;
    u.Bench.AddDevice("KR3D", "93C56");
    ASSERT_TRUE(u.Pipex.OpenDeviceAt(0));
    u.Bench.AddFault(0, {FaultKind::Read, 64u, VQ_EEPROM_READ_FAILED, 2});
    std::string detected;
    u.Pipex.DetectEepromType(detected);
    EXPECT_EQ(detected, "Unknown");
    u.Pipex.CloseCurrentDevice();
}

TEST(PipexUnit, WriteWholeImageWritesWhatThePartTakes) {
    const std::pair<std::string_view, int> cases[] = {
        {"93C46", 64}, {"93C56", 128}, {"93C66", 128}, {"Unknown", 0}, {"", 0}};
    for (const auto& [name, words] : cases) {
        Unit u;
        u.Bench.AddDevice("KR2S", "93C66");
        ASSERT_TRUE(u.Pipex.OpenDeviceAt(0));
        codec::EepromImage image{};
        for (std::size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<std::uint16_t>(i * 3);
        u.Pipex.WriteWholeImage(image, name);
        EXPECT_EQ(u.Trace.Count("VQ_WriteEE"), words) << name;
        const auto held = u.Bench.Words(0);
        for (int i = 0; i < 128; ++i)
            EXPECT_EQ(held[static_cast<std::size_t>(i)], i < words ? i * 3 : 0xFFFF)
                << name << " word " << i;
        u.Pipex.CloseCurrentDevice();
    }
}

} // namespace
} // namespace burnwise::device::testing
