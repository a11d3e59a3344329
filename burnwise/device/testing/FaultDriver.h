#pragma once

#include "burnwise/device/PipexDriver.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>

namespace burnwise::device::testing {

// Wraps any driver and fails chosen calls: the n-th call (every operation counted, from 1),
// or calls drawn from a seed. A failed call does not reach the inner driver, except Close:
// the handle is closed underneath all the same, so "nothing left open" stays checkable.
// Calls may come from many threads; they are then counted in the order they arrive.
class FaultDriver : public PipexDriver {
public:
    explicit FaultDriver(PipexDriver& inner) : Inner(inner) {}

    // May be called more than once to fail several calls.
    void FailCall(int n, VQ_STATUS status = VQ_IO_ERROR);
    // Fails about `percent` of the calls from now on, the same calls for the same seed.
    void FailFromSeed(std::uint32_t seed, int percent, VQ_STATUS status = VQ_IO_ERROR);

    int Calls() const;
    // Calls of one operation by its driver name, e.g. "VQ_ReadEE"; 0 for an unknown name.
    int Calls(std::string_view operation) const;
    // Calls that were made to fail.
    int Failures() const;

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

    std::optional<std::string> SimulatedBench() const override { return Inner.SimulatedBench(); }

private:
    enum Operation { List, OpenOp, CloseOp, Latency, Info, Read, Write, Erase, Cycle, OpCount };

    // Counts the call; the status it must fail with, if it must.
    std::optional<VQ_STATUS> Next(Operation op);

    PipexDriver& Inner;
    mutable std::mutex Mutex; // guards the counts and the failures to come
    int Total = 0;
    int Failed = 0;
    std::array<int, OpCount> PerOperation{};
    std::set<std::pair<int, VQ_STATUS>> FailAt;
    std::optional<std::uint32_t> Seed;
    int Percent = 0;
    VQ_STATUS SeedStatus = VQ_IO_ERROR;
};

} // namespace burnwise::device::testing
