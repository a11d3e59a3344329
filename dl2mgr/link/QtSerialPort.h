#pragma once

#include "dl2mgr/link/SerialPort.h"

#include <QSerialPort>

namespace dl2mgr::link {

// SerialPort over Qt SerialPort, using its blocking waits (no event loop needed).
class QtSerialPort final : public SerialPort {
public:
    ~QtSerialPort() override;
    bool Open(const std::string& deviceName) override;
    OpenError LastOpenError() const override { return openError_; }
    bool ReadSettings(SerialSettings& settings) override;
    bool ApplySettings(const SerialSettings& settings) override;
    bool ApplyTimeouts(const SerialTimeouts& timeouts) override;
    bool PurgeReceive() override;
    bool DrainReceive(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) override;
    bool StaysQuiet(std::chrono::milliseconds quiet) override;
    std::size_t Send(std::span<const std::uint8_t> bytes) override;
    std::size_t Receive(std::span<std::uint8_t> buffer) override;
    void Close() override;

private:
    bool Refuse(OpenFailure failure, int error);

    QSerialPort port_;
    SerialTimeouts timeouts_;
    OpenError openError_;
    // A descriptor of our own on the device, holding the exclusive lock for as long as
    // the port is open.
    int lockFd_ = -1;
};

} // namespace dl2mgr::link
