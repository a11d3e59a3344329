#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace dl2mgr::editor {

// The config file holds the keyer's COM port number as 4 bytes, little-endian, nothing else.
inline constexpr std::size_t ConfigFileSize = 4;
inline constexpr std::int32_t DefaultComPortNumber = 1;

// The port number in a config file's bytes; nothing when they are not exactly 4 bytes.
std::optional<std::int32_t> ParseConfigBytes(std::span<const std::uint8_t> bytes);

// The config file used by dl2mgr: "dl2mgr.cfg" in the program's folder if that folder
// holds one (a build tree, a portable install), else "dl2mgr.cfg" in `configFolder`.
std::filesystem::path ConfigFilePath(const std::filesystem::path& programFolder,
                                     const std::filesystem::path& configFolder);

struct ConfigLoad {
    enum class State { Read, Missing, Malformed, Unreadable };
    State Outcome = State::Missing;
    std::int32_t ComPortNumber = DefaultComPortNumber; // the default unless Outcome is Read
    std::string Error;                                 // why, unless Outcome is Read
};

// Reads the file; anything but exactly 4 bytes gives the default port.
ConfigLoad ReadConfigFile(const std::filesystem::path& path);

// The port at start-up: a missing file is created holding the default port, so the user
// finds it and the next start reads it; a malformed one is left for the user to see and
// the default is used. A file that cannot be created is passed over (Error says why).
ConfigLoad LoadComPortNumber(const std::filesystem::path& path);

// Replaces the file atomically (creating its folder); returns an empty string on success.
std::string SaveConfigFile(const std::filesystem::path& path, std::int32_t comPortNumber);

} // namespace dl2mgr::editor
