#pragma once

#include "burnwise/ui/MainForm.h"

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace burnwise::ui {

// A template shipped with the program, copied into a new user templates folder.
struct ExampleTemplate {
    std::string_view FileName;
    std::string_view Contents;
};

std::span<const ExampleTemplate> ExampleTemplates();

// The folder of the running program file.
std::filesystem::path ProgramFolder();

struct TemplatesFolderSources {
    std::filesystem::path ProgramFolder;
    std::string XdgDataHome; // empty when unset
    std::string Home;
};

// The folder a portable install or a build tree keeps beside the program file, when it
// has one; otherwise Burnwise's folder in the user's data folder, created and seeded with
// the example templates the first time. Returns that folder even when creating or seeding
// it failed (with `error` set), so the dialogs still have somewhere to start.
std::filesystem::path FindTemplatesFolder(const TemplatesFolderSources& sources,
                                          std::error_code& error);

// The paths of this program: templates folder as above (from the environment) and the
// help file beside the program.
FormPaths DefaultFormPaths();

} // namespace burnwise::ui
