// burnwise-cli's template commands, run as a user runs them.

#include "FormFixture.h"

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>

namespace burnwise::ui::testing {
namespace {

struct Result {
    int Exit = -1;
    std::string Out;
    std::string Err;
};

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class Cli : public ::testing::Test {
protected:
    TempFolder Folder;

    Result Run(const std::vector<std::string>& args) {
        std::string command = Quote(BURNWISE_CLI);
        for (const std::string& arg : args)
            command += " " + Quote(arg);
        const fs::path out = Folder.Path / "stdout", err = Folder.Path / "stderr";
        command += " >" + Quote(out.string()) + " 2>" + Quote(err.string());
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadBytes(out), ReadBytes(err)};
    }

    fs::path File(const std::string& name) const { return Folder.Path / name; }
};

TEST_F(Cli, NewKr2sIsTheShippedWorkedExample) {
    const Result r = Run({"template", "new", File("w.ept").string(), "--model", "KR2S"});
    ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;
    EXPECT_EQ(ReadBytes(File("w.ept")),
              ReadBytes(fs::path(BW_SOURCE_DIR) / "examples/templates/KR2S-Serial-Cable.ept"));
    EXPECT_NE(ReadBytes(File("w.ept")).find("Product=USB <-> Serial Cable\r\n"), std::string::npos);
}

TEST_F(Cli, NewWithoutModelFailsTheCheckAndWritesNothing) {
    const Result none = Run({"template", "new", File("n.ept").string()});
    EXPECT_EQ(none.Exit, 1);
    EXPECT_EQ(none.Out, "ERROR : You must select a valid device type\n");
    EXPECT_FALSE(fs::exists(File("n.ept")));
    EXPECT_EQ(Run({"template", "new", File("n.ept").string(), "--model", "KR9"}).Exit, 2);
}

TEST_F(Cli, ShowPrintsTheValuesThenLinesAndBoxes) {
    WriteBytes(File("s.ept"),
               "[Basic Details]\r\nDevice Type=3\r\nVID PID Type=2\r\nUSB VID=0000\r\n"
               "[USB String Descriptors]\r\nManufacturer=A\tB\\C\r\nProduct=" +
                   std::string(60, 'P') + "\r\n");
    const Result r = Run({"template", "show", File("s.ept").string()});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < r.Out.size();) {
        const std::size_t end = r.Out.find('\n', start);
        lines.push_back(r.Out.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), 50u) << r.Out;
    EXPECT_EQ(lines[0], "Basic Details/Device Type=3");
    EXPECT_EQ(lines[2], "Basic Details/USB VID=3C5A");
    EXPECT_EQ(lines[12], "USB String Descriptors/Manufacturer=A\\x09B\\x5CC");
    EXPECT_EQ(lines[48], "KR4 Device Specific Options/In EndPoint Size=0");
    EXPECT_TRUE(lines[49].starts_with("ERROR - Total String Length exceeds maximum."));
    EXPECT_EQ(r.Err, "info: All zeros is an invalid VID\n");

    const Result missing = Run({"template", "show", File("missing.ept").string()});
    EXPECT_EQ(missing.Exit, 2);
    EXPECT_TRUE(missing.Out.empty());
}

