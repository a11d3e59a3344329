#pragma once

#include "burnwise/app/Production.h"
#include "burnwise/app/Station.h"
#include "burnwise/app/Template.h"
#include "burnwise/app/TemplateEditor.h"
#include "burnwise/codec/CodecState.h"
#include "burnwise/codec/SerialNumber.h"
#include "burnwise/device/DeviceEngine.h"
#include "burnwise/device/PipexDriver.h"
#include "burnwise/device/Reporter.h"
#include "burnwise/device/RunFlags.h"
#include "burnwise/ui/Controls.h"
#include "burnwise/ui/FormHost.h"
#include "burnwise/ui/ProfileFile.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace burnwise::ui {

inline constexpr std::string_view StartCaption = "Burnwise - Multi Device EEPROM Programmer V 3.0a";
inline constexpr std::string_view EditModeCaption =
    "Burnwise - Multi Device EEPROM Programmer ( Edit Mode )";
inline constexpr std::string_view ProgramModeCaption =
    "Burnwise - Multi Device EEPROM Programmer ( Program Mode )";

inline constexpr std::string_view TemplateFilter = "EEPROM Program Templates|*.ept";
inline constexpr std::string_view TemplateExtension = "ept";

using app::MaxStringTotal;

struct FormPaths {
    std::filesystem::path TemplatesFolder;
    std::filesystem::path HelpFile;
};

using app::TemplateValue;

// What a control of the window is for.
enum class ControlPurpose {
    Field,         // shows the template field it is named in
    Caption,       // names the field shown in `Of`; enabled with it
    Fixed,         // a field or caption no rule switches (kept in templates, never shown)
    TemplateGroup, // holds template fields: disabled while a template is programmed
    Layout,        // a group, page or the page control that only arranges others
    Messages,      // the message list
};

struct ControlRole {
    std::string_view Control;
    ControlPurpose Purpose;
    std::string_view Of = {}; // Caption: the control of the field it names
};

