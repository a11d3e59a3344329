#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace dl2mgr::keyersim {

// A reply that a faulty keyer (or a noisy line) follows with one stray byte, 0x0D.
enum class StrayAfter { None, Echo, PbVal };

struct KeyerSimOptions {
    // The EEPROM file; empty keeps the EEPROM in memory. A file that does not exist yet
    // starts from the image of a keyer never set up, and is made at the first write.
    std::filesystem::path ImagePath;
    std::uint8_t Revision = 23;
    std::uint8_t PotVal = 0;
    std::uint8_t PbVal = 0;
    bool Fast = false; // send at once instead of at 1200 baud
    // A slow keyer: every answer starts this much later (below the host's 2500 ms limit it
    // still gets through).
    std::chrono::milliseconds AnswerDelay{0};
    // Faults
    bool NoEcho = false;
    bool WrongEcho = false;
    std::optional<std::size_t> ShortDump; // send only this many bytes of a dump
    std::optional<std::size_t> LongDump;  // send this many: the EEPROM, then zeros
    StrayAfter Stray = StrayAfter::None;
    std::optional<std::size_t> SilentAfter; // send nothing once this many bytes went out
    std::filesystem::path LogPath;          // every byte received and sent, with times
    std::optional<int> Com;                 // make the link COMn in PortsFolder
    std::filesystem::path PortsFolder;
};

struct WireByte {
    double Seconds; // since the simulator started
    bool Sent;      // false: received from the host
    std::uint8_t Byte;
};

// A second-generation keyer on a pseudo-terminal: it answers every host command byte for
// byte, releases what it sends no faster than a 1200-baud line would (10 bit times a byte),
// and keeps its 256-byte EEPROM in a file.
class KeyerSim {
public:
    explicit KeyerSim(KeyerSimOptions options);
    ~KeyerSim();
    KeyerSim(const KeyerSim&) = delete;
    KeyerSim& operator=(const KeyerSim&) = delete;

    // Opens the pseudo-terminal, loads the EEPROM file and makes the COM link. Returns an
    // empty string on success, else why it could not start.
    std::string Start();
    // The device the host opens.
    const std::string& DevicePath() const { return devicePath_; }
    // The COMn link made for --com, if any.
    const std::filesystem::path& ComLink() const { return comLink_; }

    // Serves the host until `stopFd` becomes readable.
    void Serve(int stopFd);

    std::array<std::uint8_t, 256> Eeprom() const;
    void SetEeprom(const std::array<std::uint8_t, 256>& eeprom);
    std::vector<WireByte> Wire() const;
    void ClearWire();
    std::vector<int> TestedMessages() const;
    // Write commands whose 256 bytes all arrived.
    int CompletedWrites() const;
    // Write commands dropped because the line went silent before their 256 bytes were in.
    int AbandonedWrites() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Outgoing {
        Clock::time_point Due;
        std::uint8_t Byte;
    };
    enum class State { Idle, Command, EchoArgument, TestArgument, Loading };

    void Feed(std::uint8_t byte);
    void Queue(std::uint8_t byte);
    void Record(bool sent, std::uint8_t byte);
    void CommitLoad();
    void AbandonStaleLoad();

    KeyerSimOptions options_;
    int master_ = -1;
    int slave_ = -1;
    std::string devicePath_;
    std::filesystem::path comLink_;
    std::FILE* log_ = nullptr;
    Clock::time_point started_ = Clock::now();

    State state_ = State::Idle;
    std::array<std::uint8_t, 256> load_{};
    std::size_t loaded_ = 0;
    Clock::time_point lastReceived_{};
    std::deque<Outgoing> outgoing_;
    Clock::time_point lastDue_{}; // when the last queued byte is due
    std::size_t queuedTotal_ = 0;

    mutable std::mutex mutex_; // guards what tests read while Serve runs
    std::array<std::uint8_t, 256> eeprom_{};
    std::vector<WireByte> wire_;
    std::vector<int> tested_;
    int completedWrites_ = 0;
    int abandonedWrites_ = 0;
};

// Runs a started simulator on its own thread until destroyed; for tests and benchmarks.
class KeyerSimThread {
public:
    explicit KeyerSimThread(KeyerSim& sim);
    ~KeyerSimThread();
    KeyerSimThread(const KeyerSimThread&) = delete;
    KeyerSimThread& operator=(const KeyerSimThread&) = delete;

private:
    int stop_[2] = {-1, -1};
    std::thread thread_;
};

} // namespace dl2mgr::keyersim
