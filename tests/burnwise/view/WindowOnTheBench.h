#pragma once

// The window's services answered without a modal loop, and the program's main window on the
// simulated driver library with the production line connected, as the view tests use them.

#include "burnwise/device/LinkedDriver.h"
#include "burnwise/ui/MainForm.h"
#include "burnwise/ui/view/MainWindow.h"
#include "burnwise/ui/view/ProductionWindow.h"
#include "burnwise/ui/view/Program.h"
#include "burnwise/ui/view/WindowHost.h"

#include <QAction>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bwtest {

// A template for KR2S cables with one fixed serial number, QA000001, that programs blank
// devices only.
inline std::string FixedSerialCableTemplate(std::string_view product) {
    return "[Basic Details]\r\nDevice Type=3\r\nVID PID Type=0\r\nUSB VID=3C5A\r\nUSB PID=71A0\r\n"
           "[USB Power Options]\r\nBus Powered=1\r\nMax Bus Power=100\r\n"
           "[USB Serial Number Control]\r\nPrefix=QA\r\nUse Fixed Serial Number=1\r\n"
           "Fixed Serial Number=QA000001\r\n"
           "[USB String Descriptors]\r\nManufacturer=Bench Maker\r\nProduct=" +
           std::string(product) + "\r\n[Programming Options]\r\nOnly Program Blank Devices=1\r\n";
}

// Opens the file it is given and keeps the boxes; keeps the questions and answers them from
// Answers in turn, then with LaterAnswer.
class AnsweringHost final : public burnwise::view::WindowHost {
public:
    std::optional<std::filesystem::path> OpenAnswer;
    std::vector<std::string> Boxes;
    std::vector<std::string> Questions;
    std::vector<bool> Answers;
    bool LaterAnswer = false;

    std::optional<std::filesystem::path>
    RunOpenDialog(const burnwise::ui::FileDialogOptions&) override {
        return OpenAnswer;
    }
    void ShowErrorBox(std::string_view text) override { Boxes.emplace_back(text); }
    void ShowInformationBox(std::string_view text) override { Boxes.emplace_back(text); }
    bool AskGoOnOrCancel(std::string_view question, std::string_view) override {
        return Answer(question);
    }
    bool AskYesOrNo(std::string_view question) override { return Answer(question); }

private:
    bool Answer(std::string_view question) {
        Questions.emplace_back(question);
        return Questions.size() <= Answers.size() ? Answers[Questions.size() - 1] : LaterAnswer;
    }
};

// The main window as the program starts it on the driver library it is linked against (the
// simulated bench the test's VQPIPEX_BENCH names), its templates and help in `folder`.
struct WindowOnTheBench : ::testing::Test {
    explicit WindowOnTheBench(const std::filesystem::path& folder)
        : Form{Host, {folder / "Templates", folder / "Help.html"}} {}

    AnsweringHost Host;
    burnwise::device::LinkedDriver Driver;
    burnwise::ui::TMainForm Form;
    std::unique_ptr<burnwise::view::MainWindow> Window;

    void SetUp() override {
        Form.AttachDriver(Driver);
        Window = std::make_unique<burnwise::view::MainWindow>(Form, Host, Driver.SimulatedBench());
        burnwise::view::ConnectProduction(*Window, Form, Driver);
        Window->ShowFirstTime();
    }
    void TearDown() override { Window.reset(); }

    // The production line as the Device menu opens it, silent, with these settings.
    burnwise::view::ProductionWindow*
    OpenProductionLine(const burnwise::ui::ProductionSettings& settings) {
        Window->findChild<QAction*>("BWProduction")->trigger();
        auto* line = Window->findChild<burnwise::view::ProductionWindow*>();
        if (line == nullptr) return nullptr;
        line->Beep = [] {};
        line->SetSettings(settings);
        return line;
    }
};

} // namespace bwtest
