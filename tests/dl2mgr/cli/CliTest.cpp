// dl2mgr-cli end to end against the dahlo2-sim program over a pseudo-terminal.
#include "dl2mgr/editor/ImageFile.h"
#include "dl2mgr/editor/MessageCoding.h"
#include "support/TempFolder.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <numeric>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace dl2mgr::cli {
namespace {

namespace fs = std::filesystem;
using editor::KeyerImage;

struct CliRun {
    int ExitCode = -1;
    std::string Out, Err;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_);
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert("XDG_CONFIG_HOME", Q(dir_ / "config"));
    }
    void TearDown() override { StopSim(); }

    static QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }

    // Starts dahlo2-sim with its EEPROM in image.eep and its log in wire.log; returns the
    // terminal's path.
    std::string StartSim(QStringList args) {
        args << "--image" << Q(dir_ / "image.eep") << "--log" << Q(dir_ / "wire.log");
        sim_.setProcessEnvironment(env_);
        sim_.start(DAHLO2_SIM, args);
        EXPECT_TRUE(sim_.waitForStarted(5000));
        EXPECT_TRUE(sim_.waitForReadyRead(5000));
        return sim_.readLine().trimmed().toStdString();
    }
    void StopSim() {
        if (sim_.state() == QProcess::NotRunning) return;
        sim_.terminate();
        if (!sim_.waitForFinished(5000)) {
            sim_.kill();
            sim_.waitForFinished(5000);
        }
    }

    CliRun Cli(const QStringList& args, const char* program = DL2MGR_CLI) {
        QProcess cli;
        cli.setProcessEnvironment(env_);
        cli.start(program, args);
        CliRun run;
        if (!cli.waitForStarted(5000)) return run;
        if (!cli.waitForFinished(15000)) {
            cli.kill();
            cli.waitForFinished(5000);
            ADD_FAILURE() << "dl2mgr-cli did not finish: " << args.join(' ').toStdString();
            return run;
        }
        run.ExitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
        run.Out = cli.readAllStandardOutput().toStdString();
        run.Err = cli.readAllStandardError().toStdString();
        return run;
    }

    std::string Slurp(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    bwtest::TempFolder scratch_{"dl2mgr-cli-"};
    const fs::path dir_ = scratch_.Path;
    QProcessEnvironment env_;
    QProcess sim_;
};

KeyerImage Counting(std::uint8_t from) {
    KeyerImage image;
    std::iota(image.begin(), image.end(), from);
    return image;
}

// An image the editor's field checks take: Weight `weight`, two messages, and bytes past
// the messages that must pass through as they are.
KeyerImage Acceptable(std::uint8_t weight) {
    KeyerImage image = Counting(0);
    const std::uint8_t settings[] = {0x00, 0x1B, 0x00, 5,  weight, 10,   20,   15, 20,
                                     1,    2,    0,    50, 40,     0xB9, 0x0C, 25};
    std::copy(std::begin(settings), std::end(settings), image.begin());
    EXPECT_EQ(editor::EncodeMessages(image, {"CQ TEST", "", "5NN TU", "", "", ""}),
              editor::EncodeResult::Stored);
    return image;
}

TEST_F(CliTest, InfoPrintsStatusRevisionAndStatusBytes) {
    const std::string device = StartSim({"--fast", "--revision", "31", "--pot", "9", "--pb", "4"});
    const CliRun run = Cli({"--device", QString::fromStdString(device), "info"});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "DL Open, F/W revision 31\nRevision: 31\nPotVal: 9\nPbVal: 4\n");
}

TEST_F(CliTest, PortComesFromTheOptionOrTheConfigFile) {
    const std::string device = StartSim({"--fast", "--com", "4"});
    EXPECT_EQ(Cli({"--port", "4", "info"}).ExitCode, 0);
    fs::create_directories(dir_ / "config" / "dl2mgr");
    std::ofstream(dir_ / "config" / "dl2mgr" / "dl2mgr.cfg", std::ios::binary)
        .write("\x04\x00\x00\x00", 4);
    const CliRun run = Cli({"info"});
    EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    fs::remove(dir_ / "config" / "dl2mgr" / "dl2mgr.cfg");
    EXPECT_EQ(Cli({"show", Q(dir_ / "missing.eep")}).ExitCode, 2);
    EXPECT_FALSE(fs::exists(dir_ / "config" / "dl2mgr" / "dl2mgr.cfg")); // no port needed
    EXPECT_EQ(Cli({"--port", "10000", "info"}).ExitCode, 1);
    EXPECT_EQ(Cli({"--device", QString::fromStdString(device), "info"}).ExitCode, 0);
    EXPECT_FALSE(fs::exists(dir_ / "config" / "dl2mgr" / "dl2mgr.cfg"));
    EXPECT_EQ(Cli({"--port", "10000", "info"}).Out, "DL Fail:comm open\n");

    // Without a config file the port is 1, and the file is made holding it.
    fs::create_symlink(device, dir_ / "config" / "dl2mgr" / "ports" / "COM1");
    EXPECT_EQ(Cli({"info"}).ExitCode, 0);
    EXPECT_EQ(Slurp(dir_ / "config" / "dl2mgr" / "dl2mgr.cfg"), std::string("\x01\0\0\0", 4));
}

