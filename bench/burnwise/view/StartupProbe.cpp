// burnwise-startup-probe: starts exactly as burnwise does and, once the main window has
// been painted for the first time, prints how long that took since the launch and the
// resident memory, then quits. The launcher passes its clock reading (CLOCK_REALTIME, in
// nanoseconds) in BW_LAUNCH_NS just before it starts the program; startup.sh does that
// and takes the medians.

#include "burnwise/ui/view/MainWindow.h"
#include "burnwise/ui/view/Program.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

namespace {

long long NowNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

class FirstPaint : public QObject {
public:
    explicit FirstPaint(long long launchNs) : launchNs_(launchNs) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!done_ && event->type() == QEvent::Paint) {
            done_ = true;
            // After this paint has been flushed to the screen.
            QTimer::singleShot(0, [this] {
                const double ms = static_cast<double>(NowNs() - launchNs_) / 1e6;
                std::printf("first-paint-ms %.1f rss-kb %ld\n", ms, ResidentKb());
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    long long launchNs_;
    bool done_ = false;
};

} // namespace

int main(int argc, char** argv) {
    const char* launch = std::getenv("BW_LAUNCH_NS");
    const long long launchNs = launch != nullptr ? std::atoll(launch) : NowNs();
    QApplication app(argc, argv);
    burnwise::view::PrepareApplication(app);
    FirstPaint probe(launchNs);
    return burnwise::view::RunProgram(
        app, [&](burnwise::view::MainWindow& window) { window.installEventFilter(&probe); });
}
