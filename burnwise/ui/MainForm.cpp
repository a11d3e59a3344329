#include "burnwise/ui/MainForm.h"

#include "burnwise/codec/ChipModels.h"
#include "burnwise/codec/NumberReaders.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace burnwise::ui {
namespace {

using codec::ChipType;

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

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
    return text;
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

std::optional<int> ParseTemplateInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::uint64_t value = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        for (const char c : text) {
            int digit = -1;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            if (digit < 0) return std::nullopt;
            value = value * 16 + static_cast<unsigned>(digit);
            if (value > 0xFFFFFFFFu) return std::nullopt;
        }
        // Hexadecimal fills all 32 bits: 0xFFFFFFFF is -1.
        const auto bits = static_cast<std::uint32_t>(negative ? (0u - value) : value);
        return static_cast<int>(static_cast<std::int32_t>(bits));
    }
    if (text.empty()) return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 0x80000000u) return std::nullopt;
    }
    if (!negative && value > 0x7FFFFFFFu) return std::nullopt;
    return static_cast<int>(negative ? -static_cast<std::int64_t>(value)
                                     : static_cast<std::int64_t>(value));
}

std::optional<long> ParseStrictDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 0x80000000L) return std::nullopt;
    }
    if (!negative && value > 0x7FFFFFFFL) return std::nullopt;
    return negative ? -value : value;
}

