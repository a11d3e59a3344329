#include "burnwise/app/Verify.h"

#include "burnwise/app/SerialCounter.h"
#include "burnwise/app/TemplateEditor.h"

#include <algorithm>
#include <cctype>

namespace burnwise::app {
namespace {

// The clock's code is six base-36 digits.
constexpr std::size_t ClockCodeLength = 6;

bool IsSerialField(const Field& field) {
    return field.Text == &Template::FixedSerial || field.Text == &Template::SerialPrefix ||
           field.Flag == &Template::UseFixedSerial;
}

// A key two sections share is named with its section.
std::string FieldName(const Field& field) {
    const auto fields = Fields();
    const auto same = std::count_if(fields.begin(), fields.end(),
                                    [&](const Field& f) { return f.Key == field.Key; });
    if (same == 1) return std::string(field.Key);
    return std::string(field.Key) + " (" + std::string(field.Section) + ")";
}

bool AllOf(std::string_view text, int (*is)(int)) {
    return std::all_of(text.begin(), text.end(),
                       [is](char c) { return is(static_cast<unsigned char>(c)) != 0; });
}

bool IsClockCode(std::string_view code) {
    return code.size() == ClockCodeLength && std::all_of(code.begin(), code.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
           });
}

// What the template's scheme lets a device's serial number be, as its text; empty when
// `serial` fits it.
std::string SerialMismatch(const Template& shown, const std::string& serial) {
    if (shown.Scheme() == SerialScheme::Fixed) {
        std::string error;
        const std::optional<SerialPattern> pattern = SplitSerial(shown.FixedSerial, error);
        if (!pattern) return serial == shown.FixedSerial ? "" : shown.FixedSerial;
        const std::string_view digits =
            std::string_view(serial).substr(std::min(serial.size(), pattern->Prefix.size()));
        if (serial.starts_with(pattern->Prefix) &&
            digits.size() == static_cast<std::size_t>(pattern->Digits) && AllOf(digits, isdigit))
            return {};
        return pattern->Prefix + " and " + std::to_string(pattern->Digits) + " digits";
    }
    if (serial.starts_with(shown.SerialPrefix) &&
        IsClockCode(std::string_view(serial).substr(shown.SerialPrefix.size())))
        return {};
    return shown.SerialPrefix + " and the clock's code";
}

} // namespace

bool VerifyReport::AllPassed() const {
    // A read that failed on a device of another model has still gone through; a failure on
    // one of the template's model is among Devices.
    const bool wentThrough =
        Read.End == device::RunEnd::Completed || Read.End == device::RunEnd::Failed;
    return wentThrough && !Devices.empty() &&
           std::all_of(Devices.begin(), Devices.end(),
                       [](const VerifiedDevice& d) { return d.Outcome.Passed; });
}

std::vector<FieldDifference> CompareWithTemplate(const Template& shown, const Template& device) {
    std::vector<FieldDifference> differences;
    for (const Field& field : Fields()) {
        if (IsSerialField(field)) continue;
        std::string has = FieldText(device, field);
        std::string wants = FieldText(shown, field);
        if (has != wants)
            differences.push_back({FieldName(field), std::move(has), std::move(wants)});
    }
    if (!shown.DisableSerialNumber) {
        std::string wants = SerialMismatch(shown, device.FixedSerial);
        if (!wants.empty())
            differences.push_back({"Serial Number", device.FixedSerial, std::move(wants)});
    }
    return differences;
}

std::string DifferenceText(const std::vector<FieldDifference>& differences) {
    std::string text;
    for (const FieldDifference& d : differences) {
        if (!text.empty()) text += "; ";
        text += d.Field + " is " + d.Device + ", template says " + d.Template;
    }
    return text;
}

VerifyReport Verify(Station& station, const VerifyRequest& request) {
    // The template as programming would have used it: the model's values applied.
    Template shown = request.Shown;
    // Programming applies the model's values again; what that says was said on opening.
    struct Quiet final : device::Reporter {
        void AppendLine(std::string_view) override {}
        void ClearLines() override {}
        void ShowError(std::string_view) override {}
        void ShowInformation(std::string_view) override {}
    } quiet;
    TemplateEditor editor(shown, quiet);
    ApplyModelValues(editor);

    const std::string family =
        shown.Model
            ? std::string(codec::ReportedModelName(
                  static_cast<std::uint32_t>(codec::ChipModelOf(*shown.Model).DeviceTypeCode),
                  std::nullopt))
            : std::string("-");
    VerifyReport report;
    report.Read = station.ParseEach(
        shown, [&](const device::DeviceOutcome& outcome, const Template& decoded) {
            // Only devices of the template's model are verified: the model the device
            // reported of itself names its family ("KR2", or "KR4S" for a KR4).
            if (!outcome.Model.starts_with(family)) return true;
            VerifiedDevice device{outcome, {}};
            // Reading sizes nothing (only a write could probe the part), so the EEPROM is
            // not known here; a record says so rather than naming the last size seen.
            device.Outcome.EepromTypeName.clear();
            if (outcome.Passed) {
                device.Differences = CompareWithTemplate(shown, decoded);
                device.Outcome.SerialNumber = decoded.FixedSerial;
                device.Outcome.Passed = device.Differences.empty();
                device.Outcome.Reason = DifferenceText(device.Differences);
            }
            report.Devices.push_back(device);
            return !request.Observe || request.Observe(device);
        });
    return report;
}

} // namespace burnwise::app
