#include "burnwise/app/Template.h"

#include "burnwise/codec/NumberReaders.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace burnwise::app {
namespace {

using codec::ChipFamily;
using codec::ChipType;
using K = FieldKind;
using R = FieldRule;

constexpr ModelSet Of(std::initializer_list<ChipType> types) {
    ModelSet set = 0;
    for (const ChipType type : types)
        set = static_cast<ModelSet>(set | ModelBit(type));
    return set;
}

constexpr ModelSet Every = Of({ChipType::KR1S, ChipType::KR1F, ChipType::KR2S, ChipType::KR2F,
                               ChipType::KR3D, ChipType::KR4S, ChipType::KR4F, ChipType::KR3E});
constexpr ModelSet NotKr1 = static_cast<ModelSet>(Every & ~Of({ChipType::KR1S, ChipType::KR1F}));
constexpr ModelSet Kr3 = Of({ChipType::KR3D, ChipType::KR3E});
constexpr ModelSet Kr4 = Of({ChipType::KR4S, ChipType::KR4F});
// No rule switches it.
constexpr ModelSet Unswitched = 0;

// ---- Feeding the settings of one device ----------------------------------------------------

bool Enabled(const Template& t, const Field& field) {
    return FieldEnabled(t, field).value_or(true);
}

template <auto Member, ChipFamily Family>
void FeedFlag(const Template& t, const Field& field, Gathering& g) {
    if (g.Family == Family) g.Settings.*Member = t.*field.Flag ? 1 : 0;
}

template <auto Member>
void FeedHex(const Template& t, const Field& field, Gathering& g) {
    g.Settings.*Member = static_cast<std::uint16_t>(codec::ReadHexadecimal(t.*field.Text));
}

template <auto Member>
void FeedText(const Template& t, const Field& field, Gathering& g) {
    // Each buffer holds 63 characters and its zero; a longer text is cut.
    codec::SetText(g.Settings.*Member, t.*field.Text);
}

// A box the window disables for the model counts as unchecked.
template <auto Member>
void FeedFlagWhileEnabled(const Template& t, const Field& field, Gathering& g) {
    g.Settings.*Member = Enabled(t, field) && t.*field.Flag;
}

void FeedFixedSerial(const Template& t, const Field& field, Gathering& g) {
    if (!t.UseFixedSerial) return;
    codec::SetText(g.Settings.SerialNumber, t.*field.Text);
    const std::size_t length = codec::TextOf(g.Settings.SerialNumber).size();
    if (length == 0) return;
    // Each device of a run advances the last character only, without carry.
    char& last = g.Settings.SerialNumber[length - 1];
    last =
        static_cast<char>(static_cast<unsigned char>(last) + static_cast<unsigned>(g.DeviceNumber));
}

void FeedPullDown(const Template& t, const Field& field, Gathering& g) {
    const codec::Bool8 on = Enabled(t, field) && t.*field.Flag;
    if (g.Family == ChipFamily::KR2) g.Settings.Kr2PullDownInSuspend = on;
    if (g.Family == ChipFamily::KR3) g.Settings.Kr3PullDownInSuspend = on;
    if (g.Family == ChipFamily::KR4) g.Settings.Kr4PullDownInSuspend = on;
}

void FeedSerialEnable(const Template& t, const Field& field, Gathering& g) {
    const codec::Bool8 on = !(Enabled(t, field) && t.*field.Flag);
    if (g.Family == ChipFamily::KR2) g.Settings.Kr2SerialNumberEnable = on;
    if (g.Family == ChipFamily::KR3) g.Settings.Kr3SerialNumberEnable = on;
    if (g.Family == ChipFamily::KR4) g.Settings.Kr4SerialNumberEnable = on;
}

void FeedUsbVersion(const Template& t, const Field& field, Gathering& g) {
    const std::uint16_t version = t.*field.Index == 1 ? 0x0200 : 0x0110;
    if (g.Family == ChipFamily::KR2) g.Settings.Kr2UsbVersion = version;
    if (g.Family == ChipFamily::KR3) g.Settings.Kr3UsbVersion = version;
}

// A pin list with no entry chosen programs the signal it shows, never the index -1.
template <auto Member, int NoEntry>
void FeedPin(const Template& t, const Field& field, Gathering& g) {
    if (g.Family != ChipFamily::KR4) return;
    const int entry = t.*field.Index;
    g.Settings.*Member = static_cast<std::uint8_t>(entry >= 0 ? entry : NoEntry);
}

constexpr std::array<std::uint8_t, 5> EndpointSizes{64, 32, 16, 8, 4};

void FeedEndpointSize(const Template& t, const Field& field, Gathering& g) {
    if (g.Family != ChipFamily::KR4) return;
    const int entry = t.*field.Index;
    g.Settings.InEndpointSize = entry >= 0 && entry < static_cast<int>(EndpointSizes.size())
                                    ? EndpointSizes[static_cast<std::size_t>(entry)]
                                    : 0;
}

void FeedCurrent(const Template& t, const Field& field, Gathering& g) {
    g.Settings.MaxPowerMilliAmps = static_cast<std::uint16_t>(codec::ReadDecimal(t.*field.Text));
}

void FeedSelfPowered(const Template& t, const Field& field, Gathering& g) {
    g.Settings.SelfPowered = t.*field.Flag;
}

using S = codec::EepromSettings;
constexpr ChipFamily F3 = ChipFamily::KR3;
constexpr ChipFamily F4 = ChipFamily::KR4;

constexpr std::string_view Basic = "Basic Details";
constexpr std::string_view Power = "USB Power Options";
constexpr std::string_view Serial = "USB Serial Number Control";
constexpr std::string_view Strings = "USB String Descriptors";
constexpr std::string_view Kr2Options = "KR2 Device Specific Options";
constexpr std::string_view SideA = "Dual Device Specific Options A";
constexpr std::string_view SideB = "Dual Device Specific Options B";
constexpr std::string_view DriverA = "Dual Device Driver Options A";
constexpr std::string_view DriverB = "Dual Device Driver Options B";
constexpr std::string_view Kr4Options = "KR4 Device Specific Options";

// Radio groups.
constexpr int PowerGroup = 1, SideAMode = 2, SideADriver = 3, SideBMode = 4, SideBDriver = 5;

using T = Template;

// One row per value of a template file, in file order.
const Field FieldTable[] = {
    {Basic, "Device Type", K::Model, "0", "CB1", Unswitched, R::None, 9},
    {Basic, "VID PID Type", K::Index, "0", "CB2", Every, R::None, 3, 0, {}, &T::VidPidType},
    {Basic,
     "USB VID",
     K::Text,
     "3C5A",
     "Edit1",
     Every,
     R::VendorId,
     0,
     0,
     {},
     {},
     {},
     &T::VendorId,
     FeedHex<&S::VendorId>},
    {Basic,
     "USB PID",
     K::Text,
     "71A0",
     "Edit2",
     Every,
     R::ProductId,
     0,
     0,
     {},
     {},
     {},
     &T::ProductId,
     FeedHex<&S::ProductId>},
    {Power,
     "Bus Powered",
     K::Flag,
     "1",
     "RB1",
     Every,
     R::BusPower,
     0,
     PowerGroup,
     {},
     {},
     &T::BusPowered},
    {Power,
     "Self Powered",
     K::Flag,
     "0",
     "RB2",
     Every,
     R::SelfPower,
     0,
     PowerGroup,
     {},
     {},
     &T::SelfPowered,
     {},
     FeedSelfPowered},
    {Power,
     "Max Bus Power",
     K::Text,
     "100",
     "Edit9",
     Every,
     R::Current,
     0,
     0,
     {},
     {},
     {},
     &T::MaxBusPower,
     FeedCurrent},
    {Serial,
     "Prefix",
     K::Text,
     "VQ",
     "Edit5",
     Every,
     R::StringText,
     0,
     0,
     {},
     {},
     {},
     &T::SerialPrefix,
     FeedText<&S::SerialPrefix>},
    {Serial,
     "Use Fixed Serial Number",
     K::Flag,
     "0",
     "CheckBox5",
     Every,
     R::SerialChoice,
     0,
     0,
     {},
     {},
     &T::UseFixedSerial},
    {Serial,
     "Fixed Serial Number",
     K::Text,
     "00000001",
     "Edit6",
     Every,
     R::StringText,
     0,
     0,
     {},
     {},
     {},
     &T::FixedSerial,
     FeedFixedSerial},
    {"USB Remote WakeUp",
     "Enable Remote WakeUp",
     K::Flag,
     "0",
     "CheckBox1",
     static_cast<ModelSet>(Every & ~ModelBit(ChipType::KR1F)),
     R::Option,
     0,
     0,
     {},
     {},
     &T::RemoteWakeup,
     {},
     FeedFlagWhileEnabled<&S::RemoteWakeup>},
    {"Windows Plug and Play",
     "Enable Plug and Play",
     K::Flag,
     "1",
     "CheckBox3",
     Of({ChipType::KR1S, ChipType::KR2S, ChipType::KR4S}),
     R::Option,
     0,
     0,
     {},
     {},
     &T::PlugAndPlay,
     {},
     FeedFlagWhileEnabled<&S::PlugAndPlay>},
    {Strings,
     "Manufacturer",
     K::Text,
     "Velquor",
     "Edit10",
     Every,
     R::StringText,
     0,
     0,
     {},
     {},
     {},
     &T::Manufacturer,
     FeedText<&S::Manufacturer>},
    {Strings,
     "Product",
     K::Text,
     "USB <-> Serial cable",
     "Edit11",
     Every,
     R::StringText,
     0,
     0,
     {},
     {},
     {},
     &T::Product,
     FeedText<&S::ProductDescription>},
    {"Programming Options",
     "Only Program Blank Devices",
     K::Flag,
     "1",
     "CheckBox6",
     Unswitched,
     R::BlankOnly,
     0,
     0,
     {},
     {},
     &T::OnlyBlankDevices},
    {Kr2Options,
     "USB Version Number",
     K::Index,
     "1",
     "CB3",
     NotKr1,
     R::Option,
     2,
     0,
     {},
     &T::UsbVersion,
     {},
     {},
     FeedUsbVersion},
    {Kr2Options,
     "Disable Serial Number",
     K::Flag,
     "0",
     "CheckBox8",
     NotKr1,
     R::Option,
     0,
     0,
     {},
     {},
     &T::DisableSerialNumber,
     {},
     FeedSerialEnable},
    {Kr2Options,
     "IO Pin Pull Down in Suspend",
     K::Flag,
     "0",
     "CheckBox11",
     NotKr1,
     R::Option,
     0,
     0,
     {},
     {},
     &T::PullDownInSuspend,
     {},
     FeedPullDown},
    {SideA,
     "RS 232 mode",
     K::Flag,
     "1",
     "RB3",
     Kr3,
     R::Option,
     0,
     SideAMode,
     {},
     {},
     &T::SideARs232},
    {SideA,
     "KRF FIFO mode",
     K::Flag,
     "0",
     "RB4",
     Kr3,
     R::Option,
     0,
     SideAMode,
     {},
     {},
     &T::SideAFifo,
     {},
     FeedFlag<&S::SideAFifo, F3>},
    {SideA,
     "KRF CPU FIFO mode",
     K::Flag,
     "0",
     "RB5",
     Kr3,
     R::Option,
     0,
     SideAMode,
     {},
     {},
     &T::SideACpuFifo,
     {},
     FeedFlag<&S::SideACpuFifo, F3>},
    // Templates have always kept side A's driver choice under this key; side A's OPTO
    // Isolate choice has a key of its own (the WhenSet row at the end).
    {SideA,
     "OPTO Isolate mode",
     K::Flag,
     "1",
     "RB7",
     Kr3,
     R::Option,
     0,
     SideADriver,
     {},
     {},
     &T::SideAVirtualComPort},
    {SideA,
     "High Current Drive",
     K::Flag,
     "0",
     "CB4",
     Kr3,
     R::Option,
     0,
     0,
     {},
     {},
     &T::SideAHighCurrent,
     {},
     FeedFlag<&S::SideAHighCurrent, F3>},
    {SideB,
     "RS 232 mode",
     K::Flag,
     "1",
     "RB9",
     Kr3,
     R::Option,
     0,
     SideBMode,
     {},
     {},
     &T::SideBRs232},
    {SideB,
     "KRF FIFO mode",
     K::Flag,
     "0",
     "RB10",
     Kr3,
     R::Option,
     0,
     SideBMode,
     {},
     {},
     &T::SideBFifo,
     {},
     FeedFlag<&S::SideBFifo, F3>},
    {SideB,
     "KRF CPU FIFO mode",
     K::Flag,
     "0",
     "RB11",
     Kr3,
     R::Option,
     0,
     SideBMode,
     {},
     {},
     &T::SideBCpuFifo,
     {},
     FeedFlag<&S::SideBCpuFifo, F3>},
    {SideB,
     "OPTO Isolate mode",
     K::Flag,
     "0",
     "RB12",
     Kr3,
     R::Option,
     0,
     SideBMode,
     {},
     {},
     &T::SideBOptoIsolate,
     {},
     FeedFlag<&S::SideBOptoIsolate, F3>},
    {SideB,
     "High Current Drive",
     K::Flag,
     "0",
     "CB5",
     Kr3,
     R::Option,
     0,
     0,
     {},
     {},
     &T::SideBHighCurrent,
     {},
     FeedFlag<&S::SideBHighCurrent, F3>},
    {DriverA,
     "Virtual Com Port Driver",
     K::Flag,
     "1",
     "RB7",
     Kr3,
     R::Option,
     0,
     SideADriver,
     {},
     {},
     &T::SideAVirtualComPort,
     {},
     FeedFlag<&S::SideAVirtualComPort, F3>},
    {DriverA,
     "Pipex Driver",
     K::Flag,
     "0",
     "RB8",
     Kr3,
     R::Option,
     0,
     SideADriver,
     {},
     {},
     &T::SideAPipexDirect},
    {DriverB,
     "Virtual Com Port Driver",
     K::Flag,
     "1",
     "RB13",
     Kr3,
     R::Option,
     0,
     SideBDriver,
     {},
     {},
     &T::SideBVirtualComPort,
     {},
     FeedFlag<&S::SideBVirtualComPort, F3>},
    {DriverB,
     "Pipex Driver",
     K::Flag,
     "0",
     "RB14",
     Kr3,
     R::Option,
     0,
     SideBDriver,
     {},
     {},
     &T::SideBPipexDirect},
    {Kr4Options,
     "Invert TXD",
     K::Flag,
     "0",
     "CB6",
     Kr4,
     R::Option,
     0,
     0,
     {},
     {},
     &T::InvertTxd,
     {},
     FeedFlag<&S::InvertTxd, F4>},
    {Kr4Options,
     "Invert RXD",
     K::Flag,
     "0",
     "CB7",
     Kr4,
     R::Option,
     0,
     0,
     {},
     {},
     &T::InvertRxd,
     {},
     FeedFlag<&S::InvertRxd, F4>},
    {Kr4Options,
     "Invert RTS#",
     K::Flag,
     "0",
     "CB8",
     Kr4,
     R::Option,
     0,
     0,
     {},
     {},
     &T::InvertRts,
     {},
     FeedFlag<&S::InvertRts, F4>},
    {Kr4Options,
     "Invert CTS#",
     K::Flag,
     "0",
     "CB9",
     Kr4,
     R::Option,
     0,
     0,
     {},
     {},
     &T::InvertCts,
     {},
     FeedFlag<&S::InvertCts, F4>},
    {Kr4Options,
     "Invert DTR#",
     K::Flag,
     "0",
     "CB10",
     Kr4,
     R::Option,
     0,
     0,
     {},
     {},
     &T::InvertDtr,
     {},
     FeedFlag<&S::InvertDtr, F4>},
    {Kr4Options,
     "Invert DSR#",
     K::Flag,
     "0",
     "CB11",
     Kr4,
     R::Option,
     0,
     0,
     {},
     {},
     &T::InvertDsr,
     {},
     FeedFlag<&S::InvertDsr, F4>},
    {Kr4Options,
     "Invert DCD#",
     K::Flag,
     "0",
     "CB12",
     Kr4,
     R::Option,
     0,
     0,
     {},
     {},
     &T::InvertDcd,
     {},
     FeedFlag<&S::InvertDcd, F4>},
    {Kr4Options,
     "Invert RI#",
     K::Flag,
     "0",
     "CB13",
     Kr4,
     R::Option,
     0,
     0,
     {},
     {},
     &T::InvertRi,
     {},
     FeedFlag<&S::InvertRi, F4>},
    // A pin list without an entry shows, and programs, its pin's default signal.
    {Kr4Options,
     "C0 Signal",
     K::Index,
     "-1",
     "CBX1",
     ModelBit(ChipType::KR4S),
     R::Option,
     14,
     0,
     {},
     &T::C0Signal,
     {},
     {},
     FeedPin<&S::C0Signal, 0>},
    {Kr4Options,
     "C1 Signal",
     K::Index,
     "-1",
     "CBX2",
     ModelBit(ChipType::KR4S),
     R::Option,
     14,
     0,
     {},
     &T::C1Signal,
     {},
     {},
     FeedPin<&S::C1Signal, 3>},
    {Kr4Options,
     "C2 Signal",
     K::Index,
     "-1",
     "CBX3",
     ModelBit(ChipType::KR4S),
     R::Option,
     14,
     0,
     {},
     &T::C2Signal,
     {},
     {},
     FeedPin<&S::C2Signal, 2>},
    {Kr4Options,
     "C3 Signal",
     K::Index,
     "-1",
     "CBX4",
     ModelBit(ChipType::KR4S),
     R::Option,
     14,
     0,
     {},
     &T::C3Signal,
     {},
     {},
     FeedPin<&S::C3Signal, 1>},
    {Kr4Options,
     "C4 Signal",
     K::Index,
     "-1",
     "CBX5",
     ModelBit(ChipType::KR4S),
     R::Option,
     10,
     0,
     {},
     &T::C4Signal,
     {},
     {},
     FeedPin<&S::C4Signal, 5>},
    {Kr4Options,
     "Enable Ext Osc",
     K::Flag,
     "0",
     "CB15",
     Kr4,
     R::Option,
     0,
     0,
     {},
     {},
     &T::ExternalOscillator,
     {},
     FeedFlag<&S::Kr4ExternalOscillator, F4>},
    {Kr4Options,
     "High Current I/O",
     K::Flag,
     "0",
     "CB16",
     Kr4,
     R::Option,
     0,
     0,
     {},
     {},
     &T::HighCurrentIo,
     {},
     FeedFlag<&S::Kr4HighCurrentIo, F4>},
    {Kr4Options,
     "Load Pipex Driver",
     K::Flag,
     "0",
     "CB17",
     Kr4,
     R::Option,
     0,
     0,
     {},
     {},
     &T::LoadPipexDriver,
     {},
     FeedFlag<&S::Kr4LoadPipexDriver, F4>},
    {Kr4Options,
     "In EndPoint Size",
     K::Index,
     "0",
     "CBX6",
     Unswitched,
     R::Option,
     5,
     0,
     {},
     &T::InEndpointSize,
     {},
     {},
     FeedEndpointSize},
    {SideA,
     "Side A OPTO Isolate mode",
     K::Flag,
     "0",
     "RB6",
     Kr3,
     R::Option,
     0,
     SideAMode,
     FieldStore::WhenSet,
     {},
     &T::SideAOptoIsolate,
     {},
     FeedFlag<&S::SideAOptoIsolate, F3>},
};

constexpr ModelBehaviour Behaviours[] = {
    // Type, erasable, two channels, CPU FIFO, blank check, identity test, pins
    {ChipType::None, true, false, false, true, false, false},
    {ChipType::KR1S, true, false, false, true, false, false},
    {ChipType::KR1F, true, false, false, true, false, false},
    {ChipType::KR2S, true, false, false, true, false, false},
    {ChipType::KR2F, true, false, false, true, false, false},
    {ChipType::KR3D, true, true, false, true, false, false},
    {ChipType::KR4S, false, false, false, false, true, true},
    {ChipType::KR4F, false, false, false, false, true, false},
    {ChipType::KR3E, true, true, true, true, false, false},
};

} // namespace

