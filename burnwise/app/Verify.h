#pragma once

#include "burnwise/app/Station.h"
#include "burnwise/app/Template.h"
#include "burnwise/records/RecordStore.h"

#include <functional>
#include <string>
#include <vector>

namespace burnwise::app {

// A field whose value on a device is not the template's.
struct FieldDifference {
    std::string Field; // the template key, e.g. "Max Bus Power"
    std::string Device;
    std::string Template;
};

// One device of a verify: its outcome (passed only when it reads as the template would have
// written it and no audit finds fault with it, with the reason naming every finding) and
// the fields that differ. The outcome's ImageWritten holds the words the device holds, as
// many as its part takes, so that its record carries their digest.
struct VerifiedDevice {
    device::DeviceOutcome Outcome;
    std::vector<FieldDifference> Differences;
};

struct VerifyRequest {
    Template Shown;
    // When set, every serial number must have a PASS program record here, of the image the
    // device holds.
    records::RecordStore* Records = nullptr;
    // Told of every device once all are read and judged, in order; false tells no more
    // (a record could not be kept).
    std::function<bool(const VerifiedDevice&)> Observe;
};

struct VerifyReport {
    Report Read; // the read of the devices, with the verdicts as outcomes
    std::vector<VerifiedDevice> Devices;

    // At least one device of the template's model was found, the read went through every
    // one, and each is as the template would have written it. Devices of other models are
    // not verified and not in Devices.
    bool AllPassed() const;
};

// The fields of `device` that differ from `shown`, field by field as the template file
// writes them. The serial number is judged by the template's scheme rather than for one
// value: the prefix and digit count of a fixed serial number, or the prefix and clock code
// of a generated one.
std::vector<FieldDifference> CompareWithTemplate(const Template& shown, const Template& device);

// "Max Bus Power is 90, template says 100; ..."
std::string DifferenceText(const std::vector<FieldDifference>& differences);

// Fails every device whose serial number another device of the same verify holds.
void AuditRepeatedSerials(std::vector<VerifiedDevice>& devices);

// Fails every device whose serial number has no PASS program record in `records`, or whose
// records are all of another image.
void AuditRecords(records::RecordStore& records, std::vector<VerifiedDevice>& devices);

// Reads every attached device of the template's model, compares it with the template field
// by field and word by word, and audits the serial numbers.
VerifyReport Verify(Station& station, const VerifyRequest& request);

} // namespace burnwise::app
