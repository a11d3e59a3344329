#include "burnwise/app/Template.h"

#include "burnwise/app/TemplateEditor.h"
#include "burnwise/codec/NumberReaders.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace burnwise::app {
namespace {

using codec::ChipFamily;
using codec::ChipType;
using K = FieldKind;
using R = FieldRule;

// The models that can do all of `needs` (every model for nothing).
constexpr ModelSet With(codec::Capabilities needs) {
    ModelSet set = 0;
    for (const codec::ChipModel& model : codec::ChipModels)
        if (model.Type != ChipType::None && (model.Can & needs) == needs)
            set = static_cast<ModelSet>(set | ModelBit(model.Type));
    return set;
}

constexpr ModelSet Every = With(0);
constexpr ModelSet Optioned = With(codec::DeviceOptions);
constexpr ModelSet Dual = With(codec::TwoChannels);
constexpr ModelSet IoOptioned = With(codec::IoOptions);
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

// ---- Taking a decoded device back -----------------------------------------------------------

bool Decoded(const Decoding& d, ChipFamily family) {
    switch (family) {
    case ChipFamily::KR2:
        return d.Selectors.Kr2Selected;
    case ChipFamily::KR3:
        return d.Selectors.Kr3Selected;
    case ChipFamily::KR4:
        return d.Selectors.Kr4Selected;
    default:
        return false;
    }
}

const Field& FieldOfFlag(bool Template::*member);

// The last family decoded names the model; the KR4's factory FIFO bit tells its two apart.
void TakeModel(FieldSink& sink, const Field&, Decoding& d) {
    ChipType model = ChipType::KR1S;
    if (d.Selectors.Kr2Selected) model = ChipType::KR2S;
    if (d.Selectors.Kr3Selected) model = ChipType::KR3D;
    if (d.Selectors.Kr4Selected) {
        model = d.Settings.Kr4IsFifo ? ChipType::KR4F : ChipType::KR4S;
        d.Selectors.Kr4FifoSelected = d.Settings.Kr4IsFifo != 0;
    }
    sink.SetModel(model);
}

template <auto Member>
void TakeHex(FieldSink& sink, const Field& field, Decoding& d) {
    sink.SetText(field, Hex4(d.Settings.*Member));
}

template <auto Member>
void TakeText(FieldSink& sink, const Field& field, Decoding& d) {
    sink.SetText(field, codec::TextOf(d.Settings.*Member));
}

// The prefix shown is the first two characters of the serial number.
void TakePrefix(FieldSink& sink, const Field& field, Decoding& d) {
    codec::EepromSettings& s = d.Settings;
    if (s.SerialPrefix.size() >= 2 && s.SerialNumber.size() >= 2) {
        s.SerialPrefix[0] = s.SerialNumber[0];
        s.SerialPrefix[1] = s.SerialNumber[1];
    }
    sink.SetText(field, codec::TextOf(s.SerialPrefix));
}

// The power buttons go before the current: checking one resets it.
void TakePower(FieldSink& sink, const Field& field, Decoding& d) {
    sink.SetFlag(d.Settings.SelfPowered != 0 ? field : FieldOfFlag(&Template::BusPowered), true);
}

void TakeCurrent(FieldSink& sink, const Field& field, Decoding& d) {
    sink.SetText(field, std::to_string(d.Settings.MaxPowerMilliAmps));
}

template <auto Member>
void TakeFlag(FieldSink& sink, const Field& field, Decoding& d) {
    sink.SetFlag(field, d.Settings.*Member != 0);
}

// Every option of the family follows the device, unset ones included, so nothing of the
// template shown before is left behind.
template <auto Member, ChipFamily Family>
void TakeFamilyFlag(FieldSink& sink, const Field& field, Decoding& d) {
    if (Decoded(d, Family)) sink.SetFlag(field, d.Settings.*Member != 0);
}

// A side's mode buttons: RS232 unless a later mode the device has checks its own.
void TakeRs232(FieldSink& sink, const Field& field, Decoding& d) {
    if (Decoded(d, ChipFamily::KR3)) sink.SetFlag(field, true);
}

template <auto Member>
void TakeMode(FieldSink& sink, const Field& field, Decoding& d) {
    if (Decoded(d, ChipFamily::KR3) && d.Settings.*Member) sink.SetFlag(field, true);
}

template <auto Member, bool Template::*Otherwise>
void TakeDriver(FieldSink& sink, const Field& field, Decoding& d) {
    if (Decoded(d, ChipFamily::KR3))
        sink.SetFlag(d.Settings.*Member ? field : FieldOfFlag(Otherwise), true);
}

void TakeUsbVersion(FieldSink& sink, const Field& field, Decoding& d) {
    const auto entry = [](std::uint16_t version) { return version == 0x0200 ? 1 : 0; };
    if (d.Selectors.Kr2Selected) sink.SetIndex(field, entry(d.Settings.Kr2UsbVersion));
    if (d.Selectors.Kr3Selected) sink.SetIndex(field, entry(d.Settings.Kr3UsbVersion));
}

void TakeSerialDisabled(FieldSink& sink, const Field& field, Decoding& d) {
    if (d.Selectors.Kr2Selected) sink.SetFlag(field, d.Settings.Kr2SerialNumberEnable == 0);
    if (d.Selectors.Kr3Selected) sink.SetFlag(field, d.Settings.Kr3SerialNumberEnable == 0);
}

void TakePullDown(FieldSink& sink, const Field& field, Decoding& d) {
    if (d.Selectors.Kr2Selected) sink.SetFlag(field, d.Settings.Kr2PullDownInSuspend != 0);
    if (d.Selectors.Kr3Selected) sink.SetFlag(field, d.Settings.Kr3PullDownInSuspend != 0);
}

// The FIFO model's pins are fixed: C0 to C3 carry the FIFO signals, C4 PWRON#.
template <auto Member, int FifoEntry>
void TakePin(FieldSink& sink, const Field& field, Decoding& d) {
    if (!Decoded(d, ChipFamily::KR4)) return;
    if (d.Settings.Kr4IsFifo) {
        sink.SetIndex(field, FifoEntry);
        d.Settings.*Member = 0;
    } else {
        sink.SetIndex(field, d.Settings.*Member);
    }
}

void TakeEndpointSize(FieldSink& sink, const Field& field, Decoding& d) {
    if (!Decoded(d, ChipFamily::KR4)) return;
    const auto found =
        std::find(EndpointSizes.begin(), EndpointSizes.end(), d.Settings.InEndpointSize);
    sink.SetIndex(
        field, found == EndpointSizes.end() ? -1 : static_cast<int>(found - EndpointSizes.begin()));
}
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

// A row that also takes a decoded device's value back.
constexpr Field Both(Field field, FieldTake take) {
    field.Take = take;
    return field;
}

// The rows' shapes, by kind.
constexpr Field Model(std::string_view section, std::string_view key, std::string_view value,
                      std::string_view name, int entries) {
    return {section, key, K::Model, value, name, Unswitched, R::None, entries};
}

constexpr Field Entry(std::string_view section, std::string_view key, std::string_view value,
                      std::string_view name, ModelSet models, int entries, int T::*member,
                      FieldFeed feed = nullptr, FieldRule rule = R::Option) {
    return {section, key, K::Index,           value,  name,    models,  rule,
            entries, 0,   FieldStore::Always, member, nullptr, nullptr, feed};
}

constexpr Field Flag(std::string_view section, std::string_view key, std::string_view value,
                     std::string_view name, ModelSet models, FieldRule rule, int radioGroup,
                     bool T::*member, FieldFeed feed = nullptr,
                     FieldStore store = FieldStore::Always) {
    return {section, key,        K::Flag, value,   name,   models,  rule,
            0,       radioGroup, store,   nullptr, member, nullptr, feed};
}

constexpr Field Text(std::string_view section, std::string_view key, std::string_view value,
                     std::string_view name, FieldRule rule, std::string T::*member,
                     FieldFeed feed) {
    return {section, key,     K::Text, value, name, Every, rule, 0, 0, FieldStore::Always,
            nullptr, nullptr, member,  feed};
}

constexpr ModelSet Wakeup = With(codec::RemoteWakeup);
constexpr ModelSet PlugAndPlayModels = With(codec::PlugAndPlay);
constexpr ModelSet Pinned = With(codec::ConfigurablePins);
constexpr int Pins = 14;  // entries of the C0 to C3 lists
constexpr int PinC4 = 10; // entries of the C4 list

// One row per value of a template file, in file order.
const Field FieldTable[] = {
    Both(Model(Basic, "Device Type", "0", "Model", 9), TakeModel),
    Entry(Basic, "VID PID Type", "0", "VidPidType", Every, 3, &T::VidPidType, nullptr, R::None),
    Both(Text(Basic, "USB VID", codec::NoModel.DefaultVid, "VendorId", R::VendorId, &T::VendorId,
              FeedHex<&S::VendorId>),
         TakeHex<&S::VendorId>),
    Both(Text(Basic, "USB PID", codec::NoModel.DefaultPid, "ProductId", R::ProductId, &T::ProductId,
              FeedHex<&S::ProductId>),
         TakeHex<&S::ProductId>),
    Flag(Power, "Bus Powered", "1", "BusPowered", Every, R::BusPower, PowerGroup, &T::BusPowered),
    Both(Flag(Power, "Self Powered", "0", "SelfPowered", Every, R::SelfPower, PowerGroup,
              &T::SelfPowered, FeedSelfPowered),
         TakePower),
    Both(Text(Power, "Max Bus Power", "100", "MaxBusPower", R::Current, &T::MaxBusPower,
              FeedCurrent),
         TakeCurrent),
    Both(Text(Serial, "Prefix", "VQ", "SerialPrefix", R::StringText, &T::SerialPrefix,
              FeedText<&S::SerialPrefix>),
         TakePrefix),
    Flag(Serial, "Use Fixed Serial Number", "0", "UseFixedSerial", Every, R::SerialChoice, 0,
         &T::UseFixedSerial),
    Both(Text(Serial, "Fixed Serial Number", "00000001", "FixedSerial", R::StringText,
              &T::FixedSerial, FeedFixedSerial),
         TakeText<&S::SerialNumber>),
    Both(Flag("USB Remote WakeUp", "Enable Remote WakeUp", "0", "RemoteWakeup", Wakeup, R::Option,
              0, &T::RemoteWakeup, FeedFlagWhileEnabled<&S::RemoteWakeup>),
         TakeFlag<&S::RemoteWakeup>),
    Both(Flag("Windows Plug and Play", "Enable Plug and Play", "1", "PlugAndPlay",
              PlugAndPlayModels, R::Option, 0, &T::PlugAndPlay,
              FeedFlagWhileEnabled<&S::PlugAndPlay>),
         TakeFlag<&S::PlugAndPlay>),
    Both(Text(Strings, "Manufacturer", "Velquor", "Manufacturer", R::StringText, &T::Manufacturer,
              FeedText<&S::Manufacturer>),
         TakeText<&S::Manufacturer>),
    Both(Text(Strings, "Product", "USB <-> Serial cable", "Product", R::StringText, &T::Product,
              FeedText<&S::ProductDescription>),
         TakeText<&S::ProductDescription>),
    Flag("Programming Options", "Only Program Blank Devices", "1", "OnlyBlankDevices", Unswitched,
         R::BlankOnly, 0, &T::OnlyBlankDevices),
    Both(Entry(Kr2Options, "USB Version Number", "1", "UsbVersion", Optioned, 2, &T::UsbVersion,
               FeedUsbVersion),
         TakeUsbVersion),
    Both(Flag(Kr2Options, "Disable Serial Number", "0", "DisableSerialNumber", Optioned, R::Option,
              0, &T::DisableSerialNumber, FeedSerialEnable),
         TakeSerialDisabled),
    Both(Flag(Kr2Options, "IO Pin Pull Down in Suspend", "0", "PullDownInSuspend", Optioned,
              R::Option, 0, &T::PullDownInSuspend, FeedPullDown),
         TakePullDown),
    Both(Flag(SideA, "RS 232 mode", "1", "SideARs232", Dual, R::Option, SideAMode, &T::SideARs232),
         TakeRs232),
    Both(Flag(SideA, "KRF FIFO mode", "0", "SideAFifo", Dual, R::Option, SideAMode, &T::SideAFifo,
              FeedFlag<&S::SideAFifo, F3>),
         TakeMode<&S::SideAFifo>),
    Both(Flag(SideA, "KRF CPU FIFO mode", "0", "SideACpuFifo", Dual, R::Option, SideAMode,
              &T::SideACpuFifo, FeedFlag<&S::SideACpuFifo, F3>),
         TakeMode<&S::SideACpuFifo>),
    // Templates have always kept side A's driver choice under this key; side A's OPTO
    // Isolate choice has a key of its own (the last row).
    Flag(SideA, "OPTO Isolate mode", "1", "SideAVirtualComPort", Dual, R::Option, SideADriver,
         &T::SideAVirtualComPort),
    Both(Flag(SideA, "High Current Drive", "0", "SideAHighCurrent", Dual, R::Option, 0,
              &T::SideAHighCurrent, FeedFlag<&S::SideAHighCurrent, F3>),
         TakeFamilyFlag<&S::SideAHighCurrent, F3>),
    Both(Flag(SideB, "RS 232 mode", "1", "SideBRs232", Dual, R::Option, SideBMode, &T::SideBRs232),
         TakeRs232),
    Both(Flag(SideB, "KRF FIFO mode", "0", "SideBFifo", Dual, R::Option, SideBMode, &T::SideBFifo,
              FeedFlag<&S::SideBFifo, F3>),
         TakeMode<&S::SideBFifo>),
    Both(Flag(SideB, "KRF CPU FIFO mode", "0", "SideBCpuFifo", Dual, R::Option, SideBMode,
              &T::SideBCpuFifo, FeedFlag<&S::SideBCpuFifo, F3>),
         TakeMode<&S::SideBCpuFifo>),
    Both(Flag(SideB, "OPTO Isolate mode", "0", "SideBOptoIsolate", Dual, R::Option, SideBMode,
              &T::SideBOptoIsolate, FeedFlag<&S::SideBOptoIsolate, F3>),
         TakeMode<&S::SideBOptoIsolate>),
    Both(Flag(SideB, "High Current Drive", "0", "SideBHighCurrent", Dual, R::Option, 0,
              &T::SideBHighCurrent, FeedFlag<&S::SideBHighCurrent, F3>),
         TakeFamilyFlag<&S::SideBHighCurrent, F3>),
    Both(Flag(DriverA, "Virtual Com Port Driver", "1", "SideAVirtualComPort", Dual, R::Option,
              SideADriver, &T::SideAVirtualComPort, FeedFlag<&S::SideAVirtualComPort, F3>),
         TakeDriver<&S::SideAVirtualComPort, &T::SideAPipexDirect>),
    Flag(DriverA, "Pipex Driver", "0", "SideAPipexDirect", Dual, R::Option, SideADriver,
         &T::SideAPipexDirect),
    Both(Flag(DriverB, "Virtual Com Port Driver", "1", "SideBVirtualComPort", Dual, R::Option,
              SideBDriver, &T::SideBVirtualComPort, FeedFlag<&S::SideBVirtualComPort, F3>),
         TakeDriver<&S::SideBVirtualComPort, &T::SideBPipexDirect>),
    Flag(DriverB, "Pipex Driver", "0", "SideBPipexDirect", Dual, R::Option, SideBDriver,
         &T::SideBPipexDirect),
    Both(Flag(Kr4Options, "Invert TXD", "0", "InvertTxd", IoOptioned, R::Option, 0, &T::InvertTxd,
              FeedFlag<&S::InvertTxd, F4>),
         TakeFamilyFlag<&S::InvertTxd, F4>),
    Both(Flag(Kr4Options, "Invert RXD", "0", "InvertRxd", IoOptioned, R::Option, 0, &T::InvertRxd,
              FeedFlag<&S::InvertRxd, F4>),
         TakeFamilyFlag<&S::InvertRxd, F4>),
    Both(Flag(Kr4Options, "Invert RTS#", "0", "InvertRts", IoOptioned, R::Option, 0, &T::InvertRts,
              FeedFlag<&S::InvertRts, F4>),
         TakeFamilyFlag<&S::InvertRts, F4>),
    Both(Flag(Kr4Options, "Invert CTS#", "0", "InvertCts", IoOptioned, R::Option, 0, &T::InvertCts,
              FeedFlag<&S::InvertCts, F4>),
         TakeFamilyFlag<&S::InvertCts, F4>),
    Both(Flag(Kr4Options, "Invert DTR#", "0", "InvertDtr", IoOptioned, R::Option, 0, &T::InvertDtr,
              FeedFlag<&S::InvertDtr, F4>),
         TakeFamilyFlag<&S::InvertDtr, F4>),
    Both(Flag(Kr4Options, "Invert DSR#", "0", "InvertDsr", IoOptioned, R::Option, 0, &T::InvertDsr,
              FeedFlag<&S::InvertDsr, F4>),
         TakeFamilyFlag<&S::InvertDsr, F4>),
    Both(Flag(Kr4Options, "Invert DCD#", "0", "InvertDcd", IoOptioned, R::Option, 0, &T::InvertDcd,
              FeedFlag<&S::InvertDcd, F4>),
         TakeFamilyFlag<&S::InvertDcd, F4>),
    Both(Flag(Kr4Options, "Invert RI#", "0", "InvertRi", IoOptioned, R::Option, 0, &T::InvertRi,
              FeedFlag<&S::InvertRi, F4>),
         TakeFamilyFlag<&S::InvertRi, F4>),
    // A pin list without an entry shows, and programs, its pin's default signal.
    Both(Entry(Kr4Options, "C0 Signal", "-1", "C0Signal", Pinned, Pins, &T::C0Signal,
               FeedPin<&S::C0Signal, 0>),
         TakePin<&S::C0Signal, 13>),
    Both(Entry(Kr4Options, "C1 Signal", "-1", "C1Signal", Pinned, Pins, &T::C1Signal,
               FeedPin<&S::C1Signal, 3>),
         TakePin<&S::C1Signal, 13>),
    Both(Entry(Kr4Options, "C2 Signal", "-1", "C2Signal", Pinned, Pins, &T::C2Signal,
               FeedPin<&S::C2Signal, 2>),
         TakePin<&S::C2Signal, 13>),
    Both(Entry(Kr4Options, "C3 Signal", "-1", "C3Signal", Pinned, Pins, &T::C3Signal,
               FeedPin<&S::C3Signal, 1>),
         TakePin<&S::C3Signal, 13>),
    Both(Entry(Kr4Options, "C4 Signal", "-1", "C4Signal", Pinned, PinC4, &T::C4Signal,
               FeedPin<&S::C4Signal, 5>),
         TakePin<&S::C4Signal, 1>),
    Both(Flag(Kr4Options, "Enable Ext Osc", "0", "ExternalOscillator", IoOptioned, R::Option, 0,
              &T::ExternalOscillator, FeedFlag<&S::Kr4ExternalOscillator, F4>),
         TakeFamilyFlag<&S::Kr4ExternalOscillator, F4>),
    Both(Flag(Kr4Options, "High Current I/O", "0", "HighCurrentIo", IoOptioned, R::Option, 0,
              &T::HighCurrentIo, FeedFlag<&S::Kr4HighCurrentIo, F4>),
         TakeFamilyFlag<&S::Kr4HighCurrentIo, F4>),
    Both(Flag(Kr4Options, "Load Pipex Driver", "0", "LoadPipexDriver", IoOptioned, R::Option, 0,
              &T::LoadPipexDriver, FeedFlag<&S::Kr4LoadPipexDriver, F4>),
         TakeFamilyFlag<&S::Kr4LoadPipexDriver, F4>),
    Both(Entry(Kr4Options, "In EndPoint Size", "0", "InEndpointSize", Unswitched, 5,
               &T::InEndpointSize, FeedEndpointSize),
         TakeEndpointSize),
    Both(Flag(SideA, "Side A OPTO Isolate mode", "0", "SideAOptoIsolate", Dual, R::Option,
              SideAMode, &T::SideAOptoIsolate, FeedFlag<&S::SideAOptoIsolate, F3>,
              FieldStore::WhenSet),
         TakeMode<&S::SideAOptoIsolate>),
};

const Field& FieldOfFlag(bool Template::*member) {
    for (const Field& field : FieldTable)
        if (field.Flag == member) return field;
    return FieldTable[0];
}

} // namespace

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
    return text;
}

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

const Field* FieldNamed(std::string_view name) {
    for (const Field& field : Fields())
        if (field.Name == name) return &field;
    return nullptr;
}

FieldInput InputOf(const Field& field) {
    switch (field.Rule) {
    case FieldRule::VendorId:
    case FieldRule::ProductId:
        return {FieldCharacters::Hexadecimal, 4};
    case FieldRule::Current:
        // Nine digits stay within the 32 bits the current check reads.
        return {FieldCharacters::Decimal, 9};
    default:
        return {};
    }
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

} // namespace burnwise::app
