#pragma once

#include "burnwise/labels/LabelLayout.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace burnwise::labels {

// A symbol as dark rectangles on a grid of modules, its quiet zone included: the symbol's
// own area starts at (QuietX, QuietY).
struct SymbolShape {
    struct Bar {
        double X, Y, Width, Height;
    };
    double Width = 0;  // modules, quiet zone included
    double Height = 0; // modules (a linear symbol: its bars' height, stretched to fit)
    bool Linear = false;
    std::vector<Bar> Bars;
};

// Encodes `data` (8-bit bytes) as a symbol of `kind`. Nothing with `error` set when the
// data cannot be encoded (empty, too long for the kind).
std::optional<SymbolShape> MakeSymbol(Symbology kind, std::string_view data, std::string& error);

} // namespace burnwise::labels
