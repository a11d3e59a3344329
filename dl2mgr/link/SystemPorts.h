#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace dl2mgr::link {

// Where udev names USB serial adapters by maker, model and serial number: a name that
// stays the same whichever ttyUSB number the adapter gets.
inline constexpr const char* SerialByIdFolder = "/dev/serial/by-id";

// A serial port the system reports.
struct SystemPort {
    std::string Device; // /dev/ttyUSB0
    std::string Description;
    std::string Manufacturer;
    std::string SerialNumber;
    std::string ById; // its link in the by-id folder, when there is one
};

// The ports Qt's enumeration reports, and the terminals the links in `byIdFolder` lead to
// (an adapter the enumeration missed), in device order. The path to choose is ById where
// there is one, as it survives replugging.
std::vector<SystemPort> SystemPorts(const std::filesystem::path& byIdFolder = SerialByIdFolder);

// The path a user chooses the port by: its by-id link, else its device.
inline const std::string& ChoicePath(const SystemPort& port) {
    return port.ById.empty() ? port.Device : port.ById;
}

// One line naming the port: "/dev/ttyUSB0 - FT232R USB UART, FTDI, serial A1B2".
std::string PortLabel(const SystemPort& port);

} // namespace dl2mgr::link