// Every control of the window, in window order, with what it is for.
inline constexpr ControlRole ControlRoles[] = {
    {"GB1", ControlPurpose::TemplateGroup},
    {"GB2", ControlPurpose::TemplateGroup},
    {"GB3", ControlPurpose::TemplateGroup},
    {"GB4", ControlPurpose::TemplateGroup},
    {"GB5", ControlPurpose::TemplateGroup},
    {"GB6", ControlPurpose::TemplateGroup},
    {"GB8", ControlPurpose::TemplateGroup},
    {"GB9", ControlPurpose::TemplateGroup},
    {"Label13", ControlPurpose::Caption, "CB1"},
    {"CB1", ControlPurpose::Field},
    {"Label14", ControlPurpose::Caption, "CB2"},
    {"CB2", ControlPurpose::Field},
    {"Label1", ControlPurpose::Caption, "Edit1"},
    {"Edit1", ControlPurpose::Field},
    {"Label2", ControlPurpose::Caption, "Edit2"},
    {"Edit2", ControlPurpose::Field},
    {"RB1", ControlPurpose::Field},
    {"RB2", ControlPurpose::Field},
    {"Label8", ControlPurpose::Caption, "Edit9"},
    {"Edit9", ControlPurpose::Field},
    {"Label9", ControlPurpose::Caption, "Edit9"},
    {"Label5", ControlPurpose::Caption, "Edit5"},
    {"Edit5", ControlPurpose::Field},
    {"CheckBox5", ControlPurpose::Field},
    {"Label6", ControlPurpose::Caption, "Edit6"},
    {"Edit6", ControlPurpose::Field},
    {"CheckBox1", ControlPurpose::Field},
    {"CheckBox3", ControlPurpose::Field},
    {"Label3", ControlPurpose::Caption, "CB3"},
    {"CB3", ControlPurpose::Field},
    {"CheckBox8", ControlPurpose::Field},
    {"CheckBox11", ControlPurpose::Field},
    {"Label12", ControlPurpose::Caption, "Edit10"},
    {"Edit10", ControlPurpose::Field},
    {"Label11", ControlPurpose::Caption, "Edit11"},
    {"Edit11", ControlPurpose::Field},
    {"CheckBox6", ControlPurpose::Field},
    {"Memo1", ControlPurpose::Messages},
    {"PageControl1", ControlPurpose::Layout},
    {"TabSheet1", ControlPurpose::Layout},
    {"TabSheet2", ControlPurpose::Layout},
    {"GB10", ControlPurpose::TemplateGroup},
    {"GroupBox2", ControlPurpose::Layout},
    {"GroupBox3", ControlPurpose::Layout},
    {"GroupBox4", ControlPurpose::Layout},
    {"GroupBox5", ControlPurpose::Layout},
    {"GroupBox6", ControlPurpose::Layout},
    {"GroupBox7", ControlPurpose::Layout},
    {"RB3", ControlPurpose::Field},
    {"RB4", ControlPurpose::Field},
    {"RB5", ControlPurpose::Field},
    {"RB6", ControlPurpose::Field},
    {"CB4", ControlPurpose::Field},
    {"RB7", ControlPurpose::Field},
    {"RB8", ControlPurpose::Field},
    {"RB9", ControlPurpose::Field},
    {"RB10", ControlPurpose::Field},
    {"RB11", ControlPurpose::Field},
    {"RB12", ControlPurpose::Field},
    {"CB5", ControlPurpose::Field},
    {"RB13", ControlPurpose::Field},
    {"RB14", ControlPurpose::Field},
    {"GB11", ControlPurpose::TemplateGroup},
    {"GB12", ControlPurpose::TemplateGroup},
    {"GB13", ControlPurpose::TemplateGroup},
    {"GB14", ControlPurpose::TemplateGroup},
    {"CB6", ControlPurpose::Field},
    {"CB7", ControlPurpose::Field},
    {"CB8", ControlPurpose::Field},
    {"CB9", ControlPurpose::Field},
    {"CB10", ControlPurpose::Field},
    {"CB11", ControlPurpose::Field},
    {"CB12", ControlPurpose::Field},
    {"CB13", ControlPurpose::Field},
    {"Label18", ControlPurpose::Caption, "CBX1"},
    {"CBX1", ControlPurpose::Field},
    {"Label19", ControlPurpose::Caption, "CBX2"},
    {"CBX2", ControlPurpose::Field},
    {"Label20", ControlPurpose::Caption, "CBX3"},
    {"CBX3", ControlPurpose::Field},
    {"Label21", ControlPurpose::Caption, "CBX4"},
    {"CBX4", ControlPurpose::Field},
    {"Label22", ControlPurpose::Caption, "CBX5"},
    {"CBX5", ControlPurpose::Field},
    {"CB15", ControlPurpose::Field},
    {"CB16", ControlPurpose::Field},
    {"CB17", ControlPurpose::Field},
    {"Label17", ControlPurpose::Fixed, "CBX6"},
    {"CBX6", ControlPurpose::Fixed},
};

// Burnwise's main window without the window: every control's state, addressed by the
// control's name, and everything the controls do. The Qt view renders it and forwards
// user input through the User* entry points; burnwise-cli and the tests drive it directly.
//
// A change made by code runs the control's change rule exactly as the same change made by
// the user does; choosing a list entry from code runs none.
class TMainForm : public device::Reporter {
public:
    explicit TMainForm(FormHost& host, FormPaths paths = {});
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    // ---- The window and its controls -----------------------------------------------

    std::string Caption{StartCaption};

    GroupControl GB1, GB2, GB3, GB4, GB5, GB6, GB8, GB9;
    LabelControl Label1, Label2, Label3, Label5, Label6, Label8, Label9, Label11, Label12, Label13,
        Label14;
    ListControl CB1, CB2, CB3;
    TextField Edit1, Edit2, Edit9, Edit5, Edit6, Edit10, Edit11;
    CheckControl RB1, RB2;
    CheckControl CheckBox5, CheckBox1, CheckBox3, CheckBox8, CheckBox11, CheckBox6;
    MessageList Memo1;

