#include "common/FileAccess.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace common {
namespace {

namespace fs = std::filesystem;

// A name replaced this often while a lock waits on it is being replaced in a loop.
constexpr int MaxLockRounds = 1000;

std::string Reason(int code) {
    return std::generic_category().message(code);
}

// Closes a descriptor when the scope ends.
struct Descriptor {
    int Fd = -1;
    ~Descriptor() {
        if (Fd >= 0) ::close(Fd);
    }
};

// The file a chain of symbolic links ends at, whether or not it exists yet. On failure
// `at` is the link that could not be followed and `code` the reason.
std::optional<fs::path> FollowLinks(const fs::path& path, fs::path& at, int& code) {
    fs::path target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return target;
        std::error_code ec;
        const fs::path next = fs::read_symlink(target, ec);
        if (ec) {
            at = target;
            code = ec.value();
            return std::nullopt;
        }
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    at = target;
    code = ELOOP;
    return std::nullopt;
}

std::optional<fs::path> FollowLinks(const fs::path& path, std::string& error) {
    fs::path at;
    int code = 0;
    std::optional<fs::path> target = FollowLinks(path, at, code);
    if (!target) error = Reason(code);
    return target;
}

bool WriteAll(int fd, std::string_view bytes, int& failure) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            failure = written < 0 ? errno : EIO;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

BoundedRead ReadBounded(const fs::path& path, std::size_t maxBytes,
                        std::chrono::milliseconds streamLimit) {
    BoundedRead read;
    const auto fail = [&read](ReadFailure failure, int code = 0) {
        read.Failure = failure;
        read.Code = code;
        return read;
    };
    // With a limit, opened without blocking, so neither a named pipe without a writer nor a
    // serial line's carrier can hang the open. The kind is checked on what was opened, not
    // on the name.
    const bool limited = streamLimit.count() > 0;
    Descriptor file{
        ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | (limited ? O_NONBLOCK : 0))};
    if (file.Fd < 0) return fail(ReadFailure::Open, errno);
    struct stat info {};
    if (::fstat(file.Fd, &info) != 0) return fail(ReadFailure::Inspect, errno);
    if (S_ISDIR(info.st_mode)) return fail(ReadFailure::Folder);
    if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode) && !S_ISCHR(info.st_mode))
        return fail(ReadFailure::NotAStream);
    // A regular file always has its bytes; a pipe or a device is waited on, up to the limit.
    const bool waited = limited && !S_ISREG(info.st_mode);
    if (limited && !waited) ::fcntl(file.Fd, F_SETFL, ::fcntl(file.Fd, F_GETFL) & ~O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + streamLimit;

    std::string bytes;
    char buffer[16 * 1024];
    for (;;) {
        if (waited) {
            // A pipe opened without blocking reads as ended while no writer has come yet;
            // only what poll reports ready is read.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd ready{file.Fd, POLLIN, 0};
            const int polled =
                left.count() > 0 ? ::poll(&ready, 1, static_cast<int>(left.count())) : 0;
            if (polled < 0 && errno == EINTR) continue;
            if (polled <= 0) return fail(ReadFailure::TimedOut);
        }
        const ssize_t got = ::read(file.Fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || (waited && errno == EAGAIN))) continue;
        if (got < 0) return fail(ReadFailure::Read, errno);
        if (got == 0) {
            read.Bytes = std::move(bytes);
            return read;
        }
        if (bytes.size() + static_cast<std::size_t>(got) > maxBytes)
            return fail(ReadFailure::TooLong);
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

std::optional<std::string> ReadFileBounded(const fs::path& path, std::size_t maxBytes,
                                           std::string& error) {
    BoundedRead read = ReadBounded(path, maxBytes);
    switch (read.Failure) {
    case ReadFailure::None:
        return std::move(read.Bytes);
    case ReadFailure::Folder:
        error = "is a folder, not a file";
        break;
    case ReadFailure::NotAStream:
        error = "is not a regular file, a pipe or a character device";
        break;
    case ReadFailure::TooLong:
        error = "is longer than " + std::to_string(maxBytes) +
                " bytes, more than such a file ever holds";
        break;
    case ReadFailure::TimedOut:
        error = "did not end in time";
        break;
    case ReadFailure::Open:
    case ReadFailure::Inspect:
    case ReadFailure::Read:
        error = Reason(read.Code);
        break;
    }
    return std::nullopt;
}

ReplaceResult ReplaceAtomically(const fs::path& path, std::string_view bytes, ReplaceMode mode) {
    ReplaceResult result;
    const auto fail = [&result](ReplaceFailure failure, int code = 0) {
        result.Failure = failure;
        result.Code = code;
        return result;
    };

    int linkCode = 0;
    const std::optional<fs::path> resolved = FollowLinks(path, result.Target, linkCode);
    if (!resolved) return fail(ReplaceFailure::FollowLink, linkCode);
    result.Target = *resolved;
    const fs::path& target = result.Target;

    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) return fail(ReplaceFailure::Inspect, errno);
    if (exists && S_ISDIR(old.st_mode)) return fail(ReplaceFailure::Folder);
    if (exists && !S_ISREG(old.st_mode)) return fail(ReplaceFailure::NotRegular);
    // rename() replaces a read-only file in a writable folder, and root may write any file:
    // the owner's write bit is what says the file may change.
    if (exists && (old.st_mode & S_IWUSR) == 0) return fail(ReplaceFailure::WriteProtected);
    if (exists && ::access(target.c_str(), W_OK) != 0)
        return fail(ReplaceFailure::NotWritable, errno);

    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::random_device seed;
    std::mt19937_64 random(seed());
    fs::path temporary;
    Descriptor file;
    for (int attempt = 0; attempt < 100 && file.Fd < 0; ++attempt) {
        temporary = folder / ("." + target.filename().string() + "." +
                              std::to_string(random() % 1000000000u) + ".tmp");
        // 0666: the kernel takes the umask off a new file's mode.
        file.Fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (file.Fd < 0 && errno != EEXIST) return fail(ReplaceFailure::Create, errno);
    }
    if (file.Fd < 0) return fail(ReplaceFailure::Create, EEXIST);
    if (mode == ReplaceMode::CheckOnly) {
        ::unlink(temporary.c_str());
        return result;
    }

    const auto failWritten = [&](ReplaceFailure failure, int code) {
        ::unlink(temporary.c_str());
        return fail(failure, code);
    };
    int failure = 0;
    if (!WriteAll(file.Fd, bytes, failure)) return failWritten(ReplaceFailure::Write, failure);
    if (exists) {
        if (::fchmod(file.Fd, old.st_mode & 07777) != 0)
            return failWritten(ReplaceFailure::KeepMode, errno);
        // Only root can give the file back to its owner; anyone else's file is theirs anyway.
        if (::geteuid() == 0) (void)::fchown(file.Fd, old.st_uid, old.st_gid);
    }
    if (::fsync(file.Fd) != 0) return failWritten(ReplaceFailure::Flush, errno);
    const int closed = ::close(file.Fd);
    file.Fd = -1;
    if (closed != 0) return failWritten(ReplaceFailure::Close, errno);
    if (::rename(temporary.c_str(), target.c_str()) != 0)
        return failWritten(ReplaceFailure::Rename, errno);

    // Make the rename itself durable.
    if (Descriptor dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)}; dir.Fd >= 0)
        ::fsync(dir.Fd);
    return result;
}

