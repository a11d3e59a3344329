// Production records end to end: burnwise-cli programs and verifies bench files, and the
// records it leaves are read back through its history command, from the default SQLite
// file or from a PostgreSQL server several stations share.

#include "burnwise/cli/CliBench.h"
#include "common/Sha256.h"
#include "support/PostgresServer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <set>

namespace {

using clitest::DeviceCommands;
using clitest::Kr2Template;
using clitest::Ran;
using clitest::ReadAll;
using clitest::Watch;

// The columns of a record as `history --format csv` writes them.
enum Column {
    Time,
    Station,
    Operation,
    DriverIndex,
    Model,
    Eeprom,
    Serial,
    Result,
    Reason,
    TemplateFile,
    TemplateSha,
    ImageSha,
    Label,
    LabelDetail,
    Columns
};

// The records of a CSV history (without its header); fields with commas are not split.
std::vector<std::vector<std::string>> Records(const Ran& history) {
    std::vector<std::vector<std::string>> records;
    const std::vector<std::string> lines = history.Lines();
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty()) continue;
        std::vector<std::string> fields;
        std::string field;
        bool quoted = false;
        for (const char c : lines[i]) {
            if (c == '"')
                quoted = !quoted;
            else if (c == ',' && !quoted)
                fields.push_back(std::exchange(field, {}));
            else
                field += c;
        }
        fields.push_back(field);
        records.push_back(fields);
    }
    return records;
}

std::string Numbered(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "E2E%05d", n);
    return text;
}

class Production : public DeviceCommands {
protected:
    void KillAtRandomMoments(const std::string& db);
    void Attach(int devices) {
        ASSERT_EQ(Vqbench("reset").Status, 0);
        for (int i = 0; i < devices; ++i)
            ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    }
    bool Blank(int device) const {
        return Vqbench("dump " + std::to_string(device)).Out.starts_with("0000 : FF FF");
    }
};

TEST_F(Production, ARunWithoutADatabaseKeepsItsRecordsInTheStateFolder) {
    Attach(2);
    const Ran run = Cli("program --template " + Template + " --series --station bench-1");
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    const std::string file = (Folder.Path / "state/burnwise/production.sqlite").string();
    EXPECT_TRUE(std::filesystem::is_regular_file(file));
    // Where the series lives is said once; the help says how far it reaches.
    const std::vector<std::string> lines = run.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "The series of E2E00001 lives in " + file +
                             ": only this user's runs on this machine share it (give --db to "
                             "share it between stations)"),
              1)
        << run.Out;
    std::string help = Cli("program --help").Out;
    std::erase_if(help, [](char c) { return c == '\n' || c == ' '; });
    for (const char* says :
         {"without,keptinthisuser'sstatefolderandsharedonlybythisuser'srunsonthismachine",
          "fromtheclockdifferfromthoseofeveryrunwiththesamestatefolder(thisuseronthismachine)"})
        EXPECT_NE(help.find(says), std::string::npos) << says;

    // The series goes on where the last run left it, also on devices of another bench.
    Attach(1);
    ASSERT_EQ(Cli("program --template " + Template + " --series --station bench-1").Status, 0);
    const Ran found = Cli("history --serial " + Numbered(3) + " --format csv");
    ASSERT_EQ(found.Status, 0) << found.Err;
    const auto records = Records(found);
    ASSERT_EQ(records.size(), 1u) << found.Out;
    const std::vector<std::string>& r = records[0];
    ASSERT_EQ(r.size(), std::size_t(Columns)) << found.Out;
    EXPECT_EQ(r[Station], "bench-1");
    EXPECT_EQ(r[Operation], "program");
    EXPECT_EQ(r[Result], "PASS");
    EXPECT_EQ(r[Eeprom], "93C46");
    EXPECT_EQ(r[TemplateFile], "kr2.ept");
    EXPECT_EQ(r[TemplateSha], common::Sha256Hex(Kr2Template));
    EXPECT_EQ(r[ImageSha].size(), 64u);
    EXPECT_EQ(r[Label], "not asked");
    const auto all = Records(Cli("history --format csv"));
    ASSERT_EQ(all.size(), 3u);
    EXPECT_NE(all[0][ImageSha], all[1][ImageSha]); // their serial numbers differ
}

