#include "burnwise/codec/ChipModels.h"
#include "burnwise/ui/ControlSink.h"

#include <algorithm>

namespace burnwise::ui {
namespace {

using codec::ChipType;

std::vector<std::string> ModelListTexts() {
    std::vector<std::string> texts;
    for (const codec::ChipModel& model : codec::ChipModels)
        texts.emplace_back(model.ListText);
    return texts;
}

std::vector<std::string> PinSignals(std::string fixedFifoSignal) {
    return {"TXDEN",       "PWRON#",
            "RXLED#",      "TXLED#",
            "TX & RXLED#", "SLEEP#",
            "CLK48",       "CLK24",
            "CLK12",       "CLK6",
            "I/O Mode",    "BitBang WRn",
            "BitBang RDn", std::move(fixedFifoSignal)};
}

// C4 has no FIFO signal and swaps TXLED# and RXLED# against C0 to C3.
std::vector<std::string> PinC4Signals() {
    return {"TXDEN",  "PWRON#", "TXLED#", "RXLED#", "TX & RXLED#",
            "SLEEP#", "CLK48",  "CLK24",  "CLK12",  "CLK6"};
}

CheckControl Radio(std::string name, std::string parent, std::string caption, bool checked) {
    return CheckControl(ControlKind::Radio, std::move(name), std::move(parent), std::move(caption),
                        checked);
}

CheckControl Check(std::string name, std::string parent, std::string caption, bool checked) {
    return CheckControl(ControlKind::Check, std::move(name), std::move(parent), std::move(caption),
                        checked);
}

} // namespace

TMainForm::TMainForm(FormHost& host, FormPaths paths)
    : GB1("GB1", "", "  Basic Details  ", {8, 2, 225, 119}),
      GB2("GB2", "", "  USB Power Options  ", {240, 2, 225, 63}),
      GB3("GB3", "", "  USB Serial Number Control  ", {240, 70, 225, 113}),
      GB4("GB4", "", "  KR2 / KR3 Device Specific Options  ", {8, 124, 225, 149}),
      GB5("GB5", "", "  Product and Manufacturer Descriptor Strings  ", {8, 275, 457, 57}),
      GB6("GB6", "", "  Programming Options  ", {8, 336, 457, 41}),
      GB8("GB8", "", "  Plug && Play  ( KRnS Series Only )  ", {240, 232, 225, 41}),
      GB9("GB9", "", "  USB Remote Wake Up  ", {240, 187, 225, 41}),
      Label1("Label1", "GB1", "Vendor ID"), Label2("Label2", "GB1", "Product ID"),
      Label3("Label3", "GB4", "USB Version Number"),
      Label5("Label5", "GB3", "Serial Number Prefix ( 2 digits )"),
      Label6("Label6", "GB3", "Fixed Serial Number ( 8 digits )"),
      Label8("Label8", "GB2", "Max Bus Power"), Label9("Label9", "GB2", "milli Amps"),
      Label11("Label11", "GB5", "Product Description "), Label12("Label12", "GB5", "Manufacturer"),
      Label13("Label13", "GB1", "Device Type"), Label14("Label14", "GB1", "USB VID / PID"),
      CB1("CB1", "GB1", ModelListTexts(), 0),
      CB2("CB2", "GB1", {"Velquor Default", "Velquor Supplied PID", "Own VID & PID"}, -1),
      CB3("CB3", "GB4", {"USB 1.1", "USB 2.0"}, -1),
      Edit1("Edit1", "GB1", std::string(codec::NoModel.DefaultVid)),
      Edit2("Edit2", "GB1", std::string(codec::NoModel.DefaultPid)), Edit9("Edit9", "GB2", "100"),
      Edit5("Edit5", "GB3", "VQ"), Edit6("Edit6", "GB3", "00000001"),
      Edit10("Edit10", "GB5", "Velquor"), Edit11("Edit11", "GB5", "USB <-> Serial cable"),
      RB1(Radio("RB1", "GB2", "Bus Powered", true)),
      RB2(Radio("RB2", "GB2", "Self Powered", false)),
      CheckBox5(Check("CheckBox5", "GB3", "Use Fixed Serial Number", false)),
      CheckBox1(Check("CheckBox1", "GB9", "Enable USB Remote Wake Up", false)),
      CheckBox3(Check("CheckBox3", "GB8", "Enable Plug And Play", true)),
      CheckBox8(Check("CheckBox8", "GB4", "Disable USB Serial Number", false)),
      CheckBox11(Check("CheckBox11", "GB4", "Pull Down IO Pins in USB Suspend", false)),
      CheckBox6(Check("CheckBox6", "GB6", "Only Program Blank Devices", true)), Memo1("Memo1", ""),
      PageControl1("PageControl1", "", {"TabSheet1", "TabSheet2"}),
      TabSheet1("TabSheet1", "PageControl1", "KR3D Options"),
      TabSheet2("TabSheet2", "PageControl1", "KR4S"),
      GB10("GB10", "TabSheet1", " KR3D Device Options "),
      GroupBox2("GroupBox2", "GB10", "  Side A  "),
      GroupBox3("GroupBox3", "GroupBox2", " Hardware "),
      GroupBox4("GroupBox4", "GroupBox2", "Driver"), GroupBox5("GroupBox5", "GB10", "  Side B  "),
      GroupBox6("GroupBox6", "GroupBox5", " Hardware "),
      GroupBox7("GroupBox7", "GroupBox5", "Driver"),
      RB3(Radio("RB3", "GroupBox3", "RS232 UART", true)),
      RB4(Radio("RB4", "GroupBox3", "KRF FIFO", false)),
      RB5(Radio("RB5", "GroupBox3", "CPU FIFO ", false)),
      RB6(Radio("RB6", "GroupBox3", "OPTO Isolate", false)),
      RB7(Radio("RB7", "GroupBox4", "Virtual COM Port", true)),
      RB8(Radio("RB8", "GroupBox4", "Pipex Direct", false)),
      RB9(Radio("RB9", "GroupBox6", "RS232 UART", true)),
      RB10(Radio("RB10", "GroupBox6", "KRF FIFO", false)),
      RB11(Radio("RB11", "GroupBox6", "CPU FIFO ", false)),
      RB12(Radio("RB12", "GroupBox6", "OPTO Isolate", false)),
      RB13(Radio("RB13", "GroupBox7", "Virtual COM Port", true)),
      RB14(Radio("RB14", "GroupBox7", "Pipex Direct", false)),
      CB4(Check("CB4", "GroupBox2", "High Current I/O's", false)),
      CB5(Check("CB5", "GroupBox5", "High Current I/O's", false)), GB11("GB11", "TabSheet2", ""),
      GB12("GB12", "GB11", "Invert RS232 Signals"), GB13("GB13", "GB11", "I/O Controls"),
      GB14("GB14", "GB11", ""), CB6(Check("CB6", "GB12", "Invert TXD", false)),
      CB7(Check("CB7", "GB12", "Invert RXD", false)),
      CB8(Check("CB8", "GB12", "Invert RTS#", false)),
      CB9(Check("CB9", "GB12", "Invert CTS#", false)),
      CB10(Check("CB10", "GB12", "Invert DTR#", false)),
      CB11(Check("CB11", "GB12", "Invert DSR#", false)),
      CB12(Check("CB12", "GB12", "Invert DCD#", false)),
      CB13(Check("CB13", "GB12", "Invert RI#", false)), Label18("Label18", "GB13", "C0"),
      Label19("Label19", "GB13", "C1"), Label20("Label20", "GB13", "C2"),
      Label21("Label21", "GB13", "C3"), Label22("Label22", "GB13", "C4"),
      CBX1("CBX1", "GB13", PinSignals("RXF#"), -1, "TXDEN"),
      CBX2("CBX2", "GB13", PinSignals("TXE#"), -1, "TXLED#"),
      CBX3("CBX3", "GB13", PinSignals("RD#"), -1, "RXLED#"),
      CBX4("CBX4", "GB13", PinSignals("WR#"), -1, "PWRON#"),
      CBX5("CBX5", "GB13", PinC4Signals(), -1, "SLEEP#"),
      CB15(Check("CB15", "GB14", "Enable Ext Osc", false)),
      CB16(Check("CB16", "GB14", "High Current I/O's", false)),
      CB17(Check("CB17", "GB14", "Load Pipex driver", false)),
      Label17("Label17", "GB14", "IN Packet Size"),
      CBX6("CBX6", "GB14", {"64", "32", "16", "8", "4"}, 0),
      BWNew{"BWNew", "&New", "Ctrl+N", "Create New Programming Template", true},
      BWOpen{"BWOpen", "&Open", "Ctrl+O", "Open Existing Programming Template", true},
      BWEdit{"BWEdit", "E&dit", "Ctrl+D", "Edit Mode", false}, BWSave{"BWSave", "&Save", "Ctrl+S",
                                                                      "Save Template", false},
      BWSaveAs{"BWSaveAs", "Sa&ve As ...", "Ctrl+V", "Save Template As...", false},
      BWExit{"BWExit", "E&xit", "Ctrl+X", "Quit Application Program", true},
      BWScan{"BWScan", "S&can", "Ctrl+C", "Scan for Available Devices", true},
      BWErase{"BWErase", "&Erase", "Ctrl+E", "Erase All Existing Devices", false},
      BWProgram{"BWProgram", "&Program", "Ctrl+P", "Program All Existing Devices", false},
      BWHelp{"BWHelp", "&Help", "Ctrl+H", "HTML Help", true}, BWAbout{"BWAbout", "Help &About ..",
                                                                      "Ctrl+A", "Help - About",
                                                                      true},
      Read1{"Read1", "Read", "", "", true}, ReadandParse1{"ReadandParse1", "Read and Parse", "", "",
                                                          true},
      ToolButton11{"ToolButton11", "", "", "Cycle Device", true}, host_(host),
      paths_(std::move(paths)) {
    Memo1.Place = {8, 384, 457, 70};
    PageControl1.Place = {468, 0, 177, 457};

    // Shown only for the models that use them.
    GB10.Visible = false;
    GB11.Visible = false;
    // Stored in templates but never shown.
    CB15.Visible = false;
    CB15.Enabled = false;
    CBX6.Visible = false;
    Label17.Visible = false;

    controls_ = {
        &GB1,       &GB2,       &GB3,       &GB4,          &GB5,       &GB6,       &GB8,
        &GB9,       &Label13,   &CB1,       &Label14,      &CB2,       &Label1,    &Edit1,
        &Label2,    &Edit2,     &RB1,       &RB2,          &Label8,    &Edit9,     &Label9,
        &Label5,    &Edit5,     &CheckBox5, &Label6,       &Edit6,     &CheckBox1, &CheckBox3,
        &Label3,    &CB3,       &CheckBox8, &CheckBox11,   &Label12,   &Edit10,    &Label11,
        &Edit11,    &CheckBox6, &Memo1,     &PageControl1, &TabSheet1, &TabSheet2, &GB10,
        &GroupBox2, &GroupBox3, &GroupBox4, &GroupBox5,    &GroupBox6, &GroupBox7, &RB3,
        &RB4,       &RB5,       &RB6,       &CB4,          &RB7,       &RB8,       &RB9,
        &RB10,      &RB11,      &RB12,      &CB5,          &RB13,      &RB14,      &GB11,
        &GB12,      &GB13,      &GB14,      &CB6,          &CB7,       &CB8,       &CB9,
        &CB10,      &CB11,      &CB12,      &CB13,         &Label18,   &CBX1,      &Label19,
        &CBX2,      &Label20,   &CBX3,      &Label21,      &CBX4,      &Label22,   &CBX5,
        &CB15,      &CB16,      &CB17,      &Label17,      &CBX6};
    actions_ = {&BWNew,   &BWOpen,    &BWEdit, &BWSave,  &BWSaveAs, &BWExit,        &BWScan,
                &BWErase, &BWProgram, &BWHelp, &BWAbout, &Read1,    &ReadandParse1, &ToolButton11};

    // Each field's control, and its change rule.
    for (const app::Field& field : app::Fields()) {
        fieldControls_.push_back(FindControl(field.Control));
        SetFieldRule(*fieldControls_.back(), field);
    }

    // Creation: an empty message list.
    Memo1.Lines.clear();
    RememberSavedTemplate();
}

// ---- Lookup and notification --------------------------------------------------------------

Control* TMainForm::FindControl(std::string_view name) const {
    const auto found = std::find_if(controls_.begin(), controls_.end(),
                                    [name](const Control* c) { return c->Name == name; });
    return found == controls_.end() ? nullptr : *found;
}

Action* TMainForm::FindAction(std::string_view name) const {
    const auto found = std::find_if(actions_.begin(), actions_.end(),
                                    [name](const Action* a) { return a->Name == name; });
    return found == actions_.end() ? nullptr : *found;
}

void TMainForm::Notify(std::string_view name) {
    if (StateChanged) StateChanged(name);
}

bool TMainForm::IsUsable(const Control& control) const {
    const Control* current = &control;
    // Tab sheets are reachable whichever page is showing; the user can switch pages.
    for (int depth = 0; current != nullptr && depth < 16; ++depth) {
        if (!current->Enabled || !current->Visible) return false;
        if (current->Parent.empty()) return true;
        current = FindControl(current->Parent);
    }
    return current == nullptr;
}

void TMainForm::RunRule(Control& control) {
    if (control.Changed) control.Changed();
}

// ---- Changes made by code -----------------------------------------------------------------

void TMainForm::SetText(TextField& field, std::string_view text) {
    if (field.Text == text) return;
    field.Text = std::string(text);
    Notify(field.Name);
    RunRule(field);
}

void TMainForm::SetChecked(CheckControl& box, bool checked) {
    if (box.Checked == checked) return;
    box.Checked = checked;
    Notify(box.Name);
    if (box.Kind == ControlKind::Radio) {
        if (!checked) return; // a radio button's rule runs only when it becomes checked
        for (Control* other : controls_) {
            if (other != &box && other->Kind == ControlKind::Radio && other->Parent == box.Parent) {
                auto& sibling = static_cast<CheckControl&>(*other);
                if (sibling.Checked) {
                    sibling.Checked = false;
                    Notify(sibling.Name);
                }
            }
        }
    }
    RunRule(box);
}

void TMainForm::ChooseEntry(ListControl& list, int index) {
    if (index < 0 || index >= static_cast<int>(list.Items.size())) index = -1;
    list.ItemIndex = index;
    list.Text = index < 0 ? list.NoEntryText : list.Items[static_cast<std::size_t>(index)];
    Notify(list.Name);
}

void TMainForm::SetEnabled(Control& control, bool enabled) {
    if (control.Enabled == enabled) return;
    control.Enabled = enabled;
    Notify(control.Name);
}

void TMainForm::SetVisible(Control& control, bool visible) {
    if (control.Visible == visible) return;
    control.Visible = visible;
    Notify(control.Name);
}

void TMainForm::SetActionEnabled(Action& action, bool enabled) {
    if (action.Enabled == enabled) return;
    action.Enabled = enabled;
    Notify(action.Name);
}

void TMainForm::SetCaption(std::string_view caption) {
    if (Caption == caption) return;
    Caption = std::string(caption);
    Notify("Caption");
}

void TMainForm::SelectPage(int page) {
    if (page < 0 || page >= static_cast<int>(PageControl1.Pages.size())) return;
    if (PageControl1.ActivePage == page) return;
    PageControl1.ActivePage = page;
    Notify(PageControl1.Name);
}

void TMainForm::EnableAll(std::initializer_list<Control*> controls, bool enabled) {
    for (Control* control : controls)
        SetEnabled(*control, enabled);
}

// ---- User input ---------------------------------------------------------------------------

bool TMainForm::UserTypeText(std::string_view name, std::string_view text) {
    Control* control = FindControl(name);
    if (control == nullptr || control->Kind != ControlKind::Text || !IsUsable(*control))
        return false;
    // A single-line field keeps the first line of what is pasted into it.
    SetText(static_cast<TextField&>(*control),
            text.substr(0, text.find_first_of(std::string_view("\r\n\0", 3))));
    return true;
}

bool TMainForm::UserClick(std::string_view name) {
    Control* control = FindControl(name);
    if (control == nullptr || !IsUsable(*control)) return false;
    if (control->Kind == ControlKind::Check) {
        auto& box = static_cast<CheckControl&>(*control);
        SetChecked(box, !box.Checked);
        return true;
    }
    if (control->Kind == ControlKind::Radio) {
        SetChecked(static_cast<CheckControl&>(*control), true);
        return true;
    }
    return false;
}

bool TMainForm::UserChooseEntry(std::string_view name, int index) {
    Control* control = FindControl(name);
    if (control == nullptr || control->Kind != ControlKind::List || !IsUsable(*control))
        return false;
    auto& list = static_cast<ListControl&>(*control);
    if (index < 0 || index >= static_cast<int>(list.Items.size())) return false;
    ChooseEntry(list, index);
    RunRule(list);
    return true;
}

bool TMainForm::UserSelectPage(int page) {
    if (page < 0 || page >= static_cast<int>(PageControl1.Pages.size())) return false;
    SelectPage(page);
    return true;
}

bool TMainForm::UserExecute(std::string_view actionName) {
    Action* action = FindAction(actionName);
    if (action == nullptr || !action->Enabled) return false;
    if (action == &BWNew)
        BWNewExecute();
    else if (action == &BWOpen)
        BWOpenExecute();
    else if (action == &BWSave)
        BWSaveExecute();
    else if (action == &BWSaveAs)
        BWSaveAsExecute();
    else if (action == &BWEdit)
        BWEditExecute();
    else if (action == &BWExit)
        BWExitExecute();
    else if (action == &BWHelp)
        BWHelpExecute();
    else if (action == &BWAbout)
        BWAboutExecute();
    else if (action == &BWScan)
        BWScanExecute();
    else if (action == &BWErase)
        BWEraseExecute();
    else if (action == &BWProgram)
        BWProgramExecute();
    else if (action == &Read1)
        Read1Click();
    else if (action == &ReadandParse1)
        ReadandParse1Click();
    else if (action == &ToolButton11)
        ToolButton11Click();
    else
        return false;
    return true;
}

// ---- Reporter -----------------------------------------------------------------------------

void TMainForm::AppendLine(std::string_view line) {
    Memo1.Lines.emplace_back(line);
    Notify(Memo1.Name);
}

void TMainForm::ClearLines() {
    if (Memo1.Lines.empty()) return;
    Memo1.Lines.clear();
    Notify(Memo1.Name);
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
    ChooseEntry(CB1, static_cast<int>(ChipType::None));
    ChooseEntry(CB2, 0);
    ChooseEntry(CB3, 1);
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
    for (Action* action : {&BWSave, &BWSaveAs, &BWEdit, &BWProgram, &BWErase})
        SetActionEnabled(*action, false);
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
    SetActionEnabled(BWEdit, true);
    SetActionEnabled(BWProgram, true);
    UpdateEraseAvailability();
    SetCaption(ProgramModeCaption);
    SetActionEnabled(BWSave, false);
    SetActionEnabled(BWSaveAs, false);
}

void TMainForm::EnterProgramMode() {
    SetActionEnabled(BWSave, false);
    SetActionEnabled(BWSaveAs, false);
    SetActionEnabled(BWProgram, true);
    UpdateEraseAvailability();
    SetActionEnabled(BWEdit, true);
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
    SetActionEnabled(BWSaveAs, true);
    SetActionEnabled(BWProgram, false);
    SetActionEnabled(BWErase, false);
    SetActionEnabled(BWEdit, false);
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
    EnableAll({&GB1, &GB2, &GB3, &GB4, &GB5, &GB6, &GB8, &GB9, &GB10, &GB11, &GB12, &GB13, &GB14},
              enabled);
}

void TMainForm::UpdateEraseAvailability() {
    const codec::ChipModel& model =
        codec::ChipModelOf(CurrentTemplate().Model.value_or(codec::ChipType::None));
    SetActionEnabled(BWErase, model.Has(codec::Erasable));
}

} // namespace burnwise::ui
