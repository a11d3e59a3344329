#include "burnwise/codec/ChipModels.h"
#include "burnwise/codec/NumberReaders.h"
#include "burnwise/ui/MainForm.h"

#include <algorithm>
#include <cstdio>

namespace burnwise::ui {
namespace {

using codec::ChipType;

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
    return text;
}

} // namespace

// ---- Gathering and showing settings ---------------------------------------------------

void TMainForm::GatherSettings(int deviceNumber) {
    using codec::Bool8;
    codec::EepromSettings& s = state_.Settings;
    const codec::FamilySelectors& selectors = state_.Selectors;
    s.Reset();

    const auto on = [](const CheckControl& box) { return box.Checked; };
    const auto onWhileEnabled = [](const CheckControl& box) { return box.Enabled && box.Checked; };

    s.VendorId = static_cast<std::uint16_t>(codec::ReadHexadecimal(Edit1.Text));
    s.ProductId = static_cast<std::uint16_t>(codec::ReadHexadecimal(Edit2.Text));
    // Each buffer holds 63 characters and its zero; a longer text is cut.
    codec::SetText(s.Manufacturer, Edit10.Text);
    codec::SetText(s.SerialPrefix, Edit5.Text);
    codec::SetText(s.ProductDescription, Edit11.Text);
    if (CheckBox5.Checked) {
        codec::SetText(s.SerialNumber, Edit6.Text);
        const std::size_t length = codec::TextOf(s.SerialNumber).size();
        if (length > 0) {
            // Each device of a run advances the last character only, without carry.
            char& last = s.SerialNumber[length - 1];
            last = static_cast<char>(static_cast<unsigned char>(last) +
                                     static_cast<unsigned>(deviceNumber));
        }
    }
    s.MaxPowerMilliAmps = static_cast<std::uint16_t>(codec::ReadDecimal(Edit9.Text));
    s.PlugAndPlay = onWhileEnabled(CheckBox3);
    s.SelfPowered = on(RB2);
    s.RemoteWakeup = onWhileEnabled(CheckBox1);

    const Bool8 pullDown = onWhileEnabled(CheckBox11);
    const bool serialOff = onWhileEnabled(CheckBox8);
    const std::uint16_t usbVersion =
        static_cast<std::uint16_t>(codec::ReadHexadecimal(CB3.Text == "USB 2.0" ? "0200" : "0110"));

    if (selectors.Kr2Selected) {
        s.Kr2Present = 1;
        s.Kr2PullDownInSuspend = pullDown;
        s.Kr2SerialNumberEnable = !serialOff;
        s.Kr2UsbVersionEnable = 1;
        s.Kr2UsbVersion = usbVersion;
        flags_.SerialNumberDisabled = serialOff;
    } else if (selectors.Kr3Selected) {
        s.Kr3Present = 1;
        s.Kr3PullDownInSuspend = pullDown;
        s.Kr3SerialNumberEnable = !serialOff;
        s.Kr3UsbVersionEnable = 0;
        s.Kr3UsbVersion = usbVersion;
        s.SideAHighCurrent = on(CB4);
        s.SideBHighCurrent = on(CB5);
        s.SideAFifo = on(RB4);
        s.SideACpuFifo = on(RB5);
        s.SideAOptoIsolate = on(RB6);
        s.SideAVirtualComPort = on(RB7);
        s.SideBFifo = on(RB10);
        s.SideBCpuFifo = on(RB11);
        s.SideBOptoIsolate = on(RB12);
        s.SideBVirtualComPort = on(RB13);
        flags_.SerialNumberDisabled = serialOff;
    } else if (selectors.Kr4Selected) {
        s.Kr4Present = 1;
        s.Kr4PullDownInSuspend = pullDown;
        s.Kr4SerialNumberEnable = !serialOff;
        s.Kr4IsFifo = CB1.Text == "KR4F";
        s.Kr4HighCurrentIo = on(CB16);
        s.Kr4LoadPipexDriver = on(CB17);
        s.Kr4ExternalOscillator = on(CB15);
        s.InvertTxd = on(CB6);
        s.InvertRxd = on(CB7);
        s.InvertRts = on(CB8);
        s.InvertCts = on(CB9);
        s.InvertDtr = on(CB10);
        s.InvertDsr = on(CB11);
        s.InvertDcd = on(CB12);
        s.InvertRi = on(CB13);
        s.InEndpointSize = static_cast<std::uint8_t>(codec::ReadDecimal(CBX6.Text));
        // A pin list with no entry chosen programs the signal it shows, never the
        // out-of-range index -1.
        const auto signal = [](const ListControl& list) {
            if (list.ItemIndex >= 0) return static_cast<std::uint8_t>(list.ItemIndex);
            const auto shown = std::find(list.Items.begin(), list.Items.end(), list.Text);
            return static_cast<std::uint8_t>(
                shown == list.Items.end() ? 0 : shown - list.Items.begin());
        };
        s.C0Signal = signal(CBX1);
        s.C1Signal = signal(CBX2);
        s.C2Signal = signal(CBX3);
        s.C3Signal = signal(CBX4);
        s.C4Signal = signal(CBX5);
        flags_.SerialNumberDisabled = serialOff;
    }
}