TEST_F(Production, ADatabaseIsNamedNeverGuessedAndNamesComeBackAsTyped) {
    Attach(2);
    const std::string file = (Folder.Path / "line.sqlite").string();
    // Nothing is read from, or made at, a name that holds no database.
    for (const std::string& command :
         {std::string("history"), "history --db " + file,
          "program --template " + Template + " --db " + file,
          "program --template " + Template + " --station " + std::string(65, 's')}) {
        const Ran refused = Cli(command);
        EXPECT_EQ(refused.Status, 2) << command;
        EXPECT_FALSE(refused.Err.empty()) << command;
    }
    EXPECT_TRUE(Blank(0));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(std::filesystem::exists(Folder.Path / "state/burnwise/production.sqlite"));

    const std::string station = "Pr\xc3\xbc"
                                "fplatz-1";
    const Ran run = Cli("program --template " + Template + " --series --db sqlite:" + file +
                        " --station " + station);
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_NE(run.Err.find("series E2E/5 in " + file + ": next " + Numbered(1) + "\n"),
              std::string::npos)
        << run.Err;
    const Ran json = Cli("history --format json --limit 1 --db " + file);
    ASSERT_EQ(json.Status, 0) << json.Err;
    EXPECT_NE(json.Out.find("\"station\": \"" + station + "\""), std::string::npos) << json.Out;
    EXPECT_NE(json.Out.find(Numbered(2)), std::string::npos) << json.Out;
    EXPECT_EQ(json.Out.find(Numbered(1)), std::string::npos) << json.Out;
    const Ran summary = Cli("history --summary --format csv --result PASS --db " + file);
    ASSERT_EQ(summary.Status, 0) << summary.Err;
    EXPECT_NE(summary.Out.find("," + station + ",2,0,100.0,"), std::string::npos) << summary.Out;
}

TEST_F(Production, SeriesAndCounterAreRefusedBeforeAnythingIsWritten) {
    const std::string clock = (Folder.Path / "clock.ept").string();
    std::string text = Kr2Template;
    text.replace(text.find("Use Fixed Serial Number=1"), 25, "Use Fixed Serial Number=0");
    std::ofstream(clock, std::ios::binary) << text;
    const std::string counter = (Folder.Path / "counter").string();
    struct Case {
        std::string Args;
        std::string Says;
    } cases[] = {
        {"--template " + Template + " --series --counter " + counter, "excludes"},
        {"--template " + clock + " --series", "--series needs a template with a fixed serial"},
        {"--template " + Template + " --watch", "needs --counter or --series"},
        {"--template " + Template + " --db nosuch://x", ""},
    };
    Attach(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Args);
        const Ran run = Cli("program " + c.Args);
        EXPECT_EQ(run.Status, 2);
        EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
        EXPECT_TRUE(Blank(0));
    }
}

TEST_F(Production, FilesWithASecondHardLinkAreRefusedAndSymbolicLinksWork) {
    namespace fs = std::filesystem;
    const std::string clock = (Folder.Path / "clock.ept").string();
    std::string text = Kr2Template;
    text.replace(text.find("Use Fixed Serial Number=1"), 25, "Use Fixed Serial Number=0");
    std::ofstream(clock, std::ios::binary) << text;
    const fs::path counter = Folder.Path / "counter";
    const fs::path db = Folder.Path / "records.sqlite";
    const fs::path clockRecord = Folder.Path / "state/burnwise/clock-serial";
    fs::create_directories(clockRecord.parent_path());
    std::ofstream(counter) << "7\n";
    std::ofstream(clockRecord) << "2000-01-01T00:00:00Z\n";
    Attach(1);
    ASSERT_EQ(Cli("program --template " + Template + " --db sqlite:" + db.string()).Status, 0)
        << "makes the database";
    const struct Case {
        fs::path File;
        std::string Args;
        bool Hard;
    } cases[] = {
        {counter, "program --template " + Template + " --counter " + counter.string(), true},
        {clockRecord, "program --template " + clock, true},
        {db, "program --template " + Template + " --db " + db.string(), true},
        {Bench, "scan --template " + Template, true},
        {counter, "program --template " + Template + " --counter " + counter.string(), false},
        {clockRecord, "program --template " + clock, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Args + (c.Hard ? " hard" : " symbolic"));
        Attach(1);
        const fs::path other = Folder.Path / "other-name";
        if (c.Hard) {
            fs::create_hard_link(c.File, other);
        } else {
            // The file moves away and a symbolic link takes its name.
            fs::rename(c.File, other);
            fs::create_symlink(other, c.File);
        }
        const Ran run = Cli(c.Args);
        if (c.Hard) {
            EXPECT_NE(run.Status, 0);
            EXPECT_NE(run.Err.find(": has 2 hard links - refused: a file that is locked and "
                                   "replaced needs one name only"),
                      std::string::npos)
                << run.Err;
            fs::remove(other);
            EXPECT_TRUE(Blank(0));
        } else {
            EXPECT_EQ(run.Status, 0) << run.Err;
            EXPECT_FALSE(Blank(0));
            EXPECT_TRUE(fs::is_symlink(c.File)) << "the link stays";
            fs::remove(c.File);
            fs::rename(other, c.File);
        }
    }
    EXPECT_EQ(ReadAll(counter), "8\n") << "only the run through the symbolic link took a number";
}

