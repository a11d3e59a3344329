#pragma once

#include "burnwise/app/Template.h"

#include <functional>
#include <string>
#include <vector>

namespace burnwise::ui {

enum class ControlKind { Group, Label, Text, Check, Radio, List, Tabs, Messages };

// What a control of the window is for.
enum class ControlPurpose {
    Field,         // shows the template value it names
    Caption,       // names the value shown beside it; enabled with it
    Fixed,         // a value or caption no rule switches (kept in templates, never shown)
    TemplateGroup, // holds template fields: disabled while a template is programmed
    Layout,        // a group, page or the page control that only arranges others
    Messages,      // the message list
};

// Position inside the parent, in pixels; all zero where the view may place the control
// as it likes.
struct Bounds {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

// What every control of the window has. A control disabled in its own right stays so
// whatever its groups do; a control inside a disabled or hidden group cannot be used
// whatever its own state says.
struct Control {
    Control(ControlKind kind, std::string name, std::string parent, std::string caption)
        : Kind(kind), Name(std::move(name)), Parent(std::move(parent)),
          Caption(std::move(caption)) {}
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control() = default;

    ControlKind Kind;
    std::string Name;
    std::string Parent; // the group (or tab sheet) that holds it; empty for the window
    std::string Caption;
    bool Enabled = true;
    bool Visible = true;
    Bounds Place;
    ControlPurpose Purpose = ControlPurpose::Layout;
    // The template field shown; for a caption, the field it names.
    const app::Field* Field = nullptr;
    // The control's change rule, run on every change of its value (see the form).
    std::function<void()> Changed;
};

struct GroupControl : Control {
    GroupControl(std::string name, std::string parent, std::string caption, Bounds place = {})
        : Control(ControlKind::Group, std::move(name), std::move(parent), std::move(caption)) {
        Place = place;
    }
};

struct LabelControl : Control {
    LabelControl(std::string name, std::string parent, std::string caption)
        : Control(ControlKind::Label, std::move(name), std::move(parent), std::move(caption)) {}
};

struct TextField : Control {
    TextField(std::string name, std::string parent, std::string text)
        : Control(ControlKind::Text, std::move(name), std::move(parent), {}),
          Text(std::move(text)) {}
    std::string Text;
};

// A check box, or a radio button when Kind is Radio. Radio buttons with the same parent
// group form one group: checking one unchecks the others.
struct CheckControl : Control {
    CheckControl(ControlKind kind, std::string name, std::string parent, std::string caption,
                 bool checked)
        : Control(kind, std::move(name), std::move(parent), std::move(caption)), Checked(checked) {}
    bool Checked;
};

// A drop-down list. Text is what the list shows: the chosen entry's text, or a text of
// its own while no entry is chosen (ItemIndex -1): the one it was created with.
struct ListControl : Control {
    ListControl(std::string name, std::string parent, std::vector<std::string> items, int itemIndex,
                std::string text = {})
        : Control(ControlKind::List, std::move(name), std::move(parent), {}),
          Items(std::move(items)), ItemIndex(itemIndex), Text(text), NoEntryText(std::move(text)) {
        if (ItemIndex >= 0) Text = Items[static_cast<std::size_t>(ItemIndex)];
    }
    std::vector<std::string> Items;
    int ItemIndex;
    std::string Text;
    // Shown whenever no entry is chosen. A KR4 pin list shows its pin's default signal,
    // which is what the pin then gets programmed with.
    std::string NoEntryText;
};

// The page control: its pages are the groups named in Pages (their Caption is the tab's
// caption).
struct TabControl : Control {
    TabControl(std::string name, std::string parent, std::vector<std::string> pages)
        : Control(ControlKind::Tabs, std::move(name), std::move(parent), {}),
          Pages(std::move(pages)) {}
    std::vector<std::string> Pages;
    int ActivePage = 0;
};

struct MessageList : Control {
    MessageList(std::string name, std::string parent)
        : Control(ControlKind::Messages, std::move(name), std::move(parent), {}) {}
    std::vector<std::string> Lines;
};

// A command of the menu and toolbar. The menu item and the tool button follow Enabled.
struct Action {
    std::string Name;
    std::string Caption;  // "&" marks the access letter
    std::string Shortcut; // "Ctrl+N"; empty for none
    std::string Hint;
    bool Enabled = true;
    std::string MenuCaption; // the menu item's caption where it differs from Caption
};

} // namespace burnwise::ui
