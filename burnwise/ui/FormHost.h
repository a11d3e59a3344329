#pragma once

#include "burnwise/device/Reporter.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace burnwise::ui {

// What a file dialog is asked to look like.
struct FileDialogOptions {
    std::string Filter;           // "Description|*.ext"
    std::string DefaultExtension; // appended to a name typed without one
    std::filesystem::path InitialFolder;
    std::filesystem::path FileName; // preselected name; empty for none
    bool PromptOverwrite = false;   // save: ask before replacing an existing file
    bool FileMustExist = false;     // open: only an existing file may be chosen
};

// The services of the form that need a real window. The Qt view implements them with
// dialogs and message boxes; the command line and the tests fake them.
class FormHost {
public:
    virtual ~FormHost() = default;

    // The chosen file, or nothing when the dialog was cancelled.
    virtual std::optional<std::filesystem::path>
    RunOpenDialog(const FileDialogOptions& options) = 0;
    virtual std::optional<std::filesystem::path>
    RunSaveDialog(const FileDialogOptions& options) = 0;

    // Modal boxes with one OK button.
    virtual void ShowErrorBox(std::string_view text) = 0;
    virtual void ShowInformationBox(std::string_view text) = 0;
    // A modal question with two buttons, `goOn` and Cancel; Cancel is the default, so
    // Enter and Esc both cancel. True only when the user chose `goOn`.
    virtual bool AskGoOnOrCancel(std::string_view question, std::string_view goOn) = 0;

    // Lets the window repaint and handle what is queued before a long step goes on.
    virtual void ProcessPendingEvents() = 0;

    // Opens the help file in the desktop's viewer; a missing file is not reported.
    virtual void OpenHelpFile(const std::filesystem::path& file) = 0;
    virtual void ShowAboutBox() = 0;
    // Asks the window to close, as its close box does.
    virtual void CloseWindow() = 0;

    // A device operation is done with one device (the window keeps a row for it).
    virtual void DeviceFinished(const device::DeviceOutcome& outcome) { (void)outcome; }
    // True when the user asked the running device operation to stop.
    virtual bool StopRequested() { return false; }
};

} // namespace burnwise::ui