TEST_F(Production, VerifyNamesEveryChangedFieldAndPassesUntouchedDevices) {
    Attach(2);
    ASSERT_EQ(Cli("program --template " + Template + " --series").Status, 0);
    // A device of another model beside them is not the template's to verify.
    ASSERT_EQ(Vqbench("add KR1S").Status, 0);
    ASSERT_EQ(Cli("verify --template " + Template + " --station audit").Status, 0);

    std::string text = Kr2Template;
    text.replace(text.find("Max Bus Power=100"), 17, "Max Bus Power=90");
    std::ofstream(Folder.Path / "changed.ept", std::ios::binary) << text;
    const std::string image = (Folder.Path / "changed.bin").string();
    const Ran encoded =
        Cli("encode --template " + (Folder.Path / "changed.ept").string() + " --format bin");
    ASSERT_EQ(encoded.Status, 0) << encoded.Err;
    std::ofstream(image, std::ios::binary) << encoded.Out;
    ASSERT_EQ(Vqbench("load 0 " + image).Status, 0);

    const Ran verify = Cli("verify --template " + Template + " --station audit");
    EXPECT_EQ(verify.Status, 1);
    const auto lines = verify.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "FAIL device 0: Max Bus Power is 90, template says 100"),
              lines.end())
        << verify.Out;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "PASS device 1 serial " + Numbered(2)),
              lines.end())
        << verify.Out;
    const auto records = Records(Cli("history --station audit --format csv"));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[2][Operation], "verify");
    EXPECT_EQ(records[2][Result], "FAIL");
    EXPECT_EQ(records[2][Reason], "Max Bus Power is 90, template says 100");
    EXPECT_EQ(records[3][Result], "PASS");
    // Reading sizes no part: a verify record names no EEPROM rather than a wrong one.
    EXPECT_EQ(records[3][Eeprom], "");

    ASSERT_EQ(Vqbench("reset").Status, 0);
    ASSERT_EQ(Vqbench("add KR1S").Status, 0);
    const Ran none = Cli("verify --template " + Template + " --station audit");
    EXPECT_EQ(none.Status, 1);
    EXPECT_NE(none.Out.find("No KR2S device to verify"), std::string::npos) << none.Out;
}

