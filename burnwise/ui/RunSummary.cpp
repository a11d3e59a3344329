#include "burnwise/ui/RunSummary.h"

#include <algorithm>

namespace burnwise::ui {

namespace {

// "device 2", "devices 2 and 3", "devices 2, 3 and 5".
std::string DeviceList(const std::vector<std::int32_t>& indexes) {
    std::string text = indexes.size() == 1 ? "device " : "devices ";
    for (std::size_t i = 0; i < indexes.size(); ++i) {
        if (i > 0) text += i + 1 == indexes.size() ? " and " : ", ";
        text += std::to_string(indexes[i]);
    }
    return text;
}

} // namespace

std::vector<std::string> RunSummaryLines(const app::Report& report,
                                         std::span<const std::int32_t> selected) {
    const auto passed = static_cast<int>(
        std::count_if(report.Devices.begin(), report.Devices.end(),
                      [](const device::DeviceOutcome& outcome) { return outcome.Passed; }));
    const int failed = static_cast<int>(report.Devices.size()) - passed;
    std::vector<std::int32_t> notReached;
    for (const std::int32_t index : selected)
        if (std::none_of(report.Devices.begin(), report.Devices.end(),
                         [index](const auto& outcome) { return outcome.DriverIndex == index; }))
            notReached.push_back(index);
    if (failed == 0 && notReached.empty()) return {};

    std::vector<std::string> lines;
    std::string counts =
        "Run summary: " + std::to_string(passed) + " passed, " + std::to_string(failed) + " failed";
    if (!notReached.empty()) counts += ", " + std::to_string(notReached.size()) + " not reached";
    lines.push_back(counts);
    if (notReached.empty()) return lines;

    const std::string left = DeviceList(notReached) +
                             (notReached.size() == 1 ? " was not started" : " were not started");
    if (report.Devices.empty()) {
        lines.push_back("The run stopped before its first device; " + left);
        return lines;
    }
    const std::string last = std::to_string(report.Devices.back().DriverIndex);
    if (report.End == device::RunEnd::Cancelled)
        lines.push_back("Stopped as asked after device " + last + "; " + left);
    else
        lines.push_back("The run stopped at device " + last + "; " + left);
    return lines;
}

std::string ShownModel(const device::DeviceOutcome& outcome,
                       std::optional<codec::ChipType> templateModel) {
    using device::DeviceOperation;
    const bool byTemplate = outcome.Operation == DeviceOperation::Program ||
                            outcome.Operation == DeviceOperation::Erase ||
                            outcome.Operation == DeviceOperation::Cycle;
    if (!byTemplate || !templateModel || *templateModel == codec::ChipType::None)
        return outcome.Model;
    const std::string_view model = codec::ChipModelOf(*templateModel).ListText;
    // Only a device of the template's family is of its model.
    if (!outcome.Model.empty() && !model.starts_with(outcome.Model)) return outcome.Model;
    return std::string(model);
}

} // namespace burnwise::ui
