#pragma once

// PSD designs in, by our own bounded reader. Two things come out of a file:
// the composite the file stores (the flattened design, which is the picture)
// and a plain record of the design around it: guides, slices and layers, for
// the editor's cut lines, its cut suggestions and the cells' alternative text.
//
// Read: colour modes bitmap, greyscale, indexed, RGB and CMYK at 1, 8 and 16
// bits per channel, composites stored raw or RLE. Refused with a message that
// says so: PSB (large document) files, 32-bit channels, Lab, duotone and
// multichannel modes, zip-compressed composites, and files saved without
// their composite (this reader does not compose the layers itself). A
// damaged or truncated file gives "PSD image is not valid (REASON)"; a
// picture over kMaxPicturePixels gives PictureTooLargeMessage before
// anything is allocated for it.

#include "core/base/stream.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/layered_design.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sw {

// True when bytes start with the PSD (or PSB) signature "8BPS".
bool IsPsdSignature(std::span<const uint8_t> bytes);

// The design record of a whole PSD file: size, guides, slices and layer
// records (names from the Unicode name when there is one, text from the
// type tool's descriptor). The pixels are not decoded. Throws
// EInvalidGraphic for a file it refuses, as described above; a text layer
// whose text data cannot be read keeps an empty Text rather than failing.
TLayeredDesign ReadPsdDesign(std::span<const uint8_t> bytes);

// The stored composite as a 24-bit bitmap. Extra channels (alpha, spot
// colours) are left out: the stored colour is the design as shown over
// white. 16-bit samples keep their high byte; CMYK becomes RGB by
// R = (255 - C) x (255 - K) / 255 (likewise G with M, B with Y), no colour
// profile applied. On failure the bitmap is left as it was.
void ReadPsdComposite(std::span<const uint8_t> bytes, TBitmap& bitmap);

// Reads the rest of the stream as a PSD file into a 24-bit bitmap: the
// reading function of the picture loader.
void LoadPsdBitmap(TStream& stream, TBitmap& bitmap);

} // namespace sw
