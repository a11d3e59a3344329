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
#include "burnwise/ui/ControlPanel.h"
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

// Burnwise's main window without the window: every control of the control table, addressed
// by the control's name, and everything the controls do. The Qt view renders it and forwards
// user input through the User* entry points; burnwise-cli and the tests drive it directly.
class TMainForm : public device::Reporter, public ControlPanel {
public:
    explicit TMainForm(FormHost& host, FormPaths paths = {});
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    // ---- The window and its controls -----------------------------------------------

    std::string Caption{StartCaption};

    // Every action and command, made from the action table.
    const std::vector<Action*>& Actions() const { return actions_; }
    Action* FindAction(std::string_view name) const;
    // A name the table does not hold is a fault of the caller (std::logic_error).
    Action& ActionNamed(std::string_view name) const;

    // Called as a device operation moves from device to device (see Reporter).
    std::function<void(int position, int count)> DeviceProgressChanged;

    // Each announces the change through StateChanged: an action by its name, the caption as
    // "Caption".
    void SetActionEnabled(Action& action, bool enabled);
    void SetActionEnabled(std::string_view name, bool enabled);
    void SetCaption(std::string_view caption);
    // Runs the action's handler when the action is enabled (user input, as the controls'
    // User* entry points).
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
    void SetFieldRule(Control& control, const app::Field& field);
    void CommonChange(bool saveAsOn, bool eraseOff, bool editCaption);
    void EnterProgramMode();
    bool HaveStation();

    FormHost& host_;
    FormPaths paths_;
    std::filesystem::path fileName_;   // the save dialog's file name
    std::filesystem::path saveFolder_; // the save dialog's initial folder
    std::vector<Action> actionStore_;
    std::vector<Action*> actions_;
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
