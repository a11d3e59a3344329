#include "dl2mgr/editor/ConfigFile.h"

#include "dl2mgr/editor/AtomicFile.h"

#include <array>
#include <system_error>

namespace dl2mgr::editor {

std::optional<std::int32_t> ParseConfigBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != ConfigFileSize) return std::nullopt;
    const std::uint32_t value = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
    return static_cast<std::int32_t>(value);
}

std::filesystem::path ConfigFilePath(const std::filesystem::path& programFolder,
                                     const std::filesystem::path& configFolder) {
    const std::filesystem::path beside = programFolder / "dl2mgr.cfg";
    std::error_code ec;
    if (!programFolder.empty() && std::filesystem::is_regular_file(beside, ec)) return beside;
    return configFolder / "dl2mgr.cfg";
}

ConfigLoad ReadConfigFile(const std::filesystem::path& path) {
    ConfigLoad load;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        load.Outcome = ConfigLoad::State::Missing;
        load.Error = path.string() + " does not exist.";
        return load;
    }
    std::string bytes;
    if (!ReadFileBounded(path, ConfigFileSize + 1, bytes, load.Error)) {
        load.Outcome = ConfigLoad::State::Unreadable;
        return load;
    }
    const auto port = ParseConfigBytes(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    if (!port) {
        load.Outcome = ConfigLoad::State::Malformed;
        load.Error = path.string() + " is not a config file: it must hold exactly 4 bytes.";
        return load;
    }
    load.Outcome = ConfigLoad::State::Read;
    load.ComPortNumber = *port;
    return load;
}

ConfigLoad LoadComPortNumber(const std::filesystem::path& path) {
    ConfigLoad load = ReadConfigFile(path);
    if (load.Outcome == ConfigLoad::State::Missing) {
        load.Error = SaveConfigFile(path, load.ComPortNumber);
    }
    return load;
}

std::string SaveConfigFile(const std::filesystem::path& path, std::int32_t comPortNumber) {
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    const auto value = static_cast<std::uint32_t>(comPortNumber);
    const std::array<std::uint8_t, ConfigFileSize> bytes = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    return WriteFileAtomically(path, bytes);
}

} // namespace dl2mgr::editor
