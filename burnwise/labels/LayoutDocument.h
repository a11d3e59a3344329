#pragma once

#include "burnwise/labels/LabelLayout.h"
#include "burnwise/labels/Symbol.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace burnwise::labels {

// What checking a layout found in it.
struct LayoutFacts {
    double WidthMm = 0;
    double HeightMm = 0;
    Symbology Symbol = Symbology::Code128;
    // The barcode box in the drawing's own units.
    double BoxX = 0, BoxY = 0, BoxWidth = 0, BoxHeight = 0;
};

// A layout's parsed drawing, checked: every rule about what a layout may hold is here, and
// filling works on the same tree the checks passed.
class LayoutDocument {
public:
    // Parses and checks `svg`; nothing with `error` set to what is wrong.
    static std::optional<LayoutDocument> Read(std::string_view svg, std::string& error);
    LayoutDocument(LayoutDocument&&) noexcept;
    LayoutDocument& operator=(LayoutDocument&&) noexcept;
    ~LayoutDocument();

    const LayoutFacts& Facts() const { return facts_; }

    // Puts the values into the fields, the symbol into the barcode box, and returns the
    // drawing as SVG text (UTF-8). A field without a value becomes empty.
    std::string Fill(const FieldValues& values, const SymbolShape& symbol);

private:
    struct Tree;
    LayoutDocument();
    std::unique_ptr<Tree> tree_;
    LayoutFacts facts_;
};

} // namespace burnwise::labels
