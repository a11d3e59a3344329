#include "DeviceFixture.h"

namespace burnwise::device::testing {
namespace {

// Keeps every line and outcome of an engine, and asks to stop once `StopAfter` outcomes
// have come.
class RecordingReporter : public Reporter {
public:
    std::vector<std::string> Lines;
    std::vector<DeviceOutcome> Outcomes;
    int StopAfter = -1;
    int StopQuestions = 0;

    void AppendLine(std::string_view line) override { Lines.emplace_back(line); }
    void ClearLines() override {}
    void ShowError(std::string_view) override {}
    void ShowInformation(std::string_view) override {}
    void DeviceFinished(const DeviceOutcome& outcome) override { Outcomes.push_back(outcome); }
    bool StopRequested() override {
        ++StopQuestions;
        return StopAfter >= 0 && static_cast<int>(Outcomes.size()) >= StopAfter;
    }
};

struct Case {
    DeviceOperation Operation;
    std::function<RunEnd(DeviceEngine&, TemplateSettings&)> Run;
};

const Case Cases[] = {
    {DeviceOperation::Scan, [](DeviceEngine& e, TemplateSettings&) { return e.ScanDevices(); }},
    {DeviceOperation::Program,
     [](DeviceEngine& e, TemplateSettings& f) { return e.ProgramRun(f); }},
    {DeviceOperation::Erase, [](DeviceEngine& e, TemplateSettings&) { return e.Erase(); }},
    {DeviceOperation::Read, [](DeviceEngine& e, TemplateSettings&) { return e.Read(); }},
    {DeviceOperation::ReadAndParse,
     [](DeviceEngine& e, TemplateSettings& f) { return e.ReadAndParse(f); }},
    {DeviceOperation::Cycle, [](DeviceEngine& e, TemplateSettings&) { return e.Cycle(); }},
};

// Three programmed KR2 chips on different parts.
void Populate(DeviceBench& p) {
    p.Bench.AddDevice("KR2S", "93C46");
    p.Bench.AddDevice("KR2S", "93C56");
    p.Bench.AddDevice("KR2S", "93C66");
    p.Template("KR2S", [](app::Template& t) { t.OnlyBlankDevices = false; });
    p.Program();
    ASSERT_EQ(p.Engine().LastEnd, RunEnd::Completed);
}

TEST(Outcomes, EveryOperationReportsEachDeviceOnceAndStopsWhenAsked) {
    for (const Case& c : Cases) {
        SCOPED_TRACE(OperationName(c.Operation));
        for (const int stopAfter : {-1, 1}) {
            SCOPED_TRACE(stopAfter);
            DeviceBench p;
            Populate(p);
            RecordingReporter r;
            r.StopAfter = stopAfter;
            DeviceEngine engine(p.Faults, p.State, p.Flags, r, p.Clock);
            TemplateSettings settings(p);
            const RunEnd end = c.Run(engine, settings);
            EXPECT_EQ(p.Bench.OpenHandles(), 0);
            if (stopAfter < 0) {
                EXPECT_EQ(end, RunEnd::Completed);
                ASSERT_EQ(r.Outcomes.size(), 3u);
                EXPECT_GE(r.StopQuestions, 3) << "asked at least after every device";
                const std::int32_t indexes[] = {0, 1, 2};
                const char* parts[] = {"93C46", "93C56", "93C66"};
                for (int i = 0; i < 3; ++i) {
                    const DeviceOutcome& o = r.Outcomes[static_cast<std::size_t>(i)];
                    EXPECT_EQ(o.Operation, c.Operation);
                    EXPECT_EQ(o.Position, i);
                    EXPECT_EQ(o.DriverIndex, indexes[i]);
                    EXPECT_EQ(o.Model, "KR2");
                    EXPECT_TRUE(o.Passed) << o.Reason;
                    // Only a scan gives its verdict; these devices were all programmed.
                    EXPECT_EQ(o.Blank, c.Operation == DeviceOperation::Scan
                                           ? std::optional<bool>(false)
                                           : std::nullopt);
                    if (c.Operation == DeviceOperation::Program) {
                        EXPECT_EQ(o.EepromTypeName, parts[i]);
                        EXPECT_FALSE(o.SerialNumber.empty());
                    }
                }
            } else {
                EXPECT_EQ(end, RunEnd::Cancelled);
                EXPECT_EQ(r.Outcomes.size(), 1u);
                ASSERT_FALSE(r.Lines.empty());
                EXPECT_EQ(r.Lines.back(), "Stopped after device 0");
            }
        }
    }
}

TEST(Outcomes, ADeviceTheScanCouldNotOpenFailsWithItsReason) {
    for (const Case& c : Cases) {
        SCOPED_TRACE(OperationName(c.Operation));
        DeviceBench p;
        Populate(p);
        p.Bench.AddFault(1, {FaultKind::Open, std::nullopt, VQ_DEVICE_NOT_OPENED, 1});
        RecordingReporter r;
        DeviceEngine engine(p.Faults, p.State, p.Flags, r, p.Clock);
        TemplateSettings settings(p);
        EXPECT_NE(c.Run(engine, settings), RunEnd::Completed);
        ASSERT_EQ(r.Outcomes.size(), 3u);
        const auto failed = std::find_if(r.Outcomes.begin(), r.Outcomes.end(),
                                         [](const DeviceOutcome& o) { return !o.Passed; });
        ASSERT_NE(failed, r.Outcomes.end());
        EXPECT_EQ(failed->DriverIndex, 1);
        const std::string line = "ERROR - Device 1 could not be examined: VQ_Open - Device "
                                 "Not Opened...";
        EXPECT_EQ(failed->Reason, line);
        EXPECT_NE(std::find(r.Lines.begin(), r.Lines.end(), line), r.Lines.end());
        EXPECT_EQ(std::count_if(r.Outcomes.begin(), r.Outcomes.end(),
                                [](const DeviceOutcome& o) { return o.Passed; }),
                  2);
    }
}

} // namespace
} // namespace burnwise::device::testing
