#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace burnwise::labels {

// The symbol the barcode box is filled with.
enum class Symbology { Code128, DataMatrix, QrCode };

// "code128", "datamatrix" or "qrcode", as a layout's barcode box names it.
std::optional<Symbology> ParseSymbology(std::string_view name);
const char* SymbologyName(Symbology kind);

// The fields a layout's texts may hold, written in braces: "{serial}".
inline constexpr std::array<std::string_view, 10> FieldNames = {
    "serial", "product",  "manufacturer", "vid",  "pid",
    "model",  "template", "station",      "date", "time"};

// A field's value by its name; texts are UTF-8, as the records keep them.
using FieldValues = std::map<std::string, std::string, std::less<>>;

// No label stock is this long or wide; a bigger page is a mistake or an attack on memory.
inline constexpr double MaxPageMm = 300.0;
// A layout is a drawing of one small label, far below this.
inline constexpr std::size_t MaxLayoutBytes = 1024 * 1024;

// A label layout: an SVG drawing whose texts may hold fields, with one rectangle of the id
// "barcode" that the serial number's symbol replaces. Only what the drawing holds itself is
// drawn: a layout that names anything outside it (a file, a web address, an entity) or
// carries a script is refused, so printing a label never reaches beyond the layout.
class LabelLayout {
public:
    // Reads and checks the layout file. Nothing with `error` set to one line naming what is
    // wrong (the file's path first).
    static std::optional<LabelLayout> Load(const std::filesystem::path& file, std::string& error);
    // Checks a layout's text; `error` names what is wrong, without a path.
    static std::optional<LabelLayout> Parse(std::string svg, std::string& error);

    double WidthMm() const { return widthMm_; }
    double HeightMm() const { return heightMm_; }
    Symbology Symbol() const { return symbol_; }
    const std::string& Svg() const { return svg_; }
    // The file it was loaded from (absolute), or empty.
    const std::filesystem::path& Path() const { return path_; }

private:
    std::string svg_;
    std::filesystem::path path_;
    double widthMm_ = 0;
    double heightMm_ = 0;
    Symbology symbol_ = Symbology::Code128;
};

} // namespace burnwise::labels
