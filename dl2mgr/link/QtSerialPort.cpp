#include "dl2mgr/link/QtSerialPort.h"

#include <QDeadlineTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace dl2mgr::link {

QtSerialPort::~QtSerialPort() {
    Close();
}

bool QtSerialPort::Refuse(OpenFailure failure, int error) {
    openError_.Failure = failure;
    if (error != 0) openError_.SystemText = std::strerror(error);
    if (lockFd_ >= 0) ::close(lockFd_);
    lockFd_ = -1;
    return false;
}

bool QtSerialPort::Open(const std::string& deviceName) {
    Close();
    openError_ = {};
    openError_.Device = deviceName;
    // Qt's own guard is a lock file named after the port's name and the terminal's
    // exclusive mode, which binds everyone but root: neither stops a second name for the
    // same device (a COMn link, a by-id link). So the name is resolved to its device, and
    // a lock on the device itself is held for as long as the port is open.
    std::error_code ec;
    const std::filesystem::path device = std::filesystem::canonical(deviceName, ec);
    if (ec) {
        return Refuse(ec == std::errc::permission_denied ? OpenFailure::PermissionDenied
                                                         : OpenFailure::NoSuchDevice,
                      ec.value());
    }
    openError_.Device = device.string();
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) return Refuse(OpenFailure::NoSuchDevice, errno);
    if (const group* owner = ::getgrgid(info.st_gid)) openError_.Group = owner->gr_name;
    if (S_ISDIR(info.st_mode)) return Refuse(OpenFailure::Folder, 0);
    if (!S_ISCHR(info.st_mode)) return Refuse(OpenFailure::NotATerminal, 0);
    // Non-blocking, so a UART whose carrier line is low does not hold the open.
    lockFd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (lockFd_ < 0) {
        const int error = errno;
        switch (error) {
        case EACCES:
        case EPERM:
            return Refuse(OpenFailure::PermissionDenied, error);
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return Refuse(OpenFailure::NoSuchDevice, error);
        case EBUSY: // the terminal's exclusive mode, set by a holder that is not root
            return Refuse(OpenFailure::InUse, error);
        default:
            return Refuse(OpenFailure::Other, error);
        }
    }
    if (!::isatty(lockFd_)) return Refuse(OpenFailure::NotATerminal, 0);
    // flock binds root as well; the kernel drops it when the holder dies.
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        return Refuse(error == EWOULDBLOCK ? OpenFailure::InUse : OpenFailure::Other, error);
    }
    port_.setPortName(QString::fromLocal8Bit(device.c_str()));
    if (!port_.open(QIODevice::ReadWrite)) {
        // The device opened for us a moment ago: a refusal now is Qt's lock file, held by
        // a program that locks that way only.
        const auto error = port_.error();
        openError_.SystemText = port_.errorString().toLocal8Bit().toStdString();
        return Refuse(error == QSerialPort::DeviceNotFoundError ? OpenFailure::NoSuchDevice
                      : error == QSerialPort::PermissionError   ? OpenFailure::InUse
                                                                : OpenFailure::Other,
                      0);
    }
    return true;
}

bool QtSerialPort::ReadSettings(SerialSettings& s) {
    if (!port_.isOpen()) return false;
    s.BaudRate = port_.baudRate();
    s.ByteSize = static_cast<std::uint8_t>(port_.dataBits());
    switch (port_.parity()) {
    case QSerialPort::OddParity:
        s.Parity = 1;
        break;
    case QSerialPort::EvenParity:
        s.Parity = 2;
        break;
    case QSerialPort::MarkParity:
        s.Parity = 3;
        break;
    case QSerialPort::SpaceParity:
        s.Parity = 4;
        break;
    default:
        s.Parity = 0;
        break;
    }
    switch (port_.stopBits()) {
    case QSerialPort::OneAndHalfStop:
        s.StopBits = 1;
        break;
    case QSerialPort::TwoStop:
        s.StopBits = 2;
        break;
    default:
        s.StopBits = 0;
        break;
    }
    s.DtrControl = port_.isDataTerminalReady() ? 1 : 0;
    s.RtsControl = port_.isRequestToSend() ? 1 : 0;
    s.DsrSensitivity = false;
    s.OutxCtsFlow = port_.flowControl() == QSerialPort::HardwareControl;
    s.OutX = s.InX = port_.flowControl() == QSerialPort::SoftwareControl;
    s.Null = false;
    return true;
}

