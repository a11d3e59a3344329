// burnwise-cli's device commands end to end: vqbench sets up a bench file, burnwise-cli
// programs it through the simulated driver library, vqbench reads the EEPROMs back.

#include "burnwise/cli/CliBench.h"

#include <set>

namespace {

using clitest::DeviceCommands;
using clitest::Kr2Template;
using clitest::Ran;
using clitest::ReadAll;
using clitest::Watch;

TEST_F(DeviceCommands, ProgramsTheBenchFileAndLogsEachDevice) {
    ASSERT_EQ(Vqbench("reset").Status, 0);
    ASSERT_EQ(Vqbench("add KR2S --eeprom 93C46").Status, 0);
    ASSERT_EQ(Vqbench("add KR2S --eeprom 93C56").Status, 0);
    ASSERT_EQ(Vqbench("add KR4S").Status, 0);

    const std::string log = (Folder.Path / "run.csv").string();
    const Ran program = Cli("program --template " + Template + " --log " + log);
    EXPECT_EQ(program.Status, 0) << program.Err;
    EXPECT_EQ(program.Lines(), (std::vector<std::string>{"Programmed Serial Number : E2E00001",
                                                         "Programmed Serial Number : E2E00002"}));
    EXPECT_EQ(program.Err, "");

    // What each part holds is the image encode makes for that device and part.
    const struct {
        int Index;
        const char* Eeprom;
    } devices[] = {{0, "93C46"}, {1, "93C56"}};
    for (const auto& d : devices) {
        SCOPED_TRACE(d.Eeprom);
        const Ran dump = Vqbench("dump " + std::to_string(d.Index));
        ASSERT_EQ(dump.Status, 0);
        const Ran encoded = Cli("encode --template " + Template + " --format dump --eeprom " +
                                d.Eeprom + " --device-number " + std::to_string(d.Index));
        ASSERT_EQ(encoded.Status, 0) << encoded.Err;
        const std::vector<std::string> held = dump.Lines();
        const std::vector<std::string> expected = encoded.Lines();
        ASSERT_EQ(expected.size(), 8u);
        ASSERT_GE(held.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(held[i], expected[i]) << "line " << i;
        // The image's upper half, written as zero words to a 128-word part.
        for (std::size_t i = expected.size(); i < held.size(); ++i)
            EXPECT_NE(held[i].find(" : 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "),
                      std::string::npos)
                << held[i];
    }
    EXPECT_EQ(Vqbench("dump 2").Lines()[0].substr(0, 11), "0000 : FF F") << "KR4 left alone";

    const std::vector<std::string> records = Ran::Split(ReadAll(log));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], "utc_time,position,driver_index,model,eeprom,serial_number,result");
    // The model is the one each device reports of itself (its type code names the family).
    EXPECT_TRUE(records[1].ends_with(",0,0,KR2,93C46,E2E00001,PASS")) << records[1];
    EXPECT_TRUE(records[2].ends_with(",1,1,KR2,93C56,E2E00002,PASS")) << records[2];

    // A second run finds nothing blank to program; the log keeps its two records.
    const Ran again = Cli("program --template " + Template + " --log " + log);
    EXPECT_EQ(again.Status, 1);
    EXPECT_EQ(again.Err, "error: No Devices Found\n");
    EXPECT_EQ(Ran::Split(ReadAll(log)).size(), 3u);

    const Ran scan = Cli("scan --template " + Template);
    EXPECT_EQ(scan.Status, 0);
    EXPECT_EQ(scan.Lines(), (std::vector<std::string>{"Number Of Blank Devices = 1",
                                                      "Number Of Programmed Devices = 2"}))
        << "the scan counts every device, the KR4 chip too";
}

