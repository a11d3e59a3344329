#pragma once

#include "burnwise/app/ProfileFile.h"
#include "burnwise/app/Template.h"
#include "burnwise/codec/CodecState.h"
#include "burnwise/device/Reporter.h"
#include "burnwise/device/RunFlags.h"

#include <string_view>
#include <vector>

namespace burnwise::app {

// Longest total of manufacturer, prefix, product and serial number the image has room for.
inline constexpr std::size_t MaxStringTotal = 48;

// Where template values are put one field at a time. A text or flag that changes runs the
// field's rule (see FieldRule), exactly as a user's change would; choosing a list entry
// runs none. The window puts them into its controls; TemplateEditor into a Template.
class FieldSink {
public:
    virtual ~FieldSink() = default;
    virtual const Template& Current() = 0;
    virtual void SetText(const Field& field, std::string_view text) = 0;
    virtual void SetFlag(const Field& field, bool on) = 0;
    // An entry number outside the list leaves no entry chosen.
    virtual void SetIndex(const Field& field, int entry) = 0;
    virtual void SetModel(std::optional<codec::ChipType> model) = 0;
    // Lines and boxes the rules produce.
    virtual device::Reporter& Notes() = 0;
};

// Changes a Template as the window's controls would change, with the same rules, lines and
// boxes: what the command line, the station and the tests use in place of the window.
class TemplateEditor final : public FieldSink {
public:
    TemplateEditor(Template& edited, device::Reporter& notes) : t_(edited), notes_(notes) {}

    const Template& Current() override { return t_; }
    void SetText(const Field& field, std::string_view text) override;
    void SetFlag(const Field& field, bool on) override;
    void SetIndex(const Field& field, int entry) override;
    void SetModel(std::optional<codec::ChipType> model) override;
    device::Reporter& Notes() override { return notes_; }

private:
    Template& t_;
    device::Reporter& notes_;
};

// A Reporter that drops everything.
class SilentReporter final : public device::Reporter {
public:
    void AppendLine(std::string_view) override {}
    void ClearLines() override {}
    void ShowError(std::string_view) override {}
    void ShowInformation(std::string_view) override {}
};

// ---- The rules, shared by every sink ------------------------------------------------------

// Runs the value rule of `field` after its value changed.
void RunFieldRule(FieldSink& sink, const Field& field);
// The values the chosen model fixes: the maker's identifiers, and the options it lacks.
void ApplyModelValues(FieldSink& sink);
// The total-length check of the strings: a line when too long, else the lines are cleared.
bool CheckStringTotal(const Template& t, device::Reporter& notes);
// The checks made before a save: a line per problem.
bool ValidateTemplate(const Template& t, device::Reporter& notes);
// The checks made before programming: the save checks and identifiers of exactly four
// hexadecimal digits with a VID other than 0000. On false one error box has been shown.
bool ValidateForProgram(const Template& t, device::Reporter& notes);

// ---- Putting values in ---------------------------------------------------------------------

// The values of a new template, over whatever is shown; the lines are cleared after.
void ApplyNewTemplate(FieldSink& sink);
// The file's values, field after field in file order, as opening it does.
void ApplyFile(FieldSink& sink, const ProfileFile& file);
// A device's decoded record. Sets the prefix text of `settings` and the FIFO selector as
// the model shown needs.
void ApplyDecoded(FieldSink& sink, codec::EepromSettings& settings,
                  codec::FamilySelectors& selectors);
// The model and identifier kind of a parsed device.
void ApplyParsedDeviceType(FieldSink& sink, const codec::EepromSettings& settings,
                           const codec::FamilySelectors& selectors);

// The settings for the device with the 0-based number `deviceNumber` within a run, into
// the codec state's record; the serial-number switch into `flags` for the families that
// have one.
void GatherSettings(const Template& t, int deviceNumber, codec::CodecState& state,
                    device::RunFlags& flags);

// The template as a save would write it: one value per field, in file order.
struct TemplateValue {
    std::string_view Section;
    std::string_view Key;
    std::string Value;
    bool operator==(const TemplateValue&) const = default;
};
std::vector<TemplateValue> TemplateValues(const Template& t);

} // namespace burnwise::app
