// Reading GIF files into the object model, the extension classes, and the
// bitmaps a read image is shown through.

#include "core/base/errors.h"
#include "core/base/pixel_limit.h"
#include "core/imaging/bmp_file.h"
#include "core/imaging/gif/color_reduction.h"
#include "core/imaging/gif/gif_image.h"
#include "core/imaging/gif/gif_io.h"
#include "core/imaging/gif/gif_messages.h"
#include "core/imaging/gif/gif_sub_blocks.h"
#include "core/imaging/gif/lzw_decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace sw {

using namespace gif_io;

namespace {

const bool g_lowColorScreen = kDisplayBitsPerPixel <= 8;

// Reading where the end of the data is no error: false there.
bool ReadByte(TByteReader& reader, uint8_t& byte)
{
    if (reader.AtEnd())
        return false;
    byte = reader.U8();
    return true;
}

// The next byte that is not 0; false at the end of the data.
bool ReadNonZero(TByteReader& reader, uint8_t& byte)
{
    while (ReadByte(reader, byte))
        if (byte != 0)
            return true;
    return false;
}

// Only after a byte was read.
void StepBack(TByteReader& reader)
{
    reader.Seek(reader.Position() - 1);
}

// Skips up to count bytes; the end of the data simply stops it.
void SkipBytes(TByteReader& reader, size_t count)
{
    reader.Skip(std::min(count, reader.Remaining()));
}

void ReadSubBlockLines(TByteReader& reader, TGIFLines& lines)
{
    lines.clear();
    uint8_t size = 0;
    if (!ReadByte(reader, size))
        return;
    while (size != 0) {
        const std::span<const uint8_t> bytes = reader.Bytes(size);
        const char* text = reinterpret_cast<const char*>(bytes.data());
        lines.emplace_back(text, strnlen(text, size));
        if (!ReadByte(reader, size))
            return;
    }
}

void WriteSubBlocks(TStream& stream, const uint8_t* bytes, size_t count)
{
    TGIFWriter blocks(stream);
    blocks.Write(bytes, count);
    blocks.Flush();
}

// An empty line has no sub-block of its own (a 0 size ends the list).
void WriteSubBlockLines(TStream& stream, const TGIFLines& lines)
{
    for (const std::string& line : lines)
        WriteSubBlocks(stream, reinterpret_cast<const uint8_t*>(line.data()), line.size());
    stream.WriteByte(0);
}

bool HasSignature(const uint8_t* bytes)
{
    return (bytes[0] | 0x20) == 'g' && (bytes[1] | 0x20) == 'i' && (bytes[2] | 0x20) == 'f';
}

const TGIFExtensionClass* SameClass(const TGIFExtensionClass& self, TByteReader& /*reader*/)
{
    return &self;
}

const TGIFExtensionClass* ApplicationSubClass(const TGIFExtensionClass& self, TByteReader& reader)
{
    uint8_t size = 0;
    if (!ReadByte(reader, size))
        return nullptr;
    constexpr size_t kIdentifierSize = TGIFApplicationExtension::kIdentifierSize;
    if (size == 10)
        return reader.Remaining() >= 10 ? &TGIFUnknownAppExtension::Class() : nullptr;
    if (size == 11 && reader.Remaining() >= kIdentifierSize) {
        const TGIFExtensionClass* registered = TAppExtensionList::Find(reader.Bytes(kIdentifierSize).data());
        return registered != nullptr ? registered : &TGIFUnknownAppExtension::Class();
    }
    return &self;
}

template <typename T> std::unique_ptr<TGIFExtension> Make(TGIFSubImage* frame)
{
    return std::make_unique<T>(frame);
}

std::vector<const TGIFExtensionClass*>& ExtensionClasses()
{
    static std::vector<const TGIFExtensionClass*> classes {
        &TGIFTextExtension::Class(),
        &TGIFGraphicControlExtension::Class(),
        &TGIFCommentExtension::Class(),
        &TGIFApplicationExtension::Class(),
    };
    return classes;
}

struct TAppExtensionEntry {
    std::string Identifier;
    const TGIFExtensionClass* Class;
};

std::vector<TAppExtensionEntry>& AppExtensionClasses()
{
    static std::vector<TAppExtensionEntry> classes {
        { "NETSCAPE2.0", &TGIFAppExtNSLoop::Class() },
        { "ANIMEXTS1.0", &TGIFAppExtNSLoop::Class() },
    };
    return classes;
}

} // namespace

