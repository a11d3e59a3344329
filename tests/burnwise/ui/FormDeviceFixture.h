#pragma once

#include "../device/EngineFixture.h"
#include "FormFixture.h"

#include <chrono>
#include <string>
#include <vector>

namespace burnwise::device::testing {

namespace fs = std::filesystem;
using ui::testing::StartedForm;

// A started form on an in-process bench: bench ← trace ← fault wrapper ← engine. Every line
// the form appends is kept in Log, also those that a later pass clears from the list.
struct DeviceBench : StartedForm {
    InProcessBench Bench;
    TraceDriver Trace{Bench};
    FaultDriver Faults{Trace};
    SteppingClock Clock;
    std::vector<std::string> Log;
    std::vector<DeviceOutcome>& Outcomes = Host.Finished;
    std::vector<std::pair<int, int>> ProgressSeen;

    DeviceBench() {
        Form.AttachDriver(Faults, Clock);
        Form.DeviceProgressChanged = [this](int position, int count) {
            ProgressSeen.emplace_back(position, count);
        };
        Form.StateChanged = [this](std::string_view name) {
            if (name == "Memo1" && Form.Messages().Lines.size() > seenLines_)
                Log.push_back(Form.Messages().Lines.back());
            if (name == "Memo1") seenLines_ = Form.Messages().Lines.size();
        };
    }

    DeviceEngine& Engine() { return Form.DeviceStation()->Engine(); }

    // New with `model`, the fields changed as a user would, saved: the form is then in
    // Program mode with the template's settings.
    void Template(std::string_view model, const std::function<void(ui::TMainForm&)>& edit = {}) {
        NewWithModel(model);
        if (edit) edit(Form);
        ASSERT_TRUE(SaveAs(Folder.Path / "run.ept"))
            << ::testing::PrintToString(Form.Messages().Lines);
        Log.clear();
    }

    // Everything a run reported, in order: boxes as "error: TEXT" / "info: TEXT".
    std::vector<std::string> Boxes() const { return Host.Boxes(); }

    std::vector<std::string> LinesStartingWith(std::string_view start) const {
        return testing::LinesStartingWith(Log, start);
    }

    // Decodes what the bench's part holds now as a programming run's read-back would.
    int DecodeBench(int driverIndex, const codec::ChipModel& model, codec::CodecState& out) {
        return DecodeBenchPart(Bench, driverIndex, model, out);
    }

private:
    std::size_t seenLines_ = 0;
};

} // namespace burnwise::device::testing
