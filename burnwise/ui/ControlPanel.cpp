#include "burnwise/ui/ControlPanel.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace burnwise::ui {
namespace {

std::unique_ptr<Control> MakeControl(const ControlRow& row, const app::Field* field) {
    const std::string name(row.Name), parent(row.Parent), caption(row.Caption);
    std::unique_ptr<Control> control;
    switch (row.Kind) {
    case ControlKind::Group:
        control = std::make_unique<GroupControl>(name, parent, caption);
        break;
    case ControlKind::Label:
        control = std::make_unique<LabelControl>(name, parent, caption);
        break;
    case ControlKind::Text:
        control = std::make_unique<TextField>(
            name, parent, field != nullptr ? std::string(field->Default) : std::string());
        break;
    case ControlKind::Check:
    case ControlKind::Radio:
        control = std::make_unique<CheckControl>(row.Kind, name, parent, caption, row.Start != 0);
        break;
    case ControlKind::List:
        control = std::make_unique<ListControl>(
            name, parent, row.Entries ? row.Entries() : std::vector<std::string>(), row.Start,
            caption);
        break;
    case ControlKind::Tabs:
        control = std::make_unique<TabControl>(name, parent, std::vector<std::string>());
        break;
    case ControlKind::Messages:
        control = std::make_unique<MessageList>(name, parent);
        break;
    }
    control->Place = row.Place;
    control->Visible = row.Shown;
    control->Enabled = row.Usable;
    control->Purpose = row.Purpose;
    control->Field = field;
    return control;
}

} // namespace

ControlPanel::ControlPanel(std::span<const ControlRow> rows) {
    for (const ControlRow& row : rows) {
        const app::Field* field = row.Field.empty() ? nullptr : app::FieldNamed(row.Field);
        if (!row.Field.empty() && field == nullptr)
            throw std::logic_error("control " + std::string(row.Name) + " shows no field");
        owned_.push_back(MakeControl(row, field));
        Control* control = owned_.back().get();
        controls_.push_back(control);
        if (control->Kind == ControlKind::Messages) messages_ = static_cast<MessageList*>(control);
        if (control->Kind == ControlKind::Tabs) pages_ = static_cast<TabControl*>(control);
        // A page control's pages are the groups it holds.
        if (Control* holder = FindControl(control->Parent);
            holder != nullptr && holder->Kind == ControlKind::Tabs)
            static_cast<TabControl*>(holder)->Pages.push_back(control->Name);
    }
    if (messages_ == nullptr || pages_ == nullptr)
        throw std::logic_error("a window needs a message list and a page control");
    for (const app::Field& field : app::Fields()) {
        const auto shows = [&field](const Control* c) {
            return c->Field != nullptr && c->Field->Name == field.Name &&
                   c->Kind != ControlKind::Label;
        };
        const auto found = std::find_if(controls_.begin(), controls_.end(), shows);
        if (found == controls_.end())
            throw std::logic_error("no control shows " + std::string(field.Key));
        fieldControls_.push_back(*found);
    }
}

// ---- Lookup and notification --------------------------------------------------------------

Control* ControlPanel::FindControl(std::string_view name) const {
    const auto found = std::find_if(controls_.begin(), controls_.end(),
                                    [name](const Control* c) { return c->Name == name; });
    return found == controls_.end() ? nullptr : *found;
}

Control& ControlPanel::ControlNamed(std::string_view name) const {
    Control* control = FindControl(name);
    if (control == nullptr) throw std::logic_error("no control " + std::string(name));
    return *control;
}

template <typename Kind>
Kind& ControlPanel::Named(std::string_view name, ControlKind kind) const {
    Control& control = ControlNamed(name);
    const bool radio = kind == ControlKind::Check && control.Kind == ControlKind::Radio;
    if (control.Kind != kind && !radio)
        throw std::logic_error("control " + std::string(name) + " is of another kind");
    return static_cast<Kind&>(control);
}

TextField& ControlPanel::Text(std::string_view name) const {
    return Named<TextField>(name, ControlKind::Text);
}

CheckControl& ControlPanel::Check(std::string_view name) const {
    return Named<CheckControl>(name, ControlKind::Check);
}

ListControl& ControlPanel::List(std::string_view name) const {
    return Named<ListControl>(name, ControlKind::List);
}

