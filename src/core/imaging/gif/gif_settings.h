#pragma once

// How a bitmap becomes a GIF frame and how the frame is compressed: the
// settings every TGIFImage carries, and their defaults.

namespace sw {

// How a bitmap of more than 8 bits per pixel is reduced. Only None and
// WebCube are built; the others fail with a GIFException when used.
enum class TColorReduction {
    None = 0, // stays at 24 bits; its distinct colours form the table
    SystemColors = 1,
    Halftone = 2,
    FourGrays = 3,
    Monochrome = 4,
    GrayScale = 5,
    WebCube = 6,
    Quantize = 7,
    QuantizeSystem = 8,
    Palette = 9,
};

// Which engine maps pixels to the palette. Only Nearest (plain lookup) and
// FloydSteinberg are built.
enum class TDitherMode {
    Nearest = 0,
    FloydSteinberg = 1,
    Stucki = 2,
    Sierra = 3,
    JaJuNi = 4,
    SteveArche = 5,
    Burkes = 6,
};

enum class TGIFEncoding { LZW = 0, RLE = 1 };

struct TGIFDefaults {
    TColorReduction ReductionKind = TColorReduction::WebCube;
    TDitherMode DitherKind = TDitherMode::Nearest;
    int QuantizeBits = 8;
    TGIFEncoding EncodingKind = TGIFEncoding::LZW;
};

// Copied by every TGIFImage when it is constructed.
extern const TGIFDefaults GifDefaults;

} // namespace sw