TMainForm::TMainForm(codec::CodecState& state, device::RunFlags& flags, FormHost& host,
                     FormPaths paths)
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
      CB1("CB1", "GB1", {"None", "KR1S", "KR1F", "KR2S", "KR2F", "KR3D", "KR4S", "KR4F", "KR3E"},
          0),
      CB2("CB2", "GB1", {"Velquor Default", "Velquor Supplied PID", "Own VID & PID"}, -1),
      CB3("CB3", "GB4", {"USB 1.1", "USB 2.0"}, -1), Edit1("Edit1", "GB1", "3C5A"),
      Edit2("Edit2", "GB1", "71A0"), Edit9("Edit9", "GB2", "100"), Edit5("Edit5", "GB3", "VQ"),
      Edit6("Edit6", "GB3", "00000001"), Edit10("Edit10", "GB5", "Velquor"),
      Edit11("Edit11", "GB5", "USB <-> Serial cable"),
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
      ToolButton11{"ToolButton11", "", "", "Cycle Device", true}, state_(state), flags_(flags),
      host_(host), paths_(std::move(paths)) {
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

    using K = TemplateValueKind;
    rows_ = {
        {"Basic Details", "Device Type", K::Index, &CB1},
        {"Basic Details", "VID PID Type", K::Index, &CB2},
        {"Basic Details", "USB VID", K::Text, &Edit1},
        {"Basic Details", "USB PID", K::Text, &Edit2},
        {"USB Power Options", "Bus Powered", K::Flag, &RB1},
        {"USB Power Options", "Self Powered", K::Flag, &RB2},
        {"USB Power Options", "Max Bus Power", K::Text, &Edit9},
        {"USB Serial Number Control", "Prefix", K::Text, &Edit5},
        {"USB Serial Number Control", "Use Fixed Serial Number", K::Flag, &CheckBox5},
        {"USB Serial Number Control", "Fixed Serial Number", K::Text, &Edit6},
        {"USB Remote WakeUp", "Enable Remote WakeUp", K::Flag, &CheckBox1},
        {"Windows Plug and Play", "Enable Plug and Play", K::Flag, &CheckBox3},
        {"USB String Descriptors", "Manufacturer", K::Text, &Edit10},
        {"USB String Descriptors", "Product", K::Text, &Edit11},
        {"Programming Options", "Only Program Blank Devices", K::Flag, &CheckBox6},
        {"KR2 Device Specific Options", "USB Version Number", K::Index, &CB3},
        {"KR2 Device Specific Options", "Disable Serial Number", K::Flag, &CheckBox8},
        {"KR2 Device Specific Options", "IO Pin Pull Down in Suspend", K::Flag, &CheckBox11},
        {"Dual Device Specific Options A", "RS 232 mode", K::Flag, &RB3},
        {"Dual Device Specific Options A", "KRF FIFO mode", K::Flag, &RB4},
        {"Dual Device Specific Options A", "KRF CPU FIFO mode", K::Flag, &RB5},
        // Templates have always kept side A's driver choice under this key; side A's
        // OPTO Isolate choice is not stored at all.
        {"Dual Device Specific Options A", "OPTO Isolate mode", K::Flag, &RB7},
        {"Dual Device Specific Options A", "High Current Drive", K::Flag, &CB4},
        {"Dual Device Specific Options B", "RS 232 mode", K::Flag, &RB9},
        {"Dual Device Specific Options B", "KRF FIFO mode", K::Flag, &RB10},
        {"Dual Device Specific Options B", "KRF CPU FIFO mode", K::Flag, &RB11},
        {"Dual Device Specific Options B", "OPTO Isolate mode", K::Flag, &RB12},
        {"Dual Device Specific Options B", "High Current Drive", K::Flag, &CB5},
        {"Dual Device Driver Options A", "Virtual Com Port Driver", K::Flag, &RB7},
        {"Dual Device Driver Options A", "Pipex Driver", K::Flag, &RB8},
        {"Dual Device Driver Options B", "Virtual Com Port Driver", K::Flag, &RB13},
        {"Dual Device Driver Options B", "Pipex Driver", K::Flag, &RB14},
        {"KR4 Device Specific Options", "Invert TXD", K::Flag, &CB6},
        {"KR4 Device Specific Options", "Invert RXD", K::Flag, &CB7},
        {"KR4 Device Specific Options", "Invert RTS#", K::Flag, &CB8},
        {"KR4 Device Specific Options", "Invert CTS#", K::Flag, &CB9},
        {"KR4 Device Specific Options", "Invert DTR#", K::Flag, &CB10},
        {"KR4 Device Specific Options", "Invert DSR#", K::Flag, &CB11},
        {"KR4 Device Specific Options", "Invert DCD#", K::Flag, &CB12},
        {"KR4 Device Specific Options", "Invert RI#", K::Flag, &CB13},
        {"KR4 Device Specific Options", "C0 Signal", K::Index, &CBX1},
        {"KR4 Device Specific Options", "C1 Signal", K::Index, &CBX2},
        {"KR4 Device Specific Options", "C2 Signal", K::Index, &CBX3},
        {"KR4 Device Specific Options", "C3 Signal", K::Index, &CBX4},
        {"KR4 Device Specific Options", "C4 Signal", K::Index, &CBX5},
        {"KR4 Device Specific Options", "Enable Ext Osc", K::Flag, &CB15},
        {"KR4 Device Specific Options", "High Current I/O", K::Flag, &CB16},
        {"KR4 Device Specific Options", "Load Pipex Driver", K::Flag, &CB17},
        {"KR4 Device Specific Options", "In EndPoint Size", K::Index, &CBX6},
    };

    // The change rules.
    const auto modelRule = [this] {
        ApplyDeviceTypeRules();
        CommonChange(true, false, false);
    };
    CB1.Changed = modelRule;
    CB2.Changed = modelRule;
    RB1.Changed = [this] {
        SetText(Edit9, "100");
        CommonChange(true, false, false);
    };
    RB2.Changed = [this] {
        SetText(Edit9, "0");
        CommonChange(true, false, false);
    };
    CheckBox5.Changed = [this] {
        ApplyDeviceTypeRules();
        CommonChange(false, false, false);
    };
    Edit1.Changed = [this] {
        CommonChange(true, true, true);
        VendorIdCheck();
    };
    Edit2.Changed = [this] { CommonChange(true, true, true); };
    Edit9.Changed = [this] {
        CommonChange(false, false, true);
        CurrentCheck();
    };
    for (TextField* text : {&Edit5, &Edit6, &Edit10, &Edit11}) {
        text->Changed = [this] {
            CheckStringTotal();
            CommonChange(false, false, true);
        };
    }
    for (Control* option : std::initializer_list<Control*>{
             &CheckBox1, &CheckBox3, &CB3,  &CheckBox8, &CheckBox11, &RB3,  &RB4,  &RB5,  &RB6,
             &RB7,       &RB8,       &RB9,  &RB10,      &RB11,       &RB12, &RB13, &RB14, &CB4,
             &CB5,       &CB6,       &CB7,  &CB8,       &CB9,        &CB10, &CB11, &CB12, &CB13,
             &CBX1,      &CBX2,      &CBX3, &CBX4,      &CBX5,       &CBX6, &CB15, &CB16, &CB17}) {
        option->Changed = [this] { CommonChange(false, false, true); };
    }
    CheckBox6.Changed = [this] {
        if (!fileName_.empty()) SetActionEnabled(BWSave, true);
        flags_.OnlyBlankDevices = CheckBox6.Checked;
    };

    // Creation: an empty message list, and the programming option as the box shows it.
    Memo1.Lines.clear();
    flags_.OnlyBlankDevices = CheckBox6.Checked;
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
    list.Text = index < 0 ? std::string() : list.Items[static_cast<std::size_t>(index)];
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
    else
        return false; // the device commands belong to the device operations
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
    host_.ShowErrorBox(text);
}