bool GifLowColorScreen()
{
    return g_lowColorScreen;
}

// ---- Registries

void TExtensionList::Add(const TGIFExtensionClass& extensionClass)
{
    ExtensionClasses().push_back(&extensionClass);
}

const TGIFExtensionClass* TExtensionList::Find(uint8_t label)
{
    const auto& classes = ExtensionClasses();
    for (auto it = classes.rbegin(); it != classes.rend(); ++it)
        if ((*it)->Label == label)
            return *it;
    return nullptr;
}

void TAppExtensionList::Add(const std::string& identifier, const TGIFExtensionClass& extensionClass)
{
    std::string key = identifier;
    key.resize(TGIFApplicationExtension::kIdentifierSize, '\0');
    AppExtensionClasses().push_back({ key, &extensionClass });
}

const TGIFExtensionClass* TAppExtensionList::Find(const uint8_t* identifier)
{
    const auto& classes = AppExtensionClasses();
    for (auto it = classes.rbegin(); it != classes.rend(); ++it)
        if (std::memcmp(it->Identifier.data(), identifier, TGIFApplicationExtension::kIdentifierSize) == 0)
            return it->Class;
    return nullptr;
}

const TGIFExtensionClass* FindExtensionClass(TByteReader& reader)
{
    const size_t start = reader.Position();
    uint8_t label = 0;
    const TGIFExtensionClass* found = ReadByte(reader, label) ? TExtensionList::Find(label) : nullptr;
    const size_t afterLabel = reader.Position();
    // Each class looks at the same bytes; the answer settles within a step
    // or two, the bound only guards against a registry that cycles.
    for (int step = 0; found != nullptr && step < 8; ++step) {
        reader.Seek(afterLabel);
        const TGIFExtensionClass* next = found->FindSubClass(*found, reader);
        if (next == found)
            break;
        found = next;
    }
    reader.Seek(start);
    return found;
}

// ---- Items

void TGIFItem::LoadFromStream(TStream& stream)
{
    const int64_t start = stream.Position();
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(0, stream.Size() - start)));
    bytes.resize(stream.Read(bytes.data(), bytes.size()));
    TByteReader reader = gif_io::Reader(bytes);
    try {
        Load(reader);
    } catch (...) {
        stream.SetPosition(start + static_cast<int64_t>(reader.Position()));
        throw;
    }
    stream.SetPosition(start + static_cast<int64_t>(reader.Position()));
}

void TGIFItem::LoadFromFile(const std::string& fileName)
{
    TFileStream stream(fileName, FileMode::OpenRead);
    LoadFromStream(stream);
}

void TGIFHeader::Load(TByteReader& reader)
{
    Clear();
    const size_t start = reader.Position();
    if (!HasSignature(reader.Bytes(6).data())) {
        reader.Seek(start + 4);
        if (!HasSignature(reader.Bytes(6).data()))
            throw GIFException(gif_message::kInvalidSignature);
    }
    m_width = reader.U16LE();
    m_height = reader.U16LE();
    m_packed = reader.U8();
    m_background = reader.U8();
    m_aspectRatio = reader.U8();
    if ((m_packed & 0x80) != 0) {
        m_colorMap.Load(reader, 2 << (m_packed & 0x07));
        m_colorMap.SetSorted((m_packed & 0x08) != 0);
    }
}