TEST_F(DeviceCommands, OperationsReportTheirEndInTheExitStatus) {
    ASSERT_EQ(Vqbench("reset").Status, 0);
    const Ran empty = Cli("erase --template " + Template);
    EXPECT_EQ(empty.Status, 1);
    EXPECT_EQ(empty.Out, "No Devices found ...\n");

    ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    ASSERT_EQ(Vqbench("fault 0 open").Status, 0);
    // The scan skips the device it cannot open and says so; the read walk of the rest runs
    // to its end, and the command fails: not every device went through.
    const Ran read = Cli("read --template " + Template);
    EXPECT_EQ(read.Status, 1) << read.Err;
    EXPECT_EQ(read.Lines().at(0),
              "ERROR - Device 0 could not be examined: VQ_Open - Device Not Opened...");
    EXPECT_EQ(read.Lines().at(1), "Read EEPROM successful Device 1");
    EXPECT_TRUE(read.Err.starts_with("error: VQ_Open - ")) << read.Err;

    ASSERT_EQ(Vqbench("fault 0 clear").Status, 0);
    ASSERT_EQ(Vqbench("fault 1 ignore-writes").Status, 0);
    // Device 1 takes no size marker: nothing is written to it and the run stops there.
    const Ran program = Cli("program --template " + Template);
    EXPECT_EQ(program.Status, 1);
    EXPECT_EQ(program.Lines(), std::vector<std::string>{"Programmed Serial Number : E2E00001"});
    EXPECT_EQ(program.Err, "error: EEPROM size not detected - nothing written to device 1 - it "
                           "holds what it held before\n");
}

TEST_F(DeviceCommands, LogFieldsWithCommasOrQuotesAreQuoted) {
    ASSERT_EQ(Vqbench("reset").Status, 0);
    ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    std::string text = Kr2Template;
    text.replace(text.find("E2E00001"), 8, "Q\"T,0001");
    std::ofstream(Template, std::ios::binary | std::ios::trunc) << text;
    const std::string log = (Folder.Path / "quoted.csv").string();
    const Ran program = Cli("program --template " + Template + " --log " + log);
    ASSERT_EQ(program.Status, 0) << program.Err;
    const std::vector<std::string> records = Ran::Split(ReadAll(log));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[1].ends_with(",0,0,KR2,93C46,\"Q\"\"T,0001\",PASS")) << records[1];
}

TEST_F(DeviceCommands, BadArgumentsExitTwo) {
    const std::string missing = (Folder.Path / "missing.ept").string();
    const std::string folder = Folder.Path.string();
    for (const std::string& args :
         {std::string("program"), "scan --template " + missing, "program --template " + folder,
          "program --template " + Template + " --log " + folder, std::string("scan extra")}) {
        SCOPED_TRACE(args);
        const Ran run = Cli(args);
        EXPECT_EQ(run.Status, 2);
        EXPECT_FALSE(run.Err.empty());
        EXPECT_EQ(run.Out, "");
    }
}

TEST_F(DeviceCommands, AWatchProgramsEachDeviceOnceAsItArrivesWithNumbersFromTheCounter) {
    ASSERT_EQ(Vqbench("reset").Status, 0);
    const std::string counter = (Folder.Path / "counter").string();
    const std::string log = (Folder.Path / "line.csv").string();
    Watch watch(
        Bench, "program --template " + Template + " --watch --counter " + counter + " --log " + log,
        (Folder.Path / "watch.out").string());
    ASSERT_TRUE(watch.WaitFor("Waiting for KR2S devices (Ctrl+C stops)"));

    ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    ASSERT_TRUE(watch.WaitFor("PASS device 0 serial E2E00001"));
    ASSERT_EQ(Vqbench("add KR2S --eeprom 93C56").Status, 0);
    ASSERT_TRUE(watch.WaitFor("PASS device 1 serial E2E00002"));
    // A part without an EEPROM cannot be read, so it cannot be judged: it is refused,
    // logged, and takes no number.
    ASSERT_EQ(Vqbench("add KR2S --eeprom none").Status, 0);
    ASSERT_TRUE(watch.WaitFor("FAIL device 2 serial VQ"));
    ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    ASSERT_TRUE(watch.WaitFor("PASS device 3 serial E2E00003"));
    // Unplugged, the first device is forgotten; a new one in its place is judged afresh.
    // The watch looks at the device count, so the unplugging must last past a poll.
    ASSERT_EQ(Vqbench("remove 0").Status, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    ASSERT_TRUE(watch.WaitFor("PASS device 3 serial E2E00004"));

    EXPECT_EQ(watch.Stop(), 1) << "a device failed" << watch.Output();
    const std::vector<std::string> lines = Ran::Split(watch.Output());
    EXPECT_EQ(lines.back(), "Stopped");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.starts_with("PASS device 0"); }),
              1)
        << "a device left attached is programmed once";
    EXPECT_EQ(ReadAll(counter), "5\n");
    const std::vector<std::string> logged = Ran::Split(ReadAll(log));
    ASSERT_EQ(logged.size(), 6u) << ReadAll(log);
    EXPECT_TRUE(logged[1].ends_with(",E2E00001,PASS"));
    EXPECT_TRUE(logged[2].ends_with(",E2E00002,PASS"));
    EXPECT_NE(logged[3].find(",FAIL ERROR - Device 2 could not be examined: VQ_ReadEE"),
              std::string::npos)
        << logged[3];
    EXPECT_TRUE(logged[4].ends_with(",E2E00003,PASS"));
    EXPECT_TRUE(logged[5].ends_with(",E2E00004,PASS"));
}

