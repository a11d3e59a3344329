#include "burnwise/cli/DeviceCommands.h"

#include "burnwise/app/Production.h"
#include "burnwise/app/StateFiles.h"
#include "burnwise/app/Station.h"
#include "burnwise/app/TemplateFile.h"
#include "burnwise/app/Verify.h"
#include "burnwise/app/Watcher.h"
#include "burnwise/cli/ConsoleReporter.h"
#include "burnwise/cli/LabelCommands.h"
#include "burnwise/device/LinkedDriver.h"
#include "burnwise/records/RecordStore.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
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

// Set by SIGINT, SIGTERM or SIGHUP: the run ends after the devices in hand.
volatile std::sig_atomic_t StopRequested = 0;

extern "C" void RequestStop(int) {
    StopRequested = 1;
}

// The station on the linked driver, printing every line the moment it comes. Serial
// numbers from the clock are kept in the user's state folder, so that no later run on this
// machine, in this process or another, repeats one.
struct ConsoleStation {
    // A signal ends every operation as a stop asked for: before the next device, the
    // devices in hand finished and recorded.
    ConsoleReporter Console{ConsoleReporter::LineMode::Stream, &StopRequested};
    device::LinkedDriver Driver;
    codec::SystemUtcClock Clock;
    std::unique_ptr<device::ClockSerialRecord> ClockRecord = app::MachineClockRecord();
    std::unique_ptr<app::Station> Station =
        std::make_unique<app::Station>(Driver, Console, Clock, ClockRecord.get());
    app::Template Shown = app::Template::Start();

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
    std::string Db;
    std::string Station;
    bool Series = false;
    bool Watch = false;
    bool Parallel = false;
    bool AllowReuse = false;
    LabelOptions Label;
};

