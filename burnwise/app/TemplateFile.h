#pragma once

#include "burnwise/app/ProfileFile.h"
#include "burnwise/app/Template.h"
#include "burnwise/device/Reporter.h"

#include <filesystem>
#include <optional>

namespace burnwise::app {

// Writes the template into `fileName`, keeping whatever else an existing file holds. False
// when the file could not be written; an old file is then left as it was.
bool WriteTemplateFile(const std::filesystem::path& fileName, const Template& t);

// Opens a template file over `shown` (the template shown before) as the window's Open
// does: every value goes in with its rules, lines and boxes to `notes`, then the model's
// values. Nothing, after the error box, when the file cannot be read.
std::optional<Template> OpenTemplateFile(const std::filesystem::path& fileName,
                                         const Template& shown, device::Reporter& notes);

// The same for the text of a template file already read.
Template TemplateFromText(std::string_view text, const Template& shown, device::Reporter& notes);

} // namespace burnwise::app
