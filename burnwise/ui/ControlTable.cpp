#include "burnwise/ui/ControlTable.h"

#include "burnwise/codec/ChipModels.h"
#include "burnwise/ui/MainForm.h"

namespace burnwise::ui {
namespace {

using K = ControlKind;
using P = ControlPurpose;

std::vector<std::string> ModelEntries() {
    std::vector<std::string> texts;
    for (const codec::ChipModel& model : codec::ChipModels)
        texts.emplace_back(model.ListText);
    return texts;
}

std::vector<std::string> VidPidEntries() {
    return {"Velquor Default", "Velquor Supplied PID", "Own VID & PID"};
}

std::vector<std::string> UsbVersionEntries() {
    return {"USB 1.1", "USB 2.0"};
}

// C0 to C3 end with the signal the FIFO model fixes on the pin.
template <int Pin>
std::vector<std::string> PinEntries() {
    constexpr const char* FifoSignals[] = {"RXF#", "TXE#", "RD#", "WR#"};
    return {"TXDEN",    "PWRON#",      "RXLED#",      "TXLED#",        "TX & RXLED#",
            "SLEEP#",   "CLK48",       "CLK24",       "CLK12",         "CLK6",
            "I/O Mode", "BitBang WRn", "BitBang RDn", FifoSignals[Pin]};
}

// C4 has no FIFO signal and swaps TXLED# and RXLED# against C0 to C3.
std::vector<std::string> PinC4Entries() {
    return {"TXDEN",  "PWRON#", "TXLED#", "RXLED#", "TX & RXLED#",
            "SLEEP#", "CLK48",  "CLK24",  "CLK12",  "CLK6"};
}

std::vector<std::string> PacketSizeEntries() {
    return {"64", "32", "16", "8", "4"};
}

// The rows' shapes, by kind.
constexpr ControlRow Group(std::string_view name, std::string_view parent, std::string_view caption,
                           Bounds place, P purpose = P::TemplateGroup) {
    return {name, K::Group, parent, caption, place, purpose};
}

constexpr ControlRow Label(std::string_view name, std::string_view parent, std::string_view caption,
                           Bounds place, std::string_view field, P purpose = P::Caption) {
    return {name, K::Label, parent, caption, place, purpose, field};
}

constexpr ControlRow Edit(std::string_view name, std::string_view parent, Bounds place,
                          std::string_view field) {
    return {name, K::Text, parent, {}, place, P::Field, field};
}

constexpr ControlRow Check(std::string_view name, std::string_view parent, std::string_view caption,
                           Bounds place, std::string_view field, bool checked = false) {
    return {name, K::Check, parent, caption, place, P::Field, field, nullptr, checked ? 1 : 0};
}

constexpr ControlRow Radio(std::string_view name, std::string_view parent, std::string_view caption,
                           Bounds place, std::string_view field, bool checked = false) {
    return {name, K::Radio, parent, caption, place, P::Field, field, nullptr, checked ? 1 : 0};
}

constexpr ControlRow List(std::string_view name, std::string_view parent, Bounds place,
                          std::string_view field, ListEntries entries, int start,
                          std::string_view noEntryText = {}) {
    return {name, K::List, parent, noEntryText, place, P::Field, field, entries, start};
}

constexpr ControlRow Hidden(ControlRow row, P purpose, bool usable = true) {
    row.Purpose = purpose;
    row.Shown = false;
    row.Usable = usable;
    return row;
}

// Rows are 21 pixels high, labels left and their fields right-aligned to one edge.
const ControlRow Rows[] = {
    Group("GB1", "", "  Basic Details  ", {8, 2, 225, 119}),
    Group("GB2", "", "  USB Power Options  ", {240, 2, 225, 63}),
    Group("GB3", "", "  USB Serial Number Control  ", {240, 70, 225, 113}),
    Group("GB4", "", "  KR2 / KR3 Device Specific Options  ", {8, 124, 225, 149}),
    Group("GB5", "", "  Product and Manufacturer Descriptor Strings  ", {8, 275, 457, 57}),
    Group("GB6", "", "  Programming Options  ", {8, 336, 457, 41}),
    Group("GB8", "", "  Plug && Play  ( KRnS Series Only )  ", {240, 232, 225, 41}),
    Group("GB9", "", "  USB Remote Wake Up  ", {240, 187, 225, 41}),
    Label("Label13", "GB1", "Device Type", {8, 19, 74, 21}, "Model"),
    List("CB1", "GB1", {84, 19, 133, 21}, "Model", ModelEntries, 0),
    Label("Label14", "GB1", "USB VID / PID", {8, 43, 74, 21}, "VidPidType"),
    List("CB2", "GB1", {84, 43, 133, 21}, "VidPidType", VidPidEntries, -1),
    Label("Label1", "GB1", "Vendor ID", {8, 67, 74, 21}, "VendorId"),
    Edit("Edit1", "GB1", {84, 67, 64, 21}, "VendorId"),
    Label("Label2", "GB1", "Product ID", {8, 91, 74, 21}, "ProductId"),
    Edit("Edit2", "GB1", {84, 91, 64, 21}, "ProductId"),
    Radio("RB1", "GB2", "Bus Powered", {10, 19, 100, 19}, "BusPowered", true),
    Radio("RB2", "GB2", "Self Powered", {118, 19, 100, 19}, "SelfPowered"),
    Label("Label8", "GB2", "Max Bus Power", {8, 39, 78, 20}, "MaxBusPower"),
    Edit("Edit9", "GB2", {88, 39, 48, 20}, "MaxBusPower"),
    Label("Label9", "GB2", "milli Amps", {142, 39, 70, 20}, "MaxBusPower"),
    // The long labels sit above their fields; the switch between prefix and fixed number
    // beside the short prefix field.
    Label("Label5", "GB3", "Serial Number Prefix ( 2 digits )", {8, 19, 205, 15}, "SerialPrefix"),
    Edit("Edit5", "GB3", {8, 34, 44, 21}, "SerialPrefix"),
    Check("CheckBox5", "GB3", "Use Fixed Serial Number", {62, 35, 155, 19}, "UseFixedSerial"),
    Label("Label6", "GB3", "Fixed Serial Number ( 8 digits )", {8, 62, 205, 15}, "FixedSerial"),
    Edit("Edit6", "GB3", {8, 77, 72, 21}, "FixedSerial"),
    Check("CheckBox1", "GB9", "Enable USB Remote Wake Up", {10, 19, 205, 19}, "RemoteWakeup"),
    Check("CheckBox3", "GB8", "Enable Plug And Play", {10, 19, 205, 19}, "PlugAndPlay", true),
    Label("Label3", "GB4", "USB Version Number", {8, 30, 110, 21}, "UsbVersion"),
    List("CB3", "GB4", {122, 30, 95, 21}, "UsbVersion", UsbVersionEntries, -1),
    Check("CheckBox8", "GB4", "Disable USB Serial Number", {10, 68, 205, 19},
          "DisableSerialNumber"),
    Check("CheckBox11", "GB4", "Pull Down IO Pins in USB Suspend", {10, 98, 205, 19},
          "PullDownInSuspend"),
    Label("Label12", "GB5", "Manufacturer", {8, 25, 66, 21}, "Manufacturer"),
    Edit("Edit10", "GB5", {76, 25, 130, 21}, "Manufacturer"),
    Label("Label11", "GB5", "Product Description ", {216, 25, 100, 21}, "Product"),
    Edit("Edit11", "GB5", {318, 25, 131, 21}, "Product"),
    Check("CheckBox6", "GB6", "Only Program Blank Devices", {10, 19, 300, 19}, "OnlyBlankDevices",
          true),
    {"Memo1", K::Messages, "", {}, {8, 384, 457, 70}, P::Messages},
    {"PageControl1", K::Tabs, "", {}, {468, 0, 177, 457}, P::Layout},
    Group("TabSheet1", "PageControl1", "KR3D Options", {}, P::Layout),
    Group("TabSheet2", "PageControl1", "KR4S", {}, P::Layout),
    // The dual-channel options, shown only for the models that have them: each side has a
    // hardware group and a driver group.
    Hidden(Group("GB10", "TabSheet1", " KR3D Device Options ", {2, 2, 167, 424}), P::TemplateGroup),
    Group("GroupBox2", "GB10", "  Side A  ", {6, 20, 155, 196}, P::Layout),
    Group("GroupBox3", "GroupBox2", " Hardware ", {6, 18, 143, 92}, P::Layout),
    Group("GroupBox4", "GroupBox2", "Driver", {6, 136, 143, 56}, P::Layout),
    Group("GroupBox5", "GB10", "  Side B  ", {6, 222, 155, 196}, P::Layout),
    Group("GroupBox6", "GroupBox5", " Hardware ", {6, 18, 143, 92}, P::Layout),
    Group("GroupBox7", "GroupBox5", "Driver", {6, 136, 143, 56}, P::Layout),
    Radio("RB3", "GroupBox3", "RS232 UART", {8, 19, 128, 17}, "SideARs232", true),
    Radio("RB4", "GroupBox3", "KRF FIFO", {8, 36, 128, 17}, "SideAFifo"),
    Radio("RB5", "GroupBox3", "CPU FIFO ", {8, 53, 128, 17}, "SideACpuFifo"),
    Radio("RB6", "GroupBox3", "OPTO Isolate", {8, 70, 128, 17}, "SideAOptoIsolate"),
    Check("CB4", "GroupBox2", "High Current I/O's", {12, 114, 135, 19}, "SideAHighCurrent"),
    Radio("RB7", "GroupBox4", "Virtual COM Port", {8, 19, 128, 17}, "SideAVirtualComPort", true),
    Radio("RB8", "GroupBox4", "Pipex Direct", {8, 36, 128, 17}, "SideAPipexDirect"),
    Radio("RB9", "GroupBox6", "RS232 UART", {8, 19, 128, 17}, "SideBRs232", true),
    Radio("RB10", "GroupBox6", "KRF FIFO", {8, 36, 128, 17}, "SideBFifo"),
    Radio("RB11", "GroupBox6", "CPU FIFO ", {8, 53, 128, 17}, "SideBCpuFifo"),
    Radio("RB12", "GroupBox6", "OPTO Isolate", {8, 70, 128, 17}, "SideBOptoIsolate"),
    Check("CB5", "GroupBox5", "High Current I/O's", {12, 114, 135, 19}, "SideBHighCurrent"),
    Radio("RB13", "GroupBox7", "Virtual COM Port", {8, 19, 128, 17}, "SideBVirtualComPort", true),
    Radio("RB14", "GroupBox7", "Pipex Direct", {8, 36, 128, 17}, "SideBPipexDirect"),
    // The KR4 options, shown only for the KR4 models.
    Hidden(Group("GB11", "TabSheet2", "", {2, 2, 167, 424}), P::TemplateGroup),
    Group("GB12", "GB11", "Invert RS232 Signals", {6, 8, 155, 170}),
    Group("GB13", "GB11", "I/O Controls", {6, 184, 155, 154}),
    Group("GB14", "GB11", "", {6, 346, 155, 54}),
    Check("CB6", "GB12", "Invert TXD", {10, 19, 135, 18}, "InvertTxd"),
    Check("CB7", "GB12", "Invert RXD", {10, 37, 135, 18}, "InvertRxd"),
    Check("CB8", "GB12", "Invert RTS#", {10, 55, 135, 18}, "InvertRts"),
    Check("CB9", "GB12", "Invert CTS#", {10, 73, 135, 18}, "InvertCts"),
    Check("CB10", "GB12", "Invert DTR#", {10, 91, 135, 18}, "InvertDtr"),
    Check("CB11", "GB12", "Invert DSR#", {10, 109, 135, 18}, "InvertDsr"),
    Check("CB12", "GB12", "Invert DCD#", {10, 127, 135, 18}, "InvertDcd"),
    Check("CB13", "GB12", "Invert RI#", {10, 145, 135, 18}, "InvertRi"),
    // A pin list with no entry chosen shows its pin's default signal.
    Label("Label18", "GB13", "C0", {10, 20, 22, 21}, "C0Signal"),
    List("CBX1", "GB13", {34, 20, 113, 21}, "C0Signal", PinEntries<0>, -1, "TXDEN"),
    Label("Label19", "GB13", "C1", {10, 46, 22, 21}, "C1Signal"),
    List("CBX2", "GB13", {34, 46, 113, 21}, "C1Signal", PinEntries<1>, -1, "TXLED#"),
    Label("Label20", "GB13", "C2", {10, 72, 22, 21}, "C2Signal"),
    List("CBX3", "GB13", {34, 72, 113, 21}, "C2Signal", PinEntries<2>, -1, "RXLED#"),
    Label("Label21", "GB13", "C3", {10, 98, 22, 21}, "C3Signal"),
    List("CBX4", "GB13", {34, 98, 113, 21}, "C3Signal", PinEntries<3>, -1, "PWRON#"),
    Label("Label22", "GB13", "C4", {10, 124, 22, 21}, "C4Signal"),
    List("CBX5", "GB13", {34, 124, 113, 21}, "C4Signal", PinC4Entries, -1, "SLEEP#"),
    // Stored in templates but never shown.
    Hidden(Check("CB15", "GB14", "Enable Ext Osc", {10, 48, 135, 19}, "ExternalOscillator"),
           P::Field, false),
    Check("CB16", "GB14", "High Current I/O's", {10, 8, 135, 19}, "HighCurrentIo"),
    Check("CB17", "GB14", "Load Pipex driver", {10, 28, 135, 19}, "LoadPipexDriver"),
    Hidden(Label("Label17", "GB14", "IN Packet Size", {10, 48, 60, 21}, "InEndpointSize"),
           P::Fixed),
    Hidden(List("CBX6", "GB14", {72, 48, 60, 21}, "InEndpointSize", PacketSizeEntries, 0),
           P::Fixed),
};

using F = TMainForm;

const ActionRow Actions[] = {
    {"BWNew", "&New", "Ctrl+N", "Create New Programming Template", true, &F::BWNewExecute},
    {"BWOpen", "&Open", "Ctrl+O", "Open Existing Programming Template", true, &F::BWOpenExecute},
    {"BWEdit", "E&dit", "Ctrl+D", "Edit Mode", false, &F::BWEditExecute},
    {"BWSave", "&Save", "Ctrl+S", "Save Template", false, &F::BWSaveExecute},
    {"BWSaveAs", "Sa&ve As ...", "Ctrl+V", "Save Template As...", false, &F::BWSaveAsExecute},
    {"BWExit", "E&xit", "Ctrl+X", "Quit Application Program", true, &F::BWExitExecute},
    {"BWScan", "S&can", "Ctrl+C", "Scan for Available Devices", true, &F::BWScanExecute},
    {"BWErase", "&Erase", "Ctrl+E", "Erase All Existing Devices", false, &F::BWEraseExecute},
    {"BWProgram", "&Program", "Ctrl+P", "Program All Existing Devices", false,
     &F::BWProgramExecute},
    {"BWHelp", "&Help", "Ctrl+H", "HTML Help", true, &F::BWHelpExecute},
    {"BWAbout", "Help &About ..", "Ctrl+A", "Help - About", true, &F::BWAboutExecute},
    // Commands outside the action list.
    {"Read1", "Read", "", "", true, &F::Read1Click, "&Read"},
    {"ReadandParse1", "Read and Parse", "", "", true, &F::ReadandParse1Click, "Read and &Parse"},
    {"ToolButton11", "", "", "Cycle Device", true, &F::ToolButton11Click, "C&ycle Device"},
};

} // namespace

std::span<const ControlRow> ControlRows() {
    return Rows;
}

std::span<const ActionRow> ActionRows() {
    return Actions;
}

} // namespace burnwise::ui
