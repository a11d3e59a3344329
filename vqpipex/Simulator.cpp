#include "vqpipex/Simulator.h"

#include <algorithm>
#include <cstring>

namespace vqpipex {
namespace {

std::uintptr_t Key(VQ_HANDLE handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

void CopyText(char* buffer, const std::string& text) {
    if (buffer == nullptr) return;
    const std::size_t n = std::min(text.size(), std::size_t{VQ_TEXT_SIZE - 1});
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

} // namespace

VQ_STATUS Simulator::Resolve(VQ_HANDLE handle, OpenDevice*& device, Chip*& chip) {
    CountChanged = false;
    const auto it = Handles.find(Key(handle));
    if (it == Handles.end()) return VQ_INVALID_HANDLE;
    device = &it->second;
    chip = State.FindChip(device->Serial);
    // Unplugged, or gone off the bus after a port cycle: transfers fail, as they do on a
    // bus the device has left.
    if (chip == nullptr || chip->Unplugged || device->Cycled) return VQ_IO_ERROR;
    return VQ_OK;
}

std::optional<Fault> Simulator::Strike(Chip& chip, int channel, FaultKind kind,
                                       std::optional<std::uint32_t> word) {
    auto& faults = chip.Faults[static_cast<std::size_t>(channel)];
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->Kind != kind) continue;
        // A fault limited to one word strikes only accesses to that word.
        if (it->Word && (!word || *it->Word != *word)) continue;
        const Fault struck = *it;
        if (it->Times > 0) {
            chip.FaultsStruck.emplace_back(channel, struck);
            CountChanged = true;
            if (--it->Times == 0) faults.erase(it);
        }
        return struck;
    }
    return std::nullopt;
}

VQ_STATUS Simulator::ListDevices(std::int32_t* count, void* reserved, std::uint32_t flags) {
    (void)reserved;
    CountChanged = false;
    // Only the device count is offered; listing descriptions by index is not.
    if (count == nullptr || flags != VQ_LIST_NUMBER_ONLY) return VQ_INVALID_PARAMETER;
    *count = static_cast<std::int32_t>(State.Devices().size());
    return VQ_OK;
}

VQ_STATUS Simulator::Open(std::int32_t index, VQ_HANDLE* handle) {
    CountChanged = false;
    if (handle == nullptr) return VQ_INVALID_PARAMETER;
    const auto devices = State.Devices();
    if (index < 0 || static_cast<std::size_t>(index) >= devices.size()) return VQ_DEVICE_NOT_FOUND;
    const DeviceRef ref = devices[static_cast<std::size_t>(index)];
    Chip& chip = State.Chips[ref.ChipIndex];
    if (chip.Unplugged) return VQ_DEVICE_NOT_FOUND;
    for (const auto& [key, open] : Handles)
        if (open.Serial == chip.Serial && open.Channel == ref.Channel) return VQ_DEVICE_NOT_OPENED;
    std::string device = DeviceSerial(chip, ref.Channel);
    if (Keeper != nullptr && !Keeper->Claim(device)) return VQ_DEVICE_NOT_OPENED;
    if (const auto fault = Strike(chip, ref.Channel, FaultKind::Open)) {
        if (Keeper != nullptr) Keeper->Release(device);
        return fault->Status;
    }
    const std::uintptr_t key = NextHandle++;
    Handles[key] = OpenDevice{chip.Serial, ref.Channel, std::move(device), false};
    *handle = reinterpret_cast<VQ_HANDLE>(key);
    return VQ_OK;
}

VQ_STATUS Simulator::Close(VQ_HANDLE handle) {
    CountChanged = false;
    const auto it = Handles.find(Key(handle));
    if (it == Handles.end()) return VQ_INVALID_HANDLE;
    const std::string device = std::move(it->second.Device);
    Handles.erase(it);
    if (Keeper != nullptr) Keeper->Release(device);
    return VQ_OK;
}

bool Simulator::Keep(Chip& chip, std::vector<std::uint16_t> before, bool wasChanged) {
    if (Keeper == nullptr || chip.Words == before || Keeper->KeepChange()) return true;
    chip.Words = std::move(before);
    chip.WordsChanged = wasChanged;
    return false;
}

VQ_STATUS Simulator::SetLatencyTimer(VQ_HANDLE handle, std::uint8_t value) {
    OpenDevice* device = nullptr;
    Chip* chip = nullptr;
    if (const VQ_STATUS status = Resolve(handle, device, chip)) return status;
    if (const auto fault = Strike(*chip, device->Channel, FaultKind::Latency)) return fault->Status;
    // The chip's timer runs from 2 to 255 ms.
    return value < 2 ? VQ_INVALID_PARAMETER : VQ_OK;
}

VQ_STATUS Simulator::GetDeviceInfo(VQ_HANDLE handle, std::uint32_t* typeCode,
                                   std::uint32_t* deviceId, char* serialNumber, char* description,
                                   void* reserved) {
    (void)reserved;
    OpenDevice* device = nullptr;
    Chip* chip = nullptr;
    if (const VQ_STATUS status = Resolve(handle, device, chip)) return status;
    if (const auto fault = Strike(*chip, device->Channel, FaultKind::Info)) return fault->Status;
    if (typeCode != nullptr) *typeCode = chip->Model->TypeCode;
    if (deviceId != nullptr) *deviceId = chip->Model->DeviceId;
    CopyText(serialNumber, DeviceSerial(*chip, device->Channel));
    CopyText(description, DeviceDescription(*chip, device->Channel));
    return VQ_OK;
}

VQ_STATUS Simulator::ReadEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t* value) {
    OpenDevice* device = nullptr;
    Chip* chip = nullptr;
    if (const VQ_STATUS status = Resolve(handle, device, chip)) return status;
    if (value == nullptr) return VQ_INVALID_PARAMETER;
    if (const auto fault = Strike(*chip, device->Channel, FaultKind::Read, wordOffset))
        return fault->Status;
    return ReadWord(*chip, wordOffset, *value);
}

