// The real link over a real pseudo-terminal, against the simulated keyer.
#include "dl2mgr/keyersim/KeyerSim.h"
#include "dl2mgr/link/KeyerLink.h"
#include "dl2mgr/link/QtSerialPort.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <memory>
#include <numeric>
#include <unistd.h>

namespace dl2mgr::link {
namespace {

using keyersim::KeyerSim;
using keyersim::KeyerSimOptions;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

class RecordedStatus final : public StatusDisplay {
public:
    void ShowStatus(const std::string& t) override { Status = t; }
    void ShowPotVal(const std::string& t) override { PotVal = t; }
    void ShowPbVal(const std::string& t) override { PbVal = t; }
    std::string Status, PotVal = "unset", PbVal = "unset";
};

// A simulator serving on its own thread, and a link on the terminal's other side.
class Bench {
public:
    explicit Bench(KeyerSimOptions options) : sim_(std::move(options)) {
        const std::string error = sim_.Start();
        EXPECT_EQ(error, "");
        thread_ = std::make_unique<keyersim::KeyerSimThread>(sim_);
        link.DevicePath = sim_.DevicePath();
    }
    ~Bench() {
        if (link.PortOpen()) link.CloseKeyerPort();
        thread_.reset();
    }
    KeyerSim& Sim() { return sim_; }

