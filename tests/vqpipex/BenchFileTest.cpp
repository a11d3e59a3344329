#include "vqpipex/BenchFile.h"

#include "TestFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace {

using namespace vqpipex;
using vqpipex::testing::ReadAll;
using vqpipex::testing::Scratch;
using vqpipex::testing::WriteAll;

std::string Words(std::size_t from, std::size_t count, const char* word = "FFFF") {
    std::string text;
    for (std::size_t i = from; i < from + count; i += 16) {
        text += "words " + std::to_string(i);
        for (std::size_t j = i; j < i + 16 && j < from + count; ++j)
            text += std::string(" ") + word;
        text += "\n";
    }
    return text;
}

const std::string Header = "vqpipex-bench 1\n";
const std::string GoodChip = "chip VQAAAAAA KR2S 93C46\n" + Words(0, 64) + "end\n";

TEST(BenchFile, RoundTripKeepsChipsWordsAndFaults) {
    Bench bench = DefaultBench(7);
    AddChip(bench, *FindModel("KR1F"), Part::None, 8);
    AddChip(bench, *FindModel("KR3E"), Part::C66, 9);
    AddChip(bench, *FindModel("KR4F"), Part::None, 10);
    for (std::size_t i = 0; i < bench.Chips[2].Words.size(); ++i)
        bench.Chips[2].Words[i] = static_cast<std::uint16_t>(i * 0x0101);
    bench.Chips[5].Faults[1] = {{FaultKind::Read, 5, VQ_IO_ERROR, 3},
                                {FaultKind::IgnoreWrites, std::nullopt, VQ_OK, -1}};
    bench.Chips[0].Faults[0] = {{FaultKind::Open, std::nullopt, VQ_DEVICE_NOT_FOUND, 1}};

    const std::string text = FormatBench(bench);
    const ParseOutcome parsed = ParseBench(text);
    ASSERT_TRUE(parsed.Value) << parsed.Error;
    ASSERT_EQ(parsed.Value->Chips.size(), bench.Chips.size());
    for (std::size_t i = 0; i < bench.Chips.size(); ++i) {
        const Chip& a = bench.Chips[i];
        const Chip& b = parsed.Value->Chips[i];
        EXPECT_EQ(a.Serial, b.Serial);
        EXPECT_EQ(a.Model, b.Model);
        EXPECT_EQ(a.Eeprom, b.Eeprom);
        EXPECT_EQ(a.Words, b.Words);
        EXPECT_EQ(a.Faults, b.Faults);
    }
    EXPECT_EQ(FormatBench(*parsed.Value), text);
}

TEST(BenchFile, DamagedFilesAreRefusedWithTheLine) {
    std::string manyChips = Header;
    for (int i = 0; i < 65; ++i) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "S%02d", i);
        manyChips += std::string("chip ") + serial + " KR3D none\nend\n";
    }
    struct Row {
        const char* Name;
        std::string Text;
        const char* Error;
    };
    const Row rows[] = {
        {"empty", "", "empty bench file"},
        {"comments only", "# nothing\n\n", "empty bench file"},
        {"no header", GoodChip, "line 1: not a bench file"},
        {"other version", "vqpipex-bench 2\n", "line 1: bench file version 2"},
        {"unknown model", Header + "chip VQ1 KR9X 93C46\n", "line 2: unknown model \"KR9X\""},
        {"unknown part", Header + "chip VQ1 KR2S 93C86\n", "line 2: unknown EEPROM"},
        {"KR4 with a part", Header + "chip VQ1 KR4S 93C46\n", "line 2: a KR4 chip's EEPROM"},
        {"bad serial", Header + "chip vq-1 KR2S 93C46\n", "line 2: bad serial number"},
        {"short chip line", Header + "chip VQ1 KR2S\n", "line 2: a chip line is"},
        {"same serial twice", Header + GoodChip + GoodChip, "line 8: serial number VQAAAAAA twice"},
        {"cut short", Header + "chip VQ1 KR2S 93C46\n" + Words(0, 48) + "end\n",
         "line 6: chip VQ1 has 48 of its 64 words"},
        {"no end", Header + "chip VQ1 KR2S 93C46\n" + Words(0, 64), "chip VQ1 has no \"end\""},
        {"chip inside chip", Header + "chip VQ1 KR2S 93C46\nchip VQ2 KR2S 93C46\n",
         "line 3: chip VQ1 has no \"end\""},
        {"too many words", Header + "chip VQ1 KR2S 93C46\n" + Words(0, 80),
         "line 7: more words than the part holds (64)"},
        {"words out of order", Header + "chip VQ1 KR2S 93C46\n" + Words(16, 16),
         "line 3: words from 16 where 0 come next"},
        {"bad word", Header + "chip VQ1 KR2S 93C46\nwords 0 FFFF 12G4\n",
         "line 3: bad word \"12G4\""},
        {"short word", Header + "chip VQ1 KR2S 93C46\nwords 0 FFF\n", "line 3: bad word \"FFF\""},
        {"words outside a chip", Header + "words 0 FFFF\n", "line 2: \"words\" outside a chip"},
        {"unknown line", Header + "chip VQ1 KR2S none\nbits 0\n", "line 3: unknown line \"bits\""},
        {"channel B of a single chip", Header + "chip VQ1 KR2S none\nfault B open\n",
         "line 3: no channel \"B\""},
        {"unknown fault", Header + "chip VQ1 KR2S none\nfault A melt\n", "unknown fault \"melt\""},
        {"fault word too far", Header + "chip VQ1 KR2S none\nfault A read word=256\n",
         "bad fault option \"word=256\""},
        {"fault status 0", Header + "chip VQ1 KR2S none\nfault A read status=0\n",
         "bad fault option \"status=0\""},
        {"fault times 0", Header + "chip VQ1 KR2S none\nfault A read times=0\n",
         "bad fault option \"times=0\""},
        {"zero byte", Header + std::string("chip VQ1 KR2S none\0\n", 20), "line 2: a zero byte"},
        {"too many devices", manyChips, "line 130: more than 128 devices"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        const ParseOutcome parsed = ParseBench(row.Text);
        EXPECT_FALSE(parsed.Value);
        EXPECT_NE(parsed.Error.find(row.Error), std::string::npos) << parsed.Error;
    }
}

