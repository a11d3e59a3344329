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
    explicit TemplateParsedSink(TemplateEditor& editor) : editor_(editor) {}

    void PutIntoWindow(codec::EepromSettings& settings,
                       codec::FamilySelectors& selectors) override {
        ApplyDecoded(editor_, settings, selectors);
    }
    void ShowParsedDeviceType(const codec::EepromSettings& settings,
                              const codec::FamilySelectors& selectors) override {
        ApplyParsedDeviceType(editor_, settings, selectors);
    }

private:
    TemplateEditor& editor_;
};

} // namespace

Station::Station(device::PipexDriver& driver, device::Reporter& reporter,
                 const codec::UtcClock& clock, device::ClockSerialRecord* clockRecord)
    : reporter_(reporter), engine_(driver, state_, flags_, reporter, clock) {
    engine_.ClockRecord = clockRecord;
    engine_.DeviceFinished = [this](const device::DeviceOutcome& outcome) {
        outcomes_.push_back(outcome);
    };
}

Station::~Station() {
    engine_.Unit.CloseCurrentDevice();
}

void Station::Prepare(const Template& shown) {
    outcomes_.clear();
    const std::optional<codec::ChipType> model = shown.ChosenModel();
    state_.Selectors = model ? codec::ChipModelOf(*model).Selectors : codec::FamilySelectors{};
    flags_.OnlyBlankDevices = shown.OnlyBlankDevices;
    flags_.SerialNumberDisabled = shown.DisableSerialNumber;
}

Report Station::Finish(device::DeviceOperation operation, device::RunEnd end) {
    Report report{operation, std::move(outcomes_), end};
    outcomes_.clear();
    return report;
}

Report Station::Scan(const Template& shown) {
    Prepare(shown);
    return Finish(device::DeviceOperation::Scan, engine_.ScanDevices());
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
        return Finish(device::DeviceOperation::Program, device::RunEnd::Stopped);
    }

    bool stop = false;
    engine_.DeviceFinished = [&](const device::DeviceOutcome& outcome) {
        outcomes_.push_back(outcome);
        if (request.Observe && !request.Observe(outcome)) stop = true;
    };
    engine_.StopWanted = [&] { return stop; };
    if (request.Serials) {
        engine_.SerialSource = [&](int position) {
            std::string error;
            std::optional<std::string> serial = request.Serials(position, error);
            if (!serial) engine_.SerialSourceFailure = error;
            return serial;
        };
    }
    engine_.ScanFilter = request.ScanFilter;

    TemplateSettings settings(t, state_, flags_, reporter_);
    const device::RunEnd end = engine_.ProgramRun(settings);

    engine_.ScanFilter = nullptr;
    engine_.SerialSource = nullptr;
    engine_.StopWanted = nullptr;
    engine_.DeviceFinished = [this](const device::DeviceOutcome& outcome) {
        outcomes_.push_back(outcome);
    };
    return Finish(device::DeviceOperation::Program, end);
}

Report Station::Erase(const Template& shown) {
    Prepare(shown);
    return Finish(device::DeviceOperation::Erase, engine_.Erase());
}

Report Station::Read(const Template& shown) {
    Prepare(shown);
    return Finish(device::DeviceOperation::Read, engine_.Read());
}

Report Station::ReadAndParse(const Template& shown, Template& decoded) {
    Prepare(shown);
    decoded = shown;
    TemplateEditor editor(decoded, reporter_);
    TemplateParsedSink sink(editor);
    const device::RunEnd end = engine_.ReadAndParse(sink);
    // The model now shown takes effect.
    ApplyModelValues(editor);
    return Finish(device::DeviceOperation::ReadAndParse, end);
}

Report Station::Cycle(const Template& shown) {
    reporter_.ClearLines();
    Template t = shown;
    TemplateEditor editor(t, reporter_);
    ApplyModelValues(editor);
    Prepare(t);
    return Finish(device::DeviceOperation::Cycle, engine_.Cycle());
}

} // namespace burnwise::app