void TMainForm::ShowInformation(std::string_view text) {
    host_.ShowInformationBox(text);
}

void TMainForm::DeviceProgress(int position, int count) {
    if (DeviceProgressChanged) DeviceProgressChanged(position, count);
}

// ---- Start-up and actions -----------------------------------------------------------------

void TMainForm::FormShow() {
    ChooseEntry(CB1, static_cast<int>(ChipType::None));
    ChooseEntry(CB2, 0);
    ChooseEntry(CB3, 1);
    DisableAllFields();
    host_.ProcessPendingEvents();
}

void TMainForm::BWNewExecute() {
    ChooseEntry(CB1, static_cast<int>(ChipType::None));
    ChooseEntry(CB2, 0);
    ChooseEntry(CB3, 1);

    SetText(Edit1, "3C5A");
    SetText(Edit2, "71A0");
    SetText(Edit9, "100");
    SetText(Edit5, "VQ");
    SetText(Edit6, "12345678");
    SetText(Edit10, "Velquor");
    SetText(Edit11, "USB <-> Serial Cable");

    SetChecked(RB1, true);
    SetChecked(CheckBox8, false);
    flags_.SerialNumberDisabled = false;
    SetChecked(CheckBox11, false);
    SetChecked(CheckBox5, false);
    SetChecked(CheckBox1, false);
    SetChecked(CheckBox3, true);
    SetChecked(CheckBox6, true);

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
}

void TMainForm::BWOpenExecute() {
    FileDialogOptions options;
    options.Filter = TemplateFilter;
    options.DefaultExtension = TemplateExtension;
    options.InitialFolder = paths_.TemplatesFolder;
    options.FileMustExist = true;
    if (const auto chosen = host_.RunOpenDialog(options)) {
        fileName_ = *chosen;
        ReadTemplate(fileName_);
        host_.ProcessPendingEvents();
    }
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
    // The internal-EEPROM family cannot be erased; the test goes by the list's text.
    SetActionEnabled(BWErase, CB1.Text != "KR4S" && CB1.Text != "KR4F");
}

// ---- Field rules --------------------------------------------------------------------------

void TMainForm::CommonChange(bool saveAsOn, bool eraseOff, bool editCaption) {
    if (!fileName_.empty()) SetActionEnabled(BWSave, true);
    if (saveAsOn) SetActionEnabled(BWSaveAs, true);
    SetActionEnabled(BWProgram, false);
    if (eraseOff) SetActionEnabled(BWErase, false);
    if (editCaption) SetCaption(EditModeCaption);
}

void TMainForm::VendorIdCheck() {
    if (Edit1.Text != "0000") return;
    ShowInformation("All zeros is an invalid VID");
    SetText(Edit1, "3C5A");
}

void TMainForm::CurrentCheck() {
    if (Edit9.Text.empty()) return;
    const auto current = ParseStrictDecimal(Edit9.Text);
    if (!current) {
        ShowError("'" + Edit9.Text + "' is not a valid integer value");
        return;
    }
    if (*current > 500) {
        ShowInformation("Max current exceeded - setting to 500mA");
        SetText(Edit9, "500");
    }
}