void TGIFTrailer::Load(TByteReader& reader)
{
    uint8_t byte = 0;
    if (ReadByte(reader, byte) && byte != kTrailer)
        Warning(TGIFSeverity::Warning, gif_message::kInvalidTrailer);
}

// ---- Extensions

void TGIFExtension::ReadIntroducer(TByteReader& reader) const
{
    const uint8_t introducer = reader.U8();
    const uint8_t label = reader.U8();
    if (introducer != kExtensionIntroducer)
        throw GIFException(gif_message::kInvalidExtensionIntroducer);
    if (label != Label())
        throw GIFException(gif_message::kExtensionLabelMismatch);
}

void TGIFExtensionList::Load(TByteReader& reader, TGIFSubImage* frame)
{
    uint8_t byte = 0;
    if (!ReadByte(reader, byte))
        return;
    while (byte != kImageSeparator && byte != kTrailer) {
        if (byte != kExtensionIntroducer) {
            if (frame != nullptr)
                frame->Warning(TGIFSeverity::Warning, gif_message::kInvalidExtensionIntroducer);
            break;
        }
        const TGIFExtensionClass* found = FindExtensionClass(reader);
        if (found == nullptr)
            throw GIFException(gif_message::kUnknownExtensionType);
        StepBack(reader);
        std::unique_ptr<TGIFExtension> extension = found->Create(frame);
        extension->Load(reader);
        Add(std::move(extension));
        if (!ReadByte(reader, byte))
            return;
    }
    StepBack(reader);
}

const TGIFExtensionClass& TGIFGraphicControlExtension::Class()
{
    static const TGIFExtensionClass c { "TGIFGraphicControlExtension", kLabel,
        Make<TGIFGraphicControlExtension>, SameClass };
    return c;
}

void TGIFGraphicControlExtension::Load(TByteReader& reader)
{
    ReadIntroducer(reader);
    // A cut-short block is read as far as it goes, the rest taken as 0.
    uint8_t body[6] = {};
    const size_t got = std::min(sizeof body, reader.Remaining());
    reader.CopyTo(body, got);
    if (got != sizeof body)
        Warning(TGIFSeverity::Warning, gif_message::kPrematureEndOfData);
    m_blockSize = body[0];
    m_packed = body[1];
    m_delay = static_cast<uint16_t>(body[2] | body[3] << 8);
    m_transparentIndex = body[4];
    m_terminator = body[5];
    if ((m_packed & 0x01) != 0 && Frame() != nullptr)
        Frame()->SetTransparent(true);
}

const TGIFExtensionClass& TGIFCommentExtension::Class()
{
    static const TGIFExtensionClass c { "TGIFCommentExtension", kLabel, Make<TGIFCommentExtension>,
        SameClass };
    return c;
}

void TGIFCommentExtension::Load(TByteReader& reader)
{
    ReadIntroducer(reader);
    ReadSubBlockLines(reader, m_lines);
}

void TGIFCommentExtension::SaveBody(TStream& stream)
{
    WriteSubBlockLines(stream, m_lines);
}

const TGIFExtensionClass& TGIFTextExtension::Class()
{
    static const TGIFExtensionClass c { "TGIFTextExtension", kLabel, Make<TGIFTextExtension>, SameClass };
    return c;
}

void TGIFTextExtension::SetGrid(int left, int top, int width, int height)
{
    m_left = static_cast<uint16_t>(left);
    m_top = static_cast<uint16_t>(top);
    m_width = static_cast<uint16_t>(width);
    m_height = static_cast<uint16_t>(height);
}

void TGIFTextExtension::SetCell(int width, int height, int foreground, int background)
{
    m_cellWidth = static_cast<uint8_t>(width);
    m_cellHeight = static_cast<uint8_t>(height);
    m_foreground = static_cast<uint8_t>(foreground);
    m_background = static_cast<uint8_t>(background);
}

