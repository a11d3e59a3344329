// The production line window driven by a scripted run on a thread of its own: the tiles'
// words and colours as devices come and go, the figures, Esc stopping after the device in
// hand, the settings locked while it runs, and the window without a runner.

#include "burnwise/ui/view/ProductionWindow.h"

#include "burnwise/ui/MainForm.h"
#include "burnwise/ui/view/MainWindow.h"
#include "burnwise/ui/view/WindowHost.h"
#include "support/TempFolder.h"

#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QFrame>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSysInfo>
#include <QTest>
#include <QToolBar>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace burnwise;

// Plugs the devices of its script in one after another from its own thread. Each device
// waits, once started, until the test lets it finish; a stop is taken only between devices.
class ScriptedRunner final : public ui::ProductionRunner {
public:
    std::vector<device::DeviceOutcome> Script;
    // The chips attached, by driver index, as a poll before the device of the same place in
    // the script (or after the script) finds them; none given: no poll.
    std::vector<std::vector<std::string>> Polls;
    std::string EndReason; // set: the run ends by itself after the script
    ui::ProductionSettings Given;
    int Starts = 0;

    ~ScriptedRunner() override {
        RequestStop();
        Finish(static_cast<int>(Script.size()));
        if (worker_.joinable()) worker_.join();
    }

    void Start(const ui::ProductionSettings& settings, ui::ProductionEvents& events) override {
        Given = settings;
        ++Starts;
        worker_ = std::thread([this, &events] {
            std::size_t step = 0;
            const auto poll = [&] {
                if (step < Polls.size() && !Polls[step].empty())
                    events.DevicesAttached(Polls[step]);
            };
            for (const device::DeviceOutcome& outcome : Script) {
                if (Stopping()) break;
                poll();
                ++step;
                // Each chip reports a serial number of its own: "C" and the one it is given.
                events.DeviceStarted(outcome.DriverIndex, "C" + outcome.SerialNumber);
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return finishable_ > finished_; });
                ++finished_;
                lock.unlock();
                events.DeviceFinished(outcome);
            }
            poll();
            if (EndReason.empty()) {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stop_; });
            }
            events.RunEnded(EndReason);
        });
    }
    void RequestStop() override {
        const std::lock_guard lock(mutex_);
        stop_ = true;
        changed_.notify_all();
    }
    // Lets the next `count` devices finish.
    void Finish(int count) {
        const std::lock_guard lock(mutex_);
        finishable_ += count;
        changed_.notify_all();
    }

private:
    bool Stopping() {
        const std::lock_guard lock(mutex_);
        return stop_;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    int finishable_ = 0;
    int finished_ = 0;
    std::thread worker_;
};

device::DeviceOutcome Outcome(std::int32_t index, const char* serial, const char* reason = "") {
    device::DeviceOutcome outcome;
    outcome.Operation = device::DeviceOperation::Program;
    outcome.DriverIndex = index;
    outcome.SerialNumber = serial;
    outcome.Passed = *reason == '\0';
    outcome.Reason = reason;
    return outcome;
}

bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i)
        QTest::qWait(10);
    return done();
}

struct ProductionWindowTest : ::testing::Test {
    // A folder of its own: ctest runs the cases of this suite side by side.
    bwtest::TempFolder Scratch{"bw-production-window-"};
    fs::path Folder = Scratch.Path;
    QString SettingsFile;
    view::WindowHost Host;
    ScriptedRunner* Runner = nullptr;
    std::unique_ptr<view::ProductionWindow> Window;
    int Beeps = 0;

    void SetUp() override {
        SettingsFile = QString::fromStdString((Folder / "production.conf").string());
        // A KR2S template that passes the checks, with one fixed serial number.
        std::ofstream(Folder / "fixed.ept")
            << "[Basic Details]\r\nDevice Type=3\r\nUSB VID=3C5A\r\nUSB PID=71A0\r\n"
               "[USB Power Options]\r\nBus Powered=1\r\nMax Bus Power=100\r\n"
               "[USB Serial Number Control]\r\nPrefix=QA\r\nUse Fixed Serial Number=1\r\n"
               "Fixed Serial Number=QA000001\r\n"
               "[USB String Descriptors]\r\nManufacturer=Velquor\r\nProduct=Cable\r\n";
        auto runner = std::make_unique<ScriptedRunner>();
        Runner = runner.get();
        Window = std::make_unique<view::ProductionWindow>(std::move(runner), Host, nullptr,
                                                          SettingsFile);
        Window->Beep = [this] { ++Beeps; };
        Window->show();
        // Shortcuts reach only the active window.
        Window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
    }
    void TearDown() override { Window.reset(); }

