#pragma once

#include <filesystem>
#include <functional>

class QApplication;

namespace burnwise::device {
class PipexDriver;
}
namespace burnwise::ui {
class TMainForm;
}

namespace burnwise::view {
class MainWindow;

// Production on the program's driver: the production line window runs the watch on
// `driver`, and the form's Program records every device, both in the database and under
// the station name of the production settings.
void ConnectProduction(MainWindow& window, ui::TMainForm& form, device::PipexDriver& driver);

// Burnwise's start-up and message loop: the application title and font, the form, the
// main window and the hidden About box; returns when the main window has closed.
// `shown` (for measurements) is called once the main window has been shown. A
// `templateFile` is opened once the window is up, as File > Open would open it.
int RunProgram(QApplication& app, const std::function<void(MainWindow&)>& shown = {},
               const std::filesystem::path& templateFile = {});

// Sets up the application object as the program needs it, before any window exists.
void PrepareApplication(QApplication& app);

} // namespace burnwise::view
