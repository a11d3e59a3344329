#include "common/FileAccess.h"

#include <cerrno>
#include <fcntl.h>
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

// The file a chain of symbolic links ends at, whether or not it exists yet.
std::optional<fs::path> FollowLinks(const fs::path& path, std::string& error) {
    fs::path target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return target;
        std::error_code ec;
        const fs::path next = fs::read_symlink(target, ec);
        if (ec) {
            error = ec.message();
            return std::nullopt;
        }
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    error = Reason(ELOOP);
    return std::nullopt;
}

bool WriteAll(int fd, std::string_view bytes, int& failure) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            failure = errno;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

std::optional<std::string> ReadFileBounded(const fs::path& path, std::size_t maxBytes,
                                           std::string& error) {
    Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY)};
    if (file.Fd < 0) {
        error = Reason(errno);
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(file.Fd, &info) != 0) {
        error = Reason(errno);
        return std::nullopt;
    }
    if (S_ISDIR(info.st_mode)) {
        error = "is a folder, not a file";
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode) && !S_ISCHR(info.st_mode)) {
        error = "is not a regular file, a pipe or a character device";
        return std::nullopt;
    }

    std::string bytes;
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t got = ::read(file.Fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            error = Reason(errno);
            return std::nullopt;
        }
        if (got == 0) return bytes;
        if (bytes.size() + static_cast<std::size_t>(got) > maxBytes) {
            error = "is longer than " + std::to_string(maxBytes) +
                    " bytes, more than such a "
                    "file ever holds";
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

bool ReplaceFileAtomically(const fs::path& path, std::string_view bytes, std::error_code& error) {
    const auto fail = [&error](int code) {
        error = std::error_code(code, std::generic_category());
        return false;
    };

    std::string linkError;
    const std::optional<fs::path> resolved = FollowLinks(path, linkError);
    if (!resolved) return fail(ELOOP);
    const fs::path& target = *resolved;

    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) return fail(errno);
    if (exists && S_ISDIR(old.st_mode)) return fail(EISDIR);
    if (exists && !S_ISREG(old.st_mode)) return fail(EINVAL);
    // rename() replaces a read-only file in a writable folder, and root may write any file:
    // the owner's write bit is what says the file may change.
    if (exists && (old.st_mode & S_IWUSR) == 0) return fail(EACCES);
    if (exists && ::access(target.c_str(), W_OK) != 0) return fail(errno);

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
        if (file.Fd < 0 && errno != EEXIST) return fail(errno);
    }
    if (file.Fd < 0) return fail(EEXIST);

    int failure = 0;
    if (WriteAll(file.Fd, bytes, failure) && exists && ::fchmod(file.Fd, old.st_mode & 07777) != 0)
        failure = errno;
    if (failure == 0 && ::fsync(file.Fd) != 0) failure = errno;
    if (::close(file.Fd) != 0 && failure == 0) failure = errno;
    file.Fd = -1;
    if (failure == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) failure = errno;
    if (failure != 0) {
        ::unlink(temporary.c_str());
        return fail(failure);
    }

    // Make the rename itself durable.
    if (Descriptor dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)}; dir.Fd >= 0)
        ::fsync(dir.Fd);
    return true;
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
