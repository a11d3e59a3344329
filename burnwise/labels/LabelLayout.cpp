#include "burnwise/labels/LabelLayout.h"

#include "burnwise/labels/LayoutDocument.h"
#include "common/FileAccess.h"

namespace burnwise::labels {

std::optional<Symbology> ParseSymbology(std::string_view name) {
    if (name == "code128") return Symbology::Code128;
    if (name == "datamatrix") return Symbology::DataMatrix;
    if (name == "qrcode") return Symbology::QrCode;
    return std::nullopt;
}

const char* SymbologyName(Symbology kind) {
    switch (kind) {
    case Symbology::DataMatrix:
        return "datamatrix";
    case Symbology::QrCode:
        return "qrcode";
    case Symbology::Code128:
        break;
    }
    return "code128";
}

std::optional<LabelLayout> LabelLayout::Load(const std::filesystem::path& file,
                                             std::string& error) {
    std::string readError;
    std::optional<std::string> bytes = common::ReadFileBounded(file, MaxLayoutBytes, readError);
    if (!bytes) {
        error = "cannot read the label layout " + file.string() + ": " + readError;
        return std::nullopt;
    }
    std::optional<LabelLayout> layout = Parse(std::move(*bytes), error);
    if (!layout) {
        error = "label layout " + file.string() + ": " + error;
        return layout;
    }
    std::error_code ignored;
    layout->path_ = std::filesystem::absolute(file, ignored);
    return layout;
}

std::optional<LabelLayout> LabelLayout::Parse(std::string svg, std::string& error) {
    if (svg.size() > MaxLayoutBytes) {
        error = "a layout has at most " + std::to_string(MaxLayoutBytes) + " bytes";
        return std::nullopt;
    }
    const std::optional<LayoutDocument> document = LayoutDocument::Read(svg, error);
    if (!document) return std::nullopt;
    LabelLayout layout;
    layout.svg_ = std::move(svg);
    layout.widthMm_ = document->Facts().WidthMm;
    layout.heightMm_ = document->Facts().HeightMm;
    layout.symbol_ = document->Facts().Symbol;
    return layout;
}

} // namespace burnwise::labels
