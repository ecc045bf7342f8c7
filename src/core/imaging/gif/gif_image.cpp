#include "core/imaging/gif/gif_image.h"

#include "core/base/errors.h"
#include "core/base/huge_pages.h"
#include "core/base/sysutils.h"
#include "core/imaging/gif/gif_io.h"
#include "core/imaging/gif/gif_messages.h"
#include "core/imaging/gif/lzw_encoder.h"
#include "core/imaging/picture.h"

#include <algorithm>
#include <new>
#include <utility>

namespace sw {

using namespace gif_io;

const TGIFDefaults GifDefaults {};

void RegisterGifImageFormat()
{
    static bool registered = false;
    if (registered)
        return;
    TPicture::RegisterFileFormat(
        LowerCaseAscii("GIF"), "GIF Image",
        [] {
            // A picture shows the first frame; the others would only cost
            // memory (four frames at the pixel limit are 256 MB).
            auto image = std::make_unique<TGIFImage>();
            image->SetFirstFrameOnly(true);
            return image;
        },
        [](std::span<const uint8_t> file) -> std::optional<TPictureSize> {
            // The picture is the logical screen, whose size follows the
            // six signature bytes.
            if (file.size() < 10 || (file[0] | 0x20) != 'g' || (file[1] | 0x20) != 'i'
                || (file[2] | 0x20) != 'f')
                return std::nullopt;
            return TPictureSize { file[6] | file[7] << 8, file[8] | file[9] << 8 };
        });
    registered = true;
}

void CheckGifWritable(int64_t width, int64_t height)
{
    // A larger bitmap cannot be stored without corrupting the file.
    if (width > 0xFFFF || height > 0xFFFF)
        throw GIFException(Format(gif_message::kTooLargeForGif, int(std::min<int64_t>(width, INT32_MAX)),
            int(std::min<int64_t>(height, INT32_MAX))));
}

// ---- TGIFItem

void TGIFItem::Warning(TGIFSeverity severity, const std::string& message) const
{
    if (m_image != nullptr)
        m_image->Warning(severity, message);
}

void TGIFItem::SaveToFile(const std::string& fileName)
{
    TFileStream stream(fileName, FileMode::Create);
    SaveToStream(stream);
    stream.Close();
}

// ---- TGIFHeader

void TGIFHeader::Clear()
{
    m_colorMap.Clear();
    m_width = 0;
    m_height = 0;
}

void TGIFHeader::SaveToStream(TStream& stream)
{
    const int version = Image() != nullptr ? Image()->Version() : 0;
    if (version != 1 && version != 2)
        throw GIFException(gif_message::kUnsupportedVersion);

    // The colour resolution describes the largest table of the file, global
    // or local; with no colours at all (bits - 1) & 7 gives 7. Without a
    // global table the size field repeats it. With one, the size must be the
    // global table's own, or readers take local colours for global ones.
    const int code = (Image()->ColorResolutionBits() - 1) & 0x07;
    m_packed = static_cast<uint8_t>(code << 4 | code);
    if (!m_colorMap.Empty()) {
        const int size = ColorBits(m_colorMap.Count()) - 1;
        m_packed = static_cast<uint8_t>(code << 4 | 0x80 | size);
        if (m_colorMap.Sorted())
            m_packed |= 0x08;
    }

    uint8_t bytes[13] = { 'G', 'I', 'F', '8', version == 1 ? uint8_t('7') : uint8_t('9'), 'a' };
    PutU16(bytes + 6, m_width);
    PutU16(bytes + 8, m_height);
    bytes[10] = m_packed;
    bytes[11] = m_background;
    bytes[12] = m_aspectRatio;
    stream.WriteBuffer(bytes, sizeof bytes);
    if ((m_packed & 0x80) != 0)
        m_colorMap.SaveToStream(stream);
}

// ---- TGIFExtension

TGIFExtension::TGIFExtension(TGIFSubImage* frame)
    : TGIFItem(frame != nullptr ? frame->Image() : nullptr)
    , m_frame(frame)
{ }

void TGIFExtension::SaveToStream(TStream& stream)
{
    const uint8_t head[2] = { kExtensionIntroducer, Label() };
    stream.WriteBuffer(head, sizeof head);
    SaveBody(stream);
}

// ---- TGIFGraphicControlExtension

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* frame)
    : TGIFExtension(frame)
{
    if (frame != nullptr && frame->m_graphicControl == nullptr)
        frame->m_graphicControl = this;
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension()
{
    if (Frame() != nullptr && Frame()->m_graphicControl == this)
        Frame()->m_graphicControl = nullptr;
}

void TGIFGraphicControlExtension::SetTransparent(bool value)
{
    m_packed = static_cast<uint8_t>(value ? m_packed | 0x01 : m_packed & ~0x01);
    if (Frame() != nullptr)
        Frame()->SetTransparent(value);
}

void TGIFGraphicControlExtension::SetTransparentColorIndex(int index)
{
    const int count = Frame() != nullptr ? Frame()->ActiveColorMap().Count() : 0;
    if (index < 0 || index > 0xFF || (count > 0 && index >= count)) {
        Warning(TGIFSeverity::Warning, gif_message::kInvalidColorIndex);
        index = 0;
    }
    m_transparentIndex = static_cast<uint8_t>(index);
}

void TGIFGraphicControlExtension::SetUserInput(bool value)
{
    m_packed = static_cast<uint8_t>(value ? m_packed | 0x02 : m_packed & ~0x02);
}

void TGIFGraphicControlExtension::SetDisposal(TDisposalMethod method)
{
    m_packed = static_cast<uint8_t>((m_packed & ~0x1C) | (static_cast<uint8_t>(method) & 0x07) << 2);
}

void TGIFGraphicControlExtension::SaveBody(TStream& stream)
{
    uint8_t body[6] = { m_blockSize, m_packed, 0, 0, m_transparentIndex, m_terminator };
    PutU16(body + 2, m_delay);
    stream.WriteBuffer(body, sizeof body);
}

// ---- TGIFSubImage

TGIFSubImage::TGIFSubImage(TGIFImage* image)
    : TGIFItem(image)
{ }

TGIFSubImage::~TGIFSubImage()
{
    // Extensions reach back into the frame when they go.
    m_extensions.Clear();
}

void TGIFSubImage::ReserveData()
{
    m_data = std::vector<uint8_t>();
    try {
        m_data.reserve(size_t(m_width) * size_t(m_height));
    } catch (const std::bad_alloc&) {
        throw EOutOfResources(Format(gif_message::kNoMemoryForFrame, m_width, m_height));
    }
    AdviseHugePages(m_data.data(), m_data.capacity());
}

void TGIFSubImage::AllocateData()
{
    ReserveData();
    m_data.resize(size_t(m_width) * size_t(m_height), 0);
}

void TGIFSubImage::BoundsChanged()
{
    if (Image() != nullptr)
        Image()->FrameBoundsChanged(*this);
}

void TGIFSubImage::RowDone(int y, const char* message) const
{
    if (Image() != nullptr && (y + 1) % 32 == 0)
        Image()->Progress(TProgressStage::Running, (y + 1) * 100 / m_height, message);
}

void TGIFSubImage::SetLeft(int left)
{
    m_left = static_cast<uint16_t>(left);
    BoundsChanged();
}

void TGIFSubImage::SetTop(int top)
{
    m_top = static_cast<uint16_t>(top);
    BoundsChanged();
}

void TGIFSubImage::SetWidth(int width)
{
    SettleKeptBitmap();
    if (width != m_width) {
        m_width = static_cast<uint16_t>(width);
        AllocateData();
    }
    BoundsChanged();
}

void TGIFSubImage::SetHeight(int height)
{
    SettleKeptBitmap();
    if (height != m_height) {
        m_height = static_cast<uint16_t>(height);
        AllocateData();
    }
    BoundsChanged();
}

bool TGIFSubImage::Empty() const
{
    return m_data.empty() || m_width == 0 || m_height == 0;
}

void TGIFSubImage::SetInterlaced(bool value)
{
    m_packed = static_cast<uint8_t>(value ? m_packed | 0x40 : m_packed & ~0x40);
}

const TGIFColorMap& TGIFSubImage::ActiveColorMap() const
{
    if (m_colorMap.Empty() && Image() != nullptr)
        return Image()->Header().ColorMap();
    return m_colorMap;
}

void TGIFSubImage::Clear()
{
    m_extensions.Clear();
    m_colorMap.Clear();
    m_data = std::vector<uint8_t>();
    m_width = 0;
    m_height = 0;
    m_transparent = false;
    m_bitmap.reset();
    m_keptFrom.reset();
    DropBitmap();
}

bool TGIFSubImage::SortByUsage()
{
    SettleKeptBitmap();
    TColorRemap remap;
    if (!m_colorMap.SortByUsage(m_data, remap))
        return false;
    if (m_transparent && m_graphicControl != nullptr)
        m_graphicControl->SetTransparentColorIndex(
            remap[static_cast<size_t>(m_graphicControl->TransparentColorIndex())]);
    return true;
}

int TGIFSubImage::Version() const
{
    return m_colorMap.Sorted() || !m_extensions.Empty() ? 2 : 1;
}

void TGIFSubImage::SaveToStream(TStream& stream)
{
    for (const auto& extension : m_extensions)
        extension->SaveToStream(stream);
    if (Empty())
        return;

    if (!m_colorMap.Empty())
        m_packed
            = static_cast<uint8_t>((m_colorMap.Sorted() ? 0xA0 : 0x80) | (ColorBits(m_colorMap.Count()) - 1));
    else
        m_packed &= 0x58; // interlace and the two reserved bits

    uint8_t descriptor[10] = { kImageSeparator };
    PutU16(descriptor + 1, m_left);
    PutU16(descriptor + 3, m_top);
    PutU16(descriptor + 5, m_width);
    PutU16(descriptor + 7, m_height);
    descriptor[9] = m_packed;
    stream.WriteBuffer(descriptor, sizeof descriptor);
    m_colorMap.SaveToStream(stream);

    int bits = ColorBits(m_colorMap.Count());
    int colorLimit = m_colorMap.Count();
    if (m_colorMap.Empty()) {
        bits = Image() != nullptr ? Image()->ColorResolutionBits() : 0;
        colorLimit = 1 << bits;
    }
    if (Image() != nullptr && Image()->EncodingKind() == TGIFEncoding::RLE)
        EncodeFrameRunLength(stream, bits, colorLimit, m_data.data(), Interlaced(), m_height, m_width);
    else
        EncodeFrame(stream, bits, colorLimit, m_data.data(), Interlaced(), m_height, m_width);
}

// ---- TGIFTrailer

void TGIFTrailer::SaveToStream(TStream& stream)
{
    stream.WriteByte(kTrailer);
}

// ---- TGIFImage

TGIFImage::TGIFImage()
    : m_header(this)
    , m_settings(GifDefaults)
    , m_dithered(GifLowColorScreen())
{ }

TGIFImage::~TGIFImage() = default;

void TGIFImage::SetWidth(int width)
{
    DropBitmaps();
    m_header.SetWidth(width);
    Changed();
}

void TGIFImage::SetHeight(int height)
{
    DropBitmaps();
    m_header.SetHeight(height);
    Changed();
}

void TGIFImage::Clear()
{
    DropBitmaps();
    m_images.Clear();
    m_header.Clear();
}

void TGIFImage::Assign(const TGraphic& source)
{
    const TBitmap* bitmap = dynamic_cast<const TBitmap*>(&source);
    TBitmap converted;
    if (bitmap == nullptr) {
        try {
            converted.Assign(source);
        } catch (const EInvalidGraphicOperation&) {
            TGraphic::Assign(source);
            return;
        }
        bitmap = &converted;
    }

    Clear();
    auto frame = std::make_unique<TGIFSubImage>(this);
    frame->Assign(*bitmap);
    m_images.Add(std::move(frame));
    Changed();
}

void TGIFImage::AssignRows(const TPixelView& rows, std::optional<TColor> transparentColor)
{
    Clear();
    auto frame = std::make_unique<TGIFSubImage>(this);
    frame->AssignRows(rows, transparentColor);
    m_images.Add(std::move(frame));
    Changed();
}

int TGIFImage::Version() const
{
    int version = 0;
    for (const auto& frame : m_images) {
        version = std::max(version, frame->Version());
        if (version >= 2)
            break;
    }
    return version;
}

int TGIFImage::ColorResolutionBits() const
{
    int bits = ColorBits(m_header.ColorMap().Count());
    for (const auto& frame : m_images)
        bits = std::max(bits, ColorBits(frame->ColorMap().Count()));
    return bits;
}

void TGIFImage::FrameBoundsChanged(const TGIFSubImage& frame)
{
    bool warned = false;
    const int right = std::min(frame.Left() + frame.Width(), 0xFFFF);
    if (m_header.Width() < right) {
        if (m_header.Width() > 0) {
            Warning(TGIFSeverity::Warning, gif_message::kWidthTooSmall);
            warned = true;
        }
        m_header.SetWidth(right);
    }
    const int bottom = std::min(frame.Top() + frame.Height(), 0xFFFF);
    if (m_header.Height() < bottom) {
        if (m_header.Height() > 0) {
            Warning(TGIFSeverity::Warning, gif_message::kHeightTooSmall);
            warned = true;
        }
        m_header.SetHeight(bottom);
    }
    if (warned)
        Warning(TGIFSeverity::Warning, gif_message::kExceedsScreen);
}

void TGIFImage::SaveToStream(TStream& stream)
{
    Progress(TProgressStage::Starting, 0, gif_message::kSaving);
    try {
        m_header.SaveToStream(stream);
        const int count = m_images.Count();
        for (int i = 0; i < count; ++i) {
            m_images[i].SaveToStream(stream);
            Progress(TProgressStage::Running, (i + 1) * 100 / count, gif_message::kSaving);
        }
        TGIFTrailer(this).SaveToStream(stream);
    } catch (...) {
        Progress(TProgressStage::Ending, 0, gif_message::kSaving);
        throw;
    }
    Progress(TProgressStage::Ending, 100, gif_message::kSaving);
}

void TGIFImage::Draw(TCanvas& canvas, const TRect& rect)
{
    const TBitmap* image = ImageBitmap();
    if (image == nullptr || image->Empty())
        return;
    TBitmap bitmap(*image);
    canvas.CopyRect(rect, bitmap.Canvas(), TRect { 0, 0, bitmap.Width(), bitmap.Height() });
}

void TGIFImage::Warning(TGIFSeverity severity, const std::string& message) const
{
    if (OnWarning)
        OnWarning(severity, message);
}

void TGIFImage::Progress(TProgressStage stage, int percent, const std::string& message) const
{
    if (OnProgress)
        OnProgress(const_cast<TGIFImage&>(*this), stage, static_cast<uint8_t>(std::clamp(percent, 0, 100)),
            false, TRect {}, message);
}

} // namespace sw
