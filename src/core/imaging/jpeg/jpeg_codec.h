#pragma once

// The bridge to libjpeg: compressed bytes in, a bitmap out, and back. It
// takes and returns plain values and knows nothing of TJPEGImage. The
// library's own header stays inside jpeg_codec.cpp.

#include "core/imaging/bitmap.h"
#include "core/imaging/progress.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sw {

enum class TJPEGPixelFormat { Depth24 = 0, Depth8 = 1 };
enum class TJPEGPerformance { Accurate = 0, Fast = 1 };

// The largest side the library writes.
constexpr int kMaxJpegSide = 65500;

// EJPEG "Cannot write a JPEG image of W x H pixels (at most 65500 x 65500)"
// when a side is over kMaxJpegSide.
void CheckJpegWritable(int64_t width, int64_t height);

// The most scans a file may have; each one costs a pass over the image.
constexpr int kMaxJpegScans = 1000;

// Reports from inside a decode or encode; it may throw, EAbort to cancel.
using TJpegProgress
    = std::function<void(TProgressStage stage, uint8_t percent, bool redrawNow, const TRect& rect)>;

struct TJpegHeaderInfo {
    uint32_t Width = 0;
    uint32_t Height = 0;
    bool Grayscale = false;
    bool MultiScan = false;
};

// The header of a JPEG file. EJPEG with the library's code when it is
// none, or with the picture-size message when it has more pixels than the
// picture pixel limit.
TJpegHeaderInfo ReadJpegHeader(std::span<const uint8_t> file);

struct TJpegDecodeOptions {
    // Decoded size 1 / (1 << Scale), Scale 0 ... 3.
    uint8_t Scale = 0;
    bool BlockSmoothing = true;
    bool GrayOutput = false;
    TJPEGPixelFormat Depth = TJPEGPixelFormat::Depth24;
    TJPEGPerformance Speed = TJPEGPerformance::Accurate;
    // Multi-scan files are decoded scan by scan, each pass shown.
    bool ShowProgressive = false;
    // The colours a Depth8 colour decode maps onto; the library chooses
    // its own when empty.
    std::vector<TRGBQuad> Palette;
};

// The size a decode with these options gives, and whether the file has
// several scans. Errors as ReadJpegHeader.
struct TJpegOutputSize {
    int Width = 0;
    int Height = 0;
    bool MultiScan = false;
};
TJpegOutputSize JpegOutputSize(std::span<const uint8_t> file, const TJpegDecodeOptions& options);

struct TJpegDecoded {
    std::unique_ptr<TBitmap> Bitmap;
    // The library's colour map became the bitmap's colour table.
    bool PaletteTaken = false;
    // Progress threw EAbort: the rows done so far are kept.
    bool Cancelled = false;
    // The data ended before the end marker: what is missing, in words.
    std::string CutShort;
};

// Decodes a whole file into result.Bitmap: 24 bits per pixel, or 8 for
// Depth8 and grey output (four-component files always give 24). Rows the
// data does not reach are white. Reports Starting and Running progress; the
// caller reports Ending. Errors (EJPEG, or what progress threw) pass on
// with result filled as far as it got.
void DecodeJpeg(std::span<const uint8_t> file, const TJpegDecodeOptions& options,
    const TJpegProgress& progress, TJpegDecoded& result);

struct TJpegEncodeOptions {
    uint8_t Quality = 90; // 1 ... 100
    bool Gray = false;
    bool Progressive = false;
    // Colour at full resolution (4:4:4) instead of halved both ways (4:2:0).
    bool FullChroma = false;
};

// The bitmap (not empty) as a JPEG file; nullopt when progress threw EAbort.
// Reports Starting and Running progress; the caller reports Ending.
std::optional<std::vector<uint8_t>> EncodeJpeg(
    const TBitmap& bitmap, const TJpegEncodeOptions& options, const TJpegProgress& progress);
// The same from 24-bit rows where they are (not empty).
std::optional<std::vector<uint8_t>> EncodeJpeg(
    const TPixelView& pixels, const TJpegEncodeOptions& options, const TJpegProgress& progress);

} // namespace sw
