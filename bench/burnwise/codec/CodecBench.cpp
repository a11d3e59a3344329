// Encoding and decoding one image, for the worked KR2 record on a 93C46 and a KR3 record
// on a 93C56 (which moves its strings and checksums 127 words).

#include "burnwise/codec/CodecState.h"
#include "burnwise/codec/ImageDecoder.h"
#include "burnwise/codec/ImageDump.h"
#include "burnwise/codec/ImageEncoder.h"

#include <benchmark/benchmark.h>

namespace {

using namespace burnwise::codec;

const FixedUtcClock Clock({2007, 6, 15, 12, 34, 56});

class FixedTypeSource final : public DeviceTypeSource {
public:
    explicit FixedTypeSource(std::uint32_t code) : code_(code) {}
    std::uint32_t DeviceTypeCode() override { return code_; }

private:
    std::uint32_t code_;
};

struct Setup {
    FamilySelectors Selectors;
    const char* Eeprom;
    std::uint32_t TypeCode;
};

const Setup Setups[] = {
    {{.Kr2Selected = true}, "93C46", VQ_TYPE_KR2},
    {{.Kr3Selected = true}, "93C56", VQ_TYPE_KR3},
};

void Fill(CodecState& st, const Setup& setup) {
    EepromSettings& s = st.Settings;
    s.VendorId = 0x1234;
    s.ProductId = 0x5678;
    SetText(s.Manufacturer, "AB");
    SetText(s.ProductDescription, "CD");
    SetText(s.SerialNumber, "XY000001");
    s.MaxPowerMilliAmps = 100;
    s.PlugAndPlay = 1;
    s.Kr2Present = setup.Selectors.Kr2Selected;
    s.Kr3Present = setup.Selectors.Kr3Selected;
    s.Kr2SerialNumberEnable = s.Kr3SerialNumberEnable = 1;
    s.Kr2UsbVersionEnable = 1;
    s.Kr2UsbVersion = 0x0200;
    st.Selectors = setup.Selectors;
    st.EepromTypeName = setup.Eeprom;
}

void BM_Encode(benchmark::State& state) {
    const Setup& setup = Setups[state.range(0)];
    CodecState st;
    Fill(st, setup);
    for (auto _ : state) {
        EncodeResult result =
            EncodeImage(st.Settings, st.Selectors, st.EepromTypeName, Clock, st.WriteImage);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(st.WriteImage);
    }
    state.SetLabel(std::string(setup.Eeprom) + (setup.Selectors.Kr3Selected ? " KR3" : " KR2"));
}

void BM_Decode(benchmark::State& state) {
    const Setup& setup = Setups[state.range(0)];
    CodecState st;
    Fill(st, setup);
    EncodeImage(st.Settings, st.Selectors, st.EepromTypeName, Clock, st.ReadImage);
    FixedTypeSource types(setup.TypeCode);
    for (auto _ : state) {
        // Read and Parse: the record is reset and the device examined from scratch.
        const int verdict = DecodeImage(DecodeFromScratch, st.ReadImage, st.Selectors,
                                        st.EepromTypeName, st.Settings, types);
        if (verdict != Programmed) state.SkipWithError("the image did not decode");
        benchmark::DoNotOptimize(st.Settings);
    }
    state.SetLabel(std::string(setup.Eeprom) + (setup.Selectors.Kr3Selected ? " KR3" : " KR2"));
}

void BM_Dump(benchmark::State& state) {
    CodecState st;
    Fill(st, Setups[1]);
    EncodeImage(st.Settings, st.Selectors, st.EepromTypeName, Clock, st.ReadImage);
    for (auto _ : state) {
        auto lines = DumpImage(st.ReadImage, st.Selectors);
        benchmark::DoNotOptimize(lines);
    }
}

BENCHMARK(BM_Encode)->Arg(0)->Arg(1);
BENCHMARK(BM_Decode)->Arg(0)->Arg(1);
BENCHMARK(BM_Dump);

} // namespace

BENCHMARK_MAIN();
