// Programming runs, measured in driver calls and wall time.
//
//   CallsPerDevice/*   driver calls per programmed device on the in-process bench, beside
//                      the least the run's steps need (counted below); extra = 0 is the goal
//   DelayedRun         16 devices on the driver library with VQPIPEX_DELAY_US=1000: wall
//                      time over (calls x 1 ms); at most 1.05 is the goal
//   ClockSerialRun     16 devices on the driver library with serial numbers from the clock:
//                      wall time per device and programming passes per device
#include "burnwise/device/LinkedDriver.h"
#include "burnwise/device/testing/InProcessBench.h"
#include "burnwise/ui/MainForm.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <utility>

namespace {

using namespace burnwise;
using Clock = std::chrono::steady_clock;

class CountingDriver final : public device::PipexDriver {
public:
    explicit CountingDriver(device::PipexDriver& inner) : inner_(inner) {}
    long Calls = 0;
    long Opens = 0;

    VQ_STATUS ListDevices(std::int32_t* count, void* reserved, std::uint32_t flags) override {
        ++Calls;
        return inner_.ListDevices(count, reserved, flags);
    }
    VQ_STATUS Open(std::int32_t index, VQ_HANDLE* handle) override {
        ++Calls;
        ++Opens;
        return inner_.Open(index, handle);
    }
    VQ_STATUS Close(VQ_HANDLE handle) override {
        ++Calls;
        return inner_.Close(handle);
    }
    VQ_STATUS SetLatencyTimer(VQ_HANDLE handle, std::uint8_t value) override {
        ++Calls;
        return inner_.SetLatencyTimer(handle, value);
    }
    VQ_STATUS GetDeviceInfo(VQ_HANDLE handle, std::uint32_t* typeCode, std::uint32_t* deviceId,
                            char* serialNumber, char* description, void* reserved) override {
        ++Calls;
        return inner_.GetDeviceInfo(handle, typeCode, deviceId, serialNumber, description,
                                    reserved);
    }
    VQ_STATUS ReadEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t* value) override {
        ++Calls;
        return inner_.ReadEE(handle, wordOffset, value);
    }
    VQ_STATUS WriteEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t value) override {
        ++Calls;
        return inner_.WriteEE(handle, wordOffset, value);
    }
    VQ_STATUS EraseEE(VQ_HANDLE handle) override {
        ++Calls;
        return inner_.EraseEE(handle);
    }
    VQ_STATUS CyclePort(VQ_HANDLE handle) override {
        ++Calls;
        return inner_.CyclePort(handle);
    }

private:
    device::PipexDriver& inner_;
};

class QuietHost final : public ui::FormHost {
public:
    int Boxes = 0;
    std::optional<std::filesystem::path> RunOpenDialog(const ui::FileDialogOptions&) override {
        return std::nullopt;
    }
    std::optional<std::filesystem::path> RunSaveDialog(const ui::FileDialogOptions&) override {
        return std::nullopt;
    }
    void ShowErrorBox(std::string_view) override { ++Boxes; }
    void ShowInformationBox(std::string_view) override { ++Boxes; }
    bool AskGoOnOrCancel(std::string_view, std::string_view) override { return true; }
    void ProcessPendingEvents() override {}
    void OpenHelpFile(const std::filesystem::path&) override {}
    void ShowAboutBox() override {}
    void CloseWindow() override {}
    void DeviceFinished(const device::DeviceOutcome& o) override {
        if (o.Operation == device::DeviceOperation::Program) Programmed += o.Passed;
    }
    int Programmed = 0;
};

// A form with a new template for `model`, programming every device (not only blank ones).
struct Programmer {
    QuietHost Host;
    ui::TMainForm Form{Host};
    int& Programmed = Host.Programmed;

    Programmer(device::PipexDriver& driver, std::string_view model, bool fixedSerial) {
        Form.FormShow();
        Form.BWNewExecute();
        const auto& items = Form.List("CB1").Items;
        Form.UserChooseEntry(
            "CB1", static_cast<int>(std::find(items.begin(), items.end(), model) - items.begin()));
        if (Form.Check("CheckBox6").Checked) Form.UserClick("CheckBox6");
        if (fixedSerial) {
            Form.UserClick("CheckBox5");
            Form.UserTypeText("Edit6", "BN000001");
        }
        Form.AttachDriver(driver);
    }
};

