// burnwise: the EEPROM programmer's window. A template named on the command line (as a
// file manager passes it) is opened as File > Open would open it.

#include "ProjectVersion.h"
#include "burnwise/ui/view/Program.h"

#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <filesystem>
#include <string_view>

namespace {

constexpr const char* Usage =
    "Usage: burnwise [FILE.ept]\n"
    "Programs the configuration EEPROM of KR1 to KR4 USB interface chips from a\n"
    "programming template, in a window. FILE.ept, when given, is the template to open.\n"
    "\n"
    "Options:\n"
    "  --help       print this help and exit\n"
    "  --version    print the version and exit\n";

} // namespace

int main(int argc, char** argv) {
    // Answered before the application object exists, so they need no display.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("burnwise %s\n", ProjectVersion);
            return 0;
        }
    }
    QApplication app(argc, argv);
    // Qt has taken its own options (-platform, -style...) out of the list by now.
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 2 || (args.size() == 2 && args[1].startsWith('-'))) {
        std::fputs(Usage, stderr);
        return 2;
    }
    std::filesystem::path templateFile;
    if (args.size() == 2) templateFile = args[1].toLocal8Bit().toStdString();
    burnwise::view::PrepareApplication(app);
    return burnwise::view::RunProgram(app, {}, templateFile);
}
