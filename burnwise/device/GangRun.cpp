// Programming every device at once. Each device gets an engine of its own for its share of
// the run: the run's driver, a copy of the run's codec state and switches, a unit (so a
// handle) of its own, and a reporter that holds what it says. Those engines do exactly what
// the run one by one does for a device (ScanIndex, ProgramPass); this thread gives out the
// settings and serial numbers, and passes each device's lines, boxes and outcome on in
// position order, so the Reporter sees what the run one by one would show it.
#include "burnwise/device/DeviceEngine.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace burnwise::device {
namespace {

// What a device's thread reports, held until the device's turn comes on the run's thread.
class HeldReports final : public Reporter {
public:
    void AppendLine(std::string_view line) override { Add(Kind::Line, line); }
    void ClearLines() override { Add(Kind::Clear, {}); }
    void ShowError(std::string_view text) override { Add(Kind::Error, text); }
    void ShowInformation(std::string_view text) override { Add(Kind::Information, text); }
    // A programming pass on the device starts here.
    void PassStarts() { Add(Kind::Pass, {}); }

    // Passes everything on in order; `pass` stands for each pass's start.
    void Replay(Reporter& to, const std::function<void()>& pass) const {
        for (const Event& event : events_) {
            switch (event.What) {
            case Kind::Line:
                to.AppendLine(event.Text);
                break;
            case Kind::Clear:
                to.ClearLines();
                break;
            case Kind::Error:
                to.ShowError(event.Text);
                break;
            case Kind::Information:
                to.ShowInformation(event.Text);
                break;
            case Kind::Pass:
                if (pass) pass();
                break;
            }
        }
    }

private:
    enum class Kind { Line, Clear, Error, Information, Pass };
    struct Event {
        Kind What;
        std::string Text;
    };
    void Add(Kind kind, std::string_view text) { events_.push_back({kind, std::string(text)}); }
    std::vector<Event> events_;
};

// Runs task(i) for every i below `count`, each on a thread of its own (on this thread when
// its turn comes, should no thread be had), and calls done(i) on this thread in the order of
// i as soon as task i has ended. Tasks must not throw. Every thread has ended when this
// returns, also when `done` throws.
void RunAtOnce(std::size_t count, const std::function<void(std::size_t)>& task,
               const std::function<void(std::size_t)>& done) {
    std::vector<std::jthread> threads(count);
    for (std::size_t i = 0; i < count; ++i) {
        try {
            threads[i] = std::jthread(task, i);
        } catch (const std::system_error&) {
            // Left to this thread.
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (threads[i].joinable())
            threads[i].join();
        else
            task(i);
        done(i);
    }
}

std::string WhatOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

} // namespace

class GangRun {
public:
    static RunEnd Program(DeviceEngine& run, SettingsSource& settings);

private:
    using PassEnd = DeviceEngine::PassEnd;
    struct Worker;
    using Workers = std::vector<std::unique_ptr<Worker>>;

    // One device's share of the run.
    struct Worker {
        codec::CodecState Codec;
        codec::CodecState Gathered; // the settings each of its passes starts from
        RunFlags Flags;
        HeldReports Reports;
        DeviceEngine Engine;
        std::int32_t DriverIndex = 0;
        // Why AttemptStarts refused the device: nothing is written to it.
        std::optional<std::string> Refused;
        PassEnd End;
        std::exception_ptr Error;

        // Its scan asks what the run's scan would (its filter, whether a device is already
        // written); everything else of the run's context is the run's to tell and ask.
        RunContext Context;
        explicit Worker(DeviceEngine& run)
            : Flags(run.flags_), Engine(run.Unit.Driver(), Codec, Flags, Reports, run.clock_) {
            Codec.CopyFrom(run.codec_);
            Gathered.CopyFrom(run.codec_);
            Context.ScanFilter = run.context_->ScanFilter;
            Context.AlreadyWritten = run.context_->AlreadyWritten;
        }

        // Ends the work after an exception with nothing left open.
        void Failed() {
            Error = std::current_exception();
            try {
                Engine.Unit.CloseCurrentDevice();
            } catch (...) {
                // The close itself was made; only its report failed.
            }
        }
    };

