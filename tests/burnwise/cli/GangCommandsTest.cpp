// burnwise-cli program --parallel end to end on sixteen-device bench files: what the run one
// by one gives, device for device; failing devices failing alone; clock serials refused.

#include "support/TempFolder.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A log's lines without their first column, the time.
std::vector<std::string> Untimed(const std::string& log) {
    std::vector<std::string> lines = Lines(log);
    for (std::string& line : lines)
        line.erase(0, line.find(','));
    return lines;
}

struct Ran {
    int Status = -1;
    std::string Out, Err;
};

constexpr const char* Kr2Template = "[Basic Details]\r\nDevice Type=3\r\nVID PID Type=0\r\n"
                                    "USB VID=3C5A\r\nUSB PID=71A0\r\n"
                                    "[USB Power Options]\r\nBus Powered=1\r\nMax Bus Power=100\r\n"
                                    "[USB Serial Number Control]\r\nPrefix=VQ\r\n"
                                    "Use Fixed Serial Number=1\r\nFixed Serial Number=GNG00001\r\n"
                                    "[Windows Plug and Play]\r\nEnable Plug and Play=1\r\n"
                                    "[USB String Descriptors]\r\nManufacturer=Bench Maker\r\n"
                                    "Product=Gang Test\r\n"
                                    "[Programming Options]\r\nOnly Program Blank Devices=1\r\n"
                                    "[KR2 Device Specific Options]\r\nUSB Version Number=1\r\n";

// KR2S on each part (indexes 0-3 93C46, 4-7 93C56, 8-11 93C66), two KR1S and a KR3D (its
// channels A and B): sixteen devices, of which the KR2S template takes all but the KR3D.
const char* const SixteenDevices[] = {
    "KR2S --eeprom 93C46", "KR2S --eeprom 93C46", "KR2S --eeprom 93C46", "KR2S --eeprom 93C46",
    "KR2S --eeprom 93C56", "KR2S --eeprom 93C56", "KR2S --eeprom 93C56", "KR2S --eeprom 93C56",
    "KR2S --eeprom 93C66", "KR2S --eeprom 93C66", "KR2S --eeprom 93C66", "KR2S --eeprom 93C66",
    "KR1S --eeprom 93C46", "KR1S --eeprom 93C56", "KR3D --eeprom 93C56"};

class GangCommands : public testing::Test {
protected:
    bwtest::TempFolder Folder{"bwcli-gang-"};
    std::string Template = (Folder.Path / "kr2.ept").string();

    void SetUp() override { std::ofstream(Template, std::ios::binary) << Kr2Template; }
    std::string In(const std::string& name) const { return (Folder.Path / name).string(); }

    // `args` goes through the shell; the paths used here hold no blanks.
    Ran Run(const std::string& bench, const std::string& program, const std::string& args,
            const std::string& env = {}) const {
        const std::string out = In("stdout"), err = In("stderr");
        const std::string command = "export XDG_STATE_HOME=" + In("state") +
                                    " VQPIPEX_BENCH=" + In(bench) + " " + env + "; " + program +
                                    " " + args + " >" + out + " 2>" + err + " </dev/null";
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(out), ReadAll(err)};
    }
    Ran Vqbench(const std::string& bench, const std::string& args) const {
        return Run(bench, VQBENCH, args);
    }
    void MakeBench(const std::string& bench) const {
        ASSERT_EQ(Vqbench(bench, "reset").Status, 0);
        for (const char* device : SixteenDevices)
            ASSERT_EQ(Vqbench(bench, std::string("add ") + device).Status, 0);
    }
    // burnwise-cli in the background, its output to `out`.
    pid_t Start(const std::string& bench, const std::string& args, const std::string& out,
                const std::string& env = {}) const {
        const std::string command = env + " XDG_STATE_HOME=" + In("state") +
                                    " VQPIPEX_BENCH=" + In(bench) + " exec " + BURNWISE_CLI + " " +
                                    args + " >" + In(out) + " 2>&1 </dev/null";
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    }
    static int Wait(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    bool Blank(const std::string& bench, int index) const {
        return Vqbench(bench, "dump " + std::to_string(index)).Out.starts_with("0000 : FF FF FF");
    }
};