// Verify audits what each device holds, not only its fields: a blank device, a serial number
// on two devices, a word no field covers, and, with a database, a serial number the line
// never recorded as programmed or recorded with another image.
TEST_F(Production, VerifyAuditsEveryDeviceAgainstTheTemplateAndTheRecords) {
    namespace fs = std::filesystem;
    // The image the template gives for `serial` on `eeprom`, with word 0x50 set when asked.
    const auto image = [&](const std::string& serial, const char* eeprom, bool changed) {
        std::string text = Kr2Template;
        text.replace(text.find("E2E00001"), 8, serial);
        const fs::path ept = Folder.Path / "image.ept", bin = Folder.Path / (serial + ".bin");
        std::ofstream(ept, std::ios::binary) << text;
        std::string bytes =
            Cli("encode --template " + ept.string() + " --eeprom " + eeprom + " --format bin").Out;
        if (changed) bytes[0xA0] = 0x34, bytes[0xA1] = 0x12;
        std::ofstream(bin, std::ios::binary) << bytes;
        return bin.string();
    };
    const struct {
        const char* What;
        const char* Eeprom;
        bool Db;
        std::function<void()> Then;
        std::vector<std::string> Says; // each the start of a line of the output
        int Status;
        const char* Never = nullptr; // nowhere in the output
        const char* Model = "Device Type=3";
    } rows[] = {
        {"untouched", "93C46", true, [] {}, {"PASS device 0 serial E2E00001", "PASS device 1"}, 0},
        // The image cannot tell a KR2F from a KR2S: the one programming wrote is what counts.
        {"a model its image cannot tell",
         "93C46",
         false,
         [] {},
         {"PASS device 0", "PASS device 1"},
         0,
         nullptr,
         "Device Type=4"},
        {"a blank device",
         "93C46",
         false,
         [&] { Vqbench("add KR2S"); },
         {"FAIL device 2: blank", "PASS device 1 serial E2E00002"},
         1,
         "ERROR"},
        {"a broken device",
         "93C46",
         false,
         [&] { Vqbench("add KR2S"), Vqbench("fault 2 read --word 5"); },
         {"FAIL device 2: ERROR - Read EEPROM failed Device 2"},
         1},
        {"one serial number twice",
         "93C46",
         false,
         [&] { Vqbench("load 1 " + image("E2E00001", "93C46", false)); },
         {"FAIL device 0: serial E2E00001 is also on device 1",
          "FAIL device 1: serial E2E00001 is also on device 0"},
         1},
        {"a word no field covers",
         "93C56",
         false,
         [&] { Vqbench("load 0 " + image("E2E00001", "93C56", true)); },
         {"FAIL device 0: word 0x50 is 0x1234, template gives 0x0000", "PASS device 1"},
         1},
        {"a serial number never recorded",
         "93C46",
         true,
         [&] { Vqbench("load 1 " + image("E2E00009", "93C46", false)); },
         {"FAIL device 1: E2E00009 has no PASS record in DB"},
         1},
        {"another image than recorded",
         "93C56",
         true,
         [&] { Vqbench("load 0 " + image("E2E00001", "93C56", true)); },
         {"FAIL device 0: word 0x50 is 0x1234, template gives 0x0000; E2E00001's PASS record in "
          "DB is of another image: digest "},
         1},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.What);
        const std::string db =
            " --db sqlite:" + (Folder.Path / ("line" + std::to_string(++n))).string();
        ASSERT_EQ(Vqbench("reset").Status, 0);
        for (int i = 0; i < 2; ++i)
            ASSERT_EQ(Vqbench(std::string("add KR2S --eeprom ") + row.Eeprom).Status, 0);
        // Each row starts a series of its own.
        fs::remove(Folder.Path / "state/burnwise/production.sqlite");
        std::string text = Kr2Template;
        text.replace(text.find("Device Type=3"), 13, row.Model);
        const std::string ept = (Folder.Path / "row.ept").string();
        std::ofstream(ept, std::ios::binary) << text;
        ASSERT_EQ(Cli("program --template " + ept + " --series" + (row.Db ? db : "")).Status, 0);
        row.Then();
        const Ran verify = Cli("verify --template " + ept + (row.Db ? db : ""));
        EXPECT_EQ(verify.Status, row.Status) << verify.Out << verify.Err;
        const std::vector<std::string> lines = verify.Lines();
        for (const std::string& says : row.Says)
            EXPECT_TRUE(
                std::any_of(lines.begin(), lines.end(),
                            [&](const std::string& line) { return line.starts_with(says); }))
                << says << "\n"
                << verify.Out;
        if (row.Never) {
            EXPECT_EQ(verify.Out.find(row.Never), std::string::npos) << verify.Out;
        }
    }
}

