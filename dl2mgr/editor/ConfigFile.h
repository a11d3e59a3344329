#pragma once

#include "dl2mgr/editor/FileResults.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace dl2mgr::editor {

// The config file holds the keyer's COM port number as 4 bytes, little-endian. A fifth
// byte 0 switches Verify After Write off; a file without it (every file written while the
// check is on, and every older file) keeps the check on. Older readers take the first 4.
inline constexpr std::size_t ConfigFileSize = 4;
inline constexpr std::int32_t DefaultComPortNumber = 1;

// The port number from the first 4 bytes: a shorter file gives its bytes as the low
// bytes (an empty one gives 0), bytes past the fourth are not looked at.
std::int32_t ParseConfigBytes(std::span<const std::uint8_t> bytes);
// Whether writes are read back and compared: off only when a fifth byte holds 0.
bool ParseVerifyAfterWrite(std::span<const std::uint8_t> bytes);

// The config file used by dl2mgr: "dl2mgr.cfg" in the program's folder if that folder
// holds one (a build tree, a portable install), else "dl2mgr.cfg" in `configFolder`.
std::filesystem::path ConfigFilePath(const std::filesystem::path& programFolder,
                                     const std::filesystem::path& configFolder);

struct ConfigLoad {
    enum class State {
        Read,       // ComPortNumber is what the file holds
        Missing,    // no file that can be opened; ComPortNumber is the default
        Unreadable, // a folder, an unreadable or an oversized file: ComPortNumber is 0
    };
    State Outcome = State::Missing;
    std::int32_t ComPortNumber = 0;
    bool VerifyAfterWrite = true;
    std::string Error; // why, when Unreadable
    FileReplace Save;  // the save of a missing file
};

// Reads the file; one that cannot be opened gives the default port without being created.
ConfigLoad ReadConfigFile(const std::filesystem::path& path);

// The port at start-up: a file that cannot be opened is made holding the default port, so
// the user finds it and the next start reads it; an unreadable one is left for the user.
ConfigLoad LoadComPortNumber(const std::filesystem::path& path);

// Replaces the file atomically, creating its folder.
FileReplace SaveConfigFile(const std::filesystem::path& path, std::int32_t comPortNumber,
                           bool verifyAfterWrite = true);

// A port chosen by its path (a USB adapter) rather than by a COM number: the path on one
// line in a file of its own beside the config file, which keeps its four bytes for the
// COM number. No file, or an empty one, means the COM number holds.
std::filesystem::path PortFilePath(const std::filesystem::path& configFile);
// The chosen path, or an empty string.
std::string ReadPortFile(const std::filesystem::path& path);
// Writes `device`, or removes the file when it is empty.
FileReplace SavePortFile(const std::filesystem::path& path, const std::string& device);

} // namespace dl2mgr::editor
