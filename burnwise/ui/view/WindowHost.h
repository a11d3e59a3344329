#pragma once

#include "burnwise/ui/FormHost.h"

#include <QString>
#include <functional>
#include <memory>

class QWidget;

namespace burnwise::view {

class HelpWindow;

// The answer to the question asked before a window with unsaved changes closes.
enum class CloseAnswer { Save, Discard, Cancel };

// The form's window services on the desktop: file dialogs, modal boxes, the help viewer
// and the About box. The boxes and dialogs are virtual so the view tests can answer them
// without a modal loop; everything else is the real thing.
class WindowHost : public ui::FormHost {
public:
    // `parent` owns the boxes and dialogs; `about` is shown by ShowAboutBox. Either may be
    // set later (the window is made after the form that needs this host).
    void Attach(QWidget* window, QWidget* about);

    std::optional<std::filesystem::path>
    RunOpenDialog(const ui::FileDialogOptions& options) override;
    std::optional<std::filesystem::path>
    RunSaveDialog(const ui::FileDialogOptions& options) override;
    void ShowErrorBox(std::string_view text) override;
    void ShowInformationBox(std::string_view text) override;
    bool AskGoOnOrCancel(std::string_view question, std::string_view goOn) override;
    // A question answered Yes or No, No the default.
    virtual bool AskYesOrNo(std::string_view question);
    void ProcessPendingEvents() override;
    void OpenHelpFile(const std::filesystem::path& file) override;
    void ShowAboutBox() override;
    void CloseWindow() override;
    void DeviceFinished(const device::DeviceOutcome& outcome) override;
    bool StopRequested() override;

    WindowHost();
    ~WindowHost() override;

    // Where the window takes the outcomes and answers the stop request.
    std::function<void(const device::DeviceOutcome&)> OnDeviceFinished;
    std::function<bool()> OnStopRequested;

    // While a device operation runs, pending events are processed in full: the window
    // itself throws away the input meant for it, and only Stop gets through.
    void SetBusy(bool busy) { busy_ = busy; }

    // The file the next open dialog answers with, without showing (a file named on the
    // command line, or chosen from File > Recent Templates): it goes through the same steps
    // and checks as one chosen in the dialog.
    std::optional<std::filesystem::path> NextOpenAnswer;
    // Where the last folder of each kind of file dialog is kept (an INI file); nowhere
    // until this is called.
    void KeepFoldersIn(const QString& settingsFile);

    // Asked when the window closes with unsaved changes.
    virtual CloseAnswer AskSaveChanges();

    // The program's own help window, once it has been needed.
    HelpWindow* OwnHelpWindow() const { return helpWindow_.get(); }

    // The box for an error raised inside a handler: the handler has ended, the window
    // goes on.
    virtual void ShowExceptionBox(std::string_view text);

    // The file the help command opens for `file`: a compiled help file beside it wins
    // over the guide itself.
    static std::filesystem::path HelpFileToOpen(const std::filesystem::path& file);

protected:
    // Opens `file` with the desktop's handler; false when nothing could be started.
    virtual bool OpenWithDesktop(const std::filesystem::path& file);
    // Shows the HTML guide in the program's own help window.
    virtual void ShowOwnHelp(const std::filesystem::path& file);

    std::optional<std::filesystem::path> RunFileDialog(const ui::FileDialogOptions& options,
                                                       bool save);

    QWidget* window_ = nullptr;
    QString settingsFile_;
    QWidget* about_ = nullptr;
    bool busy_ = false;
    std::unique_ptr<HelpWindow> helpWindow_;
};

// "EEPROM Program Templates|*.ept" as a Qt name filter: "EEPROM Program Templates (*.ept)".
QString QtNameFilter(std::string_view filter);

} // namespace burnwise::view
