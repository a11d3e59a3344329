#include "dl2mgr/editor/ConfigFile.h"

#include <array>
#include <system_error>

namespace dl2mgr::editor {

std::int32_t ParseConfigBytes(std::span<const std::uint8_t> bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < ConfigFileSize && i < bytes.size(); ++i)
        value |= std::uint32_t{bytes[i]} << (8 * i);
    return static_cast<std::int32_t>(value);
}

bool ParseVerifyAfterWrite(std::span<const std::uint8_t> bytes) {
    return bytes.size() <= ConfigFileSize || bytes[ConfigFileSize] != 0;
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
    const FileRead read = ReadOutsideFile(path, ConfigFileCap);
    if (read.Result == FileRead::Outcome::Read) {
        load.Outcome = ConfigLoad::State::Read;
        load.ComPortNumber = ParseConfigBytes(read.Bytes);
        load.VerifyAfterWrite = ParseVerifyAfterWrite(read.Bytes);
    } else if (read.Result == FileRead::Outcome::CannotOpen) {
        load.Outcome = ConfigLoad::State::Missing;
        load.ComPortNumber = DefaultComPortNumber;
    } else {
        load.Outcome = ConfigLoad::State::Unreadable;
        load.Error = read.Error;
    }
    return load;
}

ConfigLoad LoadComPortNumber(const std::filesystem::path& path) {
    ConfigLoad load = ReadConfigFile(path);
    if (load.Outcome == ConfigLoad::State::Missing)
        load.Save = SaveConfigFile(path, load.ComPortNumber);
    return load;
}

FileReplace SaveConfigFile(const std::filesystem::path& path, std::int32_t comPortNumber,
                           bool verifyAfterWrite) {
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    const auto value = static_cast<std::uint32_t>(comPortNumber);
    const std::array<std::uint8_t, ConfigFileSize + 1> bytes = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24), 0};
    return ReplaceFile(
        path, std::span(bytes).first(verifyAfterWrite ? ConfigFileSize : ConfigFileSize + 1));
}

std::filesystem::path PortFilePath(const std::filesystem::path& configFile) {
    return std::filesystem::path(configFile).replace_extension("port");
}

std::string ReadPortFile(const std::filesystem::path& path) {
    const FileRead read = ReadOutsideFile(path, ConfigFileCap);
    if (read.Result != FileRead::Outcome::Read) return {};
    std::string device(read.Bytes.begin(), read.Bytes.end());
    device = device.substr(0, device.find('\n'));
    // A path holds no zero byte; one that does is no path.
    if (device.find('\0') != std::string::npos) return {};
    return device;
}

FileReplace SavePortFile(const std::filesystem::path& path, const std::string& device) {
    if (device.empty()) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
        return {};
    }
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    const std::string line = device + "\n";
    return ReplaceFile(path,
                       std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()));
}

} // namespace dl2mgr::editor
