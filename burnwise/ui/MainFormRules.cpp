#include "burnwise/codec/ChipModels.h"
#include "burnwise/ui/MainForm.h"

#include <algorithm>
#include <cctype>

namespace burnwise::ui {

using codec::ChipType;

std::optional<long> ParseStrictDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 0x80000000L) return std::nullopt;
    }
    if (!negative && value > 0x7FFFFFFFL) return std::nullopt;
    return negative ? -value : value;
}

// ---- Field rules --------------------------------------------------------------------------

void TMainForm::CommonChange(bool saveAsOn, bool eraseOff, bool editCaption) {
    if (!fileName_.empty()) SetActionEnabled(BWSave, true);
    if (saveAsOn) SetActionEnabled(BWSaveAs, true);
    SetActionEnabled(BWProgram, false);
    if (eraseOff) SetActionEnabled(BWErase, false);
    if (editCaption) SetCaption(EditModeCaption);
}

void TMainForm::VendorIdCheck() {
    if (Edit1.Text != "0000") return;
    ShowInformation("All zeros is an invalid VID");
    SetText(Edit1, "3C5A");
}

void TMainForm::CurrentCheck() {
    if (Edit9.Text.empty()) return;
    const auto current = ParseStrictDecimal(Edit9.Text);
    if (!current) {
        ShowError("'" + Edit9.Text + "' is not a valid integer value");
        return;
    }
    if (*current > 500) {
        ShowInformation("Max current exceeded - setting to 500mA");
        SetText(Edit9, "500");
    }
}

void TMainForm::DisableAllFields() {
    // Power, serial, wake-up, Plug and Play, KR2 options and strings.
    EnableAll({&RB1,       &RB2,        &Edit9,   &Label8,    &Label9,    &Label5, &Edit5,
               &CheckBox5, &Label6,     &Edit6,   &CheckBox1, &CheckBox3, &Label3, &CB3,
               &CheckBox8, &CheckBox11, &Label12, &Edit10,    &Label11,   &Edit11},
              false);
    // Basic.
    EnableAll({&Label13, &CB1, &Label14, &CB2, &Label1, &Edit1, &Label2, &Edit2, &CheckBox6},
              false);
    // Dual-channel options.
    SetVisible(GB10, false);
    EnableAll(
        {&RB3, &RB4, &RB5, &RB6, &RB7, &RB8, &RB9, &RB10, &RB11, &RB12, &RB13, &RB14, &CB4, &CB5},
        false);
    // KR4 options.
    SetVisible(GB11, false);
    EnableAll({&CB6, &CB7, &CB8, &CB9, &CB10, &CB11, &CB12, &CB13, &CB15, &CB16, &CB17, &CBX1,
               &CBX2, &CBX3, &CBX4, &CBX5},
              false);
    SelectPage(0);
}

