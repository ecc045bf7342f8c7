#include "core/imaging/jpeg/jpeg_image.h"

#include "core/base/errors.h"
#include "core/imaging/jpeg/jpeg_codec.h"
#include "core/imaging/jpeg/jpeg_messages.h"
#include "core/imaging/picture.h"

#include <algorithm>
#include <limits>
#include <mutex>

namespace sw {

TJpegDefaults JpegDefaults;

TJPEGPixelFormat DetectDisplayDepth()
{
    return kDisplayBitsPerPixel <= 8 ? TJPEGPixelFormat::Depth8 : TJPEGPixelFormat::Depth24;
}

void RegisterJpegImageFormats()
{
    static std::once_flag once;
    std::call_once(once, [] {
        JpegDefaults.DecodeDepth = DetectDisplayDepth();
        for (const char* extension : { "jpeg", "jpg" })
            TPicture::RegisterFileFormat(
                extension, "JPEG Image File", [] { return std::make_unique<TJPEGImage>(); },
                [](std::span<const uint8_t> file) -> std::optional<TPictureSize> {
                    try {
                        const TJpegHeaderInfo header = ReadJpegHeader(file);
                        return TPictureSize { header.Width, header.Height };
                    } catch (const EJPEG&) {
                        return std::nullopt;
                    }
                });
    });
}

TJPEGImage::TJPEGImage()
    : m_data(std::make_shared<TJPEGData>())
    , m_blockSmoothing(JpegDefaults.BlockSmoothing)
    , m_grayOutput(JpegDefaults.GrayOutput)
    , m_decodeDepth(JpegDefaults.DecodeDepth)
    , m_saveQuality(JpegDefaults.SaveQuality)
    , m_showProgressive(JpegDefaults.ShowProgressive)
    , m_decodeSpeed(JpegDefaults.DecodeSpeed)
    , m_decodeScale(JpegDefaults.DecodeScale)
{
    m_saveProgressive = JpegDefaults.SaveProgressive;
}

TJPEGImage::~TJPEGImage() = default;

int TJPEGImage::Width() const
{
    if (m_bitmap)
        return m_bitmap->Width();
    if (m_decodeScale == 0)
        return static_cast<int>(m_data->Width);
    CalcScaledSize();
    return m_scaledWidth;
}

int TJPEGImage::Height() const
{
    if (m_bitmap)
        return m_bitmap->Height();
    if (m_decodeScale == 0)
        return static_cast<int>(m_data->Height);
    CalcScaledSize();
    return m_scaledHeight;
}

bool TJPEGImage::Empty() const
{
    return !m_data->Data && (!m_bitmap || m_bitmap->Empty());
}

void TJPEGImage::SetWidth(int)
{
    throw EInvalidGraphicOperation(jpeg_message::kCannotChangeSize);
}

void TJPEGImage::SetHeight(int)
{
    throw EInvalidGraphicOperation(jpeg_message::kCannotChangeSize);
}

void TJPEGImage::SetSaveQuality(int value)
{
    m_saveQuality = static_cast<uint8_t>(std::clamp(value, 1, 100));
}

void TJPEGImage::SetDecodeScale(int value)
{
    const auto scale = static_cast<uint8_t>(std::clamp(value, 0, 3));
    if (scale != m_decodeScale)
        m_needRecalc = true;
    m_decodeScale = scale;
}

void TJPEGImage::Assign(const TGraphic& source)
{
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(&source)) {
        if (jpeg == this)
            return;
        std::unique_ptr<TBitmap> bitmap;
        if (jpeg->m_bitmap) {
            bitmap = std::make_unique<TBitmap>();
            bitmap->Assign(*jpeg->m_bitmap);
        }
        m_data = jpeg->m_data;
        m_bitmap = std::move(bitmap);
        m_needRecalc = true;
        Changed();
        return;
    }
    if (const auto* sourceBitmap = dynamic_cast<const TBitmap*>(&source)) {
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->Assign(*sourceBitmap);
        m_data = std::make_shared<TJPEGData>();
        m_bitmap = std::move(bitmap);
        m_needRecalc = true;
        Changed();
        return;
    }
    TGraphic::Assign(source);
}

bool TJPEGImage::AssignTo(TGraphic& dest) const
{
    auto* bitmap = dynamic_cast<TBitmap*>(&dest);
    if (!bitmap)
        return false;
    DecodeToBitmap();
    if (m_bitmap)
        bitmap->Assign(*m_bitmap);
    else
        bitmap->Clear();
    return true;
}

