#include "DeviceFixture.h"
#include "burnwise/codec/EepromGeometry.h"

#include <fstream>

namespace burnwise::device::testing {
namespace {

void FixedSerial(app::Template& t, std::string_view serial) {
    t.UseFixedSerial = true;
    t.FixedSerial = std::string(serial);
}

// Every device a run reported programmed holds a valid image with that serial number.
void ExpectProgrammedDevicesHoldTheirImage(DeviceBench& p, const codec::ChipModel& model) {
    for (const DeviceOutcome& o : p.Outcomes) {
        if (!o.Passed) continue;
        codec::CodecState st;
        EXPECT_EQ(p.DecodeBench(o.DriverIndex, model, st), codec::Programmed)
            << "device " << o.Position;
        EXPECT_EQ(codec::TextOf(st.Settings.SerialNumber), o.SerialNumber);
    }
}

TEST(ProgramRun, FixedSerialsAdvanceTheLastCharacterOnly) {
    DeviceBench p;
    for (int i = 0; i < 10; ++i)
        p.Bench.AddDevice("KR2S");
    p.Template("KR2S", [](app::Template& t) { FixedSerial(t, "00000001"); });
    p.Program();
    const auto lines = p.LinesStartingWith("Programmed Serial Number : ");
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "Programmed Serial Number : 00000001");
    EXPECT_EQ(lines[1], "Programmed Serial Number : 00000002");
    EXPECT_EQ(lines[2], "Programmed Serial Number : 00000003");
    EXPECT_EQ(lines[9], "Programmed Serial Number : 0000000:") << "no carry past the 9";
    // Each pass starts by clearing the list, so only the last line stays.
    EXPECT_EQ(p.Lines(), std::vector<std::string>{lines[9]});
    EXPECT_TRUE(p.Boxes().empty());
    EXPECT_EQ(p.Bench.OpenHandles(), 0);
    ExpectProgrammedDevicesHoldTheirImage(p, codec::ChipModelOf(codec::ChipType::KR2S));
    EXPECT_EQ(p.ProgressSeen.back(), std::make_pair(0, 0));
}

TEST(ProgramRun, EveryFamilyAndPartProgramsAndReadsBackWhatWasWritten) {
    struct Case {
        std::string_view model, eeprom;
        std::size_t words;
    } const cases[] = {
        {"KR1S", "93C46", 64}, {"KR1S", "93C56", 128}, {"KR1S", "93C66", 128},
        {"KR2S", "93C46", 64}, {"KR2S", "93C56", 128}, {"KR2F", "93C66", 128},
        {"KR3D", "93C46", 64}, {"KR3D", "93C56", 128}, {"KR3E", "93C66", 128},
        {"KR4S", "93C46", 64}, {"KR4F", "93C46", 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " on " + std::string(c.eeprom));
        DeviceBench p;
        p.Bench.AddDevice(c.model, c.eeprom);
        p.Template(c.model, [](app::Template& t) {
            FixedSerial(t, "AB000001");
            t.OnlyBlankDevices = false;
        });
        p.Program();
        EXPECT_TRUE(p.Boxes().empty()) << ::testing::PrintToString(p.Boxes());
        EXPECT_EQ(p.LinesStartingWith("Programmed Serial Number : "),
                  std::vector<std::string>{"Programmed Serial Number : AB000001"});
        const auto held = p.Bench.Words(0);
        for (std::size_t w = 0; w < c.words; ++w)
            ASSERT_EQ(held[w], p.State.WriteImage[w]) << "word " << w;
        EXPECT_EQ(p.State.EepromTypeName, c.model.starts_with("KR4") ? "93C46" : c.eeprom);
        if (c.model.starts_with("KR4")) {
            EXPECT_EQ(p.Trace.Count("VQ_SetLatencyTimer"), 1);
            EXPECT_EQ(p.Trace.Count("VQ_EraseEE"), 0) << "the chip's own EEPROM is not erased";
        }
        EXPECT_EQ(p.Bench.OpenHandles(), 0);
    }
}

TEST(ProgramRun, OnlyBlankDevicesLeavesProgrammedOnesAlone) {
    for (const bool onlyBlank : {true, false}) {
        SCOPED_TRACE(onlyBlank);
        DeviceBench p;
        p.Bench.AddDevice("KR2S");
        p.Bench.AddDevice("KR2S");
        p.Template("KR2S", [](app::Template& t) { FixedSerial(t, "FIRST001"); });
        p.Program();
        ASSERT_EQ(p.Outcomes.size(), 2u);

        p.Outcomes.clear();
        p.Bench.AddDevice("KR2S");
        p.Template("KR2S", [onlyBlank](app::Template& t) {
            FixedSerial(t, "AGAIN001");
            t.OnlyBlankDevices = onlyBlank;
        });
        p.Program();
        std::vector<int> programmed;
        for (const DeviceOutcome& o : p.Outcomes)
            programmed.push_back(o.DriverIndex);
        EXPECT_EQ(programmed, (onlyBlank ? std::vector<int>{2} : std::vector<int>{0, 1, 2}));
    }
}

TEST(ProgramRun, GeneratedSerialsWithinOneSecondWaitForTheClockBeforeTheDevice) {
    DeviceBench p;
    for (int i = 0; i < 3; ++i)
        p.Bench.AddDevice("KR2S");
    p.Template("KR2S");
    p.Program();
    const auto lines = p.LinesStartingWith("Programmed Serial Number : VQ");
    ASSERT_EQ(lines.size(), 3u) << ::testing::PrintToString(p.Log);
    EXPECT_NE(lines[0], lines[1]);
    EXPECT_NE(lines[1], lines[2]);
    // The clock stands still while a device is programmed: each device waits for the next
    // second before it is written, so none is written twice.
    EXPECT_EQ(p.Trace.Count("VQ_WriteEE"), 3 * (64 + 1));
    EXPECT_TRUE(p.Boxes().empty());
    ExpectProgrammedDevicesHoldTheirImage(p, codec::ChipModelOf(codec::ChipType::KR2S));
}

TEST(ProgramRun, AClockThatStandsStillEndsTheRunBeforeTheNextDevice) {
    DeviceBench p;
    p.Bench.AddDevice("KR2S");
    p.Bench.AddDevice("KR2S");
    p.Clock.Frozen = true;
    p.Template("KR2S");
    p.Program();
    EXPECT_EQ(p.LinesStartingWith("Programmed Serial Number : ").size(), 1u);
    EXPECT_EQ(p.Boxes(), std::vector<std::string>{
                             "error: The clock has not passed the last serial number issued on "
                             "this machine - nothing written to device 1"});
    EXPECT_EQ(p.Trace.Count("VQ_WriteEE"), 64 + 1) << "device 0 only";
    ASSERT_EQ(p.Outcomes.size(), 2u);
    EXPECT_FALSE(p.Outcomes[1].Passed);
    EXPECT_EQ(p.Bench.OpenHandles(), 0);
}

TEST(ProgramRun, SerialNumberDisabledMakesEveryDeviceNew) {
    DeviceBench p;
    p.Bench.AddDevice("KR2S");
    p.Bench.AddDevice("KR2S");
    // Both devices are given one number: with the serial number switched off, the second
    // still counts as new.
    p.Template("KR2S", [](app::Template& t) {
        t.DisableSerialNumber = true;
        t.UseFixedSerial = true;
        t.FixedSerial = "SAME0001";
    });
    p.Program([](int, std::string&) { return std::optional<std::string>("SAME0001"); });
    EXPECT_EQ(p.LinesStartingWith("Programmed Serial Number : "),
              std::vector<std::string>(2, "Programmed Serial Number : Disabled"));
    EXPECT_TRUE(p.Boxes().empty());
}

TEST(ProgramRun, NoDeviceGivesOneBox) {
    DeviceBench p;
    p.Template("KR2S");
    p.Program();
    EXPECT_EQ(p.Boxes(), std::vector<std::string>{"error: No Devices Found"});
}

TEST(ProgramRun, AnOpenFailureFailsThatDeviceAndWritesNothingToIt) {
    // Each device is opened once, by the scan, and held until it is written: the open that
    // can fail is the scan's.
    DeviceBench clean;
    clean.Bench.AddDevice("KR2S");
    clean.Bench.AddDevice("KR2S");
    clean.Template("KR2S");
    clean.Program();
    const auto& calls = clean.Trace.Calls;
    EXPECT_EQ(clean.Trace.Count("VQ_Open"), 2);
    const int call =
        static_cast<int>(std::find(calls.begin(), calls.end(), "VQ_Open") - calls.begin()) + 1;

    DeviceBench p;
    p.Bench.AddDevice("KR2S");
    p.Bench.AddDevice("KR2S");
    p.Template("KR2S");
    p.Faults.FailCall(call, VQ_DEVICE_NOT_FOUND);
    p.Program();
    EXPECT_EQ(p.Boxes(), (std::vector<std::string>{"error: VQ_Open - Device Not Found...."}));
    ASSERT_EQ(p.Outcomes.size(), 2u);
    EXPECT_FALSE(p.Outcomes[0].Passed);
    EXPECT_EQ(p.Outcomes[0].DriverIndex, 0);
    EXPECT_TRUE(p.Outcomes[1].Passed) << p.Outcomes[1].Reason;
    EXPECT_EQ(p.Bench.Words(0), std::vector<std::uint16_t>(64, 0xFFFF)) << "nothing written";
    EXPECT_EQ(p.Bench.OpenHandles(), 0);
}

TEST(ProgramRun, ADeviceTheScanCannotReadWholeIsNeverWritten) {
    DeviceBench p;
    for (int i = 0; i < 3; ++i)
        p.Bench.AddDevice("KR2S");
    p.Template("KR2S", [](app::Template& t) {
        FixedSerial(t, "RB000001");
        t.OnlyBlankDevices = false; // every device, so the scan's read may fail
    });
    p.Bench.AddFault(1, {FaultKind::Read, 5, VQ_EEPROM_READ_FAILED});
    p.Program();
    EXPECT_EQ(p.Log.front(), "ERROR - Device 1 could not be examined: VQ_ReadEE - EEPROM read "
                             "Failed ...");
    EXPECT_EQ(p.LinesStartingWith("Programmed Serial Number : "),
              (std::vector<std::string>{"Programmed Serial Number : RB000001",
                                        "Programmed Serial Number : RB000002"}));
    EXPECT_EQ(p.Bench.Words(1), std::vector<std::uint16_t>(64, 0xFFFF)) << "never written";
    EXPECT_NE(p.Engine().LastEnd, RunEnd::Completed);
    ASSERT_EQ(p.Outcomes.size(), 3u);
    EXPECT_FALSE(p.Outcomes[0].Passed);
    EXPECT_EQ(p.Outcomes[0].DriverIndex, 1);
    EXPECT_EQ(p.Bench.OpenHandles(), 0);
    EXPECT_FALSE(p.Engine().Unit.DeviceIsOpen);
}

TEST(ProgramRun, APartThatKeepsItsOldImageIsNeverReportedProgrammed) {
    struct Case {
        std::string_view model;
        std::string_view box;
        bool verifyLine;
    } const cases[] = {
        // The internal EEPROM takes no size probe: the read-back still holds the old image.
        {"KR4S", "error: Error reading device", true},
        // The ignored probe marker already gives it away.
        {"KR2S",
         "error: EEPROM size not detected - nothing written to device 0 - it holds what it held "
         "before",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        DeviceBench p;
        p.Bench.AddDevice(c.model);
        p.Template(c.model, [](app::Template& t) {
            FixedSerial(t, "OLD00001");
            t.OnlyBlankDevices = false;
        });
        p.Program();
        ASSERT_EQ(p.Outcomes.size(), 1u);
        ASSERT_TRUE(p.Outcomes[0].Passed);

        // The part holds a valid image now, and from here on keeps its words.
        p.Outcomes.clear();
        p.ClearBoxes();
        p.Bench.AddFault(0, {FaultKind::IgnoreWrites, std::nullopt, VQ_OK});
        p.Template(c.model, [](app::Template& t) {
            FixedSerial(t, "NEW00001");
            t.OnlyBlankDevices = false;
        });
        p.Program();
        EXPECT_TRUE(p.LinesStartingWith("Programmed Serial Number : ").empty());
        EXPECT_EQ(p.Boxes(), std::vector<std::string>{std::string(c.box)});
        EXPECT_EQ(p.LinesStartingWith("ERROR - Verify failed Device 0 at word ").size(),
                  c.verifyLine ? 1u : 0u)
            << ::testing::PrintToString(p.Log);
        ASSERT_EQ(p.Outcomes.size(), 1u);
        EXPECT_FALSE(p.Outcomes[0].Passed);
    }
}

TEST(ProgramRun, StringsThatDoNotFitAreNeverWritten) {
    DeviceBench p;
    p.Bench.AddDevice("KR4S");
    p.Template("KR4S");
    // No prefix: the generated serial is a zero character and the six digits of the clock.
    p.Shown.SerialPrefix.clear();
    p.Shown.Manufacturer = std::string(20, 'M');
    p.Shown.Product = std::string(20, 'P');
    TemplateSettings settings(p);
    EXPECT_TRUE(settings.CheckStringTotal()) << "20 + 0 + 20 + 8 passes the length rule...";
    const auto before = p.Bench.Words(0);
    // The window's Program refuses a template without a prefix before anything is opened;
    // the engine must never write such strings either.
    p.Engine().ProgramRun(settings);
    // ...but the KR4 layout's strings then end at word 12 + 4 + 20 + 20 + 7 = 63, the
    // checksum word.
    EXPECT_EQ(p.Boxes(), std::vector<std::string>{
                             "error: The strings do not fit the EEPROM - nothing written to "
                             "device 0"});
    EXPECT_EQ(p.Bench.Words(0), before);
    EXPECT_EQ(p.Trace.Count("VQ_WriteEE") + p.Trace.Count("VQ_EraseEE") +
                  p.Trace.Count("VQ_SetLatencyTimer"),
              0);
    ASSERT_EQ(p.Outcomes.size(), 1u);
    EXPECT_FALSE(p.Outcomes[0].Passed);
}

TEST(ProgramRun, APartOfUnknownSizeEndsTheRunNamingItsPosition) {
    DeviceBench p;
    p.Bench.AddDevice("KR2S");
    p.Bench.AddDevice("KR2S");
    p.Template("KR2S", [](app::Template& t) { t.OnlyBlankDevices = false; });
    // The second device's part refuses the size probe's marker.
    p.Bench.AddFault(1, {FaultKind::Write, 192, VQ_EEPROM_WRITE_FAILED});
    p.Program();
    EXPECT_EQ(p.Boxes(), std::vector<std::string>{
                             "error: EEPROM size not detected - nothing written to device 1 - "
                             "it holds what it held before"});
    EXPECT_EQ(p.LinesStartingWith("ERROR - Write failed").size(), 1u);
    EXPECT_EQ(p.Outcomes.size(), 2u);
    EXPECT_EQ(p.Bench.OpenHandles(), 0);
}

TEST(ProgramRun, TooLongTextsAddTheLineButTheRunGoesOn) {
    DeviceBench p;
    p.Bench.AddDevice("KR2S");
    p.Template("KR2S");
    // 49 characters: 7 + 2 + 32 + 8.
    p.Shown.Product = std::string(32, 'P');
    p.Log.clear();
    p.Program();
    EXPECT_EQ(p.LinesStartingWith("ERROR - Total String Length exceeds maximum.").size(), 1u);
    EXPECT_EQ(p.LinesStartingWith("Programmed Serial Number : ").size(), 1u);
}

} // namespace
} // namespace burnwise::device::testing

