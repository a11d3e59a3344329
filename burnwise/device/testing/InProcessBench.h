#pragma once

#include "burnwise/device/PipexDriver.h"
#include "vqpipex/Simulator.h"

#include <cstdint>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace burnwise::device::testing {

using FaultKind = vqpipex::FaultKind;
using Fault = vqpipex::Fault;

// A bench held in memory that behaves as the driver library does (same hardware rules,
// handles and faults), without a bench file and without delay. Serial numbers come from a
// fixed seed, so a test sees the same ones every run.
//
// Calls may come from many threads: each handle from one thread at a time, as with the
// driver library. One lock guards the bench; without a delay a call holds it only for its
// own work. The test's own functions below take the same lock.
class InProcessBench : public PipexDriver, private vqpipex::BenchKeeper {
public:
    using FaultKind = vqpipex::FaultKind;
    using Fault = vqpipex::Fault;

    InProcessBench() { Sim.SetKeeper(this); }
    InProcessBench(const InProcessBench&) = delete;
    InProcessBench& operator=(const InProcessBench&) = delete;

    // Adds a blank chip at the end of the bench. `model` is one of KR1S KR1F KR2S KR2F KR3D
    // KR3E KR4S KR4F, `eeprom` one of 93C46 93C56 93C66 none (a KR4 ignores it). Returns the
    // driver index of its first device; a KR3 chip adds two devices. Throws
    // std::invalid_argument for an unknown model or part, or a full bench.
    int AddDevice(std::string_view model, std::string_view eeprom = "93C46");
    // Unplugs the device's chip (both channels of a KR3), also while a handle is open on
    // it: its open handles then fail every call but Close with VQ_IO_ERROR.
    void RemoveDevice(int driverIndex);
    // As if another program had the device open: opening it fails with
    // VQ_DEVICE_NOT_OPENED until it is let go (`held` false).
    void HoldElsewhere(int driverIndex, bool held = true);
    // As if the bench could no longer be stored (a full disk): a write or erase that would
    // change a part fails with VQ_EEPROM_WRITE_FAILED or VQ_EEPROM_ERASE_FAILED and the part
    // keeps its words, until `fail` is false.
    void FailStores(bool fail = true);
    int DeviceCount() const;

    // Every word the part holds: 64, 128 or 256 words, none without an EEPROM, and 128 for
    // a KR4 (user words 0..63, factory words from 64).
    std::vector<std::uint16_t> Words(int driverIndex) const;
    // Puts words straight into the part from word 0, factory words included; words beyond
    // the part are dropped.
    void SetWords(int driverIndex, std::span<const std::uint16_t> words);

    void AddFault(int driverIndex, Fault fault);
    void ClearFaults(int driverIndex);

    int OpenHandles() const;

    // The chip's serial number (KR3 channels add "A" / "B"), as the device reports it.
    std::string SerialOf(int driverIndex) const;

    VQ_STATUS ListDevices(std::int32_t* count, void* reserved, std::uint32_t flags) override;
    VQ_STATUS Open(std::int32_t index, VQ_HANDLE* handle) override;
    VQ_STATUS Close(VQ_HANDLE handle) override;
    VQ_STATUS SetLatencyTimer(VQ_HANDLE handle, std::uint8_t value) override;
    VQ_STATUS GetDeviceInfo(VQ_HANDLE handle, std::uint32_t* typeCode, std::uint32_t* deviceId,
                            char* serialNumber, char* description, void* reserved) override;
    VQ_STATUS ReadEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t* value) override;
    VQ_STATUS WriteEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t value) override;
    VQ_STATUS EraseEE(VQ_HANDLE handle) override;
    VQ_STATUS CyclePort(VQ_HANDLE handle) override;

private:
    bool KeepChange() override { return !StoresFail; }
    bool Claim(const std::string& device) override { return !HeldElsewhere.contains(device); }
    void Release(const std::string&) override {}

    const vqpipex::DeviceRef& DeviceAt(int driverIndex) const;
    vqpipex::Chip& ChipAt(int driverIndex);
    const vqpipex::Chip& ChipAt(int driverIndex) const;

    mutable std::mutex Mutex; // guards everything below
    vqpipex::Simulator Sim;
    std::vector<vqpipex::DeviceRef> Devices;
    std::uint64_t Entropy = 0x4B52;
    std::set<std::string> HeldElsewhere; // serial numbers as the devices report them
    bool StoresFail = false;
};

} // namespace burnwise::device::testing
