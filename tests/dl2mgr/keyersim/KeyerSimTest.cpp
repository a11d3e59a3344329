// The simulated keyer on its own, driven through the raw terminal the way a host would.
#include "dl2mgr/keyersim/KeyerSim.h"

#include "dl2mgr/editor/EditorDialog.h"
#include "dl2mgr/editor/MessageCoding.h"
#include "dl2mgr/link/PortNames.h"
#include "support/TempFolder.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <numeric>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dl2mgr::keyersim {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
constexpr double ByteSeconds = 10.0 / 1200.0;

// The host end: the terminal opened like a serial port (the simulator made it raw).
class Host {
public:
    explicit Host(const std::string& device) : fd_(::open(device.c_str(), O_RDWR | O_NOCTTY)) {
        EXPECT_GE(fd_, 0) << device;
    }
    ~Host() {
        if (fd_ >= 0) ::close(fd_);
    }
    void Send(const Bytes& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What arrives until `count` bytes are in or `limit` has passed.
    Bytes Receive(std::size_t count, std::chrono::milliseconds limit) {
        Bytes got;
        const auto until = Clock::now() + limit;
        while (got.size() < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            std::uint8_t buffer[512];
            const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0) break;
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

private:
    int fd_;
};

class Running {
public:
    explicit Running(KeyerSimOptions options) : sim(std::move(options)) {
        error = sim.Start();
        if (error.empty()) thread = std::make_unique<KeyerSimThread>(sim);
    }
    KeyerSim sim;
    std::string error;
    std::unique_ptr<KeyerSimThread> thread;
};

class KeyerSimTest : public ::testing::Test {
protected:
    bwtest::TempFolder scratch_{"dl2mgr-sim-"};
    const fs::path dir_ = scratch_.Path;
};

TEST_F(KeyerSimTest, PacesEveryByteAtTheLineRateWithoutDrift) {
    Running r(KeyerSimOptions{});
    ASSERT_EQ(r.error, "");
    Host host(r.sim.DevicePath());
    host.Send({0x00, 0x0C});
    ASSERT_EQ(host.Receive(256, std::chrono::seconds(4)).size(), 256u);

    // The simulator records a byte just after handing it over; let it catch up.
    auto wire = r.sim.Wire();
    for (int i = 0; i < 100 && wire.size() < 258; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        wire = r.sim.Wire();
    }
    ASSERT_EQ(wire.size(), 2u + 256u);
    const double asked = wire[1].Seconds;
    for (std::size_t k = 0; k < 256; ++k) {
        const auto& w = wire[2 + k];
        ASSERT_TRUE(w.Sent);
        // Byte k is through the line (k + 1) byte times after the command at the earliest.
        EXPECT_GE(w.Seconds, asked + (k + 1) * ByteSeconds) << k;
    }
    // A late wake-up on a busy machine is caught up, not added to the whole dump.
    EXPECT_LT(wire.back().Seconds - asked, 256 * ByteSeconds + 0.03);
}

TEST_F(KeyerSimTest, AnswersEachCommandAndHonoursItsFaults) {
    struct Case {
        const char* Name;
        KeyerSimOptions Options;
        Bytes Sent;
        Bytes Expected;
    };
    auto opts = [](auto set) {
        KeyerSimOptions o;
        o.Fast = true;
        o.Revision = 42;
        o.PotVal = 200;
        o.PbVal = 7;
        set(o);
        return o;
    };
    const Bytes session = {0x13, 0x13, 0x13, 0x00, 0x04, 0x55, 0x00, 0x03, 0x00,
                           0x09, 0x00, 0x06, 0x00, 0x05, 0x00, 0x0E, 0x02};
    const Case cases[] = {
        {"plain", opts([](auto&) {}), session, {0x55, 42, 200, 7}},
        {"no echo", opts([](auto& o) { o.NoEcho = true; }), session, {42, 200, 7}},
        {"wrong echo", opts([](auto& o) { o.WrongEcho = true; }), session, {0x54, 42, 200, 7}},
        {"silent after 2", opts([](auto& o) { o.SilentAfter = 2; }), session, {0x55, 42}},
        {"short dump", opts([](auto& o) { o.ShortDump = 5; }), {0x00, 0x0C}, {0, 0, 0, 0, 0}},
        {"stray bytes", opts([](auto&) {}), {0x42, 0x00, 0x77, 0x00, 0x00, 0x09}, {42}},
    };
    for (const auto& c : cases) {
        Running r(c.Options);
        ASSERT_EQ(r.error, "") << c.Name;
        Host host(r.sim.DevicePath());
        host.Send(c.Sent);
        EXPECT_EQ(host.Receive(c.Expected.size() + 1, std::chrono::milliseconds(300)), c.Expected)
            << c.Name;
        if (c.Sent == session) {
            EXPECT_EQ(r.sim.TestedMessages(), std::vector<int>{2}) << c.Name;
        }
    }
}

TEST_F(KeyerSimTest, EepromFileIsKeptAcrossRunsAndReplacedAfterAWrite) {
    const fs::path image = dir_ / "keyer.eep";
    const fs::path log = dir_ / "wire.log";
    Bytes written(256);
    std::iota(written.begin(), written.end(), std::uint8_t{3});
    {
        KeyerSimOptions o;
        o.Fast = true;
        o.ImagePath = image;
        o.LogPath = log;
        Running r(o);
        ASSERT_EQ(r.error, "");
        // New: a keyer never set up, which the editor can write back as it reads it.
        EXPECT_EQ(r.sim.Eeprom(), editor::DefaultKeyerImage());
        EXPECT_EQ(editor::StoreRefusal(r.sim.Eeprom()), std::nullopt);
        Host host(r.sim.DevicePath());
        Bytes load = {0x00, 0x0D};
        load.insert(load.end(), written.begin(), written.end());
        host.Send(load);
        const auto until = Clock::now() + std::chrono::seconds(3);
        while (r.sim.CompletedWrites() == 0 && Clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(r.sim.CompletedWrites(), 1);
    }
    std::ifstream in(image, std::ios::binary);
    const Bytes onDisk{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(onDisk, written);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 2); // image and log, no temp file

    std::ifstream logIn(log);
    std::string seconds, direction, byte;
    logIn >> seconds >> direction >> byte;
    EXPECT_EQ(direction, "RX");
    EXPECT_EQ(byte, "00");
    EXPECT_NE(seconds.find('.'), std::string::npos);

    KeyerSimOptions o;
    o.Fast = true;
    o.ImagePath = image;
    Running again(o);
    ASSERT_EQ(again.error, "");
    Host host(again.sim.DevicePath());
    host.Send({0x00, 0x0C});
    EXPECT_EQ(host.Receive(256, std::chrono::seconds(2)), written);

    std::ofstream(dir_ / "short.eep") << "too short";
    o.ImagePath = dir_ / "short.eep";
    Running refused(o);
    EXPECT_NE(refused.error.find("exactly 256 bytes"), std::string::npos) << refused.error;
}

TEST_F(KeyerSimTest, ACutOffWriteIsDroppedAfterASilenceNeverCompletedByLaterBytes) {
    KeyerSimOptions o;
    o.Fast = true;
    o.AnswerDelay = std::chrono::milliseconds(300); // and a slow keyer's answers
    Running r(o);
    ASSERT_EQ(r.error, "");
    Host host(r.sim.DevicePath());
    Bytes part = {0x00, 0x0D};
    part.insert(part.end(), 100, 0x77);
    host.Send(part);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    // The next host's handshake and then more than enough bytes to finish the old load.
    host.Send({0x13, 0x13, 0x13, 0x00, 0x04, 0x55});
    const auto asked = Clock::now();
    EXPECT_EQ(host.Receive(1, std::chrono::seconds(2)), Bytes{0x55}); // a command again
    EXPECT_GE(Clock::now() - asked, std::chrono::milliseconds(280));
    host.Send(Bytes(200, 0x11));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(r.sim.CompletedWrites(), 0);
    EXPECT_EQ(r.sim.AbandonedWrites(), 1);
    EXPECT_EQ(r.sim.Eeprom(), (std::array<std::uint8_t, 256>{}));
}

TEST_F(KeyerSimTest, ALinkLeftByADeadSimulatorIsNotFollowedAndTheNextOneReplacesIt) {
    const fs::path ports = dir_ / "ports";
    fs::create_directories(ports);
    // A simulator that died: its link points at a terminal that now serves someone else.
    KeyerSimOptions other;
    Running unrelated(other);
    ASSERT_EQ(unrelated.error, "");
    fs::create_symlink(unrelated.sim.DevicePath(), ports / "COM3");
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ASSERT_GT(gone, 0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    std::ofstream(ports / "COM3.pid") << gone << "\n";
    EXPECT_EQ(link::DevicePathOf("com3:", ports), "");
    // A link made by hand, without an owner file, is followed.
    fs::create_symlink(unrelated.sim.DevicePath(), ports / "COM4");
    EXPECT_EQ(link::DevicePathOf("com4:", ports), (ports / "COM4").string());

    KeyerSimOptions o;
    o.Com = 3;
    o.PortsFolder = ports;
    {
        Running next(o);
        ASSERT_EQ(next.error, "");
        EXPECT_EQ(fs::read_symlink(ports / "COM3"), next.sim.DevicePath());
        EXPECT_EQ(link::DevicePathOf("com3:", ports), (ports / "COM3").string());
        std::ifstream pid(ports / "COM3.pid");
        long owner = 0;
        pid >> owner;
        EXPECT_EQ(owner, ::getpid());
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(ports / "COM3")));
    EXPECT_FALSE(fs::exists(ports / "COM3.pid"));
}

TEST_F(KeyerSimTest, ProgramPrintsItsTerminalMakesTheComLinkAndStopsOnSigterm) {
    QProcess sim;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir_.string()));
    sim.setProcessEnvironment(env);
    sim.start(DAHLO2_SIM, {"--fast", "--com", "7"});
    ASSERT_TRUE(sim.waitForStarted(5000));
    ASSERT_TRUE(sim.waitForReadyRead(5000));
    const std::string device = sim.readLine().trimmed().toStdString();
    EXPECT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
    const fs::path link = dir_ / "dl2mgr" / "ports" / "COM7";
    EXPECT_EQ(fs::read_symlink(link), device);
    {
        Host host(link);
        host.Send({0x00, 0x04, 0x55});
        EXPECT_EQ(host.Receive(1, std::chrono::seconds(2)), Bytes{0x55});
    }
    sim.terminate(); // SIGTERM
    if (!sim.waitForFinished(5000)) sim.kill();
    EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));

    QProcess bad;
    bad.start(DAHLO2_SIM, {"--revision", "300"});
    ASSERT_TRUE(bad.waitForFinished(5000));
    EXPECT_EQ(bad.exitCode(), 2);
}

} // namespace
} // namespace dl2mgr::keyersim
