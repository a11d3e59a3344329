// vqbench end to end, on a bench file of its own.
#include "TestFiles.h"
#include "vqpipex/BenchFile.h"

#include <gtest/gtest.h>
#include <sstream>
#include <vector>

namespace {

using namespace vqpipex::testing;

class Vqbench : public ::testing::Test {
protected:
    Scratch Folder;
    std::string Bench = (Folder / "bench.txt").string();

    Ran Bench_(const std::string& args, bool withErrors = false) {
        return Shell("VQPIPEX_BENCH=" + Bench + " " + VQBENCH + " " + args, withErrors);
    }

    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
};

TEST_F(Vqbench, ListsTheDefaultBenchAndChangesIt) {
    const Ran list = Bench_("list");
    ASSERT_EQ(list.Code, 0);
    EXPECT_EQ(Lines(list.Out), (std::vector<std::string>{
                                   "0  KR2S  93C46     KR2S USB Serial",
                                   "1  KR2S  93C56     KR2S USB Serial",
                                   "2  KR3D  93C56     KR3D Dual UART A",
                                   "3  KR3D  93C56     KR3D Dual UART B",
                                   "4  KR4S  internal  KR4S USB Serial",
                               }));
    const Ran add = Bench_("add KR1F --eeprom none");
    ASSERT_EQ(add.Code, 0);
    EXPECT_EQ(add.Out, "5  KR1F  none      KR1F USB FIFO\n");
    ASSERT_EQ(Bench_("remove 3").Code, 0); // channel B: the whole KR3 goes
    EXPECT_EQ(Lines(Bench_("list").Out).size(), 4u);
    ASSERT_EQ(Bench_("reset").Code, 0);
    EXPECT_EQ(Bench_("list").Out, "");
    ASSERT_EQ(Bench_("reset --default").Code, 0);
    EXPECT_EQ(Lines(Bench_("list").Out).size(), 5u);
}

TEST_F(Vqbench, RefusesBadCommandsWithOneLineAndExitTwo) {
    const char* bad[] = {
        "",
        "list extra",
        "add KR9X",
        "add KR2S --eeprom 93C86",
        "remove 5",
        "remove x",
        "reset --all",
        "dump 9",
        "load 0 /nonexistent/image.bin",
        "fault 0 melt",
        "fault 0 read --word 256",
        "fault 0 open --word 3",
        "fault 0 read --status 0",
        "fault 0 ignore-writes --status 4",
        "fault 7 clear",
    };
    for (const char* args : bad) {
        SCOPED_TRACE(args);
        const Ran ran = Bench_(args, true);
        EXPECT_EQ(ran.Code, 2);
        EXPECT_EQ(Lines(ran.Out).size(), 1u) << ran.Out;
        EXPECT_EQ(ran.Out.rfind("vqbench: ", 0), 0u) << ran.Out;
    }
}

TEST_F(Vqbench, DumpShowsEveryWordOfThePartInTheProgrammersFormat) {
    ASSERT_EQ(Bench_("reset").Code, 0);
    ASSERT_EQ(Bench_("add KR2S --eeprom 93C46").Code, 0);
    ASSERT_EQ(Bench_("add KR2S --eeprom 93C56").Code, 0);
    ASSERT_EQ(Bench_("add KR2S --eeprom 93C66").Code, 0);
    ASSERT_EQ(Bench_("add KR4F").Code, 0);
    ASSERT_EQ(Bench_("add KR1S --eeprom none").Code, 0);

    // The first 8 words of a programmed image, the rest counting up.
    std::string image(256, '\0');
    const unsigned char head[16] = {0x00, 0x00, 0x34, 0x12, 0x78, 0x56, 0x00, 0x04,
                                    0x80, 0x32, 0x18, 0x00, 0x00, 0x02, 0x94, 0x06};
    for (std::size_t i = 0; i < 256; ++i)
        image[i] = static_cast<char>(i < 16 ? head[i] : i);
    WriteAll(Folder / "image.bin", image);
    for (const char* n : {"0", "1", "2", "3"})
        ASSERT_EQ(Bench_(std::string("load ") + n + " " + (Folder / "image.bin").string()).Code, 0);

    const char* first =
        "0000 : 00 00 34 12 78 56 00 04 80 32 18 00 00 02 94 06   .. .4 Vx .. 2. .. .. ..";
    struct Row {
        const char* Device;
        std::size_t Lines;
        const char* Last;
    };
    const Row rows[] = {
        {"0", 8,
         "0070 : 70 71 72 73 74 75 76 77 78 79 7A 7B 7C 7D 7E 7F   qp sr ut wv yx {z }| .~"},
        {"1", 16,
         "00F0 : F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF   .. .. .. .. .. .. .. .."},
        // A 93C66 takes the image's 128 words; the upper half stays blank.
        {"2", 32,
         "01F0 : FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF   .. .. .. .. .. .. .. .."},
        {"3", 10,
         "0090 : 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00   .. .. .. .. .. .. .. .."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Device);
        const Ran dump = Bench_(std::string("dump ") + row.Device);
        ASSERT_EQ(dump.Code, 0);
        const auto lines = Lines(dump.Out);
        ASSERT_EQ(lines.size(), row.Lines);
        EXPECT_EQ(lines.front(), first);
        EXPECT_EQ(lines.back(), row.Last);
    }
    // A KR4 keeps its factory words: word 65 still complements word 64, word 66 says FIFO.
    const auto kr4 = Lines(Bench_("dump 3").Out);
    const auto read = vqpipex::ReadBenchFile(Bench);
    ASSERT_TRUE(read.Value);
    const auto& words = read.Value->Chips[3].Words;
    EXPECT_EQ(words[65], static_cast<std::uint16_t>(~words[64]));
    EXPECT_EQ(words[66], 1);
    EXPECT_EQ(kr4[8].substr(19, 5), "01 00"); // word 66, low byte first

    const Ran none = Bench_("dump 4", true);
    EXPECT_EQ(none.Code, 2);
    EXPECT_EQ(none.Out, "vqbench: device 4 has no EEPROM\n");
    WriteAll(Folder / "short.bin", std::string(255, 'x'));
    EXPECT_EQ(Bench_("load 0 " + (Folder / "short.bin").string()).Code, 2);
    WriteAll(Folder / "long.bin", std::string(257, 'x'));
    EXPECT_EQ(Bench_("load 0 " + (Folder / "long.bin").string()).Code, 2);
}

TEST_F(Vqbench, FaultsAreStoredPerDevice) {
    ASSERT_EQ(Bench_("fault 3 read --word 7 --status 4 --times 2").Code, 0);
    ASSERT_EQ(Bench_("fault 3 ignore-writes").Code, 0);
    ASSERT_EQ(Bench_("fault 0 open").Code, 0);
    auto read = vqpipex::ReadBenchFile(Bench);
    ASSERT_TRUE(read.Value) << read.Error;
    const auto& kr3 = read.Value->Chips[2];
    EXPECT_TRUE(kr3.Faults[0].empty()); // channel A untouched
    ASSERT_EQ(kr3.Faults[1].size(), 2u);
    EXPECT_EQ(kr3.Faults[1][0], (vqpipex::Fault{vqpipex::FaultKind::Read, 7, VQ_IO_ERROR, 2}));
    EXPECT_EQ(kr3.Faults[1][1].Kind, vqpipex::FaultKind::IgnoreWrites);
    EXPECT_EQ(read.Value->Chips[0].Faults[0].at(0).Status, VQ_DEVICE_NOT_OPENED);
    ASSERT_EQ(Bench_("fault 3 clear").Code, 0);
    read = vqpipex::ReadBenchFile(Bench);
    EXPECT_TRUE(read.Value->Chips[2].Faults[1].empty());
    EXPECT_EQ(read.Value->Chips[0].Faults[0].size(), 1u);
}

TEST_F(Vqbench, ConcurrentAddsAreAllKept) {
    ASSERT_EQ(Bench_("reset").Code, 0);
    // Eight vqbench processes at once, each adding a chip under the bench lock.
    std::string command = "VQPIPEX_BENCH=" + Bench +
                          "; export VQPIPEX_BENCH; for i in 1 2 3 4 5 6 7 8; do " +
                          std::string(VQBENCH) + " add KR2S >/dev/null & done; wait";
    ASSERT_EQ(Shell(command).Code, 0);
    EXPECT_EQ(Lines(Bench_("list").Out).size(), 8u);
}

} // namespace
