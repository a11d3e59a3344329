#pragma once

#include "dl2mgr/editor/EditorDialog.h"
#include "dl2mgr/editor/EditorUi.h"
#include "dl2mgr/editor/KeyerImage.h"
#include "dl2mgr/link/KeyerLink.h"
#include "dl2mgr/link/SystemPorts.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace dl2mgr::editor {

inline constexpr const char* ProgramVersion = "2.10";
// Timer ticks (250 ms each) an operation status stays: 4.5 s.
inline constexpr int StatusShowTicks = 18;

// How a keyer command ended.
enum class CommandResult {
    Done,
    Busy,         // another command was running: nothing was done
    NotConnected, // no second-generation keyer answered
    Refused,      // a field check failed: nothing was sent
    Failed,       // a transfer was incomplete
    Mismatch,     // the image read back after a write differs from the one sent
    Sent,         // written with Verify After Write off: sent, not checked
};

struct EditorPaths {
    std::filesystem::path ConfigFile;
    std::filesystem::path HelpFile;
    std::filesystem::path PortsFolder; // where the COMn links are
};

// The whole of dl2mgr below its window: the keyer image, the dialog, the port choice and
// every command of the menu and the dialog's buttons.
class KeyerEditor final : private link::StatusDisplay {
public:
    // Creates the dialog with its lists filled.
    KeyerEditor(link::SerialPort& port, link::Sleeper& sleeper, EditorUi& ui, EditorPaths paths);

    KeyerImage Image{};
    EditorDialog Dialog{Image};
    std::int32_t ComPortNumber = 0;
    // When set, the commands open this device instead of ComPortNumber's port: a serial
    // port of the system, chosen in the Comm menu and kept across starts.
    std::string DevicePath;
    // Where the system's adapters have their lasting names.
    std::filesystem::path ByIdFolder = link::SerialByIdFolder;
    // Write DL reads the keyer back and compares all 256 bytes before it says "Done".
    bool VerifyAfterWrite = true;
    bool OperationBusy = false;
    int StatusTicks = 0;
    std::string OsText; // the running system's name, for the about box

    // Loads the port from the config file, making the file when it is missing.
    void StartUp();

    // Runs the command of a menu item or a button by its id; false for an unknown id.
    bool Command(int commandId);

    CommandResult ReadDL();
    // Stores the dialog into the image, then sends it.
    CommandResult WriteDL();
    // Sends the image as it is, if the dialog filled from it would pass its store checks
    // (the error box is shown otherwise, before anything is sent).
    CommandResult WriteImage();
    CommandResult TestDL();
    CommandResult TestMessage(int message);
    // Connects, shows the status line and the two status bytes, and closes again: the
    // firmware revision, or a negative result.
    int QueryKeyer();
    // "DL not connected", with the system's reason when the port did not open.
    std::string NotConnectedText() const;
    void ToggleVerifyAfterWrite();
    void TimerTick();
    // A character typed into a message box that the filter kept out: a short note in the
    // operation status instead of silence.
    void NoteRefusedCharacter(unsigned char typed);
    // A COM number from the menu; it replaces a chosen device.
    void ChooseComPort(std::int32_t port);
    // A system port by its path (empty: back to the COM number); kept in the port file.
    void ChooseDevice(const std::string& devicePath);
    // The serial ports the system reports, for the Comm menu.
    std::vector<link::SystemPort> SystemPorts() const;
    void OpenImageFile();
    // True when the file was written.
    bool SaveImageFile();
    // Asks Save / Discard / Cancel when the dialog holds changes that are neither on the
    // keyer nor in a file; true when the caller may go on and drop them.
    bool MayDropChanges();
    void Exit();
    void Help();
    void About();

    // The Comm menu item carrying the check mark, or 0 when a device is chosen or
    // ComPortNumber is outside 1..14.
    int CheckedCommItem() const;

    // The about box's two variable lines.
    std::string VersionLine() const;
    std::string OsLine() const;

private:
    void ShowStatus(const std::string& text) override;
    void ShowPotVal(const std::string& text) override;
    void ShowPbVal(const std::string& text) override;
    void ShowOperation(const char* text);
    // The box of a command that found no keyer: why, when the port did not open.
    void ShowNotConnected();
    // Shows `box` once the command has closed the port.
    void ShowAfterClose(MessageBox box) { afterClose_ = std::move(box); }
    void SaveConfig();
    // Connects; on success runs `work`. Closes the port in any case.
    template <typename Work>
    int Connected(Work work);
    // Runs a keyer command under the busy flag; a second one inside it does nothing.
    template <typename Work>
    CommandResult Exclusive(Work work);
    // With the keyer connected: sends the image and, when asked, reads it back.
    CommandResult SendImage();

    link::Sleeper& sleeper_;
    EditorUi& ui_;
    EditorPaths paths_;
    link::KeyerLink link_;
    std::optional<MessageBox> afterClose_;
};

} // namespace dl2mgr::editor
