#include "burnwise/app/Plan.h"

#include "burnwise/app/SerialCounter.h"
#include "burnwise/app/TemplateEditor.h"
#include "burnwise/device/DeviceEngine.h"

namespace burnwise::app {

std::variant<RunPlan, Refusal> PlanRun(const PlanRequest& request, device::Reporter& notes) {
    RunPlan plan;
    plan.Checked = request.Shown;
    // The model's values are refreshed first, as choosing the model would have left them.
    TemplateEditor editor(plan.Checked, notes);
    ApplyModelValues(editor);
    const Template& t = plan.Checked;
    if (!ValidateForProgram(t, notes))
        return Refusal{RefusalKind::TemplateChecks,
                       "The template cannot be programmed - nothing written to any device"};

    const bool fixed = t.Scheme() == SerialScheme::Fixed;
    if (request.Serials != SerialSource::Template) {
        if (!fixed)
            return Refusal{RefusalKind::SourceNeedsFixedSerial,
                           "numbering from a counter or a series needs a template with a fixed "
                           "serial number"};
        std::string error;
        if (!SplitSerial(t.FixedSerial, error))
            return Refusal{RefusalKind::SerialWithoutDigits, error};
    } else if (fixed && request.Continuous) {
        return Refusal{RefusalKind::FixedSerialNeedsSource,
                       "the template has one fixed serial number: every device would get the "
                       "same one"};
    }
    plan.ClockSerials = !fixed && request.Serials == SerialSource::Template;
    if (request.Parallel && plan.ClockSerials)
        return Refusal{RefusalKind::ClockSerialsNotAtOnce,
                       std::string(device::ClockSerialsNotAtOnce)};
    plan.AtOnce = request.Parallel;
    return plan;
}

} // namespace burnwise::app
