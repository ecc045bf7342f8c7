// OpenRaster reading path: any bytes give a layer record and a picture, or a
// clean exception, within the reader's own bounds.
#include "core/base/errors.h"
#include "core/imaging/ora/ora_reader.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    try {
        sw::ReadOraDesign(bytes);
    } catch (const sw::EInvalidGraphic&) { }
    try {
        sw::TBitmap bitmap;
        sw::ReadOraComposite(bytes, bitmap);
    } catch (const sw::EInvalidGraphic&) { }
    return 0;
}
