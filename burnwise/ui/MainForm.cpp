#include "burnwise/codec/ChipModels.h"
#include "burnwise/ui/ControlSink.h"

#include <algorithm>
#include <stdexcept>

namespace burnwise::ui {
namespace {

using codec::ChipType;

} // namespace

TMainForm::TMainForm(FormHost& host, FormPaths paths)
    : ControlPanel(ControlRows()), host_(host), paths_(std::move(paths)) {
    for (const ActionRow& row : ActionRows())
        actionStore_.push_back({std::string(row.Name), std::string(row.Caption),
                                std::string(row.Shortcut), std::string(row.Hint), row.Enabled,
                                std::string(row.MenuCaption)});
    for (Action& action : actionStore_)
        actions_.push_back(&action);

    // Each field's change rule on the control that shows it.
    for (const app::Field& field : app::Fields())
        SetFieldRule(ControlOf(field), field);
    RememberSavedTemplate();
}

// ---- Lookup and notification --------------------------------------------------------------

Action* TMainForm::FindAction(std::string_view name) const {
    const auto found = std::find_if(actions_.begin(), actions_.end(),
                                    [name](const Action* a) { return a->Name == name; });
    return found == actions_.end() ? nullptr : *found;
}

Action& TMainForm::ActionNamed(std::string_view name) const {
    Action* action = FindAction(name);
    if (action == nullptr) throw std::logic_error("no action " + std::string(name));
    return *action;
}

// ---- Changes made by code -----------------------------------------------------------------

void TMainForm::SetActionEnabled(Action& action, bool enabled) {
    if (action.Enabled == enabled) return;
    action.Enabled = enabled;
    Notify(action.Name);
}

void TMainForm::SetActionEnabled(std::string_view name, bool enabled) {
    SetActionEnabled(ActionNamed(name), enabled);
}

void TMainForm::SetCaption(std::string_view caption) {
    if (Caption == caption) return;
    Caption = std::string(caption);
    Notify("Caption");
}

bool TMainForm::UserExecute(std::string_view actionName) {
    const Action* action = FindAction(actionName);
    if (action == nullptr || !action->Enabled) return false;
    for (const ActionRow& row : ActionRows())
        if (row.Name == actionName) (this->*row.Run)();
    return true;
}

// ---- Reporter -----------------------------------------------------------------------------

void TMainForm::AppendLine(std::string_view line) {
    Messages().Lines.emplace_back(line);
    Notify(Messages().Name);
}

void TMainForm::ClearLines() {
    if (Messages().Lines.empty()) return;
    Messages().Lines.clear();
    Notify(Messages().Name);
}

void TMainForm::ShowError(std::string_view text) {
    // The engine's boxes that end a run on a device say only what went wrong; with several
    // devices attached the user needs to know which one: the device in hand, by the driver
    // index the results table and the stop line show.
    if (NameDeviceInBoxes && station_ && devicePosition_ > 0 &&
        (text == "Error reading device" || text == "Error opening device")) {
        host_.ShowErrorBox(std::string(text) + " " + std::to_string(station_->DeviceInHand()));
        return;
    }
    host_.ShowErrorBox(text);
}

void TMainForm::ShowInformation(std::string_view text) {
    host_.ShowInformationBox(text);
}

void TMainForm::DeviceProgress(int position, int count) {
    devicePosition_ = count > 0 ? position : 0;
    if (DeviceProgressChanged) DeviceProgressChanged(position, count);
}

void TMainForm::DeviceFinished(const device::DeviceOutcome& outcome) {
    host_.DeviceFinished(outcome);
}

bool TMainForm::StopRequested() {
    return host_.StopRequested();
}

void TMainForm::RememberSavedTemplate() {
    savedValues_ = TemplateValues();
}

bool TMainForm::HasUnsavedChanges() const {
    const std::vector<TemplateValue> now = TemplateValues();
    if (now.size() != savedValues_.size()) return true;
    for (std::size_t i = 0; i < now.size(); ++i)
        if (now[i].Section != savedValues_[i].Section || now[i].Key != savedValues_[i].Key ||
            now[i].Value != savedValues_[i].Value)
            return true;
    return false;
}

// ---- Start-up and actions -----------------------------------------------------------------

void TMainForm::FormShow() {
    ChooseEntry(List("CB1"), static_cast<int>(ChipType::None));
    ChooseEntry(List("CB2"), 0);
    ChooseEntry(List("CB3"), 1);
    DisableAllFields();
    RememberSavedTemplate();
    host_.ProcessPendingEvents();
}

void TMainForm::BWNewExecute() {
    ControlSink sink(*this);
    app::ApplyNewTemplate(sink);

    DisableAllFields();
    host_.ProcessPendingEvents();
    ApplyDeviceTypeRules();

    ClearLines();
    host_.ProcessPendingEvents();

    fileName_.clear();
    saveFolder_ = paths_.TemplatesFolder;

    SetTemplateGroupsEnabled(true);
    for (const char* action : {"BWSave", "BWSaveAs", "BWEdit", "BWProgram", "BWErase"})
        SetActionEnabled(action, false);
    SetCaption(EditModeCaption);
    RememberSavedTemplate();
}

void TMainForm::BWOpenExecute() {
    FileDialogOptions options;
    options.Filter = TemplateFilter;
    options.DefaultExtension = TemplateExtension;
    options.InitialFolder = paths_.TemplatesFolder;
    options.FileMustExist = true;
    const auto chosen = host_.RunOpenDialog(options);
    // A cancelled Open changes nothing.
    if (!chosen) return;
    // A file that cannot be read ends the action with its box, the window unchanged.
    if (!ReadTemplate(*chosen)) return;
    fileName_ = *chosen;
    RememberSavedTemplate();
    host_.ProcessPendingEvents();
    SetTemplateGroupsEnabled(false);
    SetActionEnabled("BWEdit", true);
    SetActionEnabled("BWProgram", true);
    UpdateEraseAvailability();
    SetCaption(ProgramModeCaption);
    SetActionEnabled("BWSave", false);
    SetActionEnabled("BWSaveAs", false);
}

void TMainForm::EnterProgramMode() {
    SetActionEnabled("BWSave", false);
    SetActionEnabled("BWSaveAs", false);
    SetActionEnabled("BWProgram", true);
    UpdateEraseAvailability();
    SetActionEnabled("BWEdit", true);
    SetCaption(ProgramModeCaption);
    SetTemplateGroupsEnabled(false);
    ClearLines();
    RememberSavedTemplate();
}

void TMainForm::BWSaveExecute() {
    if (!ValidateTemplate()) return;
    if (fileName_.empty()) return; // Save is only offered while a file name is known
    if (!WriteTemplate(fileName_)) return;
    EnterProgramMode();
}

void TMainForm::BWSaveAsExecute() {
    if (!ValidateTemplate()) return;
    FileDialogOptions options;
    options.Filter = TemplateFilter;
    options.DefaultExtension = TemplateExtension;
    options.InitialFolder = saveFolder_;
    options.FileName = fileName_;
    options.PromptOverwrite = true;
    const auto chosen = host_.RunSaveDialog(options);
    if (!chosen) return;
    fileName_ = *chosen;
    if (!WriteTemplate(fileName_)) return;
    EnterProgramMode();
}

void TMainForm::BWEditExecute() {
    SetTemplateGroupsEnabled(true);
    SetActionEnabled("BWSaveAs", true);
    SetActionEnabled("BWProgram", false);
    SetActionEnabled("BWErase", false);
    SetActionEnabled("BWEdit", false);
    SetCaption(EditModeCaption);
}

void TMainForm::BWExitExecute() {
    host_.CloseWindow();
}

void TMainForm::BWHelpExecute() {
    host_.OpenHelpFile(paths_.HelpFile);
}

void TMainForm::BWAboutExecute() {
    host_.ShowAboutBox();
}

void TMainForm::SetTemplateGroupsEnabled(bool enabled) {
    for (Control* control : Controls())
        if (control->Purpose == ControlPurpose::TemplateGroup) SetEnabled(*control, enabled);
}

void TMainForm::UpdateEraseAvailability() {
    const codec::ChipModel& model =
        codec::ChipModelOf(CurrentTemplate().Model.value_or(codec::ChipType::None));
    SetActionEnabled("BWErase", model.Has(codec::Erasable));
}

} // namespace burnwise::ui