TEST_F(DeviceCommands, AWatchRidesOutAGlitchAndSeesADeviceSwappedWithinOnePoll) {
    // Programmed devices are taken too, so a device the watch forgot would be programmed
    // again.
    std::string text = ReadAll(Template);
    text.replace(text.find("Only Program Blank Devices=1"), 28, "Only Program Blank Devices=0");
    const std::string all = (Folder.Path / "all.ept").string();
    std::ofstream(all, std::ios::binary) << text;
    ASSERT_EQ(Vqbench("reset").Status, 0);
    const std::string counter = (Folder.Path / "counter").string();
    Watch watch(Bench, "program --template " + all + " --watch --counter " + counter,
                (Folder.Path / "watch.out").string());
    ASSERT_TRUE(watch.WaitFor("Waiting for KR2S devices (Ctrl+C stops)"));
    ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    ASSERT_TRUE(watch.WaitFor("PASS device 0 serial E2E00001"));
    // The device does not answer one serial query: it is neither failed nor forgotten.
    ASSERT_EQ(Vqbench("fault 0 open --times 1").Status, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    // Unplugged and another plugged in at once: the count never changes.
    ASSERT_EQ(Vqbench("remove 0").Status, 0);
    ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    ASSERT_TRUE(watch.WaitFor("PASS device 0 serial E2E00002"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(watch.Stop(), 0) << watch.Output();
    const std::string out = watch.Output();
    EXPECT_EQ(out.find("FAIL"), std::string::npos) << out;
    const std::vector<std::string> lines = Ran::Split(out);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.starts_with("PASS device"); }),
              2)
        << out;
    EXPECT_EQ(ReadAll(counter), "3\n");
}

TEST_F(DeviceCommands, AWatchSaysOnceThatOnlySixteenDevicesAreExamined) {
    ASSERT_EQ(Vqbench("reset").Status, 0);
    for (int i = 0; i < 17; ++i)
        ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    const std::string counter = (Folder.Path / "counter").string();
    Watch watch(Bench, "program --template " + Template + " --watch --counter " + counter,
                (Folder.Path / "watch.out").string());
    ASSERT_TRUE(watch.WaitFor("PASS device 15 serial E2E00016"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(watch.Stop(), 0) << watch.Output();
    const std::vector<std::string> lines = Ran::Split(watch.Output());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "only the first 16 devices are examined"), 1)
        << watch.Output();
    EXPECT_EQ(ReadAll(counter), "17\n");
}

TEST_F(DeviceCommands, AWatchWithAFixedSerialNeedsACounter) {
    const Ran r = Cli("program --template " + Template + " --watch");
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Err.find("--watch with a fixed serial number needs --counter"), std::string::npos)
        << r.Err;
}

} // namespace

TEST_F(DeviceCommands, TwoRunsWithOneCounterNeverRepeatASerialNumber) {
    const std::string counter = (Folder.Path / "serial.counter").string();
    const std::string log = (Folder.Path / "line.csv").string();
    const char* const batches[][2] = {{"E2E00001", "E2E00002"}, {"E2E00003", "E2E00004"}};
    for (const auto& batch : batches) {
        SCOPED_TRACE(batch[0]);
        ASSERT_EQ(Vqbench("reset").Status, 0);
        ASSERT_EQ(Vqbench("add KR2S").Status, 0);
        ASSERT_EQ(Vqbench("add KR2S").Status, 0);
        const Ran run =
            Cli("program --template " + Template + " --counter " + counter + " --log " + log);
        EXPECT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(run.Lines(), (std::vector<std::string>{
                                   std::string("Programmed Serial Number : ") + batch[0],
                                   std::string("Programmed Serial Number : ") + batch[1]}));
    }
    EXPECT_EQ(ReadAll(counter), "5\n");

    // A failed device uses up its number, and the log says so.
    ASSERT_EQ(Vqbench("reset").Status, 0);
    ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    ASSERT_EQ(Vqbench("fault 0 ignore-writes").Status, 0);
    const Ran failed =
        Cli("program --template " + Template + " --counter " + counter + " --log " + log);
    EXPECT_EQ(failed.Status, 1);
    EXPECT_EQ(ReadAll(counter), "6\n");
    const std::vector<std::string> records = Ran::Split(ReadAll(log));
    ASSERT_EQ(records.size(), 6u);
    // The failed device's record carries the number reserved for it.
    EXPECT_NE(records[5].find(",E2E00005,FAIL "), std::string::npos) << records[5];
}

