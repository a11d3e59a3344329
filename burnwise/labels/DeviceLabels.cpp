#include "burnwise/labels/DeviceLabels.h"

#include "burnwise/app/LabelFields.h"
#include "burnwise/codec/TextEscape.h"
#include "burnwise/labels/LabelRenderer.h"

namespace burnwise::labels {

records::LabelStatus DeviceLabels::Print(const records::Record& record) {
    records::LabelStatus status = Draw(record);
    status.Layout = layout_.Path().string();
    return status;
}

records::LabelStatus DeviceLabels::Draw(const records::Record& record) {
    using records::LabelState;
    const std::optional<app::LabelValues> values = app::ParseLabelValues(record.LabelFields);
    if (record.LabelFields.empty() || !values)
        return {LabelState::Failed, "the record of " + record.SerialNumber +
                                        " keeps no label values (made before labels existed)"};
    std::string error;
    const std::optional<std::string> pdf = RenderLabel(layout_, *values, PageFormat::Pdf, error);
    if (!pdf) return {LabelState::Failed, error};
    HandOver handed = output_->Send(record.SerialNumber, *pdf);
    if (!handed.Done) return {LabelState::Failed, std::move(handed.Reason)};
    return {LabelState::Printed, std::move(handed.Job)};
}

records::LabelStatus DeviceLabels::Print(const records::Record& record, records::RecordStore& store,
                                         std::string& line) {
    const records::LabelStatus status = Print(record);
    line = LabelLine(record.SerialNumber, status);
    std::string error;
    if (!store.SetLabel(record, status, error)) line += " - not recorded: " + error;
    return status;
}

std::unique_ptr<DeviceLabels> OpenDeviceLabels(const std::filesystem::path& layout,
                                               const LabelTarget& target, std::string& error) {
    std::optional<LabelLayout> loaded = LabelLayout::Load(layout, error);
    if (!loaded) return nullptr;
    std::unique_ptr<LabelOutput> output =
        target.Folder ? FolderOutput(*target.Folder) : PrintQueueOutput(target.Printer);
    return std::make_unique<DeviceLabels>(std::move(*loaded), std::move(output));
}

void PrintAfterRecords(app::ProgramRequest& request, app::Production& production,
                       std::shared_ptr<DeviceLabels> labels, LabelTold told) {
    request.Observe = [observe = std::move(request.Observe), &production,
                       labels = std::move(labels),
                       told = std::move(told)](const device::DeviceOutcome& outcome) {
        const bool kept = !observe || observe(outcome);
        if (kept && outcome.Passed) {
            std::string line;
            const records::LabelStatus status =
                labels->Print(production.LastRecord(), production.Store(), line);
            if (told) told(outcome, status, line);
        }
        return kept;
    };
}

std::optional<records::Record> NewestPassRecord(records::RecordStore& store,
                                                const std::string& serial,
                                                const std::optional<std::string>& station,
                                                std::string& error) {
    const records::RecordFilter filter{serial, station, std::nullopt};
    const std::optional<std::vector<records::Record>> found = store.List(filter, error);
    if (!found) return std::nullopt;
    // Listed oldest first.
    for (auto record = found->rbegin(); record != found->rend(); ++record)
        if (record->Outcome == records::Result::Pass) return *record;
    error = "no PASS record of serial number " + codec::EscapeText(serial);
    return std::nullopt;
}

std::string LabelLine(const std::string& serial, const records::LabelStatus& status) {
    if (status.State == records::LabelState::Printed)
        return "Label " + serial + " printed: " + status.Detail;
    return "Label " + serial + " not printed: " + status.Detail;
}

} // namespace burnwise::labels
