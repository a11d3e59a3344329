#pragma once

#include "burnwise/ui/ControlTable.h"
#include "burnwise/ui/Controls.h"

#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace burnwise::ui {

// The controls of a window, made from its control table and addressed by name, with the
// changes code and user make to them. A change made by code runs the control's change rule
// exactly as the same change made by the user does; choosing a list entry from code runs
// none.
class ControlPanel {
public:
    explicit ControlPanel(std::span<const ControlRow> rows);
    ControlPanel(const ControlPanel&) = delete;
    ControlPanel& operator=(const ControlPanel&) = delete;
    virtual ~ControlPanel() = default;

    // Every control, groups first, in window order.
    const std::vector<Control*>& Controls() const { return controls_; }
    Control* FindControl(std::string_view name) const;
    // The control of that name and kind; a name the table does not hold as that kind is a
    // fault of the caller (std::logic_error).
    Control& ControlNamed(std::string_view name) const;
    TextField& Text(std::string_view name) const;
    CheckControl& Check(std::string_view name) const;
    ListControl& List(std::string_view name) const;
    MessageList& Messages() const { return *messages_; }
    TabControl& Pages() const { return *pages_; }
    // The control that shows `field` (one of a window's two rows for a value held under two
    // keys shows both).
    Control& ControlOf(const app::Field& field) const;

    // Called with a control's name after any of its state changed, and with other names the
    // owner announces (see Notify). The view mirrors the state from here.
    std::function<void(std::string_view name)> StateChanged;

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
    void SelectPage(int page);

    // ---- User input (refused, returning false, where the user could not do it) -----

    bool UserTypeText(std::string_view name, std::string_view text);
    // A check box toggles; a radio button becomes checked.
    bool UserClick(std::string_view name);
    // Chooses a list entry and runs the list's change rule.
    bool UserChooseEntry(std::string_view name, int index);
    bool UserSelectPage(int page);

protected:
    void Notify(std::string_view name);

private:
    template <typename Kind>
    Kind& Named(std::string_view name, ControlKind kind) const;
    void RunRule(Control& control);

    std::vector<std::unique_ptr<Control>> owned_;
    std::vector<Control*> controls_;
    std::vector<Control*> fieldControls_; // by field, in field order
    MessageList* messages_ = nullptr;
    TabControl* pages_ = nullptr;
};

} // namespace burnwise::ui
