// Wall time of a keyer read and a keyer write against dahlo2-sim paced at 1200 baud, over the
// time the line itself forces: the 400 ms settling pause plus 10 bit times for every byte the
// keyer sends. A ratio near 1 means the link adds nothing of its own.
#include "dl2mgr/link/KeyerLink.h"
#include "dl2mgr/link/QtSerialPort.h"

#include <QCoreApplication>
#include <QProcess>
#include <array>
#include <benchmark/benchmark.h>
#include <chrono>

namespace {

using namespace dl2mgr::link;
using Clock = std::chrono::steady_clock;

constexpr double ByteSeconds = 10.0 / 1200.0;
constexpr double PauseSeconds = 0.4;
// Echo, revision, PotVal and PbVal: the bytes the keyer sends during a connect.
constexpr int ConnectReplyBytes = 4;

class NoDisplay final : public StatusDisplay {
public:
    void ShowStatus(const std::string&) override {}
    void ShowPotVal(const std::string&) override {}
    void ShowPbVal(const std::string&) override {}
};

class PacedSim {
public:
    PacedSim() {
        process_.start(DAHLO2_SIM, {});
        if (process_.waitForStarted(5000) && process_.waitForReadyRead(5000)) {
            device_ = process_.readLine().trimmed().toStdString();
        }
    }
    ~PacedSim() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) process_.kill();
    }
    const std::string& Device() const { return device_; }

private:
    QProcess process_;
    std::string device_;
};

template <typename Transfer>
void RunKeyerCommand(benchmark::State& state, int keyerBytes, Transfer transfer) {
    PacedSim sim;
    if (sim.Device().empty()) {
        state.SkipWithError("dahlo2-sim did not start");
        return;
    }
    const double forced = PauseSeconds + keyerBytes * ByteSeconds;
    double total = 0, worst = 0;
    for (auto _ : state) {
        QtSerialPort port;
        ThreadSleeper sleeper;
        KeyerLink link(port, sleeper);
        link.DevicePath = sim.Device();
        NoDisplay display;
        const auto start = Clock::now();
        const bool ok = link.ConnectKeyer(display) > 0 && transfer(link);
        link.CloseKeyerPort();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (!ok) {
            state.SkipWithError("the keyer command failed");
            return;
        }
        state.SetIterationTime(seconds);
        total += seconds;
        worst = std::max(worst, seconds / forced);
    }
    state.counters["forced_ms"] = forced * 1000;
    state.counters["ratio"] = total / (static_cast<double>(state.iterations()) * forced);
    state.counters["worst_ratio"] = worst;
}

void BM_ConnectAndRead(benchmark::State& state) {
    std::array<std::uint8_t, KeyerEepromSize> image{};
    RunKeyerCommand(state, ConnectReplyBytes + static_cast<int>(KeyerEepromSize),
                    [&](KeyerLink& link) { return link.ReadKeyerImage(image); });
}
BENCHMARK(BM_ConnectAndRead)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_ConnectAndWrite(benchmark::State& state) {
    std::array<std::uint8_t, KeyerEepromSize> image{};
    RunKeyerCommand(state, ConnectReplyBytes,
                    [&](KeyerLink& link) { return link.WriteKeyerImage(image); });
}
BENCHMARK(BM_ConnectAndWrite)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