void TMainForm::DisableAllFields() {
    // Power, serial, wake-up, Plug and Play, KR2 options and strings.
    EnableAll({&RB1,       &RB2,        &Edit9,   &Label8,    &Label9,    &Label5, &Edit5,
               &CheckBox5, &Label6,     &Edit6,   &CheckBox1, &CheckBox3, &Label3, &CB3,
               &CheckBox8, &CheckBox11, &Label12, &Edit10,    &Label11,   &Edit11},
              false);
    // Basic.
    EnableAll({&Label13, &CB1, &Label14, &CB2, &Label1, &Edit1, &Label2, &Edit2, &CheckBox6},
              false);
    // Dual-channel options.
    SetVisible(GB10, false);
    EnableAll(
        {&RB3, &RB4, &RB5, &RB6, &RB7, &RB8, &RB9, &RB10, &RB11, &RB12, &RB13, &RB14, &CB4, &CB5},
        false);
    // KR4 options.
    SetVisible(GB11, false);
    EnableAll({&CB6, &CB7, &CB8, &CB9, &CB10, &CB11, &CB12, &CB13, &CB15, &CB16, &CB17, &CBX1,
               &CBX2, &CBX3, &CBX4, &CBX5},
              false);
    SelectPage(0);
}

void TMainForm::ApplyDeviceTypeRules() {
    state_.Selectors.Clear();
    DisableAllFields();
    EnableAll({&Label13, &CB1, &CheckBox6}, true);

    const int index = CB1.ItemIndex;
    if (index <= static_cast<int>(ChipType::None) ||
        index >= static_cast<int>(codec::ChipModels.size()))
        return;
    const codec::ChipModel& model = codec::ChipModels[static_cast<std::size_t>(index)];

    EnableAll({&Label1, &Edit1, &Label2, &Edit2, &Label14, &CB2}, true);
    switch (CB2.ItemIndex) {
    case 0: // Velquor Default
        SetText(Edit1, "3C5A");
        SetText(Edit2, model.Family == codec::ChipFamily::KR3 ? "71B0" : "71A0");
        host_.ProcessPendingEvents();
        EnableAll({&Label1, &Edit1, &Label2, &Edit2}, false);
        break;
    case 1: // Velquor Supplied PID
        SetText(Edit1, "3C5A");
        host_.ProcessPendingEvents();
        EnableAll({&Label1, &Edit1}, false);
        break;
    case 2: // Own VID & PID
        host_.ProcessPendingEvents();
        break;
    default:
        break;
    }

    const ChipType type = model.Type;
    const bool kr1f = type == ChipType::KR1F;
    const bool kr4 = model.Family == codec::ChipFamily::KR4;

    // Power and strings for every model.
    EnableAll({&RB1, &RB2, &Edit9, &Label8, &Label9, &Label12, &Edit10, &Label11, &Edit11}, true);
    // Serial: a prefix and a fixed serial number are never editable together.
    SetEnabled(CheckBox5, true);
    EnableAll({&Label6, &Edit6}, CheckBox5.Checked);
    EnableAll({&Label5, &Edit5}, !CheckBox5.Checked);
    if (!kr1f) SetEnabled(CheckBox1, true);
    if (type == ChipType::KR1S || type == ChipType::KR2S) SetEnabled(CheckBox3, true);

    switch (model.Family) {
    case codec::ChipFamily::KR2:
        EnableAll({&Label3, &CB3, &CheckBox8, &CheckBox11}, true);
        break;
    case codec::ChipFamily::KR3: {
        SetVisible(GB10, true);
        const bool cpuFifo = CB1.Text == "KR3E";
        SetVisible(RB5, cpuFifo);
        SetVisible(RB11, cpuFifo);
        EnableAll({&Label3, &CB3, &CheckBox8, &CheckBox11, &RB3, &RB4, &RB5, &RB6, &RB7, &RB8, &RB9,
                   &RB10, &RB11, &RB12, &RB13, &RB14, &CB4, &CB5},
                  true);
        SelectPage(0);
        break;
    }
    case codec::ChipFamily::KR4:
        SetVisible(GB11, true);
        if (type == ChipType::KR4S) {
            SetVisible(GB12, true);
            EnableAll({&Label3, &CB3,  &CheckBox3, &CheckBox8, &CheckBox11, &CB6,  &CB7,
                       &CB8,    &CB9,  &CB10,      &CB11,      &CB12,       &CB13, &CB15,
                       &CB16,   &CB17, &CBX1,      &CBX2,      &CBX3,       &CBX4, &CBX5},
                      true);
        } else {
            // The FIFO model has fixed pins and no RS232 signals to invert.
            SetVisible(GB12, false);
            EnableAll({&Label3, &CB3}, true);
            SetChecked(CheckBox3, false);
            SetEnabled(CheckBox3, false);
            EnableAll({&CheckBox8, &CheckBox11, &CB6, &CB7, &CB8, &CB9, &CB10, &CB11, &CB12, &CB13,
                       &CB15, &CB16, &CB17},
                      true);
            EnableAll({&CBX1, &CBX2, &CBX3, &CBX4, &CBX5}, false);
        }
        if (TabSheet2.Caption != model.ListText) {
            TabSheet2.Caption = std::string(model.ListText);
            Notify(TabSheet2.Name);
        }
        SelectPage(1);
        break;
    default:
        break;
    }

    state_.Selectors = model.Selectors;

    if (kr4) {
        // The KR4 family has no blank state to tell apart.
        SetEnabled(CheckBox6, false);
        SetChecked(CheckBox6, false);
    }
}