VQ_STATUS Simulator::WriteEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t value) {
    OpenDevice* device = nullptr;
    Chip* chip = nullptr;
    if (const VQ_STATUS status = Resolve(handle, device, chip)) return status;
    if (const auto fault = Strike(*chip, device->Channel, FaultKind::Write, wordOffset))
        return fault->Status;
    if (Strike(*chip, device->Channel, FaultKind::IgnoreWrites, wordOffset)) {
        // Acknowledged, not stored; the access must still be one the part would take.
        std::uint16_t old = 0;
        return ReadWord(*chip, wordOffset, old);
    }
    const bool wasChanged = chip->WordsChanged;
    std::vector<std::uint16_t> before;
    if (Keeper != nullptr) before = chip->Words;
    if (const VQ_STATUS status = WriteWord(*chip, wordOffset, value)) return status;
    // What cannot be kept never reached the part.
    return Keep(*chip, std::move(before), wasChanged) ? VQ_OK : VQ_EEPROM_WRITE_FAILED;
}

VQ_STATUS Simulator::EraseEE(VQ_HANDLE handle) {
    OpenDevice* device = nullptr;
    Chip* chip = nullptr;
    if (const VQ_STATUS status = Resolve(handle, device, chip)) return status;
    if (const auto fault = Strike(*chip, device->Channel, FaultKind::Erase)) return fault->Status;
    if (Strike(*chip, device->Channel, FaultKind::IgnoreWrites))
        return chip->HasEeprom() ? VQ_OK : VQ_EEPROM_NOT_PRESENT;
    const bool wasChanged = chip->WordsChanged;
    std::vector<std::uint16_t> before;
    if (Keeper != nullptr) before = chip->Words;
    if (const VQ_STATUS status = EraseAll(*chip)) return status;
    return Keep(*chip, std::move(before), wasChanged) ? VQ_OK : VQ_EEPROM_ERASE_FAILED;
}

VQ_STATUS Simulator::CyclePort(VQ_HANDLE handle) {
    OpenDevice* device = nullptr;
    Chip* chip = nullptr;
    if (const VQ_STATUS status = Resolve(handle, device, chip)) return status;
    if (const auto fault = Strike(*chip, device->Channel, FaultKind::Cycle)) return fault->Status;
    device->Cycled = true;
    return VQ_OK;
}

void Simulator::ReplaceBench(Bench bench) {
    State = std::move(bench);
}

} // namespace vqpipex
