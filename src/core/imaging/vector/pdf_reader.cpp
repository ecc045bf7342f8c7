#include "core/imaging/vector/pdf_reader.h"

#include "core/base/errors.h"
#include "core/base/pixel_limit.h"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace sw {

namespace {

constexpr char kKind[] = "PDF document";

[[noreturn]] void Invalid(const std::string& reason)
{
    throw EInvalidGraphic(std::string(kKind) + " is not valid (" + reason + ")");
}

// poppler prints what it finds wrong in a damaged file on standard error;
// the reader's own message says it once.
void QuietPoppler()
{
    static std::once_flag once;
    std::call_once(
        once, [] { poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr); });
}

// poppler keeps a pointer to the bytes: they must outlive the document.
std::unique_ptr<poppler::document> OpenPdf(std::span<const uint8_t> bytes)
{
    QuietPoppler();
    if (bytes.empty())
        Invalid("the file is empty");
    if (bytes.size() > size_t(INT_MAX))
        Invalid("larger than 2 GB");
    if (bytes.size() < 5 || std::memcmp(bytes.data(), "%PDF-", 5) != 0)
        Invalid("it does not start with %PDF-");
    std::unique_ptr<poppler::document> document(poppler::document::load_from_raw_data(
        reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size())));
    if (!document)
        Invalid("poppler cannot open it");
    if (document->is_locked())
        throw EInvalidGraphic(std::string(kKind) + " is not supported (it is locked by a password)");
    if (document->pages() < 1)
        Invalid("it has no pages");
    return document;
}

} // namespace

int PdfPageCount(std::span<const uint8_t> bytes)
{
    return OpenPdf(bytes)->pages();
}

void ReadPdfBitmap(std::span<const uint8_t> bytes, const TRenderOptions& render, TBitmap& bitmap)
{
    const std::unique_ptr<poppler::document> document = OpenPdf(bytes);
    const int pages = document->pages();
    if (render.Page < 1 || render.Page > pages)
        throw EInvalidGraphic(Format(
            "%s has %d page%s; there is no page %d", kKind, pages, pages == 1 ? "" : "s", render.Page));
    const std::unique_ptr<poppler::page> page(document->create_page(render.Page - 1));
    if (!page)
        Invalid(Format("page %d cannot be read", render.Page));

    const poppler::rectf box = page->page_rect(poppler::crop_box);
    double width = box.width();
    double height = box.height();
    const poppler::page::orientation_enum orientation = page->orientation();
    if (orientation == poppler::page::landscape || orientation == poppler::page::seascape)
        std::swap(width, height);
    const int scale = render.Scale < 1 ? 1 : render.Scale;
    RenderSize(width, height, scale, kKind);

    poppler::page_renderer renderer;
    renderer.set_render_hint(poppler::page_renderer::antialiasing);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing);
    renderer.set_image_format(poppler::image::format_bgr24);
    renderer.set_paper_color(0xffffffff);
    const double resolution = 72.0 * scale;
    const poppler::image image = renderer.render_page(page.get(), resolution, resolution);
    if (!image.is_valid() || image.width() <= 0 || image.height() <= 0)
        Invalid(Format("page %d cannot be drawn", render.Page));
    if (ExceedsPixelLimit(image.width(), image.height()))
        throw EInvalidGraphic(PictureTooLargeMessage(image.width(), image.height()));

    // BGR rows, each padded to a multiple of four bytes, as the bitmap's.
    TBitmap result;
    result.SetPixelFormat(TPixelFormat::pf24bit);
    result.SetSizeForOverwrite(image.width(), image.height());
    const char* data = image.const_data();
    const size_t rowBytes = size_t(image.width()) * 3;
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(result.ScanLine(y), data + ptrdiff_t(y) * image.bytes_per_row(), rowBytes);
    bitmap.Assign(result);
}

} // namespace sw