TEST_F(CliTest, ReadFetchesTheKeyersImageAndWriteSendsAFile) {
    ASSERT_EQ(editor::SaveImageFile(dir_ / "image.eep", Counting(5)), "");
    const QString device = QString::fromStdString(StartSim({"--fast"}));

    CliRun run = Cli({"--device", device, "read", Q(dir_ / "out.eep")});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "DL Open, F/W revision 23\nReading\nDone\n");
    KeyerImage read{};
    ASSERT_EQ(editor::LoadImageFile(dir_ / "out.eep", read), "");
    EXPECT_EQ(read, Counting(5));

    ASSERT_EQ(editor::SaveImageFile(dir_ / "in.eep", Acceptable(77)), "");
    run = Cli({"--device", device, "write", Q(dir_ / "in.eep")});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "DL Open, F/W revision 23\nWriting\nDone\n");
    KeyerImage kept{};
    for (int i = 0; i < 100; ++i) {
        if (editor::LoadImageFile(dir_ / "image.eep", kept) == "" && kept == Acceptable(77)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(kept, Acceptable(77));

    run = Cli({"--device", device, "test", "3"});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "DL Open, F/W revision 23\nMessage 3 started\n");
    // The last bytes the keyer received are the message test command.
    std::vector<std::string> received;
    std::istringstream log(Slurp(dir_ / "wire.log"));
    for (std::string seconds, direction, byte; log >> seconds >> direction >> byte;) {
        if (direction == "RX") received.push_back(byte);
    }
    ASSERT_GE(received.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(received.end() - 3, received.end()),
              (std::vector<std::string>{"00", "0E", "03"}));
}

TEST_F(CliTest, WriteChecksTheFieldsFirstAndVerifiesWhatTheKeyerHolds) {
    // Refused with the window's texts before anything is sent.
    struct Refused {
        std::size_t Offset;
        std::uint8_t Value;
        const char* Error;
    } refused[] = {
        {4, 171, "Weight must be between 10 and 90"},
        {8, 248, "Pot Max must be between 5 and 99"}, // MAX 15 + 248 = 263
        {3, 0, "Sidetone Hz must be one of the list's tones"},
    };
    const QString device = QString::fromStdString(StartSim({"--fast", "--short-dump", "200"}));
    for (const Refused& r : refused) {
        KeyerImage image = Acceptable(50);
        image[r.Offset] = r.Value;
        ASSERT_EQ(editor::SaveImageFile(dir_ / "bad.eep", image), "");
        const CliRun run = Cli({"--device", device, "write", Q(dir_ / "bad.eep")});
        EXPECT_EQ(run.ExitCode, 2) << r.Error;
        EXPECT_EQ(run.Err, std::string(r.Error) + "\n");
        EXPECT_EQ(run.Out, "");
    }
    EXPECT_EQ(Slurp(dir_ / "wire.log"), ""); // the keyer heard nothing

    // The keyer takes the write but sends back only 200 bytes: not "Done".
    ASSERT_EQ(editor::SaveImageFile(dir_ / "in.eep", Acceptable(60)), "");
    CliRun run = Cli({"--device", device, "write", Q(dir_ / "in.eep")});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Out, "DL Open, F/W revision 23\nWriting\nVerify failed\n");
    EXPECT_EQ(run.Err, "Verify failed: reading it back, the keyer sent 200 of its 256 bytes, so "
                       "what it holds is not known. Write the image again.\n");
    // Not read back is not "Done".
    run = Cli({"--device", device, "write", "--no-verify", Q(dir_ / "in.eep")});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "DL Open, F/W revision 23\nWriting\nSent - not verified\n");
    EXPECT_NE(Cli({"write", "--help"}).Out.find("--no-verify"), std::string::npos);
}

