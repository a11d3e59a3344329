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
    using WordsSink = std::function<bool(const codec::EepromImage&, std::string_view, bool)>;
    explicit TemplateParsedSink(FieldSink& editor, std::function<void()> starts = {},
                                WordsSink words = {})
        : editor_(editor), starts_(std::move(starts)), words_(std::move(words)) {}

    bool WordsRead(const codec::EepromImage& words, std::string_view eepromTypeName,
                   bool valid) override {
        return words_ && words_(words, eepromTypeName, valid);
    }

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
    FieldSink& editor_;
    std::function<void()> starts_;
    WordsSink words_;
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
    // Two passes within one second would otherwise hand out one clock serial number twice.
    : ownClockRecord_(clockRecord ? nullptr : std::make_unique<RememberedClockSerial>()),
      reporter_(reporter), engine_(driver, state_, flags_, reporter, clock,
                                   clockRecord ? clockRecord : ownClockRecord_.get()) {}

Station::~Station() {
    engine_.Unit.CloseCurrentDevice();
}

void PrepareRun(const Template& shown, codec::CodecState& state, device::RunFlags& flags) {
    const std::optional<codec::ChipType> model = shown.ChosenModel();
    state.Selectors = model ? codec::ChipModelOf(*model).Selectors : codec::FamilySelectors{};
    flags.OnlyBlankDevices = shown.OnlyBlankDevices;
    flags.SerialNumberDisabled = shown.DisableSerialNumber;
}

void Station::Prepare(const Template& shown) {
    PrepareRun(shown, state_, flags_);
}

Report Station::Run(device::DeviceOperation operation, device::RunContext context,
                    const std::function<device::RunEnd(const device::RunContext&)>& run,
                    const std::function<bool(const device::DeviceOutcome&)>& observe) {
    std::vector<device::DeviceOutcome> outcomes;
    bool stop = false;
    context.DeviceFinished = [&](const device::DeviceOutcome& outcome) {
        outcomes.push_back(outcome);
        if (observe && !observe(outcome)) stop = true;
    };
    context.StopWanted = [&] { return stop; };
    const device::RunEnd end = run(context);
    return Report{operation, std::move(outcomes), end, std::nullopt};
}

Report Station::Scan(const Template& shown) {
    Prepare(shown);
    return Run(device::DeviceOperation::Scan, {},
               [&](const device::RunContext& context) { return engine_.ScanDevices(context); });
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

    device::RunContext context;
    context.SerialSource = request.Serials;
    context.ScanFilter = request.ScanFilter;
    if (request.Started)
        context.DeviceTaken = [this, &request](std::int32_t index) {
            request.Started(index, engine_.ReportedSerial(index));
        };
    context.AlreadyWritten = request.AlreadyWritten;
    context.AttemptStarts = request.Attempt;
    // Every programming run goes through here, whichever front end asks for it.
    TemplateSettings settings(t, state_, flags_, reporter_);
    return Run(
        device::DeviceOperation::Program, std::move(context),
        [&](const device::RunContext& run) {
            return plan.AtOnce ? engine_.ProgramRunParallel(settings, run)
                               : engine_.ProgramRun(settings, run);
        },
        request.Observe);
}

Report Station::Erase(const Template& shown, const EraseConfirmation& confirm) {
    Prepare(shown);
    device::RunContext context;
    if (confirm) {
        context.ConfirmErase = [this, &confirm](std::span<const std::int32_t> driverIndexes) {
            std::vector<EraseCandidate> devices;
            for (const std::int32_t index : driverIndexes)
                devices.push_back(
                    {index, engine_.ReportedModel(index), engine_.ReportedSerial(index)});
            return confirm(devices);
        };
    }
    return Run(device::DeviceOperation::Erase, std::move(context),
               [&](const device::RunContext& run) { return engine_.Erase(run); });
}

Report Station::Read(const Template& shown) {
    Prepare(shown);
    return Run(device::DeviceOperation::Read, {},
               [&](const device::RunContext& run) { return engine_.Read(run); });
}

Report Station::ReadAndParse(const Template& shown, Template& decoded) {
    decoded = shown;
    TemplateEditor editor(decoded, reporter_);
    Report report = ReadAndParse(shown, editor);
    // The model now shown takes effect.
    ApplyModelValues(editor);
    return report;
}

Report Station::ReadAndParse(const Template& shown, FieldSink& into,
                             const std::function<void()>& decoding) {
    Prepare(shown);
    TemplateParsedSink sink(into, decoding);
    return Run(device::DeviceOperation::ReadAndParse, {},
               [&](const device::RunContext& run) { return engine_.ReadAndParse(sink, run); });
}

Report
Station::ParseEach(const Template& shown,
                   const std::function<bool(const device::DeviceOutcome&, const Template& decoded,
                                            const DeviceWords* words)>& each) {
    Prepare(shown);
    Template decoded = shown;
    std::optional<DeviceWords> read;
    TemplateEditor editor(decoded, reporter_);
    // Each device is decoded over the template shown, never over the device before it.
    TemplateParsedSink sink(
        editor, [&] { decoded = shown; },
        [&](const codec::EepromImage& words, std::string_view eeprom, bool) {
            read = DeviceWords{words, std::string(eeprom)};
            return true;
        });
    return Run(
        device::DeviceOperation::ReadAndParse, {},
        [&](const device::RunContext& run) { return engine_.ReadAndParse(sink, run); },
        [&](const device::DeviceOutcome& outcome) {
            const bool go = each(outcome, decoded, read ? &*read : nullptr);
            decoded = shown;
            read.reset();
            return go;
        });
}

Report Station::Cycle(const Template& shown) {
    reporter_.ClearLines();
    Template t = shown;
    TemplateEditor editor(t, reporter_);
    ApplyModelValues(editor);
    Prepare(t);
    return Run(device::DeviceOperation::Cycle, {},
               [&](const device::RunContext& run) { return engine_.Cycle(run); });
}

} // namespace burnwise::app