void TMainForm::ApplyDeviceTypeRules() {
    state_.Selectors.Clear();
    DisableAllFields();
    EnableAll({&Label13, &CB1, &CheckBox6}, true);

    const int index = CB1.ItemIndex;
    if (index <= static_cast<int>(ChipType::None) ||
        index >= static_cast<int>(codec::ChipModels.size()))
        return;
    const codec::ChipModel& model = codec::ChipModels[static_cast<std::size_t>(index)];

    EnableAll({&Label1, &Edit1, &Label2, &Edit2, &Label14, &CB2}, true);
    switch (CB2.ItemIndex) {
    case 0: // Velquor Default
        SetText(Edit1, "3C5A");
        SetText(Edit2, model.Family == codec::ChipFamily::KR3 ? "71B0" : "71A0");
        host_.ProcessPendingEvents();
        EnableAll({&Label1, &Edit1, &Label2, &Edit2}, false);
        break;
    case 1: // Velquor Supplied PID
        SetText(Edit1, "3C5A");
        host_.ProcessPendingEvents();
        EnableAll({&Label1, &Edit1}, false);
        break;
    case 2: // Own VID & PID
        host_.ProcessPendingEvents();
        break;
    default:
        break;
    }

    const ChipType type = model.Type;
    const bool kr1f = type == ChipType::KR1F;
    const bool kr4 = model.Family == codec::ChipFamily::KR4;

    // Power and strings for every model.
    EnableAll({&RB1, &RB2, &Edit9, &Label8, &Label9, &Label12, &Edit10, &Label11, &Edit11}, true);
    // Serial: a prefix and a fixed serial number are never editable together.
    SetEnabled(CheckBox5, true);
    EnableAll({&Label6, &Edit6}, CheckBox5.Checked);
    EnableAll({&Label5, &Edit5}, !CheckBox5.Checked);
    if (!kr1f) SetEnabled(CheckBox1, true);
    if (type == ChipType::KR1S || type == ChipType::KR2S) SetEnabled(CheckBox3, true);

    switch (model.Family) {
    case codec::ChipFamily::KR2:
        EnableAll({&Label3, &CB3, &CheckBox8, &CheckBox11}, true);
        break;
    case codec::ChipFamily::KR3: {
        SetVisible(GB10, true);
        const bool cpuFifo = CB1.Text == "KR3E";
        SetVisible(RB5, cpuFifo);
        SetVisible(RB11, cpuFifo);
        EnableAll({&Label3, &CB3, &CheckBox8, &CheckBox11, &RB3, &RB4, &RB5, &RB6, &RB7, &RB8, &RB9,
                   &RB10, &RB11, &RB12, &RB13, &RB14, &CB4, &CB5},
                  true);
        SelectPage(0);
        break;
    }
    case codec::ChipFamily::KR4:
        SetVisible(GB11, true);
        if (type == ChipType::KR4S) {
            SetVisible(GB12, true);
            EnableAll({&Label3, &CB3,  &CheckBox3, &CheckBox8, &CheckBox11, &CB6,  &CB7,
                       &CB8,    &CB9,  &CB10,      &CB11,      &CB12,       &CB13, &CB15,
                       &CB16,   &CB17, &CBX1,      &CBX2,      &CBX3,       &CBX4, &CBX5},
                      true);
        } else {
            // The FIFO model has fixed pins and no RS232 signals to invert.
            SetVisible(GB12, false);
            EnableAll({&Label3, &CB3}, true);
            SetChecked(CheckBox3, false);
            SetEnabled(CheckBox3, false);
            EnableAll({&CheckBox8, &CheckBox11, &CB6, &CB7, &CB8, &CB9, &CB10, &CB11, &CB12, &CB13,
                       &CB15, &CB16, &CB17},
                      true);
            EnableAll({&CBX1, &CBX2, &CBX3, &CBX4, &CBX5}, false);
        }
        if (TabSheet2.Caption != model.ListText) {
            TabSheet2.Caption = std::string(model.ListText);
            Notify(TabSheet2.Name);
        }
        SelectPage(1);
        break;
    default:
        break;
    }

    state_.Selectors = model.Selectors;

    if (kr4) {
        // The KR4 family has no blank state to tell apart.
        SetEnabled(CheckBox6, false);
        SetChecked(CheckBox6, false);
    }
}

bool TMainForm::ValidateTemplate() {
    bool valid = true;
    const auto fail = [&](std::string_view line) {
        AppendLine(line);
        valid = false;
    };
    if (CheckBox5.Checked) {
        if (Edit6.Text.empty())
            fail("ERROR : If you want a fixed serial number you must provide one");
    } else if (Edit5.Text.empty()) {
        fail("ERROR : You must fill in the Serial Number Prefix field with 2 characters");
    }
    if (Edit10.Text.empty()) fail("ERROR : You must fill in Manufacturer Name");
    if (Edit11.Text.empty()) fail("ERROR : You must fill in Product Description");
    if (Edit9.Text.empty()) fail("ERROR : You must fill in current used from USB (0-500mA)");
    if (CB1.ItemIndex == static_cast<int>(ChipType::None))
        fail("ERROR : You must select a valid device type");
    return valid;
}

bool TMainForm::ValidateForProgram() {
    // An opened file has never been through the Save checks: a damaged or foreign file, or
    // the defaults of a cancelled Open, would otherwise burn every chip with nonsense.
    bool valid = ValidateTemplate();
    const auto isFourHex = [](std::string_view text) {
        return text.size() == 4 && std::all_of(text.begin(), text.end(), [](char c) {
                   return std::isxdigit(static_cast<unsigned char>(c)) != 0;
               });
    };
    if (!isFourHex(Edit1.Text)) {
        AppendLine("ERROR : The Vendor ID must be four hexadecimal digits");
        valid = false;
    } else if (Edit1.Text == "0000") {
        AppendLine("ERROR : All zeros is an invalid VID");
        valid = false;
    }
    if (!isFourHex(Edit2.Text)) {
        AppendLine("ERROR : The Product ID must be four hexadecimal digits");
        valid = false;
    }
    if (!valid) ShowError("The template cannot be programmed - nothing written to any device");
    return valid;
}

bool TMainForm::CheckStringTotal() {
    const std::size_t serial = CheckBox5.Checked ? Edit6.Text.size() : 8;
    const std::size_t total = Edit10.Text.size() + Edit5.Text.size() + Edit11.Text.size() + serial;
    if (total > MaxStringTotal) {
        AppendLine("ERROR - Total String Length exceeds maximum. - The total no of characters "
                   "for Manufacturer,  - Description and Serial Number has to be less - than " +
                   std::to_string(MaxStringTotal));
        return false;
    }
    ClearLines();
    return true;
}

} // namespace burnwise::ui
