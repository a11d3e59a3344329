#include "dl2mgr/keyersim/KeyerSim.h"

#include "dl2mgr/editor/FileResults.h"
#include "dl2mgr/editor/ImageFile.h"
#include "dl2mgr/editor/MessageCoding.h"
#include "dl2mgr/link/PortNames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace dl2mgr::keyersim {

namespace {

// One byte on a 1200-baud 8N1 line: start bit, 8 data bits, stop bit.
constexpr std::chrono::nanoseconds ByteTime{10'000'000'000LL / 1200};

// The keyer gives up a load when the line stays quiet this long before its 256 bytes are
// in: far above a byte time, below the 400 ms a host waits after opening before it sends.
constexpr std::chrono::milliseconds LoadSilence{200};

constexpr std::uint8_t EchoCmd = 0x04, HostCmd = 0x03, RevisionCmd = 0x09, PotCmd = 0x06,
                       PbCmd = 0x05, DumpCmd = 0x0C, LoadCmd = 0x0D, TestCmd = 0x0E;
constexpr std::uint8_t StrayByte = 0x0D;

} // namespace

// A memory-only simulator starts all zero, as tests set their EEPROM themselves; one with
// an EEPROM file starts as a new keyer would, so the editor can write back what it reads.
KeyerSim::KeyerSim(KeyerSimOptions options) : options_(std::move(options)) {
    if (!options_.ImagePath.empty()) eeprom_ = editor::DefaultKeyerImage();
}

KeyerSim::~KeyerSim() {
    if (!comLink_.empty()) {
        // Remove the link only while it still points at this simulator.
        std::error_code ec;
        if (std::filesystem::read_symlink(comLink_, ec) == devicePath_) {
            std::filesystem::remove(comLink_, ec);
            std::filesystem::remove(link::LinkOwnerFile(comLink_), ec);
        }
    }
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    if (log_) std::fclose(log_);
}

std::string KeyerSim::Start() {
    if (!options_.ImagePath.empty()) {
        std::error_code ec;
        if (std::filesystem::exists(options_.ImagePath, ec)) {
            editor::KeyerImage image{};
            const std::string error = editor::LoadImageFile(options_.ImagePath, image);
            if (!error.empty()) return error;
            std::lock_guard lock(mutex_);
            eeprom_ = image;
        }
    }
    if (!options_.LogPath.empty()) {
        log_ = std::fopen(options_.LogPath.c_str(), "w");
        if (!log_)
            return "Cannot open the log " + options_.LogPath.string() + ": " + std::strerror(errno);
    }

    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        return std::string("Cannot open a pseudo-terminal: ") + std::strerror(errno);
    }
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    // Raw from the start: until the host configures the line, a cooked terminal would echo
    // the keyer's own replies back to it and eat XOFF (0x13, the preamble byte).
    termios raw{};
    if (::tcgetattr(slave_, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::cfsetispeed(&raw, B1200);
        ::cfsetospeed(&raw, B1200);
        ::tcsetattr(slave_, TCSANOW, &raw);
    }
    // The simulator keeps the terminal side open itself, so a host closing the port is not
    // a hang-up and the next host can open it again.
    devicePath_ = name;

    if (options_.Com) {
        std::error_code ec;
        std::filesystem::create_directories(options_.PortsFolder, ec);
        const auto link = options_.PortsFolder / ("COM" + std::to_string(*options_.Com));
        const auto temp = options_.PortsFolder / (".COM" + std::to_string(*options_.Com) + "." +
                                                  std::to_string(::getpid()));
        // The owner's process id goes beside the link first: a host that finds the link
        // with a dead owner does not follow it, since a terminal name is handed out again
        // once its simulator is gone. A link left by one that died is simply replaced.
        // The terminal goes with it: a link remade by hand later is not this owner's.
        const std::string pid = std::to_string(::getpid()) + "\n" + devicePath_ + "\n";
        const std::string written =
            editor::ReplaceFile(
                link::LinkOwnerFile(link),
                std::span(reinterpret_cast<const std::uint8_t*>(pid.data()), pid.size()))
                .Error;
        if (!written.empty()) return written;
        std::filesystem::remove(temp, ec);
        std::filesystem::create_symlink(devicePath_, temp, ec);
        if (!ec) std::filesystem::rename(temp, link, ec);
        if (ec) return "Cannot make the link " + link.string() + ": " + ec.message();
        comLink_ = link;
    }
    started_ = Clock::now();
    return {};
}

void KeyerSim::Serve(int stopFd) {
    std::uint8_t buffer[512];
    for (;;) {
        int timeoutMs = -1;
        std::optional<Clock::time_point> wake;
        if (!outgoing_.empty()) wake = outgoing_.front().Due;
        if (state_ == State::Loading) {
            const auto giveUp = lastReceived_ + LoadSilence;
            if (!wake || giveUp < *wake) wake = giveUp;
        }
        if (wake) {
            const auto wait = *wake - Clock::now();
            timeoutMs =
                wait <= Clock::duration::zero()
                    ? 0
                    : static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
        }
        pollfd fds[2] = {{master_, POLLIN, 0}, {stopFd, POLLIN, 0}};
        // Sub-millisecond precision for the byte schedule: wait in whole milliseconds, then
        // spin the last fraction below, so no byte goes out early and none noticeably late.
        const int ready = ::poll(fds, 2, timeoutMs > 0 ? timeoutMs - 1 : timeoutMs);
        if (ready < 0 && errno != EINTR) return;
        if (fds[1].revents) return;
        if (fds[0].revents) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            for (ssize_t i = 0; i < n; ++i) {
                Record(false, buffer[i]);
                Feed(buffer[i]);
            }
            // A hung-up terminal keeps reporting itself ready; do not spin on it.
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) ::poll(nullptr, 0, 10);
        }
        AbandonStaleLoad();
        while (!outgoing_.empty()) {
            const auto now = Clock::now();
            const auto due = outgoing_.front().Due;
            if (due > now) {
                if (due - now > std::chrono::milliseconds(1)) break;
                while (Clock::now() < due) {
                }
            }
            const std::uint8_t byte = outgoing_.front().Byte;
            outgoing_.pop_front();
            // A full terminal (nobody has read for kilobytes) drops the byte, as a line with
            // nobody listening would, instead of stalling the keyer.
            if (::write(master_, &byte, 1) == 1) Record(true, byte);
        }
    }
}

