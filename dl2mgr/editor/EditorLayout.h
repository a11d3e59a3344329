#pragma once

#include <array>

namespace dl2mgr::editor {

// Control ids of the editor dialog.
namespace id {
inline constexpr int Message1 = 1000;     // 1000..1005: message boxes 1 to 6
inline constexpr int TestMessage1 = 1006; // 1006..1011: their Test buttons
inline constexpr int ReadDL = 102;
inline constexpr int WriteDL = 328;
inline constexpr int TestDL = 115;
inline constexpr int Swap = 1016;
inline constexpr int AutoSpace = 1017;
inline constexpr int CtSpace = 1018;
inline constexpr int PaddleDog = 1019;
inline constexpr int Cut09 = 112;
inline constexpr int MsgBrk = 107;
inline constexpr int Max = 1014;
inline constexpr int Min = 1015;
inline constexpr int CmdWpm = 108;
inline constexpr int PbVal = 104;
inline constexpr int PotVal = 103;
inline constexpr int Ratio = 1034;
inline constexpr int KeyComp = 1035;
inline constexpr int FirstExt = 1036;
inline constexpr int Sample = 1045;
inline constexpr int Weight = 1021;
inline constexpr int LeadIn = 1031;
inline constexpr int Tail = 1032;
inline constexpr int Farns = 1033;
inline constexpr int KeyerMode = 1040;
inline constexpr int PaddleHang = 1141;
inline constexpr int Sidetone = 1044;
inline constexpr int OutputConfig = 1046;
inline constexpr int MsgBytesLeft = 119;
inline constexpr int ConnectionStatus = 106;
inline constexpr int OperationStatus = 121;
inline constexpr int FileName = 113;
inline constexpr int Static = -1; // labels and group boxes

// Menu items
inline constexpr int MenuOpen = 539;
inline constexpr int MenuSave = 540;
inline constexpr int MenuExit = 551;
inline constexpr int MenuAbout = 514;
inline constexpr int MenuHelp = 508;
inline constexpr int MenuVerifyAfterWrite = 570; // in the Comm menu, below the ports
// "Com1" to "Com14"
inline constexpr std::array<int, 14> MenuComm = {500, 501, 502, 503, 504, 505, 519,
                                                 526, 538, 546, 556, 566, 562, 563};
} // namespace id

enum class ControlKind {
    MessageEdit, // several lines, upper case, filtered
    NumberEdit,  // digits only
    Button,
    CheckBox,
    ComboEdit, // drop-down with an edit field
    ComboList, // drop-down list
    Text,
    CentredText,
    Label,
    GroupBox,
};

// A control's place and size in dialog units: x in quarters of the dialog font's average
// character width, y in eighths of its height.
struct ControlPlace {
    int Id;
    ControlKind Kind;
    const char* Caption;
    int X, Y, Width, Height;
};

// The editor dialog sits at (2, 0) in the main window's client area, 362 by 250. The old
// template placed it 13 units higher, which puts the top group captions under the menu bar.
inline constexpr int DialogX = 2, DialogY = 0, DialogWidth = 362, DialogHeight = 250;

// clang-format off
inline constexpr ControlPlace EditorControls[] = {
    // group boxes first, so the controls inside them are drawn over them
    {id::Static, ControlKind::GroupBox, "Message Editor", 6, 6, 220, 217},
    {id::Static, ControlKind::GroupBox, "ModeReg", 232, 6, 59, 73},
    {id::Static, ControlKind::GroupBox, "WPM Speed", 295, 6, 61, 75},
    {id::Static, ControlKind::GroupBox, "Settings", 231, 80, 125, 68},
    {id::Static, ControlKind::GroupBox, "Keyer Mode", 232, 149, 59, 27},
    {id::Static, ControlKind::GroupBox, "Paddle Hang", 295, 149, 61, 27},
    {id::Static, ControlKind::GroupBox, "Sidetone Hz", 232, 178, 49, 27},
    {id::Static, ControlKind::GroupBox, "Output Config", 285, 178, 71, 27},
    {1000, ControlKind::MessageEdit, "", 11, 18, 167, 30},
    {1001, ControlKind::MessageEdit, "", 11, 52, 167, 30},
    {1002, ControlKind::MessageEdit, "", 11, 86, 167, 30},
    {1003, ControlKind::MessageEdit, "", 11, 120, 167, 30},
    {1004, ControlKind::MessageEdit, "", 11, 154, 167, 30},
    {1005, ControlKind::MessageEdit, "", 11, 188, 167, 30},
    {id::Static, ControlKind::Label, "Message 1", 183, 21, 40, 8},
    {id::Static, ControlKind::Label, "Message 2", 183, 55, 40, 8},
    {id::Static, ControlKind::Label, "Message 3", 183, 89, 40, 8},
    {id::Static, ControlKind::Label, "Message 4", 183, 123, 40, 8},
    {id::Static, ControlKind::Label, "Message 5", 183, 157, 40, 8},
    {id::Static, ControlKind::Label, "Message 6", 183, 191, 40, 8},
    {1006, ControlKind::Button, "Test", 190, 31, 21, 14},
    {1007, ControlKind::Button, "Test", 190, 65, 21, 14},
    {1008, ControlKind::Button, "Test", 190, 99, 21, 14},
    {1009, ControlKind::Button, "Test", 190, 133, 21, 14},
    {1010, ControlKind::Button, "Test", 190, 167, 21, 14},
    {1011, ControlKind::Button, "Test", 190, 201, 21, 14},
    {id::ReadDL, ControlKind::Button, "Read DL", 230, 208, 40, 15},
    {id::WriteDL, ControlKind::Button, "Write DL", 273, 208, 40, 15},
    {id::TestDL, ControlKind::Button, "Test DL", 316, 208, 40, 15},
    {id::Swap, ControlKind::CheckBox, "Swap", 238, 17, 34, 10},
    {id::AutoSpace, ControlKind::CheckBox, "AutoSpace", 238, 27, 51, 10},
    {id::CtSpace, ControlKind::CheckBox, "CTspace", 238, 37, 45, 10},
    {id::PaddleDog, ControlKind::CheckBox, "PaddleDog", 238, 47, 51, 10},
    {id::Cut09, ControlKind::CheckBox, "Cut 0/9", 238, 57, 49, 10},
    {id::MsgBrk, ControlKind::CheckBox, "MsgBrk", 238, 67, 49, 10},
    {id::Max, ControlKind::NumberEdit, "", 300, 18, 18, 12},
    {id::Static, ControlKind::Label, "MAX", 321, 20, 33, 8},
    {id::Min, ControlKind::NumberEdit, "", 300, 31, 18, 12},
    {id::Static, ControlKind::Label, "MIN", 321, 33, 33, 8},
    {id::CmdWpm, ControlKind::NumberEdit, "", 300, 44, 18, 12},
    {id::Static, ControlKind::Label, "CmdWpm", 321, 46, 33, 8},
    {id::PbVal, ControlKind::CentredText, "", 300, 59, 20, 10},
    {id::Static, ControlKind::Label, "PbVal", 321, 60, 33, 8},
    {id::PotVal, ControlKind::CentredText, "", 300, 70, 20, 10},
    {id::Static, ControlKind::Label, "PotVal", 321, 71, 33, 8},
    {id::Ratio, ControlKind::NumberEdit, "", 240, 92, 21, 12},
    {id::Static, ControlKind::Label, "Ratio", 263, 94, 32, 8},
    {id::KeyComp, ControlKind::NumberEdit, "", 240, 105, 21, 12},
    {id::Static, ControlKind::Label, "Comp", 263, 107, 32, 8},
    {id::FirstExt, ControlKind::NumberEdit, "", 240, 118, 21, 12},
    {id::Static, ControlKind::Label, "1stExt", 263, 120, 32, 8},
    {id::Sample, ControlKind::NumberEdit, "", 240, 131, 21, 12},
    {id::Static, ControlKind::Label, "Sample", 263, 133, 32, 8},
    {id::Weight, ControlKind::NumberEdit, "", 297, 92, 21, 12},
    {id::Static, ControlKind::Label, "Weight", 320, 94, 34, 8},
    {id::LeadIn, ControlKind::NumberEdit, "", 297, 105, 21, 12},
    {id::Static, ControlKind::Label, "LeadIn", 320, 107, 34, 8},
    {id::Tail, ControlKind::NumberEdit, "", 297, 118, 21, 12},
    {id::Static, ControlKind::Label, "Tail", 320, 120, 34, 8},
    {id::Farns, ControlKind::NumberEdit, "", 297, 131, 21, 12},
    {id::Static, ControlKind::Label, "Farns", 320, 133, 34, 8},
    // the heights of the lists include their open drop-downs
    {id::KeyerMode, ControlKind::ComboEdit, "", 235, 159, 51, 78},
    {id::PaddleHang, ControlKind::ComboEdit, "", 299, 159, 55, 58},
    {id::Sidetone, ControlKind::ComboList, "", 238, 188, 37, 98},
    {id::OutputConfig, ControlKind::ComboList, "", 289, 188, 65, 95},
    {id::MsgBytesLeft, ControlKind::Text, "Msg Bytes Left:", 12, 229, 78, 12},
    {id::ConnectionStatus, ControlKind::Text, "", 110, 229, 116, 12},
    {id::OperationStatus, ControlKind::Text, "", 231, 229, 38, 12},
    {id::FileName, ControlKind::Text, "", 275, 229, 80, 12},
};
// clang-format on

} // namespace dl2mgr::editor
