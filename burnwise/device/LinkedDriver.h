#pragma once

#include "burnwise/device/PipexDriver.h"

namespace burnwise::device {

// The driver library Burnwise is linked against: the simulated bench by default, or the
// maker's library in its place.
class LinkedDriver final : public PipexDriver {
public:
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

    // Asks the library itself: only the simulated bench exports the two functions, which
    // are weak here so that the maker's library links too.
    std::optional<std::string> SimulatedBench() const override;
};

} // namespace burnwise::device
