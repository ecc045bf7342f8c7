#include "core/imaging/vector/svg_reader.h"

#include "core/base/errors.h"

#include <cairo.h>
#include <gio/gio.h>
#include <librsvg/rsvg.h>

#include <memory>
#include <string>
#include <vector>

namespace sw {

namespace {

constexpr char kKind[] = "SVG image";

[[noreturn]] void Invalid(const std::string& reason)
{
    throw EInvalidGraphic(std::string(kKind) + " is not valid (" + reason + ")");
}

struct TUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct TSurfaceDestroy {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct TCairoDestroy {
    void operator()(cairo_t* cairo) const { cairo_destroy(cairo); }
};

// Takes the error's text and frees it.
std::string ErrorText(GError* error)
{
    std::string text = error && error->message ? error->message : "unknown error";
    g_clear_error(&error);
    // librsvg's parse errors end in a line break.
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

using THandle = std::unique_ptr<RsvgHandle, TUnref>;

// Parsed without a base address, so nothing outside the bytes is read, and
// without RSVG_HANDLE_FLAG_UNLIMITED, so libxml2's size limits hold.
THandle ParseSvg(std::span<const uint8_t> bytes)
{
    if (bytes.empty())
        Invalid("the file is empty");
    THandle handle(rsvg_handle_new_with_flags(RSVG_HANDLE_FLAGS_NONE));
    std::unique_ptr<GInputStream, TUnref> stream(
        g_memory_input_stream_new_from_data(bytes.data(), gssize(bytes.size()), nullptr));
    GError* error = nullptr;
    if (!rsvg_handle_read_stream_sync(handle.get(), stream.get(), nullptr, &error))
        Invalid(ErrorText(error));
    rsvg_handle_set_dpi(handle.get(), 96);
    return handle;
}

TSvgSize NominalSize(RsvgHandle* handle)
{
    gdouble width = 0;
    gdouble height = 0;
    if (rsvg_handle_get_intrinsic_size_in_pixels(handle, &width, &height))
        return { width, height };
    // Width or height missing or in percent: the viewBox is the size a
    // browser would give a picture of it.
    gboolean hasWidth = FALSE;
    gboolean hasHeight = FALSE;
    gboolean hasViewBox = FALSE;
    RsvgLength lengthWidth {};
    RsvgLength lengthHeight {};
    RsvgRectangle viewBox {};
    rsvg_handle_get_intrinsic_dimensions(
        handle, &hasWidth, &lengthWidth, &hasHeight, &lengthHeight, &hasViewBox, &viewBox);
    if (hasViewBox)
        return { viewBox.width, viewBox.height };
    Invalid("no size: the root has neither a width and height nor a viewBox");
}

} // namespace

TSvgSize ReadSvgSize(std::span<const uint8_t> bytes)
{
    const THandle handle = ParseSvg(bytes);
    return NominalSize(handle.get());
}

void ReadSvgBitmap(std::span<const uint8_t> bytes, const TRenderOptions& render, TBitmap& bitmap)
{
    const THandle handle = ParseSvg(bytes);
    const TSvgSize nominal = NominalSize(handle.get());
    const TRenderSize size = RenderSize(nominal.Width, nominal.Height, render.Scale, kKind);
    // Cairo's image surfaces stop here whatever the pixel count.
    constexpr int kMaxSide = 32767;
    if (size.Width > kMaxSide || size.Height > kMaxSide)
        throw EInvalidGraphic(
            Format("%s is not supported (%d x %d pixels; drawings stop at %d pixels a side)", kKind,
                size.Width, size.Height, kMaxSide));

    const std::unique_ptr<cairo_surface_t, TSurfaceDestroy> surface(
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, size.Width, size.Height));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        throw EOutOfResources("Out of memory");
    {
        const std::unique_ptr<cairo_t, TCairoDestroy> cairo(cairo_create(surface.get()));
        cairo_set_source_rgb(cairo.get(), 1, 1, 1);
        cairo_paint(cairo.get());
        const RsvgRectangle viewport { 0, 0, double(size.Width), double(size.Height) };
        GError* error = nullptr;
        if (!rsvg_handle_render_document(handle.get(), cairo.get(), &viewport, &error))
            Invalid(ErrorText(error));
    }
    cairo_surface_flush(surface.get());

    // Cairo's RGB24 pixels are native 32-bit words 0x00RRGGBB.
    const uint8_t* data = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    TBitmap result;
    result.SetPixelFormat(TPixelFormat::pf24bit);
    result.SetSizeForOverwrite(size.Width, size.Height);
    for (int y = 0; y < size.Height; ++y) {
        const auto* in = reinterpret_cast<const uint32_t*>(data + ptrdiff_t(y) * stride);
        uint8_t* out = result.ScanLine(y);
        for (int x = 0; x < size.Width; ++x, out += 3) {
            out[0] = uint8_t(in[x]);
            out[1] = uint8_t(in[x] >> 8);
            out[2] = uint8_t(in[x] >> 16);
        }
    }
    bitmap.Assign(result);
}

} // namespace sw
