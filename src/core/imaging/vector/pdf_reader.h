#pragma once

// PDF designs in, one page drawn through poppler at 72 pixels to the inch
// times the render options' scale: a page of 1440 x 900 points (the usual
// export of a 1440 x 900 pixel artboard) gives 1440 x 900 pixels at scale 1.
// The page's crop box and rotation hold; paper is white.
//
// A file poppler cannot open gives "PDF document is not valid (REASON)", one
// locked by a password is refused with that reason, a page past the last
// says how many there are, and a drawing larger than the pixel limit is
// refused before it is drawn.

#include "core/imaging/bitmap.h"
#include "core/imaging/vector/vector_render.h"

#include <cstdint>
#include <span>

namespace sw {

// The number of pages, for a choice of page; throws as reading does.
int PdfPageCount(std::span<const uint8_t> bytes);

// Page render.Page as a 24-bit bitmap. On failure the bitmap is left as it was.
void ReadPdfBitmap(std::span<const uint8_t> bytes, const TRenderOptions& render, TBitmap& bitmap);

} // namespace sw
