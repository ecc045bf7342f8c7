// BMP files.
//
// Written: a 14-byte file header ("BM", file size, 0, offset of pixels), a
// 40-byte information header, the three 4-byte masks red, green, blue for
// 16/32 bits with bit-field compression (3), the colour table (blue, green,
// red, 0 per entry), then the rows bottom to top, each padded to 4 bytes. A
// store read from a 12-byte-header file is written with that header (16-bit
// width and height) and 3-byte colour entries, 2^bits of them. A store read
// from a run-length encoded file and not changed since writes the file's
// bytes back.
//
// Read: the 12-byte header and every longer one (40; 52 and 56 with the
// masks inside; 108 and 124; the OS/2 2.x forms of 16 to 64 bytes, whose
// missing fields read as 0), 1/2/4/8/16/24/32 bits per pixel, top-down
// rows, bit fields of any layout, RLE8 and RLE4. Pictures above the shared
// pixel limit are refused before anything is allocated. Uncompressed rows
// must all be in the file (only the last row's padding may be missing), so
// the store is never larger than the data that fills it. Run-length data may
// end early or skip pixels, which stay black: its few bytes can rightly
// stand for a large picture (end of line, delta and end of bitmap cover any
// number of pixels), so only the pixel limit bounds it.

#include "core/imaging/bmp_file.h"

#include "core/base/byte_reader.h"
#include "core/base/errors.h"
#include "core/base/pixel_limit.h"
#include "core/base/stream.h"
#include "core/imaging/bitmap_image.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace sw {

namespace {

constexpr uint32_t kCompressionRle8 = 1;
constexpr uint32_t kCompressionRle4 = 2;
// Bit fields with a fourth (alpha) mask, which is not used here.
constexpr uint32_t kCompressionAlphaBitFields = 6;

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
// The longest header known is 124 bytes; anything much longer is damage.
constexpr uint32_t kMaxHeaderSize = 1024;

// "Bitmap image is not valid (what is wrong)".
[[noreturn]] void Invalid(const std::string& reason)
{
    throw EInvalidGraphic(std::string(kBitmapNotValidMessage) + " (" + reason + ")");
}

constexpr char kEndsEarly[] = "Bitmap image is not valid (the file ends inside its headers)";

TByteReader Reader(std::span<const uint8_t> bytes)
{
    return TByteReader(bytes, ThrowAs<EInvalidGraphic>, kEndsEarly);
}

struct THeader {
    uint32_t Size = 0;
    int64_t Width = 0;
    int64_t Height = 0;
    uint16_t Planes = 0;
    uint16_t BitCount = 0;
    uint32_t Compression = 0;
    uint32_t SizeImage = 0;
    int32_t XPelsPerMeter = 0;
    int32_t YPelsPerMeter = 0;
    uint32_t ColorsUsed = 0;
    uint32_t ColorsImportant = 0;
    uint32_t Masks[3] = { 0, 0, 0 };
    bool HasMasks = false;
};

THeader ReadHeader(TByteReader& reader)
{
    THeader header;
    header.Size = reader.U32LE();
    if (header.Size == kCoreHeaderSize) {
        header.Width = reader.U16LE();
        header.Height = reader.U16LE();
        header.Planes = reader.U16LE();
        header.BitCount = reader.U16LE();
        return header;
    }
    if (header.Size < 16 || header.Size > kMaxHeaderSize)
        Invalid(Format("an information header of %u bytes", unsigned(header.Size)));
    // Shorter headers (OS/2 2.x) stop anywhere after the bit count; the
    // fields they lack read as 0.
    uint8_t fields[56] = {};
    const size_t present = std::min<size_t>(header.Size - 4, sizeof fields);
    reader.CopyTo(fields, present);
    reader.Skip(header.Size - 4 - present);
    TByteReader in = Reader(fields);
    header.Width = in.I32LE();
    header.Height = in.I32LE();
    header.Planes = in.U16LE();
    header.BitCount = in.U16LE();
    header.Compression = in.U32LE();
    header.SizeImage = in.U32LE();
    header.XPelsPerMeter = in.I32LE();
    header.YPelsPerMeter = in.I32LE();
    header.ColorsUsed = in.U32LE();
    header.ColorsImportant = in.U32LE();
    for (uint32_t& mask : header.Masks)
        mask = in.U32LE();
    header.HasMasks = header.Size >= 52;
    return header;
}

bool ValidBitCount(uint16_t bits)
{
    return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Run-length decoding into a device store; row 0 of the file is the bottom
// row unless the file is top-down. The rows the data reached when it ran
// out before its end mark and before the last row; nothing when it ended
// as data may (a file cut short leaves the rest black).
std::optional<int64_t> DecodeRle(const uint8_t* data, size_t size, bool fourBits, bool topDown,
    const std::vector<TRGBQuad>& table, TBitmapImage& image)
{
    const TPixelCodec codec(image);
    int64_t x = 0;
    int64_t line = 0;
    auto put = [&](unsigned index) {
        if (x < image.Width && line < image.Height) {
            const int y = static_cast<int>(topDown ? line : image.Height - 1 - line);
            const TColor color = index < table.size()
                ? RGB(table[index].Red, table[index].Green, table[index].Blue)
                : clBlack;
            codec.Put(image.Row(y), static_cast<int>(x), color);
        }
        ++x;
    };
    size_t at = 0;
    while (at + 2 <= size && line < image.Height) {
        const unsigned count = data[at];
        const unsigned value = data[at + 1];
        at += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i)
                put(fourBits ? ((i % 2 == 0) ? value >> 4 : value & 0x0F) : value);
            continue;
        }
        if (value == 0) {
            x = 0;
            ++line;
        } else if (value == 1) {
            return std::nullopt;
        } else if (value == 2) {
            if (at + 2 > size)
                break;
            x += data[at];
            line += data[at + 1];
            at += 2;
        } else {
            // An absolute run of value pixels, padded to a 16-bit boundary.
            const size_t bytes = fourBits ? (value + 1) / 2 : value;
            const size_t padded = (bytes + 1) & ~size_t(1);
            for (unsigned i = 0; i < value; ++i) {
                const size_t byteIndex = at + (fourBits ? i / 2 : i);
                if (byteIndex >= size)
                    break;
                const unsigned byte = data[byteIndex];
                put(fourBits ? ((i % 2 == 0) ? byte >> 4 : byte & 0x0F) : byte);
            }
            at += std::min(padded, size - at);
        }
    }
    // Writers that leave out the marks still reach the last row.
    if (line < image.Height - 1)
        return line;
    return std::nullopt;
}

} // namespace

