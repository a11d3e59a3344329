#include "burnwise/app/TemplateFile.h"

#include "burnwise/app/TemplateEditor.h"
#include "common/FileAccess.h"

namespace burnwise::app {
namespace {

Template TemplateOf(const ProfileFile& file, const Template& shown, device::Reporter& notes) {
    Template t = shown;
    TemplateEditor editor(t, notes);
    ApplyFile(editor, file);
    ApplyModelValues(editor);
    return t;
}

} // namespace

bool WriteTemplateFile(const std::filesystem::path& fileName, const Template& t) {
    namespace fs = std::filesystem;
    std::error_code error;
    ProfileFile file;
    const fs::file_status status = fs::status(fileName, error); // through a link
    if (fs::exists(status)) {
        // Only a file can be replaced; reading a pipe here would wait for its writer.
        if (!fs::is_regular_file(status)) return false;
        // Foreign sections of an existing file must survive, so it has to be readable.
        std::string readError;
        auto existing = ProfileFile::Load(fileName, readError);
        if (!existing) return false;
        file = std::move(*existing);
    }
    for (const TemplateValue& value : TemplateValues(t))
        file.Write(value.Section, value.Key, value.Value);
    // A file that never had such a field set stays exactly as it always was.
    for (const Field& field : Fields())
        if (field.Store == FieldStore::WhenSet &&
            (t.*field.Flag || file.Read(field.Section, field.Key)))
            file.Write(field.Section, field.Key, FieldText(t, field));
    return common::ReplaceFileAtomically(fileName, file.Serialize(), error);
}

std::optional<Template> OpenTemplateFile(const std::filesystem::path& fileName,
                                         const Template& shown, device::Reporter& notes) {
    std::string error;
    const auto file = ProfileFile::Load(fileName, error);
    if (!file) {
        notes.ShowError("Cannot open file \"" + fileName.string() + "\": " + error);
        return std::nullopt;
    }
    return TemplateOf(*file, shown, notes);
}

Template TemplateFromText(std::string_view text, const Template& shown, device::Reporter& notes) {
    return TemplateOf(ProfileFile::Parse(text), shown, notes);
}

} // namespace burnwise::app
