#pragma once

#include "vqpipex/vqpipex.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <latch>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

// A word of its own for every device and offset.
inline std::uint16_t Pattern(int device, std::uint32_t word) {
    return static_cast<std::uint16_t>((device + 1) * 0x0101 ^ word * 0x9E37u);
}

// Opens device `index` of `driver` (anything with the driver's calls as members), writes
// its `words` words with its pattern, reads them back and closes it: the first failure,
// VQ_OTHER_ERROR for a word read back wrong, else VQ_OK.
template <class Driver>
VQ_STATUS WriteWholePart(Driver& driver, int index, std::uint32_t words) {
    VQ_HANDLE h = nullptr;
    if (const VQ_STATUS status = driver.Open(index, &h)) return status;
    VQ_STATUS result = VQ_OK;
    for (std::uint32_t w = 0; w < words && result == VQ_OK; ++w)
        result = driver.WriteEE(h, w, Pattern(index, w));
    for (std::uint32_t w = 0; w < words && result == VQ_OK; ++w) {
        std::uint16_t value = 0;
        result = driver.ReadEE(h, w, &value);
        if (result == VQ_OK && value != Pattern(index, w)) result = VQ_OTHER_ERROR;
    }
    const VQ_STATUS closed = driver.Close(h);
    return result != VQ_OK ? result : closed;
}

// Runs job(0) .. job(n - 1), each on a thread of its own, all set off at once; their
// statuses in that order.
template <class Job>
std::vector<VQ_STATUS> OnThreads(int n, const Job& job) {
    std::vector<VQ_STATUS> statuses(static_cast<std::size_t>(n), VQ_OTHER_ERROR);
    std::latch ready(n);
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&, i] {
            ready.arrive_and_wait();
            statuses[static_cast<std::size_t>(i)] = job(i);
        });
    for (std::thread& thread : threads)
        thread.join();
    return statuses;
}

} // namespace vqpipex::testing
