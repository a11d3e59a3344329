#pragma once

#include "burnwise/app/Production.h"
#include "burnwise/labels/LabelLayout.h"
#include "burnwise/labels/LabelPrinter.h"
#include "burnwise/records/RecordStore.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace burnwise::labels {

// A station's labels: one layout, one output. Each label is printed from a device's PASS
// record, with the values the record keeps, so a reprint shows what the first label did.
class DeviceLabels {
public:
    DeviceLabels(LabelLayout layout, std::unique_ptr<LabelOutput> output)
        : layout_(std::move(layout)), output_(std::move(output)) {}

    // Renders and hands over the label of `record`'s device, and keeps the outcome with the
    // record in `store`. The line for the operator says what became of the label (and of
    // its status in the records, when that could not be written). A label never changes the
    // device's result.
    records::LabelStatus Print(const records::Record& record, records::RecordStore& store,
                               std::string& line);
    // The same without touching the records.
    records::LabelStatus Print(const records::Record& record);

    const LabelLayout& Layout() const { return layout_; }
    LabelOutput& Output() { return *output_; }

private:
    records::LabelStatus Draw(const records::Record& record);

    LabelLayout layout_;
    std::unique_ptr<LabelOutput> output_;
};

// The operator's line for a label's outcome: "Label SERIAL printed: JOB" or "Label SERIAL
// not printed: REASON".
std::string LabelLine(const std::string& serial, const records::LabelStatus& status);

// Where a station's labels go: a print queue (empty: the print service's default
// destination), or SERIAL.pdf files in a folder when one is named.
struct LabelTarget {
    std::string Printer;
    std::optional<std::filesystem::path> Folder;
};

// The labels of `layout` going to `target`; nothing with `error` set to the layout's line
// when it cannot be used.
std::unique_ptr<DeviceLabels> OpenDeviceLabels(const std::filesystem::path& layout,
                                               const LabelTarget& target, std::string& error);

// What a station is told of each label the run printed, or failed to.
using LabelTold = std::function<void(const device::DeviceOutcome& outcome,
                                     const records::LabelStatus& status, const std::string& line)>;

// Each PASS device of the run `request` makes gets its label once its record is written,
// from that record, and the outcome is kept with it; `told` hears of it. The label is drawn
// and handed over in the device's own turn and nothing waits for the printer beyond that;
// it never changes the device's result or the run.
void PrintAfterRecords(app::ProgramRequest& request, app::Production& production,
                       std::shared_ptr<DeviceLabels> labels, LabelTold told);

// The newest PASS record of `serial` (of `station` only, when given): the chip holds what
// that run wrote. Nothing with `error` set when there is none or the store fails.
std::optional<records::Record> NewestPassRecord(records::RecordStore& store,
                                                const std::string& serial,
                                                const std::optional<std::string>& station,
                                                std::string& error);

} // namespace burnwise::labels
