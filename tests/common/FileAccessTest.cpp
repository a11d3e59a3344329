// The file library on its own: the bounded reader and the atomic replace, at the paths a
// user may give them.

#include "common/FileAccess.h"

#include "support/TempFolder.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <numeric>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace common {
namespace {

namespace fs = std::filesystem;
using TempFolder = bwtest::TempFolder;

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(FileAccess, BoundedReaderStopsAtItsCapAndNamesTheKind) {
    TempFolder folder;
    std::string error;
    WriteBytes(folder.Path / "exact", std::string(100, 'x'));
    EXPECT_EQ(ReadFileBounded(folder.Path / "exact", 100, error).value_or("?").size(), 100u);
    EXPECT_FALSE(ReadFileBounded(folder.Path / "exact", 99, error));
    EXPECT_EQ(error, "is longer than 99 bytes, more than such a file ever holds");
    EXPECT_FALSE(ReadFileBounded("/dev/zero", 1000, error));
    EXPECT_FALSE(ReadFileBounded(folder.Path, 1000, error));
    EXPECT_EQ(error, "is a folder, not a file");
    EXPECT_EQ(ReadFileBounded("/dev/null", 1000, error).value_or("?"), "");
}

TEST(FileAccess, ReplacingKeepsTheModeAndLeavesNoTemporaryFile) {
    TempFolder folder;
    const fs::path file = folder.Path / "t.ept";
    std::error_code error;
    ASSERT_TRUE(ReplaceFileAtomically(file, "one", error)) << error.message();
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(ReplaceFileAtomically(file, "two", error)) << error.message();
    EXPECT_EQ(ReadBytes(file), "two");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path), fs::directory_iterator()), 1)
        << "no temporary file is left behind";
    EXPECT_FALSE(ReplaceFileAtomically(folder.Path / "missing" / "t.ept", "x", error));
    EXPECT_FALSE(ReplaceFileAtomically(folder.Path, "x", error)) << "a folder is not a file";
}

// Each refusal names its step, for the wording of each program; a check writes nothing; a
// file root replaces stays its owner's.
TEST(FileAccess, ReplaceNamesTheStepThatRefusedAndKeepsTheOwner) {
    TempFolder folder;
    const fs::path file = folder.Path / "t.eep";
    WriteBytes(file, "old");
    const fs::path readOnly = folder.Path / "ro.eep";
    WriteBytes(readOnly, "old");
    fs::permissions(readOnly, fs::perms::owner_read);
    fs::create_symlink("loop", folder.Path / "loop");
    const struct {
        fs::path Path;
        ReplaceMode Mode;
        ReplaceFailure Failure;
    } rows[] = {
        {folder.Path, ReplaceMode::Replace, ReplaceFailure::Folder},
        {readOnly, ReplaceMode::Replace, ReplaceFailure::WriteProtected},
        {folder.Path / "loop", ReplaceMode::Replace, ReplaceFailure::FollowLink},
        {folder.Path / "missing" / "t.eep", ReplaceMode::Replace, ReplaceFailure::Create},
        {file, ReplaceMode::CheckOnly, ReplaceFailure::None},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ReplaceAtomically(row.Path, "new", row.Mode).Failure, row.Failure) << row.Path;
    EXPECT_EQ(ReadBytes(file), "old");
    EXPECT_EQ(ReadBytes(readOnly), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path), fs::directory_iterator()), 3);

    if (::geteuid() != 0) return;
    ASSERT_EQ(::chown(file.c_str(), 4242, 4343), 0);
    ASSERT_TRUE(ReplaceAtomically(file, "new").Ok());
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 4242u);
    EXPECT_EQ(info.st_gid, 4343u);
}

// Two runs at once take numbers from one counter file, each through its own name of it, as
// two stations would; meanwhile the folder is swept of lock files, as a clean-up would.
TEST(FileLock, RunsThroughAnyNameOfOneFileNeverTakeANumberTwice) {
    enum class Name { Same, SymbolicLink, LinkedFolder, HardLink };
    const struct {
        const char* What;
        Name Second;
        bool Exists;
    } rows[] = {
        {"the same path", Name::Same, true},
        {"a file the first run makes", Name::Same, false},
        {"a symbolic link", Name::SymbolicLink, true},
        {"a link to its folder", Name::LinkedFolder, false},
        {"a hard link", Name::HardLink, true},
    };
    constexpr int Takes = 60;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.What);
        TempFolder folder;
        const fs::path file = folder.Path / "c.counter";
        if (row.Exists) WriteBytes(file, "0");
        fs::path second = file;
        if (row.Second == Name::SymbolicLink) fs::create_symlink(file, second = folder.Path / "s");
        if (row.Second == Name::LinkedFolder)
            fs::create_symlink(folder.Path, folder.Path / "f"),
                second = folder.Path / "f" / "c.counter";
        if (row.Second == Name::HardLink) fs::create_hard_link(file, second = folder.Path / "h");

        std::atomic<bool> done{false};
        std::thread sweeper([&] {
            while (!done) {
                std::error_code ec;
                for (const auto& entry : fs::directory_iterator(folder.Path, ec))
                    if (entry.path().extension() == ".lock") fs::remove(entry.path(), ec);
                std::this_thread::yield();
            }
        });
        std::vector<int> taken[2];
        std::string refused[2];
        auto run = [&](int which, const fs::path& name) {
            for (int i = 0; i < Takes; ++i) {
                FileLock lock;
                if (!lock.Acquire(name, refused[which])) return;
                const int value = std::atoi(ReadBytes(lock.Target()).c_str());
                std::error_code ec;
                if (!ReplaceFileAtomically(lock.Target(), std::to_string(value + 1), ec)) return;
                taken[which].push_back(value);
            }
        };
        std::thread first(run, 0, file), other(run, 1, second);
        first.join();
        other.join();
        done = true;
        sweeper.join();

        if (row.Second == Name::HardLink) {
            for (const std::string& line : refused)
                EXPECT_NE(line.find(": has 2 hard links - refused"), std::string::npos) << line;
            EXPECT_TRUE(taken[0].empty() && taken[1].empty());
            continue;
        }
        std::vector<int> all = taken[0];
        all.insert(all.end(), taken[1].begin(), taken[1].end());
        std::sort(all.begin(), all.end());
        std::vector<int> once(2 * Takes);
        std::iota(once.begin(), once.end(), 0);
        EXPECT_EQ(all, once) << refused[0] << refused[1];
    }
}

// While one run holds the lock, a second one through another name waits for it.
TEST(FileLock, ASecondHolderWaitsUntilTheFirstLetsGo) {
    TempFolder folder;
    const fs::path file = folder.Path / "c.counter";
    WriteBytes(file, "7");
    fs::create_symlink(file, folder.Path / "s");
    FileLock first;
    std::string error;
    ASSERT_TRUE(first.Acquire(file, error)) << error;
    EXPECT_FALSE(fs::exists(folder.Path / "c.counter.lock")) << "no lock file beside the file";
    std::atomic<bool> taken{false};
    std::thread second([&] {
        FileLock lock;
        std::string secondError;
        taken = lock.Acquire(folder.Path / "s", secondError);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(taken);
    first.Release();
    second.join();
    EXPECT_TRUE(taken);
}

} // namespace
} // namespace common
