// The production line on the program's own runner, end to end: the simulated driver
// library on a bench file of this test's own, devices plugged in with vqbench while the
// watch runs, the tiles read off the window and the records read back from the database.
// The window's Program records into the same database.

#include "WindowOnTheBench.h"
#include "burnwise/records/RecordStore.h"
#include "burnwise/ui/view/ResultsWindow.h"
#include "common/Sha256.h"
#include "support/PostgresServer.h"
#include "support/TempFolder.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
using namespace burnwise;

// The folder of this process: its bench file, state and configuration folders.
fs::path Scratch;

const std::string Kr2Template = bwtest::FixedSerialCableTemplate("Line Test");

// What vqbench printed.
std::string Vqbench(const std::string& args) {
    const fs::path out = Scratch / "vqbench.out";
    const std::string command = std::string(VQBENCH) + " " + args + " >" + out.string();
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "vqbench " << args;
    std::ifstream in(out, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 1500 && !done(); ++i)
        QTest::qWait(10);
    return done();
}

struct LineOnTheBench : bwtest::WindowOnTheBench {
    LineOnTheBench() : WindowOnTheBench(Scratch) {}

    fs::path Template = Scratch / "kr2.ept";
    std::string Database =
        "sqlite:" +
        (Scratch /
         (std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + ".sqlite"))
            .string();

    void SetUp() override {
        std::ofstream(Template, std::ios::binary) << Kr2Template;
        Vqbench("reset");
        WindowOnTheBench::SetUp();
    }

    // The production line as the Device menu opens it, with this test's settings.
    view::ProductionWindow* OpenLine() {
        ui::ProductionSettings settings;
        settings.TemplateFile = Template;
        settings.SerialSource = app::SerialSource::Series;
        settings.DatabaseUrl = Database;
        settings.StationName = "bench-7";
        view::ProductionWindow* line = OpenProductionLine(settings);
        if (line == nullptr) return nullptr;
        line->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(line));
        return line;
    }

    std::vector<records::Record> Records() {
        std::string error;
        const std::unique_ptr<records::RecordStore> store =
            records::OpenRecordStore(Database, error);
        if (!store) {
            ADD_FAILURE() << error;
            return {};
        }
        std::optional<std::vector<records::Record>> listed = store->List({}, error);
        EXPECT_TRUE(listed) << error;
        return listed.value_or(std::vector<records::Record>{});
    }
};

// "FAIL|QA000002|Error reading device" of a tile, or "" for none.
std::string TextOf(const QFrame* tile) {
    if (tile == nullptr) return {};
    return (tile->findChild<QLabel*>("TileState")->text() + "|" +
            tile->findChild<QLabel*>("TileSerial")->text() + "|" +
            tile->findChild<QLabel*>("TileDetail")->text())
        .toStdString();
}

// The tile of the device with this number in the run.
std::string TileText(const view::ProductionWindow& line, std::int32_t index) {
    return TextOf(line.TileWidget(index));
}

// The production line running on `server`, started, with the first device plugged in
// programmed and recorded there (so the run holds its connection); null after a failure.
view::ProductionWindow* RunFirstDeviceOn(LineOnTheBench& test, bwtest::PostgresServer& server) {
    std::string error;
    if (!server.Start(error)) {
        ADD_FAILURE() << error;
        return nullptr;
    }
    test.Database = server.Url();
    Vqbench("add KR2S");
    view::ProductionWindow* line = test.OpenLine();
    if (line == nullptr) return nullptr;
    line->StartRun();
    if (!WaitFor([&] { return TileText(*line, 0) == "PASS|QA000001|"; })) {
        ADD_FAILURE() << "the first device did not pass: " << TileText(*line, 0);
        return nullptr;
    }
    return line;
}

