#pragma once

#include "dl2mgr/link/SerialPort.h"

#include <QSerialPort>

namespace dl2mgr::link {

// SerialPort over Qt SerialPort, using its blocking waits (no event loop needed).
class QtSerialPort final : public SerialPort {
public:
    bool Open(const std::string& deviceName) override;
    bool ReadSettings(SerialSettings& settings) override;
    bool ApplySettings(const SerialSettings& settings) override;
    bool ApplyTimeouts(const SerialTimeouts& timeouts) override;
    bool PurgeReceive() override;
    std::size_t Send(std::span<const std::uint8_t> bytes) override;
    std::size_t Receive(std::span<std::uint8_t> buffer) override;
    void Close() override;

private:
    QSerialPort port_;
    SerialTimeouts timeouts_;
};

} // namespace dl2mgr::link
