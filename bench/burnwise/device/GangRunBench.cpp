// Programming runs on the driver library with VQPIPEX_DELAY_US=1000, every device at once
// against one by one: 1, 2, 4, 8 and 16 KR2S on 93C46 parts of one bench file (the scan
// takes the first n only), each run whole (scan, write, read-back, verify).
//   wall_s   the run's wall time
//   vs_one   wall time / the one-device run at once (runs first); 1.3 at most for 16 devices
//            at once is the goal, one by one takes about n
#include "burnwise/device/DeviceEngine.h"
#include "burnwise/device/LinkedDriver.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace burnwise;
using Clock = std::chrono::steady_clock;

constexpr int BenchDevices = 16;

class Silent final : public device::Reporter {
public:
    void AppendLine(std::string_view) override {}
    void ClearLines() override {}
    void ShowError(std::string_view) override {}
    void ShowInformation(std::string_view) override {}
};

// A KR2 template with fixed serial numbers, the last character advanced by the position.
class Kr2Template final : public device::SettingsSource {
public:
    explicit Kr2Template(codec::CodecState& state) : state_(state) {
        state_.Selectors = codec::ChipModelOf(codec::ChipType::KR2S).Selectors;
    }
    bool CheckStringTotal() override { return true; }
    void GatherSettings(int n) override {
        codec::EepromSettings& s = state_.Settings;
        s.Reset();
        s.VendorId = 0x1A2B;
        s.ProductId = 0x6001;
        codec::SetText(s.Manufacturer, "Maker");
        codec::SetText(s.ProductDescription, "Gang Line");
        codec::SetText(s.SerialNumber, std::string("GB00000") + static_cast<char>('A' + n));
        s.MaxPowerMilliAmps = 90;
        s.Kr2Present = 1;
        s.Kr2SerialNumberEnable = 1;
        s.Kr2UsbVersionEnable = 1;
        s.Kr2UsbVersion = 0x0200;
    }

private:
    codec::CodecState& state_;
};

double OneDeviceSeconds = 0;

void ProgramRun(benchmark::State& state) {
    const int devices = static_cast<int>(state.range(0));
    const bool atOnce = state.range(1) != 0;
    device::LinkedDriver library;
    double total = 0;
    int programmed = 0;
    for (auto _ : state) {
        codec::CodecState codec;
        device::RunFlags flags;
        Silent silent;
        const codec::FixedUtcClock clock({2026, 12, 9, 10, 0, 0});
        device::DeviceEngine engine(library, codec, flags, silent, clock);
        // The first `devices` of the bench, known by the serial numbers they report.
        const std::vector<std::string> attached =
            engine.AttachedSerials().value_or(std::vector<std::string>{});
        const std::set<std::string> taken(
            attached.begin(),
            attached.begin() + std::min<std::ptrdiff_t>(devices, std::ssize(attached)));
        device::RunContext context;
        context.ScanFilter = [taken](const std::string& serial) { return taken.contains(serial); };
        programmed = 0;
        context.DeviceFinished = [&](const device::DeviceOutcome& o) { programmed += o.Passed; };
        Kr2Template settings(codec);
        const auto start = Clock::now();
        const device::RunEnd end = atOnce ? engine.ProgramRunParallel(settings, context)
                                          : engine.ProgramRun(settings, context);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (end != device::RunEnd::Completed || programmed != devices)
            return state.SkipWithError("a device was not programmed");
        state.SetIterationTime(seconds);
        total += seconds;
    }
    const double wall = total / static_cast<double>(state.iterations());
    if (atOnce && devices == 1) OneDeviceSeconds = wall;
    state.SetLabel(atOnce ? "at once" : "one by one");
    state.counters["devices"] = devices;
    state.counters["wall_s"] = wall;
    if (OneDeviceSeconds > 0) state.counters["vs_one"] = wall / OneDeviceSeconds;
}
BENCHMARK(ProgramRun)
    ->ArgNames({"devices", "at_once"})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({4, 1})
    ->Args({8, 1})
    ->Args({16, 1})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({4, 0})
    ->Args({8, 0})
    ->Args({16, 0})
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // The library reads its environment at its first call: the bench is made before that.
    std::string folder = (std::filesystem::temp_directory_path() / "bw-gang-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) return 1;
    const std::string bench = folder + "/bench.txt";
    ::setenv("VQPIPEX_BENCH", bench.c_str(), 1);
    ::setenv("VQPIPEX_DELAY_US", "1000", 1);
    ::unsetenv("VQPIPEX_TRACE");
    std::string command = VQBENCH " reset";
    for (int i = 0; i < BenchDevices; ++i)
        command += " && " VQBENCH " add KR2S --eeprom 93C46";
    if (std::system((command + " > /dev/null").c_str()) != 0) {
        std::filesystem::remove_all(folder);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
