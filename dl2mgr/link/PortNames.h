#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace dl2mgr::link {

// dl2mgr's configuration folder: $XDG_CONFIG_HOME/dl2mgr, by default ~/.config/dl2mgr.
std::filesystem::path ConfigFolder();

// Where COMn links live: the user (or dahlo2-sim --com n) points COMn at a device there.
std::filesystem::path PortsFolder();

// The keyer port's name: "com1:" to "com9:", "\\.\COM10" to "\\.\COM14", other numbers as
// "com%d:". The short form is built in an 8-byte buffer, so a number whose name would not
// fit (such as 10000 or -1000) has no name.
std::optional<std::string> KeyerPortName(std::int32_t comPortNumber);

// The file beside a COMn link that holds the process id of the simulator serving it and,
// on a second line, the terminal the link was made for.
std::filesystem::path LinkOwnerFile(const std::filesystem::path& link);

// The device a port name stands for here: the link COMn in `portsFolder` if there is one
// (even a dangling one, so a stopped simulator is not mistaken for a serial port), else
// the n-th built-in serial port /dev/ttyS<n-1>. Empty, which no open accepts, for a link
// whose owner file names a process that has gone while the link still leads to that
// process's terminal: the terminal may serve another program by now.
std::string DevicePathOf(std::string_view portName, const std::filesystem::path& portsFolder);

} // namespace dl2mgr::link
