// The driver library's C functions over the simulated bench kept in a bench file.
//
// The bench file is read afresh at every VQ_ListDevices, as a real bus is enumerated
// afresh, so chips added or removed with vqbench meanwhile show up at the next scan. The
// EEPROM words a program changes are kept in memory and written back (under the bench
// lock, merged into a fresh read of the file so a concurrent vqbench change survives) when
// the handle is closed, when the port is cycled, at the next device count and when the
// process ends. A counted fault that struck is written back at once, so its count holds
// across processes. Writing per word would cost a file replace per USB round trip.
#include "vqpipex/BenchFile.h"
#include "vqpipex/Simulator.h"
#include "vqpipex/vqpipex.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

class LibraryBench {
public:
    LibraryBench() : Path(vqpipex::BenchPathFromEnvironment()) {
        if (const char* delay = std::getenv("VQPIPEX_DELAY_US")) {
            char* end = nullptr;
            errno = 0;
            const unsigned long us = std::strtoul(delay, &end, 10);
            // At most ten seconds a call; anything unreadable means no delay.
            if (errno == 0 && end != delay && *end == '\0' && us <= 10'000'000ul)
                Delay = std::chrono::microseconds(us);
        }
        if (const char* trace = std::getenv("VQPIPEX_TRACE"); trace != nullptr && *trace != '\0') {
            TraceFd = ::open(trace, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
            if (TraceFd < 0)
                Complain(std::string("cannot open the trace file ") + trace + ": " +
                         std::strerror(errno));
        }
    }

    ~LibraryBench() {
        std::lock_guard guard(Mutex);
        Save();
        if (TraceFd >= 0) ::close(TraceFd);
    }

    std::mutex Mutex;
    vqpipex::Simulator Sim;
    const std::string Path;

    // Re-reads the bench file (creating the default bench on first use), carrying this
    // process's unsaved changes into it.
    bool Reload() {
        vqpipex::Bench fresh;
        const std::string error =
            vqpipex::UpdateBench(Path, [&](vqpipex::Bench& bench, std::string&) {
                const bool changed = Merge(bench);
                fresh = bench;
                return changed;
            });
        if (!error.empty()) return Complain(error);
        Sim.ReplaceBench(std::move(fresh));
        Loaded = true;
        return true;
    }

    bool EnsureLoaded() { return Loaded || Reload(); }

    // Writes this process's changes back, if there are any. The chips it knows take the
    // file's contents; chips added meanwhile wait for the next device count.
    bool Save() {
        if (!Pending()) return true;
        const std::string error =
            vqpipex::UpdateBench(Path, [&](vqpipex::Bench& bench, std::string&) {
                const bool changed = Merge(bench);
                for (vqpipex::Chip& mine : Sim.GetBench().Chips) {
                    if (const vqpipex::Chip* theirs = bench.FindChip(mine.Serial)) {
                        mine.Words = theirs->Words;
                        mine.Faults = theirs->Faults;
                    }
                }
                return changed;
            });
        if (!error.empty()) return Complain(error);
        Saved();
        return true;
    }

    // After every call: the trace line, then the simulated USB round trip.
    VQ_STATUS Finish(VQ_STATUS status, const char* format, ...)
        __attribute__((format(printf, 3, 4))) {
        if (Sim.FaultCountChanged()) Save();
        if (TraceFd >= 0) {
            char line[256];
            va_list args;
            va_start(args, format);
            int n = std::vsnprintf(line, sizeof line - 16, format, args);
            va_end(args);
            if (n < 0) n = 0;
            if (static_cast<std::size_t>(n) > sizeof line - 17) n = sizeof line - 17;
            n += std::snprintf(line + n, 16, " => %" PRIu32 "\n", status);
            // One write per line on an O_APPEND descriptor: lines of several processes
            // never mix.
            [[maybe_unused]] const ssize_t written =
                ::write(TraceFd, line, static_cast<std::size_t>(n));
        }
        Pace();
        return status;
    }

private:
    bool Pending() const {
        for (const vqpipex::Chip& chip : Sim.GetBench().Chips)
            if (chip.WordsChanged || !chip.FaultsStruck.empty()) return true;
        return false;
    }

    // Puts this process's changes into `bench`, a fresh read of the file.
    bool Merge(vqpipex::Bench& bench) {
        bool changed = false;
        for (vqpipex::Chip& mine : Sim.GetBench().Chips) {
            vqpipex::Chip* theirs = bench.FindChip(mine.Serial);
            // A chip removed meanwhile takes its changes with it, as unplugging does.
            if (theirs != nullptr && mine.WordsChanged &&
                theirs->Words.size() == mine.Words.size()) {
                theirs->Words = mine.Words;
                changed = true;
            }
            for (const auto& [channel, struck] : mine.FaultsStruck) {
                if (theirs == nullptr) break;
                auto& faults = theirs->Faults[static_cast<std::size_t>(channel)];
                for (auto it = faults.begin(); it != faults.end(); ++it) {
                    if (it->Kind == struck.Kind && it->Word == struck.Word &&
                        it->Status == struck.Status && it->Times > 0) {
                        if (--it->Times == 0) faults.erase(it);
                        changed = true;
                        break;
                    }
                }
            }
        }
        return changed;
    }

    // Once the file holds them, this process's changes are no longer its own.
    void Saved() {
        for (vqpipex::Chip& chip : Sim.GetBench().Chips) {
            chip.WordsChanged = false;
            chip.FaultsStruck.clear();
        }
    }

    bool Complain(const std::string& error) {
        std::fprintf(stderr, "vqpipex: %s\n", error.c_str());
        return false;
    }

    // Each call takes the configured time. Sleeps overshoot and the library's own work
    // (a bench write-back) takes time too; the overrun is carried into the next calls'
    // sleeps, so a run of n calls takes n times the delay, as on a bus.
    void Pace() {
        if (Delay.count() == 0) return;
        const auto now = Clock::now();
        const auto target = CallStart + Delay - Overrun;
        if (target > now) std::this_thread::sleep_until(target);
        const auto end = Clock::now();
        Overrun = std::clamp(std::chrono::duration_cast<std::chrono::nanoseconds>(end - target),
                             std::chrono::nanoseconds(0), std::chrono::nanoseconds(Delay) * 50);
        CallStart = {};
    }

public:
    // Marks the start of a call, for the pacing.
    void Start() {
        if (Delay.count() != 0) CallStart = Clock::now();
    }

private:
    bool Loaded = false;
    std::chrono::microseconds Delay{0};
    std::chrono::nanoseconds Overrun{0};
    Clock::time_point CallStart{};
    int TraceFd = -1;
};

LibraryBench& Library() {
    static LibraryBench library;
    return library;
}

// Takes the library's lock for one call and marks its start.
struct Call {
    LibraryBench& L;
    std::lock_guard<std::mutex> Guard;
    Call() : L(Library()), Guard(L.Mutex) { L.Start(); }
};

} // namespace