    TabControl PageControl1;
    GroupControl TabSheet1, TabSheet2;
    // Dual-channel options: each side has a hardware group and a driver group.
    GroupControl GB10, GroupBox2, GroupBox3, GroupBox4, GroupBox5, GroupBox6, GroupBox7;
    CheckControl RB3, RB4, RB5, RB6, RB7, RB8, RB9, RB10, RB11, RB12, RB13, RB14;
    CheckControl CB4, CB5;
    // KR4 options.
    GroupControl GB11, GB12, GB13, GB14;
    CheckControl CB6, CB7, CB8, CB9, CB10, CB11, CB12, CB13;
    LabelControl Label18, Label19, Label20, Label21, Label22; // "C0" to "C4"
    ListControl CBX1, CBX2, CBX3, CBX4, CBX5;
    CheckControl CB15, CB16, CB17;
    LabelControl Label17;
    ListControl CBX6;

    Action BWNew, BWOpen, BWEdit, BWSave, BWSaveAs, BWExit, BWScan, BWErase, BWProgram, BWHelp,
        BWAbout;
    // Commands outside the action list.
    Action Read1, ReadandParse1, ToolButton11;

    // Every control, groups first, in window order; every action and command.
    const std::vector<Control*>& Controls() const { return controls_; }
    const std::vector<Action*>& Actions() const { return actions_; }
    Control* FindControl(std::string_view name) const;
    Action* FindAction(std::string_view name) const;

    // Called with a control's or action's name after any of its state changed, and with
    // "Caption" after the window caption changed. The view mirrors the state from here.
    std::function<void(std::string_view name)> StateChanged;
    // Called as a device operation moves from device to device (see Reporter).
    std::function<void(int position, int count)> DeviceProgressChanged;

    // True when the user can reach the control: it and every group holding it are enabled
    // and shown.
    bool IsUsable(const Control& control) const;

    // ---- Changes made by code (each runs the rule a user change would) -------------

    void SetText(TextField& field, std::string_view text);
    void SetChecked(CheckControl& box, bool checked);
    // Runs no change rule. An index outside the list leaves no entry chosen.
    void ChooseEntry(ListControl& list, int index);
    void SetEnabled(Control& control, bool enabled);
    void SetVisible(Control& control, bool visible);
    void SetActionEnabled(Action& action, bool enabled);
    void SetCaption(std::string_view caption);
    void SelectPage(int page);

    // ---- User input (refused, returning false, where the user could not do it) -----

    bool UserTypeText(std::string_view name, std::string_view text);
    // A check box toggles; a radio button becomes checked.
    bool UserClick(std::string_view name);
    // Chooses a list entry and runs the list's change rule.
    bool UserChooseEntry(std::string_view name, int index);
    bool UserSelectPage(int page);
    // Runs the action's handler when the action is enabled.
    bool UserExecute(std::string_view actionName);

    // ---- Start-up and the action handlers ------------------------------------------

    // The first showing of the window: leaves the form in the Start state.
    void FormShow();

    void BWNewExecute();
    void BWOpenExecute();
    void BWSaveExecute();
    void BWSaveAsExecute();
    void BWEditExecute();
    void BWExitExecute();
    void BWHelpExecute();
    void BWAboutExecute();

    void SetTemplateGroupsEnabled(bool enabled);
    void UpdateEraseAvailability();

    // The current template file name; empty while none is known.
    const std::filesystem::path& TemplateFileName() const { return fileName_; }

    // ---- Field rules ---------------------------------------------------------------

    void DisableAllFields();
    void ApplyDeviceTypeRules();
    bool ValidateTemplate();
    // Run by Program before any device is opened: the Save checks, a chosen model, and a
    // VID and PID of exactly four hexadecimal digits with a VID other than 0000. On false
    // the reasons are lines in the message list and one error box has been shown.
    bool ValidateForProgram();

    // ---- Template file ---------------------------------------------------------------

    // False, after the standard error box, when the file could not be written; the old
    // file is then left as it was.
    bool WriteTemplate(const std::filesystem::path& fileName);
    // False, after the standard error box, when the file cannot be read (a folder, a file
    // far too long for a template, a read error); the form is then left as it was.
    bool ReadTemplate(const std::filesystem::path& fileName);
    void ReadTemplate(const ProfileFile& file);

