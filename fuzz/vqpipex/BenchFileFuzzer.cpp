// Any bytes as a bench file: the parser either refuses them with a reason or gives a
// bench that writes out and reads back as the same text, within the device limit.
#include "vqpipex/BenchFile.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vqpipex;
    if (size > MaxBenchFileBytes) return 0;
    const ParseOutcome parsed = ParseBench({reinterpret_cast<const char*>(data), size});
    if (!parsed.Value) {
        if (parsed.Error.empty()) __builtin_trap();
        return 0;
    }
    if (parsed.Value->Devices().size() > MaxDevices) __builtin_trap();
    for (const Chip& chip : parsed.Value->Chips)
        if (chip.Words.size() != WordCount(*chip.Model, chip.Eeprom)) __builtin_trap();
    const std::string text = FormatBench(*parsed.Value);
    const ParseOutcome again = ParseBench(text);
    if (!again.Value || FormatBench(*again.Value) != text) __builtin_trap();
    return 0;
}