void KeyerSim::AbandonStaleLoad() {
    // Bytes of a later command must not complete a load that was cut off: they would be
    // stored as a mix of two images.
    if (state_ != State::Loading || Clock::now() - lastReceived_ < LoadSilence) return;
    state_ = State::Idle;
    loaded_ = 0;
    std::lock_guard lock(mutex_);
    ++abandonedWrites_;
}

void KeyerSim::Feed(std::uint8_t byte) {
    AbandonStaleLoad();
    lastReceived_ = Clock::now();
    switch (state_) {
    case State::Idle:
        // 0x13 preambles and stray bytes are ignored; 0x00 starts a command.
        if (byte == 0x00) state_ = State::Command;
        return;
    case State::Command:
        state_ = State::Idle;
        switch (byte) {
        case 0x00:
            state_ = State::Command;
            return;
        case EchoCmd:
            state_ = State::EchoArgument;
            return;
        case HostCmd:
            return;
        case RevisionCmd:
            Queue(options_.Revision);
            return;
        case PotCmd:
            Queue(options_.PotVal);
            return;
        case PbCmd:
            Queue(options_.PbVal);
            if (options_.Stray == StrayAfter::PbVal) Queue(StrayByte);
            return;
        case DumpCmd: {
            const auto eeprom = Eeprom();
            const std::size_t count = options_.LongDump.value_or(
                std::min<std::size_t>(options_.ShortDump.value_or(eeprom.size()), eeprom.size()));
            for (std::size_t i = 0; i < count; ++i)
                Queue(i < eeprom.size() ? eeprom[i] : 0x00);
            return;
        }
        case LoadCmd:
            loaded_ = 0;
            state_ = State::Loading;
            return;
        case TestCmd:
            state_ = State::TestArgument;
            return;
        default:
            return;
        }
    case State::EchoArgument:
        state_ = State::Idle;
        if (!options_.NoEcho) Queue(options_.WrongEcho ? byte ^ 0x01 : byte);
        if (options_.Stray == StrayAfter::Echo) Queue(StrayByte);
        return;
    case State::TestArgument: {
        state_ = State::Idle;
        std::lock_guard lock(mutex_);
        tested_.push_back(byte);
        return;
    }
    case State::Loading:
        load_[loaded_++] = byte;
        if (loaded_ == load_.size()) {
            state_ = State::Idle;
            CommitLoad();
        }
        return;
    }
}

