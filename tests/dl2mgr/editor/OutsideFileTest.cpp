// Hostile and unusual paths through the image and config files: folders, devices, pipes,
// oversized input, symbolic links, write-protected targets and the umask.
#include "dl2mgr/editor/ConfigFile.h"
#include "dl2mgr/editor/ImageFile.h"
#include "support/TempFolder.h"

#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <numeric>
#include <pty.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace dl2mgr::editor {
namespace {

namespace fs = std::filesystem;

class OutsideFileTest : public ::testing::Test {
protected:
    static void WriteRaw(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string ReadRaw(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static mode_t ModeOf(const fs::path& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }

    bwtest::TempFolder scratch_{"dl2mgr-outside-"};
    const fs::path dir_ = scratch_.Path;
};

KeyerImage Counting() {
    KeyerImage image;
    std::iota(image.begin(), image.end(), std::uint8_t{3});
    return image;
}
std::string CountingBytes() {
    const KeyerImage image = Counting();
    return std::string(image.begin(), image.end());
}

TEST_F(OutsideFileTest, ReadersRefuseWhatIsNoFileAndStopAtTheirCap) {
    fs::create_directory(dir_ / "folder");
    WriteRaw(dir_ / "huge.eep", std::string(ImageFileCap + 1, 'x'));
    WriteRaw(dir_ / "cap.eep", std::string(ImageFileCap, 'x'));
    WriteRaw(dir_ / "big.cfg", std::string(ConfigFileCap + 1, '\x01'));
    struct Case {
        fs::path Path;
        std::size_t Cap;
        FileRead::Outcome Result;
        const char* ErrorHolds; // nullptr: no error
    } cases[] = {
        {dir_ / "folder", ImageFileCap, FileRead::Outcome::CannotRead, "is a folder"},
        {"/dev/zero", ImageFileCap, FileRead::Outcome::CannotRead, "more than 65536 bytes"},
        {"/dev/zero", ConfigFileCap, FileRead::Outcome::CannotRead, "more than 4096 bytes"},
        {dir_ / "huge.eep", ImageFileCap, FileRead::Outcome::CannotRead, "more than 65536"},
        {dir_ / "cap.eep", ImageFileCap, FileRead::Outcome::Read, nullptr},
        {dir_ / "big.cfg", ConfigFileCap, FileRead::Outcome::CannotRead, "more than 4096"},
        {"/dev/null", ImageFileCap, FileRead::Outcome::Read, nullptr},
        {dir_ / "missing.eep", ImageFileCap, FileRead::Outcome::CannotOpen, "Cannot open"},
    };
    for (const Case& c : cases) {
        const FileRead read = ReadOutsideFile(c.Path, c.Cap);
        EXPECT_EQ(read.Result, c.Result) << c.Path << ": " << read.Error;
        if (c.ErrorHolds) {
            EXPECT_NE(read.Error.find(c.ErrorHolds), std::string::npos) << read.Error;
            EXPECT_NE(read.Error.find(c.Path.string()), std::string::npos) << read.Error;
            EXPECT_EQ(read.Error.find('\n'), std::string::npos) << read.Error;
            EXPECT_TRUE(read.Bytes.empty());
        }
    }
    EXPECT_TRUE(ReadOutsideFile(dir_ / "missing.eep", ImageFileCap).Missing);
    EXPECT_FALSE(ReadOutsideFile(dir_ / "folder", ImageFileCap).Missing);

    // Through the image and config files: an error, and the image untouched.
    KeyerImage image = Counting();
    EXPECT_NE(LoadImageFile(dir_ / "folder", image).find("folder"), std::string::npos);
    EXPECT_NE(LoadImageFile("/dev/zero", image).find("more than"), std::string::npos);
    EXPECT_EQ(image, Counting());
    EXPECT_EQ(ReadConfigFile(dir_ / "folder").Outcome, ConfigLoad::State::Unreadable);
    EXPECT_EQ(ReadConfigFile("/dev/zero").Outcome, ConfigLoad::State::Unreadable);
}

TEST_F(OutsideFileTest, PipesAreReadAsOrdinaryStreams) {
    // An anonymous pipe, as a process substitution hands it over: /dev/fd/N.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread writer([&] {
        const std::string bytes = CountingBytes();
        // In two parts, so a reader that stops at the first short read is caught.
        EXPECT_EQ(::write(fds[1], bytes.data(), 100), 100);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(::write(fds[1], bytes.data() + 100, 156), 156);
        ::close(fds[1]);
    });
    KeyerImage image{};
    EXPECT_EQ(LoadImageFile("/dev/fd/" + std::to_string(fds[0]), image), "");
    writer.join();
    ::close(fds[0]);
    EXPECT_EQ(image, Counting());