TEST_F(DeviceCommands, ABadCounterIsRefusedBeforeAnythingIsWritten) {
    const std::string counter = (Folder.Path / "serial.counter").string();
    const struct {
        const char* Content;
        const char* Says;
    } cases[] = {{"12abc\n", "damaged"}, {"", "damaged"}, {"100000000\n", "digits"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Content);
        ASSERT_EQ(Vqbench("reset").Status, 0);
        ASSERT_EQ(Vqbench("add KR2S").Status, 0);
        std::ofstream(counter, std::ios::binary | std::ios::trunc) << c.Content;
        const Ran run = Cli("program --template " + Template + " --counter " + counter);
        EXPECT_EQ(run.Status, 2);
        EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
        EXPECT_EQ(ReadAll(counter), c.Content);
        EXPECT_EQ(Vqbench("dump 0").Lines()[0].substr(0, 11), "0000 : FF F") << "still blank";
    }
}

namespace {

std::string Example(const char* name) {
    return std::string(BURNWISE_SOURCE_DIR) + "/examples/templates/" + name;
}

TEST_F(DeviceCommands, ValuesAFieldCannotHoldAreRefusedBeforeANumberIsTaken) {
    const auto with = [](std::string text, const std::string& from, const std::string& to) {
        return text.replace(text.find(from), from.size(), to);
    };
    const std::string kr4 = with(Kr2Template, "Device Type=3", "Device Type=6") +
                            "[KR4 Device Specific Options]\r\nIn EndPoint Size=9\r\n";
    const std::string bom = "\xEF\xBB\xBF";
    const struct {
        const char* Model;
        std::string Text;
        const char* Line;
    } cases[] = {
        {"KR4S", kr4, "ERROR : In EndPoint Size holds a value that is not one of its choices"},
        // An overlong zero byte, and an omega.
        {"KR2S",
         bom + with(Kr2Template, "=E2E00001",
                    "=\xC0\x80"
                    "E2E00001"),
         "ERROR : Fixed Serial Number holds bytes that are not valid in the file's encoding, "
         "or a character beyond Latin-1"},
        {"KR2S", bom + with(Kr2Template, "=Line Test", "=Line \xCE\xA9"),
         "ERROR : Product holds bytes that are not valid in the file's encoding, or a "
         "character beyond Latin-1"},
    };
    const std::string counter = (Folder.Path / "counter").string();
    const std::string file = (Folder.Path / "refused.ept").string();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line);
        ASSERT_EQ(Vqbench("reset").Status, 0);
        ASSERT_EQ(Vqbench(std::string("add ") + c.Model).Status, 0);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << c.Text;
        std::ofstream(counter, std::ios::trunc) << "5\n";
        const Ran check = Cli("template check " + file);
        EXPECT_EQ(check.Status, 1);
        EXPECT_NE(check.Out.find(c.Line), std::string::npos) << check.Out;
        const Ran program = Cli("program --template " + file + " --counter " + counter);
        EXPECT_NE(program.Status, 0);
        EXPECT_NE(program.Out.find(c.Line), std::string::npos) << program.Out;
        EXPECT_EQ(ReadAll(counter), "5\n");
        EXPECT_EQ(Vqbench("dump 0").Lines().at(0).substr(0, 11), "0000 : FF F");
    }
}

