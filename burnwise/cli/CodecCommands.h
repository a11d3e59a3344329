#pragma once

#include <CLI/CLI.hpp>

namespace burnwise::cli {

// Adds `encode`, `decode` and `dump`. Each runs from its subcommand's callback; a failure
// prints nothing itself and throws CLI::RuntimeError with a one-line message and exit
// status 2, which main() reports.
void AddCodecCommands(CLI::App& app);

} // namespace burnwise::cli
