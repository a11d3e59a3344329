#include "dl2mgr/link/PortNames.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace dl2mgr::link {

std::filesystem::path ConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg == '/') return std::filesystem::path(xdg) / "dl2mgr";
    const char* home = std::getenv("HOME");
    std::filesystem::path base;
    if (home && *home) {
        base = home;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        base = pw->pw_dir;
    } else {
        base = "/";
    }
    return base / ".config" / "dl2mgr";
}

std::filesystem::path PortsFolder() {
    return ConfigFolder() / "ports";
}

std::optional<std::string> KeyerPortName(std::int32_t comPortNumber) {
    if (comPortNumber >= 10 && comPortNumber <= 14) {
        return "\\\\.\\COM" + std::to_string(comPortNumber);
    }
    char name[8];
    const int length = std::snprintf(name, sizeof name, "com%d:", comPortNumber);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof name) return std::nullopt;
    return std::string(name, static_cast<std::size_t>(length));
}

std::filesystem::path LinkOwnerFile(const std::filesystem::path& link) {
    return link.string() + ".pid";
}

namespace {

// False only when the owner file names a process that no longer runs and the link still
// leads to the terminal that process had: a link made by hand has no owner file, and one
// remade by hand over a simulator's keeps a stale file that is no longer about it.
bool OwnerAlive(const std::filesystem::path& link) {
    std::FILE* file = std::fopen(LinkOwnerFile(link).c_str(), "re");
    if (!file) return true;
    char text[512] = {};
    const std::size_t n = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    const std::string_view content(text, n);
    long pid = 0;
    const auto [end, ec] = std::from_chars(content.data(), content.data() + content.size(), pid);
    if (ec != std::errc() || pid <= 0) return true;
    // The second line names the simulator's terminal.
    std::string_view terminal = content.substr(static_cast<std::size_t>(end - content.data()));
    if (terminal.starts_with('\n')) terminal.remove_prefix(1);
    if (const auto eol = terminal.find('\n'); eol != terminal.npos)
        terminal = terminal.substr(0, eol);
    std::error_code error;
    if (!terminal.empty() && std::filesystem::read_symlink(link, error).string() != terminal)
        return true;
    // EPERM: it runs, as another user.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace

std::string DevicePathOf(std::string_view portName, const std::filesystem::path& portsFolder) {
    std::string_view digits;
    if (portName.starts_with("\\\\.\\COM")) {
        digits = portName.substr(7);
    } else if (portName.starts_with("com") && portName.ends_with(":")) {
        digits = portName.substr(3, portName.size() - 4);
    } else {
        return std::string(portName);
    }
    long number = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (ec != std::errc() || end != digits.data() + digits.size()) return std::string(portName);

    const std::filesystem::path link = portsFolder / ("COM" + std::to_string(number));
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(link, error)))
        return OwnerAlive(link) ? link.string() : std::string();
    return "/dev/ttyS" + std::to_string(number - 1);
}

} // namespace dl2mgr::link
