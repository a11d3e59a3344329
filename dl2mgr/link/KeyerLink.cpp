#include "dl2mgr/link/KeyerLink.h"

#include <array>

namespace dl2mgr::link {

namespace {

// Command bytes: 0x00 introduces a command, the next byte selects it.
constexpr std::uint8_t Preamble = 0x13;
constexpr std::uint8_t EchoProbe = 0x55;
constexpr std::uint8_t CmdEcho = 0x04;
constexpr std::uint8_t CmdHost = 0x03; // second handshake command, no reply
constexpr std::uint8_t CmdRevision = 0x09;
constexpr std::uint8_t CmdPotVal = 0x06;
constexpr std::uint8_t CmdPbVal = 0x05;
constexpr std::uint8_t CmdDump = 0x0C;
constexpr std::uint8_t CmdLoad = 0x0D;
constexpr std::uint8_t CmdTestMessage = 0x0E;

// The keyer gets this long after the line is configured before the exchange starts;
// whatever arrived until then is dropped by the purge that follows.
constexpr std::chrono::milliseconds SettlePause{400};

// Three byte times at 1200 baud: a line quiet this long has finished whatever it was
// sending. Bounded, so a keyer that never stops talking fails the command instead of
// holding it.
constexpr std::chrono::milliseconds LineQuiet{25};
constexpr std::chrono::milliseconds QuietLimit{500};

} // namespace

SerialSettings KeyerLineSettings(SerialSettings s) {
    s.BaudRate = 1200;
    s.ByteSize = 8;
    s.Parity = 0;
    s.StopBits = 0;
    s.DtrControl = 1;
    s.RtsControl = 0;
    s.DsrSensitivity = false;
    s.OutX = false;
    s.InX = false;
    s.Null = false;
    return s;
}

KeyerLink::KeyerLink(SerialPort& port, Sleeper& sleeper, std::filesystem::path portsFolder)
    : port_(port), sleeper_(sleeper), portsFolder_(std::move(portsFolder)) {}

LinkResult KeyerLink::OpenKeyerPort(std::int32_t comPortNumber) {
    const auto name = KeyerPortName(comPortNumber);
    if (!name) {
        openError_ = {OpenFailure::NoSuchDevice, "COM" + std::to_string(comPortNumber), {}, {}};
        return LinkOpenFailed;
    }
    const std::string device = DevicePathOf(*name, portsFolder_);
    if (device.empty()) {
        // A COMn link whose simulator has stopped: its terminal may serve another program.
        openError_ = {OpenFailure::NoSuchDevice,
                      (portsFolder_ / ("COM" + std::to_string(comPortNumber))).string(),
                      {},
                      {}};
        return LinkOpenFailed;
    }
    return OpenKeyerDevice(device);
}

LinkResult KeyerLink::OpenKeyerDevice(const std::string& devicePath) {
    openError_ = {};
    if (devicePath.empty()) {
        openError_ = {OpenFailure::NoSuchDevice, devicePath, {}, {}};
        return LinkOpenFailed;
    }
    if (!port_.Open(devicePath)) {
        openError_ = port_.LastOpenError();
        if (openError_.Failure == OpenFailure::None) openError_.Failure = OpenFailure::Other;
        return LinkOpenFailed;
    }
    portOpen_ = true;
    SerialSettings settings;
    if (!port_.ReadSettings(settings)) return LinkGetStateFailed;
    if (!port_.ApplySettings(KeyerLineSettings(settings))) return LinkSetStateFailed;
    port_.ApplyTimeouts(KeyerTimeouts);
    sleeper_.Sleep(SettlePause);
    if (!port_.PurgeReceive()) return LinkPurgeFailed;
    return LinkOk;
}

void KeyerLink::CloseKeyerPort() {
    port_.Close();
    portOpen_ = false;
}

bool KeyerLink::LinkSend(std::span<const std::uint8_t> bytes) {
    return port_.Send(bytes) == bytes.size();
}

bool KeyerLink::LinkReceive(std::span<std::uint8_t> buffer) {
    return port_.Receive(buffer) == buffer.size();
}

LinkResult KeyerLink::HandshakeKeyer(std::uint8_t& revision) {
    const std::array<std::uint8_t, 1> preamble = {Preamble};
    for (int i = 0; i < 3; ++i)
        LinkSend(preamble);

    std::array<std::uint8_t, 3> echo = {0x00, CmdEcho, EchoProbe};
    LinkSend(echo);
    std::array<std::uint8_t, 1> reply = {0x00};
    if (!LinkReceive(reply)) return LinkNoEcho;
    if (reply[0] != EchoProbe) return LinkEchoMismatch;

    LinkSend(std::array<std::uint8_t, 2>{0x00, CmdHost});
    if (!ClearReceived()) return LinkPurgeFailed;
    std::array<std::uint8_t, 2> query = {0x00, CmdRevision};
    LinkSend(query);
    // A keyer that does not answer leaves the 0x00 in place: revision 0, which the connect
    // refuses as a first-generation keyer.
    LinkReceive(std::span(query).first<1>());
    revision = query[0];
    return LinkOk;
}

int KeyerLink::ConnectKeyer(StatusDisplay& display) {
    LinkResult result =
        DevicePath.empty() ? OpenKeyerPort(ComPortNumber) : OpenKeyerDevice(DevicePath);
    std::uint8_t revision = 0;
    if (result == LinkOk) result = HandshakeKeyer(revision);
    if (result != LinkOk) {
        display.ShowStatus(LinkStatusText(result));
        return result;
    }
    if (revision < MinimumRevision) {
        display.ShowStatus("DL Fail:DL1 found");
        return -1;
    }
    display.ShowStatus("DL Open, F/W revision " + std::to_string(revision));
    const auto pot = ReadPotVal();
    display.ShowPotVal(pot ? std::to_string(*pot) : std::string());
    const auto pb = ReadPbVal();
    display.ShowPbVal(pb ? std::to_string(*pb) : std::string());
    return revision;
}

DumpRead KeyerLink::ReadKeyerImage(std::span<std::uint8_t, KeyerEepromSize> image) {
    DumpRead read;
    // A line that never goes quiet gives no dump that can be trusted.
    if (!ClearReceived()) {
        read.Overrun = true;
        return read;
    }
    LinkSend(std::array<std::uint8_t, 2>{0x00, CmdDump});
    read.Received = port_.Receive(image);
    // Bytes after the 256th mean the 256 were not the image (a stray byte came first, or
    // the answer is not a dump at all).
    if (read.Received == image.size()) read.Overrun = !port_.StaysQuiet(LineQuiet);
    return read;
}

bool KeyerLink::WriteKeyerImage(std::span<const std::uint8_t, KeyerEepromSize> image) {
    LinkSend(std::array<std::uint8_t, 2>{0x00, CmdLoad});
    return LinkSend(image);
}

bool KeyerLink::TestKeyerMessage(std::uint8_t message) {
    return LinkSend(std::array<std::uint8_t, 3>{0x00, CmdTestMessage, message});
}

std::optional<std::uint8_t> KeyerLink::ReadPotVal() {
    return Query(CmdPotVal);
}

std::optional<std::uint8_t> KeyerLink::ReadPbVal() {
    return Query(CmdPbVal);
}

bool KeyerLink::ClearReceived() {
    return port_.DrainReceive(LineQuiet, QuietLimit);
}

std::optional<std::uint8_t> KeyerLink::Query(std::uint8_t function) {
    if (!ClearReceived()) return std::nullopt;
    LinkSend(std::array<std::uint8_t, 2>{0x00, function});
    std::array<std::uint8_t, 1> reply = {0x00};
    if (!LinkReceive(reply)) return std::nullopt;
    return reply[0];
}

} // namespace dl2mgr::link
