#pragma once

#include "burnwise/device/DeviceEngine.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace burnwise::ui {

// The largest template or settings file we read. A full template is about 1.5 KiB; even
// every one of its values at the longest length a read keeps stays far below this.
inline constexpr std::size_t MaxTemplateFileBytes = 256 * 1024;
// The largest image file: 256 bytes, or about 700 bytes of hexadecimal words.
inline constexpr std::size_t MaxImageFileBytes = 64 * 1024;

// Reads a file a user named, once and to its end, as a stream: a regular file, a pipe
// (a process substitution is one) or a character device. A folder or any other kind of
// file is refused, and so is anything longer than `maxBytes`, so /dev/zero cannot exhaust
// memory. Nothing with `error` set to a short reason (without the path) on failure. Never
// throws for a bad file.
std::optional<std::string> ReadFileBounded(const std::filesystem::path& path, std::size_t maxBytes,
                                           std::string& error);

// Replaces the regular file `path` with `bytes`: a temporary file in the same folder is
// written, flushed to disk and renamed over the target, so a reader sees the old file or
// the new one and a failure leaves the old file as it was.
//
// A symbolic link is followed and its target replaced, so the link stays. A target without
// owner write permission is refused, also for root, and so is one the caller may not write.
// An existing file keeps its mode; a new one gets 0666 less the process's umask, applied
// by the kernel (the umask is never read or changed, as other threads depend on it).
// False with `error` set on failure (permission_denied for a read-only target).
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           std::error_code& error);

// The file that ReplaceFileAtomically(`path`) replaces: the end of its chain of symbolic
// links, whether or not it exists yet, with its folder made absolute and free of links.
// Everything that locks such a file names the lock after this path, so two names of one
// file take one lock. Nothing with `error` set when a link cannot be read or loops.
std::optional<std::filesystem::path> ResolveFinalTarget(const std::filesystem::path& path,
                                                        std::string& error);

// The folder of this user's state on this machine: $XDG_STATE_HOME/burnwise, else
// $HOME/.local/state/burnwise. Nothing when neither variable names a folder.
std::optional<std::filesystem::path> BurnwiseStateFolder();

// The record of the last clock serial number, as a file "clock-serial" in a folder (the
// state folder): one line "YYYY-MM-DDTHH:MM:SSZ", replaced atomically, under an exclusive
// lock on "clock-serial.lock" beside the file it finally writes.
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
    std::filesystem::path target_;
    int lockFd_ = -1;
};

} // namespace burnwise::ui