TEST_F(GangCommands, AtOnceGivesWhatOneByOneGivesDeviceForDevice) {
    MakeBench("one.txt");
    // The same chips, serial numbers included.
    fs::copy_file(In("one.txt"), In("all.txt"));
    // Both runs give the same numbers to the same chips of two copies of the bench.
    for (const std::string with : {"", " --counter "}) {
        SCOPED_TRACE(with);
        const auto program = [&](const std::string& bench, const std::string& more) {
            const std::string counter = with.empty() ? "" : with + In(bench + ".counter");
            return Run(bench, BURNWISE_CLI,
                       "program --template " + Template + " --log " + In(bench + ".csv") + counter +
                           more + " --allow-reuse");
        };
        const Ran one = program("one.txt", "");
        const Ran all = program("all.txt", " --parallel");
        EXPECT_EQ(one.Status, 0) << one.Err;
        EXPECT_EQ(all.Status, 0) << all.Err;
        EXPECT_EQ(all.Out, one.Out);
        EXPECT_EQ(all.Err, one.Err);
        EXPECT_EQ(Lines(one.Out).size(), 14u) << one.Out;
        EXPECT_EQ(Lines(one.Out).back(), with.empty() ? "Programmed Serial Number : GNG0000>"
                                                      : "Programmed Serial Number : GNG00014");
        EXPECT_EQ(Untimed(ReadAll(In("all.txt.csv"))), Untimed(ReadAll(In("one.txt.csv"))));
        EXPECT_EQ(ReadAll(In("all.txt")), ReadAll(In("one.txt"))) << "every chip's words";
        EXPECT_FALSE(Blank("all.txt", 13));
        EXPECT_TRUE(Blank("all.txt", 14)) << "the KR3D";
        if (!with.empty()) {
            EXPECT_EQ(ReadAll(In("all.txt.counter")), ReadAll(In("one.txt.counter")));
        }
        // The second round takes the same devices again, blank ones.
        for (const char* bench : {"one.txt", "all.txt"}) {
            MakeBench(bench);
            fs::remove(In(std::string(bench) + ".csv"));
        }
        fs::copy_file(In("one.txt"), In("all.txt"), fs::copy_options::overwrite_existing);
    }
}

TEST_F(GangCommands, AFailingDeviceFailsAloneAndTheOthersAreProgrammed) {
    MakeBench("bench.txt");
    ASSERT_EQ(Vqbench("bench.txt", "fault 2 write --word 10").Status, 0);
    ASSERT_EQ(Vqbench("bench.txt", "fault 6 open").Status, 0);
    // Slow enough to unplug device 13 (the last one taken: no index of a device taken moves)
    // once the images are being written: the size probe never writes word 10.
    const std::string trace = In("trace.txt");
    const pid_t pid =
        Start("bench.txt", "program --parallel --template " + Template + " --log " + In("run.csv"),
              "run.out", "VQPIPEX_DELAY_US=2000 VQPIPEX_TRACE=" + trace);
    const auto imagesWritten = [&] {
        for (const std::string& line : Lines(ReadAll(trace)))
            if (line.starts_with("VQ_WriteEE ") && line.find(" offset=10 ") != std::string::npos)
                return true;
        return false;
    };
    for (int i = 0; i < 2000 && !imagesWritten(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(Vqbench("bench.txt", "remove 13").Status, 0);
    EXPECT_EQ(Wait(pid), 1) << ReadAll(In("run.out"));

    // Device 6 is not examined; the others take positions 0 to 12 in index order.
    const std::vector<std::string> log = Lines(ReadAll(In("run.csv")));
    ASSERT_EQ(log.size(), 15u) << ReadAll(In("run.csv"));
    EXPECT_NE(log[1].find(",-1,6,,,,FAIL ERROR - Device 6 could not be examined"),
              std::string::npos)
        << log[1];
    int passed = 0;
    for (std::size_t row = 2; row < log.size(); ++row) {
        const int position = static_cast<int>(row) - 2;
        const int index = position < 6 ? position : position + 1;
        SCOPED_TRACE(log[row]);
        EXPECT_NE(log[row].find("," + std::to_string(position) + "," + std::to_string(index) + ","),
                  std::string::npos);
        const bool fails = index == 2 || index == 13;
        EXPECT_EQ(log[row].find(",FAIL ") != std::string::npos, fails);
        if (fails) continue;
        ++passed;
        // The device holds the image made for its position and part.
        const char* eeprom = index < 4 || index == 12 ? "93C46" : index < 8 ? "93C56" : "93C66";
        const std::vector<std::string> held =
            Lines(Vqbench("bench.txt", "dump " + std::to_string(index)).Out);
        const std::vector<std::string> expected =
            Lines(Run("bench.txt", BURNWISE_CLI,
                      "encode --format dump --template " + Template + " --eeprom " + eeprom +
                          " --device-number " + std::to_string(position))
                      .Out);
        ASSERT_EQ(expected.size(), 8u);
        ASSERT_GE(held.size(), expected.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), held.begin()));
    }
    EXPECT_EQ(passed, 11);
    EXPECT_TRUE(Blank("bench.txt", 6));
    EXPECT_EQ(Lines(Vqbench("bench.txt", "list").Out).size(), 15u) << "one unplugged";
}

