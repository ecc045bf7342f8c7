#pragma once

// One cell as the bytes of its file, in the format the cell asks for.

#include "core/base/colors.h"
#include "core/generate/cell_format.h"
#include "core/imaging/pixel_view.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sw {

class TBitmap;
class TStream;

struct TEncodedCell {
    // What the file is; auto's choice for an auto cell.
    TImageType Type = TImageType::Gif;
    std::vector<uint8_t> Bytes;
    // Why auto chose it ("12 colours, exact (340 bytes; png 402)"); empty
    // for the other formats.
    std::string Reason;
    // The butteraugli distance auto measured for a lossy file it chose
    // under a perceptual floor.
    std::optional<double> Score {};
};

// The cell's file. cell is 24 bits per pixel; rgba, when given, is the
// picture's own RGBA at the same place and size, and is used by png, webp
// and auto cells whose format keeps alpha when some pixel is not opaque.
// Pixels of transparentColor are transparent in every format that can say
// so; JPEG has no transparency and ignores it. clNone leaves every pixel as
// opaque as the picture has it. gif and jpg at quality 90,
// baseline, 4:2:0 give exactly the bytes the plain GIF and JPEG writers do.
TEncodedCell EncodeCell(
    TBitmap& cell, const std::optional<TPixelView>& rgba, const TCellFormat& format, TColor transparentColor);

// The image under a page's <picture> sources: as EncodeCell, but an auto
// cell chooses among the formats every browser shows (gif, png, jpg).
TEncodedCell EncodeFallbackCell(
    TBitmap& cell, const std::optional<TPixelView>& rgba, const TCellFormat& format, TColor transparentColor);
// The cell as one of its page's sources (webp, webp-lossless, avif,
// avif-lossless): at the format's quality, or for an auto cell the smaller
// of the smallest lossy file that reaches auto's floors and a lossless one.
TEncodedCell EncodeSourceCell(TBitmap& cell, const std::optional<TPixelView>& rgba, const TCellFormat& format,
    TImageType sourceType, TColor transparentColor);

// Writes the cell as a GIF with the given transparent colour fixed.
void SaveCellGif(const std::string& fileName, TBitmap& cell, TColor transparentColor);
void SaveCellGif(TStream& stream, TBitmap& cell, TColor transparentColor);
// The same from 24-bit rows anywhere.
void SaveCellGif(TStream& stream, const TPixelView& cell, TColor transparentColor);
// Writes the cell as a JPEG with the default settings.
void SaveCellJpeg(const std::string& fileName, TBitmap& cell);
void SaveCellJpeg(TStream& stream, TBitmap& cell);

// A cell's file from 24-bit rows anywhere, without a bitmap of its own: the
// bytes EncodeCell gives for a bitmap of those pixels.
TEncodedCell EncodeCellRows(const TPixelView& cell, const std::optional<TPixelView>& rgba,
    const TCellFormat& format, TColor transparentColor);

// Peak signal-to-noise ratio of a decoded cell against what was asked for,
// in dB: colours are weighed by their alpha, so the colour under a fully
// transparent pixel does not count while its alpha does. Identical pixels
// give infinity. decodedRgba holds expected.Width x expected.Height pixels.
double CellPsnr(const TPixelView& expected, std::optional<TColor> transparentColor,
    const std::vector<uint8_t>& decodedRgba);

// The PSNR of an encoded cell's file against the cell it was made from
// (the arguments EncodeCell had), decoded back; empty when the file holds
// the cell exactly, which lossless formats always do.
std::optional<double> EncodedCellPsnr(TBitmap& cell, const std::optional<TPixelView>& rgba,
    const TCellFormat& format, TColor transparentColor, const TEncodedCell& encoded);

// The butteraugli distance of an encoded cell's file against the cell it
// was made from, as EncodedCellPsnr takes them (auto's own measure when it
// kept one); empty when the file holds the cell exactly.
std::optional<double> EncodedCellScore(TBitmap& cell, const std::optional<TPixelView>& rgba,
    const TCellFormat& format, TColor transparentColor, const TEncodedCell& encoded);

} // namespace sw
