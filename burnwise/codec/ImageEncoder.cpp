#include "ImageEncoder.h"

#include "burnwise/codec/Checksum.h"
#include "burnwise/codec/EepromGeometry.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace burnwise::codec {
namespace {

// Word offsets shared by every family.
constexpr std::size_t OptionWordAIndex = 0;
constexpr std::size_t VendorIdIndex = 1;
constexpr std::size_t ProductIdIndex = 2;
constexpr std::size_t ChipIdIndex = 3;
constexpr std::size_t PowerWordIndex = 4;
constexpr std::size_t OptionWordBIndex = 5;
constexpr std::size_t UsbVersionIndex = 6;
constexpr std::size_t ManufacturerPointerIndex = 7;
constexpr std::size_t ProductPointerIndex = 8;
constexpr std::size_t SerialPointerIndex = 9;
constexpr std::size_t PinWordIndex = 10; // KR4: C0 to C3; KR3: the EEPROM type marker
constexpr std::size_t C4WordIndex = 11;  // KR4
constexpr std::size_t SmallChecksumIndex = 63;

constexpr std::uint16_t Bit(bool on, std::uint16_t mask) {
    return on ? mask : 0;
}

// Only what lands inside the image is written; a record whose texts overflow the layout
// loses the tail of its descriptors rather than corrupting what follows the image.
void Put(EepromImage& image, std::size_t word, std::uint16_t value) {
    if (word < image.size()) image[word] = value;
}

// The first character is always taken, then every one up to the zero byte that follows it,
// never past the end of the buffer: an empty text becomes one character of code 0, and a
// text that starts with a zero byte keeps what follows it.
std::string TakeText(TextBuffer buffer) {
    if (buffer.empty()) return std::string(1, '\0');
    std::size_t length = 1;
    while (length < buffer.size() && buffer[length] != '\0')
        ++length;
    return std::string(buffer.data(), length);
}

// Writes one string descriptor at `byteOffset` (header word: length in bytes, then 0x03;
// one word per character) and returns its pointer word: the length in the high byte and
// the byte offset with 0x80 set in the low byte. On a 128-word part the 0x80 bit selects
// the upper half, where the KR3 layout moves its strings; a 64-word part does not decode it.
std::uint16_t PlaceDescriptor(EepromImage& image, std::size_t& byteOffset, std::string_view text) {
    const std::size_t length = 2 + 2 * text.size();
    const std::size_t header = byteOffset / 2;
    Put(image, header, static_cast<std::uint16_t>(0x0300 | (length & 0xFF)));
    for (std::size_t k = 0; k < text.size(); ++k) {
        Put(image, header + 1 + k, static_cast<unsigned char>(text[k]));
    }
    const auto pointer =
        static_cast<std::uint16_t>(((length & 0xFF) << 8) | ((0x80 | byteOffset) & 0xFF));
    byteOffset += length;
    byteOffset += byteOffset & 1;
    return pointer;
}

std::uint16_t OptionWordA(const EepromSettings& s, const FamilySelectors& selectors) {
    std::uint16_t a = 0;
    if (selectors.Kr3Selected) {
        // One hardware mode per side: FIFO beats CPU FIFO beats opto-isolate.
        a = Bit(s.SideAFifo, 0x0001) | Bit(s.SideACpuFifo && !s.SideAFifo, 0x0002) |
            Bit(s.SideAOptoIsolate && !s.SideAFifo && !s.SideACpuFifo, 0x0004) |
            Bit(s.SideAVirtualComPort, 0x0008) | Bit(s.SideAHighCurrent, 0x0010) |
            Bit(s.SideBFifo, 0x0100) | Bit(s.SideBCpuFifo && !s.SideBFifo, 0x0200) |
            Bit(s.SideBOptoIsolate && !s.SideBFifo && !s.SideBCpuFifo, 0x0400) |
            Bit(s.SideBVirtualComPort, 0x0800) | Bit(s.SideBHighCurrent, 0x1000);
    }
    if (selectors.Kr4Selected) {
        a = Bit(s.Kr4IsFifo, 0x0001) | Bit(s.Kr4ExternalOscillator, 0x0002) |
            Bit(s.Kr4HighCurrentIo, 0x0004) | Bit(s.Kr4LoadPipexDriver, 0x0008) |
            static_cast<std::uint16_t>(s.InEndpointSize << 8);
    }
    return a;
}

std::uint16_t OptionWordB(const EepromSettings& s, const FamilySelectors& selectors) {
    std::uint16_t b = 0;
    if (selectors.Kr2Selected) {
        b = Bit(s.Kr2Reserved0, 0x0001) | Bit(s.Kr2Reserved1, 0x0002) |
            Bit(s.Kr2PullDownInSuspend, 0x0004) | Bit(s.Kr2SerialNumberEnable, 0x0008) |
            Bit(s.Kr2UsbVersionEnable, 0x0010);
    }
    if (selectors.Kr3Selected) {
        b = Bit(s.Kr3ReservedA0, 0x0001) | Bit(s.Kr3ReservedA1, 0x0002) |
            Bit(s.Kr3PullDownInSuspend, 0x0004) | Bit(s.Kr3SerialNumberEnable, 0x0008) |
            Bit(s.Kr3UsbVersionEnable, 0x0010) | Bit(s.Kr3ReservedB0, 0x0020) |
            Bit(s.Kr3ReservedB1, 0x0040);
    }
    if (selectors.Kr4Selected) {
        b = Bit(s.Kr4PullDownInSuspend, 0x0004) | Bit(s.Kr4SerialNumberEnable, 0x0008) |
            Bit(s.InvertTxd, 0x0100) | Bit(s.InvertRxd, 0x0200) | Bit(s.InvertRts, 0x0400) |
            Bit(s.InvertCts, 0x0800) | Bit(s.InvertDtr, 0x1000) | Bit(s.InvertDsr, 0x2000) |
            Bit(s.InvertDcd, 0x4000) | Bit(s.InvertRi, 0x8000);
    }
    return b;
}

std::uint16_t PowerWord(const EepromSettings& s) {
    return static_cast<std::uint16_t>(((s.MaxPowerMilliAmps / 2) & 0xFF) << 8) | 0x0080 |
           Bit(s.SelfPowered, 0x0040) | Bit(s.RemoteWakeup, 0x0020);
}

} // namespace

