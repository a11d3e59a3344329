// dl2mgr: the Dahlo2 keyer's parameter editor. An image file named on the command line (as
// a file manager passes it) is opened as File > Open would open it.
#include "ProjectVersion.h"
#include "dl2mgr/editor/ConfigFile.h"
#include "dl2mgr/editor/EditorLayout.h"
#include "dl2mgr/editor/EditorWindow.h"
#include "dl2mgr/link/PortNames.h"
#include "dl2mgr/link/QtSerialPort.h"

#include <QAction>
#include <QApplication>
#include <QStringList>
#include <QSysInfo>
#include <QTimer>
#include <cstdio>
#include <string_view>
#include <utility>

namespace {

constexpr const char* Usage =
    "Usage: dl2mgr [FILE.eep]\n"
    "Reads, edits and writes the parameter EEPROM of a Dahlo2 Morse keyer over a serial\n"
    "port, in a window. FILE.eep, when given, is the keyer image file to open.\n"
    "\n"
    "Options:\n"
    "  --help       print this help and exit\n"
    "  --version    print the version and exit\n";

// Answers the first open dialog with the file named on the command line, so that file
// goes through the same steps and checks as one chosen in the dialog.
class StartWindow final : public dl2mgr::editor::EditorWindow {
public:
    using EditorWindow::EditorWindow;
    std::optional<std::string> StartFile;

    std::optional<std::string> ChooseOpenFile() override {
        if (StartFile) return std::exchange(StartFile, std::nullopt);
        return EditorWindow::ChooseOpenFile();
    }
};

// The help lies beside the program in a build tree or a portable install, else in the
// installed tree the program came from, else where the install was meant to put it.
std::filesystem::path HelpFilePath(const std::filesystem::path& programFolder) {
    const std::filesystem::path candidates[] = {
        programFolder / "dl2mgr.html",
        programFolder.parent_path() / "share" / "doc" / "dl2mgr" / "dl2mgr.html",
    };
    std::error_code ec;
    for (const auto& path : candidates) {
        if (std::filesystem::is_regular_file(path, ec)) return path;
    }
    return std::filesystem::path(DL2MGR_HELP_DIR) / "dl2mgr.html";
}

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
            std::printf("dl2mgr %s\n", ProjectVersion);
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
    QApplication::setStyle("Fusion");
    QApplication::setApplicationName("dl2mgr");
    QApplication::setDesktopFileName("dl2mgr");

    const std::filesystem::path programFolder =
        QCoreApplication::applicationDirPath().toLocal8Bit().toStdString();
    dl2mgr::editor::EditorPaths paths;
    paths.ConfigFile = dl2mgr::editor::ConfigFilePath(programFolder, dl2mgr::link::ConfigFolder());
    paths.HelpFile = HelpFilePath(programFolder);
    paths.PortsFolder = dl2mgr::link::PortsFolder();

    dl2mgr::link::QtSerialPort port;
    dl2mgr::link::ThreadSleeper sleeper;
    StartWindow window(port, sleeper, paths);
    window.Editor().OsText = QSysInfo::prettyProductName().toLocal8Bit().toStdString();
    window.StartUp();
    window.show();
    if (args.size() == 2) {
        window.StartFile = args[1].toLocal8Bit().toStdString();
        // Once the loop runs, so an error box has a shown window to sit on.
        QTimer::singleShot(0, &window, [&window] {
            if (QAction* open = window.MenuAction(dl2mgr::editor::id::MenuOpen)) open->trigger();
        });
    }
    return app.exec();
}
