// Device > Program All Devices At Once: the item, kept in the window's settings, and Program
// going at once, or one by one with a line when the serial numbers come from the clock.

#include "WindowOnTheBench.h"
#include "burnwise/app/Station.h"
#include "burnwise/device/testing/InProcessBench.h"
#include "burnwise/ui/MainForm.h"
#include "burnwise/ui/view/MainWindow.h"
#include "burnwise/ui/view/WindowHost.h"
#include "support/TempFolder.h"

#include <QAction>
#include <QMenuBar>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <mutex>

namespace {

namespace fs = std::filesystem;
using namespace burnwise;

// Holds each device's programming open (its second) until MeetAt devices have come that far
// or two seconds have passed, and keeps the most handles open at once.
class MeetingBench final : public device::testing::InProcessBench {
public:
    int MeetAt = 0;
    int MostOpen = 0;

    VQ_STATUS Open(std::int32_t index, VQ_HANDLE* handle) override {
        const VQ_STATUS status = InProcessBench::Open(index, handle);
        std::unique_lock lock(mutex_);
        if (++opens_[index] == 2 && MeetAt > 0) {
            ++met_;
            met_changed_.notify_all();
            met_changed_.wait_for(lock, std::chrono::seconds(2), [this] { return met_ >= MeetAt; });
        }
        MostOpen = std::max(MostOpen, OpenHandles());
        return status;
    }

private:
    std::mutex mutex_;
    std::condition_variable met_changed_;
    std::map<std::int32_t, int> opens_;
    int met_ = 0;
};

// A second later at every look, so serial numbers from it never repeat.
class SteppingClock final : public codec::UtcClock {
public:
    codec::UtcTime Now() const override {
        const int n = seconds_++;
        return {2026, 12, 9, 10, n / 60 % 60, n % 60};
    }

private:
    mutable std::atomic<int> seconds_{0};
};

std::string Kr2Template(bool fixedSerial) {
    return std::string("[Basic Details]\r\nDevice Type=3\r\nVID PID Type=0\r\nUSB VID=3C5A\r\n"
                       "USB PID=71A0\r\n[USB Power Options]\r\nBus Powered=1\r\n"
                       "Max Bus Power=100\r\n[USB Serial Number Control]\r\nPrefix=VQ\r\n"
                       "Use Fixed Serial Number=") +
           (fixedSerial ? "1" : "0") +
           "\r\nFixed Serial Number=GNG00001\r\n[USB String Descriptors]\r\n"
           "Manufacturer=Bench Maker\r\nProduct=Gang Test\r\n[Programming Options]\r\n"
           "Only Program Blank Devices=1\r\n";
}

struct GangWindowTest : ::testing::Test {
    bwtest::TempFolder Scratch{"bw-gang-window-"};
    bwtest::AnsweringHost Host;
    MeetingBench Bench;
    SteppingClock Clock;
    std::unique_ptr<ui::TMainForm> Form;
    std::unique_ptr<view::MainWindow> Window;

    // A window as the program starts it, on the test's own settings file.
    void Start() {
        Window.reset();
        Form = std::make_unique<ui::TMainForm>(Host);
        Form->AttachDriver(Bench, Clock);
        Window = std::make_unique<view::MainWindow>(*Form, Host);
        Window->KeepSettingsIn(QString::fromStdString((Scratch.Path / "burnwise.conf").string()));
        Window->ShowFirstTime();
    }
    QAction* Item() const { return Window->findChild<QAction*>("ProgramAllAtOnce"); }
};

TEST_F(GangWindowTest, TheItemTogglesAndIsKeptAcrossRuns) {
    Start();
    QAction* item = Item();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), "Program &All Devices At Once");
    EXPECT_TRUE(Window->menuBar()->actions()[1]->menu()->actions().contains(item));
    EXPECT_TRUE(item->isCheckable());
    EXPECT_FALSE(item->toolTip().isEmpty());
    EXPECT_FALSE(item->statusTip().isEmpty());
    for (const bool on : {true, false}) {
        SCOPED_TRACE(on);
        EXPECT_NE(Item()->isChecked(), on);
        Item()->trigger();
        EXPECT_EQ(Item()->isChecked(), on);
        EXPECT_EQ(Form->ProgramAllAtOnce, on);
        Start();
        EXPECT_EQ(Item()->isChecked(), on) << "kept";
        EXPECT_EQ(Form->ProgramAllAtOnce, on);
    }
}

TEST_F(GangWindowTest, ProgramGoesAtOnceAndRefusesClockSerials) {
    const struct {
        const char* Name;
        bool FixedSerial;
        int MeetAt, MostOpen;
        std::string LastLine;
    } rows[] = {
        {"fixed serial numbers", true, 2, 2, "Programmed Serial Number : GNG00002"},
        {"serial numbers from the clock", false, 0, 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        while (Bench.DeviceCount() > 0)
            Bench.RemoveDevice(0);
        Bench.AddDevice("KR2S");
        Bench.AddDevice("KR2S", "93C56");
        Bench.MeetAt = row.MeetAt;
        Bench.MostOpen = 0;
        Host.Boxes.clear();
        const fs::path file = Scratch.Path / (std::string(row.Name) + ".ept");
        std::ofstream(file, std::ios::binary) << Kr2Template(row.FixedSerial);
        Start();
        if (!Item()->isChecked()) Item()->trigger();
        Host.OpenAnswer = file;
        Window->ActionOf("BWOpen")->trigger();
        Window->ActionOf("BWProgram")->trigger();

        EXPECT_EQ(Bench.MostOpen, row.MostOpen);
        const bool written = row.FixedSerial;
        if (written) {
            EXPECT_EQ(Host.Boxes, std::vector<std::string>{});
            ASSERT_FALSE(Form->Messages().Lines.empty());
            EXPECT_EQ(Form->Messages().Lines.back(), row.LastLine);
        } else {
            // Refused before anything is opened, in the window's own words.
            ASSERT_EQ(Host.Boxes.size(), 1u);
            EXPECT_NE(Host.Boxes[0].find("Program All Devices At Once"), std::string::npos)
                << Host.Boxes[0];
        }
        for (int device : {0, 1}) {
            const std::vector<std::uint16_t> words = Bench.Words(device);
            EXPECT_EQ(std::count(words.begin(), words.end(), 0xFFFF) == std::ssize(words), !written)
                << device;
        }
    }
}

} // namespace
