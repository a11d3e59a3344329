#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace vqpipex::testing {

namespace fs = std::filesystem;

// A scratch folder of its own per test, removed afterwards.
class Scratch {
public:
    Scratch() {
        std::string templ = (fs::temp_directory_path() / "vqpipex-test-XXXXXX").string();
        if (::mkdtemp(templ.data()) != nullptr) Dir = templ;
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
    fs::path operator/(const std::string& name) const { return Dir / name; }
    fs::path Dir;
};

inline std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

struct Ran {
    int Code = -1;
    std::string Out;
};

// Runs a shell command, stdout captured; stderr joins it when `withErrors`.
inline Ran Shell(const std::string& command, bool withErrors = false) {
    Ran ran;
    std::FILE* pipe = ::popen((command + (withErrors ? " 2>&1" : "")).c_str(), "r");
    if (pipe == nullptr) return ran;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        ran.Out.append(buffer, n);
    const int status = ::pclose(pipe);
    ran.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ran;
}

} // namespace vqpipex::testing
