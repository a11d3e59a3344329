// The driver library's C functions over the simulated bench.
#include "vqpipex/Simulator.h"
#include "vqpipex/vqpipex.h"

#include <mutex>

namespace {

std::mutex Lock;

vqpipex::Simulator& Bench() {
    static vqpipex::Simulator sim(vqpipex::DefaultBench(0x5EED));
    return sim;
}

} // namespace

extern "C" {

VQ_STATUS VQ_ListDevices(int32_t* count, void* reserved, uint32_t flags) {
    std::lock_guard guard(Lock);
    return Bench().ListDevices(count, reserved, flags);
}
VQ_STATUS VQ_Open(int32_t index, VQ_HANDLE* handle) {
    std::lock_guard guard(Lock);
    return Bench().Open(index, handle);
}
VQ_STATUS VQ_Close(VQ_HANDLE handle) {
    std::lock_guard guard(Lock);
    return Bench().Close(handle);
}
VQ_STATUS VQ_SetLatencyTimer(VQ_HANDLE handle, uint8_t value) {
    std::lock_guard guard(Lock);
    return Bench().SetLatencyTimer(handle, value);
}
VQ_STATUS VQ_GetDeviceInfo(VQ_HANDLE handle, uint32_t* typeCode, uint32_t* deviceId,
                           char* serialNumber, char* description, void* reserved) {
    std::lock_guard guard(Lock);
    return Bench().GetDeviceInfo(handle, typeCode, deviceId, serialNumber, description, reserved);
}
VQ_STATUS VQ_ReadEE(VQ_HANDLE handle, uint32_t wordOffset, uint16_t* value) {
    std::lock_guard guard(Lock);
    return Bench().ReadEE(handle, wordOffset, value);
}
VQ_STATUS VQ_WriteEE(VQ_HANDLE handle, uint32_t wordOffset, uint16_t value) {
    std::lock_guard guard(Lock);
    return Bench().WriteEE(handle, wordOffset, value);
}
VQ_STATUS VQ_EraseEE(VQ_HANDLE handle) {
    std::lock_guard guard(Lock);
    return Bench().EraseEE(handle);
}
VQ_STATUS VQ_CyclePort(VQ_HANDLE handle) {
    std::lock_guard guard(Lock);
    return Bench().CyclePort(handle);
}
int VQSIM_IsSimulator(void) {
    return 1;
}
const char* VQSIM_BenchPath(void) {
    return "";
}

} // extern "C"
