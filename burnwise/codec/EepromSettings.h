#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace burnwise::codec {

inline constexpr std::size_t TextBufferSize = 64;

// A text field of the record: a view of one 64-byte, zero-terminated buffer owned by the
// record's holder. Empty until AttachBuffers points it at the holder's text area.
using TextBuffer = std::span<char>;

// Booleans hold 0 or 1 at the width the record gives them.
using Bool16 = std::uint16_t;
using Bool8 = std::uint8_t;

// The holder's 256-byte text area. Manufacturer at 0, SerialPrefix at 64,
// ProductDescription at 128, SerialNumber at 192.
struct SettingsTextArea {
    std::array<char, 4 * TextBufferSize> Bytes{};
};

// Every option written into a chip's configuration EEPROM, fields in declared order.
struct EepromSettings {
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
    TextBuffer Manufacturer;
    TextBuffer SerialPrefix;
    TextBuffer ProductDescription;
    TextBuffer SerialNumber; // empty (first byte 0): generate one from SerialPrefix and the clock
    std::uint16_t MaxPowerMilliAmps = 0;
    Bool16 PlugAndPlay = 0;
    Bool16 SelfPowered = 0;
    Bool16 RemoteWakeup = 0;
    // KR2 block
    Bool8 Kr2Present = 0;
    Bool8 Kr2Reserved0 = 0;
    Bool8 Kr2Reserved1 = 0;
    Bool8 Kr2PullDownInSuspend = 0;
    Bool8 Kr2SerialNumberEnable = 0;
    Bool8 Kr2UsbVersionEnable = 0;
    std::uint16_t Kr2UsbVersion = 0; // BCD: 0x0110 or 0x0200
    // KR3 block
    Bool8 Kr3Present = 0;
    Bool8 Kr3ReservedA0 = 0;
    Bool8 Kr3ReservedB0 = 0;
    Bool8 Kr3ReservedA1 = 0;
    Bool8 Kr3ReservedB1 = 0;
    Bool8 Kr3PullDownInSuspend = 0;
    Bool8 Kr3SerialNumberEnable = 0;
    Bool8 Kr3UsbVersionEnable = 0;
    std::uint16_t Kr3UsbVersion = 0;
    Bool8 SideAHighCurrent = 0;
    Bool8 SideBHighCurrent = 0;
    Bool8 SideAFifo = 0;
    Bool8 SideACpuFifo = 0;
    Bool8 SideAOptoIsolate = 0;
    Bool8 SideAVirtualComPort = 0;
    Bool8 SideBFifo = 0;
    Bool8 SideBCpuFifo = 0;
    Bool8 SideBOptoIsolate = 0;
    Bool8 SideBVirtualComPort = 0;
    // KR4 block
    Bool8 Kr4Present = 0;
    Bool8 Kr4PullDownInSuspend = 0;
    Bool8 Kr4SerialNumberEnable = 0;
    Bool8 Kr4IsFifo = 0;
    Bool8 Kr4HighCurrentIo = 0;
    Bool8 Kr4LoadPipexDriver = 0;
    Bool8 Kr4ExternalOscillator = 0;
    Bool8 InvertTxd = 0;
    Bool8 InvertRxd = 0;
    Bool8 InvertRts = 0;
    Bool8 InvertCts = 0;
    Bool8 InvertDtr = 0;
    Bool8 InvertDsr = 0;
    Bool8 InvertDcd = 0;
    Bool8 InvertRi = 0;
    std::uint8_t InEndpointSize = 0; // 64, 32, 16, 8 or 4
    std::uint8_t C0Signal = 0;       // index into the C0..C3 signal list (0 to 13)
    std::uint8_t C1Signal = 0;
    std::uint8_t C2Signal = 0;
    std::uint8_t C3Signal = 0;
    std::uint8_t C4Signal = 0; // index into the C4 signal list (0 to 9)

    // Points the four texts at the holder's area, in the order Manufacturer,
    // SerialPrefix, ProductDescription, SerialNumber.
    void AttachBuffers(SettingsTextArea& area);

    // Zeroes the IDs, every field from MaxPowerMilliAmps on, and the attached buffers.
    void Reset();
};