std::string Sha256Of(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return common::Sha256Hex(
        std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

TEST_F(LineOnTheBench, TheWatchNumbersEachDevicePluggedInFromTheSeriesAndRecordsIt) {
    // Two cables on the bench at Start, the second one ignoring writes; a third plugged in
    // while the run goes on.
    Vqbench("add KR2S");
    Vqbench("add KR2S");
    Vqbench("fault 1 ignore-writes --word 4");
    view::ProductionWindow* line = OpenLine();
    ASSERT_NE(line, nullptr);
    line->StartRun();
    ASSERT_TRUE(line->IsRunning());
    ASSERT_TRUE(WaitFor([&] { return TileText(*line, 1) == "FAIL|QA000002|Error reading device"; }))
        << TileText(*line, 1);
    EXPECT_EQ(TileText(*line, 0), "PASS|QA000001|");

    Vqbench("add KR2S");
    ASSERT_TRUE(WaitFor([&] { return TileText(*line, 2) == "PASS|QA000003|"; }))
        << TileText(*line, 2);
    EXPECT_EQ(line->findChild<QLabel*>("PassedCount")->text(), "2");
    EXPECT_EQ(line->findChild<QLabel*>("FailedCount")->text(), "1");
    EXPECT_EQ(line->findChild<QLabel*>("LastSerialValue")->text(), "QA000003");

    // The first cable is unplugged: the driver renumbers the other two 0 and 1, and a new
    // chip comes in as device 2. Each tile stays with its device, under the number its
    // record carries; the new chip takes the place the gone one left.
    Vqbench("remove 0");
    ASSERT_TRUE(WaitFor([&] { return TextOf(line->TileAt(0)) == "removed|QA000001|"; }))
        << TextOf(line->TileAt(0));
    EXPECT_EQ(TileText(*line, 1), "FAIL|QA000002|Error reading device");
    EXPECT_EQ(TileText(*line, 2), "PASS|QA000003|");
    Vqbench("add KR2S");
    ASSERT_TRUE(WaitFor([&] { return TextOf(line->TileAt(0)) == "PASS|QA000004|"; }))
        << TextOf(line->TileAt(0));
    EXPECT_EQ(TextOf(line->TileAt(1)), "FAIL|QA000002|Error reading device");
    EXPECT_EQ(TextOf(line->TileAt(2)), "PASS|QA000003|");
    EXPECT_EQ(line->TileAt(0)->findChild<QLabel*>("TileDevice")->text(), "Device 2");
    // The line's devices are in the session's results too, under the template's model.
    view::ResultsWindow* results = Window->Results();
    ASSERT_EQ(results->RowCount(), 4);
    EXPECT_EQ(results->Cell(3, 5), "QA000004");
    EXPECT_EQ(results->Cell(3, 3), "KR2S");

    QTest::keyClick(line, Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([&] { return !line->IsRunning(); }));
    EXPECT_EQ(line->findChild<QLabel*>("StatusLine")->text(), "Stopped.");

    // One record per device, the failed one with the number it used up.
    const std::vector<records::Record> kept = Records();
    ASSERT_EQ(kept.size(), 4u);
    const struct {
        int Index;
        const char* Serial;
        records::Result Outcome;
    } expected[] = {{0, "QA000001", records::Result::Pass},
                    {1, "QA000002", records::Result::Fail},
                    {2, "QA000003", records::Result::Pass},
                    {2, "QA000004", records::Result::Pass}};
    for (std::size_t i = 0; i < kept.size(); ++i) {
        SCOPED_TRACE(expected[i].Serial);
        EXPECT_EQ(kept[i].DriverIndex, expected[i].Index);
        EXPECT_EQ(kept[i].SerialNumber, expected[i].Serial);
        EXPECT_EQ(kept[i].Outcome, expected[i].Outcome);
        EXPECT_EQ(kept[i].Station, "bench-7");
        EXPECT_EQ(kept[i].Operation, "program");
        EXPECT_EQ(kept[i].TemplateFile, "kr2.ept");
        EXPECT_EQ(kept[i].TemplateSha256, Sha256Of(Template));
        EXPECT_EQ(kept[i].ImageSha256.empty(), expected[i].Outcome == records::Result::Fail);
    }
    EXPECT_EQ(kept[1].Reason, "Error reading device");
}

// A run starts by saying which devices the station stopped on, and asks once whether a
// number the records already hold as PASS is written again.
TEST_F(LineOnTheBench, TheLineSaysWhatItStoppedOnAndAsksBeforeANumberIsUsedAgain) {
    const std::string said = "QA000002 on device 3 was being programmed when this station "
                             "stopped at 12:01:07 - check it with verify";
    const std::string question =
        "QA000001 was already given to a device on 2026-12-09 at 12:01 - write it again?";
    struct Case {
        bool Answer;
        const char* First; // the tile of the chip that gets QA000001
    } cases[] = {
        {false, "FAIL|QA000001|QA000001 was already given to a device on 2026-12-09 at 12:01 - "
                "nothing written to device 0"},
        {true, "PASS|QA000001|"},
    };
    const std::string database = Database;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Answer);
        // A database whose series is new, where another tool already wrote QA000001 and
        // this station stopped while writing QA000002.
        Database = database + (c.Answer ? "-yes" : "-no");
        {
            std::string error;
            const auto store = records::OpenRecordStore(Database, error);
            ASSERT_TRUE(store) << error;
            records::Record before;
            before.Time = "2026-12-09T12:01:07Z";
            before.Station = "bench-7";
            before.Operation = "program";
            before.DriverIndex = 3;
            before.SerialNumber = "QA000001";
            before.Outcome = records::Result::Pass;
            ASSERT_TRUE(store->Append(before, error)) << error;
            before.SerialNumber = "QA000002";
            before.Outcome = records::Result::Interrupted;
            ASSERT_TRUE(store->Append(before, error)) << error;
        }
        Vqbench("reset");
        Vqbench("add KR2S");
        Vqbench("add KR2S");
        Host.Boxes.clear();
        Host.Questions.clear();
        Host.Answers = {c.Answer};
        view::ProductionWindow* line = OpenLine();
        ASSERT_NE(line, nullptr);
        line->StartRun();
        ASSERT_TRUE(WaitFor([&] { return TileText(*line, 1) == "PASS|QA000002|"; }))
            << TileText(*line, 1);
        EXPECT_EQ(TileText(*line, 0), c.First);
        EXPECT_EQ(Host.Questions, std::vector<std::string>{question});
        EXPECT_EQ(Host.Boxes, std::vector<std::string>{said});
        QTest::keyClick(line, Qt::Key_Escape);
        ASSERT_TRUE(WaitFor([&] { return !line->IsRunning(); }));
        line->close();
        delete line;
    }
}

