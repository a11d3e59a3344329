#include "burnwise/app/TemplateFile.h"
#include "burnwise/ui/ControlSink.h"

namespace burnwise::ui {

Control& TMainForm::ControlOf(const app::Field& field) const {
    return *fieldControls_[static_cast<std::size_t>(&field - app::Fields().data())];
}

app::Template TMainForm::CurrentTemplate() const {
    app::Template t;
    for (const app::Field& field : app::Fields()) {
        const Control& control = ControlOf(field);
        switch (field.Kind) {
        case app::FieldKind::Model: {
            const int entry = static_cast<const ListControl&>(control).ItemIndex;
            if (entry >= 0)
                t.Model = static_cast<codec::ChipType>(entry);
            else
                t.Model.reset();
            break;
        }
        case app::FieldKind::Index:
            t.*field.Index = static_cast<const ListControl&>(control).ItemIndex;
            break;
        case app::FieldKind::Flag:
            t.*field.Flag = static_cast<const CheckControl&>(control).Checked;
            break;
        case app::FieldKind::Text:
            t.*field.Text = static_cast<const TextField&>(control).Text;
            break;
        }
    }
    return t;
}

std::vector<TemplateValue> TMainForm::TemplateValues() const {
    return app::TemplateValues(CurrentTemplate());
}

bool TMainForm::WriteTemplate(const std::filesystem::path& fileName) {
    if (app::WriteTemplateFile(fileName, CurrentTemplate())) return true;
    ShowError("Unable to write to " + fileName.string());
    return false;
}

bool TMainForm::ReadTemplate(const std::filesystem::path& fileName) {
    std::string error;
    const auto file = ProfileFile::Load(fileName, error);
    if (!file) {
        ShowError("Cannot open file \"" + fileName.string() + "\": " + error);
        return false;
    }
    ReadTemplate(*file);
    return true;
}

void TMainForm::ReadTemplate(const ProfileFile& file) {
    ControlSink sink(*this);
    app::ApplyFile(sink, file);
    flags_.SerialNumberDisabled = CheckBox8.Checked;
    ApplyDeviceTypeRules();
}

// ---- Gathering and showing settings ---------------------------------------------------

void TMainForm::GatherSettings(int deviceNumber) {
    app::GatherSettings(CurrentTemplate(), deviceNumber, state_, flags_);
}

void TMainForm::PutIntoWindow(codec::EepromSettings& settings, codec::FamilySelectors& selectors) {
    SetActionEnabled(BWSaveAs, true);
    SetActionEnabled(BWProgram, false);
    ControlSink sink(*this);
    app::ApplyDecoded(sink, settings, selectors);
    if (selectors.Kr2Selected || selectors.Kr3Selected)
        flags_.SerialNumberDisabled = CheckBox8.Checked;
}

void TMainForm::ShowParsedDeviceType(const codec::EepromSettings& settings,
                                     const codec::FamilySelectors& selectors) {
    EnableAll({&CB1, &CB2, &Edit1, &Edit2}, true);
    ControlSink sink(*this);
    app::ApplyParsedDeviceType(sink, settings, selectors);
    host_.ProcessPendingEvents();
    EnableAll({&CB1, &CB2, &Edit1, &Edit2}, false);
}

} // namespace burnwise::ui
