#include "DeviceFixture.h"

#include <set>

namespace burnwise::device::testing {
namespace {

// A mixed bench: two KR2 chips on different parts, programmed from `templateFile`, a chip
// of another family and a blank KR2 chip, so every scan has something to take and something
// to skip.
void Populate(DeviceBench& p, const fs::path& templateFile) {
    p.Bench.AddDevice("KR2S", "93C46");
    p.Bench.AddDevice("KR2S", "93C56");
    p.Bench.AddDevice("KR4S");
    p.Open(templateFile);
    p.Program();
    p.Bench.AddDevice("KR2S", "93C46");
    p.ClearBoxes();
    p.Log.clear();
    p.Outcomes.clear();
    p.Trace.Calls.clear();
}

struct Operation {
    std::string_view Name;
    std::function<void(DeviceBench&)> Run;
};

const Operation Operations[] = {
    {"program", [](DeviceBench& p) { p.Program(); }},
    {"erase", [](DeviceBench& p) { p.Erase(); }},
    {"read", [](DeviceBench& p) { p.Read(); }},
    {"read and parse", [](DeviceBench& p) { p.ReadAndParse(); }},
    {"cycle", [](DeviceBench& p) { p.Cycle(); }},
};

bool Contains(const std::vector<std::string>& all, std::string_view part) {
    return std::any_of(all.begin(), all.end(),
                       [&](const std::string& s) { return s.find(part) != std::string::npos; });
}

// What a failed call of each kind must leave behind, whichever operation made it.
void ExpectReported(std::string_view call, DeviceBench& p, std::string_view operation) {
    const std::vector<std::string> boxes = p.Boxes();
    if (call == "VQ_ListDevices") {
        EXPECT_TRUE(Contains(boxes, "GetVQDeviceCount - General IO Error..."));
    } else if (call == "VQ_Open") {
        EXPECT_TRUE(Contains(boxes, "VQ_Open - General IO Error..."));
    } else if (call == "VQ_Close") {
        EXPECT_TRUE(Contains(boxes, "VQ_Close - General IO Error..."));
    } else if (call == "VQ_GetDeviceInfo") {
        EXPECT_TRUE(Contains(boxes, "VQ_GetDeviceInfo  - General IO Error..."));
    } else if (call == "VQ_EraseEE") {
        EXPECT_TRUE(Contains(p.Log, "Erase failed"));
    } else if (call == "VQ_CyclePort") {
        EXPECT_TRUE(Contains(boxes, "info: No Valid Devices Found"));
    } else if (call == "VQ_WriteEE") {
        // The size probe's marker, or a word of the image the read-back then misses.
        EXPECT_TRUE(Contains(p.Log, "ERROR - Write failed") ||
                    Contains(boxes, "error: Error reading device"));
    } else if (call == "VQ_ReadEE" && operation == "read") {
        // Scan reads only change a count; the walk's own reads are reported.
        EXPECT_TRUE(Contains(p.Log, "ERROR - Read EEPROM failed") ||
                    p.Engine().Scan.ProgrammedCount > 0);
    }
}

// How the run ended must agree with its outcomes: each device once, every failure with
// the line or box that said so, and a writing operation never complete after a failed
// call.
void ExpectTold(std::string_view call, DeviceBench& p, std::string_view operation) {
    const RunEnd end = p.Engine().LastEnd;
    if (call == "VQ_ListDevices") {
        EXPECT_EQ(end, RunEnd::NoDevices);
        return;
    }
    std::set<std::int32_t> seen;
    bool anyFailed = false;
    for (const DeviceOutcome& o : p.Outcomes) {
        EXPECT_TRUE(seen.insert(o.DriverIndex).second) << "device " << o.DriverIndex << " twice";
        if (o.Passed) continue;
        anyFailed = true;
        EXPECT_FALSE(o.Reason.empty());
        EXPECT_TRUE(Contains(p.Log, o.Reason) || Contains(p.Boxes(), o.Reason)) << o.Reason;
    }
    EXPECT_EQ(end == RunEnd::Completed, !anyFailed) << static_cast<int>(end);
    if (operation == "program" || operation == "erase" || operation == "cycle") {
        EXPECT_TRUE(anyFailed) << "a failed " << call << " must fail its device";
    }
}

TEST(FaultSweep, EveryFailedCallOfEveryOperationIsSurvivedAndReported) {
    // Saving a template flushes it to disk; write it once and open it for every run.
    DeviceBench writer;
    writer.Template("KR2S", [](app::Template& t) {
        t.UseFixedSerial = true;
        t.FixedSerial = "SW000001";
        t.OnlyBlankDevices = false;
    });
    const fs::path templateFile = writer.Folder.Path / "run.ept";
    ASSERT_TRUE(app::WriteTemplateFile(templateFile, writer.Shown));

    for (const Operation& op : Operations) {
        SCOPED_TRACE(op.Name);
        DeviceBench clean;
        Populate(clean, templateFile);
        const int start = clean.Faults.Calls();
        op.Run(clean);
        const std::vector<std::string> calls = clean.Trace.Calls;
        ASSERT_GT(calls.size(), 10u);

        for (std::size_t k = 0; k < calls.size(); ++k) {
            SCOPED_TRACE(::testing::Message() << "call " << k + 1 << " " << calls[k]);
            DeviceBench p;
            Populate(p, templateFile);
            p.Faults.FailCall(start + static_cast<int>(k) + 1, VQ_IO_ERROR);
            op.Run(p);
            ASSERT_EQ(p.Faults.Failures(), 1);
            EXPECT_EQ(p.Bench.OpenHandles(), 0);
            EXPECT_FALSE(p.Engine().Unit.DeviceIsOpen);
            ExpectReported(calls[k], p, op.Name);
            ExpectTold(calls[k], p, op.Name);
            // A device reported programmed holds its image.
            for (const DeviceOutcome& o : p.Outcomes) {
                if (!o.Passed || o.Operation != DeviceOperation::Program) continue;
                codec::CodecState st;
                EXPECT_EQ(
                    p.DecodeBench(o.DriverIndex, codec::ChipModelOf(codec::ChipType::KR2S), st),
                    codec::Programmed);
                EXPECT_EQ(codec::TextOf(st.Settings.SerialNumber), o.SerialNumber);
            }
            if (::testing::Test::HasFailure()) return; // one broken call tells enough
        }
    }
}

} // namespace
} // namespace burnwise::device::testing