    template <typename T = QWidget>
    T* Find(const char* name) const {
        return Window->findChild<T*>(QString::fromLatin1(name));
    }
    QString Figure(const char* name) const { return Find<QLabel>(name)->text(); }
    // "Device 1|FAIL|QA000002|Error reading device", or "" when no tile has the number.
    QString TileText(std::int32_t index) const { return TextOf(Window->TileWidget(index)); }
    static QString TextOf(const QFrame* tile) {
        if (tile == nullptr) return {};
        return tile->findChild<QLabel*>("TileDevice")->text() + "|" +
               tile->findChild<QLabel*>("TileState")->text() + "|" +
               tile->findChild<QLabel*>("TileSerial")->text() + "|" +
               tile->findChild<QLabel*>("TileDetail")->text();
    }
    QColor TileColour(std::int32_t index) const {
        return Window->TileWidget(index)->palette().color(QPalette::Window);
    }
    void UseSettings(app::SerialSource source) {
        ui::ProductionSettings settings;
        settings.TemplateFile = Folder / "fixed.ept";
        settings.SerialSource = source;
        settings.DatabaseUrl = "sqlite:" + (Folder / "records.sqlite").string();
        Window->SetSettings(settings);
    }
};

TEST_F(ProductionWindowTest, TilesFollowEachDeviceAndEscStopsAfterTheDeviceInHand) {
    Runner->Script = {Outcome(0, "QA000001"), Outcome(1, "QA000002", "Error reading device"),
                      Outcome(0, "QA000003"), Outcome(1, "QA000004")};
    auto* start = Find<QPushButton>("StartButton");
    auto* stop = Find<QPushButton>("StopButton");
    auto* settings = Find<QPushButton>("SettingsButton");

    // Settings that could not number the devices never reach the runner.
    UseSettings(app::SerialSource::Template);
    QTest::mouseClick(start, Qt::LeftButton);
    EXPECT_EQ(Runner->Starts, 0);
    EXPECT_TRUE(Figure("StatusLine").contains("every device would get the same one"));

    UseSettings(app::SerialSource::Series);
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_EQ(Runner->Starts, 1);
    EXPECT_EQ(Runner->Given.StationName, QSysInfo::machineHostName().toStdString());
    EXPECT_EQ(Runner->Given.TemplateFile, Folder / "fixed.ept");
    // Locked while it runs.
    EXPECT_FALSE(start->isEnabled());
    EXPECT_FALSE(settings->isEnabled());
    EXPECT_TRUE(stop->isEnabled());
    Window->OpenSettings(); // refused without a dialog
    QCloseEvent close;
    QApplication::sendEvent(Window.get(), &close);
    EXPECT_FALSE(close.isAccepted());

    ASSERT_TRUE(WaitFor([&] { return !TileText(0).isEmpty(); }));
    EXPECT_EQ(TileText(0), "Device 0|WORKING||");
    const QColor working = TileColour(0);
    Runner->Finish(1);
    ASSERT_TRUE(WaitFor([&] { return TileText(1) == "Device 1|WORKING||"; }));
    EXPECT_EQ(TileText(0), "Device 0|PASS|QA000001|");
    const QColor pass = TileColour(0);
    EXPECT_EQ(Figure("PassedCount"), "1");
    EXPECT_EQ(Figure("LastSerialValue"), "QA000001");
    EXPECT_EQ(Beeps, 0);

    Runner->Finish(1);
    ASSERT_TRUE(WaitFor([&] { return TileText(0) == "Device 0|WORKING||"; }));
    EXPECT_EQ(TileText(1), "Device 1|FAIL|QA000002|Error reading device");
    const QColor fail = TileColour(1);
    EXPECT_EQ(Beeps, 1);
    EXPECT_EQ(Figure("FailedCount"), "1");
    EXPECT_EQ(Figure("YieldValue"), "50.0 %");
    // Green, red and amber, and far apart.
    EXPECT_GT(pass.green(), pass.red());
    EXPECT_GT(fail.red(), fail.green() + 100);
    EXPECT_GT(working.red(), 200);
    EXPECT_GT(working.green(), 120);
    EXPECT_LT(working.blue(), 80);

    // Esc with device 0 in hand: it is finished, the fourth device is never started.
    QTest::keyClick(Window.get(), Qt::Key_Escape);
    EXPECT_EQ(Figure("StatusLine"), "Stopping after device 0 ...");
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_TRUE(Window->IsRunning());
    EXPECT_FALSE(settings->isEnabled());
    Runner->Finish(1);
    ASSERT_TRUE(WaitFor([&] { return !Window->IsRunning(); }));
    EXPECT_EQ(TileText(0), "Device 0|PASS|QA000003|");
    EXPECT_EQ(TileText(1), "Device 1|FAIL|QA000002|Error reading device");
    EXPECT_EQ(Figure("PassedCount"), "2");
    EXPECT_EQ(Figure("StatusLine"), "Stopped.");
    EXPECT_TRUE(start->isEnabled());
    EXPECT_TRUE(settings->isEnabled());
    EXPECT_EQ(Beeps, 1);

    // The settings are kept for the next window.
    view::ProductionWindow again(nullptr, Host, nullptr, SettingsFile);
    EXPECT_EQ(again.Settings().TemplateFile, Folder / "fixed.ept");
    EXPECT_EQ(again.Settings().SerialSource, app::SerialSource::Series);
    EXPECT_EQ(again.Settings().DatabaseUrl, Window->Settings().DatabaseUrl);
}

