#include "burnwise/device/testing/FaultDriver.h"

#include <algorithm>

namespace burnwise::device::testing {
namespace {

constexpr std::array<std::string_view, 9> OperationNames{
    "VQ_ListDevices", "VQ_Open",    "VQ_Close",   "VQ_SetLatencyTimer", "VQ_GetDeviceInfo",
    "VQ_ReadEE",      "VQ_WriteEE", "VQ_EraseEE", "VQ_CyclePort"};

// A well-mixed number from the seed and the call's position, so call n fails or not
// whatever happened before it.
std::uint32_t Draw(std::uint32_t seed, int call) {
    std::uint64_t z = (static_cast<std::uint64_t>(seed) << 32 | static_cast<std::uint32_t>(call)) +
                      0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::uint32_t>(z ^ (z >> 31));
}

} // namespace

void FaultDriver::FailCall(int n, VQ_STATUS status) {
    std::lock_guard guard(Mutex);
    FailAt.emplace(n, status);
}

void FaultDriver::FailFromSeed(std::uint32_t seed, int percent, VQ_STATUS status) {
    std::lock_guard guard(Mutex);
    Seed = seed;
    Percent = percent;
    SeedStatus = status;
}

int FaultDriver::Calls(std::string_view operation) const {
    std::lock_guard guard(Mutex);
    for (std::size_t i = 0; i < OperationNames.size(); ++i)
        if (OperationNames[i] == operation) return PerOperation[i];
    return 0;
}

int FaultDriver::Calls() const {
    std::lock_guard guard(Mutex);
    return Total;
}

int FaultDriver::Failures() const {
    std::lock_guard guard(Mutex);
    return Failed;
}

std::optional<VQ_STATUS> FaultDriver::Next(Operation op) {
    std::lock_guard guard(Mutex);
    const int call = ++Total;
    ++PerOperation[op];
    const auto it = FailAt.lower_bound({call, 0});
    std::optional<VQ_STATUS> status;
    if (it != FailAt.end() && it->first == call) {
        status = it->second;
    } else if (Seed && Draw(*Seed, call) % 100 < static_cast<std::uint32_t>(std::max(Percent, 0))) {
        status = SeedStatus;
    }
    if (status) ++Failed;
    return status;
}

VQ_STATUS FaultDriver::ListDevices(std::int32_t* count, void* reserved, std::uint32_t flags) {
    if (const auto fail = Next(List)) return *fail;
    return Inner.ListDevices(count, reserved, flags);
}

VQ_STATUS FaultDriver::Open(std::int32_t index, VQ_HANDLE* handle) {
    if (const auto fail = Next(OpenOp)) return *fail;
    return Inner.Open(index, handle);
}

VQ_STATUS FaultDriver::Close(VQ_HANDLE handle) {
    const auto fail = Next(CloseOp);
    const VQ_STATUS status = Inner.Close(handle);
    return fail ? *fail : status;
}

VQ_STATUS FaultDriver::SetLatencyTimer(VQ_HANDLE handle, std::uint8_t value) {
    if (const auto fail = Next(Latency)) return *fail;
    return Inner.SetLatencyTimer(handle, value);
}

VQ_STATUS FaultDriver::GetDeviceInfo(VQ_HANDLE handle, std::uint32_t* typeCode,
                                     std::uint32_t* deviceId, char* serialNumber, char* description,
                                     void* reserved) {
    if (const auto fail = Next(Info)) return *fail;
    return Inner.GetDeviceInfo(handle, typeCode, deviceId, serialNumber, description, reserved);
}

VQ_STATUS FaultDriver::ReadEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t* value) {
    if (const auto fail = Next(Read)) return *fail;
    return Inner.ReadEE(handle, wordOffset, value);
}

VQ_STATUS FaultDriver::WriteEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t value) {
    if (const auto fail = Next(Write)) return *fail;
    return Inner.WriteEE(handle, wordOffset, value);
}

VQ_STATUS FaultDriver::EraseEE(VQ_HANDLE handle) {
    if (const auto fail = Next(Erase)) return *fail;
    return Inner.EraseEE(handle);
}

VQ_STATUS FaultDriver::CyclePort(VQ_HANDLE handle) {
    if (const auto fail = Next(Cycle)) return *fail;
    return Inner.CyclePort(handle);
}

} // namespace burnwise::device::testing
