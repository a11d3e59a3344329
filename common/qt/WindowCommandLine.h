#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace common::qt {

// A window program's command line: `PROGRAM [FILE]`, with --help and --version.
struct WindowCommandLine {
    std::string_view Program; // the version line's first word
    std::string_view Version;
    std::string_view Usage; // the help, and what a wrong command line is told
};

// Answers --help (the usage on stdout) and --version ("PROGRAM VERSION") anywhere on the
// command line; called before the application object exists, so they need no display.
// The exit code when one was asked.
std::optional<int> AnswerHelpOrVersion(const WindowCommandLine& line, int argc, char** argv);

// Once the application has taken its own options (-platform, -style...) out of the list:
// the one file the rest may name, empty for none. More than one, or an option left over,
// gives the usage on stderr and exit code 2 instead.
std::optional<int> TakeFileArgument(const WindowCommandLine& line, std::string& file);

} // namespace common::qt
