// KeyerLink's open steps and port names, against a scripted port.
#include "dl2mgr/link/KeyerLink.h"

#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

namespace dl2mgr::link {
namespace {

namespace fs = std::filesystem;

class ScriptedPort final : public SerialPort {
public:
    bool OpenOk = true, ReadOk = true, ApplyOk = true, PurgeOk = true;
    SerialSettings Reported;
    SerialSettings Applied;
    SerialTimeouts Timeouts;
    std::vector<std::string> Calls;

    bool Open(const std::string& name) override {
        Calls.push_back("open " + name);
        return OpenOk;
    }
    OpenError LastOpenError() const override {
        return {OpenOk ? OpenFailure::None : OpenFailure::InUse, "/dev/ttyUSB0", "dialout", {}};
    }
    bool ReadSettings(SerialSettings& s) override {
        Calls.push_back("read");
        s = Reported;
        return ReadOk;
    }
    bool ApplySettings(const SerialSettings& s) override {
        Calls.push_back("apply");
        Applied = s;
        return ApplyOk;
    }
    bool ApplyTimeouts(const SerialTimeouts& t) override {
        Calls.push_back("timeouts");
        Timeouts = t;
        return false; // its result is not looked at
    }
    bool PurgeReceive() override {
        Calls.push_back("purge");
        return PurgeOk;
    }
    bool DrainReceive(std::chrono::milliseconds, std::chrono::milliseconds) override {
        Calls.push_back("drain");
        return PurgeOk;
    }
    bool StaysQuiet(std::chrono::milliseconds) override { return true; }
    std::size_t Send(std::span<const std::uint8_t> bytes) override { return bytes.size(); }
    std::size_t Receive(std::span<std::uint8_t>) override { return 0; }
    void Close() override { Calls.push_back("close"); }
};

class RecordingSleeper final : public Sleeper {
public:
    void Sleep(std::chrono::milliseconds d) override {
        if (port) port->Calls.push_back("sleep " + std::to_string(d.count()));
    }
    ScriptedPort* port = nullptr;
};

TEST(OpenKeyerPort, EachFailingStepHasItsResultAndPortOpenTellsWhetherToClose) {
    struct Case {
        const char* Failing;
        LinkResult Result;
        bool PortOpen;
        std::vector<std::string> Calls;
    } cases[] = {
        {"open", LinkOpenFailed, false, {"open /dev/ttyS2"}},
        {"read", LinkGetStateFailed, true, {"open /dev/ttyS2", "read"}},
        {"apply", LinkSetStateFailed, true, {"open /dev/ttyS2", "read", "apply"}},
        {"purge",
         LinkPurgeFailed,
         true,
         {"open /dev/ttyS2", "read", "apply", "timeouts", "sleep 400", "purge"}},
        {"", LinkOk, true, {"open /dev/ttyS2", "read", "apply", "timeouts", "sleep 400", "purge"}},
    };
    for (const auto& c : cases) {
        ScriptedPort port;
        const std::string failing = c.Failing;
        port.OpenOk = failing != "open";
        port.ReadOk = failing != "read";
        port.ApplyOk = failing != "apply";
        port.PurgeOk = failing != "purge";
        RecordingSleeper sleeper;
        sleeper.port = &port;
        KeyerLink link(port, sleeper, "/nonexistent-ports");
        EXPECT_EQ(link.OpenKeyerPort(3), c.Result) << c.Failing;
        EXPECT_EQ(link.PortOpen(), c.PortOpen) << c.Failing;
        EXPECT_EQ(port.Calls, c.Calls) << c.Failing;
        link.CloseKeyerPort();
        EXPECT_FALSE(link.PortOpen());
        link.CloseKeyerPort(); // safe when nothing is open
    }
}

TEST(OpenKeyerPort, AppliesTheKeyerLineAndKeepsWhatItDoesNotSet) {
    ScriptedPort port;
    port.Reported = {9600, 7, 2, 2, 0, 1, true, true, true, true, true};
    RecordingSleeper sleeper;
    KeyerLink link(port, sleeper, "/nonexistent-ports");
    ASSERT_EQ(link.OpenKeyerPort(1), LinkOk);
    const SerialSettings& s = port.Applied;
    EXPECT_EQ(s.BaudRate, 1200);
    EXPECT_EQ(s.ByteSize, 8);
    EXPECT_EQ(s.Parity, 0);
    EXPECT_EQ(s.StopBits, 0);
    EXPECT_EQ(s.DtrControl, 1);
    EXPECT_EQ(s.RtsControl, 0);
    EXPECT_FALSE(s.DsrSensitivity || s.OutX || s.InX || s.Null);
    EXPECT_TRUE(s.OutxCtsFlow); // not one of the keyer's settings: kept as reported
    EXPECT_EQ(port.Timeouts.ReadIntervalTimeout, 0u);
    EXPECT_EQ(port.Timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(port.Timeouts.ReadTotalTimeoutConstant, 2500u);
    EXPECT_EQ(port.Timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(port.Timeouts.WriteTotalTimeoutConstant, 0u);
}

TEST(PortNames, NamesAndTheEightByteLimit) {
    const std::pair<std::int32_t, const char*> named[] = {
        {1, "com1:"},   {9, "com9:"}, {10, "\\\\.\\COM10"}, {14, "\\\\.\\COM14"},
        {15, "com15:"}, {0, "com0:"}, {999, "com999:"},     {-99, "com-99:"},
    };
    for (const auto& [n, name] : named)
        EXPECT_EQ(KeyerPortName(n), name) << n;
    for (std::int32_t n : {1000, 123456, -100, INT32_MIN})
        EXPECT_EQ(KeyerPortName(n), std::nullopt) << n;

    // A number without a name is refused before anything is opened.
    ScriptedPort port;
    RecordingSleeper sleeper;
    KeyerLink link(port, sleeper, "/nonexistent-ports");
    EXPECT_EQ(link.OpenKeyerPort(1000), LinkOpenFailed);
    EXPECT_TRUE(port.Calls.empty());
    EXPECT_FALSE(link.PortOpen());
}

TEST(PortNames, ComLinksInThePortsFolderComeBeforeBuiltInPorts) {
    const fs::path ports =
        fs::temp_directory_path() / ("dl2mgr-ports-" + std::to_string(::getpid()));
    fs::remove_all(ports);
    fs::create_directories(ports);
    fs::create_symlink("/dev/null", ports / "COM9");
    fs::create_symlink("/nonexistent/pts", ports / "COM12"); // dangling: still the user's choice
    EXPECT_EQ(DevicePathOf("com9:", ports), (ports / "COM9").string());
    EXPECT_EQ(DevicePathOf("\\\\.\\COM12", ports), (ports / "COM12").string());
    EXPECT_EQ(DevicePathOf("com1:", ports), "/dev/ttyS0");
    EXPECT_EQ(DevicePathOf("\\\\.\\COM14", ports), "/dev/ttyS13");
    // A simulator's link outlives it: its owner file names a process that has gone. Not
    // followed while it leads to that simulator's terminal; followed once remade by hand.
    const std::string gone = "2147483646\n/dev/pts/77\n"; // no such process
    std::ofstream(LinkOwnerFile(ports / "COM5")) << gone;
    fs::create_symlink("/dev/pts/77", ports / "COM5");
    EXPECT_EQ(DevicePathOf("com5:", ports), "");
    fs::remove(ports / "COM5");
    fs::create_symlink("/dev/ttyUSB0", ports / "COM5");
    EXPECT_EQ(DevicePathOf("com5:", ports), (ports / "COM5").string());
    fs::remove_all(ports);
}

TEST(LinkStatusText, EveryResultHasItsText) {
    const std::pair<int, const char*> texts[] = {
        {LinkNoEcho, "DL Fail:no echo"},
        {LinkEchoMismatch, "DL Fail:echo mismatch"},
        {LinkOpenFailed, "DL Fail:comm open"},
        {LinkGetStateFailed, "DL Fail:get comm state"},
        {LinkSetStateFailed, "DL Fail:set comm state"},
        {LinkPurgeFailed, "DL Fail:comm purge"},
        {-3, "DL Fail:unknown error"},
        {7, "DL Fail:unknown error"},
    };
    for (const auto& [result, text] : texts)
        EXPECT_STREQ(LinkStatusText(result), text) << result;
}

} // namespace
} // namespace dl2mgr::link