void TMainForm::PutIntoWindow(codec::EepromSettings& settings, codec::FamilySelectors& selectors) {
    using codec::TextOf;
    SetActionEnabled(BWSaveAs, true);
    SetActionEnabled(BWProgram, false);

    SetText(Edit1, Hex4(settings.VendorId));
    SetText(Edit2, Hex4(settings.ProductId));
    SetText(Edit10, TextOf(settings.Manufacturer));
    SetText(Edit11, TextOf(settings.ProductDescription));
    SetText(Edit6, TextOf(settings.SerialNumber));

    // The prefix shown is the first two characters of the serial number.
    if (settings.SerialPrefix.size() >= 2 && settings.SerialNumber.size() >= 2) {
        settings.SerialPrefix[0] = settings.SerialNumber[0];
        settings.SerialPrefix[1] = settings.SerialNumber[1];
    }
    SetText(Edit5, TextOf(settings.SerialPrefix));

    // The power buttons go first: checking one resets the current field, which must end
    // up showing the device's value.
    SetChecked(settings.SelfPowered != 0 ? RB2 : RB1, true);
    SetText(Edit9, std::to_string(settings.MaxPowerMilliAmps));
    SetChecked(CheckBox1, settings.RemoteWakeup != 0);
    SetChecked(CheckBox3, settings.PlugAndPlay != 0);

    ChooseEntry(CB1, static_cast<int>(ChipType::KR1S));

    const auto usbVersionEntry = [](std::uint16_t version) {
        return Hex4(version) == "0200" ? 1 : 0;
    };

    if (selectors.Kr2Selected) {
        SetChecked(CheckBox11, settings.Kr2PullDownInSuspend != 0);
        SetChecked(CheckBox8, settings.Kr2SerialNumberEnable == 0);
        flags_.SerialNumberDisabled = settings.Kr2SerialNumberEnable == 0;
        ChooseEntry(CB1, static_cast<int>(ChipType::KR2S));
        ChooseEntry(CB3, usbVersionEntry(settings.Kr2UsbVersion));
    }
    if (selectors.Kr3Selected) {
        ChooseEntry(CB1, static_cast<int>(ChipType::KR3D));
        ChooseEntry(CB3, usbVersionEntry(settings.Kr3UsbVersion));
        SetChecked(CheckBox11, settings.Kr3PullDownInSuspend != 0);
        SetChecked(CheckBox8, settings.Kr3SerialNumberEnable == 0);
        flags_.SerialNumberDisabled = settings.Kr3SerialNumberEnable == 0;
        SetChecked(CB4, settings.SideAHighCurrent != 0);
        SetChecked(CB5, settings.SideBHighCurrent != 0);
        SetChecked(RB3, true);
        if (settings.SideAFifo) SetChecked(RB4, true);
        if (settings.SideACpuFifo) SetChecked(RB5, true);
        if (settings.SideAOptoIsolate) SetChecked(RB6, true);
        SetChecked(settings.SideAVirtualComPort ? RB7 : RB8, true);
        SetChecked(RB9, true);
        if (settings.SideBFifo) SetChecked(RB10, true);
        if (settings.SideBCpuFifo) SetChecked(RB11, true);
        if (settings.SideBOptoIsolate) SetChecked(RB12, true);
        SetChecked(settings.SideBVirtualComPort ? RB13 : RB14, true);
    }
    if (selectors.Kr4Selected) {
        // Every option box follows the device, unchecked ones included, so nothing of the
        // template shown before is left behind.
        const std::pair<CheckControl*, codec::Bool8> inverts[] = {
            {&CB6, settings.InvertTxd},  {&CB7, settings.InvertRxd},  {&CB8, settings.InvertRts},
            {&CB9, settings.InvertCts},  {&CB10, settings.InvertDtr}, {&CB11, settings.InvertDsr},
            {&CB12, settings.InvertDcd}, {&CB13, settings.InvertRi}};
        for (const auto& [box, value] : inverts)
            SetChecked(*box, value != 0);
        if (settings.Kr4IsFifo) {
            ChooseEntry(CB1, static_cast<int>(ChipType::KR4F));
            selectors.Kr4FifoSelected = true;
            // The FIFO model's pins are fixed: C0 to C3 carry the FIFO signals, C4 PWRON#.
            for (ListControl* pin : {&CBX1, &CBX2, &CBX3, &CBX4})
                ChooseEntry(*pin, 13);
            ChooseEntry(CBX5, 1);
            settings.C0Signal = settings.C1Signal = settings.C2Signal = settings.C3Signal =
                settings.C4Signal = 0;
        } else {
            ChooseEntry(CB1, static_cast<int>(ChipType::KR4S));
            selectors.Kr4FifoSelected = false;
            ChooseEntry(CBX1, settings.C0Signal);
            ChooseEntry(CBX2, settings.C1Signal);
            ChooseEntry(CBX3, settings.C2Signal);
            ChooseEntry(CBX4, settings.C3Signal);
            ChooseEntry(CBX5, settings.C4Signal);
        }
        SetChecked(CB15, settings.Kr4ExternalOscillator != 0);
        SetChecked(CB16, settings.Kr4HighCurrentIo != 0);
        SetChecked(CB17, settings.Kr4LoadPipexDriver != 0);
        const std::string size = std::to_string(settings.InEndpointSize);
        const auto entry = std::find(CBX6.Items.begin(), CBX6.Items.end(), size);
        ChooseEntry(CBX6,
                    entry == CBX6.Items.end() ? -1 : static_cast<int>(entry - CBX6.Items.begin()));
    }
}

void TMainForm::ShowParsedDeviceType(const codec::EepromSettings& settings,
                                     const codec::FamilySelectors& selectors) {
    EnableAll({&CB1, &CB2, &Edit1, &Edit2}, true);

    ChipType type = ChipType::KR4S;
    if (settings.Kr3Present)
        type = ChipType::KR3D;
    else if (settings.Kr2Present)
        type = ChipType::KR2S;
    else if (!settings.Kr4Present)
        type = ChipType::KR1S;
    else if (selectors.Kr4FifoSelected)
        type = ChipType::KR4F;
    ChooseEntry(CB1, static_cast<int>(type));

    if (settings.VendorId == 0x3C5A) {
        ChooseEntry(CB2, 1);
        const std::uint16_t defaultPid = settings.Kr3Present ? 0x71B0 : 0x71A0;
        if (settings.ProductId == defaultPid) ChooseEntry(CB2, 0);
    } else {
        ChooseEntry(CB2, 2);
        SetText(Edit1, Hex4(settings.VendorId));
        SetText(Edit2, Hex4(settings.ProductId));
    }
    host_.ProcessPendingEvents();
    EnableAll({&CB1, &CB2, &Edit1, &Edit2}, false);
}

} // namespace burnwise::ui