bool ReplaceFileAtomically(const fs::path& path, std::string_view bytes, std::error_code& error) {
    const ReplaceResult result = ReplaceAtomically(path, bytes);
    int code = result.Code;
    switch (result.Failure) {
    case ReplaceFailure::None:
        return true;
    case ReplaceFailure::FollowLink:
        code = ELOOP;
        break;
    case ReplaceFailure::Folder:
        code = EISDIR;
        break;
    case ReplaceFailure::NotRegular:
        code = EINVAL;
        break;
    case ReplaceFailure::WriteProtected:
        code = EACCES;
        break;
    default:
        break;
    }
    error = std::error_code(code, std::generic_category());
    return false;
}

std::optional<fs::path> ResolveFinalTarget(const fs::path& path, std::string& error) {
    const std::optional<fs::path> target = FollowLinks(path, error);
    if (!target) return std::nullopt;
    std::error_code ec;
    const fs::path folder = fs::weakly_canonical(fs::absolute(target->parent_path(), ec), ec);
    if (ec) return fs::absolute(*target, ec);
    return folder / target->filename();
}

std::optional<std::string> ExtraHardLinks(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink <= 1)
        return std::nullopt;
    return "has " + std::to_string(info.st_nlink) +
           " hard links - refused: a file that is locked and replaced needs one name only "
           "(remove the other links; a symbolic link may name it)";
}

bool FileLock::Acquire(const fs::path& file, std::string& error) {
    Release();
    const std::optional<fs::path> target = ResolveFinalTarget(file, error);
    return target && AcquireTarget(*target, error);
}

bool FileLock::AcquireTarget(const fs::path& target, std::string& error) {
    Release();
    openFailed_ = false;
    failure_ = 0;
    target_ = target;
    // Each round ends with the lock held on what the name gives now, or goes again because a
    // replace or the creation of the file moved the name while this one waited.
    for (int round = 0; round < MaxLockRounds && fd_ < 0; ++round) {
        fs::path opened = target_;
        // Opened for writing where it may be: a network file system takes an exclusive lock
        // only on such a descriptor. O_NONBLOCK: a pipe put in the file's place must not
        // hang the open; the reader refuses it later.
        constexpr int Flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
        int fd = ::open(opened.c_str(), O_RDWR | Flags);
        if (fd < 0 && errno != ENOENT) fd = ::open(opened.c_str(), O_RDONLY | Flags);
        const bool exists = fd >= 0;
        if (fd < 0 && errno == ENOENT) {
            // Nothing to lock yet: its folder stands for it until the file is made.
            opened = target_.has_parent_path() ? target_.parent_path() : fs::path(".");
            fd = ::open(opened.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        }
        if (fd < 0) {
            openFailed_ = true;
            failure_ = errno;
            error = opened.string() + ": " + Reason(failure_);
            return false;
        }
        Descriptor held{fd};
        while (::flock(held.Fd, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            failure_ = errno;
            error = opened.string() + ": " + Reason(failure_);
            return false;
        }
        struct stat mine {
        }, named{};
        const bool namedNow = ::stat(target_.c_str(), &named) == 0;
        const bool same = exists ? namedNow && ::fstat(held.Fd, &mine) == 0 &&
                                       mine.st_dev == named.st_dev && mine.st_ino == named.st_ino
                                 : !namedNow && errno == ENOENT;
        if (same) std::swap(fd_, held.Fd);
    }
    if (fd_ < 0) {
        failure_ = EAGAIN;
        error = target_.string() + ": cannot lock it - it keeps being replaced";
        return false;
    }
    if (std::optional<std::string> links = ExtraHardLinks(target_)) {
        failure_ = EMLINK;
        error = target_.string() + ": " + *links;
        Release();
        return false;
    }
    return true;
}

void FileLock::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

} // namespace common