TEST_F(DeviceCommands, DevicesPastTheSixteenthAreSaidAndFailAWritingRun) {
    ASSERT_EQ(Vqbench("reset").Status, 0);
    for (int i = 0; i < 17; ++i)
        ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    const struct {
        const char* Command;
        int Status;
    } cases[] = {{"scan", 0}, {"read", 0}, {"cycle", 0}, {"program", 1}, {"erase", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Command);
        const Ran run = Cli(std::string(c.Command) + " --template " + Template);
        EXPECT_EQ(run.Status, c.Status) << run.Err;
        ASSERT_FALSE(run.Lines().empty());
        EXPECT_EQ(run.Lines().back(), "only the first 16 devices are examined");
    }
    EXPECT_EQ(Vqbench("dump 16").Lines().at(0).substr(0, 11), "0000 : FF F");
}

TEST_F(DeviceCommands, ASizeProbeThatFailsLeavesTheImageInThePart) {
    // Every model that probes and every part, each model on two of them: the part holds an
    // image, and a program run (not only blank devices) meets a refused marker write, then
    // a failed first read of the probe.
    const struct {
        const char* Template;
        const char* Part;
    } cases[] = {{"KR1S-Own-VID.ept", "93C46"},      {"KR1F-FIFO-Module.ept", "93C56"},
                 {"KR2S-Serial-Cable.ept", "93C66"}, {"KR2F-FIFO-Module.ept", "93C46"},
                 {"KR3D-Dual-UART.ept", "93C56"},    {"KR3E-Dual-Channel.ept", "93C66"}};
    std::string image;
    for (int i = 0; i < 256; ++i)
        image += static_cast<char>(i * 7 + 1);
    const std::string imageFile = (Folder.Path / "image.bin").string();
    std::ofstream(imageFile, std::ios::binary) << image;
    for (const auto& c : cases) {
        const std::string model(c.Template, 4);
        SCOPED_TRACE(model + " on " + c.Part);
        std::string text = ReadAll(Example(c.Template));
        const std::string blankOnly = "Only Program Blank Devices=1";
        text.replace(text.find(blankOnly), blankOnly.size(), "Only Program Blank Devices=0");
        const std::string again = (Folder.Path / (model + ".ept")).string();
        std::ofstream(again, std::ios::binary | std::ios::trunc) << text;
        ASSERT_EQ(Vqbench("reset").Status, 0);
        ASSERT_EQ(Vqbench("add " + model + " --eeprom " + c.Part).Status, 0);
        ASSERT_EQ(Vqbench("load 0 " + imageFile).Status, 0);
        const std::vector<std::string> held = Vqbench("dump 0").Lines();
        for (const char* fault : {"write --word 192 --times 1", "read --word 192 --times 1"}) {
            SCOPED_TRACE(fault);
            ASSERT_EQ(Vqbench(std::string("fault 0 ") + fault).Status, 0);
            const Ran run = Cli("program --template " + again);
            EXPECT_EQ(run.Status, 1);
            EXPECT_NE(run.Err.find("error: EEPROM size not detected - nothing written to "
                                   "device 0 - it holds what it held before\n"),
                      std::string::npos)
                << run.Err;
            EXPECT_EQ(Vqbench("dump 0").Lines(), held);
        }
    }
}

TEST_F(DeviceCommands, AProgrammedDeviceIsNeverTakenForBlankWhateverTemplateScansIt) {
    // Each chip is programmed from its own template, then scanned and erased (blank only)
    // with other models' templates: its own contents decide, so it stays as it is.
    const struct {
        const char* Model;
        const char* Eeprom;
        const char* Own;
    } chips[] = {{"KR3D", "93C56", "KR3D-Dual-UART.ept"},
                 {"KR2S", "93C66", "KR2S-Serial-Cable.ept"},
                 {"KR1S", "93C56", "KR1S-Own-VID.ept"}};
    const char* others[] = {"KR2S-Serial-Cable.ept", "KR3D-Dual-UART.ept", "KR1F-FIFO-Module.ept"};
    for (const auto& chip : chips) {
        SCOPED_TRACE(chip.Model);
        ASSERT_EQ(Vqbench("reset").Status, 0);
        ASSERT_EQ(Vqbench(std::string("add ") + chip.Model + " --eeprom " + chip.Eeprom).Status, 0);
        const Ran program = Cli("program --template " + Example(chip.Own));
        ASSERT_EQ(program.Status, 0) << program.Out << program.Err;
        const std::string held = Vqbench("dump 0").Out;
        for (const char* other : others) {
            SCOPED_TRACE(other);
            const Ran scan = Cli("scan --template " + Example(other));
            EXPECT_EQ(scan.Lines(), (std::vector<std::string>{"Number Of Blank Devices = 0",
                                                              "Number Of Programmed Devices = 1"}))
                << scan.Out << scan.Err;
            const Ran erase = Cli("erase --template " + Example(other));
            EXPECT_EQ(Vqbench("dump 0").Out, held) << erase.Out;
        }
    }
}

