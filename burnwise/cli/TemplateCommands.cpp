#include "burnwise/cli/TemplateCommands.h"

// Placeholder until the form exists: the template commands are not registered and
// `encode --template` reports that templates are not supported yet.

namespace burnwise::cli {

void AddTemplateCommands(CLI::App&) {}

bool LoadTemplateForEncode(const std::string&, int, const std::optional<std::string>&,
                           codec::CodecState&, std::string& error) {
    error = "templates are not supported by this build";
    return false;
}

} // namespace burnwise::cli