TEST_F(GangCommands, AWatchTakesTheDevicesOfOnePollAtOnce) {
    ASSERT_EQ(Vqbench("bench.txt", "reset").Status, 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Vqbench("bench.txt", "add KR2S").Status, 0);
    const pid_t watch =
        Start("bench.txt",
              "program --watch --parallel --template " + Template + " --counter " + In("counter"),
              "watch.out");
    const auto lines = [&] { return Lines(ReadAll(In("watch.out"))); };
    for (int i = 0; i < 400 && lines().size() < 7; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // Another poll or two: a device left attached is not programmed again.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    ::kill(watch, SIGINT);
    EXPECT_EQ(Wait(watch), 0) << ReadAll(In("watch.out"));
    // The three in one pass: each device's lines in position order.
    EXPECT_EQ(lines(),
              (std::vector<std::string>{
                  "Waiting for KR2S devices (Ctrl+C stops)", "Programmed Serial Number : GNG00001",
                  "PASS device 0 serial GNG00001", "Programmed Serial Number : GNG00002",
                  "PASS device 1 serial GNG00002", "Programmed Serial Number : GNG00003",
                  "PASS device 2 serial GNG00003", "Stopped"}));
    EXPECT_EQ(ReadAll(In("counter")), "4\n");
}

TEST_F(GangCommands, ClockSerialsAreRefusedBeforeAnythingIsOpened) {
    MakeBench("bench.txt");
    std::string text = Kr2Template;
    text.replace(text.find("Use Fixed Serial Number=1"), 25, "Use Fixed Serial Number=0");
    const std::string clock = In("clock.ept");
    std::ofstream(clock, std::ios::binary) << text;
    const std::string before = ReadAll(In("bench.txt"));
    for (const std::string watch : {"", " --watch"}) {
        SCOPED_TRACE(watch);
        const Ran run =
            Run("bench.txt", BURNWISE_CLI,
                "program --parallel --template " + clock + " --log " + In("run.csv") + watch,
                "VQPIPEX_TRACE=" + In("trace.txt"));
        EXPECT_EQ(run.Status, 2);
        EXPECT_EQ(run.Out, "");
        EXPECT_NE(run.Err.find("--parallel needs a template with a fixed serial number"),
                  std::string::npos)
            << run.Err;
        EXPECT_FALSE(fs::exists(In("run.csv")));
        EXPECT_FALSE(fs::exists(In("trace.txt"))) << "no driver call";
        EXPECT_EQ(ReadAll(In("bench.txt")), before);
    }
}

} // namespace
