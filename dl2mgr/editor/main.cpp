// dl2mgr: the Dahlo2 keyer's parameter editor. An image file named on the command line (as
// a file manager passes it) is opened as File > Open would open it.
#include "ProjectVersion.h"
#include "common/qt/WindowCommandLine.h"
#include "dl2mgr/editor/ConfigFile.h"
#include "dl2mgr/editor/EditorLayout.h"
#include "dl2mgr/editor/EditorWindow.h"
#include "dl2mgr/link/PortNames.h"
#include "dl2mgr/link/QtSerialPort.h"

#include <QAction>
#include <QApplication>
#include <QSysInfo>
#include <QTimer>
#include <string_view>
#include <utility>

namespace {

constexpr std::string_view Usage =
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
    const common::qt::WindowCommandLine line{"dl2mgr", ProjectVersion, Usage};
    if (const auto answered = common::qt::AnswerHelpOrVersion(line, argc, argv)) return *answered;
    QApplication app(argc, argv);
    std::string startFile;
    if (const auto wrong = common::qt::TakeFileArgument(line, startFile)) return *wrong;
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
    if (!startFile.empty()) {
        window.StartFile = startFile;
        // Once the loop runs, so an error box has a shown window to sit on.
        QTimer::singleShot(0, &window, [&window] {
            if (QAction* open = window.MenuAction(dl2mgr::editor::id::MenuOpen)) open->trigger();
        });
    }
    return app.exec();
}
