#include "burnwise/cli/DeviceCommands.h"

#include "burnwise/cli/ProductionLog.h"
#include "burnwise/cli/SerialCounter.h"
#include "burnwise/cli/TerminalHost.h"
#include "burnwise/codec/TextEscape.h"
#include "burnwise/device/LinkedDriver.h"
#include "burnwise/ui/MainForm.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace burnwise::cli {
namespace {

namespace fs = std::filesystem;

constexpr int StoppedStatus = 1;
constexpr int BadInputStatus = 2;

// A started form on the linked driver that prints every message-list line the moment it
// is appended, so a long run shows its progress.
struct ConsoleForm {
    codec::CodecState State;
    device::RunFlags Flags;
    TerminalHost Host;
    device::LinkedDriver Driver;
    ui::TMainForm Form{State, Flags, Host};
    std::size_t Shown = 0;

    ConsoleForm() {
        Form.FormShow();
        Form.AttachDriver(Driver);
        Form.StateChanged = [this](std::string_view name) {
            if (name != Form.Memo1.Name) return;
            const auto& lines = Form.Memo1.Lines;
            for (std::size_t i = std::min(Shown, lines.size()); i < lines.size(); ++i)
                std::cout << codec::EscapeText(lines[i]) << std::endl;
            Shown = lines.size();
        };
    }
    ~ConsoleForm() { Form.FormClose(); }

    // Opens the template as the Open action does, reading it once (it may be a pipe). One
    // that cannot be read has shown its box, and the command fails with 2.
    void OpenTemplate(const std::string& path) {
        Host.OpenFile = fs::path(path);
        Form.BWOpenExecute();
        if (Host.ErrorBoxes != 0) throw CLI::RuntimeError(BadInputStatus);
    }