// The characters of a text buffer up to its first zero byte, never past its end.
std::string_view TextOf(TextBuffer buffer);

// Copies `text` into `buffer`, cut to leave room for the terminating zero, and zero-fills
// the rest.
void SetText(TextBuffer buffer, std::string_view text);

// Calls visit(name, field) for all 57 fields in declared order. The field is a
// std::uint16_t&, std::uint8_t& or TextBuffer& (const for a const record).
template <typename Record, typename Visitor>
void ForEachField(Record& s, Visitor&& visit) {
    visit("VendorId", s.VendorId);
    visit("ProductId", s.ProductId);
    visit("Manufacturer", s.Manufacturer);
    visit("SerialPrefix", s.SerialPrefix);
    visit("ProductDescription", s.ProductDescription);
    visit("SerialNumber", s.SerialNumber);
    visit("MaxPowerMilliAmps", s.MaxPowerMilliAmps);
    visit("PlugAndPlay", s.PlugAndPlay);
    visit("SelfPowered", s.SelfPowered);
    visit("RemoteWakeup", s.RemoteWakeup);
    visit("Kr2Present", s.Kr2Present);
    visit("Kr2Reserved0", s.Kr2Reserved0);
    visit("Kr2Reserved1", s.Kr2Reserved1);
    visit("Kr2PullDownInSuspend", s.Kr2PullDownInSuspend);
    visit("Kr2SerialNumberEnable", s.Kr2SerialNumberEnable);
    visit("Kr2UsbVersionEnable", s.Kr2UsbVersionEnable);
    visit("Kr2UsbVersion", s.Kr2UsbVersion);
    visit("Kr3Present", s.Kr3Present);
    visit("Kr3ReservedA0", s.Kr3ReservedA0);
    visit("Kr3ReservedB0", s.Kr3ReservedB0);
    visit("Kr3ReservedA1", s.Kr3ReservedA1);
    visit("Kr3ReservedB1", s.Kr3ReservedB1);
    visit("Kr3PullDownInSuspend", s.Kr3PullDownInSuspend);
    visit("Kr3SerialNumberEnable", s.Kr3SerialNumberEnable);
    visit("Kr3UsbVersionEnable", s.Kr3UsbVersionEnable);
    visit("Kr3UsbVersion", s.Kr3UsbVersion);
    visit("SideAHighCurrent", s.SideAHighCurrent);
    visit("SideBHighCurrent", s.SideBHighCurrent);
    visit("SideAFifo", s.SideAFifo);
    visit("SideACpuFifo", s.SideACpuFifo);
    visit("SideAOptoIsolate", s.SideAOptoIsolate);
    visit("SideAVirtualComPort", s.SideAVirtualComPort);
    visit("SideBFifo", s.SideBFifo);
    visit("SideBCpuFifo", s.SideBCpuFifo);
    visit("SideBOptoIsolate", s.SideBOptoIsolate);
    visit("SideBVirtualComPort", s.SideBVirtualComPort);
    visit("Kr4Present", s.Kr4Present);
    visit("Kr4PullDownInSuspend", s.Kr4PullDownInSuspend);
    visit("Kr4SerialNumberEnable", s.Kr4SerialNumberEnable);
    visit("Kr4IsFifo", s.Kr4IsFifo);
    visit("Kr4HighCurrentIo", s.Kr4HighCurrentIo);
    visit("Kr4LoadPipexDriver", s.Kr4LoadPipexDriver);
    visit("Kr4ExternalOscillator", s.Kr4ExternalOscillator);
    visit("InvertTxd", s.InvertTxd);
    visit("InvertRxd", s.InvertRxd);
    visit("InvertRts", s.InvertRts);
    visit("InvertCts", s.InvertCts);
    visit("InvertDtr", s.InvertDtr);
    visit("InvertDsr", s.InvertDsr);
    visit("InvertDcd", s.InvertDcd);
    visit("InvertRi", s.InvertRi);
    visit("InEndpointSize", s.InEndpointSize);
    visit("C0Signal", s.C0Signal);
    visit("C1Signal", s.C1Signal);
    visit("C2Signal", s.C2Signal);
    visit("C3Signal", s.C3Signal);
    visit("C4Signal", s.C4Signal);
}

} // namespace burnwise::codec
