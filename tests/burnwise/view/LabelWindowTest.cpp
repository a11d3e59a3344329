// Labels in the windows, end to end: the settings dialog's label part kept and read back,
// its preview drawn by the label library or the layout's refusal in its place, and runs on
// the simulated bench (devices added with vqbench) printing into a folder or through a print
// service of the test's own, where a queue that does not exist fails the label and never the
// device, and the tile's button prints it again from the record.

#include "WindowOnTheBench.h"
#include "burnwise/labels/LabelLayout.h"
#include "burnwise/records/RecordStore.h"
#include "burnwise/ui/view/LabelSettingsBox.h"
#include "support/PrintServer.h"
#include "support/TempFolder.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <cstdlib>
#include <cups/cups.h>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
using namespace burnwise;

fs::path Scratch;
const fs::path Layouts = fs::path(BW_SOURCE_DIR) / "examples" / "labels";

const std::string Kr2Template = bwtest::FixedSerialCableTemplate("Label Test");

void Vqbench(const std::string& args) {
    const std::string command = std::string(VQBENCH) + " " + args + " >/dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "vqbench " << args;
}

bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 600 && !done(); ++i)
        QTest::qWait(50);
    return done();
}

std::set<std::string> FilesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

std::string TileLine(const QFrame* tile, const char* name) {
    if (tile == nullptr) return "(no tile)";
    const QLabel* label = tile->findChild<QLabel*>(name);
    return label->isHidden() ? "" : label->text().toStdString();
}

// This test's own folder in the scratch folder.
fs::path TestFolder() {
    return Scratch / testing::UnitTest::GetInstance()->current_test_info()->name();
}

struct LabelWindows : bwtest::WindowOnTheBench {
    // Questions are answered Yes.
    LabelWindows() : WindowOnTheBench(TestFolder()) { Host.LaterAnswer = true; }

    fs::path Folder = TestFolder();
    fs::path Template = Folder / "kr2.ept";
    fs::path LabelFolder = Folder / "labels";
    std::string Database = "sqlite:" + (Folder / "records.sqlite").string();

    void SetUp() override {
        fs::create_directories(LabelFolder);
        std::ofstream(Template, std::ios::binary) << Kr2Template;
        Vqbench("reset");
        WindowOnTheBench::SetUp();
    }

    ui::ProductionSettings Settings(const ui::LabelSettings& labels) const {
        ui::ProductionSettings settings;
        settings.TemplateFile = Template;
        settings.SerialSource = app::SerialSource::Series;
        settings.DatabaseUrl = Database;
        settings.StationName = "bench-9";
        settings.Labels = labels;
        return settings;
    }
    view::ProductionWindow* OpenLine(const ui::LabelSettings& labels) {
        return OpenProductionLine(Settings(labels));
    }
    // The records as a reader sees them while the run writes: none while the database
    // cannot be read (the checks on what they hold then fail).
    std::vector<records::Record> Records() {
        std::string error;
        const auto store = records::OpenRecordStore(Database, records::OpenMode::Read, error);
        if (!store) return {};
        return store->List({}, error).value_or(std::vector<records::Record>{});
    }
};

TEST_F(LabelWindows, TheSettingsAreKeptAndThePreviewIsTheLabelOrTheLayoutsRefusal) {
    const fs::path broken = Folder / "broken.svg";
    std::ofstream(broken) << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"50mm\" "
                             "height=\"25mm\"><text>{colour}</text></svg>";
    std::string refusal;
    ASSERT_FALSE(labels::LabelLayout::Load(broken, refusal));

    const struct {
        ui::LabelSettings Labels;
        bool Drawn;
    } cases[] = {
        {{true, Layouts / "cable-50x25.svg", "", false, {}}, true},
        {{true, Layouts / "cable-62x29.svg", "", true, LabelFolder}, true},
        {{true, broken, "", false, {}}, false},
    };
    const QString file = QString::fromStdString((Folder / "production.conf").string());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Labels.Layout.string());
        // Kept with the other production settings, and read back by the next window.
        {
            view::ProductionWindow line(nullptr, Host, nullptr, file);
            line.SetSettings(Settings(c.Labels));
        }
        const ui::ProductionSettings kept = view::LoadProductionSettings(file);
        EXPECT_EQ(kept.Labels.Print, c.Labels.Print);
        EXPECT_EQ(kept.Labels.Layout, c.Labels.Layout);
        EXPECT_EQ(kept.Labels.ToFolder, c.Labels.ToFolder);
        EXPECT_EQ(kept.Labels.Folder, c.Labels.Folder);

        view::ProductionSettingsDialog dialog(kept, Host);
        EXPECT_EQ(dialog.Settings().Labels.Layout, c.Labels.Layout);
        EXPECT_EQ(dialog.Settings().Labels.Folder, c.Labels.Folder);
        const QLabel* preview = dialog.findChild<QLabel*>("LabelPreview");
        ASSERT_NE(preview, nullptr);
        if (c.Drawn) {
            EXPECT_FALSE(preview->pixmap().isNull()) << preview->text().toStdString();
            EXPECT_GT(preview->pixmap().width(), 100);
        } else {
            EXPECT_TRUE(preview->pixmap().isNull());
            EXPECT_EQ(preview->text().toStdString(), refusal);
            // And OK is refused with it.
            dialog.accept();
            EXPECT_EQ(dialog.result(), QDialog::Rejected);
            EXPECT_EQ(dialog.findChild<QLabel*>("SettingsProblem")->text().toStdString(),
                      "The label layout cannot be used: " + refusal);
        }
    }
}