TEST_F(Production, ANumberAlreadyPassedIsRefusedUnlessReuseIsMeant) {
    Attach(1);
    ASSERT_EQ(Cli("program --template " + Template).Status, 0);
    const std::string day = Records(Cli("history --format csv"))[0][Time];
    // A rerun starts from the template's number again, on a new chip.
    struct Case {
        const char* Args;
        int Status;
        bool Written;
    } cases[] = {{"", 1, false}, {" --allow-reuse", 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Args);
        Attach(1);
        const Ran rerun = Cli("program --template " + Template + c.Args);
        EXPECT_EQ(rerun.Status, c.Status) << rerun.Out << rerun.Err;
        EXPECT_EQ(Blank(0), !c.Written);
        const std::string refusal = "E2E00001 was already given to a device on " +
                                    day.substr(0, 10) + " at " + day.substr(11, 5) +
                                    " - nothing written to device 0";
        const std::vector<std::string> lines = rerun.Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), refusal), c.Written ? 0 : 1) << rerun.Out;
        const auto last = Records(Cli("history --format csv --limit 1"));
        ASSERT_EQ(last.size(), 1u);
        EXPECT_EQ(last[0][Result], c.Written ? "PASS" : "FAIL");
        EXPECT_EQ(last[0][Reason], c.Written ? "" : refusal);
    }
    EXPECT_NE(Cli("program --help").Out.find("--allow-reuse"), std::string::npos);
}

// burnwise-cli killed at seeded random moments while it writes devices, one by one, at once
// and under the watch: every chip holding an image has a record, the next start names each
// device the station stopped on, and verify completes those records from the chips.
void Production::KillAtRandomMoments(const std::string& db) {
    struct Mode {
        const char* Name;
        const char* Args;
        int EarliestKillMs, LatestKillMs; // about while its devices are written
    } modes[] = {
        {"one-by-one", "", 300, 2500},
        {"parallel", " --parallel", 100, 900},
        {"watch", " --watch", 1200, 2800},
    };
    std::mt19937 moments(24);
    for (const Mode& mode : modes) {
        for (int trial = 0; trial < 3; ++trial) {
            const std::string station = std::string(mode.Name) + "-" + std::to_string(trial);
            SCOPED_TRACE(station);
            Attach(4);
            {
                ::setenv("VQPIPEX_DELAY_US", "2000", 1);
                Watch killed(Bench,
                             "program --template " + Template + " --series --station " + station +
                                 mode.Args + db,
                             (Folder.Path / "killed.out").string());
                ::unsetenv("VQPIPEX_DELAY_US");
                std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution(
                    mode.EarliestKillMs, mode.LatestKillMs)(moments)));
                killed.Stop(SIGKILL);
            }
            const auto records = Records(Cli("history --format csv --station " + station + db));
            for (int device = 0; device < 4; ++device) {
                if (Blank(device)) continue;
                EXPECT_TRUE(std::any_of(
                    records.begin(), records.end(),
                    [&](const auto& r) { return r[DriverIndex] == std::to_string(device); }))
                    << "device " << device << " holds an image and has no record";
            }

            // The next start says what it stopped on, before it looks at any device (here on
            // a bench of none, so that the chips stay as the kill left them).
            const std::string kept = Bench + ".kept";
            std::filesystem::copy_file(Bench, kept,
                                       std::filesystem::copy_options::overwrite_existing);
            Attach(0);
            const Ran next =
                Cli("program --template " + Template + " --series --station " + station + db);
            std::filesystem::copy_file(kept, Bench,
                                       std::filesystem::copy_options::overwrite_existing);
            for (const auto& r : records) {
                if (r[Result] != "INTERRUPTED") continue;
                EXPECT_NE(next.Err.find(r[Serial] + " on device " + r[DriverIndex] +
                                        " was being programmed when this station stopped at " +
                                        r[Time].substr(11, 8) + " - check it with verify"),
                          std::string::npos)
                    << next.Err;
            }
            // Verify judges them from what the chips hold.
            std::set<std::string> held;
            for (const std::string& line :
                 Cli("verify --template " + Template + " --station " + station + db).Lines())
                if (line.starts_with("PASS device")) held.insert(line.substr(line.rfind(' ') + 1));
            for (const auto& r : Records(Cli("history --format csv --result INTERRUPTED "
                                             "--station " +
                                             station + db)))
                EXPECT_FALSE(held.contains(r[Serial])) << r[Serial] << " left interrupted";
        }
    }
}

