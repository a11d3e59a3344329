#include "ImageDecoder.h"

#include "burnwise/codec/Checksum.h"
#include "burnwise/codec/EepromGeometry.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace burnwise::codec {
namespace {

constexpr std::uint16_t ErasedWord = 0xFFFF;
constexpr std::size_t MaxTextCharacters = TextBufferSize - 1;
// KR4 factory word: bit 0 is set on the FIFO model. Never written by this system.
constexpr std::size_t Kr4ModelWordIndex = 66;

bool ChecksumMatches(const EepromImage& image, std::size_t count) {
    return Checksum(image, count) == image[count];
}

void SelectFamilyFromCode(std::uint32_t code, FamilySelectors& selectors, bool kr4Too) {
    const ChipFamily family = FamilyOfTypeCode(code);
    if (family == ChipFamily::KR4 && !kr4Too) return;
    const FamilySelectors& chosen = FirstModelOf(family).Selectors;
    selectors.Kr2Selected |= chosen.Kr2Selected;
    selectors.Kr3Selected |= chosen.Kr3Selected;
    selectors.Kr4Selected |= chosen.Kr4Selected;
}

bool ChecksumIsValid(const EepromImage& image, const FamilySelectors& selectors,
                     std::string& eepromTypeName) {
    if (selectors.Kr2Selected) return ChecksumMatches(image, 63);
    if (selectors.Kr3Selected) {
        // Word 10 of a KR3 image names the part it was laid out for.
        switch (image[10]) {
        case 0x0046:
            return ChecksumMatches(image, 63);
        case 0x0056:
        case 0x0066:
            if (!ChecksumMatches(image, 127)) return false;
            eepromTypeName = image[10] == 0x0056 ? Eeprom93C56 : Eeprom93C66;
            return true;
        default:
            return true;
        }
    }
    return ChecksumMatches(image, 63);
}

struct Descriptor {
    std::size_t Header; // word index of the descriptor's header
    int Characters;     // as the pointer states it; 0 or below means none
};

Descriptor DescriptorOf(std::uint16_t pointer, bool lowerHalf) {
    unsigned offset = pointer & 0xFFu;
    if (lowerHalf) offset &= 0x7Fu;
    return {offset / 2, static_cast<int>(pointer >> 8) / 2 - 1};
}

// A descriptor that runs past the image ends with it, and a text never takes more than
// its buffer holds besides the terminating zero.
void ReadText(const EepromImage& image, const Descriptor& d, TextBuffer buffer) {
    std::string text;
    const int count = std::min(d.Characters, static_cast<int>(MaxTextCharacters));
    for (int k = 0; k < count; ++k) {
        const std::size_t word = d.Header + 1 + static_cast<std::size_t>(k);
        if (word >= image.size()) break;
        text.push_back(static_cast<char>(image[word] & 0xFF));
    }
    SetText(buffer, text);
}

Bool8 BitOf(std::uint16_t word, unsigned bit) {
    return static_cast<Bool8>((word >> bit) & 1u);
}

void DecodeKr3Options(const EepromImage& image, EepromSettings& s) {
    const std::uint16_t optionB = image[5];
    const std::uint16_t a = image[0];
    s.Kr3Present = 1;
    s.Kr3PullDownInSuspend = BitOf(optionB, 2);
    s.Kr3SerialNumberEnable = BitOf(optionB, 3);
    s.Kr3UsbVersionEnable = BitOf(optionB, 4);
    s.Kr3UsbVersion = image[6];
    s.SideAFifo = BitOf(a, 0);
    s.SideACpuFifo = BitOf(a, 1);
    s.SideAOptoIsolate = BitOf(a, 2);
    s.SideAVirtualComPort = BitOf(a, 3);
    s.SideAHighCurrent = BitOf(a, 4);
    s.SideBFifo = BitOf(a, 8);
    s.SideBCpuFifo = BitOf(a, 9);
    s.SideBOptoIsolate = BitOf(a, 10);
    s.SideBVirtualComPort = BitOf(a, 11);
    s.SideBHighCurrent = BitOf(a, 12);
}

void DecodeKr2Options(const EepromImage& image, EepromSettings& s) {
    const std::uint16_t optionB = image[5];
    s.Kr2Present = 1;
    s.Kr2PullDownInSuspend = BitOf(optionB, 2);
    s.Kr2SerialNumberEnable = BitOf(optionB, 3);
    s.Kr2UsbVersionEnable = BitOf(optionB, 4);
    s.Kr2UsbVersion = image[6];
}

void DecodeKr4Options(const EepromImage& image, FamilySelectors& selectors, EepromSettings& s) {
    const std::uint16_t optionB = image[5];
    // The chip model is a factory bit outside the user words; an erased model word
    // reads as the serial model.
    std::uint16_t a = image[0] & 0xFFFEu;
    const std::uint16_t model = image[Kr4ModelWordIndex];
    selectors.Kr4FifoSelected = model != ErasedWord && (model & 1u);
    if (selectors.Kr4FifoSelected) a |= 1u;
    s.Kr4Present = 1;
    s.C4Signal = image[11] & 0xF;
    s.C3Signal = (image[10] >> 12) & 0xF;
    s.C2Signal = (image[10] >> 8) & 0xF;
    s.C1Signal = (image[10] >> 4) & 0xF;
    s.C0Signal = image[10] & 0xF;
    s.Kr4PullDownInSuspend = BitOf(optionB, 2);
    s.Kr4SerialNumberEnable = BitOf(optionB, 3);
    s.InvertTxd = BitOf(optionB, 8);
    s.InvertRxd = BitOf(optionB, 9);
    s.InvertRts = BitOf(optionB, 10);
    s.InvertCts = BitOf(optionB, 11);
    s.InvertDtr = BitOf(optionB, 12);
    s.InvertDsr = BitOf(optionB, 13);
    s.InvertDcd = BitOf(optionB, 14);
    s.InvertRi = BitOf(optionB, 15);
    s.Kr4IsFifo = BitOf(a, 0);
    s.Kr4ExternalOscillator = BitOf(a, 1);
    s.Kr4HighCurrentIo = BitOf(a, 2);
    s.Kr4LoadPipexDriver = BitOf(a, 3);
    s.InEndpointSize = (a >> 8) & 0x7F;
}

void DecodeFields(const EepromImage& image, FamilySelectors& selectors,
                  std::string_view eepromTypeName, EepromSettings& s) {
    s.VendorId = image[1];
    s.ProductId = image[2];
    if (selectors.Kr3Selected) DecodeKr3Options(image, s);
    if (selectors.Kr2Selected) DecodeKr2Options(image, s);
    if (selectors.Kr4Selected) DecodeKr4Options(image, selectors, s);

    // word 4: power
    s.MaxPowerMilliAmps = static_cast<std::uint16_t>((image[4] >> 8) * 2);
    s.SelfPowered = (image[4] >> 6) & 1u;
    s.RemoteWakeup = (image[4] >> 5) & 1u;

    // Only a KR3 image on a 128-word or larger part keeps its strings in the upper half,
    // which the pointers' 0x80 bit selects there. Every other layout has them in the lower
    // half, whatever part carries it, so the bit is dropped.
    const bool lowerHalf = eepromTypeName == Eeprom93C46 || !selectors.Kr3Selected;
    ReadText(image, DescriptorOf(image[7], lowerHalf), s.Manufacturer);
    ReadText(image, DescriptorOf(image[8], lowerHalf), s.ProductDescription);
    const Descriptor serial = DescriptorOf(image[9], lowerHalf);
    if (CarriesSerialNumber(s, selectors)) {
        ReadText(image, serial, s.SerialNumber);
    } else {
        SetText(s.SerialNumber, "Disabled");
    }

    // The encoder leaves one zero word after the serial characters and writes 1 in the next
    // one when Plug and Play is off. Beyond the image nothing was written.
    const std::size_t plugAndPlayWord =
        serial.Header + static_cast<std::size_t>(serial.Characters + 2);
    s.PlugAndPlay = plugAndPlayWord >= image.size() || image[plugAndPlayWord] == 0;
}

} // namespace

