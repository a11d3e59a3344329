#include "burnwise/app/TemplateValueCheck.h"

#include "burnwise/app/ProfileFile.h"

#include <string>

namespace burnwise::app {

bool CheckFieldValues(const Template& t, device::Reporter& notes) {
    bool valid = true;
    const auto fail = [&](const Field& field, std::string_view what) {
        notes.AppendLine("ERROR : " + std::string(field.Key) + " " + std::string(what));
        valid = false;
    };
    constexpr std::string_view NotAChoice = "holds a value that is not one of its choices";
    for (const Field& field : Fields()) {
        switch (field.Kind) {
        case FieldKind::Model:
            if (!t.Model) fail(field, NotAChoice);
            break;
        case FieldKind::Index:
            // Only a list whose default is no entry (a pin that then shows its own signal)
            // may be left without one; any other would program a value nobody chose.
            if (t.*field.Index < 0 && field.Default != "-1") fail(field, NotAChoice);
            break;
        case FieldKind::Text:
            if ((t.*field.Text).find(UnreadableCharacter) != std::string::npos)
                fail(field, "holds bytes that are not valid in the file's encoding, or a "
                            "character beyond Latin-1");
            break;
        case FieldKind::Flag:
            break;
        }
    }
    return valid;
}

} // namespace burnwise::app
