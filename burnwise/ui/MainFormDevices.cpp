#include "burnwise/ui/ControlSink.h"
#include "burnwise/ui/FileAccess.h"
#include "burnwise/ui/MainForm.h"
#include "burnwise/ui/RunSummary.h"

#include <algorithm>
#include <span>
#include <utility>
#include <vector>

namespace burnwise::ui {
namespace {

// What an erase is about to take, by the model each device reports (in the order first
// found) with the serial numbers the devices report, where they have one.
std::string EraseQuestion(const std::vector<app::EraseCandidate>& devices) {
    std::vector<std::pair<std::string, std::vector<std::string>>> models;
    for (const app::EraseCandidate& device : devices) {
        const std::string model = device.Model.empty() ? "unknown model" : device.Model;
        auto found = std::find_if(models.begin(), models.end(),
                                  [&](const auto& entry) { return entry.first == model; });
        if (found == models.end()) found = models.insert(models.end(), {model, {}});
        found->second.push_back(device.Serial);
    }
    const std::size_t count = devices.size();
    std::string text = "Erase the EEPROM of " + std::to_string(count) +
                       (count == 1 ? " device" : " devices") +
                       "? Whatever model the template names, Erase takes these:";
    for (const auto& [model, serials] : models) {
        text += "\n" + model + ": " + std::to_string(serials.size());
        std::string named;
        for (const std::string& serial : serials)
            if (!serial.empty()) named += (named.empty() ? "" : ", ") + serial;
        if (!named.empty()) text += " (" + named + ")";
    }
    return text;
}

} // namespace

// ---- Device commands ------------------------------------------------------------------
// Each runs to its end on the window's thread. Every line reaches the view as it is
// appended (Notify per line), so the window can show a long run's progress.

void TMainForm::AttachDriver(device::PipexDriver& driver) {
    // Serial numbers from the real clock are kept in the user's state folder, so that no
    // later run on this machine, in this process or another, repeats one.
    station_.reset(); // closes a device left open
    if (const std::optional<std::filesystem::path> folder = BurnwiseStateFolder())
        clockRecord_ = std::make_unique<ClockSerialFile>(*folder);
    station_ = std::make_unique<app::Station>(driver, *this, systemClock_, clockRecord_.get());
}

void TMainForm::AttachDriver(device::PipexDriver& driver, const codec::UtcClock& clock) {
    station_.reset(); // closes a device left open
    clockRecord_.reset();
    station_ = std::make_unique<app::Station>(driver, *this, clock);
}

bool TMainForm::HaveStation() {
    if (station_) return true;
    ShowError("No device driver is loaded");
    return false;
}

void TMainForm::BWScanExecute() {
    if (!HaveStation()) return;
    station_->Scan(CurrentTemplate());
}

void TMainForm::BWEraseExecute() {
    if (!HaveStation()) return;
    // What Erase takes is what its scan selects, which with a KR1 to KR3 template is every
    // device of every model: the user sees the list and says so before anything is erased.
    station_->Erase(CurrentTemplate(), [this](const std::vector<app::EraseCandidate>& devices) {
        return host_.AskGoOnOrCancel(EraseQuestion(devices), "Erase");
    });
}

void TMainForm::BWProgramExecute() {
    if (!HaveStation()) return;
    ClearLines();
    host_.ProcessPendingEvents();
    // The chosen model's rules (its identifiers, its options) hold for the template the run takes.
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
        // Devices written in an earlier run that stopped under them are said first.
        std::string said;
        for (const std::string& line : records->InterruptedAttempts()) {
            AppendLine(line);
            said += (said.empty() ? "" : "\n") + line;
        }
        if (!said.empty()) host_.ShowInformationBox(said);
        records->SetAskReuse([this](std::string_view question) {
            return host_.AskGoOnOrCancel(question, "Write Again");
        });
        const app::ProgramRequest recorded = records->Request();
        request.Observe = recorded.Observe;
        request.Attempt = recorded.Attempt;
        if (AddLabels && !AddLabels(request, *records, error)) {
            ShowError("The labels cannot be printed (" + error + ") - nothing programmed.");
            return;
        }
    }
    const app::Report report = station_->Program(request);
    // The template checks have shown their lines and box; the window names its own control.
    if (report.Refused && report.Refused->Kind == app::RefusalKind::ClockSerialsNotAtOnce)
        ShowError(report.Refused->Text +
                  ". Turn off Device > Program All Devices At Once, or give the template a fixed "
                  "serial number.");
    else if (report.Refused && report.Refused->Kind != app::RefusalKind::TemplateChecks)
        ShowError(report.Refused->Text);
    const device::ScanResults& scan = station_->LastScan();
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
    if (!HaveStation()) return;
    station_->Read(CurrentTemplate());
}

void TMainForm::ReadandParse1Click() {
    if (!HaveStation()) return;
    // Each decoded device is shown in the fields, with their rules; the window then holds
    // a device's settings, which may be saved but not programmed as they stand.
    ControlSink sink(*this);
    station_->ReadAndParse(CurrentTemplate(), sink, [this] {
        SetActionEnabled("BWSaveAs", true);
        SetActionEnabled("BWProgram", false);
    });
    // The chip type now shown in CB1 takes effect.
    ApplyDeviceTypeRules();
}

void TMainForm::ToolButton11Click() {
    if (!HaveStation()) return;
    SetActionEnabled("ToolButton11", false);
    // The button comes back even when an error inside the run ends this handler.
    struct Reenable {
        TMainForm& Form;
        ~Reenable() { Form.SetActionEnabled("ToolButton11", true); }
    } reenable{*this};
    ApplyDeviceTypeRules();
    station_->Cycle(CurrentTemplate());
}

void TMainForm::FormClose() {
    if (station_) station_->CloseDevice();
}

} // namespace burnwise::ui
