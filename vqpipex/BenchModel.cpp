#include "vqpipex/BenchModel.h"

#include <algorithm>

namespace vqpipex {
namespace {

std::uint64_t SplitMix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Serial numbers in the maker's style: "VQ" and six letters or digits.
std::string MakeSerial(std::uint64_t& state) {
    static constexpr char Alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::uint64_t bits = SplitMix(state);
    std::string serial = "VQ";
    for (int i = 0; i < 6; ++i) {
        serial += Alphabet[bits % 36];
        bits /= 36;
    }
    return serial;
}

std::uint16_t FactoryWord(std::string_view serial) {
    std::uint32_t hash = 2166136261u;
    for (char c : serial)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return static_cast<std::uint16_t>(hash ^ (hash >> 16));
}

// Where an offset lands on the part: a smaller part ignores the upper address bits.
std::size_t Landing(const Chip& chip, std::uint32_t offset) {
    return offset % chip.Words.size();
}

} // namespace

const ModelInfo* FindModel(std::string_view name) {
    for (const ModelInfo& m : Models)
        if (m.Name == name) return &m;
    return nullptr;
}

std::optional<Part> FindPart(std::string_view name) {
    for (std::size_t i = 0; i < Parts.size(); ++i)
        if (Parts[i].Name == name) return static_cast<Part>(i);
    return std::nullopt;
}

std::optional<FaultKind> FindFaultKind(std::string_view name) {
    for (const FaultKindInfo& k : FaultKinds)
        if (k.Name == name) return k.Kind;
    return std::nullopt;
}

const FaultKindInfo& InfoOf(FaultKind kind) {
    return FaultKinds[static_cast<std::size_t>(kind)];
}

std::string_view Chip::EepromName() const {
    return IsKr4() ? std::string_view("internal") : InfoOf(Eeprom).Name;
}

std::size_t WordCount(const ModelInfo& model, Part part) {
    return model.ChipFamily == Family::KR4 ? Kr4Words : InfoOf(part).Words;
}

Chip MakeChip(const ModelInfo& model, Part part, std::string serial) {
    Chip chip;
    chip.Model = &model;
    chip.Eeprom = model.ChipFamily == Family::KR4 ? Part::None : part;
    chip.Words.assign(WordCount(model, part), ErasedWord);
    if (chip.IsKr4()) {
        std::fill(chip.Words.begin() + Kr4UserWords, chip.Words.end(), 0);
        const std::uint16_t factory = FactoryWord(serial);
        chip.Words[64] = factory;
        chip.Words[65] = static_cast<std::uint16_t>(~factory);
        chip.Words[66] = model.Fifo ? 1 : 0;
    }
    chip.Serial = std::move(serial);
    return chip;
}

VQ_STATUS ReadWord(const Chip& chip, std::uint32_t offset, std::uint16_t& value) {
    if (offset > MaxWordOffset) return VQ_INVALID_PARAMETER;
    if (!chip.HasEeprom()) return VQ_EEPROM_NOT_PRESENT;
    value = chip.Words[Landing(chip, offset)];
    return VQ_OK;
}

VQ_STATUS WriteWord(Chip& chip, std::uint32_t offset, std::uint16_t value) {
    if (offset > MaxWordOffset) return VQ_INVALID_PARAMETER;
    if (!chip.HasEeprom()) return VQ_EEPROM_NOT_PRESENT;
    const std::size_t word = Landing(chip, offset);
    // The KR4's factory area is locked; the chip refuses the write.
    if (chip.IsKr4() && word >= Kr4UserWords) return VQ_EEPROM_WRITE_FAILED;
    if (chip.Words[word] != value) {
        chip.Words[word] = value;
        chip.WordsChanged = true;
    }
    return VQ_OK;
}

VQ_STATUS EraseAll(Chip& chip) {
    if (!chip.HasEeprom()) return VQ_EEPROM_NOT_PRESENT;
    const std::size_t end = chip.IsKr4() ? Kr4UserWords : chip.Words.size();
    for (std::size_t i = 0; i < end; ++i) {
        if (chip.Words[i] != ErasedWord) {
            chip.Words[i] = ErasedWord;
            chip.WordsChanged = true;
        }
    }
    return VQ_OK;
}

std::vector<DeviceRef> Bench::Devices() const {
    std::vector<DeviceRef> devices;
    for (std::size_t i = 0; i < Chips.size(); ++i)
        for (int channel = 0; channel < Chips[i].Channels(); ++channel)
            devices.push_back({i, channel});
    return devices;
}

Chip* Bench::FindChip(std::string_view serial) {
    for (Chip& chip : Chips)
        if (chip.Serial == serial) return &chip;
    return nullptr;
}

const Chip* Bench::FindChip(std::string_view serial) const {
    return const_cast<Bench*>(this)->FindChip(serial);
}

std::size_t Bench::FirstDeviceOf(std::size_t chipIndex) const {
    std::size_t index = 0;
    for (std::size_t i = 0; i < chipIndex && i < Chips.size(); ++i)
        index += static_cast<std::size_t>(Chips[i].Channels());
    return index;
}

std::size_t AddChip(Bench& bench, const ModelInfo& model, Part part, std::uint64_t entropy) {
    std::string serial;
    do {
        serial = MakeSerial(entropy);
    } while (bench.FindChip(serial) != nullptr);
    bench.Chips.push_back(MakeChip(model, part, std::move(serial)));
    return bench.Chips.size() - 1;
}

Bench DefaultBench(std::uint64_t entropy) {
    Bench bench;
    AddChip(bench, *FindModel("KR2S"), Part::C46, entropy);
    AddChip(bench, *FindModel("KR2S"), Part::C56, entropy + 1);
    AddChip(bench, *FindModel("KR3D"), Part::C56, entropy + 2);
    AddChip(bench, *FindModel("KR4S"), Part::None, entropy + 3);
    return bench;
}

std::string DeviceSerial(const Chip& chip, int channel) {
    if (chip.Channels() == 1) return chip.Serial;
    return chip.Serial + (channel == 0 ? "A" : "B");
}

std::string DeviceDescription(const Chip& chip, int channel) {
    std::string text(chip.Model->Description);
    if (chip.Channels() > 1) text += channel == 0 ? " A" : " B";
    return text;
}

} // namespace vqpipex
