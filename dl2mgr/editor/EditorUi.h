#pragma once

#include <optional>
#include <string>

namespace dl2mgr::editor {

// Whose box it is: the editor dialog's, the main window's, or nobody's (a box of its own).
enum class BoxOwner { Dialog, MainWindow, None };
enum class BoxIcon { None, Warning, Information };

struct MessageBox {
    std::string Text;
    std::string Caption = "Error";
    BoxOwner Owner = BoxOwner::Dialog;
    BoxIcon Icon = BoxIcon::None;
    bool operator==(const MessageBox&) const = default;
};

// The two questions the editor asks before it drops the user's work.
enum class QuestionKind {
    ReplaceFile,    // Yes / No
    UnsavedChanges, // Save / Discard / Cancel
};
// Yes is "Replace" or "Save", No is "Discard" (or "No"); closing the box is Cancel.
enum class Answer { Yes, No, Cancel };

struct Question {
    QuestionKind Kind = QuestionKind::ReplaceFile;
    std::string Text;
    std::string Caption = "dl2mgr";
    bool operator==(const Question&) const = default;
};

// What the editor needs from the window: boxes, file dialogs, help, the about box, a
// repaint while a keyer command holds the window, and the end of the program. The Qt
// window implements it; tests record the calls.
class EditorUi {
public:
    virtual ~EditorUi() = default;
    // Modal, one OK button.
    virtual void ShowBox(const MessageBox& box) = 0;
    // Modal, owned by the main window.
    virtual Answer Ask(const Question& question) = 0;
    // The chosen path, or nothing when the user cancelled.
    virtual std::optional<std::string> ChooseOpenFile() = 0;
    virtual std::optional<std::string> ChooseSaveFile() = 0;
    // Paints what changed so far, without taking user input.
    virtual void LetWindowRepaint() = 0;
    // False when no viewer could be started.
    virtual bool OpenHelp(const std::string& path) = 0;
    virtual void ShowAbout() = 0;
    virtual void Quit(int exitCode) = 0;
};

} // namespace dl2mgr::editor
