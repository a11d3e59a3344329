#include "burnwise/codec/ChipModels.h"
#include "burnwise/ui/ControlSink.h"

namespace burnwise::ui {

using codec::ChipType;

// ---- Field rules --------------------------------------------------------------------------

void TMainForm::CommonChange(bool saveAsOn, bool eraseOff, bool editCaption) {
    if (!fileName_.empty()) SetActionEnabled("BWSave", true);
    if (saveAsOn) SetActionEnabled("BWSaveAs", true);
    SetActionEnabled("BWProgram", false);
    if (eraseOff) SetActionEnabled("BWErase", false);
    if (editCaption) SetCaption(EditModeCaption);
}

// The change rule of a control that shows a field: the field's own rule, then what the
// window does on any change of a template (Save offered, Program withdrawn, Edit mode).
void TMainForm::SetFieldRule(Control& control, const app::Field& field) {
    using app::FieldRule;
    const auto fieldRule = [this, &field] {
        ControlSink sink(*this);
        app::RunFieldRule(sink, field);
    };
    switch (field.Rule) {
    case FieldRule::BusPower:
    case FieldRule::SelfPower:
        control.Changed = [this, fieldRule] {
            fieldRule();
            CommonChange(true, false, false);
        };
        break;
    case FieldRule::SerialChoice:
        control.Changed = [this] {
            ApplyDeviceTypeRules();
            CommonChange(false, false, false);
        };
        break;
    case FieldRule::VendorId:
        control.Changed = [this, fieldRule] {
            CommonChange(true, true, true);
            fieldRule();
        };
        break;
    case FieldRule::ProductId:
        control.Changed = [this] { CommonChange(true, true, true); };
        break;
    case FieldRule::Current:
        control.Changed = [this, fieldRule] {
            CommonChange(false, false, true);
            fieldRule();
        };
        break;
    case FieldRule::StringText:
        control.Changed = [this, fieldRule] {
            fieldRule();
            CommonChange(false, false, true);
        };
        break;
    case FieldRule::Option:
        control.Changed = [this] { CommonChange(false, false, true); };
        break;
    case FieldRule::BlankOnly:
        control.Changed = [this] {
            if (!fileName_.empty()) SetActionEnabled("BWSave", true);
        };
        break;
    case FieldRule::None:
        // The lists that choose the model and the identifiers.
        control.Changed = [this] {
            ApplyDeviceTypeRules();
            CommonChange(true, false, false);
        };
        break;
    }
}

void TMainForm::DisableAllFields() {
    for (Control* control : Controls())
        if (control->Purpose == ControlPurpose::Field ||
            control->Purpose == ControlPurpose::Caption)
            SetEnabled(*control, false);
    // Shown only for the models that use them.
    SetVisible(ControlNamed("GB10"), false);
    SetVisible(ControlNamed("GB11"), false);
    SelectPage(0);
}

void TMainForm::ApplyDeviceTypeRules() {
    DisableAllFields();
    for (const char* name : {"Label13", "CB1", "CheckBox6"})
        SetEnabled(ControlNamed(name), true);

    const std::optional<ChipType> type = CurrentTemplate().ChosenModel();
    if (!type) return;
    const codec::ChipModel& model = codec::ChipModelOf(*type);

    ControlSink sink(*this);
    app::ApplyModelValues(sink);
    host_.ProcessPendingEvents();

    const app::Template shown = CurrentTemplate();
    for (Control* control : Controls()) {
        if (control->Purpose != ControlPurpose::Field &&
            control->Purpose != ControlPurpose::Caption)
            continue;
        if (control->Field == nullptr) continue;
        if (const std::optional<bool> enabled = app::FieldEnabled(shown, *control->Field))
            SetEnabled(*control, *enabled);
    }
    SetEnabled(ControlNamed("CheckBox6"), model.Has(codec::BlankCheck));

    if (model.Has(codec::TwoChannels)) {
        SetVisible(ControlNamed("GB10"), true);
        SetVisible(ControlNamed("RB5"), model.Has(codec::CpuFifo));
        SetVisible(ControlNamed("RB11"), model.Has(codec::CpuFifo));
        SelectPage(0);
    }
    if (model.Family == codec::ChipFamily::KR4) {
        SetVisible(ControlNamed("GB11"), true);
        // The FIFO model has fixed pins and no RS232 signals to invert.
        SetVisible(ControlNamed("GB12"), model.Has(codec::ConfigurablePins));
        if (Control& page = ControlNamed("TabSheet2"); page.Caption != model.ListText) {
            page.Caption = std::string(model.ListText);
            Notify(page.Name);
        }
        SelectPage(1);
    }
}

bool TMainForm::ValidateTemplate() {
    return app::ValidateTemplate(CurrentTemplate(), *this);
}

bool TMainForm::ValidateForProgram() {
    return app::ValidateForProgram(CurrentTemplate(), *this);
}

} // namespace burnwise::ui
