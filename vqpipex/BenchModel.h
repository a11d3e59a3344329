#pragma once

// The simulated bench: the chips on it, their EEPROMs and the faults set on them. This is
// the hardware model both the driver library and the in-process test bench work on.

#include "vqpipex/vqpipex.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vqpipex {

enum class Family { KR1, KR2, KR3, KR4 };

struct ModelInfo {
    std::string_view Name;        // "KR2S"
    Family ChipFamily;            // what the chip is
    std::uint32_t TypeCode;       // what VQ_GetDeviceInfo reports
    std::uint32_t DeviceId;       // vendor << 16 | product of an unprogrammed chip
    std::string_view Description; // KR3 channels add " A" / " B"
    bool Fifo;                    // KR4: bit 0 of factory word 66
};

// One row per model the bench can hold.
inline constexpr std::array<ModelInfo, 8> Models{{
    {"KR1S", Family::KR1, VQ_TYPE_KR1, 0x2F5B0101, "KR1S USB UART", false},
    {"KR1F", Family::KR1, VQ_TYPE_KR1, 0x2F5B0102, "KR1F USB FIFO", false},
    {"KR2S", Family::KR2, VQ_TYPE_KR2, 0x2F5B0201, "KR2S USB Serial", false},
    {"KR2F", Family::KR2, VQ_TYPE_KR2, 0x2F5B0202, "KR2F USB FIFO", false},
    {"KR3D", Family::KR3, VQ_TYPE_KR3, 0x2F5B0301, "KR3D Dual UART", false},
    {"KR3E", Family::KR3, VQ_TYPE_KR3, 0x2F5B0302, "KR3E Dual FIFO", false},
    {"KR4S", Family::KR4, VQ_TYPE_KR4, 0x2F5B0401, "KR4S USB Serial", false},
    {"KR4F", Family::KR4, VQ_TYPE_KR4, 0x2F5B0402, "KR4F USB FIFO", true},
}};

const ModelInfo* FindModel(std::string_view name);

// The serial EEPROM beside a KR1..KR3 chip.
enum class Part { C46, C56, C66, None };

struct PartInfo {
    std::string_view Name;
    std::size_t Words;
};

inline constexpr std::array<PartInfo, 4> Parts{{
    {"93C46", 64},
    {"93C56", 128},
    {"93C66", 256},
    {"none", 0},
}};

std::optional<Part> FindPart(std::string_view name);
inline const PartInfo& InfoOf(Part part) {
    return Parts[static_cast<std::size_t>(part)];
}

// A KR4 chip keeps its EEPROM inside: 64 user words, then a factory area. Word 64 is a
// per-chip factory value, word 65 its complement and bit 0 of word 66 marks the FIFO
// model; the rest of the factory area reads 0. The array ignores the top address bit, so
// address 128 reaches word 0 again.
inline constexpr std::size_t Kr4UserWords = 64;
inline constexpr std::size_t Kr4Words = 128;
inline constexpr std::uint16_t ErasedWord = 0xFFFF;
// Word offsets the driver accepts at all; the parts have at most eight address bits.
inline constexpr std::uint32_t MaxWordOffset = 255;

enum class FaultKind { Open, Info, Read, Write, Erase, Cycle, Latency, IgnoreWrites };

struct FaultKindInfo {
    FaultKind Kind;
    std::string_view Name;   // as vqbench and the bench file spell it
    VQ_STATUS DefaultStatus; // when none is given
};

inline constexpr std::array<FaultKindInfo, 8> FaultKinds{{
    {FaultKind::Open, "open", VQ_DEVICE_NOT_OPENED},
    {FaultKind::Info, "info", VQ_IO_ERROR},
    {FaultKind::Read, "read", VQ_EEPROM_READ_FAILED},
    {FaultKind::Write, "write", VQ_EEPROM_WRITE_FAILED},
    {FaultKind::Erase, "erase", VQ_EEPROM_ERASE_FAILED},
    {FaultKind::Cycle, "cycle", VQ_IO_ERROR},
    {FaultKind::Latency, "latency", VQ_IO_ERROR},
    // The part acknowledges writes and erases but keeps its old words; never fails.
    {FaultKind::IgnoreWrites, "ignore-writes", VQ_OK},
}};