TEST(BenchFile, DefaultBenchIsBlank) {
    const Bench bench = DefaultBench(Entropy());
    ASSERT_EQ(bench.Chips.size(), 4u);
    const char* models[] = {"KR2S", "KR2S", "KR3D", "KR4S"};
    const std::size_t words[] = {64, 128, 128, 128};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const Chip& chip = bench.Chips[i];
        EXPECT_EQ(chip.Model->Name, models[i]);
        ASSERT_EQ(chip.Words.size(), words[i]);
        const std::size_t blank = chip.IsKr4() ? 64 : chip.Words.size();
        for (std::size_t w = 0; w < blank; ++w)
            EXPECT_EQ(chip.Words[w], 0xFFFF);
    }
    const Chip& kr4 = bench.Chips[3];
    EXPECT_EQ(kr4.Words[65], static_cast<std::uint16_t>(~kr4.Words[64]));
    EXPECT_EQ(kr4.Words[66] & 1, 0);
    EXPECT_EQ(bench.Devices().size(), 5u);
}

TEST(BenchFile, DamagedOrOddFilesAreReportedAndLeftAlone) {
    Scratch scratch;
    const auto path = scratch / "bench.txt";
    WriteAll(path, Header + "chip VQ1 KR2S 93C46\nwords 0 FFFF\nend\n");
    const std::string before = ReadAll(path);
    const std::string error = UpdateBench(path.string(), [](Bench&, std::string&) { return true; });
    EXPECT_NE(error.find("damaged bench file"), std::string::npos) << error;
    EXPECT_NE(error.find("line 4"), std::string::npos) << error;
    EXPECT_EQ(ReadAll(path), before);

    WriteAll(path, Header + std::string(MaxBenchFileBytes, '#'));
    EXPECT_NE(ReadBenchFile(path.string()).Error.find("larger than any bench"), std::string::npos);

    std::filesystem::create_directory(scratch / "folder");
    EXPECT_NE(ReadBenchFile((scratch / "folder").string()).Error.find("not a regular file"),
              std::string::npos);
}

TEST(BenchFile, WriteFollowsALinkKeepsTheModeAndRespectsReadOnly) {
    Scratch scratch;
    const auto target = scratch / "real.txt";
    const auto link = scratch / "bench.txt";
    WriteAll(target, Header);
    ::chmod(target.c_str(), 0640);
    std::filesystem::create_symlink(target, link);
    const Bench bench = DefaultBench(1);
    ASSERT_EQ(WriteBenchFile(link.string(), bench), "");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadAll(target), FormatBench(bench));
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // Read-only by its owner's bits: refused, for root too.
    ::chmod(target.c_str(), 0440);
    const std::string error = WriteBenchFile(link.string(), Bench{});
    EXPECT_NE(error.find("read-only"), std::string::npos) << error;
    EXPECT_EQ(ReadAll(target), FormatBench(bench));
    // No temporary file is left behind.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(scratch.Dir))
        ++files;
    EXPECT_EQ(files, 2);
}

TEST(BenchFile, ABenchAndALinkToItAreOneLockedFile) {
    Scratch scratch;
    const auto target = scratch / "real.txt";
    const auto link = scratch / "bench.txt";
    const auto linkToLink = scratch / "again.txt";
    // Links made before the file exists, one relative, one to the other link.
    std::filesystem::create_symlink("real.txt", link);
    std::filesystem::create_symlink(link, linkToLink);
    EXPECT_EQ(ResolveBenchPath(linkToLink.string()), target.string());
    ASSERT_EQ(UpdateBench(linkToLink.string(), [](Bench&, std::string&) { return false; }), "");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_TRUE(std::filesystem::is_symlink(linkToLink));
    EXPECT_TRUE(ReadBenchFile(target.string()).Value);
    EXPECT_FALSE(std::filesystem::exists(link.string() + ".lock"));

    const BenchLock held(link.string());
    ASSERT_TRUE(held.Held()) << held.Error();
    EXPECT_FALSE(std::filesystem::exists(target.string() + ".lock"));
    const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0) << "the file's own lock is the one held";
    ::close(fd);
}

} // namespace