    // The bytes the keyer received (or sent), once `count` of them have arrived.
    Bytes Wire(bool sent, std::size_t count) {
        const auto until = Clock::now() + std::chrono::seconds(3);
        Bytes bytes;
        do {
            bytes.clear();
            for (const auto& w : sim_.Wire()) {
                if (w.Sent == sent) bytes.push_back(w.Byte);
            }
            if (bytes.size() >= count) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (Clock::now() < until);
        return bytes;
    }

    QtSerialPort port;
    ThreadSleeper sleeper;
    KeyerLink link{port, sleeper, "/nonexistent-ports"};
    RecordedStatus status;

private:
    KeyerSim sim_;
    std::unique_ptr<keyersim::KeyerSimThread> thread_;
};

KeyerSimOptions Fast() {
    KeyerSimOptions o;
    o.Fast = true;
    return o;
}

std::array<std::uint8_t, 256> Counting(std::uint8_t from) {
    std::array<std::uint8_t, 256> image;
    std::iota(image.begin(), image.end(), from);
    return image;
}

TEST(KeyerLinkSim, ConnectSendsTheHandshakeAndTheTwoQueries) {
    KeyerSimOptions o = Fast();
    o.PotVal = 12;
    o.PbVal = 3;
    Bench bench(o);
    EXPECT_EQ(bench.link.ConnectKeyer(bench.status), 23);
    EXPECT_EQ(bench.status.Status, "DL Open, F/W revision 23");
    EXPECT_EQ(bench.status.PotVal, "12");
    EXPECT_EQ(bench.status.PbVal, "3");
    EXPECT_TRUE(bench.link.PortOpen());
    EXPECT_EQ(bench.Wire(false, 14), (Bytes{0x13, 0x13, 0x13, 0x00, 0x04, 0x55, 0x00, 0x03, 0x00,
                                            0x09, 0x00, 0x06, 0x00, 0x05}));
    EXPECT_EQ(bench.Wire(true, 4), (Bytes{0x55, 23, 12, 3}));
}

TEST(KeyerLinkSim, RevisionDecidesTheGeneration) {
    const std::pair<std::uint8_t, int> revisions[] = {{10, -1}, {0, -1}, {11, 11}, {255, 255}};
    for (const auto& [revision, result] : revisions) {
        KeyerSimOptions o = Fast();
        o.Revision = revision;
        Bench bench(o);
        EXPECT_EQ(bench.link.ConnectKeyer(bench.status), result) << int(revision);
        EXPECT_EQ(bench.status.Status, result < 0
                                           ? std::string("DL Fail:DL1 found")
                                           : "DL Open, F/W revision " + std::to_string(revision));
        // A refused keyer is not asked for its status bytes.
        EXPECT_EQ(bench.status.PotVal, result < 0 ? "unset" : "0");
    }
}

TEST(KeyerLinkSim, WrongEchoAndMissingPortFailTheConnect) {
    KeyerSimOptions o = Fast();
    o.WrongEcho = true;
    Bench wrong(o);
    EXPECT_EQ(wrong.link.ConnectKeyer(wrong.status), LinkEchoMismatch);
    EXPECT_EQ(wrong.status.Status, "DL Fail:echo mismatch");
    EXPECT_TRUE(wrong.link.PortOpen());

    QtSerialPort port;
    ThreadSleeper sleeper;
    RecordedStatus status;
    for (const char* device : {"/dev/nonexistent-keyer", ""}) {
        KeyerLink link(port, sleeper, "/nonexistent-ports");
        link.DevicePath = device;
        link.ComPortNumber = 77; // no COM77 link, and no /dev/ttyS76 either
        EXPECT_EQ(link.ConnectKeyer(status), LinkOpenFailed) << device;
        EXPECT_EQ(status.Status, "DL Fail:comm open");
        EXPECT_FALSE(link.PortOpen());
    }
}

TEST(KeyerLinkSim, ComPortNumberReachesTheSimulatorThroughItsLink) {
    const auto ports = std::filesystem::temp_directory_path() /
                       ("dl2mgr-link-ports-" + std::to_string(::getpid()));
    KeyerSimOptions o = Fast();
    o.Com = 12;
    o.PortsFolder = ports;
    Bench bench(o);
    QtSerialPort port;
    ThreadSleeper sleeper;
    KeyerLink link(port, sleeper, ports);
    link.ComPortNumber = 12;
    EXPECT_EQ(link.ConnectKeyer(bench.status), 23);
    link.CloseKeyerPort();
    std::filesystem::remove_all(ports);
}

// The two faults that end in the read limit, in one test: each waits out 2500 ms.
TEST(KeyerLinkSim, SilentKeyerEndsAtTheReadLimit) {
    KeyerSimOptions o = Fast();
    o.NoEcho = true;
    Bench noEcho(o);
    auto start = Clock::now();
    EXPECT_EQ(noEcho.link.ConnectKeyer(noEcho.status), LinkNoEcho);
    auto elapsed = Clock::now() - start;
    EXPECT_EQ(noEcho.status.Status, "DL Fail:no echo");
    EXPECT_TRUE(noEcho.link.PortOpen());
    EXPECT_GE(elapsed, std::chrono::milliseconds(400 + 2500));
    EXPECT_LT(elapsed, std::chrono::milliseconds(400 + 3500));

    // Echoes, then never answers the revision query: revision 0 is a first-generation keyer.
    o = Fast();
    o.SilentAfter = 1;
    Bench mute(o);
    EXPECT_EQ(mute.link.ConnectKeyer(mute.status), -1);
    EXPECT_EQ(mute.status.Status, "DL Fail:DL1 found");
}

TEST(KeyerLinkSim, ReadWriteAndMessageTestOnTheWire) {
    Bench bench(Fast());
    bench.Sim().SetEeprom(Counting(7));
    ASSERT_EQ(bench.link.ConnectKeyer(bench.status), 23);
    std::array<std::uint8_t, 256> image{};
    EXPECT_TRUE(bench.link.ReadKeyerImage(image));
    EXPECT_EQ(image, Counting(7));
    bench.link.CloseKeyerPort();

    bench.Sim().ClearWire();
    ASSERT_EQ(bench.link.ConnectKeyer(bench.status), 23);
    const auto written = Counting(200);
    EXPECT_TRUE(bench.link.WriteKeyerImage(written));
    const Bytes wire = bench.Wire(false, 14 + 258);
    ASSERT_EQ(wire.size(), 14u + 258u);
    EXPECT_EQ(Bytes(wire.begin() + 14, wire.begin() + 16), (Bytes{0x00, 0x0D}));
    EXPECT_EQ(Bytes(wire.begin() + 16, wire.end()), Bytes(written.begin(), written.end()));
    EXPECT_EQ(bench.Sim().Eeprom(), written);
    bench.link.CloseKeyerPort();

    bench.Sim().ClearWire();
    ASSERT_EQ(bench.link.ConnectKeyer(bench.status), 23);
    EXPECT_TRUE(bench.link.TestKeyerMessage(4));
    const Bytes test = bench.Wire(false, 17);
    EXPECT_EQ(Bytes(test.begin() + 14, test.end()), (Bytes{0x00, 0x0E, 0x04}));
}

TEST(KeyerLinkSim, PacedDumpArrivesWithinTheOneReadLimit) {
    Bench bench(KeyerSimOptions{});
    bench.Sim().SetEeprom(Counting(1));
    ASSERT_EQ(bench.link.ConnectKeyer(bench.status), 23);
    std::array<std::uint8_t, 256> image{};
    const auto start = Clock::now();
    EXPECT_TRUE(bench.link.ReadKeyerImage(image));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2133)); // the line's own pace
    EXPECT_EQ(image, Counting(1));
}

TEST(KeyerLinkSim, ShortDumpKeepsOldBytesAfterTheLastOneReceived) {
    // Paced, so the 200 bytes trickle in over 1.7 s: the limit still ends the receive
    // 2500 ms after it started, not 2500 ms after the last byte.
    KeyerSimOptions o;
    o.ShortDump = 200;
    Bench bench(o);
    bench.Sim().SetEeprom(Counting(100));
    ASSERT_EQ(bench.link.ConnectKeyer(bench.status), 23);
    std::array<std::uint8_t, 256> image;
    image.fill(0xEE);
    const auto start = Clock::now();
    EXPECT_FALSE(bench.link.ReadKeyerImage(image));
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(2500));
    EXPECT_LT(elapsed, std::chrono::milliseconds(3300));
    const auto sent = Counting(100);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 200, sent.begin()));
    EXPECT_TRUE(std::all_of(image.begin() + 200, image.end(), [](auto b) { return b == 0xEE; }));
}

} // namespace
} // namespace dl2mgr::link

int main(int argc, char** argv) {
    // Qt SerialPort's notifiers want an application object on the thread that uses them.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
