// The production board fed with a run's events, and the checks a run's settings pass
// before Start.

#include "burnwise/ui/ProductionBoard.h"

#include "burnwise/ui/ProductionSettings.h"
#include "burnwise/ui/StationRunner.h"
#include "support/TempFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace {

using namespace burnwise;
using namespace std::chrono_literals;
using ui::TileState;

device::DeviceOutcome Outcome(std::int32_t index, const char* serial, const char* reason = "") {
    device::DeviceOutcome outcome;
    outcome.Operation = device::DeviceOperation::Program;
    outcome.DriverIndex = index;
    outcome.SerialNumber = serial;
    outcome.Passed = *reason == '\0';
    outcome.Reason = reason;
    return outcome;
}

struct ProductionBoardTest : ::testing::Test {
    std::chrono::steady_clock::time_point Now{std::chrono::hours(5)};
    ui::ProductionBoard Board{[this] { return Now; }};
};

TEST_F(ProductionBoardTest, CountsYieldPaceAndLastSerialFollowTheOutcomes) {
    Board.Start();
    EXPECT_EQ(Board.YieldText(), "-");
    EXPECT_EQ(Board.PerHourText(), "-");
    const struct {
        std::chrono::seconds At;
        device::DeviceOutcome Outcome;
        int Passed, Failed;
        const char *Yield, *PerHour, *LastSerial;
    } steps[] = {
        {30s, Outcome(0, "QA000001"), 1, 0, "100.0 %", "120", "QA000001"},
        {60s, Outcome(1, "QA000002", "Error reading device"), 1, 1, "50.0 %", "120", "QA000001"},
        {90s, Outcome(0, "QA000003"), 2, 1, "66.7 %", "120", "QA000003"},
        // A failed device used up its number, but the last serial is the last one programmed.
        {1800s, Outcome(2, "QA000004", "database unreachable"), 2, 2, "50.0 %", "8", "QA000003"},
    };
    for (const auto& step : steps) {
        Now = std::chrono::steady_clock::time_point{std::chrono::hours(5)} + step.At;
        Board.DeviceFinished(step.Outcome);
        EXPECT_EQ(Board.Passed(), step.Passed) << step.At.count();
        EXPECT_EQ(Board.Failed(), step.Failed) << step.At.count();
        EXPECT_EQ(Board.YieldText(), step.Yield) << step.At.count();
        EXPECT_EQ(Board.PerHourText(), step.PerHour) << step.At.count();
        EXPECT_EQ(Board.LastSerial(), step.LastSerial) << step.At.count();
    }
    // The pace goes on falling between devices, and stops with the run.
    Now += 1800s;
    EXPECT_EQ(Board.PerHourText(), "4");
    Board.RunEnded({});
    Now += 3600s;
    EXPECT_EQ(Board.PerHourText(), "4");
    // A new run starts from nothing.
    Board.Start();
    EXPECT_EQ(Board.Passed() + Board.Failed(), 0);
    EXPECT_TRUE(Board.Tiles().empty());
    EXPECT_EQ(Board.LastSerial(), "");
}

// "Device 1|PASS|QA000109" per place on the board; "removed" for a device gone.
std::vector<std::string> Places(const ui::ProductionBoard& board) {
    std::vector<std::string> places;
    for (const ui::ProductionTile& tile : board.Tiles())
        places.push_back(
            ui::ProductionBoard::DeviceText(tile) + "|" +
            (tile.Removed ? std::string("removed") : ui::ProductionBoard::StateText(tile.State)) +
            "|" + tile.SerialNumber);
    return places;
}

