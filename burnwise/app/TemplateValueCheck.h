#pragma once

#include "burnwise/app/Template.h"
#include "burnwise/device/Reporter.h"

namespace burnwise::app {

// Whether every value of the template is one its field can hold: a list choice the list
// has (a file may name an entry it lacks, which then leaves none chosen) and a text whose
// every character has its 8-bit code (a UTF-8 file may hold bytes that are not UTF-8, or
// characters beyond Latin-1). A line naming the key for each field that cannot. Part of
// the Save checks, and so of the Program checks.
bool CheckFieldValues(const Template& t, device::Reporter& notes);

} // namespace burnwise::app
