// PDF reading path: any bytes give a page count and a drawing of the first
// page within the pixel limit, or a clean exception.
#include "core/base/errors.h"
#include "core/imaging/vector/pdf_reader.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    try {
        sw::PdfPageCount(bytes);
        sw::TBitmap bitmap;
        sw::ReadPdfBitmap(bytes, {}, bitmap);
    } catch (const sw::EInvalidGraphic&) { }
    return 0;
}
