// The file library on its own: the bounded reader and the atomic replace, at the paths a
// user may give them.

#include "burnwise/common/FileAccess.h"

#include "support/TempFolder.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace burnwise::common {
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

} // namespace
} // namespace burnwise::common