TEST_F(ProductionWindowTest, ALostDatabaseFailsTheDeviceInHandAndStopsTheRun) {
    Runner->Script = {Outcome(0, "QA000001"), Outcome(1, "QA000002", "database unreachable")};
    Runner->EndReason = "database unreachable";
    Runner->Finish(2);
    UseSettings(app::SerialSource::Series);
    QTest::keyClick(Window.get(), Qt::Key_F5);
    ASSERT_TRUE(WaitFor([&] { return Runner->Starts == 1 && !Window->IsRunning(); }));
    EXPECT_EQ(TileText(0), "Device 0|PASS|QA000001|");
    EXPECT_EQ(TileText(1), "Device 1|FAIL|QA000002|database unreachable");
    EXPECT_EQ(Figure("StatusLine"), "Stopped: database unreachable");
    EXPECT_EQ(Beeps, 2); // the failure and the stop
    EXPECT_EQ(Figure("PassedCount"), "1");
    EXPECT_EQ(Figure("FailedCount"), "1");
}

TEST_F(ProductionWindowTest, AGoneDeviceGreysItsTileAndAFailureSaysWhatToDoFromAfar) {
    const char* reason = "EEPROM size not detected - nothing written to device 2";
    Runner->Script = {Outcome(0, "QA000108"), Outcome(1, "QA000109"),
                      Outcome(2, "QA000110", reason)};
    // After the three, the first is unplugged: the driver renumbers the other two.
    Runner->Polls = {{}, {}, {}, {"CQA000109", "CQA000110"}};
    std::vector<std::int32_t> shown;
    Window->OnOutcome = [&](const device::DeviceOutcome& outcome) {
        shown.push_back(outcome.DriverIndex);
    };
    Runner->Finish(3);
    UseSettings(app::SerialSource::Series);
    Window->StartRun();
    ASSERT_TRUE(WaitFor([&] { return TextOf(Window->TileAt(0)).contains("removed"); }))
        << TextOf(Window->TileAt(0)).toStdString();
    EXPECT_EQ(TextOf(Window->TileAt(0)), "Device 0|removed|QA000108|");
    const QColor grey = Window->TileAt(0)->palette().color(QPalette::Window);
    EXPECT_TRUE(grey.red() == grey.green() && grey.green() == grey.blue())
        << grey.name().toStdString();
    EXPECT_EQ(Window->TileWidget(0), nullptr);
    EXPECT_EQ(TileText(1), "Device 1|PASS|QA000109|");
    EXPECT_EQ(TileText(2), QStringLiteral("Device 2|FAIL|QA000110|") + reason);
    EXPECT_EQ(shown, (std::vector<std::int32_t>{0, 1, 2}));

    // Read from two metres: the slot label and serial large, the reason and what to do
    // below them, wrapped and whole.
    const QFrame* failed = Window->TileWidget(2);
    const auto label = [&](const char* name) { return failed->findChild<QLabel*>(name); };
    EXPECT_EQ(label("TileNextStep")->text(), "Put aside");
    EXPECT_GE(QFontInfo(label("TileDevice")->font()).pixelSize(), 24);
    EXPECT_GE(QFontInfo(label("TileSerial")->font()).pixelSize(), 24);
    EXPECT_GE(QFontInfo(label("TileDetail")->font()).pixelSize(), 18);
    EXPECT_GE(QFontInfo(label("TileNextStep")->font()).pixelSize(), 18);
    QTest::qWait(20);
    for (const char* name :
         {"TileDevice", "TileState", "TileSerial", "TileDetail", "TileNextStep"}) {
        const QLabel* shownLabel = label(name);
        EXPECT_TRUE(shownLabel->wordWrap()) << name;
        EXPECT_GE(shownLabel->height(), shownLabel->heightForWidth(shownLabel->width())) << name;
        EXPECT_TRUE(failed->rect().contains(shownLabel->geometry())) << name;
    }
    QTest::keyClick(Window.get(), Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([&] { return !Window->IsRunning(); }));
}

