#include "CodecCommands.h"

#include "burnwise/cli/ImageFile.h"
#include "burnwise/cli/SettingsFile.h"
#include "burnwise/cli/TemplateCommands.h"
#include "burnwise/codec/CodecState.h"
#include "burnwise/codec/ImageDecoder.h"
#include "burnwise/codec/ImageDump.h"
#include "burnwise/codec/ImageEncoder.h"
#include "burnwise/codec/TextEscape.h"

#include <cstdint>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace burnwise::cli {
namespace {

constexpr int BadInputStatus = 2;

// Runs a command body, turning an InputError into the exit status for bad input.
CLI::App* Command(CLI::App* sub, std::function<void()> body) {
    sub->callback([body = std::move(body)] {
        try {
            body();
        } catch (const InputError& e) {
            throw CLI::RuntimeError(e.what(), BadInputStatus);
        }
    });
    return sub;
}

// Answers the decoder's device type queries with one code and counts them.
class CountingTypeSource final : public codec::DeviceTypeSource {
public:
    explicit CountingTypeSource(std::uint32_t code) : code_(code) {}
    std::uint32_t DeviceTypeCode() override {
        ++Queries;
        return code_;
    }
    int Queries = 0;

private:
    std::uint32_t code_;
};

void PrintLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        std::cout << line << '\n';
}

struct EncodeOptions {
    std::string File;
    std::string Template;
    std::string Format = "words";
    std::string Utc;
    int DeviceNumber = 0;
    std::optional<std::string> Eeprom;
};

void RunEncode(const EncodeOptions& o) {
    codec::CodecState state;
    std::optional<codec::UtcTime> utc;
    if (!o.Template.empty()) {
        std::string error;
        if (!LoadTemplateForEncode(o.Template, o.DeviceNumber, o.Eeprom, state, error)) {
            throw InputError(error); // empty when the form's error box has said why
        }
    } else if (!o.File.empty()) {
        utc = ReadSettingsFile(o.File, state).Utc;
        if (o.Eeprom) state.EepromTypeName = *o.Eeprom;
    } else {
        throw InputError("encode needs a settings FILE or --template FILE");
    }
    if (!o.Utc.empty()) utc = ParseUtc(o.Utc);

    const codec::SystemUtcClock systemClock;
    const codec::FixedUtcClock fixedClock(utc.value_or(codec::UtcTime{}));
    const codec::UtcClock& clock = utc ? static_cast<const codec::UtcClock&>(fixedClock)
                                       : static_cast<const codec::UtcClock&>(systemClock);
    const codec::EncodeResult result = codec::EncodeImage(
        state.Settings, state.Selectors, state.EepromTypeName, clock, state.WriteImage);

    if (o.Format == "bin") {
        WriteImageBytes(std::cout, state.WriteImage);
    } else if (o.Format == "dump") {
        PrintLines(codec::DumpImage(state.WriteImage, state.Selectors));
    } else {
        WriteImageWords(std::cout, state.WriteImage);
        std::cout << "Serial=" << codec::EscapeText(result.Serial) << '\n'
                  << "Fits=" << (result.Fits ? 1 : 0) << '\n';
    }
    std::cout.flush();
}

struct DecodeOptions {
    std::string File;
    int Mode = 0;
    std::uint32_t TypeCode = 0;
    std::string Selectors;
    std::string Eeprom;
};

void RunDecode(const DecodeOptions& o) {
    codec::CodecState state;
    state.ReadImage = ReadImageFile(o.File);
    state.Selectors = ParseSelectors(o.Selectors);
    state.EepromTypeName = o.Eeprom;
    CountingTypeSource types(o.TypeCode);
    const int verdict = codec::DecodeImage(o.Mode, state.ReadImage, state.Selectors,
                                           state.EepromTypeName, state.Settings, types);

    std::cout << "Verdict=" << verdict << '\n'
              << "Selectors=" << FormatSelectors(state.Selectors) << '\n'
              << "EepromTypeName=" << codec::EscapeText(state.EepromTypeName) << '\n'
              << "TypeCodeQueries=" << types.Queries << '\n';
    codec::ForEachField(state.Settings, [](std::string_view name, const auto& field) {
        std::cout << name << '=';
        if constexpr (std::is_same_v<std::decay_t<decltype(field)>, codec::TextBuffer>) {
            std::cout << codec::EscapeText(codec::TextOf(field));
        } else {
            std::cout << static_cast<unsigned>(field);
        }
        std::cout << '\n';
    });
    std::cout.flush();
}

void RunDump(const std::string& file, const std::string& selectors) {
    const codec::EepromImage image = ReadImageFile(file);
    PrintLines(codec::DumpImage(image, ParseSelectors(selectors)));
    std::cout.flush();
}

const std::vector<std::string> EepromNames{"93C46", "93C56", "93C66", "Unknown", ""};

} // namespace

void AddCodecCommands(CLI::App& app) {
    auto encode = std::make_shared<EncodeOptions>();
    CLI::App* e = Command(
        app.add_subcommand("encode", "Encode a settings file (or a template) into an image"),
        [encode] { RunEncode(*encode); });
    CLI::Option* file = e->add_option("FILE", encode->File, "Settings file of Name=value lines");
    CLI::Option* templ =
        e->add_option("--template", encode->Template, "Encode from a template file instead");
    file->excludes(templ);
    e->add_option("--format", encode->Format, "words (default), dump or bin")
        ->check(CLI::IsMember({"words", "dump", "bin"}));
    e->add_option("--utc", encode->Utc,
                  "Clock for a generated serial number, YYYY-MM-DDTHH:MM:SS (default: now)");
    e->add_option("--device-number", encode->DeviceNumber,
                  "Device number within the run (with --template; default 0)")
        ->needs(templ)
        ->check(CLI::NonNegativeNumber);
    e->add_option("--eeprom", encode->Eeprom, "EEPROM type name")
        ->check(CLI::IsMember(EepromNames));

    auto decode = std::make_shared<DecodeOptions>();
    CLI::App* d = Command(app.add_subcommand("decode", "Judge and decode an image"),
                          [decode] { RunDecode(*decode); });
    d->add_option("FILE", decode->File, "256-byte image or the words text form")->required();
    d->add_option("--mode", decode->Mode, "1: examine from scratch; 0: keep the chip type")
        ->required()
        ->check(CLI::IsMember({0, 1}));
    d->add_option("--type-code", decode->TypeCode,
                  "Device type code the driver reports (default 0)");
    d->add_option("--selectors", decode->Selectors, "Family selectors before decoding");
    d->add_option("--eeprom", decode->Eeprom, "EEPROM type name before decoding")
        ->check(CLI::IsMember(EepromNames));

    auto dump = std::make_shared<std::pair<std::string, std::string>>();
    CLI::App* u = Command(app.add_subcommand("dump", "Show an image as hexadecimal lines"),
                          [dump] { RunDump(dump->first, dump->second); });
    u->add_option("FILE", dump->first, "256-byte image or the words text form")->required();
    u->add_option("--selectors", dump->second, "Family selectors in force");
}

} // namespace burnwise::cli