void TJPEGImage::LoadFromStream(TStream& stream)
{
    ReadJpegStream(stream, stream.Remaining());
}

void TJPEGImage::ReadJpegStream(TStream& stream, int64_t size)
{
    auto data = std::make_shared<TJPEGData>();
    data->Data = std::make_unique<TMemoryStream>();
    if (size > 0) {
        data->Data->Bytes().resize(static_cast<size_t>(size));
        stream.ReadBuffer(data->Data->Bytes().data(), static_cast<size_t>(size));
    }
    bool multiScan = m_saveProgressive;
    if (size > 0) {
        const TJpegHeaderInfo header = ReadJpegHeader(data->Data->Bytes());
        data->Width = header.Width;
        data->Height = header.Height;
        data->Grayscale = header.Grayscale;
        multiScan = header.MultiScan;
    }
    // The image changes only once the header has been accepted.
    m_data = std::move(data);
    m_readWarnings.clear();
    m_bitmap.reset();
    m_saveProgressive = multiScan;
    m_needRecalc = true;
    m_paletteModified = true;
    Changed();
}

void TJPEGImage::SaveToStream(TStream& stream)
{
    if (!m_data->Data)
        EncodeFromBitmap();
    if (!m_data->Data)
        return;
    const std::vector<uint8_t>& bytes = m_data->Data->Bytes();
    if (!bytes.empty())
        stream.WriteBuffer(bytes.data(), bytes.size());
}

void TJPEGImage::Draw(TCanvas& canvas, const TRect& rect)
{
    DecodeToBitmap();
    if (m_bitmap && !m_bitmap->Empty())
        canvas.CopyRect(rect, m_bitmap->Canvas(), TRect { 0, 0, m_bitmap->Width(), m_bitmap->Height() });
}

void TJPEGImage::SaveToClipboardFormat(TClipboardData& data)
{
    DecodeToBitmap();
    if (m_bitmap) {
        m_bitmap->SaveToClipboardFormat(data);
        return;
    }
    data.Format = kClipboardDib;
    data.Bytes.clear();
}

void TJPEGImage::LoadFromClipboardFormat(const TClipboardData& data)
{
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->LoadFromClipboardFormat(data);
    m_data = std::make_shared<TJPEGData>();
    m_bitmap = std::move(bitmap);
    m_needRecalc = true;
    Changed();
}

bool TJPEGImage::Equals(const TJPEGImage& other) const
{
    if (m_data->Data && other.m_data->Data)
        return m_data->Data->Bytes() == other.m_data->Data->Bytes();
    return m_data == other.m_data;
}

void TJPEGImage::ReadData(TStream& stream)
{
    const auto count = static_cast<int32_t>(stream.ReadU32LE());
    // Checked before anything is allocated for it.
    if (count < 0 || count > stream.Remaining())
        throw EReadError("Stream read error");
    ReadJpegStream(stream, count);
}

