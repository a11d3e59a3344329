#pragma once

#include "burnwise/labels/LabelLayout.h"

#include <optional>
#include <string>

namespace burnwise::labels {

// PDF for printing (the page is the layout's size), PNG for a preview.
enum class PageFormat { Pdf, Png };

// The resolution of a PNG preview: a thermal label printer's finest, so a preview shows
// the bars as the printer will.
inline constexpr double PreviewDpi = 300;

// The layout with `values` in its fields and the symbol of values["serial"] in its barcode
// box, as a PDF or PNG file's bytes. Nothing with `error` set when the serial cannot be
// encoded or the drawing cannot be rendered.
std::optional<std::string> RenderLabel(const LabelLayout& layout, const FieldValues& values,
                                       PageFormat format, std::string& error,
                                       double dpi = PreviewDpi);

// The layout's SVG with the fields and the symbol in place: what RenderLabel draws.
std::optional<std::string> FillLayout(const LabelLayout& layout, const FieldValues& values,
                                      std::string& error);

} // namespace burnwise::labels
