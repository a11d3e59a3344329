#pragma once

#include <filesystem>
#include <functional>

class QApplication;

namespace burnwise::view {
class MainWindow;

// Burnwise's start-up and message loop: the application title and font, the form, the
// main window and the hidden About box; returns when the main window has closed.
// `shown` (for measurements) is called once the main window has been shown. A
// `templateFile` is opened once the window is up, as File > Open would open it.
int RunProgram(QApplication& app, const std::function<void(MainWindow&)>& shown = {},
               const std::filesystem::path& templateFile = {});

// Sets up the application object as the program needs it, before any window exists.
void PrepareApplication(QApplication& app);

} // namespace burnwise::view