void TGIFTextExtension::Load(TByteReader& reader)
{
    ReadIntroducer(reader);
    // The block size byte is not checked: the header is 12 bytes whatever it says.
    reader.Skip(1);
    const int left = reader.U16LE();
    const int top = reader.U16LE();
    const int width = reader.U16LE();
    const int height = reader.U16LE();
    SetGrid(left, top, width, height);
    const std::span<const uint8_t> cell = reader.Bytes(4);
    SetCell(cell[0], cell[1], cell[2], cell[3]);
    ReadSubBlockLines(reader, m_lines);
}

void TGIFTextExtension::SaveBody(TStream& stream)
{
    uint8_t header[13] = { 12 };
    PutU16(header + 1, m_left);
    PutU16(header + 3, m_top);
    PutU16(header + 5, m_width);
    PutU16(header + 7, m_height);
    header[9] = m_cellWidth;
    header[10] = m_cellHeight;
    header[11] = m_foreground;
    header[12] = m_background;
    stream.WriteBuffer(header, sizeof header);
    WriteSubBlockLines(stream, m_lines);
}

const TGIFExtensionClass& TGIFApplicationExtension::Class()
{
    static const TGIFExtensionClass c { "TGIFApplicationExtension", kLabel, Make<TGIFApplicationExtension>,
        ApplicationSubClass };
    return c;
}

void TGIFApplicationExtension::SetIdentifier(const std::string& identifier)
{
    m_identifier = identifier;
    m_identifier.resize(kIdentifierSize, '\0');
}

void TGIFApplicationExtension::Load(TByteReader& reader)
{
    ReadIntroducer(reader);
    const uint8_t size = reader.U8();
    if (size < 10)
        throw GIFException(gif_message::kUnsupportedApplicationBlockSize);
    uint8_t identifier[kIdentifierSize];
    reader.CopyTo(identifier, sizeof identifier);
    // A 10-byte block has one identifier byte less; the byte read for it
    // belongs to the data and is left as 0 here.
    if (size == 10)
        identifier[kIdentifierSize - 1] = 0;
    m_identifier.assign(reinterpret_cast<const char*>(identifier), kIdentifierSize);
    // A block above 11 bytes may claim more than is left: the data then
    // simply ends.
    reader.Seek(std::min(reader.Position() + size - kIdentifierSize, reader.Position() + reader.Remaining()));
    LoadData(reader);
}

void TGIFApplicationExtension::SaveBody(TStream& stream)
{
    stream.WriteByte(static_cast<uint8_t>(kIdentifierSize));
    stream.WriteBuffer(m_identifier.data(), kIdentifierSize);
    SaveData(stream);
}

void TGIFApplicationExtension::LoadData(TByteReader& reader)
{
    m_blocks.clear();
    uint8_t size = 0;
    while (ReadByte(reader, size) && size != 0) {
        const std::span<const uint8_t> bytes = reader.Bytes(size);
        m_blocks.emplace_back(bytes.begin(), bytes.end());
    }
}

void TGIFApplicationExtension::SaveData(TStream& stream)
{
    for (const TGIFBlock& block : m_blocks)
        WriteSubBlocks(stream, block.data(), block.size());
    stream.WriteByte(0);
}

const TGIFExtensionClass& TGIFUnknownAppExtension::Class()
{
    static const TGIFExtensionClass c { "TGIFUnknownAppExtension", kLabel, Make<TGIFUnknownAppExtension>,
        ApplicationSubClass };
    return c;
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* frame)
    : TGIFApplicationExtension(frame)
{
    SetIdentifier("NETSCAPE2.0");
}

const TGIFExtensionClass& TGIFAppExtNSLoop::Class()
{
    static const TGIFExtensionClass c { "TGIFAppExtNSLoop", kLabel, Make<TGIFAppExtNSLoop>,
        ApplicationSubClass };
    return c;
}