void TJPEGImage::WriteData(TStream& stream) const
{
    if (!m_data->Data) {
        stream.WriteU32LE(0);
        return;
    }
    const std::vector<uint8_t>& bytes = m_data->Data->Bytes();
    if (bytes.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw EWriteError("Stream write error");
    stream.WriteU32LE(static_cast<uint32_t>(bytes.size()));
    if (!bytes.empty())
        stream.WriteBuffer(bytes.data(), bytes.size());
}

std::vector<TRGBQuad> TJPEGImage::Palette() const
{
    if (m_bitmap)
        return m_bitmap->BitsPerPixel() <= 8 ? m_bitmap->ColorTable() : m_bitmap->Palette();
    if (!m_tempPalette.empty() || m_decodeDepth == TJPEGPixelFormat::Depth8)
        return m_tempPalette;
    if (kDisplayBitsPerPixel <= 8)
        m_tempPalette = HalftonePalette256();
    return m_tempPalette;
}

void TJPEGImage::SetPalette(const std::vector<TRGBQuad>& palette)
{
    if (palette == m_tempPalette)
        return;
    if (m_bitmap && Palette() != palette) {
        m_bitmap.reset();
        m_paletteModified = true;
        Changed();
    }
    m_tempPalette = palette;
}

void TJPEGImage::NotifyChange() const
{
    // Decoding fills a cache; the owner still hears that the pixels are new.
    const_cast<TJPEGImage*>(this)->Changed();
}

void TJPEGImage::Progress(TProgressStage stage, uint8_t percent, bool redrawNow, const TRect& rect) const
{
    if (OnProgress)
        OnProgress(const_cast<TJPEGImage&>(*this), stage, percent, redrawNow, rect, std::string());
}

TJpegDecodeOptions TJPEGImage::DecodeOptions() const
{
    TJpegDecodeOptions options;
    options.Scale = m_decodeScale;
    options.BlockSmoothing = m_blockSmoothing;
    options.GrayOutput = m_grayOutput;
    options.Depth = m_decodeDepth;
    options.Speed = m_decodeSpeed;
    options.ShowProgressive = m_showProgressive;
    if (m_decodeDepth == TJPEGPixelFormat::Depth8)
        options.Palette = m_tempPalette;
    return options;
}

void TJPEGImage::DecodeToBitmap() const
{
    if (m_bitmap || !m_data->Data)
        return;
    // A palette set for 8-bit decoding means nothing to a 24-bit one.
    if (m_decodeDepth == TJPEGPixelFormat::Depth24)
        m_tempPalette.clear();
    const TJpegProgress progress = [this](TProgressStage stage, uint8_t percent, bool redrawNow,
                                       const TRect& rect) { Progress(stage, percent, redrawNow, rect); };
    TJpegDecoded decoded;
    try {
        DecodeJpeg(m_data->Data->Bytes(), DecodeOptions(), progress, decoded);
    } catch (...) {
        m_paletteModified = m_paletteModified || decoded.PaletteTaken;
        Progress(TProgressStage::Ending, 0, m_paletteModified, TRect {});
        if (m_paletteModified)
            NotifyChange();
        throw;
    }
    m_paletteModified = m_paletteModified || decoded.PaletteTaken;
    m_bitmap = std::move(decoded.Bitmap);
    m_readWarnings.clear();
    if (!decoded.CutShort.empty())
        m_readWarnings.push_back(decoded.CutShort);
    Progress(TProgressStage::Ending, decoded.Cancelled ? 0 : 100, m_paletteModified, TRect {});
    if (m_paletteModified)
        NotifyChange();
}

void TJPEGImage::EncodeFromBitmap()
{
    if (m_data->Data)
        m_data = std::make_shared<TJPEGData>();
    const TBitmap* held = m_bitmap.get();
    if (!held || held->Width() == 0 || held->Height() == 0) {
        m_data->Data = std::make_unique<TMemoryStream>();
        return;
    }
    const TJpegProgress progress = [this](TProgressStage stage, uint8_t percent, bool redrawNow,
                                       const TRect& rect) { Progress(stage, percent, redrawNow, rect); };
    std::optional<std::vector<uint8_t>> bytes;
    try {
        bytes = EncodeJpeg(
            *held, TJpegEncodeOptions { m_saveQuality, m_grayOutput, m_saveProgressive }, progress);
    } catch (...) {
        Progress(TProgressStage::Ending, 0, false, TRect {});
        throw;
    }
    if (!bytes) {
        Progress(TProgressStage::Ending, 0, false, TRect {});
        m_data = std::make_shared<TJPEGData>();
        return;
    }
    // The data takes the bytes only once they are complete, so a failed
    // encode is retried by the next save instead of writing a partial file.
    m_data->Width = static_cast<uint32_t>(held->Width());
    m_data->Height = static_cast<uint32_t>(held->Height());
    m_data->Grayscale = m_grayOutput;
    m_data->Data = std::make_unique<TMemoryStream>(std::move(*bytes));
    Progress(TProgressStage::Ending, 100, false, TRect {});
}

void TJPEGImage::CalcScaledSize() const
{
    if (!m_needRecalc)
        return;
    if (!m_data->Data || m_data->Data->Bytes().empty()) {
        m_scaledWidth = m_scaledHeight = 0;
        m_needRecalc = false;
        return;
    }
    const TJpegOutputSize size = JpegOutputSize(m_data->Data->Bytes(), DecodeOptions());
    m_scaledWidth = size.Width;
    m_scaledHeight = size.Height;
    m_saveProgressive = size.MultiScan;
    m_needRecalc = false;
}

} // namespace sw
