#include "burnwise/app/Verify.h"

#include "burnwise/app/Production.h"
#include "burnwise/app/SerialCounter.h"
#include "burnwise/app/TemplateEditor.h"
#include "burnwise/codec/EepromGeometry.h"
#include "burnwise/codec/ImageEncoder.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

namespace burnwise::app {
namespace {

// The name a serial number that does not fit the template's scheme is reported under.
constexpr const char* SerialNumberField = "Serial Number";

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

// Every part, and the KR4 chip, has at least these user words; an erased one reads all ones.
constexpr std::size_t UserWords = 64;
constexpr std::uint16_t ErasedWord = 0xFFFF;
// The digests a line names are cut to this many hexadecimal digits.
constexpr std::size_t DigestShown = 16;

void Fail(VerifiedDevice& device, const std::string& why) {
    device.Outcome.Passed = false;
    device.Outcome.Reason += (device.Outcome.Reason.empty() ? "" : "; ") + why;
}

codec::FamilySelectors SelectorsOf(const Template& shown) {
    const std::optional<codec::ChipType> model = shown.ChosenModel();
    return model ? codec::ChipModelOf(*model).Selectors : codec::FamilySelectors{};
}

// The part the words came from, as far as reading tells: a KR3 image names its part; a
// 64-word part repeats its words in the upper half; the KR4 chip has 64 user words inside.
// Every 128- and 256-word part takes the same 128 words of any other family's image.
std::string_view PartOf(const codec::FamilySelectors& selectors, const DeviceWords& read) {
    if (selectors.Kr4Selected) return codec::Eeprom93C46;
    if (read.Eeprom != codec::Eeprom93C46) return read.Eeprom;
    const auto lower = read.Words.begin();
    return std::equal(lower, lower + UserWords, lower + UserWords) ? codec::Eeprom93C46
                                                                   : codec::Eeprom93C56;
}

// The image programming would have written to this part with `serial` as the device's
// serial number. The clock is never asked: the serial number is given.
codec::EepromImage ImageFor(const Template& shown, const std::string& serial,
                            std::string_view part) {
    struct NoClock final : codec::UtcClock {
        codec::UtcTime Now() const override { return {}; }
    } clock;
    Template wanted = shown;
    wanted.UseFixedSerial = true;
    wanted.FixedSerial = serial;
    codec::CodecState state;
    device::RunFlags flags;
    state.Selectors = SelectorsOf(wanted);
    GatherSettings(wanted, 0, state, flags);
    codec::EncodeImage(state.Settings, state.Selectors, part, clock, state.WriteImage);
    return state.WriteImage;
}

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// "word 0x2A is 0x1234, template gives 0x0000" for the first word of the part that differs.
std::string FirstDifferingWord(const std::vector<std::uint16_t>& device,
                               const codec::EepromImage& wanted) {
    for (std::size_t i = 0; i < device.size(); ++i)
        if (device[i] != wanted[i])
            return "word " + Hex(static_cast<unsigned>(i), 2) + " is " + Hex(device[i], 4) +
                   ", template gives " + Hex(wanted[i], 4);
    return {};
}

// A device read whole: its words go with its outcome, and one without a valid image is
// said to be blank when it is erased.
void TakeWords(const Template& shown, const DeviceWords& read, bool valid, VerifiedDevice& device) {
    const std::string_view part = PartOf(SelectorsOf(shown), read);
    const std::size_t count = codec::EepromGeometryOf(part).WordsWritten;
    device.Outcome.ImageWritten.assign(read.Words.begin(), read.Words.begin() + count);
    if (!valid) {
        const bool erased = std::all_of(read.Words.begin(), read.Words.begin() + UserWords,
                                        [](std::uint16_t word) { return word == ErasedWord; });
        device.Outcome.Reason = erased ? "blank" : "holds no valid image";
        return;
    }
    // The template's image for this serial number, word by word.
    const std::string word = FirstDifferingWord(device.Outcome.ImageWritten,
                                                ImageFor(shown, device.Outcome.SerialNumber, part));
    if (word.empty()) {
        // The device holds the very image programming writes for its serial number: a field
        // that reads back otherwise is one the image cannot tell apart (a model's variant, a
        // switch the model leaves out). Only the serial number's scheme still counts.
        std::erase_if(device.Differences,
                      [](const FieldDifference& d) { return d.Field != SerialNumberField; });
        device.Outcome.Passed = device.Differences.empty();
        device.Outcome.Reason = DifferenceText(device.Differences);
    } else if (device.Differences.empty()) {
        // A difference no field explains.
        Fail(device, word);
    }
}

} // namespace

void AuditRepeatedSerials(std::vector<VerifiedDevice>& devices) {
    std::map<std::string, std::vector<std::size_t>> holders;
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (const std::string& serial = devices[i].Outcome.SerialNumber; !serial.empty())
            holders[serial].push_back(i);
    for (const auto& [serial, at] : holders)
        for (const std::size_t i : at)
            for (const std::size_t other : at)
                if (other != i)
                    Fail(devices[i], "serial " + serial + " is also on device " +
                                         std::to_string(devices[other].Outcome.DriverIndex));
}

void AuditRecords(records::RecordStore& store, std::vector<VerifiedDevice>& devices) {
    for (VerifiedDevice& device : devices) {
        const std::string& serial = device.Outcome.SerialNumber;
        if (serial.empty()) continue;
        records::RecordFilter filter;
        filter.SerialNumber = records::ChipText(serial);
        filter.Outcome = records::Result::Pass;
        const std::string digest = ImageSha256(device.Outcome.ImageWritten);
        std::optional<std::string> other;
        bool found = false;
        std::string error;
        const bool listed = store.Each(
            filter,
            [&](const records::Record& record) {
                if (record.Operation != "program") return true;
                // A record older than image digests matches any image.
                found = record.ImageSha256.empty() || record.ImageSha256 == digest;
                if (!found) other = record.ImageSha256;
                return !found;
            },
            error);
        // A device the line was writing when it stopped has only its attempt on record:
        // what it holds, judged above, completes that record (PASS when it is the image
        // the template gives its number).
        bool attempted = false;
        if (listed && !found && !other) {
            filter.Outcome = records::Result::Interrupted;
            store.Each(
                filter,
                [&](const records::Record& record) {
                    attempted = record.Operation == "program";
                    return !attempted;
                },
                error);
        }
        if (!listed)
            Fail(device, "cannot look up " + serial + " in DB: " + error);
        else if (!found && !other && !attempted)
            Fail(device, serial + " has no PASS record in DB");
        else if (!found && other)
            Fail(device, serial + "'s PASS record in DB is of another image: digest " +
                             other->substr(0, DigestShown) + "..., the device's " +
                             digest.substr(0, DigestShown) + "...");
    }
}

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
            differences.push_back({SerialNumberField, device.FixedSerial, std::move(wants)});
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
    report.Read = station.ParseEach(shown, [&](const device::DeviceOutcome& outcome,
                                               const Template& decoded, const DeviceWords* read) {
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
        if (read) TakeWords(shown, *read, outcome.Passed, device);
        report.Devices.push_back(device);
        return true;
    });
    // Without a serial number on the bus, two devices may well hold the same one.
    if (!shown.DisableSerialNumber) {
        AuditRepeatedSerials(report.Devices);
        if (request.Records) AuditRecords(*request.Records, report.Devices);
    }
    for (const VerifiedDevice& device : report.Devices)
        if (request.Observe && !request.Observe(device)) break;
    return report;
}

} // namespace burnwise::app
