#pragma once

#include "dl2mgr/link/LinkResult.h"
#include "dl2mgr/link/PortNames.h"
#include "dl2mgr/link/SerialPort.h"
#include "dl2mgr/link/Sleeper.h"
#include "dl2mgr/link/StatusDisplay.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace dl2mgr::link {

inline constexpr std::size_t KeyerEepromSize = 256;

// The keyer's line: 1200 baud 8N1, DTR on, RTS off, no XON/XOFF either way, zero bytes
// kept. Every other field keeps what the port reported.
SerialSettings KeyerLineSettings(SerialSettings reported);

// One fixed limit for a whole receive call, whatever its length: the 256-byte dump takes
// about 2133 ms at 1200 baud and has to arrive within it.
inline constexpr SerialTimeouts KeyerTimeouts{0, 0, 2500, 0, 0};

// How a dump ended: the keyer's image is exactly 256 bytes followed by a quiet line.
struct DumpRead {
    std::size_t Received = 0; // bytes that arrived within the read limit, up to 256
    bool Overrun = false;     // more bytes kept coming after the 256th
    bool Complete() const { return Received == KeyerEepromSize && !Overrun; }
    explicit operator bool() const { return Complete(); }
};

// Lowest firmware revision of a second-generation keyer; 10 or less is a first-generation
// keyer, which the editor refuses.
inline constexpr int MinimumRevision = 11;

// The serial exchange with the keyer. Each command opens the port, runs one exchange and
// closes it again; nothing stays connected in between.
class KeyerLink {
public:
    KeyerLink(SerialPort& port, Sleeper& sleeper,
              std::filesystem::path portsFolder = PortsFolder());

    // The port ConnectKeyer opens, 1 to 14 normally.
    std::int32_t ComPortNumber = 1;
    // When set, ConnectKeyer opens this device path instead of ComPortNumber's port.
    std::string DevicePath;

    bool PortOpen() const { return portOpen_; }

    LinkResult OpenKeyerPort(std::int32_t comPortNumber);
    // The same steps for a device given by its path.
    LinkResult OpenKeyerDevice(const std::string& devicePath);
    void CloseKeyerPort();

    bool LinkSend(std::span<const std::uint8_t> bytes);
    // True when exactly buffer.size() bytes arrived within the one read limit; the bytes
    // that did arrive are in the buffer either way.
    bool LinkReceive(std::span<std::uint8_t> buffer);

    // Why the last open failed; Failure is None after a good open.
    const OpenError& LastOpenError() const { return openError_; }

    LinkResult HandshakeKeyer(std::uint8_t& revision);
    // Opens, handshakes and queries the two status bytes; returns the firmware revision
    // (11 to 255) or a negative result. Leaves the port open on failure after opening.
    int ConnectKeyer(StatusDisplay& display);

    // Fills `image` only from a complete dump; an incomplete one leaves bytes received so
    // far at the start.
    DumpRead ReadKeyerImage(std::span<std::uint8_t, KeyerEepromSize> image);
    bool WriteKeyerImage(std::span<const std::uint8_t, KeyerEepromSize> image);
    bool TestKeyerMessage(std::uint8_t message);
    // Nothing when the keyer sent no reply byte.
    std::optional<std::uint8_t> ReadPotVal();
    std::optional<std::uint8_t> ReadPbVal();

private:
    std::optional<std::uint8_t> Query(std::uint8_t function);
    // Before a command that is answered: what arrived unasked (a late or doubled reply)
    // must not be taken for the answer.
    bool ClearReceived();

    SerialPort& port_;
    Sleeper& sleeper_;
    std::filesystem::path portsFolder_;
    bool portOpen_ = false;
    OpenError openError_;
};

} // namespace dl2mgr::link
