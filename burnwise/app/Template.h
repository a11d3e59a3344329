#pragma once

#include "burnwise/codec/ChipModels.h"
#include "burnwise/codec/EepromSettings.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace burnwise::app {

// How the devices of a run get their serial numbers: generated from the prefix and the
// clock, or one fixed number whose last character advances per device.
enum class SerialScheme { Clock, Fixed };

// Everything a template holds, typed. List choices keep the list's entry number (-1 when
// no entry is chosen), texts are kept as typed, since the checks judge them as typed.
struct Template {
    // Nothing while no entry of the device-type list is chosen.
    std::optional<codec::ChipType> Model;
    int VidPidType = 0; // 0 maker's default, 1 maker's VID with own PID, 2 own VID and PID
    std::string VendorId, ProductId;
    bool BusPowered = false, SelfPowered = false;
    std::string MaxBusPower;
    std::string SerialPrefix;
    bool UseFixedSerial = false;
    std::string FixedSerial;
    bool RemoteWakeup = false, PlugAndPlay = false;
    std::string Manufacturer, Product;
    bool OnlyBlankDevices = false;
    int UsbVersion = 0; // 0 USB 1.1, 1 USB 2.0
    bool DisableSerialNumber = false, PullDownInSuspend = false;
    // The two channels of a dual chip: one hardware mode and one driver per side.
    bool SideARs232 = false, SideAFifo = false, SideACpuFifo = false, SideAOptoIsolate = false;
    bool SideAVirtualComPort = false, SideAPipexDirect = false, SideAHighCurrent = false;
    bool SideBRs232 = false, SideBFifo = false, SideBCpuFifo = false, SideBOptoIsolate = false;
    bool SideBVirtualComPort = false, SideBPipexDirect = false, SideBHighCurrent = false;
    // The KR4 family.
    bool InvertTxd = false, InvertRxd = false, InvertRts = false, InvertCts = false;
    bool InvertDtr = false, InvertDsr = false, InvertDcd = false, InvertRi = false;
    int C0Signal = -1, C1Signal = -1, C2Signal = -1, C3Signal = -1, C4Signal = -1;
    bool ExternalOscillator = false, HighCurrentIo = false, LoadPipexDriver = false;
    int InEndpointSize = 0; // entry of 64, 32, 16, 8, 4

    // The template a started window shows.
    static Template Start();

    SerialScheme Scheme() const {
        return UseFixedSerial ? SerialScheme::Fixed : SerialScheme::Clock;
    }
    // The chosen model when it is a real one (not "None", not unchosen).
    std::optional<codec::ChipType> ChosenModel() const;
    bool operator==(const Template&) const = default;
};

// ---- The field table ------------------------------------------------------------------------

enum class FieldKind { Model, Index, Flag, Text };

// What a change of the field's value sets off besides itself (see TemplateEditor).
enum class FieldRule {
    None,
    BusPower,     // checked: the current becomes 100
    SelfPower,    // checked: the current becomes 0
    SerialChoice, // the model's values are applied again
    VendorId,     // all zeros is refused
    ProductId,
    Current,    // a number of at most 500
    StringText, // the total string length is checked
    Option,
    BlankOnly,
};

// How a field is kept in the file.
enum class FieldStore {
    Always,
    // A key added later: read after all others and only when set; written after all others,
    // when set or when the key is in the file already, so older files stay as they were.
    // Not among the file's values.
    WhenSet,
};

// The models a field is usable for, one bit per codec::ChipType.
using ModelSet = std::uint16_t;

constexpr ModelSet ModelBit(codec::ChipType type) {
    return static_cast<ModelSet>(1u << static_cast<unsigned>(type));
}

struct Field;

// Where gathering the settings of one device stands.
struct Gathering {
    codec::EepromSettings& Settings;
    codec::ChipFamily Family;
    std::optional<codec::ChipType> Model; // a real model, or nothing
    int DeviceNumber;                     // 0-based within the run
};

using FieldFeed = void (*)(const Template&, const Field&, Gathering&);

class FieldSink;

// A device's decoded record on its way back into a template. Taking the prefix, the FIFO
// model's pins and the FIFO selector changes them as the model shown needs.
struct Decoding {
    codec::EepromSettings& Settings;
    codec::FamilySelectors& Selectors;
};

using FieldTake = void (*)(FieldSink&, const Field&, Decoding&);

struct Field {
    std::string_view Section;
    std::string_view Key;
    FieldKind Kind;
    std::string_view Default; // as the file holds it
    std::string_view Name;    // the template value it holds, as `Template` names it
    ModelSet Models;          // where the window lets it be used; see FieldEnabled
    FieldRule Rule = FieldRule::None;
    int Entries = 0;    // Index: the list's number of entries
    int RadioGroup = 0; // radio buttons of one group: checking one unchecks the others
    FieldStore Store = FieldStore::Always;
    int Template::*Index = nullptr;
    bool Template::*Flag = nullptr;
    std::string Template::*Text = nullptr;
    FieldFeed Feed = nullptr; // puts the value into the settings of a device
    FieldTake Take = nullptr; // puts a decoded device's value back, the other way
};

// Every field, in file order.
std::span<const Field> Fields();

// The field stored under `section` and `key` (exactly as the file writes them), or null.
const Field* FindField(std::string_view section, std::string_view key);
// The first field named `name`, or null. Two rows name one value where a key of older
// files is kept beside the current one.
const Field* FieldNamed(std::string_view name);

// What a typed field can take at all: input that could never make a valid value is not
// taken (no error box to swallow the keys that follow).
enum class FieldCharacters { Any, Decimal, Hexadecimal };
struct FieldInput {
    FieldCharacters Characters = FieldCharacters::Any;
    int MaxLength = 0; // 0: no limit
};
FieldInput InputOf(const Field& field);

// The value of a field as a template file holds it.
std::string FieldText(const Template& t, const Field& field);

// Whether the window lets the field be used for the template's model and choices; nothing
// for a field no rule switches.
std::optional<bool> FieldEnabled(const Template& t, const Field& field);

// The text of an index or flag value of a template file, read as the templates always
// were: optional sign, then decimal digits or "0x" and hexadecimal digits, within 32 bits.
// Nothing for anything else.
std::optional<int> ParseTemplateInteger(std::string_view text);

// Four upper-case hexadecimal digits, as the file holds an identifier.
std::string Hex4(unsigned value);

// Exactly a decimal integer within 32 bits (optional sign), as the current check needs.
std::optional<long> ParseStrictDecimal(std::string_view text);

} // namespace burnwise::app
