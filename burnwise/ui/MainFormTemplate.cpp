#include "burnwise/app/TemplateFile.h"
#include "burnwise/ui/ControlSink.h"

namespace burnwise::ui {

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
    ApplyDeviceTypeRules();
}

std::unique_ptr<app::FieldSink> TMainForm::IntoControls() {
    return std::make_unique<ControlSink>(*this);
}

} // namespace burnwise::ui
