#pragma once

#include "vqpipex/vqpipex.h"

#include <cstdint>
#include <optional>
#include <string>

namespace burnwise::device {

// The nine driver operations Burnwise uses, in the driver library's argument order. The
// program calls the linked library (LinkedDriver); the tests put an in-process bench or a
// fault-injecting wrapper in its place. Only PipexUnit calls a driver.
class PipexDriver {
public:
    virtual ~PipexDriver() = default;

    virtual VQ_STATUS ListDevices(std::int32_t* count, void* reserved, std::uint32_t flags) = 0;
    virtual VQ_STATUS Open(std::int32_t index, VQ_HANDLE* handle) = 0;
    virtual VQ_STATUS Close(VQ_HANDLE handle) = 0;
    virtual VQ_STATUS SetLatencyTimer(VQ_HANDLE handle, std::uint8_t value) = 0;
    virtual VQ_STATUS GetDeviceInfo(VQ_HANDLE handle, std::uint32_t* typeCode,
                                    std::uint32_t* deviceId, char* serialNumber, char* description,
                                    void* reserved) = 0;
    virtual VQ_STATUS ReadEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t* value) = 0;
    virtual VQ_STATUS WriteEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t value) = 0;
    virtual VQ_STATUS EraseEE(VQ_HANDLE handle) = 0;
    virtual VQ_STATUS CyclePort(VQ_HANDLE handle) = 0;

    // The bench file when the driver is the simulated bench; nothing for real hardware.
    virtual std::optional<std::string> SimulatedBench() const { return std::nullopt; }
};

} // namespace burnwise::device