TEST_F(ProductionBoardTest, TilesFollowTheDevicesWhateverTheDriverNumbersThem) {
    Board.Start();
    // Three cables; each chip reports its own serial number (B1..B3) until programmed.
    Board.DeviceStarted(0, "B1");
    Board.DeviceFinished(Outcome(0, "QA000108"));
    Board.DeviceStarted(1, "B2");
    Board.DeviceFinished(Outcome(1, "QA000109"));
    Board.DeviceStarted(2, "B3");
    Board.DeviceFinished(Outcome(2, "QA000110", "Error reading device"));
    const std::vector<std::string> three = {"Device 0|PASS|QA000108", "Device 1|PASS|QA000109",
                                            "Device 2|FAIL|QA000110"};
    EXPECT_EQ(Places(Board), three);
    // A poll with a device that did not answer tells nothing of who went.
    Board.DevicesAttached({"B2", ""});
    EXPECT_EQ(Places(Board), three);
    // A programmed chip may report the number it was given.
    Board.DevicesAttached({"QA000108", "B2", "B3"});
    EXPECT_EQ(Places(Board), three);

    // The first is unplugged: the driver renumbers the other two 0 and 1. Its tile greys;
    // the others keep the number their lines and records carry.
    Board.DevicesAttached({"B2", "B3"});
    EXPECT_EQ(Places(Board),
              (std::vector<std::string>{"Device 0|removed|QA000108", "Device 1|PASS|QA000109",
                                        "Device 2|FAIL|QA000110"}));
    EXPECT_EQ(Board.TileOf(0), nullptr);
    EXPECT_EQ(ui::ProductionBoard::NextStepText(Board.Tiles()[0]), "");
    // A new chip plugged in now counts 2 at its poll: it takes the free place, and the tile
    // of the failed device that was numbered 2 before stays as it was.
    Board.DeviceStarted(2, "B4");
    EXPECT_EQ(Places(Board)[0], "Device 2|WORKING|");
    EXPECT_EQ(Places(Board)[2], "Device 2|FAIL|QA000110");
    Board.DeviceFinished(Outcome(2, "QA000111"));
    EXPECT_EQ(Places(Board),
              (std::vector<std::string>{"Device 2|PASS|QA000111", "Device 1|PASS|QA000109",
                                        "Device 2|FAIL|QA000110"}));
    EXPECT_EQ(Board.TileOf(2)->SerialNumber, "QA000111");
    // The same chip taken again (replugged and judged afresh) keeps its place.
    Board.DeviceStarted(1, "B3");
    EXPECT_EQ(Places(Board)[2], "Device 1|WORKING|");
    EXPECT_EQ(Board.Tiles().size(), 3u);
    EXPECT_EQ(Board.Passed(), 3);
    EXPECT_EQ(Board.Failed(), 1);

    // A device the run refused without taking it in hand is named by what it reports; one
    // that reported nothing is told by its number alone.
    Board.DeviceFinished(Outcome(4, "B9", "not programmed (not blank, or not a KR2S device)"));
    EXPECT_EQ(Places(Board).back(), "Device 4|FAIL|B9");
    Board.DeviceStarted(5);
    Board.DeviceStarted(5);
    EXPECT_EQ(Board.Tiles().size(), 5u);
}

TEST(ProductionBoard, AFailedTileSaysWhatToDoWithTheDevice) {
    const struct {
        const char* Reason;
        const char* NextStep;
    } rows[] = {
        {"Error opening device", "Unplug and plug in again to retry"},
        {"Error reading device", "Unplug and plug in again to retry"},
        {"database unreachable", "Unplug and plug in again to retry"},
        {"not finished", "Unplug and plug in again to retry"},
        {"EEPROM size not detected - nothing written to device 2", "Put aside"},
        {"The strings do not fit the EEPROM - nothing written to device 0", "Put aside"},
        {"Device 1 keeps reading back the serial number of the device before it", "Put aside"},
        {"not programmed (not blank, or not a KR2S device)", "Put aside"},
    };
    for (const auto& row : rows) {
        ui::ProductionTile tile;
        tile.State = TileState::Failed;
        tile.Reason = row.Reason;
        EXPECT_EQ(ui::ProductionBoard::NextStepText(tile), row.NextStep) << row.Reason;
    }
    ui::ProductionTile passed;
    passed.State = TileState::Passed;
    EXPECT_EQ(ui::ProductionBoard::NextStepText(passed), "");
}

TEST_F(ProductionBoardTest, ARunThatStopsByItselfSaysWhyAndLeavesNoDeviceWorking) {
    Board.Start();
    Board.DeviceStarted(0);
    Board.DeviceFinished(Outcome(0, "QA000001"));
    Board.DeviceStarted(1);
    Board.DeviceFinished(Outcome(1, "QA000002", "database unreachable"));
    Board.DeviceStarted(0); // taken in hand, never reported
    Board.RunEnded("database unreachable");
    EXPECT_FALSE(Board.Running());
    EXPECT_EQ(Board.StopMessage(), "database unreachable");
    EXPECT_EQ(ui::ProductionBoard::DetailText(*Board.TileOf(1)), "database unreachable");
    // Not shown as working on, and not counted: the run gave no verdict for it.
    EXPECT_EQ(Board.TileOf(0)->State, TileState::Failed);
    EXPECT_EQ(ui::ProductionBoard::DetailText(*Board.TileOf(0)), "not finished");
    EXPECT_EQ(Board.Passed(), 1);
    EXPECT_EQ(Board.Failed(), 1);
    // Events after the end change nothing.
    Board.DeviceFinished(Outcome(2, "QA000003"));
    EXPECT_EQ(Board.Passed(), 1);
}

