// burnwise-cli: Burnwise's codec, template logic and device commands without a window, for
// scripts and production lines. Exit status 0 on success, 2 with one line on stderr for bad
// arguments or unreadable input; a device command that stopped early or found no devices
// exits 1.

#include "ProjectVersion.h"
#include "burnwise/cli/CodecCommands.h"
#include "burnwise/cli/DeviceCommands.h"
#include "burnwise/cli/TemplateCommands.h"

#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    CLI::App app{"Burnwise EEPROM image codec, templates and device commands", "burnwise-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("burnwise-cli ") + ProjectVersion);
    burnwise::cli::AddCodecCommands(app);
    burnwise::cli::AddTemplateCommands(app);
    burnwise::cli::AddDeviceCommands(app);
    burnwise::cli::InstallStopSignals();
    try {
        app.parse(argc, argv);
    } catch (const CLI::RuntimeError& e) {
        // Thrown by a command that has failed; its message, if any, is the one line.
        const std::string message = e.what();
        if (!message.empty() && message != "Runtime error") {
            std::cerr << "burnwise-cli: " << message << '\n';
        }
        return e.get_exit_code();
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e); // --help
        std::cerr << "burnwise-cli: " << e.what() << '\n';
        return 2;
    } catch (const std::exception& e) {
        // Whatever else a command meets (memory, a stream) still ends in one line.
        std::cerr << "burnwise-cli: " << e.what() << '\n';
        return 2;
    } catch (...) {
        std::cerr << "burnwise-cli: unexpected failure\n";
        return 2;
    }
    return 0;
}
