#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace dl2mgr::link {

// The line settings the link reads from a port and applies back, named after the fields of
// the classic serial control block so every value has one obvious meaning.
struct SerialSettings {
    std::int32_t BaudRate = 0;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t StopBits = 0;   // 0 one, 1 one and a half, 2 two
    std::uint8_t DtrControl = 0; // 0 off, 1 on while open
    std::uint8_t RtsControl = 0; // 0 off, 1 on while open
    bool DsrSensitivity = false;
    bool OutxCtsFlow = false; // hardware flow control
    bool OutX = false;        // XON/XOFF on output
    bool InX = false;         // XON/XOFF on input
    bool Null = false;        // discard zero bytes
};

// Time limits in milliseconds. A receive ends at the latest after
// ReadTotalTimeoutConstant + ReadTotalTimeoutMultiplier * count; zero write limits mean a
// send never times out.
struct SerialTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

// Why a port could not be opened, as far as the system told.
enum class OpenFailure {
    None,
    NoSuchDevice,
    PermissionDenied,
    Folder,
    NotATerminal, // a file or a device that is not a serial line
    InUse,        // another program (or another dl2mgr) holds it
    Other,
};

struct OpenError {
    OpenFailure Failure = OpenFailure::None;
    std::string Device;     // the device the name led to, or the name when it led nowhere
    std::string Group;      // the group that owns the device, when known
    std::string SystemText; // the system's own words, for Other
};

// One serial port. Blocking: every call returns when its work is done or its limit ran out.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens a device for reading and writing, exclusively: a link is followed to its device
    // first, so two names for one port exclude each other, for root too.
    virtual bool Open(const std::string& deviceName) = 0;
    // Why the last Open failed.
    virtual OpenError LastOpenError() const = 0;
    virtual bool ReadSettings(SerialSettings& settings) = 0;
    // Modem lines the device cannot drive (a pseudo-terminal has none) are not a failure.
    virtual bool ApplySettings(const SerialSettings& settings) = 0;
    virtual bool ApplyTimeouts(const SerialTimeouts& timeouts) = 0;
    // Drops whatever has been received and not yet read.
    virtual bool PurgeReceive() = 0;
    // Drops what has been received, and whatever follows, until the line has been quiet
    // for `quiet`; false when it did not go quiet within `limit`.
    virtual bool DrainReceive(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) = 0;
    // True when nothing arrives within `quiet` (and nothing is waiting to be read).
    virtual bool StaysQuiet(std::chrono::milliseconds quiet) = 0;
    // Returns how many bytes were sent: they have left the port, not merely been queued.
    virtual std::size_t Send(std::span<const std::uint8_t> bytes) = 0;
    // Fills `buffer` from the start and returns how many bytes arrived before the total
    // read limit ran out; bytes beyond the buffer stay queued for the next receive.
    virtual std::size_t Receive(std::span<std::uint8_t> buffer) = 0;
    virtual void Close() = 0;
};

} // namespace dl2mgr::link
