#include "burnwise/labels/DeviceLabels.h"

#include "burnwise/app/LabelFields.h"
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

std::string LabelLine(const std::string& serial, const records::LabelStatus& status) {
    if (status.State == records::LabelState::Printed)
        return "Label " + serial + " printed: " + status.Detail;
    return "Label " + serial + " not printed: " + status.Detail;
}

} // namespace burnwise::labels