// The least a run needs for one blank device, programming every device, from the run's own
// steps:
//   scan: device count 1; per device open 1, device information 1, then for a device of the
//         chosen family 128 word reads and the decoder's type-code question (1 for a blank
//         image, 2 for a KR4 image, which has no blank test and fails its checksum), with the
//         three factory-word reads of the KR4 identity test before; a device the run takes
//         stays open for its pass, any other is closed (1). A KR3 chip is two devices: its
//         channel B costs open, information and close;
//   pass: on the handle the scan kept open: the size probe (reads at 0, 64 and 192 of what the part
//   holds, which it
//         erases nothing of; the marker write; reads at 0 and 64 until the marker shows) and
//         the erase, or the program time for a KR4; the image's words (64 or 128); 128
//         read-back reads; the decoder's type code 1; close 1.
struct MinimumCase {
    const char* Model;
    const char* Eeprom;
    long Minimum;
};
constexpr MinimumCase MinimumCases[] = {
    {"KR2S", "93C46", 1 + (1 + 1 + 128 + 1) + ((3 + 1 + 1) + 1 + 64 + 128 + 1 + 1)},
    {"KR3D", "93C56", 1 + (1 + 1 + 128 + 1) + (1 + 1 + 1) + ((3 + 1 + 2) + 1 + 128 + 128 + 1 + 1)},
    {"KR4S", "93C46", 1 + (1 + 1 + 3 + 128 + 2) + (1 + 64 + 128 + 1 + 1)},
};

void CallsPerDevice(benchmark::State& state) {
    const MinimumCase& c = MinimumCases[state.range(0)];
    long calls = 0;
    int programmed = 0;
    for (auto _ : state) {
        device::testing::InProcessBench bench;
        bench.AddDevice(c.Model, c.Eeprom);
        CountingDriver counting(bench);
        Programmer p(counting, c.Model, true);
        p.Form.BWProgramExecute();
        calls = counting.Calls;
        programmed = p.Programmed;
    }
    state.SetLabel(std::string(c.Model) + " on " + c.Eeprom);
    state.counters["programmed"] = programmed;
    state.counters["calls"] = static_cast<double>(calls);
    state.counters["minimum"] = static_cast<double>(c.Minimum);
    state.counters["extra"] = static_cast<double>(calls - c.Minimum);
}
BENCHMARK(CallsPerDevice)->DenseRange(0, 2)->Iterations(20)->Unit(benchmark::kMillisecond);

// A bench file of 16 blank KR2 chips on 93C46 parts, made with vqbench.
std::string SixteenDeviceBench(const std::string& name) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("bw-bench-" + std::to_string(::getpid()) + "-" + name))
                                 .string();
    std::string command = "VQPIPEX_BENCH=" + path + " " VQBENCH " reset";
    for (int i = 0; i < 16; ++i)
        command += " && VQPIPEX_BENCH=" + path + " " VQBENCH " add KR2S --eeprom 93C46";
    if (std::system((command + " >/dev/null").c_str()) != 0) return {};
    return path;
}

// The driver library takes its bench file and delay from the environment at its first
// call, so each case on it needs a process of its own.
bool LibraryUsed = false;

void DelayedRun(benchmark::State& state) {
    if (std::exchange(LibraryUsed, true))
        return state.SkipWithError("run alone: --benchmark_filter=DelayedRun");
    const std::string path = SixteenDeviceBench("delayed");
    if (path.empty()) return state.SkipWithError("vqbench failed");
    ::setenv("VQPIPEX_BENCH", path.c_str(), 1);
    ::setenv("VQPIPEX_DELAY_US", "1000", 1);
    device::LinkedDriver library;
    long calls = 0;
    double seconds = 0;
    int programmed = 0;
    for (auto _ : state) {
        CountingDriver counting(library);
        Programmer p(counting, "KR2S", true);
        const auto start = Clock::now();
        p.Form.BWProgramExecute();
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        calls = counting.Calls;
        programmed = p.Programmed;
    }
    state.counters["programmed"] = programmed;
    state.counters["calls"] = static_cast<double>(calls);
    state.counters["wall_s"] = seconds;
    state.counters["ratio"] = seconds / (static_cast<double>(calls) * 1e-3);
    std::filesystem::remove(path);
}
BENCHMARK(DelayedRun)->Iterations(1)->Unit(benchmark::kSecond);

void ClockSerialRun(benchmark::State& state) {
    if (std::exchange(LibraryUsed, true))
        return state.SkipWithError("run alone: --benchmark_filter=ClockSerialRun");
    const std::string path = SixteenDeviceBench("clock");
    if (path.empty()) return state.SkipWithError("vqbench failed");
    ::setenv("VQPIPEX_BENCH", path.c_str(), 1);
    device::LinkedDriver library;
    double seconds = 0;
    long passes = 0;
    int programmed = 0;
    for (auto _ : state) {
        CountingDriver counting(library);
        Programmer p(counting, "KR2S", false);
        const auto start = Clock::now();
        p.Form.BWProgramExecute();
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        passes = counting.Opens - 16; // the scan opens each device once
        programmed = p.Programmed;
    }
    state.counters["programmed"] = programmed;
    state.counters["wall_s"] = seconds;
    state.counters["s_per_device"] = seconds / 16;
    state.counters["passes_per_device"] = static_cast<double>(passes) / 16;
    std::filesystem::remove(path);
}
BENCHMARK(ClockSerialRun)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
