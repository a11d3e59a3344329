#include "dl2mgr/editor/OutsideFile.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace dl2mgr::editor {

namespace {

std::string Reason(const std::string& what, const std::filesystem::path& path, int err) {
    return what + " " + path.string() + ": " + std::strerror(err);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

bool IsStream(mode_t mode) {
    return S_ISREG(mode) || S_ISFIFO(mode) || S_ISCHR(mode);
}

// Follows symbolic links one hop at a time, so a link whose target does not exist yet
// still names the file to create. Relative targets count from the link's folder.
bool ResolveLinks(std::filesystem::path& path, std::string& error) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n < 0) {
            error = Reason("Cannot follow the link", path, errno);
            return false;
        }
        const std::filesystem::path next(std::string(target, static_cast<std::size_t>(n)));
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    error = Reason("Cannot follow the link", path, ELOOP);
    return false;
}

} // namespace

FileRead ReadOutsideFile(const std::filesystem::path& path, std::size_t cap) {
    FileRead read;
    // Opened without blocking, so neither a named pipe without a writer nor a serial line's
    // carrier can hang the open. The type is checked on what was opened, not on the name.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.Get() < 0) {
        read.Missing = errno == ENOENT;
        read.Error = Reason("Cannot open", path, errno);
        return read;
    }
    read.Result = FileRead::Outcome::CannotRead;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        read.Error = Reason("Cannot read", path, errno);
        return read;
    }
    if (S_ISDIR(st.st_mode)) {
        read.Error = "Cannot read " + path.string() + ": it is a folder, not a file";
        return read;
    }
    if (!IsStream(st.st_mode)) {
        read.Error = "Cannot read " + path.string() + ": it is neither a file nor a stream";
        return read;
    }
    // A regular file always has its bytes; a pipe or a device is waited on, up to the limit.
    const bool stream = !S_ISREG(st.st_mode);
    if (!stream) ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(StreamReadLimitMs);

    // One byte past the cap tells a file at the cap from a longer one.
    read.Bytes.resize(cap + 1);
    std::size_t got = 0;
    while (got <= cap) {
        if (stream) {
            // A pipe opened without blocking reads as ended while no writer has come yet;
            // only what poll reports ready is read.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd ready{fd.Get(), POLLIN, 0};
            const int polled =
                left.count() > 0 ? ::poll(&ready, 1, static_cast<int>(left.count())) : 0;
            if (polled < 0 && errno == EINTR) continue;
            if (polled <= 0) {
                read.Error = "Cannot read " + path.string() + ": it did not end within " +
                             std::to_string(StreamReadLimitMs / 1000) + " seconds";
                read.Bytes.clear();
                return read;
            }
        }
        const ssize_t n = ::read(fd.Get(), read.Bytes.data() + got, cap + 1 - got);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) {
            read.Error = Reason("Cannot read", path, errno);
            read.Bytes.clear();
            return read;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got > cap) {
        read.Error = "Cannot read " + path.string() + ": it holds more than " +
                     std::to_string(cap) + " bytes";
        read.Bytes.clear();
        return read;
    }
    read.Bytes.resize(got);
    read.Result = FileRead::Outcome::Read;
    return read;
}

namespace {

// The replace, or with `probe` only its checks and the making of the temporary file, so a
// command can learn that its target cannot be written before it does the work.
FileReplace Replace(const std::filesystem::path& requested, std::span<const std::uint8_t> bytes,
                    bool probe) {
    FileReplace result;
    auto refuse = [&](FileReplace::Outcome outcome, std::string error) {
        result.Result = outcome;
        result.Error = std::move(error);
        return result;
    };

    std::filesystem::path path = requested;
    std::string error;
    if (!ResolveLinks(path, error)) return refuse(FileReplace::Outcome::CannotCreate, error);

    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (exists) {
        if (S_ISDIR(old.st_mode)) {
            return refuse(FileReplace::Outcome::CannotCreate,
                          "Cannot write " + path.string() + ": it is a folder");
        }
        if (!S_ISREG(old.st_mode)) {
            return refuse(FileReplace::Outcome::CannotCreate,
                          "Cannot write " + path.string() + ": it is not a regular file");
        }
        // Root may write anything; the owner's write bit is what the user set to keep the
        // file, so it holds for root too.
        if (!(old.st_mode & S_IWUSR)) {
            return refuse(FileReplace::Outcome::CannotCreate,
                          "Cannot write " + path.string() + ": it is write-protected");
        }
    }

    // The temporary file is made with 0666 and the kernel takes the umask off, which is
    // the mode a new file must get; reading the umask would mean changing it.
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::random_device seed;
    std::mt19937 random(seed());
    std::filesystem::path temp;
    int raw = -1;
    for (int attempt = 0; attempt < 16 && raw < 0; ++attempt) {
        temp = folder / ("." + path.filename().string() + "." + std::to_string(random() % 1000000));
        raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (raw < 0 && errno != EEXIST) break;
    }
    if (raw < 0)
        return refuse(FileReplace::Outcome::CannotCreate,
                      Reason("Cannot create a file beside", path, errno));
    Descriptor fd(raw);
    if (probe) {
        ::unlink(temp.c_str());
        return result;
    }

    auto fail = [&](const char* what) {
        const int err = errno;
        ::unlink(temp.c_str());
        return refuse(FileReplace::Outcome::CannotWrite, Reason(what, path, err));
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail("Cannot write");
        done += static_cast<std::size_t>(n);
    }
    if (exists) {
        if (::fchmod(fd.Get(), old.st_mode & 07777) != 0) return fail("Cannot keep the mode of");
        // Only root can give the file back to its owner; for anyone else it is theirs anyway.
        if (::geteuid() == 0) (void)::fchown(fd.Get(), old.st_uid, old.st_gid);
    }
    if (::fsync(fd.Get()) != 0) return fail("Cannot flush");
    if (::close(fd.Release()) != 0) return fail("Cannot close");
    if (::rename(temp.c_str(), path.c_str()) != 0) return fail("Cannot replace");
    // The rename itself reaches the disk with the folder.
    if (Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir.Get() >= 0)
        (void)::fsync(dir.Get());
    return result;
}

} // namespace

FileReplace ReplaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    return Replace(path, bytes, false);
}

FileReplace CheckReplace(const std::filesystem::path& path) {
    return Replace(path, {}, true);
}

} // namespace dl2mgr::editor
