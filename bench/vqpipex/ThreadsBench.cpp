// Devices written at the same time, each on a thread of its own with a handle of its own,
// on the driver library at VQPIPEX_DELAY_US=1000: the wall time for 1, 2, 4, 8 and 16
// devices, each a KR2S on a 93C46 written whole (open, 64 writes, close: 66 calls).
//   per_device  wall time / (66 calls x 1 ms): 1 when n devices take the time of one
//   vs_one      wall time / the one-device run of this program
#include "vqpipex/vqpipex.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int MaxDevices = 16;
constexpr std::uint32_t Words = 64;
constexpr int CallsPerDevice = Words + 2;
constexpr double DelaySeconds = 1e-3;

double OneDeviceSeconds = 0; // from the one-device run, which comes first

// One device's whole part; the first status that is not VQ_OK, else VQ_OK.
VQ_STATUS WritePart(int index, std::uint16_t seed) {
    VQ_HANDLE h = nullptr;
    VQ_STATUS status = VQ_Open(index, &h);
    if (status != VQ_OK) return status;
    for (std::uint32_t w = 0; w < Words && status == VQ_OK; ++w)
        status = VQ_WriteEE(h, w, static_cast<std::uint16_t>(seed + index * 0x100 + w));
    const VQ_STATUS closed = VQ_Close(h);
    return status != VQ_OK ? status : closed;
}

void DevicesAtOnce(benchmark::State& state) {
    const int devices = static_cast<int>(state.range(0));
    std::int32_t count = 0;
    if (VQ_ListDevices(&count, nullptr, VQ_LIST_NUMBER_ONLY) != VQ_OK || count < devices)
        return state.SkipWithError("the bench lacks devices");
    std::uint16_t seed = 0;
    double total = 0;
    for (auto _ : state) {
        std::vector<VQ_STATUS> statuses(static_cast<std::size_t>(devices), VQ_OTHER_ERROR);
        ++seed;
        const auto start = Clock::now();
        std::vector<std::thread> threads;
        for (int i = 0; i < devices; ++i)
            threads.emplace_back(
                [&, i] { statuses[static_cast<std::size_t>(i)] = WritePart(i, seed); });
        for (std::thread& thread : threads)
            thread.join();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        for (const VQ_STATUS status : statuses)
            if (status != VQ_OK) return state.SkipWithError("a device failed");
        state.SetIterationTime(seconds);
        total += seconds;
    }
    const double wall = total / static_cast<double>(state.iterations());
    if (devices == 1) OneDeviceSeconds = wall;
    state.counters["per_device"] = wall / (CallsPerDevice * DelaySeconds);
    if (OneDeviceSeconds > 0) state.counters["vs_one"] = wall / OneDeviceSeconds;
}
BENCHMARK(DevicesAtOnce)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Arg(16)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // The library reads its environment at its first call: the bench is made before that.
    std::string folder = (std::filesystem::temp_directory_path() / "vqpipex-bench-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) return 1;
    const std::string bench = folder + "/bench.txt";
    ::setenv("VQPIPEX_BENCH", bench.c_str(), 1);
    ::setenv("VQPIPEX_DELAY_US", "1000", 1);
    ::unsetenv("VQPIPEX_TRACE");
    std::string command = VQBENCH " reset";
    for (int i = 0; i < MaxDevices; ++i)
        command += " && " VQBENCH " add KR2S --eeprom 93C46";
    if (std::system((command + " > /dev/null").c_str()) != 0) {
        std::fprintf(stderr, "cannot make the bench in %s\n", folder.c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