TEST_F(ProductionWindowTest, TheWindowFitsSmallScreensAndAChosenTemplateAnswersTheProblem) {
    // Tiles flow into as many columns as the window's width holds.
    Runner->Script = {Outcome(0, "QA000001"), Outcome(1, "QA000002"), Outcome(2, "QA000003")};
    Runner->Finish(3);
    Window->resize(1400, 640);
    UseSettings(app::SerialSource::Series);
    Window->StartRun();
    ASSERT_TRUE(WaitFor([&] { return !TileText(2).isEmpty() && TileText(2).contains("PASS"); }));
    QTest::qWait(20);
    const auto rows = [&] {
        std::set<int> tops;
        for (std::int32_t index : {0, 1, 2})
            tops.insert(Window->TileWidget(index)->y());
        return tops.size();
    };
    EXPECT_EQ(rows(), 1u);
    Window->resize(600, 480);
    QTest::qWait(20);
    EXPECT_EQ(rows(), 3u);
    EXPECT_LE(Window->minimumSizeHint().width(), 600);
    for (const char* name : {"StartButton", "StopButton", "SettingsButton"}) {
        auto* button = Find<QPushButton>(name);
        EXPECT_TRUE(Window->rect().contains(
            QRect(button->mapTo(Window.get(), QPoint(0, 0)), button->size())))
            << name;
    }
    QTest::keyClick(Window.get(), Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([&] { return !Window->IsRunning(); }));

    // Start without a template says so; choosing one clears it.
    Window->SetSettings({});
    Find<QPushButton>("StartButton")->click();
    EXPECT_EQ(Figure("StatusLine"), "Choose a template first.");
    UseSettings(app::SerialSource::Series);
    EXPECT_NE(Figure("StatusLine"), "Choose a template first.");
    EXPECT_TRUE(Figure("StatusLine").startsWith("Ready"));
}

TEST(ProductionLine, OpensFromTheDeviceMenuAndCannotStartWithoutARunner) {
    view::WindowHost host;
    ui::TMainForm form(host);
    view::MainWindow main(form, host);
    QAction* open = main.findChild<QAction*>("BWProduction");
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->text(), "Production &Line...");
    EXPECT_FALSE(open->icon().isNull());
    EXPECT_FALSE(open->toolTip().isEmpty());
    EXPECT_TRUE(main.menuBar()->actions()[1]->menu()->actions().contains(open));
    EXPECT_NE(main.findChild<QToolBar*>("ToolBar2")->widgetForAction(open), nullptr);

    open->trigger();
    auto* window = main.findChild<view::ProductionWindow*>();
    ASSERT_NE(window, nullptr);
    auto* start = window->findChild<QPushButton*>("StartButton");
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(start->toolTip().contains("not available"));
    window->StartRun();
    EXPECT_FALSE(window->IsRunning());
    window->close();
}

} // namespace