std::optional<int> ParseTemplateInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::uint64_t value = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        for (const char c : text) {
            int digit = -1;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            if (digit < 0) return std::nullopt;
            value = value * 16 + static_cast<unsigned>(digit);
            if (value > 0xFFFFFFFFu) return std::nullopt;
        }
        // Hexadecimal fills all 32 bits: 0xFFFFFFFF is -1.
        const auto bits = static_cast<std::uint32_t>(negative ? (0u - value) : value);
        return static_cast<int>(static_cast<std::int32_t>(bits));
    }
    if (text.empty()) return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 0x80000000u) return std::nullopt;
    }
    if (!negative && value > 0x7FFFFFFFu) return std::nullopt;
    return static_cast<int>(negative ? -static_cast<std::int64_t>(value)
                                     : static_cast<std::int64_t>(value));
}

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

std::span<const Field> Fields() {
    return FieldTable;
}

Template Template::Start() {
    Template t;
    for (const Field& field : Fields()) {
        const int number = ParseTemplateInteger(field.Default).value_or(0);
        switch (field.Kind) {
        case FieldKind::Model:
            t.Model = static_cast<ChipType>(number);
            break;
        case FieldKind::Index:
            t.*field.Index = number;
            break;
        case FieldKind::Flag:
            t.*field.Flag = number != 0;
            break;
        case FieldKind::Text:
            t.*field.Text = std::string(field.Default);
            break;
        }
    }
    return t;
}

