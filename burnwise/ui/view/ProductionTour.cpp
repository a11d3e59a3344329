// burnwise-production-screens OUTDIR: draws the production line window of a station at work
// (passes and a failure) and its settings dialog, and saves a PNG of each into OUTDIR for
// the help. The run is a real one: the program's runner on the simulated driver library,
// with a bench and a records database of its own in a scratch folder, and cables plugged in
// with vqbench as it goes. Run it under a display (tools/screenshot.sh).

#include "burnwise/codec/ChipModels.h"
#include "burnwise/device/LinkedDriver.h"
#include "burnwise/ui/MainForm.h"
#include "burnwise/ui/view/MainWindow.h"
#include "burnwise/ui/view/ProductionWindow.h"
#include "burnwise/ui/view/Program.h"
#include "burnwise/ui/view/WindowHost.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace burnwise;

// A serial cable numbered by a series from its fixed serial number, with the maker's IDs of
// its model.
std::string CableTemplate() {
    const codec::ChipModel& cable = codec::ChipModelOf(codec::ChipType::KR2S);
    return "[Basic Details]\r\nDevice Type=" + std::to_string(static_cast<int>(cable.Type)) +
           "\r\nVID PID Type=0\r\nUSB VID=" + std::string(cable.DefaultVid) +
           "\r\nUSB PID=" + std::string(cable.DefaultPid) +
           "\r\n"
           "[USB Power Options]\r\nBus Powered=1\r\nMax Bus Power=100\r\n"
           "[USB Serial Number Control]\r\nPrefix=QA\r\nUse Fixed Serial Number=1\r\n"
           "Fixed Serial Number=QA000101\r\n"
           "[USB String Descriptors]\r\nManufacturer=Bench Maker\r\nProduct=Serial Cable\r\n"
           "[Programming Options]\r\nOnly Program Blank Devices=1\r\n";
}

bool Vqbench(const std::string& args) {
    const std::string command = std::string(VQBENCH) + " " + args + " >/dev/null";
    if (std::system(command.c_str()) == 0) return true;
    std::fprintf(stderr, "vqbench %s failed\n", args.c_str());
    return false;
}

// Lets the window run until `done`, at most half a minute.
bool RunUntil(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    return done();
}

int Finished(const ui::ProductionBoard& board) {
    return board.Passed() + board.Failed();
}

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
    if (argc != 2) {
        std::fprintf(stderr, "usage: burnwise-production-screens OUTDIR\n");
        return 2;
    }
    // The bench, the records and the settings are this tour's own, never the user's.
    const fs::path scratch = fs::temp_directory_path() / "burnwise-production-screens";
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    fs::create_directories(scratch);
    ::setenv("VQPIPEX_BENCH", (scratch / "bench.txt").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (scratch / "state").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);

    QApplication app(argc, argv);
    view::PrepareApplication(app);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const fs::path templateFile = scratch / "KR2S-Serial-Cable.ept";
    std::ofstream(templateFile, std::ios::binary) << CableTemplate();

    // Four cables on the bench at Start, the third one a bad part that ignores a write.
    bool ok = Vqbench("reset");
    for (int i = 0; i < 4; ++i)
        ok = Vqbench("add KR2S") && ok;
    ok = Vqbench("fault 2 ignore-writes --word 4") && ok;

    view::WindowHost host;
    device::LinkedDriver driver;
    ui::TMainForm form(host, {scratch / "Templates", scratch / "Help.html"});
    form.AttachDriver(driver);
    view::MainWindow window(form, host, driver.SimulatedBench());
    view::ConnectProduction(window, form, driver);
    host.Attach(&window, nullptr);
    window.ShowFirstTime();
    window.findChild<QAction*>("BWProduction")->trigger();
    auto* line = window.findChild<view::ProductionWindow*>();
    if (line == nullptr) return 1;
    line->Beep = [] {};
    ui::ProductionSettings settings;
    settings.TemplateFile = templateFile;
    settings.SerialSource = app::SerialSource::Series;
    settings.StationName = "bench-2";
    line->SetSettings(settings);

    line->StartRun();
    ok = RunUntil([&] { return Finished(line->Board()) == 4; }) && ok;
    // Two more plugged in while it runs; the pace needs a second or two.
    ok = Vqbench("add KR2S") && Vqbench("add KR2S") && ok;
    ok = RunUntil([&] { return Finished(line->Board()) == 6; }) && ok;
    // The first cable is unplugged: its tile greys, the others stay as they were.
    ok = Vqbench("remove 0") && ok;
    ok =
        RunUntil([&] {
            const auto& tiles = line->Board().Tiles();
            return std::any_of(tiles.begin(), tiles.end(), [](const auto& t) { return t.Removed; });
        }) &&
        ok;
    QThread::sleep(2);
    ok = Save(*line, folder, "production-line") && ok;

    line->RequestStop();
    ok = RunUntil([&] { return !line->IsRunning(); }) && ok;
    {
        view::ProductionSettingsDialog dialog(line->Settings(), host, line);
        dialog.show();
        ok = Save(dialog, folder, "production-settings") && ok;
    }
    line->close();
    fs::remove_all(scratch, ignored);
    return ok ? 0 : 1;
}
