#pragma once

#include "dl2mgr/editor/EditorLayout.h"
#include "dl2mgr/editor/EditorUi.h"
#include "dl2mgr/editor/KeyerImage.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace dl2mgr::editor {

// One control's state. Texts are 8-bit.
struct Control {
    ControlKind Kind = ControlKind::Text;
    std::string Text;
    bool Checked = false;
    std::vector<std::string> Items;
    int Selection = -1; // no item selected
};

inline constexpr std::size_t MessageBoxRoom = 249; // characters read from a message box

inline constexpr const char* UnsendableCharacterText =
    "Message %d holds a character that has no Morse form. Nothing was stored.";
inline constexpr const char* MessageEndingCharacterText =
    "Message %d holds a $, a line break or a tab, which would end the message there on the "
    "keyer. Nothing was stored.";
inline constexpr const char* NoSidetoneText = "Sidetone Hz must be one of the list's tones";

// The editor dialog without a window: every control by its id, and the rules that tie
// them to the keyer image. Changes made here are announced through Changed so a window
// can mirror them; changes the user makes in a window come in through the User* calls.
class EditorDialog {
public:
    explicit EditorDialog(KeyerImage& image);

    // Called with the id of every control whose state this model changed.
    std::function<void(int)> Changed;
    // The user changed something that is neither on the keyer nor in a file yet. Set by
    // the User* calls; cleared by whoever writes, saves or replaces the image.
    bool Modified = false;

    bool Has(int controlId) const { return controls_.count(controlId) != 0; }
    const Control& At(int controlId) const { return controls_.at(controlId); }
    const std::string& Text(int controlId) const { return At(controlId).Text; }
    bool Checked(int controlId) const { return At(controlId).Checked; }
    int Selection(int controlId) const { return At(controlId).Selection; }

    void SetText(int controlId, std::string text);
    // What the user typed or pasted; not announced back.
    void UserEditedText(int controlId, std::string text);

    // Dialog creation: the four lists get their items, the sidetone list its selection.
    void FillLists();

    // Shows the whole image in the controls.
    void FillDialogFromImage();
    // Checks the boxes in their fixed order and stores each value that passes at once;
    // false after the error box of the first failure (the values before it are stored).
    bool StoreDialogToImage(EditorUi& ui);

    // A click on check box `controlId`: flips its bit in the image, then shows the bit.
    void UserClickedCheckBox(int controlId);
    // The user chose item `index` of list `controlId`; only a change of selection acts.
    void UserSelectedItem(int controlId, int index);

    // Whether a character typed into a message box goes in (the box turns it upper case).
    bool MessageEditFilter(unsigned char typed) const;

    // The six message texts as the dialog reads them (at most 249 characters each).
    std::string MessageText(std::size_t k) const;
    // 232 minus the characters in the six boxes.
    int MessageBytesLeft() const;

private:
    Control& Mutable(int controlId) { return controls_.at(controlId); }
    void Announce(int controlId) {
        if (Changed) Changed(controlId);
    }
    void SetChecked(int controlId, bool checked);
    void SetSelection(int controlId, int index);

    KeyerImage& image_;
    std::map<int, Control> controls_;
};

// Why a stored image must not go to the keyer (a sidetone no list item has), or nothing.
std::optional<std::string> SendRefusal(const KeyerImage& image);

// Why an image must not go to the keyer as it is: the error text StoreDialogToImage shows
// for a dialog filled from it, else SendRefusal's. The image itself is not changed.
std::optional<std::string> StoreRefusal(const KeyerImage& image);

} // namespace dl2mgr::editor
