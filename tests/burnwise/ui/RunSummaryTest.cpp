// The summary a programming run's message list ends with, and the model a results row
// names.

#include "burnwise/ui/RunSummary.h"

#include <gtest/gtest.h>

namespace {

using namespace burnwise;
using device::DeviceOperation;
using device::RunEnd;

device::DeviceOutcome Outcome(std::int32_t index, bool passed) {
    device::DeviceOutcome outcome;
    outcome.Operation = DeviceOperation::Program;
    outcome.DriverIndex = index;
    outcome.Passed = passed;
    return outcome;
}

TEST(RunSummary, CountsTheDevicesAndNamesThoseNotReachedAndWhy) {
    const struct {
        std::vector<device::DeviceOutcome> Devices;
        RunEnd End;
        std::vector<std::int32_t> Selected;
        std::vector<std::string> Lines;
    } rows[] = {
        // Every selected device passed, or none was found: the run's lines say it all.
        {{Outcome(0, true), Outcome(1, true)}, RunEnd::Completed, {0, 1}, {}},
        {{}, RunEnd::NoDevices, {}, {}},
        {{Outcome(1, false)},
         RunEnd::Stopped,
         {1, 2, 3},
         {"Run summary: 0 passed, 1 failed, 2 not reached",
          "The run stopped at device 1; devices 2 and 3 were not started"}},
        {{Outcome(0, true), Outcome(2, false)},
         RunEnd::Failed,
         {0, 2},
         {"Run summary: 1 passed, 1 failed"}},
        {{Outcome(0, true)},
         RunEnd::Cancelled,
         {0, 1, 4, 5},
         {"Run summary: 1 passed, 0 failed, 3 not reached",
          "Stopped as asked after device 0; devices 1, 4 and 5 were not started"}},
        {{Outcome(3, true)},
         RunEnd::Cancelled,
         {3, 7},
         {"Run summary: 1 passed, 0 failed, 1 not reached",
          "Stopped as asked after device 3; device 7 was not started"}},
        // No number for the first device: nothing was written.
        {{},
         RunEnd::Stopped,
         {0, 1},
         {"Run summary: 0 passed, 0 failed, 2 not reached",
          "The run stopped before its first device; devices 0 and 1 were not started"}},
    };
    for (const auto& row : rows) {
        app::Report report;
        report.Operation = DeviceOperation::Program;
        report.Devices = row.Devices;
        report.End = row.End;
        EXPECT_EQ(ui::RunSummaryLines(report, row.Selected), row.Lines)
            << ::testing::PrintToString(row.Selected);
    }
}

TEST(RunSummary, RowsNameTheFullModelWhereTheTemplateKnowsIt) {
    using codec::ChipType;
    const struct {
        DeviceOperation Operation;
        const char* Reported;
        std::optional<ChipType> Template;
        const char* Shown;
    } rows[] = {
        {DeviceOperation::Program, "KR2", ChipType::KR2S, "KR2S"},
        {DeviceOperation::Program, "KR2", ChipType::KR2F, "KR2F"},
        {DeviceOperation::Erase, "KR3", ChipType::KR3E, "KR3E"},
        {DeviceOperation::Cycle, "", ChipType::KR1F, "KR1F"},
        {DeviceOperation::Program, "KR4F", ChipType::KR4F, "KR4F"},
        // Another family, no model chosen, or an operation that takes any device: as
        // the device reports itself.
        {DeviceOperation::Program, "KR1", ChipType::KR2S, "KR1"},
        {DeviceOperation::Program, "KR2", ChipType::None, "KR2"},
        {DeviceOperation::Program, "KR2", std::nullopt, "KR2"},
        {DeviceOperation::Scan, "KR2", ChipType::KR2S, "KR2"},
        {DeviceOperation::Read, "KR3", ChipType::KR3D, "KR3"},
    };
    for (const auto& row : rows) {
        device::DeviceOutcome outcome;
        outcome.Operation = row.Operation;
        outcome.Model = row.Reported;
        EXPECT_EQ(ui::ShownModel(outcome, row.Template), row.Shown) << row.Reported;
    }
}

} // namespace