    void Finish() {
        if (Form.Engine()->LastEnd != device::RunEnd::Completed)
            throw CLI::RuntimeError(StoppedStatus);
    }
};

struct Options {
    std::optional<std::string> Template;
    std::optional<std::string> Log;
    std::optional<std::string> Counter;
    bool Watch = false;
};

// Set by SIGINT or SIGTERM: the watch ends after the devices in hand.
volatile std::sig_atomic_t StopRequested = 0;

extern "C" void RequestStop(int) {
    StopRequested = 1;
}

// How often the watch asks the driver for the number of attached devices.
constexpr auto PollInterval = std::chrono::milliseconds(500);
// A serial number from the clock changes about once a second; two runs closer than this
// could hand two devices the same one.
constexpr auto ClockSerialStep = std::chrono::milliseconds(1200);
// Polls in a row a device may fail to answer before the watch reports it.
constexpr int UnansweredPolls = 3;

// Sleeps `duration`, or less when a stop is requested (the signal cuts the sleep short).
void SleepUnlessStopped(std::chrono::nanoseconds duration) {
    timespec left{static_cast<time_t>(duration.count() / 1'000'000'000),
                  static_cast<long>(duration.count() % 1'000'000'000)};
    while (!StopRequested && ::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// The counter of a fixed serial number, checked before anything is written: a damaged
// file, a serial number without trailing digits or digits already run out end the command.
std::optional<SerialCounter> OpenCounter(const Options& options, ui::TMainForm& form) {
    if (!options.Counter) return std::nullopt;
    if (!form.CheckBox5.Checked || form.Edit6.Text.empty())
        throw CLI::RuntimeError("--counter needs a template with a fixed serial number",
                                BadInputStatus);
    std::string error;
    const std::optional<SerialPattern> pattern = SplitSerial(form.Edit6.Text, error);
    if (!pattern) throw CLI::RuntimeError(error, BadInputStatus);
    std::optional<SerialCounter> counter = SerialCounter::Open(*options.Counter, *pattern, error);
    if (!counter) throw CLI::RuntimeError(error, BadInputStatus);
    return counter;
}

void RunOperation(const Options& options, const std::function<void(ui::TMainForm&)>& handler) {
    auto console = std::make_unique<ConsoleForm>();
    if (options.Template) console->OpenTemplate(*options.Template);
    handler(console->Form);
    console->Finish();
}

void RunProgram(const Options& options) {
    auto console = std::make_unique<ConsoleForm>();
    console->OpenTemplate(*options.Template);
    ui::TMainForm& form = console->Form;

    // The log is opened before anything is programmed: a production run must not go
    // unrecorded.
    std::optional<ProductionLog> log;
    if (options.Log) {
        std::string error;
        log.emplace();
        if (!log->Open(*options.Log, error)) throw CLI::RuntimeError(error, BadInputStatus);
    }
    std::optional<SerialCounter> counter = OpenCounter(options, form);
    if (counter) {
        // Each device takes its number from the counter the moment it is reached, so a
        // failed device uses up its number and no later run repeats it.
        form.Engine()->SerialSource = [&](int) -> std::optional<std::string> {
            std::string error;
            std::optional<std::string> serial = counter->Reserve(error);
            if (!serial) form.Engine()->SerialSourceFailure = error;
            return serial;
        };
    }
    if (options.Watch && form.CheckBox5.Checked && !counter)
        throw CLI::RuntimeError("--watch with a fixed serial number needs --counter: every "
                                "device would get the same serial number",
                                BadInputStatus);

    bool logFailed = false;
    bool anyFailed = false;
    std::set<std::int32_t> finished;                    // driver indexes the last run finished with
    const std::vector<std::string>* attached = nullptr; // the watch's serials by driver index
    form.Engine()->DeviceFinished = [&](const device::DeviceOutcome& outcome) {
        finished.insert(outcome.DriverIndex);
        if (!outcome.Passed) anyFailed = true;
        if (options.Watch) {
            if (outcome.Passed)
                std::cout << "PASS device " << outcome.DriverIndex << " serial "
                          << codec::EscapeText(outcome.SerialNumber) << std::endl;
            else if (outcome.Position < 0 && attached != nullptr &&
                     outcome.DriverIndex < static_cast<std::int32_t>(attached->size()))
                // Not examined, so it was given nothing: named by the serial it reports.
                std::cout << "FAIL device " << outcome.DriverIndex << " serial "
                          << codec::EscapeText(
                                 (*attached)[static_cast<std::size_t>(outcome.DriverIndex)])
                          << ": " << codec::EscapeText(outcome.Reason) << std::endl;
            else
                std::cout << "FAIL device " << outcome.DriverIndex << ": "
                          << codec::EscapeText(outcome.Reason) << std::endl;
        }
        if (!log) return;
        // Failures are recorded too: with a counter, a failed device has used up its number.
        // The model is what the device reported of itself; a failed device carries the
        // serial number reserved for it.
        const DeviceRecord record{UtcTimestamp(),
                                  outcome.Position,
                                  outcome.DriverIndex,
                                  outcome.Model,
                                  outcome.EepromTypeName,
                                  outcome.SerialNumber,
                                  outcome.Passed ? "PASS" : "FAIL " + outcome.Reason};
        if (!log->Append(record)) logFailed = true;
    };
    // A run whose record can no longer be written stops before the next device.
    form.Engine()->StopWanted = [&] { return logFailed; };
    const auto checkLog = [&] {
        if (!logFailed) return;
        std::cerr << "burnwise-cli: cannot write the log " << *options.Log << std::endl;
        throw CLI::RuntimeError(StoppedStatus);
    };

    if (!options.Watch) {
        form.BWProgramExecute();
        checkLog();
        console->Finish();
        return;
    }

    // The watch: a loop around the same Program action, each pass limited to the devices
    // plugged in since the last one. Devices are told apart by the serial number they
    // report; one that is unplugged is forgotten, so plugging it in again judges it afresh.
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    device::DeviceEngine& engine = *form.Engine();
    // Serial numbers of the attached devices already programmed or refused. Only a complete
    // answer forgets one: a device that did not answer for a moment is still there.
    std::set<std::string> judged;
    std::map<std::int32_t, int> unanswered; // driver index: polls in a row it did not answer
    std::set<std::int32_t> unopenable;      // reported as such, until it answers or goes
    bool tooMany = false;
    const bool clockSerials = !form.CheckBox5.Checked;
    std::optional<std::chrono::steady_clock::time_point> lastRun;
    std::cout << "Waiting for " << form.CB1.Text << " devices (Ctrl+C stops)" << std::endl;
    for (bool first = true; !StopRequested; first = false) {
        if (!first) SleepUnlessStopped(PollInterval);
        if (StopRequested) break;
        // A failed count tells nothing: keep what was known and ask again.
        if (engine.Unit.GetVQDeviceCount() != VQ_OK) continue;
        const std::int32_t count = engine.Unit.DeviceCount;
        if (count > device::MaxScanDevices && !tooMany)
            std::cout << "only the first " << device::MaxScanDevices << " devices are examined"
                      << std::endl;
        tooMany = count > device::MaxScanDevices;

        // The set of serial numbers, not the count: a device swapped within one poll shows.
        const std::vector<std::string> serials = engine.AttachedSerials();
        const std::size_t expected =
            static_cast<std::size_t>(std::clamp(count, 0, device::MaxScanDevices));
        const bool complete = serials.size() == expected &&
                              std::none_of(serials.begin(), serials.end(),
                                           [](const std::string& s) { return s.empty(); });
        if (complete)
            std::erase_if(judged, [&](const std::string& serial) {
                return std::find(serials.begin(), serials.end(), serial) == serials.end();
            });
        std::set<std::int32_t> fresh;
        for (std::size_t i = 0; i < serials.size(); ++i) {
            const auto index = static_cast<std::int32_t>(i);
            if (!serials[i].empty()) {
                unanswered.erase(index);
                unopenable.erase(index);
                if (!judged.contains(serials[i])) fresh.insert(index);
                continue;
            }
            // One that keeps failing is a device that cannot be opened: said once.
            if (++unanswered[index] < UnansweredPolls || unopenable.contains(index)) continue;
            unopenable.insert(index);
            anyFailed = true;
            const std::string reason = "cannot be opened or asked for its serial number";
            std::cout << "FAIL device " << index << ": " << reason << std::endl;
            if (log && !log->Append({UtcTimestamp(), 0, index, "", "", "", "FAIL " + reason}))
                logFailed = true;
        }
        std::erase_if(unanswered, [&](const auto& entry) {
            return entry.first >= static_cast<std::int32_t>(serials.size());
        });
        checkLog();
        if (fresh.empty()) continue;

        if (clockSerials && lastRun) {
            const auto since = std::chrono::steady_clock::now() - *lastRun;
            if (since < ClockSerialStep) SleepUnlessStopped(ClockSerialStep - since);
        }
        engine.ScanFilter = [&](std::int32_t index) { return fresh.contains(index); };
        finished.clear();
        attached = &serials;
        form.BWProgramExecute();
        attached = nullptr;
        engine.ScanFilter = nullptr;
        lastRun = std::chrono::steady_clock::now();

        for (const std::int32_t index : fresh) {
            const std::string& serial = serials[static_cast<std::size_t>(index)];
            if (finished.contains(index)) {
                judged.insert(serial);
                // The device the scan actually found there, should it have been swapped.
                const std::string seen = engine.ReportedSerial(index);
                if (!seen.empty()) judged.insert(seen);
            } else if (engine.LastEnd == device::RunEnd::Stopped ||
                       engine.LastEnd == device::RunEnd::Cancelled) {
                // The run ended at an earlier device; this one comes again at the next poll.
            } else {
                judged.insert(serial);
                anyFailed = true;
                const std::string reason =
                    "not programmed (not blank, or not a " + form.CB1.Text + " device)";
                std::cout << "FAIL device " << index << " serial " << codec::EscapeText(serial)
                          << ": " << reason << std::endl;
                // The serial number logged is the one the device reports; nothing was written.
                if (log && !log->Append({UtcTimestamp(), 0, index, engine.ReportedModel(index), "",
                                         serial, "FAIL " + reason}))
                    logFailed = true;
            }
        }
        checkLog();
    }
    std::cout << "Stopped" << std::endl;
    if (anyFailed) throw CLI::RuntimeError(StoppedStatus);
}

} // namespace

void AddDeviceCommands(CLI::App& app) {
    const auto options = std::make_shared<Options>();

    struct Command {
        const char* Name;
        const char* Description;
        std::function<void(ui::TMainForm&)> Handler;
    };
    const Command commands[] = {
        {"scan", "Count the blank and programmed devices (the Scan action)",
         [](ui::TMainForm& f) { f.BWScanExecute(); }},
        {"erase", "Erase the devices the template's model selects (the Erase action)",
         [](ui::TMainForm& f) { f.BWEraseExecute(); }},
        {"read", "Dump the EEPROM of every device (the Read command)",
         [](ui::TMainForm& f) { f.Read1Click(); }},
        {"parse", "Decode every device's EEPROM into the fields (Read and Parse)",
         [](ui::TMainForm& f) { f.ReadandParse1Click(); }},
        {"cycle", "Make the devices of the template's model re-enumerate (Cycle Device)",
         [](ui::TMainForm& f) { f.ToolButton11Click(); }},
    };
    for (const Command& command : commands) {
        CLI::App* sub = app.add_subcommand(command.Name, command.Description);
        sub->add_option("--template", options->Template, "Template file to open first")
            ->check(CLI::ExistingFile);
        sub->callback([options, handler = command.Handler] { RunOperation(*options, handler); });
    }

    CLI::App* program = app.add_subcommand(
        "program", "Program every device of the template's model (the Program action)");
    program->add_option("--template", options->Template, "Template file to program from")
        ->required()
        ->check(CLI::ExistingFile);
    program->add_option("--log", options->Log,
                        "CSV file that gains one line per programmed device");
    program->add_option("--counter", options->Counter,
                        "File holding the next value of the template's fixed serial number");
    program->add_flag("--watch", options->Watch,
                      "Wait for devices and program each one as it is plugged in, until "
                      "Ctrl+C; exit 1 when any failed");
    program->callback([options] { RunProgram(*options); });
}

} // namespace burnwise::cli
