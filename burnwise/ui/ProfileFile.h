#pragma once

#include "burnwise/app/ProfileFile.h"

namespace burnwise::ui {

using app::MaxProfileValueLength;
using app::ProfileFile;

} // namespace burnwise::ui