// A KR2S template that passes the checks, with `fixed` as its Use Fixed Serial Number.
std::string ValidTemplateText(std::string_view fixed) {
    return "[Basic Details]\r\nDevice Type=3\r\nUSB VID=3C5A\r\nUSB PID=71A0\r\n"
           "[USB Power Options]\r\nBus Powered=1\r\nMax Bus Power=100\r\n"
           "[USB Serial Number Control]\r\nPrefix=QA\r\nUse Fixed Serial Number=" +
           std::string(fixed) +
           "\r\nFixed Serial Number=QA000001\r\n"
           "[USB String Descriptors]\r\nManufacturer=Velquor\r\nProduct=Cable\r\n";
}

// The settings check and the run read the template with one reader and ask one plan: every
// spelling the template file takes for the switch gets one answer from both.
TEST(ProductionSettings, TheSettingsAndTheRunAgreeOnEverySpellingOfAFixedSerialNumber) {
    bwtest::TempFolder folder("burnwise-fixed-spelling-");
    for (const char* spelling :
         {"1", "0x1", "+1", "01", "0X01", "-1", "0", "0x0", "+0", "1x", ""}) {
        SCOPED_TRACE(spelling);
        ui::ProductionSettings settings;
        settings.TemplateFile = folder.Path / "line.ept";
        std::ofstream(settings.TemplateFile, std::ios::binary) << ValidTemplateText(spelling);
        settings.SerialSource = app::SerialSource::Template;
        settings.DatabaseUrl = "sqlite:" + (folder.Path / "records.sqlite").string();
        const bool settingsRefuse = !ui::ProductionSettingsProblem(settings).empty();
        std::string error;
        const auto production = app::Production::Open(
            ui::SetupOf(settings),
            [](const std::string&, std::string& why) -> std::unique_ptr<records::RecordStore> {
                why = "no store here";
                return nullptr;
            },
            error);
        EXPECT_EQ(production, nullptr);
        EXPECT_EQ(settingsRefuse, error != "no store here") << error;
    }
}

TEST(ProductionSettings, StartNeedsATemplateThatFitsTheSerialSource) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "burnwise-production-settings-test";
    std::filesystem::create_directories(folder);
    const auto templateFile = [&](const char* name, const char* fixed) {
        const std::filesystem::path file = folder / name;
        std::ofstream(file) << ValidTemplateText(fixed);
        return file;
    };
    const auto fixed = templateFile("fixed.ept", "1");
    const auto scheme = templateFile("scheme.ept", "0");
    const auto odd = templateFile("odd.ept", "1x"); // not a number: read as 0
    using K = app::SerialSource;
    const struct {
        std::filesystem::path Template;
        K Source;
        const char* Counter;
        const char* Problem; // a part of the line, or "" for none
    } rows[] = {
        {fixed, K::Series, "", ""},
        {fixed, K::Counter, "/tmp/next-serial", ""},
        {fixed, K::Counter, "", "Choose a counter file."},
        {fixed, K::Template, "", "every device would get the same one"},
        {scheme, K::Template, "", ""},
        {odd, K::Template, "", ""},
        {scheme, K::Series, "", "A series needs a template with a fixed serial number"},
        {scheme, K::Counter, "/tmp/next-serial", "needs a template with a fixed serial"},
        {{}, K::Series, "", "Choose a template first."},
        {folder / "missing.ept", K::Series, "", "Cannot open the template"},
        {folder, K::Series, "", "Cannot open the template"},
    };
    for (const auto& row : rows) {
        ui::ProductionSettings settings;
        settings.TemplateFile = row.Template;
        settings.SerialSource = row.Source;
        settings.CounterFile = row.Counter;
        const std::string problem = ui::ProductionSettingsProblem(settings);
        if (*row.Problem == '\0')
            EXPECT_EQ(problem, "") << row.Template << " " << static_cast<int>(row.Source);
        else
            EXPECT_NE(problem.find(row.Problem), std::string::npos) << problem;
    }
    // Settings files saved before keep reading as they were written.
    for (const auto& [key, kind] :
         {std::pair{"series", K::Series}, std::pair{"counter", K::Counter},
          std::pair{"template", K::Template}}) {
        EXPECT_EQ(ui::SerialSourceFromKey(key), kind);
        EXPECT_EQ(ui::SerialSourceKey(kind), key);
    }
    EXPECT_EQ(ui::SerialSourceFromKey("sequence"), std::nullopt);
    std::filesystem::remove_all(folder);
}

} // namespace
