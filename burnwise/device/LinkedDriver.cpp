#include "burnwise/device/LinkedDriver.h"

namespace burnwise::device {

VQ_STATUS LinkedDriver::ListDevices(std::int32_t* count, void* reserved, std::uint32_t flags) {
    return VQ_ListDevices(count, reserved, flags);
}

VQ_STATUS LinkedDriver::Open(std::int32_t index, VQ_HANDLE* handle) {
    return VQ_Open(index, handle);
}

VQ_STATUS LinkedDriver::Close(VQ_HANDLE handle) {
    return VQ_Close(handle);
}

VQ_STATUS LinkedDriver::SetLatencyTimer(VQ_HANDLE handle, std::uint8_t value) {
    return VQ_SetLatencyTimer(handle, value);
}

VQ_STATUS LinkedDriver::GetDeviceInfo(VQ_HANDLE handle, std::uint32_t* typeCode,
                                      std::uint32_t* deviceId, char* serialNumber,
                                      char* description, void* reserved) {
    return VQ_GetDeviceInfo(handle, typeCode, deviceId, serialNumber, description, reserved);
}

VQ_STATUS LinkedDriver::ReadEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t* value) {
    return VQ_ReadEE(handle, wordOffset, value);
}

VQ_STATUS LinkedDriver::WriteEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t value) {
    return VQ_WriteEE(handle, wordOffset, value);
}

VQ_STATUS LinkedDriver::EraseEE(VQ_HANDLE handle) {
    return VQ_EraseEE(handle);
}

VQ_STATUS LinkedDriver::CyclePort(VQ_HANDLE handle) {
    return VQ_CyclePort(handle);
}

std::optional<std::string> LinkedDriver::SimulatedBench() const {
    if (VQSIM_IsSimulator == nullptr || VQSIM_IsSimulator() == 0) return std::nullopt;
    if (VQSIM_BenchPath == nullptr) return std::string();
    const char* path = VQSIM_BenchPath();
    return std::string(path != nullptr ? path : "");
}

} // namespace burnwise::device