// Sleeps `duration`, or less when a stop is requested (the signal cuts the sleep short).
void SleepUnlessStopped(std::chrono::nanoseconds duration) {
    timespec left{static_cast<time_t>(duration.count() / 1'000'000'000),
                  static_cast<long>(duration.count() % 1'000'000'000)};
    while (!StopRequested && ::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

using Command = std::function<app::Report(app::Station&, const app::Template&)>;

void RunOperation(const Options& options, const Command& command) {
    auto console = std::make_unique<ConsoleStation>();
    if (options.Template) console->OpenTemplate(*options.Template);
    Finish(command(*console->Station, console->Shown));
}

// A refusal of the run's plan, in the words of this program's options.
std::string Worded(const Options& options, const app::Refusal& refused) {
    using K = app::RefusalKind;
    switch (refused.Kind) {
    case K::SourceNeedsFixedSerial:
        return std::string(options.Series ? "--series" : "--counter") +
               " needs a template with a fixed serial number";
    case K::FixedSerialNeedsSource:
        return "--watch with a fixed serial number needs --counter or --series: every device "
               "would get the same serial number";
    case K::ClockSerialsNotAtOnce:
        return "--parallel needs a template with a fixed serial number: serial numbers from the "
               "clock step once a second and cannot be given to devices programmed at once - "
               "nothing written to any device";
    case K::TemplateChecks:
    case K::SerialWithoutDigits:
        break;
    }
    return refused.Text;
}

// The station's production: the template, the numbers and the records, all checked before
// anything is written. Only a program run may start a new database. What cannot be used
// ends the command with 2.
std::unique_ptr<app::Production> OpenProduction(const Options& options, ConsoleStation& console,
                                                records::OpenMode mode) {
    app::ProductionSetup setup;
    setup.TemplateFile = *options.Template;
    setup.DatabaseUrl = options.Db;
    setup.Station = options.Station;
    if (options.Series) setup.Serials = app::SerialSource::Series;
    if (options.Counter) {
        setup.Serials = app::SerialSource::Counter;
        setup.CounterFile = *options.Counter;
    }
    if (options.Log) setup.LogFile = *options.Log;
    setup.Parallel = options.Parallel;
    setup.Watch = options.Watch;
    setup.AllowReuse = options.AllowReuse;
    // A template the checks refuse has shown its lines; its box ends the run as a run that
    // stopped, as it always did.
    bool checksFailed = false;
    setup.Words = [&](const app::Refusal& refused) {
        checksFailed = refused.Kind == app::RefusalKind::TemplateChecks;
        return Worded(options, refused);
    };
    std::string error;
    std::unique_ptr<app::Production> production = app::Production::Open(
        setup,
        [mode](const std::string& url, std::string& storeError) {
            return records::OpenRecordStore(url, mode, storeError);
        },
        error, &console.Console);
    if (!production && checksFailed) {
        console.Console.ShowError(error);
        throw CLI::RuntimeError(StoppedStatus);
    }
    if (!production) throw CLI::RuntimeError(error, BadInputStatus);
    console.Shown = production->Shown();
    return production;
}

// A run the records stopped ends with 1 and the reason.
void CheckRecords(const app::Production& production, std::string_view after = {}) {
    if (production.StopReason().empty()) return;
    std::cerr << "burnwise-cli: " << production.StopReason() << after << std::endl;
    throw CLI::RuntimeError(StoppedStatus);
}

void RunProgram(const Options& options) {
    auto console = std::make_unique<ConsoleStation>();
    std::shared_ptr<labels::DeviceLabels> labels = OpenLabels(options.Label);
    const std::unique_ptr<app::Production> production =
        OpenProduction(options, *console, records::OpenMode::Create);
    // Where the numbers and records go, when that is more than the default file: on the
    // error stream, as the run's other lines about itself, so the output stays one line per
    // device.
    if (options.Series || !options.Db.empty()) std::cerr << production->StartLine() << std::endl;
    // Devices this station was writing when it last stopped are said before it writes more.
    for (const std::string& line : production->InterruptedAttempts())
        std::cerr << line << std::endl;

    // A series in the state folder's file is unique only among this user's runs here.
    if (options.Series && options.Db.empty()) {
        std::string error;
        const std::optional<std::string> file = records::DefaultStorePath(error);
        console->Console.AppendLine("The series of " + production->Shown().FixedSerial +
                                    " lives in " + file.value_or("the state folder") +
                                    ": only this user's runs on this machine share it (give "
                                    "--db to share it between stations)");
    }

    // Failures are recorded too: with a counter or a series, a failed device has used up
    // its number and carries it. A run whose record can no longer be written stops before
    // the next device.
    app::ProgramRequest request = production->Request("program");
    // Each PASS device's label is printed once its record is written, and said on its line.
    if (labels)
        labels::PrintAfterRecords(
            request, *production, std::move(labels),
            [&console = console->Console](const device::DeviceOutcome&, const records::LabelStatus&,
                                          const std::string& line) { console.AppendLine(line); });
    if (!options.Watch) {
        const app::Report report = console->Station->Program(request);
        CheckRecords(*production);
        Finish(report);
        return;
    }

    app::WatchRequest watch;
    watch.Program = request;
    watch.StopRequested = [] { return StopRequested != 0; };
    watch.Sleep = SleepUnlessStopped;
    production->Serve(watch);
    app::Watcher watcher(*console->Station, console->Console);
    const app::WatchResult result = watcher.Run(watch);
    if (result.TemplateRefused) throw CLI::RuntimeError(StoppedStatus);
    if (production->Unwritten() != 0) {
        std::cerr << "burnwise-cli: the records of " << production->Unwritten()
                  << " devices programmed could not be written: the database is unreachable"
                  << std::endl;
        throw CLI::RuntimeError(StoppedStatus);
    }
    CheckRecords(*production, " - the watch has stopped");
    if (result.AnyFailed) throw CLI::RuntimeError(StoppedStatus);
}

void RunVerify(const Options& options) {
    auto console = std::make_unique<ConsoleStation>();
    const std::unique_ptr<app::Production> production =
        OpenProduction(options, *console, records::OpenMode::Write);
    app::VerifyRequest request;
    request.Shown = production->Shown();
    // A database named is the line's own: every serial number must be recorded there.
    if (!options.Db.empty()) request.Records = &production->Store();
    request.Observe = [&](const app::VerifiedDevice& device) {
        const device::DeviceOutcome& outcome = device.Outcome;
        const std::string number = std::to_string(outcome.DriverIndex);
        if (outcome.Passed)
            console->Console.AppendLine("PASS device " + number + " serial " +
                                        outcome.SerialNumber);
        else
            console->Console.AppendLine("FAIL device " + number + ": " + outcome.Reason);
        // A device the station stopped on while writing it is judged now.
        return production->CompleteFromVerify(outcome) && production->Record(outcome, "verify");
    };
    const app::VerifyReport report = app::Verify(*console->Station, request);
    const app::Template& shown = production->Shown();
    if (report.Devices.empty())
        console->Console.AppendLine(
            "No " + std::string(shown.Model ? codec::ChipModelOf(*shown.Model).ListText : "None") +
            " device to verify");
    CheckRecords(*production);
    if (!report.AllPassed()) throw CLI::RuntimeError(StoppedStatus);
}

struct HistoryOptions {
    std::string Db;
    records::RecordFilter Filter;
    std::optional<std::string> Result;
    std::string Format = "text";
    bool Summary = false;
};

bool WriteOut(std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

// Streams the records, a batch at a time from the database to the output, so that a
// listing of any size holds only a few of them in memory. Reading never creates or
// changes a database.
void RunHistory(HistoryOptions options) {
    const std::optional<records::ListFormat> format = records::ParseListFormat(options.Format);
    if (!format)
        throw CLI::RuntimeError("--format is text, csv or json, not " + options.Format,
                                BadInputStatus);
    if (options.Result) {
        const std::string& name = *options.Result;
        if (name == "PASS") options.Filter.Outcome = records::Result::Pass;
        if (name == "FAIL") options.Filter.Outcome = records::Result::Fail;
        if (name == "INTERRUPTED") options.Filter.Outcome = records::Result::Interrupted;
        if (!options.Filter.Outcome)
            throw CLI::RuntimeError("--result is PASS, FAIL or INTERRUPTED, not " + *options.Result,
                                    BadInputStatus);
    }
    std::string error;
    const std::unique_ptr<records::RecordStore> store =
        records::OpenRecordStore(options.Db, records::OpenMode::Read, error);
    if (!store) throw CLI::RuntimeError(error, BadInputStatus);
    auto failed = [&] {
        return CLI::RuntimeError(error, store->Lost() ? StoppedStatus : BadInputStatus);
    };
    if (options.Summary) {
        const auto days = store->Summarize(options.Filter, error);
        if (!days) throw failed();
        WriteOut(records::FormatSummary(*days, *format));
    } else {
        records::RecordWriter writer(*format, WriteOut);
        if (!store->Each(
                options.Filter, [&](const records::Record& r) { return writer.Add(r); }, error))
            throw failed();
        writer.Finish();
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        throw CLI::RuntimeError("cannot write the listing", StoppedStatus);
}

} // namespace

void InstallStopSignals() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    // No restart: a wait on a device or the database is cut short to look at the stop.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    // Nor does a database that stopped answering hold the run up.
    records::SetStopCheck([] { return StopRequested != 0; });
}

constexpr const char* DbHelp =
    "Database of the records: sqlite:PATH (made when program finds none), the path of an "
    "existing SQLite file, a PostgreSQL URI (postgresql://line@db1/production?sslmode=verify-full)"
    " or keyword string (\"host=db1 dbname=production sslmode=verify-full\"); passwords from "
    "PGPASSWORD, ~/.pgpass or a service file. Default the SQLite file in the state folder";

namespace {

// scan, erase, read, parse and cycle: a template and nothing else.
void AddOperationCommands(CLI::App& app, const std::shared_ptr<Options>& options) {
    struct Entry {
        const char* Name;
        const char* Description;
        Command Run;
    };
    const Entry commands[] = {
        {"scan", "Count the blank and programmed devices (the Scan action)",
         [](app::Station& s, const app::Template& t) { return s.Scan(t); }},
        {"erase",
         "Erase the EEPROM of the devices the erase scan takes (the Erase action): with a "
         "KR1, KR2 or KR3 template every attached device of every model, with a KR4 template "
         "the KR4 chips of that model; with Only Program Blank Devices only the blank ones",
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
}

// program and verify, which keep records.
void AddRecordedCommands(CLI::App& app, const std::shared_ptr<Options>& options) {
    CLI::App* verify = app.add_subcommand(
        "verify", "Compare every device of the template's model, field by field and word by "
                  "word, with what the template would have written for its serial number; a "
                  "serial number on two devices, or (with --db) without a PASS program record "
                  "there of the image the device holds, fails; exit 1 when any fails");
    verify->add_option("--template", options->Template, "Template file to compare with")
        ->required()
        ->check(CLI::ExistingFile);
    verify->callback([options] { RunVerify(*options); });

    CLI::App* program = app.add_subcommand(
        "program", "Program every device of the template's model (the Program action). Serial "
                   "numbers from the clock differ from those of every run with the same state "
                   "folder (this user on this machine), not from other users' or stations'. "
                   "Ctrl+C, SIGTERM or SIGHUP finish and record the devices in hand, then end "
                   "the run with exit status 1 (every device command alike)");
    program->add_option("--template", options->Template, "Template file to program from")
        ->required()
        ->check(CLI::ExistingFile);
    program->add_option("--log", options->Log,
                        "CSV file that gains one line per programmed device");
    CLI::Option* counter =
        program->add_option("--counter", options->Counter,
                            "File holding the next value of the template's fixed serial number");
    program
        ->add_flag("--series", options->Series,
                   "Number the devices from the database's series of the template's fixed "
                   "serial number (its prefix and digit count): with --db, shared by every "
                   "station on that database; without, kept in this user's state folder and "
                   "shared only by this user's runs on this machine")
        ->excludes(counter);
    for (CLI::App* sub : {program, verify}) {
        sub->add_option("--db", options->Db, DbHelp);
        sub->add_option(
            "--station", options->Station,
            "Station name the records carry, up to 64 printable characters; default the "
            "host name");
    }
    program->add_flag("--watch", options->Watch,
                      "Wait for devices and program each one as it is plugged in, until "
                      "Ctrl+C, SIGTERM or SIGHUP; exit 1 when any failed. A chip holding the "
                      "image a PASS record gave it is not written again; while the database "
                      "is unreachable nothing is written and the watch waits for it");
    program->add_flag("--parallel", options->Parallel,
                      "Program every device found at once (with --watch, those plugged in "
                      "during one poll); needs a fixed serial number, not the clock");
    program->add_flag("--allow-reuse", options->AllowReuse,
                      "Write a serial number the records already hold as PASS on another "
                      "device; without it such a device is refused with nothing written");
    program->add_option("--label", options->Label.Layout,
                        "Label layout (SVG) to print for each device that passes");
    AddLabelOptions(*program, options->Label);
    program->callback([options] { RunProgram(*options); });
}

void AddHistoryCommand(CLI::App& app) {
    const auto history = std::make_shared<HistoryOptions>();
    CLI::App* list = app.add_subcommand("history", "List the production records, newest last");
    list->add_option("--db", history->Db,
                     "Database of the records, as for program; it must exist and is only read "
                     "(a read-only copy will do)");
    records::RecordFilter& filter = history->Filter;
    list->add_option("--serial", filter.SerialNumber, "Only the records of this serial number");
    list->add_option("--station", filter.Station, "Only the records of this station");
    list->add_option("--since", filter.Since,
                     "Only the records from this UTC time (YYYY-MM-DDTHH:MM:SSZ) or date on");
    list->add_option("--until", filter.Until,
                     "Only the records up to this UTC time or to the end of this date");
    list->add_option("--model", filter.Model, "Only the records of this model (KR2C, ...)");
    list->add_option("--result", history->Result,
                     "Only the records with this result: PASS, FAIL or INTERRUPTED (a device "
                     "whose station stopped while writing it)");
    list->add_option("--template", filter.TemplateFile,
                     "Only the records of this template file name");
    list->add_option("--limit", filter.Limit, "Only the newest N records (still newest last)")
        ->check(CLI::PositiveNumber);
    list->add_flag("--summary", history->Summary,
                   "Per station and UTC day, the program records: passed, failed, yield and "
                   "devices per hour (over the time from the day's first to its last device)");
    list->add_option("--format", history->Format, "text, csv or json");
    list->callback([history] { RunHistory(*history); });
}

} // namespace

void AddDeviceCommands(CLI::App& app) {
    const auto options = std::make_shared<Options>();
    AddOperationCommands(app, options);
    AddRecordedCommands(app, options);
    AddHistoryCommand(app);
    AddLabelCommand(app);
}

} // namespace burnwise::cli
