// burnwise-production-screens OUTDIR: draws the production line window in a running
// station's state (passes, a failure, a device in hand) and its settings dialog, and saves a
// PNG of each into OUTDIR for the help. The run is replayed from a fixed list of outcomes,
// so the pictures are the same every time; run it under a display (tools/screenshot.sh).

#include "burnwise/ui/view/ProductionWindow.h"
#include "burnwise/ui/view/Program.h"
#include "burnwise/ui/view/WindowHost.h"

#include <QApplication>
#include <QDir>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace burnwise;

// Replays a station's morning: many passes, a few failures, the last device in hand.
class ReplayRunner final : public ui::ProductionRunner {
public:
    std::chrono::steady_clock::time_point* Now = nullptr;

    void Start(const ui::ProductionSettings&, ui::ProductionEvents& events) override {
        events_ = &events;
        int serial = 1;
        for (int device = 0; device < 121; ++device) {
            const std::int32_t index = device % 4;
            events.DeviceStarted(index);
            device::DeviceOutcome outcome;
            outcome.Operation = device::DeviceOperation::Program;
            outcome.DriverIndex = index;
            outcome.Model = "KR2";
            outcome.EepromTypeName = "93C46";
            char text[16];
            std::snprintf(text, sizeof text, "QA%06d", serial++);
            outcome.SerialNumber = text;
            outcome.Passed = device % 40 != 38;
            if (!outcome.Passed) outcome.Reason = "Error reading device";
            events.DeviceFinished(outcome);
        }
        events.DeviceStarted(1);
        *Now += std::chrono::minutes(64);
    }
    void RequestStop() override {
        if (events_ != nullptr) events_->RunEnded({});
        events_ = nullptr;
    }

private:
    ui::ProductionEvents* events_ = nullptr;
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

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    view::PrepareApplication(app);
    if (argc != 2) {
        std::fprintf(stderr, "usage: burnwise-production-screens OUTDIR\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const fs::path scratch = fs::temp_directory_path() / "burnwise-production-screens";
    fs::create_directories(scratch);
    const fs::path templateFile = scratch / "KR2S-Serial-Cable.ept";
    std::ofstream(templateFile) << "[Basic Details]\r\nDevice Type=2\r\n"
                                   "[USB Serial Number Control]\r\nPrefix=QA\r\n"
                                   "Use Fixed Serial Number=1\r\nFixed Serial Number=QA000001\r\n";

    auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    auto runner = std::make_unique<ReplayRunner>();
    runner->Now = &now;
    view::WindowHost host;
    view::ProductionWindow window(std::move(runner), host, nullptr,
                                  QString::fromStdString((scratch / "production.conf").string()),
                                  [&now] { return now; });
    window.Beep = [] {};
    ui::ProductionSettings settings;
    settings.TemplateFile = templateFile;
    settings.DatabaseUrl = "postgresql://line@db.plant:5432/burnwise";
    settings.StationName = "bench-2";
    window.SetSettings(settings);
    window.show();
    window.StartRun();
    bool ok = Save(window, folder, "production-line");

    window.RequestStop();
    Settle();
    {
        view::ProductionSettingsDialog dialog(window.Settings(), host, &window);
        dialog.show();
        ok = Save(dialog, folder, "production-settings") && ok;
    }
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    return ok ? 0 : 1;
}