TEST_F(CliTest, ShowPrintsAnImageAsTheEditorShowsIt) {
    KeyerImage image{};
    const std::uint8_t settings[] = {0x00, 0x1B, 0x00, 5,  50, 10,   20,   15, 20,
                                     1,    2,    0,    50, 40, 0xB9, 0x0C, 25};
    std::copy(std::begin(settings), std::end(settings), image.begin());
    ASSERT_EQ(editor::EncodeMessages(image, {"cq test", "", "5NN TU", "", "", "a:b"}),
              editor::EncodeResult::Stored);
    ASSERT_EQ(editor::SaveImageFile(dir_ / "show.eep", image), "");
    const CliRun run = Cli({"show", Q(dir_ / "show.eep")});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "Weight: 50\nLeadIn: 10\nTail: 20\n1stExt: 1\nComp: 2\nFarns: 0\n"
                       "Sample: 50\nRatio: 40\nCmdWpm: 25\nMAX: 35\nMIN: 15\n"
                       "Keyer Mode: Iambic A\nPaddle Hang: 2.0 Word\nSidetone Hz: 800\n"
                       "Output Config: Port2, PTT\nSwap: on\nAutoSpace: on\nCTspace: on\n"
                       "PaddleDog: on\nCut 0/9: on\nMsgBrk: on\n"
                       "Message 1: \"CQ TEST\"\nMessage 2: \"\"\nMessage 3: \"5NN TU\"\n"
                       "Message 4: \"\"\nMessage 5: \"\"\nMessage 6: \"A(B\"\n");
}

TEST_F(CliTest, BadArgumentsExitWithTwoAndTouchNoKeyer) {
    const QString device = QString::fromStdString(StartSim({"--fast"}));
    std::ofstream(dir_ / "short.eep") << "ten bytes!";
    // The configured port leads to the keyer too: an empty --device must not fall back to it.
    fs::create_directories(dir_ / "config" / "dl2mgr" / "ports");
    fs::create_symlink(device.toStdString(), dir_ / "config" / "dl2mgr" / "ports" / "COM2");
    std::ofstream(dir_ / "config" / "dl2mgr" / "dl2mgr.cfg", std::ios::binary)
        .write("\x02\x00\x00\x00", 4);
    ASSERT_EQ(editor::SaveImageFile(dir_ / "good.eep", Acceptable(70)), "");
    const QString good = Q(dir_ / "good.eep");
    const QStringList cases[] = {
        {},
        {"--device", device},
        {"--device", device, "test", "0"},
        {"--device", device, "test", "7"},
        {"--device", device, "read"},
        {"--port", "1", "--device", device, "info"},
        {"--device", device, "erase"},
        {"show", Q(dir_ / "missing.eep")},
        {"show", Q(dir_ / "short.eep")},
        {"--device", device, "write", Q(dir_ / "short.eep")},
        {"--device", "", "write", good},
        {"--device=", "write", good},
        {"--device", "", "read", Q(dir_ / "out.eep")},
        {"--device", "", "test", "1"},
        {"--device", "", "info"},
        {"--device", device, "read", ""},
        {"--device", device, "write", ""},
        {"show", ""},
    };
    for (const auto& args : cases) {
        const CliRun run = Cli(args);
        EXPECT_EQ(run.ExitCode, 2) << args.join(' ').toStdString() << "\n" << run.Err;
    }
    EXPECT_NE(Cli({"show", Q(dir_ / "short.eep")}).Err.find("exactly 256 bytes"),
              std::string::npos);
    EXPECT_EQ(Cli({"--device", "", "write", good}).Err,
              "dl2mgr-cli: --device: the device name is empty\n");
    EXPECT_EQ(Slurp(dir_ / "wire.log"), ""); // the keyer heard nothing
    EXPECT_FALSE(fs::exists(dir_ / "out.eep"));
}

