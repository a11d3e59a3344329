#pragma once

#include "burnwise/ui/Controls.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace burnwise::ui {

using ListEntries = std::vector<std::string> (*)();

// One control of the main window: everything the form and the view need to make it.
struct ControlRow {
    std::string_view Name;
    ControlKind Kind;
    std::string_view Parent;  // empty for the window; a page's parent is the page control
    std::string_view Caption; // a list's: the text it shows while no entry is chosen
    Bounds Place;             // inside the parent; a page fills its page control
    ControlPurpose Purpose;
    // The template value (as app's field table names it) shown; for a caption, the one named.
    // A text field starts with the value's default.
    std::string_view Field = {};
    ListEntries Entries = nullptr; // a list's entries
    int Start = 0;                 // checked (1) or not; a list's chosen entry, -1 for none
    bool Shown = true;             // at creation
    bool Usable = true;            // enabled at creation
};

// Every control of the window, each after the group that holds it, in window (tab) order.
std::span<const ControlRow> ControlRows();

class TMainForm;

// One command of the window's menus and toolbar, and the handler it runs.
struct ActionRow {
    std::string_view Name;
    std::string_view Caption; // "&" marks the access letter
    std::string_view Shortcut;
    std::string_view Hint;
    bool Enabled; // at creation
    void (TMainForm::*Run)();
    std::string_view MenuCaption = {}; // where the menu names it otherwise
};

// Every command, the menu and toolbar actions first.
std::span<const ActionRow> ActionRows();

} // namespace burnwise::ui
