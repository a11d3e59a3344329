#include "common/qt/WindowCommandLine.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

namespace common::qt {

namespace {

void Print(std::string_view text, std::FILE* to) {
    std::fwrite(text.data(), 1, text.size(), to);
}

} // namespace

std::optional<int> AnswerHelpOrVersion(const WindowCommandLine& line, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") {
            Print(line.Usage, stdout);
            return 0;
        }
        if (arg == "--version") {
            Print(std::string(line.Program) + " " + std::string(line.Version) + "\n", stdout);
            return 0;
        }
    }
    return std::nullopt;
}

std::optional<int> TakeFileArgument(const WindowCommandLine& line, std::string& file) {
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 2 || (args.size() == 2 && args[1].startsWith('-'))) {
        Print(line.Usage, stderr);
        return 2;
    }
    file = args.size() == 2 ? args[1].toLocal8Bit().toStdString() : std::string();
    return std::nullopt;
}

} // namespace common::qt