TEST_F(CliTest, TwoNamesForOnePortExcludeEachOther) {
    // Paced at 1200 baud, a verified write holds the port for about 3 s.
    const std::string device = StartSim({"--com", "3"});
    fs::create_symlink(device, dir_ / "usb-Maker_Adapter_A1-if00-port0");
    ASSERT_EQ(editor::SaveImageFile(dir_ / "first.eep", Acceptable(41)), "");
    ASSERT_EQ(editor::SaveImageFile(dir_ / "second.eep", Acceptable(42)), "");
    QProcess first;
    first.setProcessEnvironment(env_);
    first.start(DL2MGR_CLI,
                {"--device", QString::fromStdString(device), "write", Q(dir_ / "first.eep")});
    ASSERT_TRUE(first.waitForStarted(5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));

    const QStringList others[] = {
        {"--port", "3", "write", Q(dir_ / "second.eep")},
        {"--device", Q(dir_ / "usb-Maker_Adapter_A1-if00-port0"), "read", Q(dir_ / "during.eep")},
        {"--device", QString::fromStdString(device), "info"},
    };
    for (const QStringList& args : others) {
        const CliRun run = Cli(args);
        EXPECT_EQ(run.ExitCode, 1) << args.join(' ').toStdString();
        EXPECT_EQ(run.Out, "DL Fail:comm open\n");
        EXPECT_NE(run.Err.find(" is in use by another program"), std::string::npos) << run.Err;
    }
    ASSERT_TRUE(first.waitForFinished(15000));
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
    EXPECT_EQ(first.readAllStandardOutput().toStdString(),
              "DL Open, F/W revision 23\nWriting\nDone\n");
    EXPECT_FALSE(fs::exists(dir_ / "during.eep"));
    KeyerImage kept{};
    ASSERT_EQ(editor::LoadImageFile(dir_ / "image.eep", kept), "");
    EXPECT_EQ(kept, Acceptable(41));
    // Free again once the first is done.
    EXPECT_EQ(Cli({"--port", "3", "info"}).ExitCode, 0);
}

TEST_F(CliTest, ADumpIsTheKeyers256BytesOrAFailure) {
    ASSERT_EQ(editor::SaveImageFile(dir_ / "image.eep", Acceptable(66)), "");
    const KeyerImage keyer = Acceptable(66);
    struct Case {
        const char* Fault;
        int ExitCode;
        const char* ErrHolds; // nullptr: the read succeeds and the file is the keyer's image
    } cases[] = {
        {"echo", 0, nullptr}, // the echo answered 55 0D
        {"pb", 0, nullptr},   // a byte after the PbVal reply
        {"long", 1, "Read failed: the keyer sent more than its 256 bytes"},
    };
    for (const Case& c : cases) {
        StopSim();
        const QString device = QString::fromStdString(StartSim(
            c.Fault == std::string("long") ? QStringList{"--fast", "--long-dump", "300"}
                                           : QStringList{"--fast", "--stray-after", c.Fault}));
        fs::remove(dir_ / "out.eep");
        const CliRun run = Cli({"--device", device, "read", Q(dir_ / "out.eep")});
        EXPECT_EQ(run.ExitCode, c.ExitCode) << c.Fault << ": " << run.Err;
        EXPECT_EQ(run.Out.substr(0, 25), "DL Open, F/W revision 23\n") << c.Fault;
        if (c.ErrHolds) {
            EXPECT_NE(run.Err.find(c.ErrHolds), std::string::npos) << c.Fault << ": " << run.Err;
            EXPECT_FALSE(fs::exists(dir_ / "out.eep")) << c.Fault;
        } else {
            EXPECT_EQ(Slurp(dir_ / "out.eep"), std::string(keyer.begin(), keyer.end())) << c.Fault;
        }
    }
}

TEST_F(CliTest, KeyerNotConnectedExitsWithOne) {
    CliRun run = Cli({"--device", Q(dir_ / "no-such-tty"), "info"});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Out, "DL Fail:comm open\n");
    EXPECT_EQ(run.Err, "DL not connected: no such device " + (dir_ / "no-such-tty").string() +
                           ": plug the adapter in, or choose another port (dl2mgr-cli ports "
                           "lists them).\n");

    const QString device = QString::fromStdString(StartSim({"--fast", "--wrong-echo"}));
    run = Cli({"--device", device, "read", Q(dir_ / "out.eep")});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Out, "DL Fail:echo mismatch\n");
    EXPECT_FALSE(fs::exists(dir_ / "out.eep"));
}