    // The template the controls show, and the 49 values in file order as a save would
    // write them now.
    app::Template CurrentTemplate() const;
    std::vector<TemplateValue> TemplateValues() const;
    // The control that shows `field`.
    Control& ControlOf(const app::Field& field) const;
    // The controls as a place template values go into, each with its change rule.
    std::unique_ptr<app::FieldSink> IntoControls();

    // ---- Device commands ---------------------------------------------------------------

    // Gives the form the driver its device commands work through, and the clock that
    // generated serial numbers come from (the system's UTC clock when none is given). Until
    // then every device command ends with an error box. The driver and clock must outlive
    // the form.
    void AttachDriver(device::PipexDriver& driver);
    void AttachDriver(device::PipexDriver& driver, const codec::UtcClock& clock);
    // The station every device command goes through; null before AttachDriver.
    app::Station* DeviceStation() { return station_.get(); }
    // When set, every device Program touches leaves a record: before anything is
    // programmed it opens the records of a run from the template file (which it reads and
    // hashes), or gives nothing with `error` set. Program then needs the template shown to
    // be the file's, saved.
    std::function<std::unique_ptr<app::Production>(const std::filesystem::path& templateFile,
                                                   std::string& error)>
        OpenRecords;
    // When set, called once the records of a Program are open: it asks the run to print a
    // label for each device that passes (the lines say what became of each). False, with
    // `error` set, when the labels asked for cannot be printed: nothing is programmed.
    std::function<bool(app::ProgramRequest& request, app::Production& records, std::string& error)>
        AddLabels;

    void BWScanExecute();
    void BWEraseExecute();
    void BWProgramExecute();
    void Read1Click();
    void ReadandParse1Click();
    void ToolButton11Click();
    // The window closes: a device left open is closed.
    void FormClose();

    // ---- Reporter: lines go to Memo1, boxes to the host --------------------------------

    void AppendLine(std::string_view line) override;
    void ClearLines() override;
    void ShowError(std::string_view text) override;
    void ShowInformation(std::string_view text) override;
    void DeviceProgress(int position, int count) override;

    // ---- The window's side of a run and of closing ------------------------------------

    // Outcomes and the stop request go to the host. A box that ends a run on a device
    // names the device.
    void DeviceFinished(const device::DeviceOutcome& outcome) override;
    bool StopRequested() override;
    // True when the template shown differs from the one last started with New, opened or
    // saved (or the start state).
    bool HasUnsavedChanges() const;
    // The window names the device in hand in the engine's bare boxes ("Error reading
    // device 3"); the command line keeps the engine's own texts.
    bool NameDeviceInBoxes = false;
    // Program takes every selected device at once (see app::ProgramRequest::Parallel).
    bool ProgramAllAtOnce = false;

private:
    class ControlSink;
    friend class ControlSink;
    void Notify(std::string_view name);
    void SetFieldRule(Control& control, const app::Field& field);
    void CommonChange(bool saveAsOn, bool eraseOff, bool editCaption);
    void EnterProgramMode();
    void RunRule(Control& control);
    void EnableAll(std::initializer_list<Control*> controls, bool enabled);
    bool HaveStation();

    FormHost& host_;
    FormPaths paths_;
    std::filesystem::path fileName_;   // the save dialog's file name
    std::filesystem::path saveFolder_; // the save dialog's initial folder
    std::vector<Control*> controls_;
    std::vector<Action*> actions_;
    std::vector<Control*> fieldControls_; // by field, in field order
    codec::SystemUtcClock systemClock_;
    // The machine's record of clock serial numbers, for the system clock only.
    std::unique_ptr<device::ClockSerialRecord> clockRecord_;
    std::unique_ptr<app::Station> station_;
    // The window's side of a run and of closing.
    void RememberSavedTemplate();
    std::vector<TemplateValue> savedValues_;
    int devicePosition_ = 0; // 1-based device in hand of a running operation; 0 between
};

using app::ParseStrictDecimal;
using app::ParseTemplateInteger;

} // namespace burnwise::ui