std::optional<TPictureSize> BmpHeaderSize(std::span<const uint8_t> bytes)
{
    try {
        TByteReader reader
            = Reader(bytes.first(std::min<size_t>(bytes.size(), kFileHeaderSize + kMaxHeaderSize)));
        if (reader.U8() != 'B' || reader.U8() != 'M')
            return std::nullopt;
        reader.Skip(12); // file size, reserved, pixel offset
        const THeader header = ReadHeader(reader);
        return TPictureSize { header.Width, header.Height < 0 ? -header.Height : header.Height };
    } catch (const EInvalidGraphic&) {
        return std::nullopt;
    }
}

std::string BitmapTooLargeMessage(int64_t width, int64_t height)
{
    return std::string(kBitmapNotValidMessage) + ": " + PictureTooLargeMessage(width, height);
}

namespace {

// Where the file's bytes come from. The headers and colour table are read
// from the front of the file as one piece; uncompressed rows go straight
// into the store, so a file on disk is not held in memory beside its pixels.
class TBmpSource {
public:
    virtual ~TBmpSource() = default;
    virtual size_t Size() const = 0;
    // The first count bytes (count <= Size()), valid until the next call.
    virtual std::span<const uint8_t> Front(size_t count) = 0;
    // The bytes from offset on into the pieces, one after the other.
    virtual void Copy(size_t offset, std::span<const std::span<uint8_t>> pieces) = 0;
};

class TSpanSource final : public TBmpSource {
public:
    explicit TSpanSource(std::span<const uint8_t> bytes)
        : m_bytes(bytes)
    { }
    size_t Size() const override { return m_bytes.size(); }
    std::span<const uint8_t> Front(size_t count) override { return m_bytes.first(count); }
    void Copy(size_t offset, std::span<const std::span<uint8_t>> pieces) override
    {
        for (const std::span<uint8_t>& piece : pieces) {
            std::memcpy(piece.data(), m_bytes.data() + offset, piece.size());
            offset += piece.size();
        }
    }

private:
    std::span<const uint8_t> m_bytes;
};

class TStreamSource final : public TBmpSource {
public:
    TStreamSource(TStream& stream, size_t size)
        : m_stream(stream)
        , m_start(stream.Position())
        , m_size(size)
    { }
    size_t Size() const override { return m_size; }
    std::span<const uint8_t> Front(size_t count) override
    {
        if (count > m_front.size()) {
            const size_t had = m_front.size();
            m_front.resize(count);
            m_stream.SetPosition(m_start + static_cast<int64_t>(had));
            m_stream.ReadBuffer(m_front.data() + had, count - had);
        }
        return std::span<const uint8_t>(m_front).first(count);
    }
    void Copy(size_t offset, std::span<const std::span<uint8_t>> pieces) override
    {
        m_stream.SetPosition(m_start + static_cast<int64_t>(offset));
        m_stream.ReadPieces(pieces);
    }
    // Leaves the stream after the file, as a reader of the whole would.
    void Finish() { m_stream.SetPosition(m_start + static_cast<int64_t>(m_size)); }

private:
    TStream& m_stream;
    int64_t m_start;
    size_t m_size;
    std::vector<uint8_t> m_front;
};

// Rows handed to the stream in one call. A piece for every row of a tall,
// narrow picture at once would take several times the memory of its pixels
// (16 bytes a piece for a row of 4).
constexpr int64_t kRowsPerBatch = 4096;

// Enough for the file header, the longest information header and masks.
constexpr size_t kHeadersRead = kFileHeaderSize + kMaxHeaderSize + 16;

std::shared_ptr<TBitmapImage> ReadBmpFrom(TBmpSource& source, std::string* cutShort)
{
    auto image = std::make_shared<TBitmapImage>();
    const size_t fileSize = source.Size();
    if (fileSize == 0)
        return image;

    TByteReader reader = Reader(source.Front(std::min(fileSize, kHeadersRead)));
    if (reader.U8() != 'B' || reader.U8() != 'M')
        Invalid("no BM signature");
    reader.Skip(8); // file size, reserved
    const uint32_t pixelOffset = reader.U32LE();
    THeader header = ReadHeader(reader);
    const bool os2 = header.Size == kCoreHeaderSize;

    if (header.Planes != 1)
        Invalid(Format("%d colour planes, not 1", int(header.Planes)));
    if (!ValidBitCount(header.BitCount))
        Invalid(Format("%d bits per pixel", int(header.BitCount)));
    const int bits = header.BitCount;
    const auto wrongBits = [&] {
        Invalid(Format("compression %u with %d bits per pixel", unsigned(header.Compression), bits));
    };
    uint32_t compression = header.Compression;
    switch (compression) {
    case kCompressionNone:
        break;
    case kCompressionRle8:
        if (bits != 8)
            wrongBits();
        break;
    case kCompressionRle4:
        if (bits != 4)
            wrongBits();
        break;
    case kCompressionBitFields:
    case kCompressionAlphaBitFields:
        if (bits != 16 && bits != 32)
            wrongBits();
        if (!header.HasMasks) {
            for (uint32_t& mask : header.Masks)
                mask = reader.U32LE();
            if (compression == kCompressionAlphaBitFields)
                reader.Skip(4);
        }
        compression = kCompressionBitFields;
        break;
    default:
        // Embedded JPEG or PNG data, OS/2 Huffman and RLE24 are not read.
        Invalid(Format("compression %u is not supported", unsigned(compression)));
    }

    const bool topDown = header.Height < 0;
    const int64_t height = topDown ? -header.Height : header.Height;
    const int64_t width = header.Width;
    if (width <= 0 || height <= 0)
        Invalid(Format("a size of %lld x %lld pixels", static_cast<long long>(width),
            static_cast<long long>(header.Height)));
    if (ExceedsPixelLimit(width, height))
        throw EInvalidGraphic(BitmapTooLargeMessage(width, height));
    const bool runLength = compression == kCompressionRle8 || compression == kCompressionRle4;

    // Colour table: 3-byte entries after a 12-byte header, else 4 bytes.
    const size_t entrySize = os2 ? 3 : 4;
    uint64_t colorCount = header.ColorsUsed;
    if (os2 || colorCount == 0)
        colorCount = bits <= 8 ? (uint64_t(1) << bits) : 0;
    const size_t tableStart = reader.Position();
    // The file header's pixel offset is used when it is plausible: it lets
    // files with a gap before the pixels, or a colour table shorter than
    // declared, read correctly. Otherwise the pixels follow the table.
    const bool offsetUsable = pixelOffset >= tableStart && pixelOffset <= fileSize;
    if (offsetUsable)
        colorCount = std::min<uint64_t>(colorCount, (pixelOffset - tableStart) / entrySize);
    if (colorCount > (fileSize - tableStart) / entrySize)
        Invalid(Format("a colour table of %llu entries does not fit in the file",
            static_cast<unsigned long long>(colorCount)));
    reader = Reader(source.Front(tableStart + static_cast<size_t>(colorCount) * entrySize));
    reader.Seek(tableStart);
    std::vector<TRGBQuad> table(static_cast<size_t>(colorCount));
    for (TRGBQuad& entry : table) {
        entry.Blue = reader.U8();
        entry.Green = reader.U8();
        entry.Red = reader.U8();
        if (!os2)
            reader.U8();
    }
    const size_t dataStart = offsetUsable ? pixelOffset : reader.Position();
    const size_t available = fileSize - dataStart;
    // Within the pixel limit none of this can overflow.
    const uint64_t rowBytes = static_cast<uint64_t>(TBitmapImage::RowBytesFor(width, bits));
    const uint64_t lastRowPixelBytes = (static_cast<uint64_t>(width) * bits + 7) / 8;
    const uint64_t pixelBytes = rowBytes * static_cast<uint64_t>(height - 1) + lastRowPixelBytes;
    if (!runLength && available < pixelBytes)
        Invalid(Format("%llu bytes of pixels for %lld x %lld at %d bits, %llu needed",
            static_cast<unsigned long long>(available), static_cast<long long>(width),
            static_cast<long long>(height), bits, static_cast<unsigned long long>(pixelBytes)));

    image->Width = static_cast<int>(width);
    image->Height = static_cast<int>(height);
    image->XPelsPerMeter = header.XPelsPerMeter;
    image->YPelsPerMeter = header.YPelsPerMeter;
    image->ColorsImportant = header.ColorsImportant;
    image->OS2 = os2;
    try {
        if (runLength) {
            image->Device = true;
            image->BitCount = kDisplayBitsPerPixel;
            image->Allocate();
            const size_t dataSize
                = header.SizeImage ? std::min<size_t>(header.SizeImage, available) : available;
            const std::span<const uint8_t> file = source.Front(dataStart + dataSize);
            const std::optional<int64_t> reached = DecodeRle(
                file.data() + dataStart, dataSize, compression == kCompressionRle4, topDown, table, *image);
            if (reached && cutShort)
                *cutShort = Format(
                    "cut short: the run-length data stops after %lld of %lld rows (the rest are black)",
                    static_cast<long long>(*reached), static_cast<long long>(height));
            image->FileBytes.assign(file.begin(), file.end());
            return image;
        }
        image->Device = false;
        image->BitCount = bits;
        image->Compression = compression;
        if (compression == kCompressionBitFields)
            std::copy(std::begin(header.Masks), std::end(header.Masks), std::begin(image->Masks));
        if (bits <= 8) {
            if (table.size() > (size_t(1) << bits))
                table.resize(size_t(1) << bits);
            image->ColorTable = std::move(table);
        } else {
            if (table.size() > 256)
                table.resize(256);
            image->Palette = std::move(table);
        }
        image->AllocateForOverwrite();
    } catch (const EOutOfResources&) {
        Invalid("not enough memory for its pixels");
    } catch (const std::bad_alloc&) {
        Invalid("not enough memory for its pixels");
    }
    // The header's size of pixel data is not needed for uncompressed rows;
    // files get it wrong often enough that the row length is trusted instead.
    // The rows in file order, read straight into the store a batch at a
    // time.
    std::vector<std::span<uint8_t>> rows;
    rows.reserve(static_cast<size_t>(std::min<int64_t>(height, kRowsPerBatch)));
    for (int64_t first = 0; first < height; first += kRowsPerBatch) {
        rows.clear();
        for (int64_t line = first; line < std::min<int64_t>(height, first + kRowsPerBatch); ++line) {
            const size_t offset = static_cast<size_t>(line) * static_cast<size_t>(rowBytes);
            const size_t present = std::min(static_cast<size_t>(rowBytes), available - offset);
            uint8_t* row = image->Row(static_cast<int>(topDown ? line : height - 1 - line));
            std::memset(row + present, 0, static_cast<size_t>(rowBytes) - present);
            rows.emplace_back(row, present);
        }
        source.Copy(dataStart + static_cast<size_t>(first) * static_cast<size_t>(rowBytes), rows);
    }
    return image;
}

// The file of a store in image's format, its rows (top to bottom) taken
// from rowAt, pixelsPerRow bytes each; the rest of each row is written as
// zeros, so the rows can stay where they are.
template <typename RowAt>
void WriteBmpRows(const TBitmapImage& image, size_t pixelsPerRow, RowAt rowAt, TStream& stream)
{
    const int bits = image.BitCount;
    const bool bitFields = (bits == 16 || bits == 32) && image.Compression == kCompressionBitFields;
    const bool os2 = image.OS2 && image.Width <= 0xFFFF && image.Height <= 0xFFFF
        && (bits == 1 || bits == 4 || bits == 8 || bits == 24);
    std::vector<TRGBQuad> table = bits <= 8 ? image.ColorTable : image.Palette;
    if (table.size() > 256)
        table.resize(256);
    if (os2 && bits <= 8)
        table.resize(size_t(1) << bits);
    if (os2 && bits > 8)
        table.clear();

    const uint32_t entrySize = os2 ? 3 : 4;
    const uint32_t headerSize = (os2 ? kCoreHeaderSize : kInfoHeaderSize) + (bitFields ? 12 : 0)
        + entrySize * static_cast<uint32_t>(table.size());
    const uint64_t rowBytes = static_cast<uint64_t>(image.RowBytes());
    const uint64_t pixelBytes = rowBytes * static_cast<uint64_t>(image.Height);
    const uint64_t fileSize = kFileHeaderSize + headerSize + pixelBytes;
    if (fileSize > UINT32_MAX)
        Invalid("a file over 4 GB cannot be written");

    TMemoryStream head;
    head.WriteU16LE(0x4D42);
    head.WriteU32LE(static_cast<uint32_t>(fileSize));
    head.WriteU32LE(0);
    head.WriteU32LE(kFileHeaderSize + headerSize);
    if (os2) {
        head.WriteU32LE(kCoreHeaderSize);
        head.WriteU16LE(static_cast<uint16_t>(image.Width));
        head.WriteU16LE(static_cast<uint16_t>(image.Height));
        head.WriteU16LE(1);
        head.WriteU16LE(static_cast<uint16_t>(bits));
    } else {
        head.WriteU32LE(kInfoHeaderSize);
        head.WriteU32LE(static_cast<uint32_t>(image.Width));
        head.WriteU32LE(static_cast<uint32_t>(image.Height));
        head.WriteU16LE(1);
        head.WriteU16LE(static_cast<uint16_t>(bits));
        head.WriteU32LE(bitFields ? kCompressionBitFields : kCompressionNone);
        head.WriteU32LE(static_cast<uint32_t>(pixelBytes));
        head.WriteU32LE(static_cast<uint32_t>(image.XPelsPerMeter));
        head.WriteU32LE(static_cast<uint32_t>(image.YPelsPerMeter));
        head.WriteU32LE(static_cast<uint32_t>(table.size()));
        head.WriteU32LE(image.ColorsImportant <= table.size() ? image.ColorsImportant : 0);
        if (bitFields)
            for (uint32_t mask : image.Masks)
                head.WriteU32LE(mask);
    }
    for (const TRGBQuad& entry : table) {
        head.WriteByte(entry.Blue);
        head.WriteByte(entry.Green);
        head.WriteByte(entry.Red);
        if (!os2)
            head.WriteByte(0);
    }
    // The headers and the rows bottom up, handed over a batch at a time.
    std::vector<std::span<const uint8_t>> pieces;
    const size_t padding = static_cast<size_t>(rowBytes) - pixelsPerRow;
    static constexpr uint8_t kZeros[3] = { 0, 0, 0 };
    pieces.reserve(size_t(kRowsPerBatch) * 2 + 1);
    pieces.emplace_back(head.Bytes());
    for (int y = image.Height - 1; y >= 0; --y) {
        pieces.emplace_back(rowAt(y), pixelsPerRow);
        if (padding > 0)
            pieces.emplace_back(kZeros, padding);
        if (pieces.size() >= size_t(kRowsPerBatch) * 2 || y == 0) {
            stream.WritePieces(pieces);
            pieces.clear();
        }
    }
}

} // namespace

