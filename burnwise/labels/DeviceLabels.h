#pragma once

#include "burnwise/labels/LabelLayout.h"
#include "burnwise/labels/LabelPrinter.h"
#include "burnwise/records/RecordStore.h"

#include <memory>
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

} // namespace burnwise::labels