// A station killed between writing a chip whole and completing its record leaves the
// attempt: verify finds the image the template gives that number, passes the chip and
// completes the record, rather than failing it for the PASS record it could not have.
TEST_F(Production, AChipWrittenWholeBeforeItsStationDiedPassesVerify) {
    const std::string db = " --db sqlite:" + (Folder.Path / "line.sqlite").string();
    for (int tries = 0; tries < 3; ++tries) {
        Attach(1);
        {
            // The read-back after the last word takes about half a second at this pace.
            ::setenv("VQPIPEX_DELAY_US", "8000", 1);
            Watch killed(Bench, "program --template " + Template + " --series" + db,
                         (Folder.Path / "killed.out").string());
            ::unsetenv("VQPIPEX_DELAY_US");
            // The last word of a 93C46 is the checksum, written last.
            const auto checksumWritten = [&] {
                const std::string dump = Vqbench("dump 0").Out;
                const std::size_t line = dump.find("0070 : ");
                return line != std::string::npos &&
                       dump.compare(line + 7 + 14 * 3, 5, "FF FF") != 0;
            };
            for (int i = 0; i < 600 && !checksumWritten(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            killed.Stop(SIGKILL);
        }
        const auto before = Records(Cli("history --format csv" + db));
        if (before.empty() || before.back()[Result] != "INTERRUPTED") continue; // too late
        const Ran verify = Cli("verify --template " + Template + db);
        EXPECT_EQ(verify.Status, 0) << verify.Out << verify.Err;
        EXPECT_NE(verify.Out.find("PASS device 0 serial " + before.back()[Serial]),
                  std::string::npos)
            << verify.Out;
        const auto after = Records(Cli("history --format csv --result PASS" + db));
        EXPECT_TRUE(std::any_of(after.begin(), after.end(), [&](const auto& r) {
            return r[Operation] == "program" && r[Serial] == before.back()[Serial];
        })) << "the attempt is completed";
        return;
    }
    GTEST_SKIP() << "the station finished each chip before the kill came";
}

TEST_F(Production, AKilledStationLeavesNoChipWithoutARecord) {
    KillAtRandomMoments("");
}

// Stations on one PostgreSQL server, each on a bench file of its own.
// A signal ends a one-shot run as Ctrl+C ends the watch: the devices in hand are finished
// and recorded, then the run stops with 1. Every chip that holds an image has its record.
TEST_F(Production, SignalsFinishAndRecordTheDevicesInHand) {
    const struct {
        int Signal;
        const char* Args;
    } cases[] = {{SIGTERM, ""}, {SIGHUP, ""}, {SIGINT, " --parallel"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(strsignal(c.Signal)) + c.Args);
        Attach(8);
        const std::string out =
            (Folder.Path / ("signalled-" + std::to_string(c.Signal) + ".out")).string();
        ::setenv("VQPIPEX_DELAY_US", "1500", 1);
        Watch run(Bench, "program --template " + Template + " --series" + c.Args, out);
        ::unsetenv("VQPIPEX_DELAY_US");
        // At once, the devices are all in hand while they are written: each is finished.
        const bool atOnce = c.Args[0] != '\0';
        ASSERT_TRUE(run.WaitFor(atOnce ? "The series of" : "Programmed Serial Number"));
        if (atOnce) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(run.Stop(c.Signal), 1) << run.Output();
        int written = 0;
        for (int i = 0; i < 8; ++i)
            written += Blank(i) ? 0 : 1;
        if (!atOnce) {
            EXPECT_LT(written, 8) << "the run ended before the signal";
        }
        std::set<std::string> recorded;
        for (const auto& r : Records(Cli("history --format csv")))
            if (r[Result] == "PASS") recorded.insert(r[Serial]);
        std::set<std::string> held;
        for (const std::string& line : Cli("verify --template " + Template).Lines())
            if (line.starts_with("PASS device")) held.insert(line.substr(line.rfind(' ') + 1));
        EXPECT_EQ(held.size(), static_cast<std::size_t>(written)) << run.Output();
        for (const std::string& serial : held)
            EXPECT_TRUE(recorded.contains(serial)) << serial << " has no record";
    }
}

// A watch started again over chips it programmed, or over a KR3 chip's two channels, gives
// no chip a second number and fails no channel.
TEST_F(Production, AWatchStartedAgainWritesNoChipTwice) {
    const struct {
        const char* Model;
        const char* DeviceType;
    } cases[] = {{"KR4S", "6"}, {"KR3D", "5"}, {"KR2S", "3"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Model);
        std::string text = Kr2Template;
        text.replace(text.find("Device Type=3"), 13, std::string("Device Type=") + c.DeviceType);
        // A KR4 chip is never judged blank: only the records can tell it is done.
        text.replace(text.find("Only Program Blank Devices=1"), 28, "Only Program Blank Devices=0");
        const std::string path = (Folder.Path / (std::string(c.Model) + ".ept")).string();
        std::ofstream(path, std::ios::binary) << text;
        ASSERT_EQ(Vqbench("reset").Status, 0);
        ASSERT_EQ(Vqbench(std::string("add ") + c.Model).Status, 0);
        ASSERT_EQ(Vqbench(std::string("add ") + c.Model).Status, 0);
        const std::string db = " --db sqlite:" + (Folder.Path / c.Model).string() + ".sqlite";
        for (int start = 0; start < 2; ++start) {
            const std::string out =
                (Folder.Path / (std::string(c.Model) + std::to_string(start) + ".out")).string();
            Watch watch(Bench, "program --watch --series --template " + path + db, out);
            ASSERT_TRUE(watch.WaitFor("Waiting for"));
            for (int n = 1; n <= 2; ++n)
                ASSERT_TRUE(watch.WaitFor(start == 0 ? "PASS device"
                                                     : "already programmed " + Numbered(n) +
                                                           " - not written again"));
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            EXPECT_EQ(watch.Stop(), 0) << watch.Output();
            EXPECT_EQ(watch.Output().find("FAIL"), std::string::npos) << watch.Output();
        }
        const auto records = Records(Cli("history --format csv" + db));
        ASSERT_EQ(records.size(), 2u);
        for (const auto& r : records)
            EXPECT_EQ(r[Result], "PASS");
    }
}

class SharedSeries : public Production {
protected:
    bwtest::PostgresServer Server;

    void SetUp() override {
        BW_SKIP_WITHOUT_POSTGRES();
        Production::SetUp();
        std::string error;
        ASSERT_TRUE(Server.Start(error)) << error;
    }
    std::string Db() const { return " --db " + Server.Url(); }
};

TEST_F(SharedSeries, FourStationsAtOnceNeverShareANumber) {
    // Each station programs five benches of ten blank devices, all four at the same time.
    std::string script =
        "pids=; for s in 1 2 3 4; do (export VQPIPEX_BENCH=" + Folder.Path.string() +
        "/bench$s.txt; for r in 1 2 3 4 5; do " + VQBENCH +
        " reset >/dev/null; for d in 1 2 3 4 5 6 7 8 9 10; do " + VQBENCH +
        " add KR2S >/dev/null; done; " + BURNWISE_CLI + " program --template " + Template +
        " --series" + Db() +
        " --station station-$s >/dev/null || exit 1; done) & pids=\"$pids $!\"; "
        "done; failed=0; for p in $pids; do wait $p || failed=1; done; "
        "exit $failed";
    const Ran stations = Run("sh -c", "'" + script + "'");
    ASSERT_EQ(stations.Status, 0) << stations.Err;

    const auto records = Records(Cli("history --format csv" + Db()));
    ASSERT_EQ(records.size(), 200u);
    std::set<std::string> serials, stationNames;
    for (const auto& r : records) {
        EXPECT_EQ(r[Result], "PASS");
        serials.insert(r[Serial]);
        stationNames.insert(r[Station]);
    }
    EXPECT_EQ(stationNames.size(), 4u);
    std::set<std::string> consecutive;
    for (int n = 1; n <= 200; ++n)
        consecutive.insert(Numbered(n));
    EXPECT_EQ(serials, consecutive);
}

TEST_F(SharedSeries, AStationKilledMidRunLeavesNoNumberToBeUsedAgain) {
    Attach(16);
    {
        // Every driver call takes a while, so the run is still going when it is killed.
        ::setenv("VQPIPEX_DELAY_US", "3000", 1);
        Watch killed(Bench, "program --template " + Template + " --series" + Db(),
                     (Folder.Path / "killed.out").string());
        ::unsetenv("VQPIPEX_DELAY_US");
        ASSERT_TRUE(killed.WaitFor("Programmed Serial Number : " + Numbered(2)));
        killed.Stop(SIGKILL);
    }
    // What the killed run left on its devices, read by the audit.
    std::set<std::string> used;
    for (const std::string& line : Cli("verify --template " + Template + Db()).Lines())
        if (line.starts_with("PASS device")) used.insert(line.substr(line.rfind(' ') + 1));
    ASSERT_GE(used.size(), 2u);
    ASSERT_LT(used.size(), 16u) << "the run ended before it was killed";

    Attach(4);
    const Ran next = Cli("program --template " + Template + " --series" + Db());
    ASSERT_EQ(next.Status, 0) << next.Err;
    for (const std::string& line : next.Lines()) {
        if (!line.starts_with("Programmed Serial Number : ")) continue;
        const std::string serial = line.substr(line.rfind(' ') + 1);
        EXPECT_FALSE(used.contains(serial)) << serial;
        EXPECT_GT(serial, *used.rbegin());
    }
}

TEST_F(SharedSeries, AKilledStationLeavesNoChipWithoutARecord) {
    KillAtRandomMoments(Db());
}

TEST_F(SharedSeries, AStationThatLosesItsDatabaseWritesNothingUntilItIsBack) {
    ASSERT_EQ(Vqbench("reset").Status, 0);
    const std::string out = (Folder.Path / "watch.out").string();
    Watch watch(Bench, "program --template " + Template + " --watch --series" + Db(), out);
    ASSERT_TRUE(watch.WaitFor("Waiting for KR2S devices"));
    ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    ASSERT_TRUE(watch.WaitFor("PASS device 0 serial " + Numbered(1)));

    Server.Stop();
    ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    ASSERT_TRUE(watch.WaitFor("database unreachable - waiting"));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_TRUE(Blank(1)) << "written while the database was away";
    std::string error;
    ASSERT_TRUE(Server.Restart(error)) << error;
    ASSERT_TRUE(watch.WaitFor("PASS device 1 serial " + Numbered(2)));
    EXPECT_EQ(watch.Stop(), 0) << watch.Output();
    EXPECT_EQ(watch.Output().find("FAIL"), std::string::npos) << watch.Output();
    const auto records = Records(Cli("history --format csv" + Db()));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1][Serial], Numbered(2));
}

