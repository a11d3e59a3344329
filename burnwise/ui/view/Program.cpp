#include "burnwise/ui/view/Program.h"

#include "burnwise/device/LinkedDriver.h"
#include "burnwise/records/RecordStore.h"
#include "burnwise/ui/MainForm.h"
#include "burnwise/ui/StationRunner.h"
#include "burnwise/ui/TemplatesFolder.h"
#include "burnwise/ui/view/AboutBox.h"
#include "burnwise/ui/view/Icons.h"
#include "burnwise/ui/view/MainWindow.h"
#include "burnwise/ui/view/ProductionWindow.h"
#include "burnwise/ui/view/Texts.h"
#include "burnwise/ui/view/WindowHost.h"

#include <QAction>
#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QStyle>
#include <QTimer>
#include <filesystem>
#include <utility>

namespace burnwise::view {

namespace fs = std::filesystem;

void PrepareApplication(QApplication& app) {
    // The window's name on the desktop (matches the desktop entry).
    QApplication::setApplicationName(QStringLiteral("burnwise"));
    QGuiApplication::setDesktopFileName(QStringLiteral("burnwise"));
    QApplication::setStyle(QStringLiteral("Fusion"));
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    QApplication::setFont(font);
    // Without a desktop session the theme is bare; Adwaita still has the usual icons.
    if (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == "hicolor")
        QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    QApplication::setWindowIcon(ProgramIcon());
    (void)app;
}

namespace {

// Help and templates beside the program (a build tree or a portable install), else where
// an installed program keeps them.
ui::FormPaths ProgramPaths() {
    ui::FormPaths paths = ui::DefaultFormPaths();
    std::error_code ignored;
    if (!fs::exists(paths.HelpFile, ignored)) {
        const fs::path installed =
            ui::ProgramFolder().parent_path() / "share" / "burnwise" / "Help" / "Burnwise.html";
        if (fs::exists(installed, ignored)) paths.HelpFile = installed;
    }
    return paths;
}

std::unique_ptr<records::RecordStore> OpenStore(const std::string& url, std::string& error) {
    return records::OpenRecordStore(url, error);
}

} // namespace

void ConnectProduction(MainWindow& window, ui::TMainForm& form, device::PipexDriver& driver) {
    records::SetStopCheck(&ui::StationRunner::AnyStopping);
    window.MakeProductionRunner = [&driver] {
        return std::make_unique<ui::StationRunner>(driver, OpenStore);
    };
    form.OpenRecords = [](const fs::path& templateFile, std::string& error) {
        // Read at every Program, so it follows the production settings as they change.
        const ui::ProductionSettings settings =
            LoadProductionSettings(DefaultProductionSettingsFile());
        app::ProductionSetup setup;
        setup.TemplateFile = templateFile;
        setup.DatabaseUrl = settings.DatabaseUrl;
        setup.Station = settings.StationName;
        return app::Production::Open(setup, OpenStore, error);
    };
    // The labels of the production settings, as the line prints them.
    form.AddLabels = [&form](app::ProgramRequest& request, app::Production& records,
                             std::string& error) {
        const ui::ProductionSettings settings =
            LoadProductionSettings(DefaultProductionSettingsFile());
        std::shared_ptr<labels::DeviceLabels> labels = ui::OpenLabels(settings.Labels, error);
        if (settings.Labels.Print && !labels) return false;
        if (labels)
            labels::PrintAfterRecords(request, records, std::move(labels),
                                      [&form](const device::DeviceOutcome&,
                                              const records::LabelStatus&,
                                              const std::string& line) { form.AppendLine(line); });
        return true;
    };
}

int RunProgram(QApplication& app, const std::function<void(MainWindow&)>& shown,
               const fs::path& templateFile) {
    WindowHost host;
    device::LinkedDriver driver;
    ui::TMainForm form(host, ProgramPaths());
    form.AttachDriver(driver);
    MainWindow window(form, host, driver.SimulatedBench());
    ConnectProduction(window, form, driver);
    TAboutBox about(&window);
    host.Attach(&window, &about);

    window.ShowFirstTime();
    if (shown) shown(window);
    if (!templateFile.empty()) {
        // Opened as File > Open opens a file, through the same steps and checks.
        host.NextOpenAnswer = templateFile;
        // Once the loop runs, so an error box has a shown window to sit on.
        QTimer::singleShot(0, &window, [&window] {
            if (QAction* open = window.ActionOf("BWOpen"); open && open->isEnabled())
                open->trigger();
        });
    }
    return app.exec();
}

} // namespace burnwise::view