    static int ProgramScan(DeviceEngine& run);
    // Adds what the device's own scan found to the run's.
    static void Merge(DeviceEngine& run, Worker& worker, std::int32_t index);
    // Gives each of the first `count` selected positions its settings and serial number, in
    // order, and puts its attempt on record: a worker each. A position that gets no serial
    // number ends the list there, with the reason in `refused`.
    static Workers Gather(DeviceEngine& run, SettingsSource& settings, int count,
                          std::vector<std::string>& reserved, std::optional<std::string>& refused);
    // Programs the worker's device on its own thread, again while it reads back the serial
    // number of a device before it.
    static void Work(Worker& worker, const std::vector<std::string>& reserved, std::size_t k);
    // Passes the worker's lines, boxes and outcome on to the run, in its turn.
    static void Report(DeviceEngine& run, SettingsSource& settings, Worker& worker,
                       const std::string& reserved, int position, int count);
};

int GangRun::ProgramScan(DeviceEngine& run) {
    run.ReleaseHeldDevices();
    run.Scan = ScanResults{};
    run.notes_ = {};
    PipexUnit& unit = run.Unit;
    if (unit.GetVQDeviceCount() != VQ_OK) return 0;
    unit.CurrentDeviceIndex = 0;
    if (unit.DeviceCount <= 0) return 0;
    const int examined = std::min(unit.DeviceCount, MaxScanDevices);
    run.leftOut_ = unit.DeviceCount - examined;
    if (run.StopBeforeDevice(0)) return 0;
    std::vector<std::unique_ptr<Worker>> workers(static_cast<std::size_t>(examined));
    for (int index = 0; index < examined; ++index) {
        auto& worker = workers[static_cast<std::size_t>(index)];
        worker = std::make_unique<Worker>(run);
    }
    RunAtOnce(
        workers.size(),
        [&](std::size_t index) {
            Worker* worker = workers[index].get();
            if (!worker) return;
            try {
                worker->Engine.Unit.CurrentDeviceIndex = static_cast<std::int32_t>(index);
                const DeviceEngine::InContext in(worker->Engine, worker->Context);
                worker->Engine.ScanIndex(DeviceEngine::Variant::Program, static_cast<int>(index));
            } catch (...) {
                worker->Failed();
            }
        },
        [&](std::size_t index) {
            run.Progress(static_cast<int>(index) + 1, examined);
            Worker* worker = workers[index].get();
            if (!worker) return;
            worker->Reports.Replay(run.reporter_, {});
            // Nothing has been written yet: the scan ends as the one by one would.
            if (worker->Error) std::rethrow_exception(worker->Error);
            Merge(run, *worker, static_cast<std::int32_t>(index));
        });
    unit.CurrentDeviceIndex = examined;
    unit.DeviceIsOpen = false;
    return run.Scan.SelectedCount;
}

void GangRun::Merge(DeviceEngine& run, Worker& worker, std::int32_t index) {
    const ScanResults& found = worker.Engine.Scan;
    ScanResults& to = run.Scan;
    const auto append = [](auto& list, int& size, const auto& more, int moreSize) {
        for (int i = 0; i < moreSize; ++i)
            list[static_cast<std::size_t>(size++)] = more[static_cast<std::size_t>(i)];
    };
    append(to.OpenedDevices, to.OpenedCount, found.OpenedDevices, found.OpenedCount);
    int counted = to.BlankCount + to.ProgrammedCount;
    append(to.CountedDevices, counted, found.CountedDevices,
           found.BlankCount + found.ProgrammedCount);
    to.BlankCount += found.BlankCount;
    to.ProgrammedCount += found.ProgrammedCount;
    append(to.SelectedDevices, to.SelectedCount, found.SelectedDevices, found.SelectedCount);
    const auto note = static_cast<std::size_t>(index);
    run.notes_[note] = worker.Engine.notes_[note];
    // The device stays held, now by the run, until its own worker writes it.
    run.held_[note] = std::exchange(worker.Engine.held_[note], nullptr);
    // The run's codec state holds what the last device examined left in it.
    if (worker.Engine.classified_) run.codec_.CopyFrom(worker.Codec);
}

RunEnd GangRun::Program(DeviceEngine& run, SettingsSource& settings) {
    run.Begin(DeviceOperation::Program);
    const int count = ProgramScan(run);
    if (const std::optional<RunEnd> end = run.AfterProgramScan(count)) return *end;
    // Once they start, the devices are not stopped halfway: the scan's end was the last
    // moment a stop left every one as it is.
    std::vector<std::string> reserved;
    std::optional<std::string> refused; // why the position after the last worker has none
    const Workers workers = Gather(run, settings, count, reserved, refused);
    RunAtOnce(
        workers.size(), [&](std::size_t k) { Work(*workers[k], reserved, k); },
        [&](std::size_t k) {
            Report(run, settings, *workers[k], reserved[k], static_cast<int>(k), count);
        });
    if (refused) {
        const int position = static_cast<int>(workers.size());
        run.Progress(position + 1, count);
        settings.CheckStringTotal();
        run.FinishProgram(position, *refused, true, {});
        return run.End(RunEnd::Stopped);
    }
    return run.End(RunEnd::Completed);
}

GangRun::Workers GangRun::Gather(DeviceEngine& run, SettingsSource& settings, int count,
                                 std::vector<std::string>& reserved,
                                 std::optional<std::string>& refused) {
    // As one by one: the devices before a position without a number are programmed, those
    // after it left alone.
    const RunContext& context = *run.context_;
    Workers workers;
    for (int k = 0; k < count; ++k) {
        const std::int32_t index = run.Scan.SelectedDevices[static_cast<std::size_t>(k)];
        if (context.DeviceTaken) context.DeviceTaken(index);
        settings.GatherSettings(k);
        const codec::TextBuffer serialNumber = run.codec_.Settings.SerialNumber;
        if (context.SerialSource) {
            std::string error;
            const std::optional<std::string> serial = context.SerialSource(k, error);
            if (!serial) {
                refused = run.SerialSourceFailed(k, error);
                break;
            }
            codec::SetText(serialNumber, *serial);
        }
        std::string serial(codec::TextOf(serialNumber));
        if (serial.empty()) {
            refused = std::string(ClockSerialsNotAtOnce);
            break;
        }
        auto& worker = workers.emplace_back(std::make_unique<Worker>(run));
        worker->DriverIndex = index;
        // Every position's attempt is on record before the first device is written.
        worker->Refused = run.StartAttempt(k, serial);
        const auto held = static_cast<std::size_t>(index);
        if (held < run.held_.size())
            worker->Engine.held_[held] = std::exchange(run.held_[held], nullptr);
        reserved.push_back(std::move(serial));
    }
    return workers;
}

void GangRun::Work(Worker& worker, const std::vector<std::string>& reserved, std::size_t k) {
    if (worker.Refused) return;
    try {
        // The repeat guard's view: the numbers of the positions before this one.
        const std::set<std::string> before(reserved.begin(),
                                           reserved.begin() + static_cast<std::ptrdiff_t>(k));
        for (int passes = 0;; ++passes) {
            worker.Reports.PassStarts();
            worker.Codec.CopyFrom(worker.Gathered);
            worker.Codec.EepromTypeName.clear();
            worker.End = worker.Engine.ProgramPass(worker.DriverIndex, before, passes);
            if (worker.End.What != PassEnd::Kind::Again) break;
        }
    } catch (...) {
        worker.Failed();
    }
}

void GangRun::Report(DeviceEngine& run, SettingsSource& settings, Worker& worker,
                     const std::string& reserved, int position, int count) {
    if (worker.Refused) {
        run.Progress(position + 1, count);
        run.reporter_.AppendLine(*worker.Refused);
        run.FinishProgram(position, *worker.Refused, false, reserved);
        return;
    }
    worker.Reports.Replay(run.reporter_, [&] {
        run.Progress(position + 1, count);
        settings.CheckStringTotal();
    });
    run.codec_.CopyFrom(worker.Codec);
    if (worker.Error) {
        const std::string line = "ERROR - Device " + std::to_string(worker.DriverIndex) +
                                 " failed: " + WhatOf(worker.Error);
        run.reporter_.AppendLine(line);
        worker.End = PassEnd{PassEnd::Kind::Failed, line, false, {}};
    }
    const bool passed = worker.End.What == PassEnd::Kind::Passed;
    // A stop asked for after a device cannot stop the others, which run already: they are
    // reported all the same, and the run ends Cancelled.
    run.FinishProgram(position, passed ? std::string() : worker.End.Failure, worker.End.Box,
                      reserved);
}

RunEnd DeviceEngine::ProgramRunParallel(SettingsSource& settings, const RunContext& context) {
    const InContext in(*this, context);
    return GangRun::Program(*this, settings);
}

} // namespace burnwise::device