void TGIFAppExtNSLoop::LoadData(TByteReader& reader)
{
    uint8_t size = 0;
    while (ReadByte(reader, size) && size != 0) {
        const uint8_t id = reader.U8();
        size_t rest = size - 1u;
        if ((id & 7) == 1) {
            if (rest < 2)
                throw GIFException(gif_message::kInvalidData);
            m_loops = reader.U16LE();
            rest -= 2;
        } else if ((id & 7) == 2) {
            if (rest < 4)
                throw GIFException(gif_message::kInvalidData);
            m_bufferSize = reader.U32LE();
            rest -= 4;
        }
        SkipBytes(reader, rest);
    }
}

void TGIFAppExtNSLoop::SaveData(TStream& stream)
{
    uint8_t loops[4] = { 3, 1 };
    PutU16(loops + 2, m_loops);
    stream.WriteBuffer(loops, sizeof loops);
    if (m_bufferSize != 0) {
        uint8_t buffer[6] = { 5, 2 };
        PutU32(buffer + 2, m_bufferSize);
        stream.WriteBuffer(buffer, sizeof buffer);
    }
    stream.WriteByte(0);
}

// ---- TGIFSubImage

void TGIFSubImage::Load(TByteReader& reader)
{
    Clear();
    m_left = 0;
    m_top = 0;
    m_packed = 0;
    m_extensions.Load(reader, this);

    uint8_t next = 0;
    if (!ReadByte(reader, next))
        return;
    StepBack(reader);
    if (next == kTrailer || next == 0)
        return; // a frame of extensions only

    // The separator byte is not checked: the extension list stopped at it.
    reader.Skip(1);
    m_left = reader.U16LE();
    m_top = reader.U16LE();
    m_width = reader.U16LE();
    m_height = reader.U16LE();
    m_packed = reader.U8();
    if (m_width == 0 || m_height == 0) {
        m_width = Image() != nullptr ? static_cast<uint16_t>(Image()->Header().Width()) : 0;
        m_height = Image() != nullptr ? static_cast<uint16_t>(Image()->Header().Height()) : 0;
        Warning(TGIFSeverity::Warning, gif_message::kExceedsScreen);
    }
    if ((m_packed & 0x80) != 0) {
        m_colorMap.Load(reader, 2 << (m_packed & 0x07));
        m_colorMap.SetSorted((m_packed & 0x20) != 0);
    }
    DecodeFrameData(reader);
}

void TGIFSubImage::DecodeFrameData(TByteReader& reader)
{
    SettleKeptBitmap();
    DropBitmap();
    const int64_t pixels = int64_t(m_width) * m_height;
    if (ExceedsPixelLimit(m_width, m_height))
        throw GIFException(PictureTooLargeMessage(m_width, m_height));
    if (Image() != nullptr) {
        Image()->m_pixelsRead += pixels;
        if (Image()->m_pixelsRead > Image()->m_maxImagePixels)
            throw GIFException(
                Format(gif_message::kImageTooLarge, static_cast<long long>(Image()->m_maxImagePixels)));
    }
    const uint8_t fill = m_transparent && m_graphicControl != nullptr
        ? static_cast<uint8_t>(m_graphicControl->TransparentColorIndex())
        : 0;
    try {
        m_data.assign(static_cast<size_t>(pixels), fill);
    } catch (const std::bad_alloc&) {
        m_data = std::vector<uint8_t>();
        throw EOutOfResources(Format(gif_message::kNoMemoryForFrame, int(m_width), int(m_height)));
    }
    TLZWDecoder decoder(
        reader, [this](const std::string& message) { Warning(TGIFSeverity::Warning, message); });
    decoder.DecodeFrame(m_data.data(), m_width, m_height, Interlaced(), fill);
    // Codes that run out before the bytes do are a short frame, which many
    // writers make; bytes that run out first are a file cut short.
    if (decoder.DecodedPixels() < pixels && reader.AtEnd() && Image() != nullptr) {
        const int64_t missing = pixels - decoder.DecodedPixels();
        const int frame = Image()->m_images.Count() + 1;
        const std::string where = frame == 1 ? std::string() : Format(" of frame %d", frame);
        Image()->m_readWarnings.push_back(Format("cut short: %lld of %lld pixels%s are missing (%lld %%)",
            static_cast<long long>(missing), static_cast<long long>(pixels), where.c_str(),
            static_cast<long long>(missing * 100 / pixels)));
    }
}

