#include "burnwise/app/TemplateEditor.h"

#include "burnwise/app/TemplateValueCheck.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

namespace burnwise::app {
namespace {

using codec::ChipType;

template <typename Member>
const Field& FieldOf(Member member) {
    for (const Field& field : Fields()) {
        if constexpr (std::is_same_v<Member, std::string Template::*>) {
            if (field.Text == member) return field;
        } else if constexpr (std::is_same_v<Member, bool Template::*>) {
            if (field.Flag == member) return field;
        } else {
            if (field.Index == member) return field;
        }
    }
    // Every member a rule names has its row; a missing one is a fault of the table.
    std::abort();
}

const Field& ModelField() {
    return Fields().front();
}

int ReadEntry(const std::optional<std::string>& value) {
    return value ? ParseTemplateInteger(*value).value_or(0) : 0;
}

} // namespace

// ---- TemplateEditor ----------------------------------------------------------------------------

void TemplateEditor::SetText(const Field& field, std::string_view text) {
    if (t_.*field.Text == text) return;
    t_.*field.Text = std::string(text);
    RunFieldRule(*this, field);
}

void TemplateEditor::SetFlag(const Field& field, bool on) {
    if (t_.*field.Flag == on) return;
    t_.*field.Flag = on;
    if (field.RadioGroup != 0) {
        if (!on) return; // a radio button's rule runs only when it becomes checked
        for (const Field& other : Fields())
            if (other.RadioGroup == field.RadioGroup && other.Flag != field.Flag)
                t_.*other.Flag = false;
    }
    RunFieldRule(*this, field);
}

void TemplateEditor::SetIndex(const Field& field, int entry) {
    t_.*field.Index = entry < 0 || entry >= field.Entries ? -1 : entry;
}

void TemplateEditor::SetModel(std::optional<ChipType> model) {
    const int entry = model ? static_cast<int>(*model) : -1;
    if (entry < 0 || entry >= ModelField().Entries)
        t_.Model.reset();
    else
        t_.Model = model;
}

// ---- The rules ------------------------------------------------------------------------------

void RunFieldRule(FieldSink& sink, const Field& field) {
    device::Reporter& notes = sink.Notes();
    switch (field.Rule) {
    case FieldRule::BusPower:
        sink.SetText(FieldOf(&Template::MaxBusPower), "100");
        break;
    case FieldRule::SelfPower:
        sink.SetText(FieldOf(&Template::MaxBusPower), "0");
        break;
    case FieldRule::SerialChoice:
        ApplyModelValues(sink);
        break;
    case FieldRule::VendorId:
        if (sink.Current().VendorId != "0000") break;
        notes.ShowInformation("All zeros is an invalid VID");
        sink.SetText(field, codec::NoModel.DefaultVid);
        break;
    case FieldRule::Current: {
        const std::string text = sink.Current().MaxBusPower;
        if (text.empty()) break;
        const auto current = ParseStrictDecimal(text);
        if (!current) {
            notes.ShowError("'" + text + "' is not a valid integer value");
            break;
        }
        if (*current > 500) {
            notes.ShowInformation("Max current exceeded - setting to 500mA");
            sink.SetText(field, "500");
        }
        break;
    }
    case FieldRule::StringText:
        CheckStringTotal(sink.Current(), notes);
        break;
    default:
        break;
    }
}

void ApplyModelValues(FieldSink& sink) {
    const std::optional<ChipType> model = sink.Current().ChosenModel();
    if (!model) return;
    const codec::ChipModel& chip = codec::ChipModelOf(*model);
    switch (sink.Current().VidPidType) {
    case 0: // the maker's default identifiers
        sink.SetText(FieldOf(&Template::VendorId), chip.DefaultVid);
        sink.SetText(FieldOf(&Template::ProductId), chip.DefaultPid);
        break;
    case 1: // the maker's VID with a PID it supplied
        sink.SetText(FieldOf(&Template::VendorId), chip.DefaultVid);
        break;
    default:
        break;
    }
    // A model without the option has it off; the field is disabled too.
    const Field& plugAndPlay = FieldOf(&Template::PlugAndPlay);
    if (chip.Family == codec::ChipFamily::KR4 && !FieldEnabled(sink.Current(), plugAndPlay).value())
        sink.SetFlag(plugAndPlay, false);
    // A model without a blank state to tell apart programs every device it finds.
    if (!chip.Has(codec::BlankCheck)) sink.SetFlag(FieldOf(&Template::OnlyBlankDevices), false);
}

bool CheckStringTotal(const Template& t, device::Reporter& notes) {
    const std::size_t serial = t.UseFixedSerial ? t.FixedSerial.size() : 8;
    const std::size_t total =
        t.Manufacturer.size() + t.SerialPrefix.size() + t.Product.size() + serial;
    if (total > MaxStringTotal) {
        notes.AppendLine("ERROR - Total String Length exceeds maximum. - The total no of "
                         "characters for Manufacturer,  - Description and Serial Number has to "
                         "be less - than " +
                         std::to_string(MaxStringTotal));
        return false;
    }
    notes.ClearLines();
    return true;
}

bool ValidateTemplate(const Template& t, device::Reporter& notes) {
    bool valid = true;
    const auto fail = [&](std::string_view line) {
        notes.AppendLine(line);
        valid = false;
    };
    if (t.UseFixedSerial) {
        if (t.FixedSerial.empty())
            fail("ERROR : If you want a fixed serial number you must provide one");
    } else if (t.SerialPrefix.empty()) {
        fail("ERROR : You must fill in the Serial Number Prefix field with 2 characters");
    }
    if (t.Manufacturer.empty()) fail("ERROR : You must fill in Manufacturer Name");
    if (t.Product.empty()) fail("ERROR : You must fill in Product Description");
    if (t.MaxBusPower.empty()) fail("ERROR : You must fill in current used from USB (0-500mA)");
    if (t.Model == ChipType::None) fail("ERROR : You must select a valid device type");
    if (!CheckFieldValues(t, notes)) valid = false;
    return valid;
}

bool ValidateForProgram(const Template& t, device::Reporter& notes) {
    // An opened file has never been through the Save checks: a damaged or foreign file, or
    // the defaults of a cancelled Open, would otherwise burn every chip with nonsense.
    bool valid = ValidateTemplate(t, notes);
    const auto isFourHex = [](std::string_view text) {
        return text.size() == 4 && std::all_of(text.begin(), text.end(), [](char c) {
                   return std::isxdigit(static_cast<unsigned char>(c)) != 0;
               });
    };
    if (!isFourHex(t.VendorId)) {
        notes.AppendLine("ERROR : The Vendor ID must be four hexadecimal digits");
        valid = false;
    } else if (t.VendorId == "0000") {
        notes.AppendLine("ERROR : All zeros is an invalid VID");
        valid = false;
    }
    if (!isFourHex(t.ProductId)) {
        notes.AppendLine("ERROR : The Product ID must be four hexadecimal digits");
        valid = false;
    }
    if (!valid)
        notes.ShowError("The template cannot be programmed - nothing written to any device");
    return valid;
}

// ---- Putting values in ------------------------------------------------------------------------

void ApplyNewTemplate(FieldSink& sink) {
    using T = Template;
    sink.SetModel(ChipType::None);
    sink.SetIndex(FieldOf(&T::VidPidType), 0);
    sink.SetIndex(FieldOf(&T::UsbVersion), 1);
    const std::pair<std::string T::*, std::string_view> texts[] = {
        {&T::VendorId, codec::NoModel.DefaultVid},
        {&T::ProductId, codec::NoModel.DefaultPid},
        {&T::MaxBusPower, "100"},
        {&T::SerialPrefix, "VQ"},
        {&T::FixedSerial, "12345678"},
        {&T::Manufacturer, "Velquor"},
        {&T::Product, "USB <-> Serial Cable"}};
    for (const auto& [member, text] : texts)
        sink.SetText(FieldOf(member), text);
    const std::pair<bool T::*, bool> flags[] = {
        {&T::BusPowered, true},         {&T::DisableSerialNumber, false},
        {&T::PullDownInSuspend, false}, {&T::UseFixedSerial, false},
        {&T::RemoteWakeup, false},      {&T::PlugAndPlay, true},
        {&T::OnlyBlankDevices, true}};
    for (const auto& [member, on] : flags)
        sink.SetFlag(FieldOf(member), on);
}

void ApplyFile(FieldSink& sink, const ProfileFile& file) {
    for (const Field& field : Fields()) {
        if (field.Store != FieldStore::Always) continue;
        const std::optional<std::string> value = file.Read(field.Section, field.Key);
        switch (field.Kind) {
        case FieldKind::Model:
            sink.SetModel(static_cast<ChipType>(ReadEntry(value)));
            break;
        case FieldKind::Index:
            sink.SetIndex(field, ReadEntry(value));
            break;
        case FieldKind::Flag:
            sink.SetFlag(field, ReadEntry(value) != 0);
            break;
        case FieldKind::Text:
            sink.SetText(field, value.value_or(std::string()));
            break;
        }
    }
    // Files written before such a field had its key open as they always did.
    for (const Field& field : Fields())
        if (field.Store == FieldStore::WhenSet)
            if (const std::optional<std::string> value = file.Read(field.Section, field.Key))
                if (ReadEntry(value) != 0) sink.SetFlag(field, true);
}

void ApplyDecoded(FieldSink& sink, codec::EepromSettings& settings,
                  codec::FamilySelectors& selectors) {
    Decoding decoding{settings, selectors};
    for (const Field& field : Fields())
        if (field.Take) field.Take(sink, field, decoding);
}

void ApplyParsedDeviceType(FieldSink& sink, const codec::EepromSettings& settings,
                           const codec::FamilySelectors& selectors) {
    ChipType type = ChipType::KR4S;
    if (settings.Kr3Present)
        type = ChipType::KR3D;
    else if (settings.Kr2Present)
        type = ChipType::KR2S;
    else if (!settings.Kr4Present)
        type = ChipType::KR1S;
    else if (selectors.Kr4FifoSelected)
        type = ChipType::KR4F;
    sink.SetModel(type);

    const Field& kind = FieldOf(&Template::VidPidType);
    const codec::ChipModel& chip = codec::ChipModelOf(type);
    if (Hex4(settings.VendorId) == chip.DefaultVid) {
        sink.SetIndex(kind, 1);
        if (Hex4(settings.ProductId) == chip.DefaultPid) sink.SetIndex(kind, 0);
    } else {
        sink.SetIndex(kind, 2);
        sink.SetText(FieldOf(&Template::VendorId), Hex4(settings.VendorId));
        sink.SetText(FieldOf(&Template::ProductId), Hex4(settings.ProductId));
    }
}

// ---- Gathering --------------------------------------------------------------------------------

void GatherSettings(const Template& t, int deviceNumber, codec::CodecState& state,
                    device::RunFlags& flags) {
    codec::EepromSettings& s = state.Settings;
    s.Reset();
    const std::optional<ChipType> model = t.ChosenModel();
    const codec::ChipFamily family =
        model ? codec::ChipModelOf(*model).Family : codec::ChipFamily::None;
    Gathering gathering{s, family, model, deviceNumber};
    for (const Field& field : Fields())
        if (field.Feed) field.Feed(t, field, gathering);

    const Field& serialOff = FieldOf(&Template::DisableSerialNumber);
    const bool off = FieldEnabled(t, serialOff).value_or(true) && t.DisableSerialNumber;
    switch (family) {
    case codec::ChipFamily::KR2:
        s.Kr2Present = 1;
        s.Kr2UsbVersionEnable = 1;
        flags.SerialNumberDisabled = off;
        break;
    case codec::ChipFamily::KR3:
        s.Kr3Present = 1;
        s.Kr3UsbVersionEnable = 0;
        flags.SerialNumberDisabled = off;
        break;
    case codec::ChipFamily::KR4:
        s.Kr4Present = 1;
        s.Kr4IsFifo = model == ChipType::KR4F;
        flags.SerialNumberDisabled = off;
        break;
    default:
        break;
    }
}

std::vector<TemplateValue> TemplateValues(const Template& t) {
    std::vector<TemplateValue> values;
    for (const Field& field : Fields())
        if (field.Store == FieldStore::Always)
            values.push_back({field.Section, field.Key, FieldText(t, field)});
    return values;
}

} // namespace burnwise::app