std::optional<FaultKind> FindFaultKind(std::string_view name);
const FaultKindInfo& InfoOf(FaultKind kind);

// A fault set on one device. Word limits read, write and ignore-writes faults to that
// word offset (as the caller passes it); Times counts down each time the fault strikes and
// the fault goes away at 0; -1 strikes forever.
struct Fault {
    FaultKind Kind;
    std::optional<std::uint32_t> Word;
    VQ_STATUS Status;
    int Times = -1;

    bool operator==(const Fault&) const = default;
};

struct Chip {
    std::string Serial; // the chip's identity on the bench; 8 characters A-Z 0-9
    const ModelInfo* Model = nullptr;
    Part Eeprom = Part::None; // ignored for KR4
    std::vector<std::uint16_t> Words;
    std::array<std::vector<Fault>, 2> Faults; // per channel; single-channel chips use [0]

    // Not part of the bench's state: what this process changed since the bench was last
    // written, so it can be merged into a fresher copy.
    bool WordsChanged = false;
    std::vector<std::pair<int, Fault>> FaultsStruck; // (channel, fault before it struck)
    // Gone from the bench since the device count: kept so that the driver indexes stay as
    // they were counted, while its handles fail and it cannot be opened.
    bool Unplugged = false;

    int Channels() const { return Model->ChipFamily == Family::KR3 ? 2 : 1; }
    bool IsKr4() const { return Model->ChipFamily == Family::KR4; }
    bool HasEeprom() const { return !Words.empty(); }
    // "93C46" ..., "none", or "internal" for a KR4 chip.
    std::string_view EepromName() const;
};

// The word count a chip of this model with this part holds.
std::size_t WordCount(const ModelInfo& model, Part part);

// A blank chip: every external word 0xFFFF; a KR4's user words blank and its factory words
// valid, derived from its serial number.
Chip MakeChip(const ModelInfo& model, Part part, std::string serial);

// The hardware rules of one EEPROM access. `offset` is the word offset as the caller gave
// it; these never look at faults.
VQ_STATUS ReadWord(const Chip& chip, std::uint32_t offset, std::uint16_t& value);
VQ_STATUS WriteWord(Chip& chip, std::uint32_t offset, std::uint16_t value);
VQ_STATUS EraseAll(Chip& chip);

// One device as the driver counts them: a chip, or one channel of a KR3 chip.
struct DeviceRef {
    std::size_t ChipIndex;
    int Channel;
};

struct Bench {
    std::vector<Chip> Chips;

    std::vector<DeviceRef> Devices() const;
    Chip* FindChip(std::string_view serial);
    const Chip* FindChip(std::string_view serial) const;
    // The driver index of the chip's first device.
    std::size_t FirstDeviceOf(std::size_t chipIndex) const;
};

// The most devices a bench holds; a driver with more would overflow the engine's lists.
inline constexpr std::size_t MaxDevices = 128;

// Appends a blank chip with a fresh serial number unique on the bench; returns its index.
// `entropy` seeds the serial.
std::size_t AddChip(Bench& bench, const ModelInfo& model, Part part, std::uint64_t entropy);

// The bench a user starts with: a KR2S on a 93C46, a KR2S on a 93C56, a KR3D on a 93C56
// and a KR4S, all blank.
Bench DefaultBench(std::uint64_t entropy);

// The text a device reports: serial number (KR3 channels add "A" / "B") and description.
std::string DeviceSerial(const Chip& chip, int channel);
std::string DeviceDescription(const Chip& chip, int channel);

} // namespace vqpipex