// A server that stops answering (its processes stopped) holds a station only until it is
// asked to stop: within a second, with nothing written meanwhile.
TEST_F(SharedSeries, AStalledServerHoldsAStationOnlyUntilASignal) {
    // Stalled while the watch waits on it for a device, or already while the station
    // connects.
    const struct {
        int Signal;
        bool AtStart;
    } cases[] = {{SIGINT, false}, {SIGTERM, false}, {SIGINT, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(strsignal(c.Signal)) + (c.AtStart ? " at start" : ""));
        ASSERT_EQ(Vqbench("reset").Status, 0);
        const std::string out =
            (Folder.Path / ("stall-" + std::to_string(c.Signal) + (c.AtStart ? "s" : ""))).string();
        if (c.AtStart) Server.Pause(true);
        Watch watch(Bench, "program --template " + Template + " --watch --series" + Db(), out);
        if (!c.AtStart) {
            ASSERT_TRUE(watch.WaitFor("Waiting for KR2S devices"));
            Server.Pause(true);
        }
        ASSERT_EQ(Vqbench("add KR2S").Status, 0);
        // The watch is now waiting on the server for the device, or for its connection.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        const auto asked = std::chrono::steady_clock::now();
        const int status = watch.Stop(c.Signal);
        const auto took = std::chrono::steady_clock::now() - asked;
        Server.Pause(false);
        EXPECT_NE(status, -1) << watch.Output();
        EXPECT_LT(took, std::chrono::seconds(1)) << watch.Output();
        EXPECT_TRUE(Blank(0)) << "written while the server did not answer";
    }
}

} // namespace