void TGIFSubImage::DropBitmap()
{
    m_frameBitmap.reset();
    m_mask.clear();
}

const TBitmap* TGIFSubImage::FrameBitmap()
{
    if (m_frameBitmap != nullptr)
        return m_frameBitmap.get();
    if (Empty() || m_data.size() < size_t(m_width) * m_height)
        return nullptr;
    const TGIFColorMap* palette = &m_colorMap;
    if (m_colorMap.Empty()) {
        if (Image() == nullptr)
            throw GIFException(gif_message::kNoColorTable);
        palette = &Image()->ImagePalette();
    }
    const bool dithered = Image() != nullptr ? Image()->Dithered() : GifLowColorScreen();
    if (dithered)
        BuildDitheredBitmap(*palette);
    else
        BuildTrueColorBitmap(*palette);
    if (m_transparent)
        BuildTransparencyMask();
    return m_frameBitmap.get();
}

namespace {

// An 8-bit BMP file of one pixel (index 0) with a 256-entry table: the
// palette, then black.
void MakeIndexedBmp(TMemoryStream& file, const TGIFColorMap& palette)
{
    constexpr size_t kFileHeader = 14;
    constexpr size_t kInfoHeader = 40;
    constexpr size_t kPixelOffset = kFileHeader + kInfoHeader + 256 * 4;
    constexpr size_t width = 1;
    constexpr size_t height = 1;
    constexpr size_t imageBytes = 4; // a row is padded to four bytes
    file.Bytes().assign(kPixelOffset + imageBytes, 0);
    uint8_t* bytes = file.Bytes().data();
    bytes[0] = 'B';
    bytes[1] = 'M';
    PutU32(bytes + 2, static_cast<uint32_t>(kPixelOffset + imageBytes));
    PutU32(bytes + 10, static_cast<uint32_t>(kPixelOffset));
    uint8_t* info = bytes + kFileHeader;
    PutU32(info, kInfoHeader);
    PutU32(info + 4, static_cast<uint32_t>(width));
    PutU32(info + 8, static_cast<uint32_t>(height)); // bottom-up
    PutU16(info + 12, 1);
    PutU16(info + 14, 8);
    PutU32(info + 20, static_cast<uint32_t>(imageBytes));
    PutU32(info + 32, 256);
    PutU32(info + 36, static_cast<uint32_t>(palette.Count()));
    uint8_t* table = info + kInfoHeader;
    for (int i = 0; i < palette.Count(); ++i) {
        const TGIFColor& color = palette[i];
        table[4 * i] = color.Blue;
        table[4 * i + 1] = color.Green;
        table[4 * i + 2] = color.Red;
    }
}

} // namespace

// An 8-bit bitmap whose pixels are the frame's indices, and indices beyond
// the table show black, shaped as the BMP reader shapes such a file: a file
// of one pixel read back gives the format, which the frame's size then
// takes, so the pixels are copied once. A frame above the pixel limit gets
// the reader's refusal, without a file of its size made first.
void TGIFSubImage::BuildTrueColorBitmap(const TGIFColorMap& palette)
{
    const size_t width = m_width;
    const size_t height = m_height;
    if (ExceedsPixelLimit(m_width, m_height))
        throw EInvalidGraphic(BitmapTooLargeMessage(m_width, m_height));
    auto bitmap = std::make_unique<TBitmap>();
    try {
        TMemoryStream file;
        MakeIndexedBmp(file, palette);
        bitmap->LoadFromStream(file);
        bitmap->SetSizeForOverwrite(m_width, m_height);
        uint8_t* rows = bitmap->ScanLine(0);
        const size_t rowBytes = static_cast<size_t>(bitmap->RowBytes());
        for (size_t y = 0; y < height; ++y) {
            std::memcpy(rows + y * rowBytes, m_data.data() + y * width, width);
            RowDone(static_cast<int>(y), gif_message::kRendering);
        }
    } catch (const std::bad_alloc&) {
        throw EOutOfResources(gif_message::kNoMemoryForDib);
    }
    m_frameBitmap = std::move(bitmap);
}

