#include "burnwise/app/Station.h"

#include "burnwise/app/TemplateEditor.h"

namespace burnwise::app {
namespace {

// A programming run's settings: the template's, device after device.
class TemplateSettings final : public device::SettingsSource {
public:
    TemplateSettings(const Template& t, codec::CodecState& state, device::RunFlags& flags,
                     device::Reporter& reporter)
        : t_(t), state_(state), flags_(flags), reporter_(reporter) {}

    bool CheckStringTotal() override { return app::CheckStringTotal(t_, reporter_); }
    void GatherSettings(int deviceNumber) override {
        app::GatherSettings(t_, deviceNumber, state_, flags_);
    }

private:
    const Template& t_;
    codec::CodecState& state_;
    device::RunFlags& flags_;
    device::Reporter& reporter_;
};

// Read and Parse's decoded devices, into a template.
class TemplateParsedSink final : public device::ParsedDeviceSink {
public:
    explicit TemplateParsedSink(TemplateEditor& editor, std::function<void()> starts = {})
        : editor_(editor), starts_(std::move(starts)) {}

    void PutIntoWindow(codec::EepromSettings& settings,
                       codec::FamilySelectors& selectors) override {
        if (starts_) starts_();
        ApplyDecoded(editor_, settings, selectors);
    }
    void ShowParsedDeviceType(const codec::EepromSettings& settings,
                              const codec::FamilySelectors& selectors) override {
        ApplyParsedDeviceType(editor_, settings, selectors);
    }

private:
    TemplateEditor& editor_;
    std::function<void()> starts_;
};

} // namespace

Station::Station(device::PipexDriver& driver, device::Reporter& reporter,
                 const codec::UtcClock& clock, device::ClockSerialRecord* clockRecord)
    : ownState_(std::make_unique<codec::CodecState>()),
      ownFlags_(std::make_unique<device::RunFlags>()), state_(*ownState_), flags_(*ownFlags_),
      reporter_(reporter), engine_(driver, state_, flags_, reporter, clock) {
    engine_.ClockRecord = clockRecord;
}

Station::Station(device::PipexDriver& driver, device::Reporter& reporter,
                 const codec::UtcClock& clock, device::ClockSerialRecord* clockRecord,
                 codec::CodecState& state, device::RunFlags& flags)
    : state_(state), flags_(flags), reporter_(reporter),
      engine_(driver, state_, flags_, reporter, clock) {
    engine_.ClockRecord = clockRecord;
}

Station::~Station() {
    engine_.Unit.CloseCurrentDevice();
}

void Station::Prepare(const Template& shown) {
    const std::optional<codec::ChipType> model = shown.ChosenModel();
    state_.Selectors = model ? codec::ChipModelOf(*model).Selectors : codec::FamilySelectors{};
    if (!ownFlags_) return;
    flags_.OnlyBlankDevices = shown.OnlyBlankDevices;
    flags_.SerialNumberDisabled = shown.DisableSerialNumber;
}

Report Station::Run(device::DeviceOperation operation, const std::function<device::RunEnd()>& run,
                    const std::function<bool(const device::DeviceOutcome&)>& observe) {
    std::vector<device::DeviceOutcome> outcomes;
    bool stop = false;
    const auto listener = engine_.DeviceFinished;
    const auto stopWanted = engine_.StopWanted;
    engine_.DeviceFinished = [&](const device::DeviceOutcome& outcome) {
        outcomes.push_back(outcome);
        if (listener) listener(outcome);
        if (observe && !observe(outcome)) stop = true;
    };
    engine_.StopWanted = [&] { return stop || (stopWanted && stopWanted()); };
    // The engine's listeners are given back also when an error ends the run.
    struct Restore {
        device::DeviceEngine& Engine;
        const std::function<void(const device::DeviceOutcome&)>& Listener;
        const std::function<bool()>& StopWanted;
        ~Restore() {
            Engine.DeviceFinished = Listener;
            Engine.StopWanted = StopWanted;
        }
    } restore{engine_, listener, stopWanted};
    const device::RunEnd end = run();
    return Report{operation, std::move(outcomes), end};
}

Report Station::Scan(const Template& shown) {
    Prepare(shown);
    return Run(device::DeviceOperation::Scan, [&] { return engine_.ScanDevices(); });
}

Report Station::Program(const ProgramRequest& request) {
    reporter_.ClearLines();
    // The model's values are refreshed first, as choosing it would have left them.
    Template t = request.Shown;
    TemplateEditor editor(t, reporter_);
    ApplyModelValues(editor);
    Prepare(t);
    if (!ValidateForProgram(t, reporter_)) {
        engine_.LastEnd = device::RunEnd::Stopped;
        return Report{device::DeviceOperation::Program, {}, device::RunEnd::Stopped};
    }

    if (request.Serials) {
        engine_.SerialSource = [&](int position) {
            std::string error;
            std::optional<std::string> serial = request.Serials(position, error);
            if (!serial) engine_.SerialSourceFailure = error;
            return serial;
        };
    }
    engine_.ScanFilter = request.ScanFilter;
    // Every programming run goes through here, whichever front end asks for it.
    TemplateSettings settings(t, state_, flags_, reporter_);
    Report report = Run(
        device::DeviceOperation::Program, [&] { return engine_.ProgramRun(settings); },
        request.Observe);
    engine_.ScanFilter = nullptr;
    engine_.SerialSource = nullptr;
    return report;
}

Report Station::Erase(const Template& shown) {
    Prepare(shown);
    return Run(device::DeviceOperation::Erase, [&] { return engine_.Erase(); });
}

Report Station::Read(const Template& shown) {
    Prepare(shown);
    return Run(device::DeviceOperation::Read, [&] { return engine_.Read(); });
}

Report Station::ReadAndParse(const Template& shown, Template& decoded) {
    Prepare(shown);
    decoded = shown;
    TemplateEditor editor(decoded, reporter_);
    TemplateParsedSink sink(editor);
    Report report =
        Run(device::DeviceOperation::ReadAndParse, [&] { return engine_.ReadAndParse(sink); });
    // The model now shown takes effect.
    ApplyModelValues(editor);
    return report;
}

Report Station::ParseEach(
    const Template& shown,
    const std::function<bool(const device::DeviceOutcome&, const Template& decoded)>& each) {
    Prepare(shown);
    Template decoded = shown;
    TemplateEditor editor(decoded, reporter_);
    // Each device is decoded over the template shown, never over the device before it.
    TemplateParsedSink sink(editor, [&] { decoded = shown; });
    return Run(
        device::DeviceOperation::ReadAndParse, [&] { return engine_.ReadAndParse(sink); },
        [&](const device::DeviceOutcome& outcome) {
            const bool go = each(outcome, decoded);
            decoded = shown;
            return go;
        });
}

Report Station::Cycle(const Template& shown) {
    reporter_.ClearLines();
    Template t = shown;
    TemplateEditor editor(t, reporter_);
    ApplyModelValues(editor);
    Prepare(t);
    return Run(device::DeviceOperation::Cycle, [&] { return engine_.Cycle(); });
}

} // namespace burnwise::app
