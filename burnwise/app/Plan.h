#pragma once

#include "burnwise/app/Template.h"
#include "burnwise/device/Reporter.h"

#include <string>
#include <variant>

namespace burnwise::app {

// Where the devices of a run get their serial numbers: from the template (its fixed number
// advanced per position, or the clock), from a counter file on this machine, or from a
// series in the records database that any number of stations share.
enum class SerialSource { Template, Counter, Series };

// What a programming run is asked to do, before anything is opened.
struct PlanRequest {
    Template Shown;
    SerialSource Serials = SerialSource::Template;
    // Every device at once, each on a thread and handle of its own.
    bool Parallel = false;
    // Devices arrive one pass after another (the watch, the production line): every pass
    // numbers its devices from position 0 again.
    bool Continuous = false;
};

// Why a template cannot be programmed as asked. Each front end words it for its users (the
// command line names its options, the window its controls); Text is the neutral wording.
enum class RefusalKind {
    TemplateChecks,         // the save and program checks failed; their lines were shown
    FixedSerialNeedsSource, // one fixed number, devices arriving pass after pass
    SourceNeedsFixedSerial, // a counter or a series numbers a fixed serial number
    SerialWithoutDigits,    // the fixed serial number has no digits to count with
    ClockSerialsNotAtOnce,  // clock serial numbers and every device at once
};

struct Refusal {
    RefusalKind Kind;
    std::string Text;
};

// How a run goes: the template as it is programmed (the model's values applied), whether
// its serial numbers come from the clock, and whether every device goes at once.
struct RunPlan {
    Template Checked;
    bool ClockSerials = false;
    bool AtOnce = false;
};

// Every rule about whether and how a template can be programmed, in one place: the model's
// values, the save and program checks (their lines and box to `notes`), the serial number
// source, the clock and every device at once. Each front end, the window, the production
// line, the watch and the command line, asks this before a device is opened.
std::variant<RunPlan, Refusal> PlanRun(const PlanRequest& request, device::Reporter& notes);

} // namespace burnwise::app
