#pragma once

#include "burnwise/codec/ChipModels.h"
#include "burnwise/codec/EepromImage.h"
#include "burnwise/codec/EepromSettings.h"

#include <string>

namespace burnwise::codec {

// The codec's share of Burnwise's program-wide state: the one settings record with its
// text area, the write and read images, the family selectors and the fitted EEPROM's
// name. One instance per program (or per test); not copyable, since the record points
// into its own text area.
struct CodecState {
    SettingsTextArea Texts;
    EepromSettings Settings;
    EepromImage WriteImage{};
    EepromImage ReadImage{};
    FamilySelectors Selectors;
    std::string EepromTypeName; // "93C46", "93C56", "93C66", "Unknown", or empty before detection

    CodecState() { Settings.AttachBuffers(Texts); }
    CodecState(const CodecState&) = delete;
    CodecState& operator=(const CodecState&) = delete;

    // Takes over `from` whole; the record goes on pointing into this state's own text area.
    void CopyFrom(const CodecState& from) {
        Texts = from.Texts;
        Settings = from.Settings;
        Settings.AttachBuffers(Texts);
        WriteImage = from.WriteImage;
        ReadImage = from.ReadImage;
        Selectors = from.Selectors;
        EepromTypeName = from.EepromTypeName;
    }
};

} // namespace burnwise::codec
