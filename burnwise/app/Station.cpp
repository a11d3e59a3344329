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

// The last clock serial number this station issued, when the machine keeps no record.
class RememberedClockSerial final : public device::ClockSerialRecord {
public:
    bool Lock(std::optional<codec::UtcTime>& last, std::string&) override {
        last = last_;
        return true;
    }
    bool Store(const codec::UtcTime& issued, std::string&) override {
        last_ = issued;
        return true;
    }
    void Unlock() override {}

private:
    std::optional<codec::UtcTime> last_;
};

} // namespace

std::variant<RunPlan, Refusal> PlanProgram(const ProgramRequest& request, device::Reporter& notes) {
    return PlanRun({request.Shown, request.Serials ? request.Source : SerialSource::Template,
                    request.Parallel, false},
                   notes);
}

Station::Station(device::PipexDriver& driver, device::Reporter& reporter,
                 const codec::UtcClock& clock, device::ClockSerialRecord* clockRecord)
    : ownState_(std::make_unique<codec::CodecState>()),
      ownFlags_(std::make_unique<device::RunFlags>()), state_(*ownState_), flags_(*ownFlags_),
      reporter_(reporter), engine_(driver, state_, flags_, reporter, clock) {
    KeepClockSerials(clockRecord);
}

Station::Station(device::PipexDriver& driver, device::Reporter& reporter,
                 const codec::UtcClock& clock, device::ClockSerialRecord* clockRecord,
                 codec::CodecState& state, device::RunFlags& flags)
    : state_(state), flags_(flags), reporter_(reporter),
      engine_(driver, state_, flags_, reporter, clock) {
    KeepClockSerials(clockRecord);
}

void Station::KeepClockSerials(device::ClockSerialRecord* clockRecord) {
    // Two passes within one second would otherwise hand out one clock serial number twice.
    if (!clockRecord) {
        ownClockRecord_ = std::make_unique<RememberedClockSerial>();
        clockRecord = ownClockRecord_.get();
    }
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
    return Report{operation, std::move(outcomes), end, std::nullopt};
}

Report Station::Scan(const Template& shown) {
    Prepare(shown);
    return Run(device::DeviceOperation::Scan, [&] { return engine_.ScanDevices(); });
}

Report Station::Program(const ProgramRequest& request) {
    reporter_.ClearLines();
    std::variant<RunPlan, Refusal> planned = PlanProgram(request, reporter_);
    if (Refusal* refused = std::get_if<Refusal>(&planned)) {
        engine_.LastEnd = device::RunEnd::Stopped;
        return Report{
            device::DeviceOperation::Program, {}, device::RunEnd::Stopped, std::move(*refused)};
    }
    const RunPlan& plan = std::get<RunPlan>(planned);
    const Template& t = plan.Checked;
    Prepare(t);

    // The run's hooks are the engine's only for this run, also when an error ends it.
    struct Hooks {
        device::DeviceEngine& Engine;
        ~Hooks() {
            Engine.ScanFilter = nullptr;
            Engine.AttemptStarts = nullptr;
            Engine.SerialSource = nullptr;
            Engine.SerialSourceFailure.clear();
        }
    } hooks{engine_};
    if (request.Serials) {
        engine_.SerialSource = [this, serials = request.Serials](int position) {
            std::string error;
            std::optional<std::string> serial = serials(position, error);
            if (!serial) engine_.SerialSourceFailure = error;
            return serial;
        };
    }
    engine_.ScanFilter = request.ScanFilter;
    engine_.AttemptStarts = request.Attempt;
    // Every programming run goes through here, whichever front end asks for it.
    TemplateSettings settings(t, state_, flags_, reporter_);
    return Run(
        device::DeviceOperation::Program,
        [&] {
            return plan.AtOnce ? engine_.ProgramRunParallel(settings)
                               : engine_.ProgramRun(settings);
        },
        request.Observe);
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
