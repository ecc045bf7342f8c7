#pragma once

// Reading and writing BMP files; bmp_file.cpp describes the layouts. The
// bitmap (bitmap.h) keeps its pixels in a TBitmapImage (bitmap_image.h).

#include "core/base/pixel_limit.h"
#include "core/imaging/pixel_view.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace sw {

class TStream;
struct TBitmapImage;

// The one message of a refused BMP file, shared by every throw site and test.
inline constexpr char kBitmapNotValidMessage[] = "Bitmap image is not valid";

// "Bitmap image is not valid: Picture too large (W x H pixels; the limit is
// 67108864 pixels)" for a header that asks for more than the pixel limit.
std::string BitmapTooLargeMessage(int64_t width, int64_t height);

// The picture size a BMP file's headers state; nullopt for bytes that are
// no BMP file or too short to tell.
std::optional<TPictureSize> BmpHeaderSize(std::span<const uint8_t> bytes);

// The store a BMP file describes; no bytes give an empty store. Bad files
// throw EInvalidGraphic with one of the messages above.
std::shared_ptr<TBitmapImage> ReadBmp(std::span<const uint8_t> bytes);
// The same from the rest of a stream; uncompressed rows are read straight
// into the store. Leaves the stream at its end. Run-length data that stops
// before its end mark and its last row is read as far as it goes, and
// cutShort (when given) says how far.
std::shared_ptr<TBitmapImage> ReadBmp(TStream& stream, std::string* cutShort = nullptr);
void WriteBmp(const TBitmapImage& image, TStream& stream);
// The file WriteBmp gives for a 24-bit store holding these pixels, written
// from where they are.
void WriteBmp24(const TPixelView& pixels, TStream& stream);
// The rows of a plain 24-bit file (no colour table or masks, every row in
// the file) as a view on bytes, which stay the caller's; nothing for any
// other file, which ReadBmp reads or refuses. A header ReadBmp refuses
// throws as it does.
std::optional<TPixelView> BmpRows24(std::span<const uint8_t> bytes);

} // namespace sw