extern "C" {

VQ_STATUS VQ_ListDevices(int32_t* count, void* reserved, uint32_t flags) {
    Call c;
    VQ_STATUS status = VQ_IO_ERROR;
    if (c.L.Reload()) status = c.L.Sim.ListDevices(count, reserved, flags);
    return c.L.Finish(status, "VQ_ListDevices flags=0x%08" PRIX32 " count=%" PRId32, flags,
                      count != nullptr && status == VQ_OK ? *count : -1);
}

VQ_STATUS VQ_Open(int32_t index, VQ_HANDLE* handle) {
    Call c;
    const VQ_STATUS status =
        c.L.EnsureLoaded() ? c.L.Sim.Open(index, handle) : VQ_STATUS{VQ_DEVICE_NOT_FOUND};
    return c.L.Finish(status, "VQ_Open index=%" PRId32 " handle=%p", index,
                      handle != nullptr && status == VQ_OK ? *handle : nullptr);
}

VQ_STATUS VQ_Close(VQ_HANDLE handle) {
    Call c;
    VQ_STATUS status = c.L.Sim.Close(handle);
    // The handle is closed either way; a lost write-back must not pass for success.
    if (status == VQ_OK && !c.L.Save()) status = VQ_IO_ERROR;
    return c.L.Finish(status, "VQ_Close handle=%p", handle);
}

VQ_STATUS VQ_SetLatencyTimer(VQ_HANDLE handle, uint8_t value) {
    Call c;
    return c.L.Finish(c.L.Sim.SetLatencyTimer(handle, value),
                      "VQ_SetLatencyTimer handle=%p value=%u", handle,
                      static_cast<unsigned>(value));
}

VQ_STATUS VQ_GetDeviceInfo(VQ_HANDLE handle, uint32_t* typeCode, uint32_t* deviceId,
                           char* serialNumber, char* description, void* reserved) {
    Call c;
    const VQ_STATUS status =
        c.L.Sim.GetDeviceInfo(handle, typeCode, deviceId, serialNumber, description, reserved);
    return c.L.Finish(status, "VQ_GetDeviceInfo handle=%p type=%" PRId64, handle,
                      typeCode != nullptr && status == VQ_OK ? static_cast<int64_t>(*typeCode)
                                                             : -1);
}

VQ_STATUS VQ_ReadEE(VQ_HANDLE handle, uint32_t wordOffset, uint16_t* value) {
    Call c;
    const VQ_STATUS status = c.L.Sim.ReadEE(handle, wordOffset, value);
    return c.L.Finish(status, "VQ_ReadEE handle=%p offset=%" PRIu32 " value=0x%04X", handle,
                      wordOffset, value != nullptr && status == VQ_OK ? *value : 0u);
}

VQ_STATUS VQ_WriteEE(VQ_HANDLE handle, uint32_t wordOffset, uint16_t value) {
    Call c;
    return c.L.Finish(c.L.Sim.WriteEE(handle, wordOffset, value),
                      "VQ_WriteEE handle=%p offset=%" PRIu32 " value=0x%04X", handle, wordOffset,
                      static_cast<unsigned>(value));
}

VQ_STATUS VQ_EraseEE(VQ_HANDLE handle) {
    Call c;
    return c.L.Finish(c.L.Sim.EraseEE(handle), "VQ_EraseEE handle=%p", handle);
}

VQ_STATUS VQ_CyclePort(VQ_HANDLE handle) {
    Call c;
    VQ_STATUS status = c.L.Sim.CyclePort(handle);
    // The device drops off the bus: what it holds must be on the bench by now.
    if (status == VQ_OK && !c.L.Save()) status = VQ_IO_ERROR;
    return c.L.Finish(status, "VQ_CyclePort handle=%p", handle);
}

int VQSIM_IsSimulator(void) {
    return 1;
}

const char* VQSIM_BenchPath(void) {
    return Library().Path.c_str();
}

} // extern "C"
