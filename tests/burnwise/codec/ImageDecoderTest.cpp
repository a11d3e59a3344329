#include "burnwise/codec/ImageDecoder.h"

#include "CodecTestSupport.h"
#include "burnwise/codec/Checksum.h"
#include "burnwise/codec/CodecState.h"
#include "burnwise/codec/EepromGeometry.h"
#include "burnwise/codec/ImageEncoder.h"

#include <gtest/gtest.h>
#include <string>

namespace burnwise::codec {
namespace {

using test::FieldLines;
using test::ScriptedTypeSource;

using test::Clock2007;

// The KR2 worked example, encoded.
EepromImage WorkedKr2Image(bool plugAndPlay = true, bool serialEnabled = true) {
    CodecState st;
    test::WorkedKr2(st);
    st.Settings.PlugAndPlay = plugAndPlay;
    st.Settings.Kr2SerialNumberEnable = serialEnabled;
    EncodeImage(st.Settings, {.Kr2Selected = true}, "93C46", Clock2007, st.WriteImage);
    return st.WriteImage;
}

void Seal63(EepromImage& image) {
    image[63] = Checksum(image, 63);
}

struct Decoded {
    int Verdict;
    FamilySelectors Selectors;
    std::string EepromTypeName;
    std::size_t Queries;
};

Decoded Decode(CodecState& st, int mode, const EepromImage& image, std::vector<std::uint32_t> codes,
               FamilySelectors selectors = {}, std::string eeprom = "") {
    ScriptedTypeSource types(std::move(codes));
    st.Selectors = selectors;
    st.EepromTypeName = std::move(eeprom);
    st.ReadImage = image;
    const int verdict =
        DecodeImage(mode, st.ReadImage, st.Selectors, st.EepromTypeName, st.Settings, types);
    return {verdict, st.Selectors, st.EepromTypeName, types.Queries};
}

TEST(ImageDecoder, WorkedExampleComesBack) {
    CodecState st;
    const Decoded d = Decode(st, 1, WorkedKr2Image(), {VQ_TYPE_KR2});
    ASSERT_EQ(d.Verdict, Programmed);
    EXPECT_EQ(d.Selectors, (FamilySelectors{.Kr2Selected = true}));
    EXPECT_EQ(d.EepromTypeName, "93C46");
    EXPECT_EQ(d.Queries, 1u);
    const EepromSettings& s = st.Settings;
    EXPECT_EQ(s.VendorId, 0x1234);
    EXPECT_EQ(s.ProductId, 0x5678);
    EXPECT_EQ(TextOf(s.Manufacturer), "AB");
    EXPECT_EQ(TextOf(s.ProductDescription), "CD");
    EXPECT_EQ(TextOf(s.SerialNumber), "XY000001");
    EXPECT_EQ(TextOf(s.SerialPrefix), "");
    EXPECT_EQ(s.MaxPowerMilliAmps, 100);
    EXPECT_EQ(s.PlugAndPlay, 1);
    EXPECT_EQ(s.SelfPowered, 0);
    EXPECT_EQ(s.RemoteWakeup, 0);
    EXPECT_EQ(s.Kr2Present, 1);
    EXPECT_EQ(s.Kr2SerialNumberEnable, 1);
    EXPECT_EQ(s.Kr2UsbVersionEnable, 1);
    EXPECT_EQ(s.Kr2UsbVersion, 0x0200);

    Decode(st, 1, WorkedKr2Image(false), {VQ_TYPE_KR2});
    EXPECT_EQ(st.Settings.PlugAndPlay, 0);
    Decode(st, 1, WorkedKr2Image(true, false), {VQ_TYPE_KR2});
    EXPECT_EQ(TextOf(st.Settings.SerialNumber), "Disabled");
}

// When the decoder asks for the device type, and what the answers select.
TEST(ImageDecoder, VerdictsAndTypeQueries) {
    EepromImage erased;
    erased.fill(0xFFFF);
    const EepromImage zero{};
    EepromImage badChecksum = WorkedKr2Image();
    badChecksum[63] ^= 1;
    EepromImage kr2OnLargePart = WorkedKr2Image(); // word 127 left 0, checksum in 63
    const EepromImage kr2Small = [] {
        EepromImage image = WorkedKr2Image();
        image[127] = image[63]; // a 64-word part mirrors word 63 in word 127
        return image;
    }();

    struct Case {
        const char* name;
        int mode;
        const EepromImage* image;
        FamilySelectors before;
        std::vector<std::uint32_t> codes;
        int verdict;
        std::size_t queries;
        FamilySelectors after;
    };
    const Case cases[] = {
        // An erased part is never a candidate: only the closing query, which sets KR2/KR3.
        {"mode 1 erased", 1, &erased, {.Kr4Selected = true}, {4}, Blank, 1, {.Kr3Selected = true}},
        {"mode 1 erased, code 5", 1, &erased, {}, {5}, Blank, 1, {}},
        {"mode 0 erased", 0, &erased, {}, {0}, Blank, 1, {.Kr2Selected = true}},
        // Mode 0 with KR4 chosen has no blank test; the failed checksum asks again.
        {"mode 0 KR4 erased",
         0,
         &erased,
         {.Kr4Selected = true},
         {5, 5},
         Blank,
         2,
         {.Kr4Selected = true}},
        {"mode 0 all zero", 0, &zero, {}, {1}, Blank, 1, {}},
        {"mode 1 all zero", 1, &zero, {}, {1, 1}, Blank, 2, {}},
        {"mode 1 bad checksum", 1, &badChecksum, {}, {0, 0}, Blank, 2, {.Kr2Selected = true}},
        {"mode 1 valid",
         1,
         &kr2Small,
         {.Kr3Selected = true},
         {0},
         Programmed,
         1,
         {.Kr2Selected = true}},
        {"mode 0 KR2 on a 93C46",
         0,
         &kr2Small,
         {.Kr2Selected = true},
         {0},
         Programmed,
         1,
         {.Kr2Selected = true}},
        // A KR1/KR2 image on a larger part leaves word 127 at 0 and is still programmed.
        {"mode 0 KR2 on a 93C56",
         0,
         &kr2OnLargePart,
         {.Kr2Selected = true},
         {0},
         Programmed,
         1,
         {.Kr2Selected = true}},
        {"mode 0 KR1 on a 93C56", 0, &kr2OnLargePart, {}, {1}, Programmed, 1, {}},
        // Mode 0 adds to the selectors rather than replacing them.
        {"mode 0 adds KR2 to KR1 choice",
         0,
         &kr2Small,
         {},
         {0},
         Programmed,
         1,
         {.Kr2Selected = true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CodecState st;
        SetText(st.Settings.Manufacturer, "stale");
        st.Settings.VendorId = 0xBEEF;
        const Decoded d = Decode(st, c.mode, *c.image, c.codes, c.before, "93C56");
        EXPECT_EQ(d.Verdict, c.verdict);
        EXPECT_EQ(d.Queries, c.queries);
        EXPECT_EQ(d.Selectors, c.after);
        if (c.mode == 1) {
            EXPECT_EQ(d.EepromTypeName, "93C46");
        }
        if (c.verdict == Blank) {
            CodecState fresh;
            EXPECT_EQ(FieldLines(st.Settings), FieldLines(fresh.Settings))
                << "a blank verdict leaves every field zero and every text empty";
        }
    }
}

TEST(ImageDecoder, Kr1Kr2ImageOnLargePartReadsItsStringsFromTheLowerHalf) {
    CodecState st;
    EepromImage image = WorkedKr2Image();
    const Decoded d = Decode(st, 0, image, {0}, {.Kr2Selected = true}, "93C56");
    ASSERT_EQ(d.Verdict, Programmed);
    EXPECT_EQ(TextOf(st.Settings.SerialNumber), "XY000001");
    EXPECT_EQ(TextOf(st.Settings.Manufacturer), "AB");
}

TEST(ImageDecoder, Kr3MarkerChoosesTheLayout) {
    CodecState enc;
    SetText(enc.Settings.Manufacturer, "AB");
    SetText(enc.Settings.ProductDescription, "CD");
    SetText(enc.Settings.SerialNumber, "XY000001");
    enc.Settings.Kr3Present = 1;
    enc.Settings.Kr3SerialNumberEnable = 1;
    const FamilySelectors kr3{.Kr3Selected = true};

    struct Case {
        const char* eeprom;
        const char* decodedName;
    };
    for (const Case c : {Case{"93C56", "93C56"}, Case{"93C66", "93C66"}, Case{"Unknown", "93C66"},
                         Case{"93C46", "93C46"}}) {
        SCOPED_TRACE(c.eeprom);
        EncodeImage(enc.Settings, kr3, c.eeprom, Clock2007, enc.WriteImage);
        CodecState st;
        const Decoded d = Decode(st, 1, enc.WriteImage, {VQ_TYPE_KR3});
        ASSERT_EQ(d.Verdict, Programmed);
        EXPECT_EQ(d.EepromTypeName, c.decodedName);
        EXPECT_EQ(TextOf(st.Settings.Manufacturer), "AB");
        EXPECT_EQ(TextOf(st.Settings.SerialNumber), "XY000001");
    }

    // A broken 127-word checksum is not valid, and the name stays.
    EncodeImage(enc.Settings, kr3, "93C56", Clock2007, enc.WriteImage);
    enc.WriteImage[100] ^= 0x10;
    CodecState st;
    Decoded d = Decode(st, 1, enc.WriteImage, {4, 4});
    EXPECT_EQ(d.Verdict, Blank);
    EXPECT_EQ(d.EepromTypeName, "93C46");

    // Any other marker: no checksum test at all.
    enc.WriteImage[10] = 0x0099;
    d = Decode(st, 1, enc.WriteImage, {4});
    EXPECT_EQ(d.Verdict, Programmed);
}

TEST(ImageDecoder, Kr4ModelComesFromWord66) {
    EepromImage image{};
    image[0] = 0x400E; // serial model in word A; every other option bit set
    image[5] = 0x810C;
    image[10] = 0x1230;
    image[11] = 0x0005;
    image[9] = 0x04A0;
    Seal63(image);
    struct Case {
        std::uint16_t word66;
        bool fifo;
    };
    for (const Case c :
         {Case{0x0001, true}, Case{0xFFFF, false}, Case{0x0000, false}, Case{0xFFFE, false}}) {
        SCOPED_TRACE(c.word66);
        EepromImage withModel = image;
        withModel[66] = c.word66;
        withModel[0] |= 1; // word A's own FIFO bit is never the one read
        Seal63(withModel);
        CodecState st;
        const Decoded d = Decode(st, 1, withModel, {VQ_TYPE_KR4});
        ASSERT_EQ(d.Verdict, Programmed);
        EXPECT_EQ(d.Selectors.Kr4FifoSelected, c.fifo);
        EXPECT_EQ(st.Settings.Kr4IsFifo, c.fifo);
        EXPECT_EQ(st.Settings.Kr4ExternalOscillator, 1);
        EXPECT_EQ(st.Settings.Kr4HighCurrentIo, 1);
        EXPECT_EQ(st.Settings.Kr4LoadPipexDriver, 1);
        EXPECT_EQ(st.Settings.InEndpointSize, 64);
        EXPECT_EQ(st.Settings.InvertTxd, 1);
        EXPECT_EQ(st.Settings.InvertRi, 1);
        EXPECT_EQ(st.Settings.InvertRxd, 0);
        EXPECT_EQ(st.Settings.Kr4PullDownInSuspend, 1);
        EXPECT_EQ(st.Settings.Kr4SerialNumberEnable, 1);
        EXPECT_EQ(st.Settings.C0Signal, 0);
        EXPECT_EQ(st.Settings.C1Signal, 3);
        EXPECT_EQ(st.Settings.C2Signal, 2);
        EXPECT_EQ(st.Settings.C3Signal, 1);
        EXPECT_EQ(st.Settings.C4Signal, 5);
    }
}

// Pointers written by something else must not lead the decoder outside the image or a
// text outside its buffer.
TEST(ImageDecoder, HostilePointersStayInside) {
    struct Case {
        const char* name;
        std::uint16_t manufacturer, serial;
        std::size_t manufacturerLength;
        bool plugAndPlay;
    };
    const Case cases[] = {
        // 79 characters from word 12: capped at 63.
        {"count above 63", 0xA016, 0xFEFE, 63, true},
        // Header in word 127: nothing left to read, and the Plug and Play word lies
        // beyond the image.
        {"descriptor at the end", 0xFEFE, 0xFEFE, 0, true},
        // Header in word 100, 62 characters: they end with the image.
        {"descriptor runs past word 127", 0x7EC8, 0x7EC8, 27, true},
        // Counts of 0 and below give empty texts; a count of -1 puts the Plug and Play
        // word right after the header.
        {"zero and negative counts", 0x0094, 0x0194, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EepromImage image{};
        for (std::size_t w = 11; w < 128; ++w) {
            image[w] = 'M';
        }
        image[0] = 0x0001;
        image[7] = c.manufacturer;
        image[9] = c.serial;
        // KR3 on a 128-word part with a marker the decoder does not check: the pointers
        // keep their 0x80 bit and word 127 holds a character.
        image[10] = 0x0099;
        CodecState st;
        const Decoded d = Decode(st, 0, image, {VQ_TYPE_KR3}, {.Kr3Selected = true}, "93C56");
        ASSERT_EQ(d.Verdict, Programmed);
        EXPECT_EQ(TextOf(st.Settings.Manufacturer), std::string(c.manufacturerLength, 'M'));
        EXPECT_EQ(st.Settings.Manufacturer[63], '\0');
        EXPECT_EQ(st.Settings.PlugAndPlay, c.plugAndPlay);
    }
}

// Encode then decode every chip model on every EEPROM type, as a programming run does
// (mode 0 with the chosen family) and as Read and Parse does (mode 1).
TEST(ImageDecoder, RoundTripsEveryModelAndEepromType) {
    for (const ChipModel& model : ChipModels) {
        if (model.Family == ChipFamily::None) continue;
        for (const EepromGeometry& geometry : EepromGeometries) {
            SCOPED_TRACE(std::string(model.ListText) + " on " + std::string(geometry.Name));
            CodecState enc;
            EepromSettings& s = enc.Settings;
            s.VendorId = 0x5EA1;
            s.ProductId = 0x0B17;
            SetText(s.Manufacturer, "Maker\x01");
            SetText(s.ProductDescription, "Widget 9");
            SetText(s.SerialNumber, "SN\\42");
            s.MaxPowerMilliAmps = 250;
            s.SelfPowered = 1;
            s.RemoteWakeup = 1;
            const bool fifo = model.Type == ChipType::KR4F;
            switch (model.Family) {
            case ChipFamily::KR2:
                s.Kr2Present = 1;
                s.Kr2PullDownInSuspend = 1;
                s.Kr2SerialNumberEnable = 1;
                s.Kr2UsbVersionEnable = 1;
                s.Kr2UsbVersion = 0x0110;
                break;
            case ChipFamily::KR3:
                s.Kr3Present = 1;
                s.Kr3SerialNumberEnable = 1;
                s.Kr3UsbVersion = 0x0200;
                s.SideAHighCurrent = 1;
                s.SideACpuFifo = 1;
                s.SideAVirtualComPort = 1;
                s.SideBOptoIsolate = 1;
                break;
            case ChipFamily::KR4:
                s.Kr4Present = 1;
                s.Kr4SerialNumberEnable = 1;
                s.Kr4IsFifo = fifo;
                s.Kr4HighCurrentIo = 1;
                s.InvertCts = 1;
                s.InvertDcd = 1;
                s.InEndpointSize = 32;
                s.C0Signal = fifo ? 13 : 10;
                s.C3Signal = fifo ? 13 : 12;
                s.C4Signal = fifo ? 1 : 9;
                break;
            default:
                break;
            }
            const EncodeResult result =
                EncodeImage(s, model.Selectors, geometry.Name, Clock2007, enc.WriteImage);
            ASSERT_TRUE(result.Fits);
            EepromImage image = enc.WriteImage;
            const bool kr3Large = model.Family == ChipFamily::KR3 && geometry.Words != 64;
            if (model.Family == ChipFamily::KR4) {
                // The chip's own EEPROM: factory words follow the 64 user words.
                image[66] = fifo ? 0x0001 : 0xFFFF;
            } else if (geometry.Words == 64) {
                // A 64-word part answers addresses 64 to 127 with words 0 to 63.
                for (std::size_t w = 64; w < 128; ++w) {
                    image[w] = image[w - 64];
                }
            }

            for (const int mode : {0, 1}) {
                SCOPED_TRACE(mode);
                CodecState st;
                const Decoded d = Decode(st, mode, image, {std::uint32_t(model.DeviceTypeCode)},
                                         mode == 0 ? model.Selectors : FamilySelectors{},
                                         std::string(geometry.Name));
                ASSERT_EQ(d.Verdict, Programmed);
                EXPECT_EQ(d.Selectors, model.Selectors);
                const std::string_view name =
                    kr3Large    ? (geometry.Words == 128 ? Eeprom93C56 : Eeprom93C66)
                    : mode == 0 ? geometry.Name
                                : Eeprom93C46;
                EXPECT_EQ(d.EepromTypeName, name);
                EXPECT_EQ(FieldLines(st.Settings), FieldLines(s));
            }
        }
    }
}

} // namespace
} // namespace burnwise::codec
