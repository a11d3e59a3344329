#pragma once

// burnwise-cli end to end on a bench file of the test's own: the commands run as processes
// through the shell, vqbench sets the bench up and reads the EEPROMs back.

#include "support/TempFolder.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace clitest {

struct Ran {
    int Status = -1;
    std::string Out;
    std::string Err;

    std::vector<std::string> Lines() const { return Split(Out); }
    static std::vector<std::string> Split(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }
};

inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A KR2S template with fixed serial numbers, and only blank devices programmed.
constexpr const char* Kr2Template = "[Basic Details]\r\n"
                                    "Device Type=3\r\n"
                                    "VID PID Type=0\r\n"
                                    "USB VID=3C5A\r\n"
                                    "USB PID=71A0\r\n"
                                    "[USB Power Options]\r\n"
                                    "Bus Powered=1\r\n"
                                    "Max Bus Power=100\r\n"
                                    "[USB Serial Number Control]\r\n"
                                    "Prefix=VQ\r\n"
                                    "Use Fixed Serial Number=1\r\n"
                                    "Fixed Serial Number=E2E00001\r\n"
                                    "[Windows Plug and Play]\r\n"
                                    "Enable Plug and Play=1\r\n"
                                    "[USB String Descriptors]\r\n"
                                    "Manufacturer=Bench Maker\r\n"
                                    "Product=Line Test\r\n"
                                    "[Programming Options]\r\n"
                                    "Only Program Blank Devices=1\r\n"
                                    "[KR2 Device Specific Options]\r\n"
                                    "USB Version Number=1\r\n";

class DeviceCommands : public testing::Test {
protected:
    bwtest::TempFolder Folder{"bwcli-device-"};
    std::string Bench = (Folder.Path / "bench.txt").string();
    std::string Template = (Folder.Path / "kr2.ept").string();

    void SetUp() override { std::ofstream(Template, std::ios::binary) << Kr2Template; }

    // `args` goes through the shell; the paths used here hold no blanks.
    Ran Run(const std::string& program, const std::string& args) const {
        const std::string out = (Folder.Path / "stdout").string();
        const std::string err = (Folder.Path / "stderr").string();
        // The clock serial record goes to a state folder of the test's own.
        const std::string command = "export XDG_STATE_HOME=" + (Folder.Path / "state").string() +
                                    "; export VQPIPEX_BENCH=" + Bench + "; " + program + " " +
                                    args + " >" + out + " 2>" + err + " </dev/null";
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(out), ReadAll(err)};
    }
    Ran Cli(const std::string& args) const { return Run(BURNWISE_CLI, args); }
    Ran Vqbench(const std::string& args) const { return Run(VQBENCH, args); }
};

// A watch running in the background, as an operator leaves it on a production line.
class Watch {
public:
    Watch(const std::string& bench, const std::string& args, const std::string& out) : out_(out) {
        pid_ = ::fork();
        if (pid_ == 0) {
            const std::string state =
                (std::filesystem::path(bench).parent_path() / "state").string();
            const std::string command = "XDG_STATE_HOME=" + state + " VQPIPEX_BENCH=" + bench +
                                        " exec " + BURNWISE_CLI + " " + args + " >" + out +
                                        " 2>&1 </dev/null";
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Watch() {
        if (pid_ > 0) Stop();
    }

    // True once the output holds a line starting with `line`; fails after a few seconds.
    bool WaitFor(const std::string& line) const {
        for (int i = 0; i < 200; ++i) {
            for (const std::string& l : Ran::Split(ReadAll(out_)))
                if (l.starts_with(line)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ADD_FAILURE() << "no line \"" << line << "\" in:\n" << ReadAll(out_);
        return false;
    }
    // Ctrl+C (or `signal`); the exit status, -1 for a process the signal ended.
    int Stop(int signal = SIGINT) {
        ::kill(pid_, signal);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Output() const { return ReadAll(out_); }

private:
    pid_t pid_ = -1;
    std::string out_;
};

} // namespace clitest
