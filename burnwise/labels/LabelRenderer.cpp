#include "burnwise/labels/LabelRenderer.h"

#include "burnwise/labels/LayoutDocument.h"
#include "burnwise/records/RecordText.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <cmath>
#include <gio/gio.h>
#include <librsvg/rsvg.h>
#include <memory>

namespace burnwise::labels {
namespace {

constexpr double PointsPerMm = 72.0 / 25.4;
// The largest page at 300 dots per inch, with room to spare: 64 MiB of pixels.
constexpr double MaxPreviewPixels = 16.0 * 1024 * 1024;

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const {
        if (p) Free(p);
    }
};
void UnrefObject(GObject* object) {
    g_object_unref(object);
}
using Surface = std::unique_ptr<cairo_surface_t, Deleter<cairo_surface_t, cairo_surface_destroy>>;
using Context = std::unique_ptr<cairo_t, Deleter<cairo_t, cairo_destroy>>;
using Object = std::unique_ptr<GObject, Deleter<GObject, UnrefObject>>;

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

bool TakeError(GError* failure, const char* what, std::string& error) {
    error = std::string(what) + ": " + (failure && failure->message ? failure->message : "failed");
    if (failure) g_error_free(failure);
    return false;
}

// Draws `svg` over the whole of `cr`'s page of `width` x `height` in the surface's units.
bool Draw(const std::string& svg, cairo_t* cr, double width, double height, std::string& error) {
    // No base file: the drawing is read as self-contained, so nothing it names can be
    // loaded from anywhere, on top of the layout's own checks.
    Object stream(
        G_OBJECT(g_memory_input_stream_new_from_data(svg.data(), gssize(svg.size()), nullptr)));
    GError* failure = nullptr;
    Object handle(G_OBJECT(rsvg_handle_new_from_stream_sync(
        G_INPUT_STREAM(stream.get()), nullptr, RSVG_HANDLE_FLAGS_NONE, nullptr, &failure)));
    if (!handle) return TakeError(failure, "the layout cannot be drawn", error);
    const RsvgRectangle viewport{0, 0, width, height};
    if (!rsvg_handle_render_document(RSVG_HANDLE(handle.get()), cr, &viewport, &failure))
        return TakeError(failure, "the layout cannot be drawn", error);
    return true;
}

std::string PdfDate(const FieldValues& values) {
    // The label's own date, not the moment it was drawn: a reprint is the same file.
    const auto date = values.find("date");
    const auto time = values.find("time");
    if (date == values.end() || time == values.end()) return {};
    return date->second + "T" + time->second;
}

// The barcode carries the serial number as the chip holds it, a byte a character; the
// record keeps it as UTF-8.
std::string ChipBytes(std::string_view utf8) {
    const std::optional<std::u32string> characters = records::DecodeUtf8(utf8);
    if (!characters) return std::string(utf8);
    std::string bytes;
    for (const char32_t c : *characters) {
        if (c > 0xFF) return std::string(utf8);
        bytes += char(c);
    }
    return bytes;
}

} // namespace

std::optional<std::string> FillLayout(const LabelLayout& layout, const FieldValues& values,
                                      std::string& error) {
    const auto serial = values.find("serial");
    const std::optional<SymbolShape> symbol = MakeSymbol(
        layout.Symbol(), serial == values.end() ? std::string() : ChipBytes(serial->second), error);
    if (!symbol) return std::nullopt;
    std::optional<LayoutDocument> document = LayoutDocument::Read(layout.Svg(), error);
    if (!document) return std::nullopt;
    return document->Fill(values, *symbol);
}

std::optional<std::string> RenderLabel(const LabelLayout& layout, const FieldValues& values,
                                       PageFormat format, std::string& error, double dpi) {
    const std::optional<std::string> svg = FillLayout(layout, values, error);
    if (!svg) return std::nullopt;
    std::string out;
    if (format == PageFormat::Pdf) {
        const double width = layout.WidthMm() * PointsPerMm;
        const double height = layout.HeightMm() * PointsPerMm;
        Surface surface(cairo_pdf_surface_create_for_stream(Append, &out, width, height));
        if (const std::string date = PdfDate(values); !date.empty())
            cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATE_DATE,
                                           date.c_str());
        Context cr(cairo_create(surface.get()));
        if (!Draw(*svg, cr.get(), width, height, error)) return std::nullopt;
        cairo_show_page(cr.get());
        cr.reset();
        cairo_surface_finish(surface.get());
        if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
            error = std::string("the label cannot be written as PDF: ") +
                    cairo_status_to_string(cairo_surface_status(surface.get()));
            return std::nullopt;
        }
        return out;
    }
    const double pixelsPerMm = dpi / 25.4;
    const int width = int(std::lround(layout.WidthMm() * pixelsPerMm));
    const int height = int(std::lround(layout.HeightMm() * pixelsPerMm));
    if (!(dpi > 0 && dpi <= 1200) || width < 1 || height < 1) {
        error = "a preview is drawn at 1 to 1200 dots per inch";
        return std::nullopt;
    }
    // A preview is held in memory whole: a big page at a fine resolution is refused rather
    // than allowed to take gigabytes.
    if (double(width) * double(height) > MaxPreviewPixels) {
        error = "a preview of " + std::to_string(width) + " x " + std::to_string(height) +
                " dots is too large; ask for fewer dots per inch";
        return std::nullopt;
    }
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
    Context cr(cairo_create(surface.get()));
    cairo_set_source_rgb(cr.get(), 1, 1, 1);
    cairo_paint(cr.get());
    if (!Draw(*svg, cr.get(), width, height, error)) return std::nullopt;
    cr.reset();
    if (cairo_surface_write_to_png_stream(surface.get(), Append, &out) != CAIRO_STATUS_SUCCESS) {
        error = "the preview cannot be written as PNG";
        return std::nullopt;
    }
    return out;
}

} // namespace burnwise::labels
