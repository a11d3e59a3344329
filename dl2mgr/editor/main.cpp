// dl2mgr: the Dahlo2 keyer's parameter editor.
#include "dl2mgr/editor/ConfigFile.h"
#include "dl2mgr/editor/EditorWindow.h"
#include "dl2mgr/link/PortNames.h"
#include "dl2mgr/link/QtSerialPort.h"

#include <QApplication>
#include <QSysInfo>

namespace {

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
    QApplication app(argc, argv);
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
    dl2mgr::editor::EditorWindow window(port, sleeper, paths);
    window.Editor().OsText = QSysInfo::prettyProductName().toLocal8Bit().toStdString();
    window.StartUp();
    window.show();
    return app.exec();
}
