// Any bytes as a config file: only exactly four are a port number, anything else gives the
// default, and the file reader never takes more than it needs.
#include "dl2mgr/editor/ConfigFile.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dl2mgr::editor;
    const auto port = ParseConfigBytes({data, size});
    if (port.has_value() != (size == ConfigFileSize)) __builtin_trap();

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
        if (port ? load.ComPortNumber != *port || load.Outcome != ConfigLoad::State::Read
                 : load.ComPortNumber != DefaultComPortNumber) {
            __builtin_trap();
        }
    }
    return 0;
}
