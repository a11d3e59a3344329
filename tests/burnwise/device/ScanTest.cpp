#include "DeviceFixture.h"
#include "burnwise/codec/ImageEncoder.h"

namespace burnwise::device::testing {
namespace {

// Puts a valid image of `model`'s family into the bench's part, as a run would leave it.
void Preprogram(InProcessBench& bench, int index, codec::ChipType type,
                std::string_view eeprom = "93C46") {
    codec::CodecState st;
    codec::SetText(st.Settings.Manufacturer, "Maker");
    codec::SetText(st.Settings.ProductDescription, "Thing");
    codec::SetText(st.Settings.SerialNumber, "PRE00001");
    const codec::ChipModel& model = codec::ChipModelOf(type);
    st.Settings.Kr2Present = model.Family == codec::ChipFamily::KR2;
    st.Settings.Kr3Present = model.Family == codec::ChipFamily::KR3;
    st.Settings.Kr4Present = model.Family == codec::ChipFamily::KR4;
    codec::EncodeImage(st.Settings, model.Selectors, eeprom, codec::FixedUtcClock({}),
                       st.WriteImage);
    const std::size_t words =
        model.Family == codec::ChipFamily::KR4 || eeprom == "93C46" ? 64 : 128;
    bench.SetWords(index, std::span(st.WriteImage).first(words));
}

std::vector<int> Selected(const ScanResults& scan) {
    return {scan.SelectedDevices.begin(), scan.SelectedDevices.begin() + scan.SelectedCount};
}

std::vector<int> Opened(const ScanResults& scan) {
    return {scan.OpenedDevices.begin(), scan.OpenedDevices.begin() + scan.OpenedCount};
}

TEST(Scan, ExaminesNoDriverIndexFromSixteenOn) {
    DeviceBench p;
    for (int i = 0; i < 20; ++i)
        p.Bench.AddDevice("KR2S");
    p.Scan();
    EXPECT_EQ(p.Lines(), (std::vector<std::string>{"Number Of Blank Devices = 16",
                                                   "Number Of Programmed Devices = 0",
                                                   "only the first 16 devices are examined"}));
    EXPECT_EQ(p.Trace.Count("VQ_Open"), 16);
    EXPECT_EQ(p.Trace.Count("VQ_Close"), 16);
    EXPECT_EQ(p.Bench.OpenHandles(), 0);
    EXPECT_EQ(p.ProgressSeen.front(), std::make_pair(1, 16));
    EXPECT_EQ(p.ProgressSeen.back(), std::make_pair(0, 0));
}

TEST(Scan, NoDevicesOrAFailedCountFindsNothing) {
    DeviceBench empty;
    empty.Scan();
    EXPECT_EQ(empty.Lines(), (std::vector<std::string>{"Number Of Blank Devices = 0",
                                                       "Number Of Programmed Devices = 0"}));
    EXPECT_TRUE(empty.Boxes().empty());

    DeviceBench failing;
    failing.Bench.AddDevice("KR2S");
    failing.Faults.FailCall(1, VQ_IO_ERROR);
    failing.Scan();
    EXPECT_EQ(failing.Boxes(),
              std::vector<std::string>{"error: GetVQDeviceCount - General IO Error..."});
    EXPECT_EQ(failing.Trace.Count("VQ_Open"), 0);
}

TEST(Scan, SurveyCountsBlankAndProgrammedAndSelectsAfterOnlyBlankDevices) {
    for (const bool onlyBlank : {false, true}) {
        SCOPED_TRACE(onlyBlank);
        DeviceBench p;
        for (int i = 0; i < 4; ++i)
            p.Bench.AddDevice("KR1S");
        Preprogram(p.Bench, 1, codec::ChipType::KR1S);
        Preprogram(p.Bench, 3, codec::ChipType::KR1S);
        p.Flags.OnlyBlankDevices = onlyBlank;
        EXPECT_EQ(p.Engine().SurveyScan(), onlyBlank ? 2 : 4);
        EXPECT_EQ(p.Engine().Scan.BlankCount, 2);
        EXPECT_EQ(p.Engine().Scan.ProgrammedCount, 2);
        EXPECT_EQ(Selected(p.Engine().Scan),
                  (onlyBlank ? std::vector<int>{0, 2} : std::vector<int>{0, 1, 2, 3}));
    }
}

TEST(Scan, UnreadableDeviceCountsAsProgrammed) {
    DeviceBench p;
    p.Bench.AddDevice("KR2S");
    p.Bench.AddDevice("KR2S", "none");
    p.Flags.OnlyBlankDevices = true;
    EXPECT_EQ(p.Engine().SurveyScan(), 1);
    EXPECT_EQ(p.Engine().Scan.BlankCount, 1);
    EXPECT_EQ(p.Engine().Scan.ProgrammedCount, 1);
}

TEST(Scan, TheSecondChannelOfAKr3ChipIsNeverCountedOrSelected) {
    for (const bool onlyBlank : {false, true}) {
        SCOPED_TRACE(onlyBlank);
        DeviceBench p;
        p.Bench.AddDevice("KR2S");
        p.Bench.AddDevice("KR3D", "93C56"); // driver indexes 1 (A) and 2 (B)
        p.Template("KR3D");
        p.Flags.OnlyBlankDevices = onlyBlank;
        for (const auto scan :
             {&DeviceEngine::SurveyScan, &DeviceEngine::EraseScan, &DeviceEngine::ProgramScan}) {
            p.Engine().Scan.SelectedCount = 99;
            const int selected = (p.Engine().*scan)();
            const ScanResults& r = p.Engine().Scan;
            EXPECT_EQ(Opened(r), (std::vector<int>{0, 1, 2}));
            if (scan == &DeviceEngine::ProgramScan) {
                EXPECT_EQ(Selected(r), std::vector<int>{1}) << "the KR2 chip is no KR3";
                EXPECT_EQ(selected, 1);
            } else {
                // Survey and erase take every channel A, the single-channel chip included.
                EXPECT_EQ(Selected(r), (std::vector<int>{0, 1}));
            }
            EXPECT_EQ(std::find(r.CountedDevices.begin(),
                                r.CountedDevices.begin() + r.BlankCount + r.ProgrammedCount, 2),
                      r.CountedDevices.begin() + r.BlankCount + r.ProgrammedCount);
        }
    }
}

TEST(Scan, ChannelBIsTheLastNonZeroCharacterBAfterABlank) {
    const std::pair<std::string_view, bool> cases[] = {
        {"Dual Serial B", true},
        {"Dual Serial A", false},
        {"B", true},
        {"AB", false},
        {"Serial", false},
        {"", false},
        {" B", true},
        {"B ", false},
    };
    for (const auto& [text, isB] : cases) {
        std::array<char, 64> description{};
        std::copy(text.begin(), text.end(), description.begin());
        EXPECT_EQ(DeviceEngine::IsChannelB(description), isB) << '"' << text << '"';
    }
    // Zero bytes before the end do not end the description; only the first 64 count.
    std::array<char, 70> gaps{};
    gaps[0] = 'X';
    gaps[10] = ' ';
    gaps[11] = 'B';
    EXPECT_TRUE(DeviceEngine::IsChannelB(gaps));
    gaps[65] = 'Q';
    EXPECT_TRUE(DeviceEngine::IsChannelB(gaps));
}

TEST(Scan, Kr4IdentityTestDecidesWhatEraseAndProgramTake) {
    struct Case {
        std::string_view name;
        std::uint16_t w64, w65, w66;
        std::string_view model;
        bool taken;
    } const cases[] = {
        {"serial chip for KR4S", 0x1234, 0xEDCB, 0x0000, "KR4S", true},
        {"erased model word counts as serial", 0x1234, 0xEDCB, 0xFFFF, "KR4S", true},
        {"erased model word is no FIFO chip", 0x1234, 0xEDCB, 0xFFFF, "KR4F", false},
        {"FIFO chip for KR4F", 0x1234, 0xEDCB, 0x0001, "KR4F", true},
        {"FIFO chip is no KR4S", 0x1234, 0xEDCB, 0x0001, "KR4S", false},
        {"factory words not complements", 0x1234, 0x1234, 0x0000, "KR4S", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceBench p;
        p.Bench.AddDevice("KR4S");
        std::vector<std::uint16_t> words = p.Bench.Words(0);
        words[64] = c.w64;
        words[65] = c.w65;
        words[66] = c.w66;
        p.Bench.SetWords(0, words);
        p.Template(c.model);
        p.Flags.OnlyBlankDevices = false;
        EXPECT_EQ(p.Engine().ProgramScan(), c.taken ? 1 : 0);
        EXPECT_EQ(p.Engine().EraseScan(), c.taken ? 1 : 0);
        p.Template(c.model);
        p.Flags.OnlyBlankDevices = false;
        EXPECT_EQ(p.Engine().SurveyScan(), 1) << "the survey takes every device";
    }
}

TEST(Scan, AFailedFactoryWordReadFailsTheKr4IdentityTest) {
    DeviceBench p;
    p.Bench.AddDevice("KR4S");
    p.Template("KR4S");
    p.Flags.OnlyBlankDevices = false;
    EXPECT_EQ(p.Engine().ProgramScan(), 1);
    p.Bench.AddFault(0, {FaultKind::Read, 65, VQ_EEPROM_READ_FAILED});
    EXPECT_EQ(p.Engine().ProgramScan(), 0);
}

TEST(Scan, KR4ChipsAreNeverTakenForProgrammingOnlyBlankDevices) {
    DeviceBench p;
    p.Bench.AddDevice("KR4S");
    p.Template("KR4S");
    p.Flags.OnlyBlankDevices = true;
    EXPECT_EQ(p.Engine().ProgramScan(), 0);
}

TEST(Scan, AFailedDeviceInformationCallSelectsNothing) {
    DeviceBench p;
    p.Bench.AddDevice("KR2S");
    p.Bench.AddDevice("KR2S");
    p.Template("KR2S");
    p.Flags.OnlyBlankDevices = false;
    p.Bench.AddFault(1, {FaultKind::Info, std::nullopt, VQ_IO_ERROR});
    EXPECT_EQ(p.Engine().ProgramScan(), 1);
    EXPECT_EQ(Selected(p.Engine().Scan), std::vector<int>{0});
    EXPECT_EQ(p.Boxes(),
              std::vector<std::string>{"error: VQ_GetDeviceInfo  - General IO Error..."});
}

TEST(Scan, ProgramScanKeepsTheChosenFamilyWhileTheSurveyTakesTheDevices) {
    DeviceBench p;
    p.Bench.AddDevice("KR3D");
    p.Flags.OnlyBlankDevices = false;
    // No family chosen: the device's own type code decides its verdict, and the selectors
    // are left as they were for the next device.
    Preprogram(p.Bench, 0, codec::ChipType::KR3D);
    p.State.Selectors.Clear();
    p.Engine().SurveyScan();
    EXPECT_EQ(p.State.Selectors, codec::FamilySelectors{});
    EXPECT_EQ(p.Engine().Scan.ProgrammedCount, 1) << "channel B is not a device of its own";
    EXPECT_EQ(p.Engine().Scan.BlankCount, 0);

    p.Template("KR1S");
    p.Engine().ProgramScan();
    EXPECT_EQ(p.State.Selectors, codec::FamilySelectors{});
}

} // namespace
} // namespace burnwise::device::testing