TEST_F(LineOnTheBench, TheWindowsProgramLeavesARecordInTheLinesDatabase) {
    Vqbench("add KR2S");
    Vqbench("add KR2S");
    view::ProductionWindow* line = OpenLine(); // keeps the settings Program reads
    ASSERT_NE(line, nullptr);
    line->hide();

    Host.OpenAnswer = Template;
    Window->ActionOf("BWOpen")->trigger();
    Window->ActionOf("BWProgram")->trigger();
    ASSERT_TRUE(WaitFor([&] { return !Window->IsBusy(); }));
    EXPECT_EQ(Host.Boxes, std::vector<std::string>{});
    std::vector<records::Record> kept = Records();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].SerialNumber, "QA000001");
    EXPECT_EQ(kept[1].SerialNumber, "QA000002");
    for (const records::Record& record : kept) {
        EXPECT_EQ(record.Outcome, records::Result::Pass);
        EXPECT_EQ(record.Station, "bench-7");
        EXPECT_EQ(record.TemplateFile, "kr2.ept");
        EXPECT_EQ(record.TemplateSha256, Sha256Of(Template));
    }

    // A file changed since it was opened is not what the window shows: nothing is
    // programmed under its name.
    std::string text = Kr2Template;
    text.replace(text.find("Max Bus Power=100"), 17, "Max Bus Power=200");
    std::ofstream(Template, std::ios::binary) << text;
    Vqbench("add KR2S");
    Window->ActionOf("BWProgram")->trigger();
    ASSERT_TRUE(WaitFor([&] { return !Window->IsBusy(); }));
    ASSERT_EQ(Host.Boxes.size(), 1u);
    EXPECT_NE(Host.Boxes[0].find("has changed since it was opened"), std::string::npos)
        << Host.Boxes[0];
    EXPECT_EQ(Records().size(), 2u);

    // Records that cannot be kept: nothing programmed either.
    Window->ActionOf("BWOpen")->trigger();
    ui::ProductionSettings settings = line->Settings();
    settings.DatabaseUrl = "sqlite:" + (Template / "records.sqlite").string();
    line->SetSettings(settings);
    Host.Boxes.clear();
    Window->ActionOf("BWProgram")->trigger();
    ASSERT_TRUE(WaitFor([&] { return !Window->IsBusy(); }));
    ASSERT_EQ(Host.Boxes.size(), 1u);
    EXPECT_NE(Host.Boxes[0].find("The records cannot be kept"), std::string::npos) << Host.Boxes[0];
    EXPECT_EQ(Vqbench("dump 2").substr(0, 13), "0000 : FF FF ");
}

