#include "burnwise/cli/DeviceCommands.h"

#include "burnwise/app/StateFiles.h"
#include "burnwise/app/Station.h"
#include "burnwise/app/TemplateFile.h"
#include "burnwise/app/Watcher.h"
#include "burnwise/cli/ConsoleReporter.h"
#include "burnwise/cli/ProductionLog.h"
#include "burnwise/cli/SerialCounter.h"
#include "burnwise/device/LinkedDriver.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>

namespace burnwise::cli {
namespace {

namespace fs = std::filesystem;

constexpr int StoppedStatus = 1;
constexpr int BadInputStatus = 2;

// The station on the linked driver, printing every line the moment it comes. Serial
// numbers from the clock are kept in the user's state folder, so that no later run on this
// machine, in this process or another, repeats one.
struct ConsoleStation {
    ConsoleReporter Console{ConsoleReporter::LineMode::Stream};
    device::LinkedDriver Driver;
    codec::SystemUtcClock Clock;
    std::unique_ptr<app::ClockSerialFile> ClockRecord;
    std::unique_ptr<app::Station> Station;
    app::Template Shown = app::Template::Start();

    ConsoleStation() {
        if (const std::optional<fs::path> folder = app::BurnwiseStateFolder())
            ClockRecord = std::make_unique<app::ClockSerialFile>(*folder);
        Station = std::make_unique<app::Station>(Driver, Console, Clock, ClockRecord.get());
    }

