#pragma once

// Running the system's command-line tools from a test: a tool that is missing skips the
// test, or fails it where the run must have everything (tools/test.sh sets
// BW_REQUIRE_POSTGRES, having installed every tool the tests use).

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#define BW_REQUIRE_TOOL(name)                                                                      \
    do {                                                                                           \
        if (!::bwtest::HaveTool(name)) {                                                           \
            const std::string why_ = std::string(name) + " is not installed";                      \
            if (std::getenv("BW_REQUIRE_POSTGRES")) FAIL() << why_;                                \
            GTEST_SKIP() << why_;                                                                  \
        }                                                                                          \
    } while (false)

namespace bwtest {

inline bool HaveTool(const std::string& name) {
    if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0;
    for (const char* folder : {"/usr/bin/", "/usr/sbin/", "/bin/", "/sbin/", "/usr/local/bin/"})
        if (access((std::string(folder) + name).c_str(), X_OK) == 0) return true;
    return false;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

struct ToolRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

// Runs `command` through the shell; its paths hold no blanks.
inline ToolRun Run(const std::string& command) {
    char errPath[] = "/tmp/bw-tool-err-XXXXXX";
    const int errFd = mkstemp(errPath);
    if (errFd >= 0) close(errFd);
    ToolRun ran;
    FILE* pipe = popen((command + " 2>" + errPath).c_str(), "r");
    if (pipe) {
        char buffer[4096];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            ran.Out.append(buffer, n);
        const int status = pclose(pipe);
        ran.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ran.Err = ReadFile(errPath);
    unlink(errPath);
    return ran;
}

} // namespace bwtest
