#pragma once

// The nine driver operations over a bench held in memory: handles, faults and the
// hardware rules. The driver library adds the bench file around it; the in-process test
// bench uses it as it is.

#include "vqpipex/BenchModel.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vqpipex {

// What lies beyond the simulator's memory: where the bench is kept and who else works on
// it. Without a keeper every change is kept and no one else holds a device.
class BenchKeeper {
public:
    virtual ~BenchKeeper() = default;
    // Keeps the change to the EEPROM words that a write or erase has just made; false when
    // it cannot be kept: the simulator then puts the words back and fails the call.
    virtual bool KeepChange() = 0;
    // Takes the device (named by the serial number it reports) for a handle of this
    // simulator; false while someone else holds it.
    virtual bool Claim(const std::string& device) = 0;
    virtual void Release(const std::string& device) = 0;
};

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

    // Not owned; null for none. Set it while no handle is open.
    void SetKeeper(BenchKeeper* keeper) { Keeper = keeper; }

    // Puts a fresher copy of the bench in place. Open handles stay with their chip (found
    // by serial number); a handle whose chip has gone fails every call but Close.
    void ReplaceBench(Bench bench);

    int OpenHandles() const { return static_cast<int>(Handles.size()); }

    // True when the last operation changed something that must reach the bench file at
    // once (a counted fault struck).
    bool FaultCountChanged() const { return CountChanged; }

private:
    struct OpenDevice {
        std::string Serial; // the chip's
        int Channel = 0;
        std::string Device;  // the serial number the device reports, as claimed
        bool Cycled = false; // re-enumerating: only Close still works
    };

    // The open device behind a handle with its chip, or the status to return.
    VQ_STATUS Resolve(VQ_HANDLE handle, OpenDevice*& device, Chip*& chip);
    // The first fault of `kind` that strikes this access, counting it down; null if none.
    std::optional<Fault> Strike(Chip& chip, int channel, FaultKind kind,
                                std::optional<std::uint32_t> word = std::nullopt);

    // Keeps a change just made, or undoes it (`before` the chip's words, `wasChanged` its
    // flag before the call).
    bool Keep(Chip& chip, std::vector<std::uint16_t> before, bool wasChanged);

    Bench State;
    BenchKeeper* Keeper = nullptr;
    std::map<std::uintptr_t, OpenDevice> Handles;
    std::uintptr_t NextHandle = 0x5100;
    bool CountChanged = false;
};

} // namespace vqpipex