Control& ControlPanel::ControlOf(const app::Field& field) const {
    return *fieldControls_.at(static_cast<std::size_t>(&field - app::Fields().data()));
}

void ControlPanel::Notify(std::string_view name) {
    if (StateChanged) StateChanged(name);
}

bool ControlPanel::IsUsable(const Control& control) const {
    const Control* current = &control;
    // Tab sheets are reachable whichever page is showing; the user can switch pages.
    for (int depth = 0; current != nullptr && depth < 16; ++depth) {
        if (!current->Enabled || !current->Visible) return false;
        if (current->Parent.empty()) return true;
        current = FindControl(current->Parent);
    }
    return current == nullptr;
}

void ControlPanel::RunRule(Control& control) {
    if (control.Changed) control.Changed();
}

// ---- Changes made by code -----------------------------------------------------------------

void ControlPanel::SetText(TextField& field, std::string_view text) {
    if (field.Text == text) return;
    field.Text = std::string(text);
    Notify(field.Name);
    RunRule(field);
}

void ControlPanel::SetChecked(CheckControl& box, bool checked) {
    if (box.Checked == checked) return;
    box.Checked = checked;
    Notify(box.Name);
    if (box.Kind == ControlKind::Radio) {
        if (!checked) return; // a radio button's rule runs only when it becomes checked
        for (Control* other : controls_) {
            if (other != &box && other->Kind == ControlKind::Radio && other->Parent == box.Parent) {
                auto& sibling = static_cast<CheckControl&>(*other);
                if (sibling.Checked) {
                    sibling.Checked = false;
                    Notify(sibling.Name);
                }
            }
        }
    }
    RunRule(box);
}

void ControlPanel::ChooseEntry(ListControl& list, int index) {
    if (index < 0 || index >= static_cast<int>(list.Items.size())) index = -1;
    list.ItemIndex = index;
    list.Text = index < 0 ? list.NoEntryText : list.Items[static_cast<std::size_t>(index)];
    Notify(list.Name);
}

void ControlPanel::SetEnabled(Control& control, bool enabled) {
    if (control.Enabled == enabled) return;
    control.Enabled = enabled;
    Notify(control.Name);
}

void ControlPanel::SetVisible(Control& control, bool visible) {
    if (control.Visible == visible) return;
    control.Visible = visible;
    Notify(control.Name);
}

void ControlPanel::SelectPage(int page) {
    if (page < 0 || page >= static_cast<int>(pages_->Pages.size())) return;
    if (pages_->ActivePage == page) return;
    pages_->ActivePage = page;
    Notify(pages_->Name);
}

// ---- User input ---------------------------------------------------------------------------

bool ControlPanel::UserTypeText(std::string_view name, std::string_view text) {
    Control* control = FindControl(name);
    if (control == nullptr || control->Kind != ControlKind::Text || !IsUsable(*control))
        return false;
    // A single-line field keeps the first line of what is pasted into it.
    SetText(static_cast<TextField&>(*control),
            text.substr(0, text.find_first_of(std::string_view("\r\n\0", 3))));
    return true;
}

bool ControlPanel::UserClick(std::string_view name) {
    Control* control = FindControl(name);
    if (control == nullptr || !IsUsable(*control)) return false;
    if (control->Kind == ControlKind::Check) {
        auto& box = static_cast<CheckControl&>(*control);
        SetChecked(box, !box.Checked);
        return true;
    }
    if (control->Kind == ControlKind::Radio) {
        SetChecked(static_cast<CheckControl&>(*control), true);
        return true;
    }
    return false;
}

bool ControlPanel::UserChooseEntry(std::string_view name, int index) {
    Control* control = FindControl(name);
    if (control == nullptr || control->Kind != ControlKind::List || !IsUsable(*control))
        return false;
    auto& list = static_cast<ListControl&>(*control);
    if (index < 0 || index >= static_cast<int>(list.Items.size())) return false;
    ChooseEntry(list, index);
    RunRule(list);
    return true;
}

bool ControlPanel::UserSelectPage(int page) {
    if (page < 0 || page >= static_cast<int>(pages_->Pages.size())) return false;
    SelectPage(page);
    return true;
}

} // namespace burnwise::ui