// For screens of 256 colours or fewer: the frame's colours error-diffused
// onto the web cube.
void TGIFSubImage::BuildDitheredBitmap(const TGIFColorMap& palette)
{
    auto bitmap = std::make_unique<TBitmap>();
    const TNetscapeColorLookup lookup;
    TFloydSteinbergDitherer engine(m_width, lookup);
    TDIBWriter writer(*bitmap, MakeWebCubePalette(), m_height, m_width, TPixelFormat::pf8bit);
    for (int y = 0; y < m_height; ++y) {
        const uint8_t* in = m_data.data() + size_t(y) * m_width;
        uint8_t* out = writer.Row(y);
        for (int x = engine.Column(); x >= 0 && x < m_width; x = engine.Column()) {
            const TGIFColor color = in[x] < palette.Count() ? palette[in[x]] : TGIFColor {};
            out[x] = engine.MapPixel(color.Red, color.Green, color.Blue);
        }
        engine.TurnRow();
        RowDone(y, gif_message::kRendering);
    }
    m_frameBitmap = std::move(bitmap);
}

void TGIFSubImage::BuildTransparencyMask()
{
    const uint8_t transparent
        = m_graphicControl != nullptr ? static_cast<uint8_t>(m_graphicControl->TransparentColorIndex()) : 0;
    const size_t rowBytes = (size_t(m_width) + 15) / 16 * 2;
    m_mask.assign(rowBytes * m_height, 0);
    for (size_t y = 0; y < m_height; ++y) {
        const uint8_t* in = m_data.data() + y * m_width;
        uint8_t* out = m_mask.data() + y * rowBytes;
        for (size_t x = 0; x < m_width; ++x)
            if (in[x] == transparent)
                out[x >> 3] = static_cast<uint8_t>(out[x >> 3] | (0x80 >> (x & 7)));
    }
}

// ---- TGIFImage

void TGIFImage::LoadFromStream(TStream& stream)
{
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
        LoadFromMemory(*memory);
        return;
    }
    // Reading works on many small reads and steps back; a copy in memory
    // makes those cheap. The stream ends up where the reading stopped.
    const int64_t start = stream.Position();
    // Something that is plainly no GIF file is refused before it is copied.
    uint8_t head[10];
    const size_t got = stream.Read(head, sizeof head);
    stream.SetPosition(start);
    if (got == sizeof head && !HasSignature(head) && !HasSignature(head + 4))
        throw GIFException(gif_message::kInvalidSignature);
    TMemoryStream copy;
    const int64_t remaining = std::max<int64_t>(0, stream.Size() - start);
    copy.Bytes().resize(static_cast<size_t>(remaining));
    copy.Bytes().resize(stream.Read(copy.Bytes().data(), copy.Bytes().size()));
    try {
        LoadFromMemory(copy);
    } catch (...) {
        stream.SetPosition(start);
        throw;
    }
    stream.SetPosition(start + copy.Position());
}