TEST_F(LabelWindows, ARunIntoAFolderGivesOnePdfPerPassAndProgramPrintsToo) {
    Vqbench("add KR2S");
    Vqbench("add KR2S");
    Vqbench("add KR2S");
    Vqbench("fault 1 ignore-writes --word 4");
    view::ProductionWindow* line =
        OpenLine({true, Layouts / "cable-50x25.svg", "", true, LabelFolder});
    ASSERT_NE(line, nullptr);
    line->StartRun();
    ASSERT_TRUE(WaitFor([&] { return Records().size() == 3u; }));
    ASSERT_TRUE(WaitFor([&] { return FilesIn(LabelFolder).size() == 2u; }));
    QTest::keyClick(line, Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([&] { return !line->IsRunning(); }));
    EXPECT_EQ(FilesIn(LabelFolder), (std::set<std::string>{"QA000001.pdf", "QA000003.pdf"}));
    for (const records::Record& record : Records()) {
        SCOPED_TRACE(record.SerialNumber);
        const bool passed = record.Outcome == records::Result::Pass;
        EXPECT_EQ(record.Label.State,
                  passed ? records::LabelState::Printed : records::LabelState::NotAsked);
        EXPECT_EQ(TileLine(line->TileWidget(record.DriverIndex), "TileLabel"), "");
    }
    line->close();

    // The main window's Program prints with the same settings, one line per label; its
    // serial number is the template's own, which the line gave already: written again only
    // once the user says so.
    fs::remove_all(LabelFolder);
    fs::create_directories(LabelFolder);
    Vqbench("reset");
    Vqbench("add KR2S");
    Host.OpenAnswer = Template;
    Window->ActionOf("BWOpen")->trigger();
    ASSERT_NE(Window->findChild<QAction*>("PrintLabels"), nullptr);
    Window->ActionOf("BWProgram")->trigger();
    ASSERT_TRUE(WaitFor([&] { return !Window->IsBusy(); }));
    EXPECT_EQ(Host.Boxes, std::vector<std::string>{});
    ASSERT_EQ(Host.Questions.size(), 1u);
    EXPECT_TRUE(Host.Questions[0].starts_with("QA000001 was already given to a device on "))
        << Host.Questions[0];
    EXPECT_EQ(FilesIn(LabelFolder), std::set<std::string>{"QA000001.pdf"});
    const QString lines = Window->findChild<QPlainTextEdit*>("Memo1")->toPlainText();
    EXPECT_TRUE(lines.contains(QString::fromStdString("Label QA000001 printed: " +
                                                      (LabelFolder / "QA000001.pdf").string())))
        << lines.toStdString();
}

TEST_F(LabelWindows, AQueueThatDoesNotExistMarksTheTileLeavesThePassAndTheButtonReprints) {
    BW_SKIP_WITHOUT_CUPSD();
    bwtest::PrintServer server;
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    // The run's thread reads the variable; this thread is told directly.
    ::setenv("CUPS_SERVER", server.Socket().c_str(), 1);
    cupsSetServer(server.Socket().c_str());

    Vqbench("add KR2S");
    view::ProductionWindow* line =
        OpenLine({true, Layouts / "cable-62x29.svg", "nosuch", false, {}});
    ASSERT_NE(line, nullptr);
    line->StartRun();
    ASSERT_TRUE(WaitFor([&] {
        return line->TileWidget(0) != nullptr &&
               !TileLine(line->TileWidget(0), "TileLabel").empty();
    }));
    const QFrame* tile = line->TileWidget(0);
    EXPECT_EQ(TileLine(tile, "TileState"), "PASS");
    EXPECT_EQ(TileLine(tile, "TileLabel"), "label failed: no print queue \"nosuch\"");
    EXPECT_TRUE(tile->findChild<QLabel*>("TileLabel")->wordWrap());
    EXPECT_EQ(line->findChild<QLabel*>("PassedCount")->text(), "1");
    std::vector<records::Record> kept = Records();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].Outcome, records::Result::Pass);
    EXPECT_EQ(kept[0].Label.State, records::LabelState::Failed);
    QTest::keyClick(line, Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([&] { return !line->IsRunning(); }));

    // The printer set right, the tile's button prints the label from the record.
    ui::ProductionSettings settings = line->Settings();
    settings.Labels.Printer = "labels";
    line->SetSettings(settings);
    auto* reprint = tile->findChild<QPushButton*>("TileReprint");
    ASSERT_FALSE(reprint->isHidden());
    reprint->click();
    EXPECT_EQ(TileLine(tile, "TileLabel"), "");
    EXPECT_TRUE(reprint->isHidden());
    EXPECT_TRUE(
        WaitFor([&] { return bwtest::ReadFile(server.Output("labels")).starts_with("%PDF"); }));
    kept = Records();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].Label.State, records::LabelState::Printed);
    EXPECT_EQ(kept[0].Label.Detail, "labels-1");
    ::unsetenv("CUPS_SERVER");
    cupsSetServer(nullptr);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    bwtest::TempFolder scratch("bw-label-window-");
    Scratch = scratch.Path;
    ::setenv("VQPIPEX_BENCH", (Scratch / "bench.txt").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (Scratch / "state").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (Scratch / "config").c_str(), 1);
    QApplication app(argc, argv);
    view::PrepareApplication(app);
    return RUN_ALL_TESTS();
}