TEST_F(LineOnTheBench, ARunWhoseDatabaseCannotBeOpenedEndsAtOnceAndTouchesNoDevice) {
    Database = "sqlite:" + (Template / "records.sqlite").string(); // under a file
    Vqbench("add KR2S");
    view::ProductionWindow* line = OpenLine();
    ASSERT_NE(line, nullptr);
    line->StartRun();
    ASSERT_TRUE(WaitFor([&] { return !line->IsRunning(); }));
    EXPECT_TRUE(line->findChild<QLabel*>("StatusLine")->text().startsWith("Stopped: "));
    EXPECT_EQ(line->TileWidget(0), nullptr);
    EXPECT_EQ(Vqbench("dump 0").substr(0, 13), "0000 : FF FF ");
    // The window can start again.
    EXPECT_TRUE(line->findChild<QPushButton*>("StartButton")->isEnabled());
}

TEST_F(LineOnTheBench, ALostDatabaseHoldsTheRunWithNothingWrittenUntilItIsBack) {
    BW_SKIP_WITHOUT_POSTGRES();
    bwtest::PostgresServer server;
    view::ProductionWindow* line = RunFirstDeviceOn(*this, server);
    ASSERT_NE(line, nullptr);

    server.Stop();
    Vqbench("add KR2S");
    const auto status = [&] { return line->findChild<QLabel*>("StatusLine")->text(); };
    ASSERT_TRUE(WaitFor([&] { return status() == "database unreachable - waiting"; }))
        << status().toStdString();
    EXPECT_TRUE(line->IsRunning());
    // Without a number reserved, nothing is written to it.
    EXPECT_EQ(Vqbench("dump 1").substr(0, 13), "0000 : FF FF ");

    std::string error;
    ASSERT_TRUE(server.Restart(error)) << error;
    ASSERT_TRUE(WaitFor([&] { return TileText(*line, 1) == "PASS|QA000002|"; }));
    EXPECT_TRUE(status().startsWith("Running")) << status().toStdString();
    EXPECT_EQ(line->findChild<QLabel*>("FailedCount")->text(), "0");
}

// A server that stops answering (a hung disk, a stalled network) holds a stopped run only
// until its statement has waited longer than a sound server needs: the window's Stop gives
// it up, as a signal does for the command line, and nothing is written meanwhile.
TEST_F(LineOnTheBench, AStopEndsARunStalledOnItsDatabaseAtOnce) {
    BW_SKIP_WITHOUT_POSTGRES();
    bwtest::PostgresServer server;
    view::ProductionWindow* line = RunFirstDeviceOn(*this, server);
    ASSERT_NE(line, nullptr);
    server.Pause(true);
    Vqbench("add KR2S");
    // The run is now waiting on the server for the device's number.
    QTest::qWait(1500);
    const auto asked = std::chrono::steady_clock::now();
    line->RequestStop();
    const bool ended = WaitFor([&] { return !line->IsRunning(); });
    const auto took = std::chrono::steady_clock::now() - asked;
    server.Pause(false);
    const QString status = line->findChild<QLabel*>("StatusLine")->text();
    ASSERT_TRUE(ended) << status.toStdString();
    EXPECT_LT(took, std::chrono::seconds(2)) << status.toStdString();
    EXPECT_EQ(Vqbench("dump 1").substr(0, 13), "0000 : FF FF ")
        << "written while the server did not answer: " << TileText(*line, 1);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Everything the program keeps goes to a folder of this process: ctest runs the cases
    // side by side, each in a process of its own.
    bwtest::TempFolder scratch("bw-production-line-");
    Scratch = scratch.Path;
    ::setenv("VQPIPEX_BENCH", (Scratch / "bench.txt").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (Scratch / "state").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (Scratch / "config").c_str(), 1);
    QApplication app(argc, argv);
    view::PrepareApplication(app);
    return RUN_ALL_TESTS();
}
