#pragma once

// The JPEG graphic: keeps a file's compressed bytes and the decoded bitmap
// apart, decodes on the first demand for pixels and encodes on the first
// demand for bytes, and caches both.

#include "core/imaging/bitmap.h"
#include "core/imaging/graphic.h"
#include "core/imaging/jpeg/jpeg_codec.h"
#include "core/imaging/progress.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sw {

// The settings every new TJPEGImage copies.
struct TJpegDefaults {
    uint8_t SaveQuality = 90;
    bool GrayOutput = false;
    TJPEGPerformance DecodeSpeed = TJPEGPerformance::Accurate;
    TJPEGPixelFormat DecodeDepth = TJPEGPixelFormat::Depth24;
    bool ShowProgressive = false;
    bool SaveProgressive = false;
    uint8_t DecodeScale = 0;
    bool BlockSmoothing = true;
};

extern TJpegDefaults JpegDefaults;

// Depth8 on a display of 8 bits per pixel or fewer, else Depth24.
TJPEGPixelFormat DetectDisplayDepth();

// Sets JpegDefaults.DecodeDepth from the display, then registers "jpeg" and
// "jpg" ("JPEG Image File") with the picture loader. Safe to call again.
void RegisterJpegImageFormats();

// The compressed form of one image, shared between images assigned from one
// another.
struct TJPEGData {
    // The whole file; null until loaded or encoded.
    std::unique_ptr<TMemoryStream> Data;
    uint32_t Width = 0;
    uint32_t Height = 0;
    bool Grayscale = false;
};

class TJPEGImage : public TGraphic {
public:
    TJPEGImage();
    ~TJPEGImage() override;
    TJPEGImage(const TJPEGImage&) = delete;
    TJPEGImage& operator=(const TJPEGImage&) = delete;

    const char* ClassName() const override { return "TJPEGImage"; }
    // The bitmap's size when one is held, else the header's, scaled down by
    // DecodeScale.
    int Width() const override;
    int Height() const override;
    bool Empty() const override;
    // Always EInvalidGraphicOperation "Cannot change the size of a JPEG image".
    void SetWidth(int width) override;
    void SetHeight(int height) override;

    // From a TJPEGImage: share its compressed data and copy its bitmap. From
    // a bitmap: drop the compressed data and hold a copy for encoding.
    // Settings are never copied.
    void Assign(const TGraphic& source) override;
    // Decodes into a bitmap destination; false for any other kind.
    bool AssignTo(TGraphic& dest) const override;

    // Keeps the rest of the stream as the compressed bytes and reads the
    // header (EJPEG when it is not a JPEG header); decodes nothing.
    void LoadFromStream(TStream& stream) override;
    // Writes the compressed bytes, encoding the bitmap first when there are
    // none. An image without pixels writes nothing.
    void SaveToStream(TStream& stream) override;
    void ReadJpegStream(TStream& stream, int64_t size);

    void Draw(TCanvas& canvas, const TRect& rect) override;

    // Saving hands over the decoded bitmap; loading reads a bitmap and
    // holds it for encoding, as Assign from a bitmap does.
    void SaveToClipboardFormat(TClipboardData& data) override;
    void LoadFromClipboardFormat(const TClipboardData& data) override;

    // Equal when both saved forms are the same bytes, or when both share
    // the same data.
    bool Equals(const TJPEGImage& other) const;

    // Form streaming: a signed 32-bit little-endian count, then the bytes.
    void ReadData(TStream& stream);
    void WriteData(TStream& stream) const;

    // The bitmap's colour table when a bitmap is held, else the palette set
    // through SetPalette (used as the target colours of a Depth8 decode).
    std::vector<TRGBQuad> Palette() const;
    // Drops a cached bitmap whose colours differ.
    void SetPalette(const std::vector<TRGBQuad>& palette);

    // Decodes the compressed bytes once and caches the bitmap. EJPEG with
    // the library's code on bad data. Progress: throwing EAbort from the
    // handler cancels; a decode keeps the rows done so far, an encode keeps
    // nothing.
    void DecodeToBitmap() const;
    // Encodes the held bitmap into fresh compressed data.
    void EncodeFromBitmap();

    // The decoded or assigned bitmap, or nullptr.
    const TBitmap* Bitmap() const { return m_bitmap.get(); }
    const TJPEGData& Data() const { return *m_data; }
    long DataUseCount() const { return m_data.use_count(); }
    bool PaletteModified() const { return m_paletteModified; }

    bool BlockSmoothing() const { return m_blockSmoothing; }
    void SetBlockSmoothing(bool value) { m_blockSmoothing = value; }
    bool GrayOutput() const { return m_grayOutput; }
    void SetGrayOutput(bool value) { m_grayOutput = value; }
    TJPEGPixelFormat DecodeDepth() const { return m_decodeDepth; }
    void SetDecodeDepth(TJPEGPixelFormat value) { m_decodeDepth = value; }
    // 1 ... 100; other values are clamped.
    uint8_t SaveQuality() const { return m_saveQuality; }
    void SetSaveQuality(int value);
    bool ShowProgressive() const { return m_showProgressive; }
    void SetShowProgressive(bool value) { m_showProgressive = value; }
    // After a load: whether the file has several scans.
    bool SaveProgressive() const { return m_saveProgressive; }
    void SetSaveProgressive(bool value) { m_saveProgressive = value; }
    TJPEGPerformance DecodeSpeed() const { return m_decodeSpeed; }
    void SetDecodeSpeed(TJPEGPerformance value) { m_decodeSpeed = value; }
    // Decoded size 1 / (1 << scale), scale 0 ... 3; other values are clamped.
    uint8_t DecodeScale() const { return m_decodeScale; }
    void SetDecodeScale(int value);

    TProgressEvent OnProgress;

private:
    TJpegDecodeOptions DecodeOptions() const;
    void CalcScaledSize() const;
    void NotifyChange() const;
    void Progress(TProgressStage stage, uint8_t percent, bool redrawNow, const TRect& rect) const;

    std::shared_ptr<TJPEGData> m_data;
    // The decode cache; filled by const operations.
    mutable std::unique_ptr<TBitmap> m_bitmap;
    mutable int m_scaledWidth = 0;
    mutable int m_scaledHeight = 0;
    mutable std::vector<TRGBQuad> m_tempPalette;
    mutable bool m_needRecalc = true;
    mutable bool m_paletteModified = false;
    mutable bool m_saveProgressive = false;
    bool m_blockSmoothing = true;
    bool m_grayOutput = false;
    TJPEGPixelFormat m_decodeDepth = TJPEGPixelFormat::Depth24;
    uint8_t m_saveQuality = 90;
    bool m_showProgressive = false;
    TJPEGPerformance m_decodeSpeed = TJPEGPerformance::Accurate;
    uint8_t m_decodeScale = 0;
};

} // namespace sw
