#pragma once

#include "EngineFixture.h"
#include "burnwise/app/Station.h"
#include "burnwise/app/TemplateEditor.h"
#include "burnwise/app/TemplateFile.h"
#include "support/TempFolder.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace burnwise::device::testing {

// Keeps what the operations report: the message list as it stands (a clear empties it),
// every line ever appended, the boxes ("error: TEXT" / "info: TEXT") and the progress.
struct BenchReporter : Reporter {
    std::vector<std::string> Lines;
    std::vector<std::string> Log;
    std::vector<std::string> Shown; // boxes
    std::vector<std::pair<int, int>> ProgressSeen;

    void AppendLine(std::string_view line) override {
        Lines.emplace_back(line);
        Log.emplace_back(line);
    }
    void ClearLines() override { Lines.clear(); }
    void ShowError(std::string_view text) override {
        Shown.push_back("error: " + std::string(text));
    }
    void ShowInformation(std::string_view text) override {
        Shown.push_back("info: " + std::string(text));
    }
    void DeviceProgress(int position, int count) override {
        ProgressSeen.emplace_back(position, count);
    }
    void DeviceFinished(const DeviceOutcome& outcome) override { Outcomes.push_back(outcome); }
    std::vector<DeviceOutcome> Outcomes;
};

// The station on an in-process bench: bench ← trace ← fault wrapper ← engine, over a
// template of its own. A test may set the blank-only switch as the window's box would: the
// station's runs take it into the template they are given.
struct DeviceBench {
    InProcessBench Bench;
    TraceDriver Trace{Bench};
    FaultDriver Faults{Trace};
    SteppingClock Clock;
    BenchReporter Reported;
    app::Station Line{Faults, Reported, Clock};
    codec::CodecState& State = Line.State();
    RunFlags& Flags = Line.Flags();
    app::Template Shown = app::Template::Start();
    bwtest::TempFolder Folder{"burnwise-device-test-"};
    std::vector<DeviceOutcome>& Outcomes = Reported.Outcomes;
    std::vector<std::string>& Log = Reported.Log;
    std::vector<std::pair<int, int>>& ProgressSeen = Reported.ProgressSeen;

    DeviceBench() { Flags.OnlyBlankDevices = Shown.OnlyBlankDevices; }

    DeviceEngine& Engine() { return Line.Engine(); }

    // A new template for `model`, changed by `edit`, that passes the checks of a save; the
    // switches follow it as the window's boxes would.
    void Template(std::string_view model, const std::function<void(app::Template&)>& edit = {}) {
        Shown = app::Template::Start();
        app::TemplateEditor editor(Shown, Reported);
        app::ApplyNewTemplate(editor);
        const std::optional<codec::ChipType> type = codec::ChipTypeFromListText(model);
        ASSERT_TRUE(type) << model;
        editor.SetModel(*type);
        app::ApplyModelValues(editor);
        if (edit) edit(Shown);
        ASSERT_TRUE(app::ValidateTemplate(Shown, Reported)) << ::testing::PrintToString(Log);
        Follow();
        Flags.SerialNumberDisabled = false;
        Reported.Lines.clear();
        Log.clear();
    }

    // Opens a template file as the window's Open does.
    void Open(const fs::path& file) {
        const std::optional<app::Template> opened = app::OpenTemplateFile(file, Shown, Reported);
        ASSERT_TRUE(opened) << file;
        Shown = *opened;
        Follow();
        Flags.SerialNumberDisabled = Shown.DisableSerialNumber;
    }

    // The family selectors and the blank-only switch follow the template shown.
    void Follow() {
        const std::optional<codec::ChipType> model = Shown.ChosenModel();
        State.Selectors = model ? codec::ChipModelOf(*model).Selectors : codec::FamilySelectors{};
        Flags.OnlyBlankDevices = Shown.OnlyBlankDevices;
    }

    // The template shown, with the blank-only box as the test left it.
    app::Template Current() const {
        app::Template t = Shown;
        t.OnlyBlankDevices = Flags.OnlyBlankDevices;
        return t;
    }
    // With `serials`, the numbers come from a counter that gives them.
    app::Report Program(decltype(app::ProgramRequest::Serials) serials = {}) {
        app::ProgramRequest request;
        request.Shown = Current();
        if (serials) request.Source = app::SerialSource::Counter;
        request.Serials = std::move(serials);
        return Line.Program(request);
    }
    app::Report Scan() { return Line.Scan(Current()); }
    app::Report Erase() { return Line.Erase(Current()); }
    app::Report Read() { return Line.Read(Current()); }
    app::Report ReadAndParse() {
        app::Template decoded;
        app::Report report = Line.ReadAndParse(Current(), decoded);
        Shown = decoded;
        return report;
    }
    app::Report Cycle() { return Line.Cycle(Current()); }

    const std::vector<std::string>& Lines() const { return Reported.Lines; }
    std::vector<std::string> Boxes() const { return Reported.Shown; }
    void ClearBoxes() { Reported.Shown.clear(); }

    std::vector<std::string> LinesStartingWith(std::string_view start) const {
        return testing::LinesStartingWith(Log, start);
    }

    // Decodes what the bench's part holds now as a programming run's read-back would.
    int DecodeBench(int driverIndex, const codec::ChipModel& model, codec::CodecState& out) {
        return DecodeBenchPart(Bench, driverIndex, model, out);
    }
};

// The template's settings device after device, and its decoded devices, for an engine
// driven directly.
struct TemplateSettings : SettingsSource, ParsedDeviceSink {
    DeviceBench& P;
    explicit TemplateSettings(DeviceBench& p) : P(p) {}
    bool CheckStringTotal() override { return app::CheckStringTotal(P.Shown, P.Reported); }
    void GatherSettings(int deviceNumber) override {
        app::GatherSettings(P.Shown, deviceNumber, P.State, P.Flags);
    }
    void PutIntoWindow(codec::EepromSettings& settings,
                       codec::FamilySelectors& selectors) override {
        app::TemplateEditor editor(P.Shown, P.Reported);
        app::ApplyDecoded(editor, settings, selectors);
    }
    void ShowParsedDeviceType(const codec::EepromSettings& settings,
                              const codec::FamilySelectors& selectors) override {
        app::TemplateEditor editor(P.Shown, P.Reported);
        app::ApplyParsedDeviceType(editor, settings, selectors);
    }
};

} // namespace burnwise::device::testing
