#pragma once

#include "burnwise/app/StateFiles.h"

namespace burnwise::ui {

using app::BurnwiseStateFolder;
using app::ClockSerialFile;

} // namespace burnwise::ui