EncodeResult EncodeImage(const EepromSettings& s, const FamilySelectors& selectors,
                         std::string_view eepromTypeName, const UtcClock& clock, EepromImage& out) {
    std::size_t byteOffset = selectors.Kr4Selected ? 24 : selectors.Kr3Selected ? 22 : 20;
    const std::uint16_t optionB = OptionWordB(s, selectors);
    const std::uint16_t optionA = OptionWordA(s, selectors);
    const std::uint16_t power = PowerWord(s);

    out.fill(0);
    out[OptionWordAIndex] = optionA;
    out[VendorIdIndex] = s.VendorId;
    out[ProductIdIndex] = s.ProductId;

    // Words 3, 5 and 6 follow the record's family flags, not the selectors; when more than
    // one flag is set the later test wins. A KR1 image repeats the power word in word 6.
    out[ChipIdIndex] = 0x0200;
    if (s.Kr2Present) out[ChipIdIndex] = 0x0400;
    if (s.Kr3Present) out[ChipIdIndex] = 0x0500;
    if (s.Kr4Present) out[ChipIdIndex] = 0x0000;
    out[PowerWordIndex] = power;
    if (s.Kr3Present) out[OptionWordBIndex] = optionB;
    if (s.Kr2Present) out[OptionWordBIndex] = optionB & 0x001F;
    if (s.Kr4Present) out[OptionWordBIndex] = optionB;
    out[UsbVersionIndex] = power;
    if (s.Kr2Present) out[UsbVersionIndex] = s.Kr2UsbVersion;
    if (s.Kr3Present) out[UsbVersionIndex] = s.Kr3UsbVersion;
    if (s.Kr4Present) out[UsbVersionIndex] = 0;

    if (selectors.Kr4Selected) {
        // Each pin owns a 4-bit field; an out-of-range index must not reach its neighbour.
        out[PinWordIndex] =
            static_cast<std::uint16_t>(((s.C3Signal & 0xF) << 12) | ((s.C2Signal & 0xF) << 8) |
                                       ((s.C1Signal & 0xF) << 4) | (s.C0Signal & 0xF));
        out[C4WordIndex] = s.C4Signal & 0x000F;
    }

    const std::string manufacturer = TakeText(s.Manufacturer);
    const std::string product = TakeText(s.ProductDescription);
    EncodeResult result;
    result.Serial = s.SerialNumber.empty() || s.SerialNumber[0] == '\0'
                        ? GenerateSerial(TakeText(s.SerialPrefix), clock)
                        : TakeText(s.SerialNumber);

    out[ManufacturerPointerIndex] = PlaceDescriptor(out, byteOffset, manufacturer);
    out[ProductPointerIndex] = PlaceDescriptor(out, byteOffset, product);
    const std::size_t serialHeader = byteOffset / 2;
    out[SerialPointerIndex] = PlaceDescriptor(out, byteOffset, result.Serial);
    // With Plug and Play off a 1 follows the serial descriptor after one zero word.
    const std::size_t plugAndPlayWord = serialHeader + result.Serial.size() + 2;
    if (!s.PlugAndPlay) Put(out, plugAndPlayWord, 1);
    result.Fits = plugAndPlayWord < SmallChecksumIndex;

    const EepromGeometry& geometry = EepromGeometryOf(eepromTypeName);
    if (selectors.Kr3Selected && geometry.Kr3ChecksumWord > SmallChecksumIndex) {
        // A KR3 chip on a 128- or 256-word part reads its strings from the upper half:
        // words 11 to 63 move to 75 to 127 and the checksum covers 127 words.
        std::copy(out.begin() + 11, out.begin() + 64, out.begin() + 75);
        std::fill(out.begin() + 11, out.begin() + 64, 0);
        out[PinWordIndex] = geometry.Kr3Marker;
        out[127] = Checksum(out, 127);
    } else {
        if (selectors.Kr3Selected) out[PinWordIndex] = geometry.Kr3Marker;
        out[SmallChecksumIndex] = Checksum(out, SmallChecksumIndex);
    }
    return result;
}

} // namespace burnwise::codec
