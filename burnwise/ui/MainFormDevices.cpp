#include "burnwise/ui/FileAccess.h"
#include "burnwise/ui/MainForm.h"
#include "burnwise/ui/RunSummary.h"

#include <algorithm>
#include <span>

namespace burnwise::ui {

// ---- Device commands ------------------------------------------------------------------
// Each runs to its end on the window's thread. Every line reaches the view as it is
// appended (Notify per line), so the window can show a long run's progress.

void TMainForm::AttachDriver(device::PipexDriver& driver) {
    AttachDriver(driver, systemClock_);
    // Serial numbers from the real clock are kept in the user's state folder, so that no
    // later run on this machine, in this process or another, repeats one.
    if (const std::optional<std::filesystem::path> folder = BurnwiseStateFolder()) {
        clockRecord_ = std::make_unique<ClockSerialFile>(*folder);
        Engine()->ClockRecord = clockRecord_.get();
    }
}

void TMainForm::AttachDriver(device::PipexDriver& driver, const codec::UtcClock& clock) {
    station_.reset(); // closes a device left open
    station_ = std::make_unique<app::Station>(driver, *this, clock, nullptr, state_, flags_);
}

bool TMainForm::HaveEngine() {
    if (station_) return true;
    ShowError("No device driver is loaded");
    return false;
}

void TMainForm::BWScanExecute() {
    if (!HaveEngine()) return;
    Engine()->ScanDevices();
}

void TMainForm::BWEraseExecute() {
    if (!HaveEngine()) return;
    Engine()->Erase();
}

void TMainForm::BWProgramExecute() {
    if (!HaveEngine()) return;
    ClearLines();
    host_.ProcessPendingEvents();
    // Refreshes the family selectors the run relies on from the chosen model.
    ApplyDeviceTypeRules();
    app::ProgramRequest request;
    request.Shown = CurrentTemplate();
    request.Parallel = ProgramAllAtOnce;
    std::unique_ptr<app::Production> records;
    if (OpenRecords) {
        // Each record names the template file and its digest: the file must hold what is
        // shown.
        if (fileName_.empty() || HasUnsavedChanges()) {
            ShowError("Save the template first: the record of each device names the template "
                      "file it was programmed from.");
            return;
        }
        std::string error;
        records = OpenRecords(fileName_, error);
        if (!records) {
            ShowError("The records cannot be kept (" + error + ") - nothing programmed.");
            return;
        }
        if (app::TemplateValues(records->Shown()) != TemplateValues()) {
            ShowError("The template file " + fileName_.string() +
                      " has changed since it was opened: open or save it again.");
            return;
        }
        request.Observe = records->Request().Observe;
    }
    const app::Report report = station_->Program(request);
    const device::ScanResults& scan = station_->Engine().Scan;
    for (const std::string& line : RunSummaryLines(
             report, std::span(scan.SelectedDevices)
                         .first(static_cast<std::size_t>(std::clamp(
                             scan.SelectedCount, 0, static_cast<int>(device::ScanListSize))))))
        AppendLine(line);
    if (records && !records->StopReason().empty())
        ShowError("The record of a device could not be written (" + records->StopReason() +
                  ") - the run stopped after that device.");
}

void TMainForm::Read1Click() {
    if (!HaveEngine()) return;
    Engine()->Read();
}

void TMainForm::ReadandParse1Click() {
    if (!HaveEngine()) return;
    Engine()->ReadAndParse(*this);
    // The chip type now shown in CB1 takes effect.
    ApplyDeviceTypeRules();
}

void TMainForm::ToolButton11Click() {
    if (!HaveEngine()) return;
    SetActionEnabled(ToolButton11, false);
    // The button comes back even when an error inside the run ends this handler.
    struct Reenable {
        TMainForm& Form;
        ~Reenable() { Form.SetActionEnabled(Form.ToolButton11, true); }
    } reenable{*this};
    ClearLines();
    ApplyDeviceTypeRules();
    Engine()->Cycle();
}

void TMainForm::FormClose() {
    if (station_) station_->Engine().Unit.CloseCurrentDevice();
}

} // namespace burnwise::ui
