#pragma once

#include "burnwise/device/DeviceEngine.h"
#include "common/FileAccess.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace burnwise::app {

// The folder of this user's state on this machine: $XDG_STATE_HOME/burnwise, else
// $HOME/.local/state/burnwise. Nothing when neither variable names a folder.
std::optional<std::filesystem::path> BurnwiseStateFolder();

class ClockSerialFile;

// The record of the last clock serial number this machine issued for this user: the file in
// the state folder; null when there is no state folder (a station then keeps its own).
std::unique_ptr<device::ClockSerialRecord> MachineClockRecord();

// The record of the last clock serial number, as a file "clock-serial" in a folder (the
// state folder): one line "YYYY-MM-DDTHH:MM:SSZ", replaced atomically, under an exclusive
// lock on the file it finally writes (common::FileLock).
class ClockSerialFile final : public device::ClockSerialRecord {
public:
    explicit ClockSerialFile(std::filesystem::path folder) : folder_(std::move(folder)) {}
    ~ClockSerialFile() override { Unlock(); }
    ClockSerialFile(const ClockSerialFile&) = delete;
    ClockSerialFile& operator=(const ClockSerialFile&) = delete;

    bool Lock(std::optional<codec::UtcTime>& last, std::string& error) override;
    bool Store(const codec::UtcTime& issued, std::string& error) override;
    void Unlock() override;

    std::filesystem::path File() const { return folder_ / "clock-serial"; }

private:
    std::filesystem::path folder_;
    common::FileLock lock_;
};

} // namespace burnwise::app