bool CarriesSerialNumber(const EepromSettings& s, const FamilySelectors& selectors) {
    return (selectors.Kr3Selected && s.Kr3SerialNumberEnable) ||
           (selectors.Kr2Selected && s.Kr2SerialNumberEnable) ||
           (selectors.Kr4Selected && s.Kr4SerialNumberEnable) ||
           (!selectors.Kr2Selected && !selectors.Kr3Selected && !selectors.Kr4Selected);
}

int DecodeImage(int mode, const EepromImage& image, FamilySelectors& selectors,
                std::string& eepromTypeName, EepromSettings& s, DeviceTypeSource& types) {
    s.Reset();

    bool candidate = false;
    if (mode == DecodeFromScratch) {
        selectors.Clear();
        eepromTypeName = Eeprom93C46;
        candidate = image[0] != ErasedWord;
    } else if (selectors.Kr4Selected) {
        candidate = true;
    } else if (image[0] == ErasedWord) {
        candidate = false;
    } else if (image[127] != 0) {
        candidate = true;
    } else {
        // A KR1 or KR2 image on a 93C56 or 93C66 keeps its checksum in word 63 and leaves
        // word 127 at 0; on a 93C46 word 127 mirrors word 63. Such an image is programmed
        // when its checksum holds. An all-zero part fails the checksum (0x5555) and stays
        // blank.
        candidate = !selectors.Kr3Selected && ChecksumMatches(image, 63);
    }

    if (candidate) {
        SelectFamilyFromCode(types.DeviceTypeCode(), selectors, true);
        if (ChecksumIsValid(image, selectors, eepromTypeName)) {
            DecodeFields(image, selectors, eepromTypeName, s);
            return Programmed;
        }
    }
    SelectFamilyFromCode(types.DeviceTypeCode(), selectors, false);
    return Blank;
}

} // namespace burnwise::codec