    // Opens the template, reading it once (it may be a pipe). One that cannot be read has
    // shown its box, and the command fails with 2.
    void OpenTemplate(const std::string& path) {
        std::optional<app::Template> opened = app::OpenTemplateFile(fs::path(path), Shown, Console);
        if (!opened || Console.ErrorBoxes != 0) throw CLI::RuntimeError(BadInputStatus);
        Shown = std::move(*opened);
    }
};

void Finish(const app::Report& report) {
    if (!report.Completed()) throw CLI::RuntimeError(StoppedStatus);
}

struct Options {
    std::optional<std::string> Template;
    std::optional<std::string> Log;
    std::optional<std::string> Counter;
    bool Watch = false;
    bool Parallel = false;
};

// Set by SIGINT or SIGTERM: the watch ends after the devices in hand.
volatile std::sig_atomic_t StopRequested = 0;

extern "C" void RequestStop(int) {
    StopRequested = 1;
}

// Sleeps `duration`, or less when a stop is requested (the signal cuts the sleep short).
void SleepUnlessStopped(std::chrono::nanoseconds duration) {
    timespec left{static_cast<time_t>(duration.count() / 1'000'000'000),
                  static_cast<long>(duration.count() % 1'000'000'000)};
    while (!StopRequested && ::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// The counter of a fixed serial number, checked before anything is written: a damaged
// file, a serial number without trailing digits or digits already run out end the command.
std::optional<SerialCounter> OpenCounter(const Options& options, const app::Template& shown) {
    if (!options.Counter) return std::nullopt;
    if (shown.Scheme() != app::SerialScheme::Fixed || shown.FixedSerial.empty())
        throw CLI::RuntimeError("--counter needs a template with a fixed serial number",
                                BadInputStatus);
    std::string error;
    const std::optional<SerialPattern> pattern = SplitSerial(shown.FixedSerial, error);
    if (!pattern) throw CLI::RuntimeError(error, BadInputStatus);
    std::optional<SerialCounter> counter = SerialCounter::Open(*options.Counter, *pattern, error);
    if (!counter) throw CLI::RuntimeError(error, BadInputStatus);
    return counter;
}

using Command = std::function<app::Report(app::Station&, const app::Template&)>;

void RunOperation(const Options& options, const Command& command) {
    auto console = std::make_unique<ConsoleStation>();
    if (options.Template) console->OpenTemplate(*options.Template);
    Finish(command(*console->Station, console->Shown));
}

void RunProgram(const Options& options) {
    auto console = std::make_unique<ConsoleStation>();
    console->OpenTemplate(*options.Template);
    const app::Template& shown = console->Shown;
    // Refused before anything is opened, the log and the devices alike.
    if (options.Parallel && app::SerialsFromClock(shown, options.Counter.has_value()))
        throw CLI::RuntimeError("--parallel needs a template with a fixed serial number: serial "
                                "numbers from the clock step once a second and cannot be given "
                                "to devices programmed at once - nothing written to any device",
                                BadInputStatus);

    // The log is opened before anything is programmed: a production run must not go
    // unrecorded.
    std::optional<ProductionLog> log;
    if (options.Log) {
        std::string error;
        log.emplace();
        if (!log->Open(*options.Log, error)) throw CLI::RuntimeError(error, BadInputStatus);
    }
    std::optional<SerialCounter> counter = OpenCounter(options, shown);
    if (options.Watch && shown.Scheme() == app::SerialScheme::Fixed && !counter)
        throw CLI::RuntimeError("--watch with a fixed serial number needs --counter: every "
                                "device would get the same serial number",
                                BadInputStatus);

    app::ProgramRequest request;
    request.Shown = shown;
    request.Parallel = options.Parallel;
    if (counter) {
        // Each device takes its number from the counter the moment it is reached, so a
        // failed device uses up its number and no later run repeats it.
        request.Serials = [&](int, std::string& error) { return counter->Reserve(error); };
    }
    bool logFailed = false;
    // Failures are recorded too: with a counter, a failed device has used up its number.
    // The model is what the device reported of itself; a failed device carries the serial
    // number reserved for it. A run whose record can no longer be written stops before the
    // next device.
    request.Observe = [&](const device::DeviceOutcome& outcome) {
        if (!log) return true;
        const DeviceRecord record{UtcTimestamp(),
                                  outcome.Position,
                                  outcome.DriverIndex,
                                  outcome.Model,
                                  outcome.EepromTypeName,
                                  outcome.SerialNumber,
                                  outcome.Passed ? "PASS" : "FAIL " + outcome.Reason};
        if (!log->Append(record)) logFailed = true;
        return !logFailed;
    };
    const auto checkLog = [&] {
        if (!logFailed) return;
        std::cerr << "burnwise-cli: cannot write the log " << *options.Log << std::endl;
        throw CLI::RuntimeError(StoppedStatus);
    };

    if (!options.Watch) {
        const app::Report report = console->Station->Program(request);
        checkLog();
        Finish(report);
        return;
    }

    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    app::WatchRequest watch;
    watch.Program = request;
    watch.StopRequested = [] { return StopRequested != 0; };
    watch.Sleep = SleepUnlessStopped;
    watch.Now = [] { return std::chrono::steady_clock::now(); };
    app::Watcher watcher(*console->Station, console->Console);
    const app::WatchResult result = watcher.Run(watch);
    checkLog();
    if (result.AnyFailed) throw CLI::RuntimeError(StoppedStatus);
}

} // namespace

void AddDeviceCommands(CLI::App& app) {
    const auto options = std::make_shared<Options>();

    struct Entry {
        const char* Name;
        const char* Description;
        Command Run;
    };
    const Entry commands[] = {
        {"scan", "Count the blank and programmed devices (the Scan action)",
         [](app::Station& s, const app::Template& t) { return s.Scan(t); }},
        {"erase", "Erase the devices the template's model selects (the Erase action)",
         [](app::Station& s, const app::Template& t) { return s.Erase(t); }},
        {"read", "Dump the EEPROM of every device (the Read command)",
         [](app::Station& s, const app::Template& t) { return s.Read(t); }},
        {"parse", "Decode every device's EEPROM into the fields (Read and Parse)",
         [](app::Station& s, const app::Template& t) {
             app::Template decoded;
             return s.ReadAndParse(t, decoded);
         }},
        {"cycle", "Make the devices of the template's model re-enumerate (Cycle Device)",
         [](app::Station& s, const app::Template& t) { return s.Cycle(t); }},
    };
    for (const Entry& command : commands) {
        CLI::App* sub = app.add_subcommand(command.Name, command.Description);
        sub->add_option("--template", options->Template, "Template file to open first")
            ->check(CLI::ExistingFile);
        sub->callback([options, run = command.Run] { RunOperation(*options, run); });
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
    program->add_flag("--parallel", options->Parallel,
                      "Program every device found at once (with --watch, those plugged in "
                      "during one poll); needs a fixed serial number, not the clock");
    program->callback([options] { RunProgram(*options); });
}

} // namespace burnwise::cli
