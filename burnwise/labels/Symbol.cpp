#include "burnwise/labels/Symbol.h"

#include <memory>
#include <zint.h>

namespace burnwise::labels {
namespace {

struct SymbolDeleter {
    void operator()(zint_symbol* symbol) const { ZBarcode_Delete(symbol); }
};

// The quiet zone each kind needs around it, in modules: Code 128 ten on either side of the
// bars, QR Code four all round, Data Matrix one (two here, which readers find easier).
struct Kind {
    int Zint;
    double QuietX;
    double QuietY;
};

Kind KindOf(Symbology kind) {
    switch (kind) {
    case Symbology::DataMatrix:
        return {BARCODE_DATAMATRIX, 2, 2};
    case Symbology::QrCode:
        return {BARCODE_QRCODE, 4, 4};
    case Symbology::Code128:
        break;
    }
    return {BARCODE_CODE128, 10, 0};
}

} // namespace

std::optional<SymbolShape> MakeSymbol(Symbology kind, std::string_view data, std::string& error) {
    if (data.empty()) {
        error = "no serial number for the barcode";
        return std::nullopt;
    }
    const Kind k = KindOf(kind);
    const std::unique_ptr<zint_symbol, SymbolDeleter> symbol(ZBarcode_Create());
    if (!symbol) {
        error = "out of memory for the barcode";
        return std::nullopt;
    }
    symbol->symbology = k.Zint;
    symbol->input_mode = DATA_MODE; // the serial's bytes as they are
    symbol->show_hrt = 0;           // the layout prints the serial as text where it wants
    // The same data always gives the same symbol: a reprint matches the first label.
    if (kind == Symbology::DataMatrix) symbol->option_3 = DM_SQUARE;
    const int status = ZBarcode_Encode_and_Buffer_Vector(
        symbol.get(), reinterpret_cast<const unsigned char*>(data.data()), int(data.size()), 0);
    if (status >= ZINT_ERROR || !symbol->vector || symbol->width <= 0 || symbol->rows <= 0) {
        error = std::string("the serial number cannot be written as ") + SymbologyName(kind) +
                ": " + symbol->errtxt;
        return std::nullopt;
    }
    const zint_vector& vector = *symbol->vector;
    // The vector is drawn in units of its own; one module is its width over the modules.
    const double unit = vector.width / symbol->width;
    if (!(unit > 0)) {
        error = "the barcode library drew an empty symbol";
        return std::nullopt;
    }
    SymbolShape shape;
    shape.Linear = kind == Symbology::Code128;
    shape.Width = symbol->width + 2 * k.QuietX;
    shape.Height = vector.height / unit + 2 * k.QuietY;
    for (const zint_vector_rect* r = vector.rectangles; r; r = r->next) {
        // Coloured rectangles are never made for these kinds; only dark ones are bars.
        if (r->colour != -1) continue;
        shape.Bars.push_back(
            {r->x / unit + k.QuietX, r->y / unit + k.QuietY, r->width / unit, r->height / unit});
    }
    return shape;
}

} // namespace burnwise::labels