void TGIFImage::LoadFromMemory(TMemoryStream& stream)
{
    Clear();
    m_pixelsRead = 0;
    m_readWarnings.clear();
    const int64_t start = stream.Position();
    Progress(TProgressStage::Starting, 0, gif_message::kLoading);
    try {
        TByteReader reader = gif_io::Reader(stream.Bytes());
        reader.Seek(static_cast<size_t>(start));
        m_header.Load(reader);
        if (ExceedsPixelLimit(m_header.Width(), m_header.Height()))
            throw GIFException(PictureTooLargeMessage(m_header.Width(), m_header.Height()));
        if (LoadFrames(reader))
            TGIFTrailer(this).Load(reader);
        stream.SetPosition(static_cast<int64_t>(reader.Position()));
    } catch (...) {
        stream.SetPosition(start);
        Progress(TProgressStage::Ending, 0, gif_message::kLoading);
        Changed();
        throw;
    }
    Progress(TProgressStage::Ending, 100, gif_message::kLoading);
    Changed();
}

bool TGIFImage::LoadFrames(TByteReader& reader)
{
    const int64_t size = std::max<int64_t>(int64_t(reader.Position() + reader.Remaining()), 1);
    uint8_t byte = 0;
    bool more = ReadNonZero(reader, byte);
    while (more && byte != kTrailer) {
        StepBack(reader);
        if (byte != kExtensionIntroducer && byte != kImageSeparator) {
            Warning(TGIFSeverity::Warning, gif_message::kUnknownBlockType);
            break;
        }
        auto frame = std::make_unique<TGIFSubImage>(this);
        frame->Load(reader);
        const bool hasPixels = !frame->Empty();
        m_images.Add(std::move(frame));
        if (m_firstFrameOnly && hasPixels)
            return false;
        Progress(TProgressStage::Running, static_cast<int>(int64_t(reader.Position()) * 100 / size),
            gif_message::kLoading);
        more = ReadNonZero(reader, byte);
    }
    return true;
}

void TGIFImage::DropBitmaps()
{
    m_bitmap.reset();
    for (const auto& frame : m_images)
        frame->DropBitmap();
}

void TGIFImage::SetReadLimit(int64_t imagePixels)
{
    m_maxImagePixels = std::clamp<int64_t>(imagePixels, 0, kMaxGIFImagePixels);
}

void TGIFImage::SetDithered(bool value)
{
    if (value == m_dithered)
        return;
    DropBitmaps();
    m_dithered = value;
}

const TGIFColorMap& TGIFImage::ImagePalette() const
{
    if (!m_header.ColorMap().Empty())
        return m_header.ColorMap();
    if (!m_images.Empty() && !m_images[0].ColorMap().Empty())
        return m_images[0].ColorMap();
    throw GIFException(gif_message::kNoColorTable);
}

const TBitmap* TGIFImage::ImageBitmap() const
{
    if (m_bitmap != nullptr)
        return m_bitmap.get();
    if (m_images.Empty())
        return nullptr;
    TGIFSubImage& frame = m_images[0];
    auto bitmap = std::make_unique<TBitmap>();
    if (frame.Width() == Width() && frame.Height() == Height()) {
        if (const TBitmap* frameBitmap = frame.FrameBitmap())
            bitmap->Assign(*frameBitmap);
    } else {
        // The frame at its place on a screen-sized bitmap; the rest is what
        // a newly sized bitmap holds. The image's palette is needed here
        // even when the frame has no pixels.
        ImagePalette();
        bitmap->SetSize(Width(), Height());
        const TBitmap* frameBitmap = frame.FrameBitmap();
        if (frameBitmap != nullptr && !bitmap->Empty()) {
            TBitmap source(*frameBitmap);
            const TRect place { frame.Left(), frame.Top(), frame.Left() + frame.Width(),
                frame.Top() + frame.Height() };
            bitmap->Canvas().CopyRect(place, source.Canvas(), TRect { 0, 0, frame.Width(), frame.Height() });
        }
    }
    m_bitmap = std::move(bitmap);
    return m_bitmap.get();
}

bool TGIFImage::AssignTo(TGraphic& dest) const
{
    auto* bitmap = dynamic_cast<TBitmap*>(&dest);
    if (bitmap == nullptr)
        return false;
    if (const TBitmap* image = ImageBitmap())
        bitmap->Assign(*image);
    else
        bitmap->Clear();
    return true;
}

} // namespace sw