bool TMainForm::ValidateTemplate() {
    bool valid = true;
    const auto fail = [&](std::string_view line) {
        AppendLine(line);
        valid = false;
    };
    if (CheckBox5.Checked) {
        if (Edit6.Text.empty())
            fail("ERROR : If you want a fixed serial number you must provide one");
    } else if (Edit5.Text.empty()) {
        fail("ERROR : You must fill in the Serial Number Prefix field with 2 characters");
    }
    if (Edit10.Text.empty()) fail("ERROR : You must fill in Manufacturer Name");
    if (Edit11.Text.empty()) fail("ERROR : You must fill in Product Description");
    if (Edit9.Text.empty()) fail("ERROR : You must fill in current used from USB (0-500mA)");
    if (CB1.ItemIndex == static_cast<int>(ChipType::None))
        fail("ERROR : You must select a valid device type");
    return valid;
}

bool TMainForm::CheckStringTotal() {
    const std::size_t serial = CheckBox5.Checked ? Edit6.Text.size() : 8;
    const std::size_t total = Edit10.Text.size() + Edit5.Text.size() + Edit11.Text.size() + serial;
    if (total > MaxStringTotal) {
        AppendLine("ERROR - Total String Length exceeds maximum. - The total no of characters "
                   "for Manufacturer,  - Description and Serial Number has to be less - than " +
                   std::to_string(MaxStringTotal));
        return false;
    }
    ClearLines();
    return true;
}

// ---- Template file ------------------------------------------------------------------------

std::vector<TemplateValue> TMainForm::TemplateValues() const {
    std::vector<TemplateValue> values;
    values.reserve(rows_.size());
    for (const TemplateRow& row : rows_) {
        std::string value;
        switch (row.Kind) {
        case TemplateValueKind::Index:
            value = std::to_string(static_cast<const ListControl*>(row.Target)->ItemIndex);
            break;
        case TemplateValueKind::Flag:
            value = static_cast<const CheckControl*>(row.Target)->Checked ? "1" : "0";
            break;
        case TemplateValueKind::Text:
            value = static_cast<const TextField*>(row.Target)->Text;
            break;
        }
        values.push_back({row.Section, row.Key, std::move(value)});
    }
    return values;
}

bool TMainForm::WriteTemplate(const std::filesystem::path& fileName) {
    std::error_code error;
    ProfileFile file;
    if (std::filesystem::exists(fileName, error)) {
        // Foreign sections of an existing file must survive, so it has to be readable.
        auto existing = ProfileFile::Load(fileName, error);
        if (!existing) {
            ShowError("Unable to write to " + fileName.string());
            return false;
        }
        file = std::move(*existing);
    }
    for (const TemplateValue& value : TemplateValues())
        file.Write(value.Section, value.Key, value.Value);
    if (!ReplaceFileAtomically(fileName, file.Serialize(), error)) {
        ShowError("Unable to write to " + fileName.string());
        return false;
    }
    return true;
}

void TMainForm::ReadTemplate(const std::filesystem::path& fileName) {
    std::error_code error;
    const auto file = ProfileFile::Load(fileName, error);
    ReadTemplate(file ? *file : ProfileFile());
}

