#pragma once

#include "burnwise/codec/TextEscape.h"
#include "burnwise/ui/FormHost.h"

#include <filesystem>
#include <iostream>
#include <optional>

namespace burnwise::cli {

// The form's window services on a terminal: the dialogs answer with the files named on the
// command line, and boxes go to stderr as they come ("error: TEXT", "info: TEXT").
class TerminalHost : public ui::FormHost {
public:
    std::optional<std::filesystem::path> OpenFile;
    std::optional<std::filesystem::path> SaveFile;
    // Error boxes shown so far: a command whose form showed one has failed.
    int ErrorBoxes = 0;

    std::optional<std::filesystem::path> RunOpenDialog(const ui::FileDialogOptions&) override {
        return OpenFile;
    }
    std::optional<std::filesystem::path> RunSaveDialog(const ui::FileDialogOptions&) override {
        return SaveFile;
    }
    void ShowErrorBox(std::string_view text) override {
        ++ErrorBoxes;
        std::cerr << "error: " << codec::EscapeText(text) << std::endl;
    }
    void ShowInformationBox(std::string_view text) override {
        std::cerr << "info: " << codec::EscapeText(text) << std::endl;
    }
    void ProcessPendingEvents() override {}
    void OpenHelpFile(const std::filesystem::path&) override {}
    void ShowAboutBox() override {}
    void CloseWindow() override {}
};

} // namespace burnwise::cli
