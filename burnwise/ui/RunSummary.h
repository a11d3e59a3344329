#pragma once

#include "burnwise/app/Station.h"
#include "burnwise/codec/ChipModels.h"
#include "burnwise/device/Reporter.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace burnwise::ui {

// The lines a programming run's message list ends with when not every device it selected
// passed: how many passed and failed, which it never reached and why. `selected` are the
// driver indexes its scan selected; those the report has no outcome for were not reached.
// Nothing when every selected device passed (the run's own lines say so) or none was found.
std::vector<std::string> RunSummaryLines(const app::Report& report,
                                         std::span<const std::int32_t> selected);

// The model a results row names: a device reports only its family by type code ("KR2"),
// while one an operation took for the template's model is of that model ("KR2S").
std::string ShownModel(const device::DeviceOutcome& outcome,
                       std::optional<codec::ChipType> templateModel);

} // namespace burnwise::ui