void TMainForm::ReadTemplate(const ProfileFile& file) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const TemplateRow& row = rows_[i];
        const std::optional<std::string> value = file.Read(row.Section, row.Key);
        switch (row.Kind) {
        case TemplateValueKind::Index:
            ChooseEntry(*static_cast<ListControl*>(row.Target),
                        value ? ParseTemplateInteger(*value).value_or(0) : 0);
            break;
        case TemplateValueKind::Flag:
            SetChecked(*static_cast<CheckControl*>(row.Target),
                       (value ? ParseTemplateInteger(*value).value_or(0) : 0) != 0);
            break;
        case TemplateValueKind::Text:
            SetText(*static_cast<TextField*>(row.Target), value.value_or(std::string()));
            break;
        }
        if (row.Target == &CheckBox8) flags_.SerialNumberDisabled = CheckBox8.Checked;
    }
    ApplyDeviceTypeRules();
}

// ---- Gathering and showing settings ---------------------------------------------------

void TMainForm::GatherSettings(int deviceNumber) {
    using codec::Bool8;
    codec::EepromSettings& s = state_.Settings;
    const codec::FamilySelectors& selectors = state_.Selectors;
    s.Reset();

    const auto on = [](const CheckControl& box) { return box.Checked; };
    const auto onWhileEnabled = [](const CheckControl& box) { return box.Enabled && box.Checked; };

    s.VendorId = static_cast<std::uint16_t>(codec::ReadHexadecimal(Edit1.Text));
    s.ProductId = static_cast<std::uint16_t>(codec::ReadHexadecimal(Edit2.Text));
    // Each buffer holds 63 characters and its zero; a longer text is cut.
    codec::SetText(s.Manufacturer, Edit10.Text);
    codec::SetText(s.SerialPrefix, Edit5.Text);
    codec::SetText(s.ProductDescription, Edit11.Text);
    if (CheckBox5.Checked) {
        codec::SetText(s.SerialNumber, Edit6.Text);
        const std::size_t length = codec::TextOf(s.SerialNumber).size();
        if (length > 0) {
            // Each device of a run advances the last character only, without carry.
            char& last = s.SerialNumber[length - 1];
            last = static_cast<char>(static_cast<unsigned char>(last) +
                                     static_cast<unsigned>(deviceNumber));
        }
    }
    s.MaxPowerMilliAmps = static_cast<std::uint16_t>(codec::ReadDecimal(Edit9.Text));
    s.PlugAndPlay = onWhileEnabled(CheckBox3);
    s.SelfPowered = on(RB2);
    s.RemoteWakeup = onWhileEnabled(CheckBox1);

    const Bool8 pullDown = onWhileEnabled(CheckBox11);
    const bool serialOff = onWhileEnabled(CheckBox8);
    const std::uint16_t usbVersion =
        static_cast<std::uint16_t>(codec::ReadHexadecimal(CB3.Text == "USB 2.0" ? "0200" : "0110"));

    if (selectors.Kr2Selected) {
        s.Kr2Present = 1;
        s.Kr2PullDownInSuspend = pullDown;
        s.Kr2SerialNumberEnable = !serialOff;
        s.Kr2UsbVersionEnable = 1;
        s.Kr2UsbVersion = usbVersion;
        flags_.SerialNumberDisabled = serialOff;
    } else if (selectors.Kr3Selected) {
        s.Kr3Present = 1;
        s.Kr3PullDownInSuspend = pullDown;
        s.Kr3SerialNumberEnable = !serialOff;
        s.Kr3UsbVersionEnable = 0;
        s.Kr3UsbVersion = usbVersion;
        s.SideAHighCurrent = on(CB4);
        s.SideBHighCurrent = on(CB5);
        s.SideAFifo = on(RB4);
        s.SideACpuFifo = on(RB5);
        s.SideAOptoIsolate = on(RB6);
        s.SideAVirtualComPort = on(RB7);
        s.SideBFifo = on(RB10);
        s.SideBCpuFifo = on(RB11);
        s.SideBOptoIsolate = on(RB12);
        s.SideBVirtualComPort = on(RB13);
        flags_.SerialNumberDisabled = serialOff;
    } else if (selectors.Kr4Selected) {
        s.Kr4Present = 1;
        s.Kr4PullDownInSuspend = pullDown;
        s.Kr4SerialNumberEnable = !serialOff;
        s.Kr4IsFifo = CB1.Text == "KR4F";
        s.Kr4HighCurrentIo = on(CB16);
        s.Kr4LoadPipexDriver = on(CB17);
        s.Kr4ExternalOscillator = on(CB15);
        s.InvertTxd = on(CB6);
        s.InvertRxd = on(CB7);
        s.InvertRts = on(CB8);
        s.InvertCts = on(CB9);
        s.InvertDtr = on(CB10);
        s.InvertDsr = on(CB11);
        s.InvertDcd = on(CB12);
        s.InvertRi = on(CB13);
        s.InEndpointSize = static_cast<std::uint8_t>(codec::ReadDecimal(CBX6.Text));
        // A pin list with no entry chosen programs the signal it shows, never the
        // out-of-range index -1.
        const auto signal = [](const ListControl& list) {
            if (list.ItemIndex >= 0) return static_cast<std::uint8_t>(list.ItemIndex);
            const auto shown = std::find(list.Items.begin(), list.Items.end(), list.Text);
            return static_cast<std::uint8_t>(
                shown == list.Items.end() ? 0 : shown - list.Items.begin());
        };
        s.C0Signal = signal(CBX1);
        s.C1Signal = signal(CBX2);
        s.C2Signal = signal(CBX3);
        s.C3Signal = signal(CBX4);
        s.C4Signal = signal(CBX5);
        flags_.SerialNumberDisabled = serialOff;
    }
}

