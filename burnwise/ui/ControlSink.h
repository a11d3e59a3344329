#pragma once

#include "burnwise/ui/MainForm.h"

namespace burnwise::ui {

// The controls as a place template values go into: each field into its control, with the
// control's change rule.
class TMainForm::ControlSink final : public app::FieldSink {
public:
    explicit ControlSink(TMainForm& form) : form_(form) {}

    const app::Template& Current() override {
        shown_ = form_.CurrentTemplate();
        return shown_;
    }
    void SetText(const app::Field& field, std::string_view text) override {
        form_.SetText(static_cast<TextField&>(form_.ControlOf(field)), text);
    }
    void SetFlag(const app::Field& field, bool on) override {
        form_.SetChecked(static_cast<CheckControl&>(form_.ControlOf(field)), on);
    }
    void SetIndex(const app::Field& field, int entry) override {
        form_.ChooseEntry(static_cast<ListControl&>(form_.ControlOf(field)), entry);
    }
    void SetModel(std::optional<codec::ChipType> model) override {
        form_.ChooseEntry(form_.List("CB1"), model ? static_cast<int>(*model) : -1);
    }
    device::Reporter& Notes() override { return form_; }

private:
    TMainForm& form_;
    app::Template shown_;
};

} // namespace burnwise::ui
