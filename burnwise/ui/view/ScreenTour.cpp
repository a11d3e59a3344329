// burnwise-screens OUTDIR: shows Burnwise's window in each of its typical states and saves
// a PNG of each into OUTDIR (for the help and the README). Drives the form through the
// same entry points as the user's clicks; run it under a display (tools/screenshot.sh
// uses Xvfb).

#include "burnwise/device/LinkedDriver.h"
#include "burnwise/ui/MainForm.h"
#include "burnwise/ui/TemplatesFolder.h"
#include "burnwise/ui/view/AboutBox.h"
#include "burnwise/ui/view/MainWindow.h"
#include "burnwise/ui/view/Program.h"
#include "burnwise/ui/view/ResultsWindow.h"
#include "burnwise/ui/view/WindowHost.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QThread>
#include <cstdio>
#include <filesystem>

namespace {

namespace fs = std::filesystem;
using burnwise::view::MainWindow;

// Answers the file dialogs with set files and keeps boxes off the screen.
class TourHost : public burnwise::view::WindowHost {
public:
    std::optional<fs::path> OpenAnswer;
    std::optional<fs::path> SaveAnswer;
    std::optional<fs::path> RunOpenDialog(const burnwise::ui::FileDialogOptions&) override {
        return OpenAnswer;
    }
    std::optional<fs::path> RunSaveDialog(const burnwise::ui::FileDialogOptions&) override {
        return SaveAnswer;
    }
    void ShowErrorBox(std::string_view text) override {
        std::fprintf(stderr, "error box: %.*s\n", static_cast<int>(text.size()), text.data());
    }
    void ShowInformationBox(std::string_view text) override {
        std::fprintf(stderr, "information box: %.*s\n", static_cast<int>(text.size()), text.data());
    }
};

void Settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
}

bool Save(QWidget& widget, const QString& folder, const char* name) {
    Settle();
    const QString file = folder + "/" + name + ".png";
    const bool saved = widget.grab().save(file);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(file));
    return saved;
}

int ModelIndex(const burnwise::ui::TMainForm& form, std::string_view model) {
    for (std::size_t i = 0; i < form.List("CB1").Items.size(); ++i)
        if (form.List("CB1").Items[i] == model) return static_cast<int>(i);
    return 0;
}

// Edit mode of a new template for a model of each family.
bool SaveModels(burnwise::ui::TMainForm& form, MainWindow& window, const QString& folder) {
    bool ok = true;
    const struct {
        const char* Model;
        const char* Shot;
    } models[] = {{"KR1S", "edit-kr1s"},
                  {"KR2S", "edit-kr2s"},
                  {"KR3E", "edit-kr3e"},
                  {"KR4S", "edit-kr4s"},
                  {"KR4F", "edit-kr4f"}};
    for (const auto& model : models) {
        form.UserExecute("BWNew");
        form.UserChooseEntry("CB1", ModelIndex(form, model.Model));
        ok = Save(window, folder, model.Shot) && ok;
    }
    return ok;
}

// A scan and a finished programming run on the bench the driver library offers, run as the
// user's commands (busy mode, the results table).
bool SaveRun(burnwise::ui::TMainForm& form, MainWindow& window, const QString& folder) {
    window.ActionOf("BWScan")->trigger();
    bool ok = Save(window, folder, "scan");
    // The window busy while the run goes on: grabbed as the last device is programmed.
    auto previous = form.DeviceProgressChanged;
    bool grabbed = false;
    form.DeviceProgressChanged = [&](int position, int count) {
        previous(position, count);
        if (!grabbed && window.IsBusy() && position == count && count > 0 &&
            form.Messages().Lines.empty()) {
            grabbed = true;
            ok = Save(window, folder, "busy") && ok;
        }
    };
    window.ActionOf("BWProgram")->trigger();
    form.DeviceProgressChanged = previous;
    return Save(window, folder, "finished-run") && ok;
}

// The run with the results table below the window, in one picture.
bool SaveResults(MainWindow& window, const QString& folder) {
    burnwise::view::ResultsWindow& results = *window.Results();
    results.resize(window.width(), 200);
    results.show();
    Settle();
    const QPixmap top = window.grab();
    const QPixmap bottom = results.grab();
    QPixmap both(std::max(top.width(), bottom.width()), top.height() + 6 + bottom.height());
    both.fill(Qt::white);
    QPainter painter(&both);
    painter.drawPixmap(0, 0, top);
    painter.drawPixmap(0, top.height() + 6, bottom);
    painter.end();
    const QString file = folder + "/results.png";
    const bool saved = both.save(file);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(file));
    return saved;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    burnwise::view::PrepareApplication(app);
    if (argc != 2) {
        std::fprintf(stderr, "usage: burnwise-screens OUTDIR\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const fs::path scratch = fs::temp_directory_path() / "burnwise-screens";
    fs::create_directories(scratch);

    TourHost host;
    burnwise::device::LinkedDriver driver;
    burnwise::ui::TMainForm form(host, burnwise::ui::DefaultFormPaths());
    form.AttachDriver(driver);
    MainWindow window(form, host, driver.SimulatedBench());
    burnwise::view::TAboutBox about(&window);
    host.Attach(&window, &about);
    window.ShowFirstTime();

    bool ok = Save(window, folder, "start");
    ok = SaveModels(form, window, folder) && ok;

    // Program mode: the KR2S template, with a fixed serial number, saved under a name.
    form.UserExecute("BWNew");
    form.UserChooseEntry("CB1", ModelIndex(form, "KR2S"));
    form.UserClick("CheckBox5");
    host.SaveAnswer = scratch / "Serial-Cable.ept";
    form.UserExecute("BWSaveAs");
    ok = Save(window, folder, "program-mode") && ok;

    ok = SaveRun(form, window, folder) && ok;
    ok = SaveResults(window, folder) && ok;
    form.UserExecute("Read1");
    ok = Save(window, folder, "read") && ok;

    about.show();
    ok = Save(about, folder, "about") && ok;
    about.hide();

    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    return ok ? 0 : 1;
}
