#pragma once

#include "burnwise/codec/ImageDecoder.h"
#include "burnwise/device/DeviceEngine.h"
#include "burnwise/device/testing/FaultDriver.h"
#include "burnwise/device/testing/InProcessBench.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace burnwise::device::testing {

namespace fs = std::filesystem;

// Passes every call on and keeps the name of each, in order.
class TraceDriver : public PipexDriver {
public:
    explicit TraceDriver(PipexDriver& inner) : inner_(inner) {}
    std::vector<std::string> Calls;

    VQ_STATUS ListDevices(std::int32_t* count, void* reserved, std::uint32_t flags) override {
        Calls.emplace_back("VQ_ListDevices");
        return inner_.ListDevices(count, reserved, flags);
    }
    VQ_STATUS Open(std::int32_t index, VQ_HANDLE* handle) override {
        Calls.emplace_back("VQ_Open");
        return inner_.Open(index, handle);
    }
    VQ_STATUS Close(VQ_HANDLE handle) override {
        Calls.emplace_back("VQ_Close");
        return inner_.Close(handle);
    }
    VQ_STATUS SetLatencyTimer(VQ_HANDLE handle, std::uint8_t value) override {
        Calls.emplace_back("VQ_SetLatencyTimer");
        return inner_.SetLatencyTimer(handle, value);
    }
    VQ_STATUS GetDeviceInfo(VQ_HANDLE handle, std::uint32_t* typeCode, std::uint32_t* deviceId,
                            char* serialNumber, char* description, void* reserved) override {
        Calls.emplace_back("VQ_GetDeviceInfo");
        return inner_.GetDeviceInfo(handle, typeCode, deviceId, serialNumber, description,
                                    reserved);
    }
    VQ_STATUS ReadEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t* value) override {
        Calls.emplace_back("VQ_ReadEE");
        return inner_.ReadEE(handle, wordOffset, value);
    }
    VQ_STATUS WriteEE(VQ_HANDLE handle, std::uint32_t wordOffset, std::uint16_t value) override {
        Calls.emplace_back("VQ_WriteEE");
        return inner_.WriteEE(handle, wordOffset, value);
    }
    VQ_STATUS EraseEE(VQ_HANDLE handle) override {
        Calls.emplace_back("VQ_EraseEE");
        return inner_.EraseEE(handle);
    }
    VQ_STATUS CyclePort(VQ_HANDLE handle) override {
        Calls.emplace_back("VQ_CyclePort");
        return inner_.CyclePort(handle);
    }

    int Count(std::string_view name) const {
        return static_cast<int>(std::count(Calls.begin(), Calls.end(), name));
    }

private:
    PipexDriver& inner_;
};

// A UTC clock that moves only when told to: the run's waits advance it.
class SteppingClock : public codec::UtcClock {
public:
    mutable std::chrono::sys_time<std::chrono::milliseconds> Time{
        std::chrono::sys_days{std::chrono::year{2026} / 12 / 9} + std::chrono::hours{10}};
    bool Frozen = false; // waits do not move it

    void Advance(std::chrono::milliseconds step) const {
        if (!Frozen) Time += step;
    }
    void Wait(std::chrono::milliseconds pause) const override { Advance(pause); }
    codec::UtcTime Now() const override {
        using namespace std::chrono;
        const auto day = floor<days>(Time);
        const year_month_day date{day};
        const hh_mm_ss<milliseconds> clock{Time - day};
        return {static_cast<int>(date.year()),
                static_cast<int>(unsigned(date.month())),
                static_cast<int>(unsigned(date.day())),
                static_cast<int>(clock.hours().count()),
                static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count())};
    }
};

// Decodes what the bench's part holds now as a programming run's read-back would.
inline int DecodeBenchPart(const InProcessBench& bench, int driverIndex,
                           const codec::ChipModel& model, codec::CodecState& out) {
    const std::vector<std::uint16_t> words = bench.Words(driverIndex);
    for (std::size_t i = 0; i < out.ReadImage.size(); ++i)
        out.ReadImage[i] = words.empty() ? 0 : words[i % words.size()];
    struct Types : codec::DeviceTypeSource {
        std::uint32_t Code;
        std::uint32_t DeviceTypeCode() override { return Code; }
    } types;
    types.Code = static_cast<std::uint32_t>(model.DeviceTypeCode);
    out.Selectors = model.Selectors;
    return codec::DecodeImage(codec::DecodeKeepChipType, out.ReadImage, out.Selectors,
                              out.EepromTypeName, out.Settings, types);
}

// The lines of `log` that start with `start`, in order.
inline std::vector<std::string> LinesStartingWith(const std::vector<std::string>& log,
                                                  std::string_view start) {
    std::vector<std::string> found;
    for (const std::string& line : log)
        if (line.starts_with(start)) found.push_back(line);
    return found;
}

} // namespace burnwise::device::testing