void TMainForm::PutIntoWindow(codec::EepromSettings& settings, codec::FamilySelectors& selectors) {
    using codec::TextOf;
    SetActionEnabled(BWSaveAs, true);
    SetActionEnabled(BWProgram, false);

    SetText(Edit1, Hex4(settings.VendorId));
    SetText(Edit2, Hex4(settings.ProductId));
    SetText(Edit10, TextOf(settings.Manufacturer));
    SetText(Edit11, TextOf(settings.ProductDescription));
    SetText(Edit6, TextOf(settings.SerialNumber));

    // The prefix shown is the first two characters of the serial number.
    if (settings.SerialPrefix.size() >= 2 && settings.SerialNumber.size() >= 2) {
        settings.SerialPrefix[0] = settings.SerialNumber[0];
        settings.SerialPrefix[1] = settings.SerialNumber[1];
    }
    SetText(Edit5, TextOf(settings.SerialPrefix));

    // The power buttons go first: checking one resets the current field, which must end
    // up showing the device's value.
    SetChecked(settings.SelfPowered != 0 ? RB2 : RB1, true);
    SetText(Edit9, std::to_string(settings.MaxPowerMilliAmps));
    SetChecked(CheckBox1, settings.RemoteWakeup != 0);
    SetChecked(CheckBox3, settings.PlugAndPlay != 0);

    ChooseEntry(CB1, static_cast<int>(ChipType::KR1S));

    const auto usbVersionEntry = [](std::uint16_t version) {
        return Hex4(version) == "0200" ? 1 : 0;
    };

    if (selectors.Kr2Selected) {
        SetChecked(CheckBox11, settings.Kr2PullDownInSuspend != 0);
        SetChecked(CheckBox8, settings.Kr2SerialNumberEnable == 0);
        flags_.SerialNumberDisabled = settings.Kr2SerialNumberEnable == 0;
        ChooseEntry(CB1, static_cast<int>(ChipType::KR2S));
        ChooseEntry(CB3, usbVersionEntry(settings.Kr2UsbVersion));
    }
    if (selectors.Kr3Selected) {
        ChooseEntry(CB1, static_cast<int>(ChipType::KR3D));
        ChooseEntry(CB3, usbVersionEntry(settings.Kr3UsbVersion));
        SetChecked(CheckBox11, settings.Kr3PullDownInSuspend != 0);
        SetChecked(CheckBox8, settings.Kr3SerialNumberEnable == 0);
        flags_.SerialNumberDisabled = settings.Kr3SerialNumberEnable == 0;
        SetChecked(CB4, settings.SideAHighCurrent != 0);
        SetChecked(CB5, settings.SideBHighCurrent != 0);
        SetChecked(RB3, true);
        if (settings.SideAFifo) SetChecked(RB4, true);
        if (settings.SideACpuFifo) SetChecked(RB5, true);
        if (settings.SideAOptoIsolate) SetChecked(RB6, true);
        SetChecked(settings.SideAVirtualComPort ? RB7 : RB8, true);
        SetChecked(RB9, true);
        if (settings.SideBFifo) SetChecked(RB10, true);
        if (settings.SideBCpuFifo) SetChecked(RB11, true);
        if (settings.SideBOptoIsolate) SetChecked(RB12, true);
        SetChecked(settings.SideBVirtualComPort ? RB13 : RB14, true);
    }
    if (selectors.Kr4Selected) {
        // Every option box follows the device, unchecked ones included, so nothing of the
        // template shown before is left behind.
        const std::pair<CheckControl*, codec::Bool8> inverts[] = {
            {&CB6, settings.InvertTxd},  {&CB7, settings.InvertRxd},  {&CB8, settings.InvertRts},
            {&CB9, settings.InvertCts},  {&CB10, settings.InvertDtr}, {&CB11, settings.InvertDsr},
            {&CB12, settings.InvertDcd}, {&CB13, settings.InvertRi}};
        for (const auto& [box, value] : inverts)
            SetChecked(*box, value != 0);
        if (settings.Kr4IsFifo) {
            ChooseEntry(CB1, static_cast<int>(ChipType::KR4F));
            selectors.Kr4FifoSelected = true;
            // The FIFO model's pins are fixed: C0 to C3 carry the FIFO signals, C4 PWRON#.
            for (ListControl* pin : {&CBX1, &CBX2, &CBX3, &CBX4})
                ChooseEntry(*pin, 13);
            ChooseEntry(CBX5, 1);
            settings.C0Signal = settings.C1Signal = settings.C2Signal = settings.C3Signal =
                settings.C4Signal = 0;
        } else {
            ChooseEntry(CB1, static_cast<int>(ChipType::KR4S));
            selectors.Kr4FifoSelected = false;
            ChooseEntry(CBX1, settings.C0Signal);
            ChooseEntry(CBX2, settings.C1Signal);
            ChooseEntry(CBX3, settings.C2Signal);
            ChooseEntry(CBX4, settings.C3Signal);
            ChooseEntry(CBX5, settings.C4Signal);
        }
        SetChecked(CB15, settings.Kr4ExternalOscillator != 0);
        SetChecked(CB16, settings.Kr4HighCurrentIo != 0);
        SetChecked(CB17, settings.Kr4LoadPipexDriver != 0);
        const std::string size = std::to_string(settings.InEndpointSize);
        const auto entry = std::find(CBX6.Items.begin(), CBX6.Items.end(), size);
        ChooseEntry(CBX6,
                    entry == CBX6.Items.end() ? -1 : static_cast<int>(entry - CBX6.Items.begin()));
    }
}

void TMainForm::ShowParsedDeviceType(const codec::EepromSettings& settings,
                                     const codec::FamilySelectors& selectors) {
    EnableAll({&CB1, &CB2, &Edit1, &Edit2}, true);

    ChipType type = ChipType::KR4S;
    if (settings.Kr3Present)
        type = ChipType::KR3D;
    else if (settings.Kr2Present)
        type = ChipType::KR2S;
    else if (!settings.Kr4Present)
        type = ChipType::KR1S;
    else if (selectors.Kr4FifoSelected)
        type = ChipType::KR4F;
    ChooseEntry(CB1, static_cast<int>(type));

    if (settings.VendorId == 0x3C5A) {
        ChooseEntry(CB2, 1);
        const std::uint16_t defaultPid = settings.Kr3Present ? 0x71B0 : 0x71A0;
        if (settings.ProductId == defaultPid) ChooseEntry(CB2, 0);
    } else {
        ChooseEntry(CB2, 2);
        SetText(Edit1, Hex4(settings.VendorId));
        SetText(Edit2, Hex4(settings.ProductId));
    }
    host_.ProcessPendingEvents();
    EnableAll({&CB1, &CB2, &Edit1, &Edit2}, false);
}

} // namespace burnwise::ui
