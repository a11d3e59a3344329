// Runs burnwise-cli as scripts do and checks what it prints and how it exits.

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct CliResult {
    int Status = -1;
    std::string Out;
    std::string Err;

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(Out);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CodecCommands : public testing::Test {
protected:
    std::string Temp(const std::string& name) const {
        return testing::TempDir() + "bwcli_" + std::to_string(getpid()) + "_" + name;
    }

    std::string WriteFile(const std::string& name, const std::string& contents) const {
        const std::string path = Temp(name);
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    // `args` is passed through the shell; paths used here hold no blanks.
    CliResult Cli(const std::string& args) const {
        const std::string out = Temp("stdout");
        const std::string err = Temp("stderr");
        const std::string command = std::string("cd ") + BURNWISE_SOURCE_DIR + " && " +
                                    BURNWISE_CLI + " " + args + " >" + out + " 2>" + err;
        const int raw = std::system(command.c_str());
        CliResult run;
        run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.Out = ReadAll(out);
        run.Err = ReadAll(err);
        return run;
    }
};

const char* const WorkedWords[] = {
    "0000 1234 5678 0400 3280 0018 0200 0694", "069A 12A0 0306 0041 0042 0306 0043 0044",
    "0312 0058 0059 0030 0030 0030 0030 0030", "0031 0000 0000 0000 0000 0000 0000 0000",
    "0000 0000 0000 0000 0000 0000 0000 0000", "0000 0000 0000 0000 0000 0000 0000 0000",
    "0000 0000 0000 0000 0000 0000 0000 0000", "0000 0000 0000 0000 0000 0000 0000 08CA",
};

TEST_F(CodecCommands, EncodesTheWorkedExample) {
    const CliResult run = Cli("encode examples/kr2s-worked.settings");
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    const auto lines = run.Lines();
    ASSERT_EQ(lines.size(), 18u);
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(lines[i], WorkedWords[i]);
    for (std::size_t i = 8; i < 16; ++i) {
        EXPECT_EQ(lines[i], "0000 0000 0000 0000 0000 0000 0000 0000");
    }
    EXPECT_EQ(lines[16], "Serial=XY000001");
    EXPECT_EQ(lines[17], "Fits=1");

    const CliResult dump = Cli("encode examples/kr2s-worked.settings --format dump");
    ASSERT_EQ(dump.Status, 0) << dump.Err;
    ASSERT_EQ(dump.Lines().size(), 8u);
    EXPECT_EQ(dump.Lines()[0], "0000 : 00 00 34 12 78 56 00 04 80 32 18 00 00 02 94 06"
                               "   .. .4 Vx .. 2. .. .. ..");
}

TEST_F(CodecCommands, DecodesWhatItEncodes) {
    const CliResult words = Cli("encode examples/kr2s-worked.settings");
    const CliResult bin = Cli("encode examples/kr2s-worked.settings --format bin");
    ASSERT_EQ(bin.Status, 0);
    ASSERT_EQ(bin.Out.size(), 256u);
    EXPECT_EQ(bin.Out.substr(0, 4), std::string("\x00\x00\x34\x12", 4));

    for (const auto& [name, contents] :
         {std::pair{"image.txt", words.Out}, {"image.bin", bin.Out}}) {
        SCOPED_TRACE(name);
        const std::string file = WriteFile(name, contents);
        const CliResult run = Cli("decode " + file + " --mode 1");
        ASSERT_EQ(run.Status, 0) << run.Err;
        const auto lines = run.Lines();
        ASSERT_EQ(lines.size(), 4u + 57u);
        EXPECT_EQ(lines[0], "Verdict=0");
        EXPECT_EQ(lines[1], "Selectors=Kr2Selected");
        EXPECT_EQ(lines[2], "EepromTypeName=93C46");
        EXPECT_EQ(lines[3], "TypeCodeQueries=1");
        EXPECT_EQ(lines[4], "VendorId=4660");
        EXPECT_EQ(lines[6], "Manufacturer=AB");
        EXPECT_EQ(lines[9], "SerialNumber=XY000001");
        EXPECT_EQ(lines[10], "MaxPowerMilliAmps=100");
        EXPECT_EQ(lines[20], "Kr2UsbVersion=512");
        EXPECT_EQ(lines[60], "C4Signal=0");

        const CliResult dump = Cli("dump " + file + " --selectors Kr2Selected");
        ASSERT_EQ(dump.Status, 0) << dump.Err;
        EXPECT_EQ(dump.Out, Cli("encode examples/kr2s-worked.settings --format dump").Out);
        EXPECT_EQ(Cli("dump " + file + " --selectors Kr3Selected").Lines().size(), 16u);
    }
}

TEST_F(CodecCommands, DecodeStateOptions) {
    const std::string erased = WriteFile("erased.bin", std::string(256, '\xFF'));
    struct Case {
        std::string args;
        std::vector<std::string> head;
    };
    const Case cases[] = {
        {"--mode 1 --type-code 4 --selectors Kr4Selected",
         {"Verdict=15", "Selectors=Kr3Selected", "EepromTypeName=93C46", "TypeCodeQueries=1"}},
        {"--mode 0 --selectors Kr4Selected,Kr4FifoSelected --eeprom 93C56",
         {"Verdict=15", "Selectors=Kr2Selected,Kr4Selected,Kr4FifoSelected", "EepromTypeName=93C56",
          "TypeCodeQueries=2"}},
        {"--mode 0",
         {"Verdict=15", "Selectors=Kr2Selected", "EepromTypeName=", "TypeCodeQueries=1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const CliResult run = Cli("decode " + erased + " " + c.args);
        ASSERT_EQ(run.Status, 0) << run.Err;
        const auto lines = run.Lines();
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4), c.head);
        EXPECT_EQ(lines[6], "Manufacturer=");
    }
}

TEST_F(CodecCommands, TextsTravelEscaped) {
    const std::string settings =
        WriteFile("escaped.settings", "Selectors=\r\n"
                                      "Manufacturer=A\\x01B\\x5c=x\r\n"
                                      "ProductDescription= two  blanks \r\n"
                                      "Utc=2007-06-15T12:34:56\r\n");
    const CliResult enc = Cli("encode " + settings);
    ASSERT_EQ(enc.Status, 0) << enc.Err;
    // No prefix: the generated serial begins with the zero character the image holds.
    EXPECT_EQ(enc.Lines()[16], "Serial=\\x00PZ59YW");
    EXPECT_EQ(Cli("encode " + settings + " --utc 2000-01-01T00:00:00").Lines()[16],
              "Serial=\\x00HTUPZ4");

    const CliResult dec =
        Cli("decode " + WriteFile("escaped.txt", enc.Out) + " --mode 1 --type-code 1");
    ASSERT_EQ(dec.Status, 0) << dec.Err;
    const auto lines = dec.Lines();
    EXPECT_EQ(lines[0], "Verdict=0");
    EXPECT_EQ(lines[1], "Selectors=");
    EXPECT_EQ(lines[6], "Manufacturer=A\\x01B\\x5C=x");
    EXPECT_EQ(lines[8], "ProductDescription= two  blanks ");
    EXPECT_EQ(lines[9], "SerialNumber=") << "the text stops at its zero character";
}

TEST_F(CodecCommands, ReportsWhetherTheStringsFit) {
    const std::string settings =
        WriteFile("long.settings",
                  "Selectors=Kr4Selected\nKr4Present=1\nManufacturer=" + std::string(20, 'M') +
                      "\nProductDescription=" + std::string(19, 'P') + "\nSerialNumber=ABCDEFGH\n");
    const CliResult run = Cli("encode " + settings);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Lines()[17], "Fits=0");
}

TEST_F(CodecCommands, BadInputExitsWithTwoAndOneLine) {
    const std::string good = WriteFile("good.bin", std::string(256, '\0'));
    const std::string shortWords = WriteFile("short.txt", std::string("0000 0000\n1234 ZZZZ\n"));
    const std::string fewWords = WriteFile("few.txt", "0000 0000\n");
    const auto settings = [this](const std::string& name, const std::string& line) {
        return WriteFile(name, "Selectors=Kr2Selected\n" + line + "\n");
    };
    const std::string cases[] = {
        "",
        "frobnicate",
        "decode " + good,
        "decode " + good + " --mode 2",
        "decode " + good + " --mode 1 --type-code x",
        "decode " + good + " --mode 1 --selectors Kr5Selected",
        "decode " + good + " --mode 1 --eeprom 93C86",
        "decode /nonexistent/image.bin --mode 1",
        "decode " + shortWords + " --mode 0",
        "decode " + fewWords + " --mode 0",
        "dump /nonexistent/image.bin",
        "encode",
        "encode /nonexistent/x.settings",
        "encode examples/kr2s-worked.settings --format hex",
        "encode examples/kr2s-worked.settings --utc 2007-13-01T00:00:00",
        "encode examples/kr2s-worked.settings --device-number 3",
        "encode " + settings("unknown.settings", "Colour=red"),
        "encode " + settings("nonumber.settings", "VendorId=12x"),
        "encode " + settings("wide.settings", "ProductId=0x10000"),
        "encode " + settings("bool.settings", "PlugAndPlay=2"),
        "encode " + settings("long.settings", "Manufacturer=" + std::string(64, 'M')),
        "encode " + settings("noequals.settings", "VendorId"),
        "encode " + settings("utc.settings", "Utc=2007-06-15 12:34:56"),
        "encode " + settings("eeprom.settings", "EepromTypeName=93c46"),
        "encode " + settings("selector.settings", "Selectors=Kr2"),
    };
    for (const std::string& args : cases) {
        SCOPED_TRACE(args);
        const CliResult run = Cli(args);
        EXPECT_EQ(run.Status, 2);
        EXPECT_EQ(run.Out, "");
        ASSERT_FALSE(run.Err.empty());
        EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << run.Err;
    }
}

} // namespace
