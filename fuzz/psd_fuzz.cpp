// PSD reading path: any bytes give a design record and a composite, or a
// clean exception, within the reader's own bounds.
#include "core/base/errors.h"
#include "core/imaging/psd/psd_reader.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

// Pictures above this size are skipped before decoding, for speed only:
// the reader's own limit is tested apart.
constexpr uint32_t kFuzzMaxSide = 2048;

uint32_t U32At(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    try {
        sw::ReadPsdDesign(bytes);
    } catch (const sw::EInvalidGraphic&) { }
    // Height and width sit at bytes 14..21 of the header.
    if (size >= 22 && (U32At(data + 14) > kFuzzMaxSide || U32At(data + 18) > kFuzzMaxSide))
        return 0;
    try {
        sw::TBitmap bitmap;
        sw::ReadPsdComposite(bytes, bitmap);
    } catch (const sw::EInvalidGraphic&) { }
    return 0;
}