    // A named pipe whose writer comes later.
    const fs::path fifo = dir_ / "keyer.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::ofstream(fifo, std::ios::binary) << std::string("\x07\x00", 2);
    });
    const ConfigLoad load = ReadConfigFile(fifo);
    late.join();
    EXPECT_EQ(load.Outcome, ConfigLoad::State::Read);
    EXPECT_EQ(load.ComPortNumber, 7);

    // A named pipe nobody writes to, and a terminal that sends nothing: refused in time.
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    for (const fs::path& silent : {fifo, fs::path(name)}) {
        const auto start = std::chrono::steady_clock::now();
        const FileRead read = ReadOutsideFile(silent, ImageFileCap);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(read.Result, FileRead::Outcome::CannotRead) << silent;
        EXPECT_NE(read.Error.find("did not end within 2 seconds"), std::string::npos) << read.Error;
        EXPECT_LT(took, std::chrono::milliseconds(StreamReadLimitMs + 1000)) << silent;
    }
    ::close(master);
    ::close(slave);
}

TEST_F(OutsideFileTest, ReplaceFollowsLinksRefusesProtectedTargetsAndKeepsModes) {
    const std::string old = "old bytes";
    struct Case {
        const char* Name;
        std::function<fs::path(const fs::path&)> Make; // returns the path to write
        bool Replaced;
        fs::path Holder; // the file that must hold the result, relative to dir_
    };
    const Case cases[] = {
        {"link to a file",
         [&](const fs::path& d) {
             WriteRaw(d / "target.eep", old);
             fs::create_symlink("target.eep", d / "link.eep");
             return d / "link.eep";
         },
         true, "target.eep"},
        {"link whose target does not exist yet",
         [&](const fs::path& d) {
             fs::create_directory(d / "sub");
             fs::create_symlink(d / "sub" / "new.eep", d / "dangling.eep");
             return d / "dangling.eep";
         },
         true, "sub/new.eep"},
        {"link to a link",
         [&](const fs::path& d) {
             WriteRaw(d / "end.eep", old);
             fs::create_symlink("end.eep", d / "middle.eep");
             fs::create_symlink("middle.eep", d / "first.eep");
             return d / "first.eep";
         },
         true, "end.eep"},
        {"write-protected file",
         [&](const fs::path& d) {
             WriteRaw(d / "ro.eep", old);
             fs::permissions(d / "ro.eep", fs::perms::owner_read | fs::perms::group_read);
             return d / "ro.eep";
         },
         false, "ro.eep"},
        {"link to a write-protected file",
         [&](const fs::path& d) {
             WriteRaw(d / "ro2.eep", old);
             fs::permissions(d / "ro2.eep", fs::perms::owner_read);
             fs::create_symlink("ro2.eep", d / "rolink.eep");
             return d / "rolink.eep";
         },
         false, "ro2.eep"},
        {"folder",
         [&](const fs::path& d) {
             fs::create_directory(d / "folder.eep");
             return d / "folder.eep";
         },
         false, ""},
    };
    for (const Case& c : cases) {
        const fs::path d = dir_ / c.Name;
        fs::create_directories(d);
        const fs::path target = c.Make(d);
        const bool wasLink = fs::is_symlink(target);
        const std::string error = SaveImageFile(target, Counting());
        EXPECT_EQ(error.empty(), c.Replaced) << c.Name << ": " << error;
        if (!c.Holder.empty()) {
            EXPECT_EQ(ReadRaw(d / c.Holder), c.Replaced ? CountingBytes() : old) << c.Name;
        }
        EXPECT_EQ(fs::is_symlink(target), wasLink) << c.Name; // a link stays a link
        // Nothing is left beside the target but what the case made.
        for (const auto& entry : fs::recursive_directory_iterator(d))
            EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
    }
    // A write-protected target is refused even for root, with a reason on one line.
    const std::string error = SaveImageFile(dir_ / "write-protected file" / "ro.eep", Counting());
    EXPECT_NE(error.find("write-protected"), std::string::npos) << error;
}

TEST_F(OutsideFileTest, NewFilesTakeTheUmaskAndExistingFilesKeepTheirMode) {
    struct Case {
        mode_t Umask;
        mode_t Expected;
    } cases[] = {{077, 0600}, {022, 0644}, {002, 0664}};
    for (const Case& c : cases) {
        const fs::path path = dir_ / ("new-" + std::to_string(c.Umask) + ".cfg");
        const mode_t previous = ::umask(c.Umask);
        const FileReplace saved = SaveConfigFile(path, 4);
        ::umask(previous);
        ASSERT_TRUE(saved.Ok()) << saved.Error;
        EXPECT_EQ(ModeOf(path), c.Expected) << std::oct << c.Umask;
    }
    const fs::path kept = dir_ / "kept.eep";
    WriteRaw(kept, "x");
    ::chmod(kept.c_str(), 0640);
    const mode_t previous = ::umask(077);
    EXPECT_EQ(SaveImageFile(kept, Counting()), "");
    ::umask(previous);
    EXPECT_EQ(ModeOf(kept), 0640u);
    EXPECT_EQ(ReadRaw(kept), CountingBytes());
}

} // namespace
} // namespace dl2mgr::editor
