#pragma once

#include <CLI/CLI.hpp>

namespace burnwise::cli {

// Adds `scan`, `erase`, `read`, `parse`, `cycle`, `program` and `verify` over the linked
// driver library, `history`, the production records, and `label`, a device's label printed
// again from its record. `program` and `verify` leave a
// record of every device they touch in the records' database. Message-list lines go to stdout as
// they are appended, boxes to stderr ("error: TEXT", "info: TEXT"). Exit status 0 when the
// operation went through every device it took, 1 when it stopped early or found none, 2 for
// bad arguments or an unreadable template.
void AddDeviceCommands(CLI::App& app);

// SIGINT, SIGTERM and SIGHUP (a closed terminal or SSH session) end every device command
// as Ctrl+C ends the watch: the devices in hand are finished and recorded, then the run
// stops. Installed once, before any command runs.
void InstallStopSignals();

} // namespace burnwise::cli