void KeyerSim::CommitLoad() {
    {
        std::lock_guard lock(mutex_);
        eeprom_ = load_;
        ++completedWrites_;
    }
    if (!options_.ImagePath.empty()) {
        const std::string error = editor::ReplaceFile(options_.ImagePath, load_).Error;
        if (!error.empty()) std::fprintf(stderr, "dahlo2-sim: %s\n", error.c_str());
    }
}

void KeyerSim::Queue(std::uint8_t byte) {
    if (options_.SilentAfter && queuedTotal_ >= *options_.SilentAfter) return;
    ++queuedTotal_;
    const auto now = Clock::now();
    // Nothing still due: this byte begins an answer, which a slow keyer starts late.
    const auto start = lastDue_ > now ? lastDue_ : now + options_.AnswerDelay;
    if (options_.Fast) {
        lastDue_ = start;
        outgoing_.push_back({start, byte});
        return;
    }
    // A byte is on the host's side once its stop bit is through: byte k of a burst is due
    // k + 1 byte times after the burst began. The slots come from the previous slot, not from
    // when a byte was actually written, so a late wake-up (a busy machine) is caught up by
    // the following bytes instead of stretching the whole transfer.
    lastDue_ = start + ByteTime;
    outgoing_.push_back({lastDue_, byte});
}

void KeyerSim::Record(bool sent, std::uint8_t byte) {
    const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    if (log_) {
        std::fprintf(log_, "%.6f %s %02X\n", seconds, sent ? "TX" : "RX", byte);
        std::fflush(log_);
    }
    std::lock_guard lock(mutex_);
    wire_.push_back({seconds, sent, byte});
}

std::array<std::uint8_t, 256> KeyerSim::Eeprom() const {
    std::lock_guard lock(mutex_);
    return eeprom_;
}

void KeyerSim::SetEeprom(const std::array<std::uint8_t, 256>& eeprom) {
    std::lock_guard lock(mutex_);
    eeprom_ = eeprom;
}

std::vector<WireByte> KeyerSim::Wire() const {
    std::lock_guard lock(mutex_);
    return wire_;
}

void KeyerSim::ClearWire() {
    std::lock_guard lock(mutex_);
    wire_.clear();
}

std::vector<int> KeyerSim::TestedMessages() const {
    std::lock_guard lock(mutex_);
    return tested_;
}

int KeyerSim::CompletedWrites() const {
    std::lock_guard lock(mutex_);
    return completedWrites_;
}

int KeyerSim::AbandonedWrites() const {
    std::lock_guard lock(mutex_);
    return abandonedWrites_;
}

KeyerSimThread::KeyerSimThread(KeyerSim& sim) {
    if (::pipe2(stop_, O_CLOEXEC) != 0) return;
    thread_ = std::thread([&sim, fd = stop_[0]] { sim.Serve(fd); });
}

KeyerSimThread::~KeyerSimThread() {
    if (stop_[1] >= 0) {
        const char stop = 1;
        [[maybe_unused]] const ssize_t n = ::write(stop_[1], &stop, 1);
    }
    if (thread_.joinable()) thread_.join();
    for (int fd : stop_) {
        if (fd >= 0) ::close(fd);
    }
}

} // namespace dl2mgr::keyersim
