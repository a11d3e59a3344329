#include "dl2mgr/editor/ConfigFile.h"
#include "dl2mgr/editor/ImageFile.h"
#include "support/TempFolder.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <numeric>
#include <unistd.h>

namespace dl2mgr::editor {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
protected:
    void WriteRaw(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    std::string ReadRaw(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::size_t EntriesIn(const fs::path& dir) {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), {}));
    }

    bwtest::TempFolder scratch_{"dl2mgr-files-"};
    const fs::path dir_ = scratch_.Path;
};

TEST_F(FilesTest, ImageFileIsTheImageByteForByte) {
    KeyerImage image;
    std::iota(image.begin(), image.end(), std::uint8_t{0});
    const fs::path path = dir_ / "keyer.eep";
    ASSERT_EQ(SaveImageFile(path, image), "");
    const std::string raw = ReadRaw(path);
    ASSERT_EQ(raw.size(), 256u);
    for (std::size_t i = 0; i < 256; ++i)
        EXPECT_EQ(std::uint8_t(raw[i]), i);

    KeyerImage loaded{};
    ASSERT_EQ(LoadImageFile(path, loaded), "");
    EXPECT_EQ(loaded, image);

    // Saving again replaces the file and leaves no temporary file beside it.
    image.fill(0x77);
    ASSERT_EQ(SaveImageFile(path, image), "");
    ASSERT_EQ(LoadImageFile(path, loaded), "");
    EXPECT_EQ(loaded, image);
    EXPECT_EQ(EntriesIn(dir_), 1u);
}

TEST_F(FilesTest, ImageFileOfAnotherSizeIsRefusedAndChangesNothing) {
    for (std::size_t size : {0, 10, 255, 257, 4096}) {
        const fs::path path = dir_ / ("bad" + std::to_string(size) + ".eep");
        WriteRaw(path, std::string(size, '\x11'));
        KeyerImage image;
        image.fill(0xAB);
        const std::string error = LoadImageFile(path, image);
        EXPECT_NE(error.find("exactly 256 bytes"), std::string::npos) << size << ": " << error;
        EXPECT_EQ(image, [] {
            KeyerImage i;
            i.fill(0xAB);
            return i;
        }()) << size;
    }
    KeyerImage image{};
    EXPECT_NE(LoadImageFile(dir_ / "missing.eep", image), "");
}

TEST_F(FilesTest, FailedSaveReportsAndLeavesTheOldFileWhole) {
    // The target is a directory: the new file cannot replace it.
    const fs::path target = dir_ / "taken.eep";
    fs::create_directory(target);
    WriteRaw(target / "inside", "old");
    KeyerImage image{};
    const std::string error = SaveImageFile(target, image);
    EXPECT_NE(error.find("taken.eep"), std::string::npos) << error;
    EXPECT_EQ(ReadRaw(target / "inside"), "old");
    EXPECT_EQ(EntriesIn(dir_), 1u); // no temporary file left behind

    EXPECT_NE(SaveImageFile(dir_ / "no-such-folder" / "x.eep", image), "");
    EXPECT_FALSE(SaveConfigFile(target, 3).Ok());
}

TEST_F(FilesTest, ConfigFileIsFourBytesLittleEndian) {
    const fs::path path = dir_ / "sub" / "dl2mgr.cfg";
    for (std::int32_t port : {1, 14, 300, -2, 0x12345678}) {
        ASSERT_TRUE(SaveConfigFile(path, port).Ok());
        const std::string raw = ReadRaw(path);
        ASSERT_EQ(raw.size(), 4u);
        const auto value = static_cast<std::uint32_t>(port);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(std::uint8_t(raw[i]), std::uint8_t(value >> 8 * i));
        const ConfigLoad load = ReadConfigFile(path);
        EXPECT_EQ(load.Outcome, ConfigLoad::State::Read);
        EXPECT_EQ(load.ComPortNumber, port);
    }
}

TEST_F(FilesTest, ShortConfigFileGivesItsBytesAsTheLowBytes) {
    struct Case {
        std::string Bytes;
        std::int32_t Port;
    } cases[] = {
        {"", 0},
        {"\x05", 5},
        {std::string("\x05\x01", 2), 0x105},
        {std::string("\x0C\x00\x00", 3), 12},
        {std::string("\x03\x00\x00\x00\x09\x09", 6), 3}, // bytes past the fourth are not read
    };
    for (const auto& c : cases) {
        const fs::path path = dir_ / "dl2mgr.cfg";
        WriteRaw(path, c.Bytes);
        const ConfigLoad load = ReadConfigFile(path);
        EXPECT_EQ(load.Outcome, ConfigLoad::State::Read) << c.Bytes.size();
        EXPECT_EQ(load.ComPortNumber, c.Port) << c.Bytes.size();
    }
    const ConfigLoad missing = ReadConfigFile(dir_ / "none.cfg");
    EXPECT_EQ(missing.Outcome, ConfigLoad::State::Missing);
    EXPECT_EQ(missing.ComPortNumber, DefaultComPortNumber);
}

TEST_F(FilesTest, StartUpCreatesAMissingConfigButLeavesAnUnreadableOne) {
    const fs::path path = dir_ / "new" / "dl2mgr.cfg";
    ConfigLoad load = LoadComPortNumber(path);
    EXPECT_EQ(load.Outcome, ConfigLoad::State::Missing);
    EXPECT_EQ(load.ComPortNumber, 1);
    EXPECT_TRUE(load.Save.Ok());
    EXPECT_EQ(ReadRaw(path), std::string("\x01\x00\x00\x00", 4));

    fs::remove(path);
    fs::create_directory(path);
    load = LoadComPortNumber(path);
    EXPECT_EQ(load.Outcome, ConfigLoad::State::Unreadable);
    EXPECT_EQ(load.ComPortNumber, 0);
    EXPECT_NE(load.Error.find("folder"), std::string::npos) << load.Error;
    EXPECT_TRUE(fs::is_directory(path));
}

TEST_F(FilesTest, ConfigBesideTheProgramWinsOverTheUsersFolder) {
    const fs::path program = dir_ / "bin";
    const fs::path user = dir_ / "config" / "dl2mgr";
    fs::create_directories(program);
    EXPECT_EQ(ConfigFilePath(program, user), user / "dl2mgr.cfg");
    WriteRaw(program / "dl2mgr.cfg", std::string("\x07\x00\x00\x00", 4));
    EXPECT_EQ(ConfigFilePath(program, user), program / "dl2mgr.cfg");
    EXPECT_EQ(ReadConfigFile(ConfigFilePath(program, user)).ComPortNumber, 7);
}

} // namespace
} // namespace dl2mgr::editor