TEST_F(CliTest, APortThatDoesNotOpenSaysWhyAndWhatToDo) {
    const std::string device = StartSim({"--fast"});
    fs::create_directory(dir_ / "folder");
    struct Case {
        QStringList Args;
        std::string Err;
    } cases[] = {
        {{"--device", Q(dir_ / "folder"), "info"},
         "DL not connected: " + (dir_ / "folder").string() + " is a folder, not a serial port.\n"},
        {{"--device", "/dev/null", "info"},
         "DL not connected: /dev/null is not a terminal: choose a serial port.\n"},
        {{"--device", Q(dir_ / "ttyUSB9"), "info"},
         "DL not connected: no such device " + (dir_ / "ttyUSB9").string() +
             ": plug the adapter in, or choose another port (dl2mgr-cli ports lists them).\n"},
    };
    for (const Case& c : cases) {
        const CliRun run = Cli(c.Args);
        EXPECT_EQ(run.ExitCode, 1) << c.Err;
        EXPECT_EQ(run.Out, "DL Fail:comm open\n");
        EXPECT_EQ(run.Err, c.Err);
    }
    // Permissions bind everyone but root: run as nobody to see the refusal.
    if (::geteuid() != 0 || !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs root";
    const CliRun run = Cli({"--reuid=65534", "--regid=65534", "--clear-groups", DL2MGR_CLI,
                            "--device", QString::fromStdString(device), "info"},
                           "/usr/bin/setpriv");
    EXPECT_EQ(run.ExitCode, 1) << run.Err;
    EXPECT_NE(run.Err.find("DL not connected: permission denied on " + device +
                           ": the user must be in the group "),
              std::string::npos)
        << run.Err;
}

TEST_F(CliTest, ScriptsGetJsonAndChangeImagesThroughTheWindowsChecks) {
    const QString device = QString::fromStdString(StartSim({"--fast", "--pot", "7"}));
    // Options after the command; one object on stdout.
    CliRun run = Cli({"info", "--json", "--device", device});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "{\"connection\": \"DL Open, F/W revision 23\", \"revision\": 23, "
                       "\"potVal\": 7, \"pbVal\": 0, \"errors\": [], \"exitStatus\": 0}\n");
    const QString file = Q(dir_ / "k.eep");
    run = Cli({"read", file, "--device", device, "--json"});
    EXPECT_EQ(run.Out, "{\"file\": " + ("\"" + file.toStdString() + "\"") +
                           ", \"connection\": \"DL Open, F/W revision 23\", \"operation\": "
                           "\"Done\", \"errors\": [], \"exitStatus\": 0}\n");

    struct Case {
        QStringList Settings;
        int ExitCode;
        const char* ErrHolds; // nullptr: accepted
    } cases[] = {
        {{"Weight=60", "Keyer Mode=Iambic B", "Swap=on", "Message 1=cq \"de\" #"},
         2,
         "no Morse form"},
        {{"Weight=95"}, 2, "Weight must be between 10 and 90"},
        {{"MIN=30", "MAX=20"}, 2, "Pot Max must be greater than Pot Min"},
        {{"Sidetone Hz=123"}, 2, "Sidetone Hz has no item \"123\""},
        {{"Swap=yes"}, 2, "Swap is on or off"},
        {{"Colour=red"}, 2, "not a setting: \"Colour=red\""},
        {{"Weight=60", "Keyer Mode=Iambic B", "Swap=on", "Message 1=cq \"de\" test"}, 0, nullptr},
    };
    for (const Case& c : cases) {
        const std::string before = Slurp(dir_ / "k.eep");
        run = Cli(QStringList{"set", file} + c.Settings);
        EXPECT_EQ(run.ExitCode, c.ExitCode) << c.Settings.join(' ').toStdString() << run.Err;
        if (c.ErrHolds) {
            EXPECT_NE(run.Err.find(c.ErrHolds), std::string::npos) << run.Err;
            EXPECT_EQ(Slurp(dir_ / "k.eep"), before); // nothing written
        }
    }
    run = Cli({"show", file});
    EXPECT_NE(run.Out.find("Weight: 60\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("Keyer Mode: Iambic B\nPaddle Hang"), std::string::npos);
    EXPECT_NE(run.Out.find("Message 1: \"CQ \\\"DE\\\" TEST\"\n"), std::string::npos) << run.Out;
    run = Cli({"--json", "show", file});
    EXPECT_NE(run.Out.find("\"Swap\": true, "), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("\"Message 1\": \"CQ \\\"DE\\\" TEST\", "), std::string::npos);
    run = Cli({"--json", "ports"});
    EXPECT_EQ(run.Out.rfind("{\"ports\": [", 0), 0u) << run.Out;

    run = Cli({"--device", device, "erase"});
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_EQ(run.Err, "dl2mgr-cli: unknown command \"erase\" (commands: info, read, write, "
                       "test, show, set, ports)\n");
}

TEST_F(CliTest, IncompleteReadLeavesTheFileAlone) {
    ASSERT_EQ(editor::SaveImageFile(dir_ / "out.eep", Counting(1)), "");
    const QString device = QString::fromStdString(StartSim({"--fast", "--short-dump", "100"}));
    const CliRun run = Cli({"--device", device, "read", Q(dir_ / "out.eep")});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Err.find("256"), std::string::npos) << run.Err;
    KeyerImage old{};
    ASSERT_EQ(editor::LoadImageFile(dir_ / "out.eep", old), "");
    EXPECT_EQ(old, Counting(1));
}

TEST_F(CliTest, HostilePathsEndInOneLineAndKeepEveryFile) {
    ASSERT_EQ(editor::SaveImageFile(dir_ / "image.eep", Counting(9)), "");
    const QString device = QString::fromStdString(StartSim({"--fast"}));
    ASSERT_EQ(editor::SaveImageFile(dir_ / "good.eep", Counting(40)), "");
    fs::create_directory(dir_ / "folder");
    std::ofstream(dir_ / "target.eep") << "old";
    fs::create_symlink("target.eep", dir_ / "link.eep");
    std::ofstream(dir_ / "ro.eep") << "old";
    fs::permissions(dir_ / "ro.eep", fs::perms::owner_read | fs::perms::group_read);

    // Through a shell, for the process substitution and the umask.
    auto shell = [&](const std::string& line) {
        return Cli({"-c", QString::fromStdString(line)}, "/bin/bash");
    };
    const std::string cli = DL2MGR_CLI;
    const std::string dev = device.toStdString();
    struct Case {
        const char* Name;
        CliRun Run;
        int ExitCode;
        const char* ErrHolds; // nullptr: stderr is empty
    } cases[] = {
        {"show a folder", Cli({"show", Q(dir_ / "folder")}), 2, "folder"},
        {"show /dev/zero", Cli({"show", "/dev/zero"}), 2, "more than 65536 bytes"},
        {"write a folder", Cli({"--device", device, "write", Q(dir_ / "folder")}), 2, "folder"},
        {"read over a folder", Cli({"--device", device, "read", Q(dir_ / "folder")}), 2, "folder"},
        {"read over a write-protected file", Cli({"--device", device, "read", Q(dir_ / "ro.eep")}),
         2, "write-protected"},
        {"show a process substitution",
         shell(cli + " show <(cat '" + (dir_ / "good.eep").string() + "')"), 0, nullptr},
        {"read through a link", Cli({"--device", device, "read", Q(dir_ / "link.eep")}), 0,
         nullptr},
        {"read a new file under umask 077",
         shell("umask 077; exec " + cli + " --device " + dev + " read '" +
               (dir_ / "new.eep").string() + "'"),
         0, nullptr},
        {"unknown option", Cli({"--colour", "info"}), 2, "--colour"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.Run.ExitCode, c.ExitCode) << c.Name << "\n" << c.Run.Err;
        if (c.ErrHolds) {
            EXPECT_NE(c.Run.Err.find(c.ErrHolds), std::string::npos) << c.Name << ": " << c.Run.Err;
            EXPECT_EQ(std::count(c.Run.Err.begin(), c.Run.Err.end(), '\n'), 1)
                << c.Name << ": " << c.Run.Err;
        } else {
            EXPECT_EQ(c.Run.Err, "") << c.Name;
        }
    }
    EXPECT_EQ(Slurp(dir_ / "ro.eep"), "old");
    // A target that cannot be written is refused before the keyer is read.
    EXPECT_EQ(cases[3].Run.Out, "");
    EXPECT_EQ(cases[4].Run.Out, "");
    EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.eep"));
    const KeyerImage keyer = Counting(9);
    EXPECT_EQ(Slurp(dir_ / "target.eep"), std::string(keyer.begin(), keyer.end()));
    EXPECT_EQ(Slurp(dir_ / "new.eep"), std::string(keyer.begin(), keyer.end()));
    EXPECT_EQ(fs::status(dir_ / "new.eep").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_NE(cases[5].Run.Out.find("Weight: 44"), std::string::npos) << cases[5].Run.Out;
}

} // namespace
} // namespace dl2mgr::cli
