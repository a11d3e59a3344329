// Start-up of the dl2mgr window: wall time from starting a process to the first paint of
// the editor dialog, and the resident memory at that moment. Each run is a fresh process
// (this program started again with --startup-child) that builds the window as dl2mgr's
// main() does, so loading and initialising the libraries is counted. Needs a display;
// run it under xvfb-run. Medians over the repetitions.
#include "dl2mgr/editor/EditorWindow.h"
#include "dl2mgr/link/QtSerialPort.h"

#include <QApplication>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

constexpr const char* ChildFlag = "--startup-child";
std::string selfPath;

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

// Stops the child at the dialog's first paint and reports its memory.
class FirstPaint final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            // Let this paint finish before reporting.
            QTimer::singleShot(0, [] {
                std::printf("painted %ld\n", ResidentKiB());
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool seen_ = false;
};

int RunChild(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle("Fusion");
    const std::filesystem::path config = std::getenv("XDG_CONFIG_HOME");
    dl2mgr::editor::EditorPaths paths{config / "dl2mgr.cfg", config / "dl2mgr.html",
                                      config / "ports"};
    dl2mgr::link::QtSerialPort port;
    dl2mgr::link::ThreadSleeper sleeper;
    dl2mgr::editor::EditorWindow window(port, sleeper, paths);
    FirstPaint first;
    window.findChild<QWidget*>("EditorDialog")->installEventFilter(&first);
    window.StartUp();
    window.show();
    return app.exec();
}

void BM_WindowStartUp(benchmark::State& state) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        state.SkipWithError("needs a display: run under xvfb-run");
        return;
    }
    char scratch[] = "/tmp/dl2mgr-startup-XXXXXX";
    if (!::mkdtemp(scratch)) {
        state.SkipWithError("cannot make a scratch folder");
        return;
    }
    ::setenv("XDG_CONFIG_HOME", scratch, 1);
    const std::string command = "'" + selfPath + "' " + ChildFlag;
    long rss = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::FILE* child = ::popen(command.c_str(), "r");
        char line[64] = {};
        const bool painted =
            child && std::fgets(line, sizeof line, child) && std::strncmp(line, "painted ", 8) == 0;
        const auto end = std::chrono::steady_clock::now();
        if (child) ::pclose(child);
        if (!painted) {
            state.SkipWithError("the window did not paint");
            break;
        }
        rss = std::strtol(line + 8, nullptr, 10);
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.counters["rss_MiB"] = static_cast<double>(rss) / 1024.0;
    std::filesystem::remove_all(scratch);
}
BENCHMARK(BM_WindowStartUp)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(11)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], ChildFlag) == 0) return RunChild(argc, argv);
    selfPath = std::filesystem::canonical("/proc/self/exe").string();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