TEST_F(DeviceCommands, AReadFailureOnTheSizeWordsNeverEndsAsPass) {
    // Whether the scan's read takes the strike (the device cannot be judged and is left
    // alone) or the size probe does (the size is unknown), nothing is written and the run
    // fails. The probe itself is tested on the unit.
    std::string text = ReadAll(Example("KR3D-Dual-UART.ept"));
    const std::string blankOnly = "Only Program Blank Devices=1";
    ASSERT_NE(text.find(blankOnly), std::string::npos);
    text.replace(text.find(blankOnly), blankOnly.size(), "Only Program Blank Devices=0");
    const std::string kr3 = (Folder.Path / "kr3.ept").string();
    std::ofstream(kr3, std::ios::binary) << text;
    for (const char* word : {"0", "64"}) {
        SCOPED_TRACE(word);
        ASSERT_EQ(Vqbench("reset").Status, 0);
        ASSERT_EQ(Vqbench("add KR3D --eeprom 93C56").Status, 0);
        ASSERT_EQ(Vqbench(std::string("fault 0 read --word ") + word + " --times 2").Status, 0);
        const Ran run = Cli("program --template " + kr3);
        EXPECT_EQ(run.Status, 1);
        EXPECT_EQ(run.Out.find("Programmed Serial Number"), std::string::npos) << run.Out;
        EXPECT_TRUE(run.Out.find("ERROR - Device 0 could not be examined: VQ_ReadEE") !=
                        std::string::npos ||
                    run.Err.find("EEPROM size not detected - nothing written to device 0") !=
                        std::string::npos)
            << run.Out << run.Err;
        EXPECT_EQ(Vqbench("dump 0").Lines()[0].substr(0, 11), "0000 : FF F") << "nothing written";
    }
}

TEST_F(DeviceCommands, NoTwoDevicesGetOneSerialNumberWithinOrAcrossRuns) {
    // A KR1 template with the (hidden) KR2 switch "Disable Serial Number" set still writes
    // serial numbers; three devices in a run, then two one-device runs back to back.
    std::string kr1 = ReadAll(Example("KR1F-FIFO-Module.ept"));
    const std::string off = "Disable Serial Number=0";
    ASSERT_NE(kr1.find(off), std::string::npos);
    kr1.replace(kr1.find(off), off.size(), "Disable Serial Number=1");
    const std::string path = (Folder.Path / "kr1.ept").string();
    std::ofstream(path, std::ios::binary) << kr1;

    std::set<std::string> serials;
    int programmed = 0;
    const auto collect = [&](const Ran& run) {
        for (const std::string& line : run.Lines())
            if (line.starts_with("Programmed Serial Number : ")) {
                serials.insert(line);
                ++programmed;
            }
    };
    ASSERT_EQ(Vqbench("reset").Status, 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Vqbench("add KR1F").Status, 0);
    const Ran three = Cli("program --template " + path);
    EXPECT_EQ(three.Status, 0) << three.Err;
    collect(three);
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(Vqbench("reset").Status, 0);
        ASSERT_EQ(Vqbench("add KR1F").Status, 0);
        const Ran one = Cli("program --template " + path);
        EXPECT_EQ(one.Status, 0) << one.Err;
        collect(one);
    }
    EXPECT_EQ(programmed, 5);
    EXPECT_EQ(serials.size(), 5u) << ::testing::PrintToString(serials);
    EXPECT_TRUE(std::filesystem::exists(Folder.Path / "state" / "burnwise" / "clock-serial"));
}

TEST_F(DeviceCommands, AnUncheckedTemplateProgramsNothing) {
    ASSERT_EQ(Vqbench("reset").Status, 0);
    ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    const std::string empty = (Folder.Path / "empty.ept").string();
    std::ofstream(empty, std::ios::binary) << "";
    const Ran run = Cli("program --template " + empty);
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err,
              "error: The template cannot be programmed - nothing written to any device\n");
    EXPECT_NE(run.Out.find("ERROR : You must select a valid device type"), std::string::npos);
    EXPECT_EQ(Vqbench("dump 0").Lines()[0].substr(0, 11), "0000 : FF F") << "still blank";
}