namespace burnwise::device::testing {
namespace {

TEST(ProgramRun, ATemplateThatFailsTheChecksIsRefusedBeforeAnyDeviceIsOpened) {
    const struct {
        const char* What;
        const char* File; // the template file's whole text
        std::vector<std::string> Lines;
    } cases[] = {
        {"empty file",
         "",
         {"ERROR : You must fill in the Serial Number Prefix field with 2 characters",
          "ERROR : You must fill in Manufacturer Name",
          "ERROR : You must fill in Product Description",
          "ERROR : You must fill in current used from USB (0-500mA)",
          "ERROR : You must select a valid device type",
          "ERROR : The Vendor ID must be four hexadecimal digits",
          "ERROR : The Product ID must be four hexadecimal digits"}},
        {"VID of three digits and PID not hexadecimal",
         "[Basic Details]\nDevice Type=3\nVID PID Type=2\nUSB VID=3C5\nUSB PID=71G0\n"
         "[USB Power Options]\nBus Powered=1\nMax Bus Power=100\n"
         "[USB Serial Number Control]\nPrefix=VQ\n"
         "[USB String Descriptors]\nManufacturer=M\nProduct=P\n",
         {"ERROR : The Vendor ID must be four hexadecimal digits",
          "ERROR : The Product ID must be four hexadecimal digits"}},
        {"VID of five zeros",
         "[Basic Details]\nDevice Type=3\nVID PID Type=2\nUSB VID=00000\nUSB PID=0000\n"
         "[USB Power Options]\nBus Powered=1\nMax Bus Power=100\n"
         "[USB Serial Number Control]\nPrefix=VQ\n"
         "[USB String Descriptors]\nManufacturer=M\nProduct=P\n",
         {"ERROR : The Vendor ID must be four hexadecimal digits"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        DeviceBench p;
        p.Bench.AddDevice("KR2S");
        const fs::path file = p.Folder.Path / "bad.ept";
        std::ofstream(file, std::ios::binary) << c.File;
        p.Open(file);
        p.ClearBoxes();
        p.Trace.Calls.clear();
        p.Program();
        EXPECT_EQ(p.Lines(), c.Lines);
        EXPECT_EQ(p.Boxes(), std::vector<std::string>{
                                 "error: The template cannot be programmed - nothing written to "
                                 "any device"});
        EXPECT_TRUE(p.Trace.Calls.empty()) << ::testing::PrintToString(p.Trace.Calls);
        EXPECT_NE(p.Engine().LastEnd, RunEnd::Completed);
    }
}

} // namespace
} // namespace burnwise::device::testing
