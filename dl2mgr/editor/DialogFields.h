#pragma once

#include "dl2mgr/editor/KeyerImage.h"
#include "dl2mgr/editor/MessageCoding.h"

#include <array>
#include <cstdint>
#include <string>

namespace dl2mgr::editor {

// Items of the editor's four lists, in list order.
inline constexpr std::array<const char*, 6> KeyerModeItems = {"Iambic A", "Iambic B", "Ultimatic",
                                                              "UltimDit", "UltimDah", "VibroBug"};
inline constexpr std::array<const char*, 4> PaddleHangItems = {"1.0 Word", "1.3 Word", "1.6 Word",
                                                               "2.0 Word"};
// Item i is stored as Sidetone i + 1; the text is 4000 / (i + 1) Hz, fraction dropped.
inline constexpr std::array<const char*, 10> SidetoneItems = {
    "4000", "2000", "1333", "1000", "800", "666", "571", "500", "444", "400"};
struct OutputConfigItem {
    const char* Text;
    std::uint8_t Lines; // OutputConfig bits 3..0
};
inline constexpr std::array<OutputConfigItem, 8> OutputConfigItems = {{
    {"Port1", 4},
    {"Port1, ST", 6},
    {"Port1, PTT", 5},
    {"Port1, ST, PTT", 7},
    {"Port2", 8},
    {"Port2, ST", 10},
    {"Port2, PTT", 9},
    {"Port2, ST, PTT", 11},
}};

inline constexpr int NoSelection = -1;

// The editor dialog's controls as they look after being filled from an image: number boxes
// as decimal texts, list selections as item indexes (NoSelection when the image holds a
// value no item has), ticks, and the six messages.
struct DialogFields {
    std::string Weight, LeadIn, Tail, FirstExt, KeyComp, Farns, Sample, Ratio, CmdWpm;
    std::string Max, Min; // Max shows MinWpm + WpmRange
    int KeyerMode = NoSelection;
    int PaddleHang = NoSelection;
    int OutputConfig = NoSelection;
    int Sidetone = NoSelection;
    bool Swap = false, AutoSpace = false, CtSpace = false, PaddleDog = false;
    bool Cut09 = false, MsgBrk = false;
    MessageTexts Messages;
};

DialogFields FieldsFromImage(const KeyerImage& image);

} // namespace dl2mgr::editor