bool QtSerialPort::ApplySettings(const SerialSettings& s) {
    if (!port_.isOpen()) return false;
    static constexpr QSerialPort::Parity Parities[] = {
        QSerialPort::NoParity, QSerialPort::OddParity, QSerialPort::EvenParity,
        QSerialPort::MarkParity, QSerialPort::SpaceParity};
    static constexpr QSerialPort::StopBits Stops[] = {
        QSerialPort::OneStop, QSerialPort::OneAndHalfStop, QSerialPort::TwoStop};
    if (s.Parity >= std::size(Parities) || s.StopBits >= std::size(Stops)) return false;
    if (s.ByteSize < 5 || s.ByteSize > 8) return false;
    const QSerialPort::FlowControl flow = s.OutxCtsFlow       ? QSerialPort::HardwareControl
                                          : (s.OutX || s.InX) ? QSerialPort::SoftwareControl
                                                              : QSerialPort::NoFlowControl;
    const bool applied = port_.setBaudRate(s.BaudRate) &&
                         port_.setDataBits(static_cast<QSerialPort::DataBits>(s.ByteSize)) &&
                         port_.setParity(Parities[s.Parity]) &&
                         port_.setStopBits(Stops[s.StopBits]) && port_.setFlowControl(flow);
    if (!applied) return false;
    // A pseudo-terminal or a three-wire adapter has no modem lines; the keyer does not
    // need them, so a refusal here is not a failure. Zero bytes are never discarded here.
    if (!s.OutxCtsFlow) port_.setRequestToSend(s.RtsControl != 0);
    port_.setDataTerminalReady(s.DtrControl != 0);
    port_.clearError();
    return true;
}

bool QtSerialPort::ApplyTimeouts(const SerialTimeouts& timeouts) {
    timeouts_ = timeouts;
    return true;
}

bool QtSerialPort::PurgeReceive() {
    if (!port_.isOpen()) return false;
    return port_.clear(QSerialPort::Input);
}

bool QtSerialPort::DrainReceive(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) {
    if (!port_.isOpen()) return false;
    const QDeadlineTimer deadline(limit.count());
    for (;;) {
        port_.clear(QSerialPort::Input);
        port_.readAll();
        if (StaysQuiet(quiet)) return true;
        if (deadline.hasExpired()) return false;
    }
}

bool QtSerialPort::StaysQuiet(std::chrono::milliseconds quiet) {
    if (!port_.isOpen()) return false;
    if (port_.bytesAvailable() > 0) return false;
    const bool arrived = port_.waitForReadyRead(static_cast<int>(quiet.count()));
    port_.clearError();
    return !arrived && port_.bytesAvailable() == 0;
}

std::size_t QtSerialPort::Send(std::span<const std::uint8_t> bytes) {
    if (!port_.isOpen()) return 0;
    const qint64 queued =
        port_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    if (queued < 0) return 0;
    // Writes have no time limit: wait until everything has gone to the device or it failed.
    while (port_.bytesToWrite() > 0) {
        if (!port_.waitForBytesWritten(-1)) break;
    }
    const qint64 left = port_.bytesToWrite();
    if (left > 0) return static_cast<std::size_t>(queued - left);
    // Written means handed to the driver; wait until the line has sent it, so "sent" is
    // true only once the bytes have left the port.
    int drained;
    do {
        drained = ::tcdrain(static_cast<int>(port_.handle()));
    } while (drained != 0 && errno == EINTR);
    return drained == 0 ? static_cast<std::size_t>(queued) : 0;
}

std::size_t QtSerialPort::Receive(std::span<std::uint8_t> buffer) {
    if (!port_.isOpen()) return 0;
    // One limit for the whole call, however many bytes it asks for and however they trickle
    // in; it is never restarted by a byte that arrives.
    const qint64 limitMs =
        qint64{timeouts_.ReadTotalTimeoutConstant} +
        qint64{timeouts_.ReadTotalTimeoutMultiplier} * static_cast<qint64>(buffer.size());
    const QDeadlineTimer deadline(limitMs);
    std::size_t got = 0;
    while (got < buffer.size()) {
        const qint64 n = port_.read(reinterpret_cast<char*>(buffer.data() + got),
                                    static_cast<qint64>(buffer.size() - got));
        if (n < 0) break;
        got += static_cast<std::size_t>(n);
        if (got == buffer.size()) break;
        const qint64 left = deadline.remainingTime();
        if (left <= 0) break;
        if (!port_.waitForReadyRead(static_cast<int>(left)) &&
            port_.error() != QSerialPort::TimeoutError) {
            break;
        }
    }
    port_.clearError();
    return got;
}

void QtSerialPort::Close() {
    if (port_.isOpen()) port_.close();
    if (lockFd_ >= 0) ::close(lockFd_);
    lockFd_ = -1;
}

} // namespace dl2mgr::link
