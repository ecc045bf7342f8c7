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
// their composite (this reader does not compose the layers itself). A damaged or truncated file
// gives "PSD image is not valid (REASON)"; a picture over kMaxPicturePixels
// gives PictureTooLargeMessage before anything is allocated for it.

#include "core/base/stream.h"
#include "core/imaging/bitmap.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sw {

enum class TPsdColorMode : uint16_t {
    Bitmap = 0,
    Grayscale = 1,
    Indexed = 2,
    Rgb = 3,
    Cmyk = 4,
    Multichannel = 7,
    Duotone = 8,
    Lab = 9,
};

// A ruler guide. Guides may lie outside the canvas; the caller keeps those
// it can use as cut lines.
struct TPsdGuide {
    // A horizontal guide runs across the picture at a height (a row cut); a
    // vertical one at a distance from the left (a column cut).
    bool Horizontal = false;
    // In pixels, rounded to the nearest whole pixel.
    int Position = 0;
    // As stored, in 1/32 pixel.
    int32_t Position32 = 0;
    bool operator==(const TPsdGuide&) const = default;
};

struct TPsdSlice {
    // Drawn by the designer, made from a layer, or filled in around those.
    enum class TOrigin { Auto, Layer, User };
    int32_t Id = 0;
    TOrigin Origin = TOrigin::Auto;
    std::string Name;
    TRect Bounds;
    std::string Url;
    std::string Target;
    std::string Message;
    std::string Alt;
    std::string CellText;
};

struct TPsdLayer {
    // The layer's own name (its Unicode name when the file has one).
    std::string Name;
    // As stored: may reach outside the canvas, and is empty for a layer
    // without pixels of its own (a group, an adjustment).
    TRect Bounds;
    // The layer's own eye; Shown also needs every group around it visible.
    bool Visible = true;
    bool Shown = true;
    bool IsGroup = false;
    bool IsText = false;
    // A text layer's characters (lines end in '\r', as stored); empty when
    // the text data could not be read.
    std::string Text;
    // 0..255.
    int Opacity = 255;
    // Index in TPsdDesign::Layers of the group the layer is in, or -1.
    int Parent = -1;
};

struct TPsdDesign {
    int Width = 0;
    int Height = 0;
    int Channels = 0;
    int Depth = 0; // bits per channel
    TPsdColorMode Mode = TPsdColorMode::Rgb;
    // False when the file was saved without its composite: the stored one
    // is blank, and ReadPsdComposite refuses it.
    bool HasComposite = true;
    std::vector<TPsdGuide> Guides; // in stored order
    std::vector<TPsdSlice> Slices; // in stored order
    // Bottom first, as stored, each group just before the layers inside it.
    std::vector<TPsdLayer> Layers;
};

// True when bytes start with the PSD (or PSB) signature "8BPS".
bool IsPsdSignature(std::span<const uint8_t> bytes);

// The design record of a whole PSD file: header facts, guides, slices and
// layer records. The pixels are not decoded. Throws EInvalidGraphic for a
// file it refuses, as described above; a text layer whose text data cannot
// be read keeps an empty Text rather than failing the file.
TPsdDesign ReadPsdDesign(std::span<const uint8_t> bytes);

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