TEST_F(DeviceCommands, ALinkToTheCounterSharesItsLock) {
    const std::string counter = (Folder.Path / "c.counter").string();
    const std::string link = (Folder.Path / "link.counter").string();
    std::ofstream(counter) << "1\n";
    std::filesystem::create_symlink(counter, link);
    // Both names of one counter take one lock, on the file itself: none is left beside it.
    ASSERT_EQ(Vqbench("reset").Status, 0);
    ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    const Ran run = Cli("program --template " + Template + " --counter " + link);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_FALSE(std::filesystem::exists(counter + ".lock"));
    EXPECT_FALSE(std::filesystem::exists(link + ".lock"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadAll(counter), "2\n");
}

TEST_F(DeviceCommands, EveryFailureEndsInExitOneAndALine) {
    const struct {
        const char* Command;
        const char* Fault;
        const char* Says;
    } cases[] = {
        // Erase and cycle take every device here; erase's programmed one keeps its image.
        {"erase", "fault 0 ignore-writes",
         "ERROR - Erase failed Device 0 - the part does not read blank"},
        {"erase", "fault 0 erase", "ERROR - Erase failed Device 0"},
        {"read", "fault 0 read --word 5", "ERROR - Read EEPROM failed Device 0"},
        {"cycle", "fault 0 cycle", ""},
        {"program", "fault 0 open", "ERROR - Device 0 could not be examined: VQ_Open"},
        {"parse", "fault 0 info", "ERROR - Device 0 failed: VQ_GetDeviceInfo"},
    };
    std::string text = ReadAll(Template);
    text.replace(text.find("Only Program Blank Devices=1"), 28, "Only Program Blank Devices=0");
    const std::string all = (Folder.Path / "all.ept").string();
    std::ofstream(all, std::ios::binary) << text;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Fault);
        const std::string command = c.Command;
        ASSERT_EQ(Vqbench("reset").Status, 0);
        ASSERT_EQ(Vqbench("add KR2S").Status, 0);
        // Every case starts from the template's number again.
        ASSERT_EQ(Cli("program --allow-reuse --template " + Template).Status, 0);
        ASSERT_EQ(Vqbench("add KR2S").Status, 0);
        ASSERT_EQ(Vqbench(c.Fault).Status, 0);
        const std::string log = (Folder.Path / "fail.csv").string();
        std::filesystem::remove(log);
        const Ran run = Cli(command + " --template " +
                            (command == "erase" || command == "cycle" ? all : Template) +
                            (command == "program" ? " --allow-reuse --log " + log : std::string()));
        EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
        if (*c.Says) {
            EXPECT_NE(run.Out.find(c.Says), std::string::npos) << run.Out;
        }
        if (command == "program") {
            const std::vector<std::string> records = Ran::Split(ReadAll(log));
            ASSERT_EQ(records.size(), 3u) << ReadAll(log);
            EXPECT_NE(records[1].find(",-1,0,,,,FAIL ERROR - Device 0 could not be examined"),
                      std::string::npos)
                << records[1];
            EXPECT_TRUE(records[2].ends_with(",0,1,KR2,93C46,E2E00001,PASS")) << records[2];
        }
    }
}

TEST_F(DeviceCommands, ALogThatCannotBeWrittenStopsTheRun) {
    ASSERT_EQ(Vqbench("reset").Status, 0);
    ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    // The log is already larger than the shell lets a file grow, while the records'
    // database stays far below it: the first line cannot be written (the shell ignores the
    // signal, so the write fails with EFBIG instead).
    const std::string log = (Folder.Path / "full.csv").string();
    std::ofstream(log, std::ios::binary) << std::string(2'000'000, '#') << "\r\n";
    const Ran run = Run("trap '' XFSZ; ulimit -f 1024; exec " + std::string(BURNWISE_CLI),
                        "program --template " + Template + " --log " + log);
    EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
    EXPECT_NE(run.Err.find("cannot write the log"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Lines().back(), "Stopped after device 0") << run.Out;
    EXPECT_EQ(Vqbench("dump 1").Lines()[0].substr(0, 11), "0000 : FF F") << "not reached";
}

} // namespace
