#pragma once

#include "burnwise/labels/DeviceLabels.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>

namespace burnwise::cli {

// Where a command's labels go: --label LAYOUT, and --printer QUEUE (default: the print
// service's default destination) or --label-dir DIR.
struct LabelOptions {
    std::optional<std::string> Layout;
    std::optional<std::string> Printer;
    std::optional<std::string> Folder;
};

// Adds --label, --printer and --label-dir to `command`.
void AddLabelOptions(CLI::App& command, LabelOptions& options);

// The labels the options ask for, or nothing when no --label was given. A layout that
// cannot be used ends the command with 2 and the layout's line, before any device is
// touched.
std::unique_ptr<labels::DeviceLabels> OpenLabels(const LabelOptions& options);

// Adds `label`: prints a device's label again from its record.
void AddLabelCommand(CLI::App& app);

} // namespace burnwise::cli