TEST_F(Cli, ShowPrintsEveryValueAfterABoxAndThenFails) {
    WriteBytes(File("abc.ept"), "[Basic Details]\r\nDevice Type=3\r\n[USB Power Options]\r\n"
                                "Bus Powered=1\r\nMax Bus Power=abc\r\n");
    const Result r = Run({"template", "show", File("abc.ept").string()});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(r.Err, "error: 'abc' is not a valid integer value\n");
    EXPECT_NE(r.Out.find("Basic Details/Device Type=3\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("USB Power Options/Max Bus Power=abc\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("KR4 Device Specific Options/In EndPoint Size=0\n"), std::string::npos)
        << r.Out;
}

TEST_F(Cli, CheckReportsWhatASaveWouldRefuse) {
    WriteBytes(File("empty.ept"), "");
    const Result bad = Run({"template", "check", File("empty.ept").string()});
    EXPECT_EQ(bad.Exit, 1);
    EXPECT_EQ(bad.Out, "ERROR : You must fill in the Serial Number Prefix field with 2 characters\n"
                       "ERROR : You must fill in Manufacturer Name\n"
                       "ERROR : You must fill in Product Description\n"
                       "ERROR : You must fill in current used from USB (0-500mA)\n"
                       "ERROR : You must select a valid device type\n");
    const fs::path example = fs::path(BW_SOURCE_DIR) / "examples/templates/KR3D-Dual-UART.ept";
    const Result good = Run({"template", "check", example.string()});
    EXPECT_EQ(good.Exit, 0);
    EXPECT_TRUE(good.Out.empty()) << good.Out;
}

TEST_F(Cli, EncodeFromATemplateMatchesTheSameSettingsEncodedDirectly) {
    WriteBytes(
        File("e.ept"),
        "[Basic Details]\r\nDevice Type=3\r\nVID PID Type=2\r\nUSB VID=1234\r\nUSB PID=5678\r\n"
        "[USB Power Options]\r\nBus Powered=1\r\nMax Bus Power=100\r\n"
        "[USB Serial Number Control]\r\nUse Fixed Serial Number=1\r\n"
        "Fixed Serial Number=XY000000\r\n[Windows Plug and Play]\r\nEnable Plug and Play=1\r\n"
        "[USB String Descriptors]\r\nManufacturer=AB\r\nProduct=CD\r\n"
        "[KR2 Device Specific Options]\r\nUSB Version Number=1\r\n");
    const Result fromTemplate = Run({"encode", "--template", File("e.ept").string(),
                                     "--device-number", "1", "--eeprom", "93C46"});
    const Result direct =
        Run({"encode", (fs::path(BW_SOURCE_DIR) / "examples/kr2s-worked.settings").string()});
    ASSERT_EQ(fromTemplate.Exit, 0) << fromTemplate.Err;
    ASSERT_EQ(direct.Exit, 0) << direct.Err;
    EXPECT_EQ(fromTemplate.Out, direct.Out);
    EXPECT_FALSE(fromTemplate.Out.empty());

    const Result missing = Run({"encode", "--template", File("missing.ept").string()});
    EXPECT_NE(missing.Exit, 0);
    EXPECT_NE(missing.Err.find("missing.ept"), std::string::npos);
}

TEST_F(Cli, OddPathsEndInOneLineAndExit2) {
    const std::string dir = Folder.Path.string();
    WriteBytes(File("ro.ept"), "keep");
    ::chmod(File("ro.ept").c_str(), 0444);
    struct Case {
        std::vector<std::string> Args;
        std::string Err; // start of the one line on stderr
    };
    const std::vector<Case> cases = {
        {{"decode", dir, "--mode", "1"}, "burnwise-cli: cannot read " + dir + ": is a folder"},
        {{"dump", dir}, "burnwise-cli: cannot read " + dir + ": is a folder"},
        {{"encode", dir}, "burnwise-cli: cannot read " + dir + ": is a folder"},
        {{"template", "show", dir}, "error: Cannot open file \"" + dir + "\": is a folder"},
        {{"encode", "--template", dir}, "error: Cannot open file \"" + dir + "\": is a folder"},
        {{"template", "new", dir, "--model", "KR2S"}, "error: Unable to write to " + dir},
        {{"decode", "/dev/zero", "--mode", "1"},
         "burnwise-cli: cannot read /dev/zero: is longer than 65536 bytes"},
        {{"template", "show", "/dev/zero"},
         "error: Cannot open file \"/dev/zero\": is longer than 262144 bytes"},
        {{"template", "new", File("ro.ept").string(), "--model", "KR2S"},
         "error: Unable to write to " + File("ro.ept").string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Args[0] + " " + c.Args[1]);
        const Result r = Run(c.Args);
        EXPECT_EQ(r.Exit, 2) << r.Err;
        EXPECT_TRUE(r.Err.starts_with(c.Err)) << r.Err;
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
    }
    EXPECT_EQ(ReadBytes(File("ro.ept")), "keep");
}

TEST_F(Cli, AProcessSubstitutionIsReadAsATemplate) {
    const fs::path example = fs::path(BW_SOURCE_DIR) / "examples/templates/KR2S-Serial-Cable.ept";
    const Result direct = Run({"template", "show", example.string()});
    const std::string command =
        "bash -c " +
        Quote(Quote(BURNWISE_CLI) + " template show <(cat " + Quote(example.string()) + ")") +
        " >" + Quote(File("out").string()) + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadBytes(File("out"));
    ASSERT_EQ(direct.Exit, 0);
    EXPECT_EQ(ReadBytes(File("out")), direct.Out);
    EXPECT_NE(direct.Out.find("Product=USB <-> Serial Cable"), std::string::npos);
}

} // namespace
} // namespace burnwise::ui::testing
