#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace dl2mgr::editor {

// Largest input each reader takes. No valid file comes near them; they only keep a wrong
// path (a device such as /dev/zero, a huge file, an endless pipe) from being read forever.
inline constexpr std::size_t ImageFileCap = 64 * 1024;
inline constexpr std::size_t ConfigFileCap = 4 * 1024;
// A pipe or a device has this long in all to deliver what it holds, so a named pipe with
// no writer or a terminal that sends nothing cannot hold the window.
inline constexpr int StreamReadLimitMs = 2000;

// The editor's files are read and replaced by the shared file helpers; these are their
// outcomes as the editor tells them, each a line that names the path.
struct FileRead {
    enum class Outcome {
        Read,
        CannotOpen, // missing, not permitted
        CannotRead, // a folder, not a stream, larger than the cap, or a read error
    };
    Outcome Result = Outcome::CannotOpen;
    bool Missing = false; // CannotOpen because nothing is there
    std::vector<std::uint8_t> Bytes;
    std::string Error; // one line, naming the path, unless Result is Read
};

// Reads `path` to its end as a stream (a regular file, a pipe or a process substitution, or
// a character device), up to `cap` bytes, a pipe or device within StreamReadLimitMs.
FileRead ReadOutsideFile(const std::filesystem::path& path, std::size_t cap);

struct FileReplace {
    enum class Outcome {
        Replaced,
        CannotCreate, // the target is refused or no file can be made beside it
        CannotWrite,  // writing, syncing or renaming the new file failed
    };
    Outcome Result = Outcome::Replaced;
    std::string Error; // one line, naming the path, unless Replaced
    bool Ok() const { return Result == Outcome::Replaced; }
};

// Replaces the file at `path` by `bytes` atomically: a reader sees the old or the new file.
FileReplace ReplaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// What ReplaceFile would say before it writes anything: the same checks, and a file made
// and removed beside the target. Leaves everything as it was.
FileReplace CheckReplace(const std::filesystem::path& path);

} // namespace dl2mgr::editor