std::optional<ChipType> Template::ChosenModel() const {
    if (!Model || *Model == ChipType::None) return std::nullopt;
    return Model;
}

const Field* FindField(std::string_view section, std::string_view key) {
    for (const Field& field : Fields())
        if (field.Section == section && field.Key == key && field.Store == FieldStore::Always)
            return &field;
    return nullptr;
}

const Field* FieldOfControl(std::string_view control) {
    for (const Field& field : Fields())
        if (field.Control == control) return &field;
    return nullptr;
}

std::string FieldText(const Template& t, const Field& field) {
    switch (field.Kind) {
    case FieldKind::Model:
        return std::to_string(t.Model ? static_cast<int>(*t.Model) : -1);
    case FieldKind::Index:
        return std::to_string(t.*field.Index);
    case FieldKind::Flag:
        return t.*field.Flag ? "1" : "0";
    case FieldKind::Text:
        return t.*field.Text;
    }
    return {};
}

std::optional<bool> FieldEnabled(const Template& t, const Field& field) {
    if (field.Models == Unswitched) return std::nullopt;
    const std::optional<ChipType> model = t.ChosenModel();
    if (!model || (field.Models & ModelBit(*model)) == 0) return false;
    // The identifiers the maker supplies are not typed in.
    if (field.Text == &Template::VendorId) return t.VidPidType != 0 && t.VidPidType != 1;
    if (field.Text == &Template::ProductId) return t.VidPidType != 0;
    // A prefix and a fixed serial number are never editable together.
    if (field.Text == &Template::FixedSerial) return t.UseFixedSerial;
    if (field.Text == &Template::SerialPrefix) return !t.UseFixedSerial;
    return true;
}

const ModelBehaviour& BehaviourOf(std::optional<ChipType> model) {
    const auto type = static_cast<std::size_t>(model.value_or(ChipType::None));
    return Behaviours[type < std::size(Behaviours) ? type : 0];
}

} // namespace burnwise::app
