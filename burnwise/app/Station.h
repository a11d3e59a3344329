#pragma once

#include "burnwise/app/Plan.h"
#include "burnwise/app/Template.h"
#include "burnwise/codec/CodecState.h"
#include "burnwise/codec/SerialNumber.h"
#include "burnwise/device/DeviceEngine.h"
#include "burnwise/device/PipexDriver.h"
#include "burnwise/device/Reporter.h"
#include "burnwise/device/RunFlags.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace burnwise::app {

// What a device command did: one outcome per device it took or should have taken, in the
// order they ended, and how it ended.
struct Report {
    device::DeviceOperation Operation = device::DeviceOperation::Scan;
    std::vector<device::DeviceOutcome> Devices;
    device::RunEnd End = device::RunEnd::Completed;
    // Set when the plan refused the run before anything was opened (End is Stopped). The
    // caller says it in its own words; only the template checks have shown their lines and
    // box already.
    std::optional<Refusal> Refused;

    bool Completed() const { return End == device::RunEnd::Completed; }
};

// A programming run.
struct ProgramRequest {
    Template Shown;
    // Where the numbers come from; Serials is set exactly when it is not the template.
    SerialSource Source = SerialSource::Template;
    // When set, the fixed serial number of the device at each 0-based position, taken the
    // moment the device is reached; nothing (with `error` set) ends the run before that
    // device is written.
    std::function<std::optional<std::string>(int position, std::string& error)> Serials;
    // Told of each outcome as it happens; false ends the run before the next device (the
    // record of the outcome could not be kept).
    std::function<bool(const device::DeviceOutcome&)> Observe;
    // When set, the scan passes over every device whose reported serial number it refuses.
    std::function<bool(const std::string& reportedSerial)> ScanFilter;
    // Told when the run takes a device in hand, with the serial number the device reports.
    std::function<void(std::int32_t driverIndex, const std::string& reportedSerial)> Started;
    // When set, asked of every programmed device the scan finds (see the run context's
    // AlreadyWritten): a line leaves the device alone.
    decltype(device::RunContext::AlreadyWritten) AlreadyWritten;
    // When set, told of each device before anything is written to it (with Parallel, of
    // every device before any is written): see RunContext::AttemptStarts. A reason refuses
    // the device, which ends FAIL with it.
    std::function<std::optional<std::string>(const device::DeviceOutcome& attempt,
                                             std::string_view reportedSerial)>
        Attempt;
    // Every selected device at once, each on a thread and handle of its own, with the same
    // serial numbers, contents, lines and outcomes as one by one. Refused (before anything
    // is opened) when the serial numbers come from the clock.
    bool Parallel = false;
};

// A device an erase is about to take, as its scan found it: the model and serial number it
// reports (either may be empty).
struct EraseCandidate {
    std::int32_t DriverIndex = 0;
    std::string Model;
    std::string Serial;
};
// Asked once before an erase takes its devices, while they are held; false erases nothing.
using EraseConfirmation = std::function<bool(const std::vector<EraseCandidate>& devices)>;

class FieldSink;

// What a run of `shown` starts from: the family selectors of its model, and its run switches
// (blank devices only, serial number off) as the template sets them.
void PrepareRun(const Template& shown, codec::CodecState& state, device::RunFlags& flags);

// The plan of a programming request run as a single pass (not a watch).
std::variant<RunPlan, Refusal> PlanProgram(const ProgramRequest& request, device::Reporter& notes);

// Burnwise's device commands over one driver, for any front end: each takes what it works
// from and returns its report, while its lines and boxes stream to the reporter.
// What a device holds, read whole: its words, and the part its image names (see
// device::ParsedDeviceSink::WordsRead).
struct DeviceWords {
    codec::EepromImage Words{};
    std::string Eeprom;
};

class Station {
public:
    // The clock and record must outlive the station. Without a record of the machine's
    // (`clockRecord` null), the station keeps the last clock serial number it issued itself.
    Station(device::PipexDriver& driver, device::Reporter& reporter, const codec::UtcClock& clock,
            device::ClockSerialRecord* clockRecord = nullptr);
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;
    ~Station();

    // The survey of a template's devices: the family selectors and blank-only switch come
    // from `shown` (the start template when there is none).
    Report Scan(const Template& shown);
    // Plans the run (PlanProgram: a refusal ends the report Stopped, with Refused set and
    // no device touched), then programs every selected device.
    Report Program(const ProgramRequest& request);
    // Erases what the erase scan of `shown` selects, after `confirm` (when given) said yes.
    Report Erase(const Template& shown, const EraseConfirmation& confirm = {});
    Report Read(const Template& shown);
    // Decodes every counted device; `decoded` ends up as the template shown after the last
    // one, as opening the device into the window would leave it.
    Report ReadAndParse(const Template& shown, Template& decoded);
    // The same into any place template values go (the window's controls), device after
    // device, with its rules; `decoding` is told before each device is put in.
    Report ReadAndParse(const Template& shown, FieldSink& into,
                        const std::function<void()>& decoding = {});
    Report Cycle(const Template& shown);
    // Read and Parse device by device: `each` is given every device's outcome together with
    // the template decoded from it (the template shown, for a device that could not be
    // read) and the words it holds (null when it could not be read whole); false from it
    // ends the run after that device. A device read whole that holds no valid image is
    // left to `each` to report: it fails with no line of its own.
    Report ParseEach(const Template& shown,
                     const std::function<bool(const device::DeviceOutcome&, const Template& decoded,
                                              const DeviceWords* words)>& each);

    device::DeviceEngine& Engine() { return engine_; }
    // The codec state and switches of the run in progress or the last one (each run sets
    // them from its template).
    codec::CodecState& State() { return state_; }
    device::RunFlags& Flags() { return flags_; }
    // What the last scan found and selected.
    const device::ScanResults& LastScan() const { return engine_.Scan; }
    // The driver index of the device the run in progress works on (the last one, after it).
    std::int32_t DeviceInHand() const { return engine_.Unit.CurrentDeviceIndex; }
    // Closes a device a run left open (the window closing).
    void CloseDevice() { engine_.Unit.CloseCurrentDevice(); }

private:
    void Prepare(const Template& shown);
    // Runs one engine operation with `context`, keeping its outcomes; false from `observe`
    // ends it before the next device.
    Report Run(device::DeviceOperation operation, device::RunContext context,
               const std::function<device::RunEnd(const device::RunContext&)>& run,
               const std::function<bool(const device::DeviceOutcome&)>& observe = {});

    std::unique_ptr<device::ClockSerialRecord> ownClockRecord_;
    codec::CodecState state_;
    device::RunFlags flags_;
    device::Reporter& reporter_;
    device::DeviceEngine engine_;
};

} // namespace burnwise::app
