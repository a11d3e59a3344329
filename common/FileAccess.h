#pragma once

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace common {

// The largest template or settings file we read. A full template is about 1.5 KiB; even
// every one of its values at the longest length a read keeps stays far below this.
inline constexpr std::size_t MaxTemplateFileBytes = 256 * 1024;
// The largest image file: 256 bytes, or about 700 bytes of hexadecimal words.
inline constexpr std::size_t MaxImageFileBytes = 64 * 1024;

// Why a bounded read gave no bytes.
enum class ReadFailure {
    None,
    Open,       // the path could not be opened (Code says why)
    Inspect,    // what was opened could not be examined (Code)
    Folder,     // a folder, not a file
    NotAStream, // neither a regular file, a pipe nor a character device
    Read,       // a read failed (Code)
    TooLong,    // more bytes than the reader takes
    TimedOut,   // a pipe or device did not end in the time it was given
};

struct BoundedRead {
    std::optional<std::string> Bytes; // the whole content, when it was read
    ReadFailure Failure = ReadFailure::None;
    int Code = 0; // the system's error number, for Open, Inspect and Read
    bool Missing() const { return Failure == ReadFailure::Open && Code == ENOENT; }
};

// Reads a file a user named, once and to its end, as a stream: a regular file, a pipe
// (a process substitution is one) or a character device. A folder or any other kind of
// file is refused, and so is anything longer than `maxBytes`, so /dev/zero cannot exhaust
// memory. With a `streamLimit`, a pipe or device has that long in all to deliver what it
// holds, and the open does not wait for a writer, so a named pipe nobody writes to or a
// silent terminal cannot hold the reader; without one the reader waits as a shell would.
// Never throws for a bad file.
BoundedRead ReadBounded(const std::filesystem::path& path, std::size_t maxBytes,
                        std::chrono::milliseconds streamLimit = {});

// The same without a time limit; on failure nothing, with `error` set to a short reason to
// follow the path: "is a folder, not a file", "is longer than N bytes...", or the system's.
std::optional<std::string> ReadFileBounded(const std::filesystem::path& path, std::size_t maxBytes,
                                           std::string& error);

// The step at which a replace stopped.
enum class ReplaceFailure {
    None,
    FollowLink,     // a link on the way could not be read, or links loop (Code)
    Inspect,        // the target could not be examined (Code)
    Folder,         // the target is a folder
    NotRegular,     // the target is not a regular file
    WriteProtected, // the target has no owner write permission
    NotWritable,    // the caller may not write the target (Code)
    Create,         // no file could be made beside the target (Code)
    Write,          // writing the new file failed (Code), and the steps after it:
    KeepMode,
    Flush,
    Close,
    Rename,
};

struct ReplaceResult {
    ReplaceFailure Failure = ReplaceFailure::None;
    int Code = 0; // the system's error number, where the step has one
    // The file replaced, at the end of its links; where following them stopped on FollowLink.
    std::filesystem::path Target;
    bool Ok() const { return Failure == ReplaceFailure::None; }
};

enum class ReplaceMode {
    Replace,
    // Only the checks and the making (and removing) of the file beside the target, so a
    // command can learn that its target cannot be written before it does the work.
    CheckOnly,
};

// Replaces the regular file `path` with `bytes`: a temporary file in the same folder is
// written, flushed to disk and renamed over the target, so a reader sees the old file or
// the new one and a failure leaves the old file as it was.
//
// A symbolic link is followed and its target replaced, so the link stays. A target without
// owner write permission is refused, also for root, and so is one the caller may not write.
// An existing file keeps its mode, and its owner when root replaces it; a new one gets 0666
// less the process's umask, applied by the kernel (the umask is never read or changed, as
// other threads depend on it).
ReplaceResult ReplaceAtomically(const std::filesystem::path& path, std::string_view bytes,
                                ReplaceMode mode = ReplaceMode::Replace);

// The same, false with `error` set on failure (permission_denied for a read-only target,
// too_many_symbolic_link_levels for links that cannot be followed).
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           std::error_code& error);

// The file that ReplaceFileAtomically(`path`) replaces: the end of its chain of symbolic
// links, whether or not it exists yet, with its folder made absolute and free of links.
// Nothing with `error` set when a link cannot be read or loops.
std::optional<std::filesystem::path> ResolveFinalTarget(const std::filesystem::path& path,
                                                        std::string& error);

// Nothing when the file at `path` (a symbolic link is followed) has one name, or does not
// exist; else why it is refused, to follow its path and ": ". A file this system locks and replaces
// must have one name: the replace gives that name a new file, so a second hard link would go on
// naming the old one, and a run through it would hand out the same numbers again.
std::optional<std::string> ExtraHardLinks(const std::filesystem::path& path);

// An exclusive lock on a file that is replaced by rename, taken on the file itself (its
// device and inode), so that every name of it - a symbolic link, another mount of its
// folder, a name spelled in another case on a file system that ignores case - takes the
// same lock, and no lock file beside it can be removed or missed. The replace gives the
// name a new inode: a lock that was waiting on the old one finds, once it holds it, that
// the name has moved on, and takes the new one instead. So a holder replaces the file at
// most once, as its last change. A file that does not exist yet has no inode: until it is
// made, the lock is taken on its folder, so a process holds at most one lock at a time on a
// missing file of a folder. Closing releases the lock.
class FileLock {
public:
    FileLock() = default;
    ~FileLock() { Release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Waits until the lock is held. False with `error` set: the link problem, the path
    // opened and the reason, or ExtraHardLinks's line (FailureCode() is then EMLINK).
    bool Acquire(const std::filesystem::path& file, std::string& error);
    // The same for a file whose final target the caller has resolved itself.
    bool AcquireTarget(const std::filesystem::path& target, std::string& error);
    void Release();
    bool Held() const { return fd_ >= 0; }
    // After a failed acquire past the links: whether the file (or, for a missing one, its
    // folder) could not even be opened (else it could not be locked), and the system's
    // error number.
    bool OpenFailed() const { return openFailed_; }
    int FailureCode() const { return failure_; }
    // The final target of the file last locked: the one to read and replace.
    const std::filesystem::path& Target() const { return target_; }

private:
    std::filesystem::path target_;
    int fd_ = -1;
    bool openFailed_ = false;
    int failure_ = 0;
};

} // namespace common
