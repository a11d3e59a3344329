#include "burnwise/ui/TemplatesFolder.h"

#include <cstdlib>
#include <fstream>

namespace burnwise::ui {

namespace fs = std::filesystem;

fs::path ProgramFolder() {
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path(error) : program.parent_path();
}

fs::path FindTemplatesFolder(const TemplatesFolderSources& sources, std::error_code& error) {
    error.clear();
    std::error_code ignored;
    if (!sources.ProgramFolder.empty()) {
        const fs::path beside = sources.ProgramFolder / "Templates";
        if (fs::is_directory(beside, ignored)) return beside;
    }

    fs::path dataHome;
    if (!sources.XdgDataHome.empty() && fs::path(sources.XdgDataHome).is_absolute())
        dataHome = sources.XdgDataHome;
    else if (!sources.Home.empty())
        dataHome = fs::path(sources.Home) / ".local" / "share";
    else
        dataHome = fs::temp_directory_path(ignored);
    const fs::path folder = dataHome / "burnwise" / "Templates";

    if (fs::is_directory(folder, ignored)) return folder;
    // Seed only a folder made here, so templates the user deleted stay deleted.
    if (!fs::create_directories(folder, error) && error) return folder;
    for (const ExampleTemplate& example : ExampleTemplates()) {
        const fs::path file = folder / fs::path(example.FileName);
        std::error_code writeError;
        if (!common::ReplaceFileAtomically(file, example.Contents, writeError) && !error)
            error = writeError;
    }
    return folder;
}

FormPaths DefaultFormPaths() {
    const auto variable = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value != nullptr ? value : "");
    };
    TemplatesFolderSources sources{ProgramFolder(), variable("XDG_DATA_HOME"), variable("HOME")};
    std::error_code error;
    FormPaths paths;
    paths.TemplatesFolder = FindTemplatesFolder(sources, error);
    paths.HelpFile = sources.ProgramFolder / "Help" / "Burnwise.html";
    return paths;
}

} // namespace burnwise::ui
