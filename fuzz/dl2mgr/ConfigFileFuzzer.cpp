// Any bytes as a config file: the first four (or fewer) are the port number, the reader
// takes at most its cap, and nothing it reads can crash it.
#include "dl2mgr/editor/ConfigFile.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dl2mgr::editor;
    const std::int32_t port = ParseConfigBytes({data, size});
    std::uint32_t expected = 0;
    for (std::size_t i = 0; i < size && i < ConfigFileSize; ++i)
        expected |= std::uint32_t{data[i]} << (8 * i);
    if (port != static_cast<std::int32_t>(expected)) __builtin_trap();

    // One scratch file per run, removed when the fuzzer exits.
    static const struct Scratch {
        std::string Path = "/tmp/dl2mgr-config-fuzz-" + std::to_string(::getpid());
        ~Scratch() { std::remove(Path.c_str()); }
    } scratch;
    const std::string& path = scratch.Path;
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
        const ConfigLoad load = ReadConfigFile(path);
        const bool fits = size <= ConfigFileCap;
        if (fits ? load.Outcome != ConfigLoad::State::Read || load.ComPortNumber != port
                 : load.Outcome != ConfigLoad::State::Unreadable || load.ComPortNumber != 0) {
            __builtin_trap();
        }
    }
    return 0;
}
