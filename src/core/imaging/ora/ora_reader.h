#pragma once

// OpenRaster designs in (.ora: a zip archive read through libzip). The
// picture is the archive's mergedimage.png, the flattened design, read by the
// PNG reader (translucent pixels onto white); the design record holds the
// layers of stack.xml with their rectangles (position from stack.xml, size
// from each layer's PNG header), names, visibility and opacity. OpenRaster
// has no guides, slices or text layers.
//
// A damaged archive or stack.xml gives "OpenRaster image is not valid
// (REASON)"; an archive without mergedimage.png is refused, as this reader
// does not compose the layers itself. No entry is read past 256 MB, and
// memory grows only with the bytes an entry really inflates to.

#include "core/base/stream.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/layered_design.h"

#include <cstdint>
#include <span>

namespace sw {

// The layers, bottom first, each group (a nested stack) just before the
// layers inside it. Throws EInvalidGraphic.
TLayeredDesign ReadOraDesign(std::span<const uint8_t> bytes);

// mergedimage.png as a 24-bit bitmap. On failure the bitmap is left as it was.
void ReadOraComposite(std::span<const uint8_t> bytes, TBitmap& bitmap);

// Reads the rest of the stream as an OpenRaster file into a 24-bit bitmap:
// the reading function of the picture loader.
void LoadOraBitmap(TStream& stream, TBitmap& bitmap);

} // namespace sw
