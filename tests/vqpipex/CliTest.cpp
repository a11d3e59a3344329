// The simulated bench's failures seen through burnwise-cli: a device removed during a run,
// a bench that cannot be stored and a device another run holds each end as a failure.
#include "TestFiles.h"

#include <chrono>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace {

using namespace vqpipex::testing;

const std::string Template = std::string(SOURCE_DIR) + "/examples/templates/KR2S-Serial-Cable.ept";

class BenchCli : public ::testing::Test {
protected:
    Scratch Folder;
    std::string Bench = (Folder / "bench.txt").string();
    std::string Trace = (Folder / "trace.txt").string();

    // The runs keep their records in the test's folder, never in the user's state folder.
    std::string Env() const {
        return "VQPIPEX_BENCH=" + Bench +
               " VQPIPEX_TRACE= XDG_STATE_HOME=" + (Folder / "state").string() + " ";
    }
    Ran Vqbench(const std::string& args) const { return Shell(Env() + VQBENCH + " " + args); }
    // A program run; `tag` names its log and output files.
    std::string Program(const std::string& tag) const {
        return std::string(BURNWISE_CLI) + " program --template " + Template + " --log " +
               (Folder / (tag + ".csv")).string() + " >" + (Folder / (tag + ".out")).string() +
               " 2>&1";
    }
    std::string Output(const std::string& tag) const { return ReadAll(Folder / (tag + ".out")); }
    std::string LastRecord(const std::string& tag) const {
        std::string log = ReadAll(Folder / (tag + ".csv"));
        while (!log.empty() && log.back() == '\n')
            log.pop_back();
        return log.substr(log.rfind('\n') + 1);
    }

    // Starts a program run at `delayUs` a driver call and returns once it writes the
    // image's word 10: the size probe never writes there, so the run is in its programming
    // pass then.
    pid_t StartSlowRun(const std::string& tag, int delayUs) const {
        const std::string command = Env() + "VQPIPEX_DELAY_US=" + std::to_string(delayUs) +
                                    " VQPIPEX_TRACE=" + Trace + " exec " + Program(tag);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 2000 && !ImageWriteTraced(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return pid;
    }
    bool ImageWriteTraced() const {
        std::istringstream lines(ReadAll(Trace));
        for (std::string line; std::getline(lines, line);)
            if (line.starts_with("VQ_WriteEE ") && line.find(" offset=10 ") != std::string::npos)
                return true;
        return false;
    }
    static int Wait(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void SetUp() override {
        ASSERT_EQ(Vqbench("reset").Code, 0);
        ASSERT_EQ(Vqbench("add KR2S").Code, 0);
    }
};

TEST_F(BenchCli, ADeviceRemovedDuringARunFails) {
    const pid_t run = StartSlowRun("run", 2000);
    ASSERT_EQ(Vqbench("remove 0").Code, 0);
    EXPECT_EQ(Wait(run), 1);
    EXPECT_EQ(Output("run").find("Programmed Serial Number"), std::string::npos) << Output("run");
    EXPECT_NE(LastRecord("run").find(",FAIL"), std::string::npos) << LastRecord("run");
}

TEST_F(BenchCli, ABenchThatCannotBeStoredFails) {
    // Read-only by its owner's bits: holds for root too.
    ASSERT_EQ(::chmod(Bench.c_str(), 0444), 0);
    EXPECT_EQ(Shell(Env() + Program("run")).Code, 1);
    EXPECT_EQ(Output("run").find("Programmed Serial Number"), std::string::npos) << Output("run");
    EXPECT_NE(LastRecord("run").find(",FAIL"), std::string::npos) << LastRecord("run");
    EXPECT_EQ(Vqbench("dump 0").Out.substr(0, 20), "0000 : FF FF FF FF F");
}

TEST_F(BenchCli, ADeviceAnotherRunHoldsIsNotOpened) {
    // Slow enough that the second run is done long before the first lets go.
    const pid_t first = StartSlowRun("first", 5000);
    EXPECT_EQ(Shell(Env() + Program("second")).Code, 1);
    EXPECT_NE(Output("second").find("VQ_Open - Device Not Opened..."), std::string::npos)
        << Output("second");
    EXPECT_EQ(Output("second").find("Programmed Serial Number"), std::string::npos);
    EXPECT_EQ(Wait(first), 0) << Output("first");
    EXPECT_NE(Output("first").find("Programmed Serial Number"), std::string::npos);
}

} // namespace
