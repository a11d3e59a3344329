#include "burnwise/app/StateFiles.h"

#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace burnwise::app {

namespace fs = std::filesystem;

std::optional<fs::path> BurnwiseStateFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && *state != '\0' && fs::path(state).is_absolute())
        return fs::path(state) / "burnwise";
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') return fs::path(home) / ".local" / "state" / "burnwise";
    return std::nullopt;
}

std::unique_ptr<device::ClockSerialRecord> MachineClockRecord() {
    const std::optional<fs::path> folder = BurnwiseStateFolder();
    if (!folder) return nullptr;
    return std::make_unique<ClockSerialFile>(*folder);
}

bool ClockSerialFile::Lock(std::optional<codec::UtcTime>& last, std::string& error) {
    Unlock();
    last.reset();
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (ec) {
        error = folder_.string() + ": " + ec.message();
        return false;
    }
    if (!lock_.Acquire(File(), error)) return false;
    const fs::path& target = lock_.Target();
    if (!fs::exists(fs::symlink_status(target, ec))) return true;
    std::string readError;
    const std::optional<std::string> bytes = common::ReadFileBounded(target, 256, readError);
    codec::UtcTime t;
    char zone = 0;
    if (!bytes ||
        std::sscanf(bytes->c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &t.Year, &t.Month, &t.Day, &t.Hour,
                    &t.Minute, &t.Second, &zone) != 7 ||
        zone != 'Z') {
        // A record that cannot be trusted cannot tell which serial numbers are taken.
        error = target.string() + (bytes ? ": damaged" : ": " + readError);
        Unlock();
        return false;
    }
    last = t;
    return true;
}

bool ClockSerialFile::Store(const codec::UtcTime& issued, std::string& error) {
    const fs::path& target = lock_.Target();
    char line[64];
    std::snprintf(line, sizeof line, "%04d-%02d-%02dT%02d:%02d:%02dZ\n", issued.Year, issued.Month,
                  issued.Day, issued.Hour, issued.Minute, issued.Second);
    std::error_code ec;
    if (!common::ReplaceFileAtomically(target, line, ec)) {
        error = target.string() + ": " + ec.message();
        return false;
    }
    return true;
}

void ClockSerialFile::Unlock() {
    lock_.Release();
}

} // namespace burnwise::app
