#include "burnwise/device/testing/InProcessBench.h"

#include <stdexcept>
#include <string>

namespace burnwise::device::testing {

int InProcessBench::AddDevice(std::string_view model, std::string_view eeprom) {
    std::lock_guard guard(Mutex);
    const vqpipex::ModelInfo* info = vqpipex::FindModel(model);
    if (info == nullptr) throw std::invalid_argument("unknown model " + std::string(model));
    const auto part = vqpipex::FindPart(eeprom);
    if (!part) throw std::invalid_argument("unknown EEPROM " + std::string(eeprom));
    vqpipex::Bench& bench = Sim.GetBench();
    const std::size_t channels = info->ChipFamily == vqpipex::Family::KR3 ? 2 : 1;
    if (Devices.size() + channels > vqpipex::MaxDevices)
        throw std::invalid_argument("the bench is full");
    const std::size_t chip = vqpipex::AddChip(bench, *info, *part, Entropy++);
    Devices = bench.Devices();
    return static_cast<int>(bench.FirstDeviceOf(chip));
}

const vqpipex::DeviceRef& InProcessBench::DeviceAt(int driverIndex) const {
    if (driverIndex < 0 || static_cast<std::size_t>(driverIndex) >= Devices.size())
        throw std::out_of_range("no device " + std::to_string(driverIndex));
    return Devices[static_cast<std::size_t>(driverIndex)];
}

vqpipex::Chip& InProcessBench::ChipAt(int driverIndex) {
    return Sim.GetBench().Chips[DeviceAt(driverIndex).ChipIndex];
}

const vqpipex::Chip& InProcessBench::ChipAt(int driverIndex) const {
    return Sim.GetBench().Chips[DeviceAt(driverIndex).ChipIndex];
}

void InProcessBench::RemoveDevice(int driverIndex) {
    std::lock_guard guard(Mutex);
    auto& chips = Sim.GetBench().Chips;
    chips.erase(chips.begin() + static_cast<std::ptrdiff_t>(DeviceAt(driverIndex).ChipIndex));
    Devices = Sim.GetBench().Devices();
}

void InProcessBench::HoldElsewhere(int driverIndex, bool held) {
    std::lock_guard guard(Mutex);
    const std::string device =
        vqpipex::DeviceSerial(ChipAt(driverIndex), DeviceAt(driverIndex).Channel);
    if (held)
        HeldElsewhere.insert(device);
    else
        HeldElsewhere.erase(device);
}

int InProcessBench::DeviceCount() const {
    std::lock_guard guard(Mutex);
    return static_cast<int>(Devices.size());
}

std::vector<std::uint16_t> InProcessBench::Words(int driverIndex) const {
    std::lock_guard guard(Mutex);
    return ChipAt(driverIndex).Words;
}

void InProcessBench::SetWords(int driverIndex, std::span<const std::uint16_t> words) {
    std::lock_guard guard(Mutex);
    auto& held = ChipAt(driverIndex).Words;
    for (std::size_t i = 0; i < words.size() && i < held.size(); ++i)
        held[i] = words[i];
}

void InProcessBench::AddFault(int driverIndex, Fault fault) {
    std::lock_guard guard(Mutex);
    const int channel = DeviceAt(driverIndex).Channel;
    ChipAt(driverIndex).Faults[static_cast<std::size_t>(channel)].push_back(fault);
}

void InProcessBench::ClearFaults(int driverIndex) {
    std::lock_guard guard(Mutex);
    const int channel = DeviceAt(driverIndex).Channel;
    ChipAt(driverIndex).Faults[static_cast<std::size_t>(channel)].clear();
}

std::string InProcessBench::SerialOf(int driverIndex) const {
    std::lock_guard guard(Mutex);
    return vqpipex::DeviceSerial(ChipAt(driverIndex), DeviceAt(driverIndex).Channel);
}

void InProcessBench::FailStores(bool fail) {
    std::lock_guard guard(Mutex);
    StoresFail = fail;
}

int InProcessBench::OpenHandles() const {
    std::lock_guard guard(Mutex);
    return Sim.OpenHandles();
}

VQ_STATUS InProcessBench::ListDevices(std::int32_t* count, void* reserved, std::uint32_t flags) {
    std::lock_guard guard(Mutex);
    return Sim.ListDevices(count, reserved, flags);
}
VQ_STATUS InProcessBench::Open(std::int32_t index, VQ_HANDLE* handle) {
    std::lock_guard guard(Mutex);
    return Sim.Open(index, handle);
}
VQ_STATUS InProcessBench::Close(VQ_HANDLE handle) {
    std::lock_guard guard(Mutex);
    return Sim.Close(handle);
}
VQ_STATUS InProcessBench::SetLatencyTimer(VQ_HANDLE handle, std::uint8_t value) {
    std::lock_guard guard(Mutex);
    return Sim.SetLatencyTimer(handle, value);
}
VQ_STATUS InProcessBench::GetDeviceInfo(VQ_HANDLE handle, std::uint32_t* typeCode,
                                        std::uint32_t* deviceId, char* serialNumber,
                                        char* description, void* reserved) {
    std::lock_guard guard(Mutex);
    return Sim.GetDeviceInfo(handle, typeCode, deviceId, serialNumber, description, reserved);
}
VQ_STATUS InProcessBench::ReadEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t* value) {
    std::lock_guard guard(Mutex);
    return Sim.ReadEE(handle, wordOffset, value);
}
VQ_STATUS InProcessBench::WriteEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t value) {
    std::lock_guard guard(Mutex);
    return Sim.WriteEE(handle, wordOffset, value);
}
VQ_STATUS InProcessBench::EraseEE(VQ_HANDLE handle) {
    std::lock_guard guard(Mutex);
    return Sim.EraseEE(handle);
}
VQ_STATUS InProcessBench::CyclePort(VQ_HANDLE handle) {
    std::lock_guard guard(Mutex);
    return Sim.CyclePort(handle);
}

} // namespace burnwise::device::testing
