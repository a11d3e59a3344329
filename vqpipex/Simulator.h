#pragma once

// The nine driver operations over a bench held in memory: handles, faults and the
// hardware rules. The driver library adds the bench file around it; the in-process test
// bench uses it as it is.

#include "vqpipex/BenchModel.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace vqpipex {

class Simulator {
public:
    Simulator() = default;
    explicit Simulator(Bench bench) : State(std::move(bench)) {}

    VQ_STATUS ListDevices(std::int32_t* count, void* reserved, std::uint32_t flags);
    VQ_STATUS Open(std::int32_t index, VQ_HANDLE* handle);
    VQ_STATUS Close(VQ_HANDLE handle);
    VQ_STATUS SetLatencyTimer(VQ_HANDLE handle, std::uint8_t value);
    VQ_STATUS GetDeviceInfo(VQ_HANDLE handle, std::uint32_t* typeCode, std::uint32_t* deviceId,
                            char* serialNumber, char* description, void* reserved);
    VQ_STATUS ReadEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t* value);
    VQ_STATUS WriteEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t value);
    VQ_STATUS EraseEE(VQ_HANDLE handle);
    VQ_STATUS CyclePort(VQ_HANDLE handle);

    Bench& GetBench() { return State; }
    const Bench& GetBench() const { return State; }

    // Puts a fresher copy of the bench in place. Open handles stay with their chip (found
    // by serial number); a handle whose chip has gone fails every call but Close.
    void ReplaceBench(Bench bench);

    int OpenHandles() const { return static_cast<int>(Handles.size()); }

    // True when the last operation changed something that must reach the bench file at
    // once (a counted fault struck).
    bool FaultCountChanged() const { return CountChanged; }

private:
    struct OpenDevice {
        std::string Serial;
        int Channel = 0;
        bool Cycled = false; // re-enumerating: only Close still works
    };

    // The open device behind a handle with its chip, or the status to return.
    VQ_STATUS Resolve(VQ_HANDLE handle, OpenDevice*& device, Chip*& chip);
    // The first fault of `kind` that strikes this access, counting it down; null if none.
    std::optional<Fault> Strike(Chip& chip, int channel, FaultKind kind,
                                std::optional<std::uint32_t> word = std::nullopt);

    Bench State;
    std::map<std::uintptr_t, OpenDevice> Handles;
    std::uintptr_t NextHandle = 0x5100;
    bool CountChanged = false;
};

} // namespace vqpipex
