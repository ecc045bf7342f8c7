// SVG reading path: any bytes give a drawing within the pixel limit or a
// clean exception.
#include "core/base/errors.h"
#include "core/imaging/vector/svg_reader.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        sw::TBitmap bitmap;
        sw::ReadSvgBitmap(std::span<const uint8_t>(data, size), {}, bitmap);
    } catch (const sw::EInvalidGraphic&) { }
    return 0;
}
