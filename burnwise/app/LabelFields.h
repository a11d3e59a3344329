#pragma once

#include "burnwise/app/Template.h"
#include "burnwise/records/RecordStore.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace burnwise::app {

// A label's field values by name (the label library's FieldValues).
using LabelValues = std::map<std::string, std::string, std::less<>>;

// What a device's label shows: the serial number, model, station and template file of its
// record, the record's UTC date (YYYY-MM-DD) and time (HH:MM:SS), and the product,
// manufacturer, VID and PID the template wrote into the chip.
LabelValues LabelValuesOf(const Template& shown, const records::Record& record);

// The values as a record keeps them (Record::LabelFields): one "name=value" line each, a
// backslash, a line end or a carriage return in a value escaped. Read back exactly by
// ParseLabelValues; nothing from text that is not such lines.
std::string WriteLabelValues(const LabelValues& values);
std::optional<LabelValues> ParseLabelValues(std::string_view text);

} // namespace burnwise::app
