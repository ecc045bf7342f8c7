#pragma once

// The transparency step of TGIFSubImage::Assign, the way in for making a
// frame from a bitmap (gif_frame_assign.cpp).

#include "core/imaging/gif/color_reduction.h"
#include "core/imaging/gif/gif_image.h"

namespace sw {

// Sorts the frame's colours by use, then appends a black entry for the
// masked pixels and points them at it, with a graphic control extension
// marking it transparent. No transparency when the table is empty or full;
// the entry is removed again when no pixel is masked.
void ApplyTransparencyMask(TGIFSubImage& frame, const TTransparencyMask& mask);

} // namespace sw