std::shared_ptr<TBitmapImage> ReadBmp(std::span<const uint8_t> bytes)
{
    TSpanSource source(bytes);
    return ReadBmpFrom(source, nullptr);
}

std::shared_ptr<TBitmapImage> ReadBmp(TStream& stream, std::string* cutShort)
{
    const int64_t remaining = stream.Remaining();
    TStreamSource source(stream, remaining > 0 ? static_cast<size_t>(remaining) : 0);
    try {
        auto image = ReadBmpFrom(source, cutShort);
        source.Finish();
        return image;
    } catch (const std::bad_alloc&) {
        Invalid("not enough memory for its pixels");
    }
}

void WriteBmp(const TBitmapImage& image, TStream& stream)
{
    if (!image.FileBytes.empty()) {
        stream.WriteBuffer(image.FileBytes.data(), image.FileBytes.size());
        return;
    }
    if (image.Empty())
        return;
    WriteBmpRows(
        image, static_cast<size_t>(image.RowBytes()), [&image](int y) { return image.Row(y); }, stream);
}

std::optional<TPixelView> BmpRows24(std::span<const uint8_t> bytes)
{
    if (bytes.size() < kFileHeaderSize + kInfoHeaderSize)
        return std::nullopt;
    TByteReader reader = Reader(bytes.first(std::min(bytes.size(), kHeadersRead)));
    if (reader.U8() != 'B' || reader.U8() != 'M')
        return std::nullopt;
    reader.Skip(8); // file size, reserved
    const uint32_t pixelOffset = reader.U32LE();
    const THeader header = ReadHeader(reader);
    // Anything with a table, masks or a gap before the pixels is left to
    // ReadBmp, which knows what to do with it.
    if (header.Size == kCoreHeaderSize || header.Planes != 1 || header.BitCount != 24
        || header.Compression != kCompressionNone || header.ColorsUsed != 0
        || pixelOffset != reader.Position())
        return std::nullopt;
    const bool topDown = header.Height < 0;
    const int64_t height = topDown ? -header.Height : header.Height;
    const int64_t width = header.Width;
    if (width <= 0 || height <= 0 || ExceedsPixelLimit(width, height))
        return std::nullopt;
    const uint64_t rowBytes = static_cast<uint64_t>(TBitmapImage::RowBytesFor(width, 24));
    if (bytes.size() - pixelOffset < rowBytes * static_cast<uint64_t>(height))
        return std::nullopt;
    TPixelView view;
    view.Width = static_cast<int>(width);
    view.Height = static_cast<int>(height);
    view.Layout = TPixelLayout::Bgr24;
    view.Stride = topDown ? static_cast<ptrdiff_t>(rowBytes) : -static_cast<ptrdiff_t>(rowBytes);
    view.Data = bytes.data() + pixelOffset + (topDown ? 0 : (height - 1) * static_cast<int64_t>(rowBytes));
    return view;
}

void WriteBmp24(const TPixelView& pixels, TStream& stream)
{
    if (pixels.Layout != TPixelLayout::Bgr24)
        throw EInvalidGraphicOperation("A BMP file is written from 24-bit pixels");
    TBitmapImage format;
    format.Width = pixels.Width;
    format.Height = pixels.Height;
    format.BitCount = 24;
    format.Device = false;
    if (format.Empty())
        return;
    WriteBmpRows(
        format, size_t(pixels.Width) * 3, [&pixels](int y) { return pixels.Row(y); }, stream);
}

} // namespace sw
