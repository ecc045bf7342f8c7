#include "core/base/errors.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/bmp_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace sw {
namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(Bytes& out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

uint32_t Get32(const Bytes& in, size_t at)
{
    return in[at] | (in[at + 1] << 8) | (in[at + 2] << 16) | (uint32_t(in[at + 3]) << 24);
}

// A BMP file put together field by field.
struct TBmpRecipe {
    uint32_t HeaderSize = 40;
    int32_t Width = 2;
    int32_t Height = 2;
    uint16_t Planes = 1;
    uint16_t Bits = 24;
    uint32_t Compression = 0;
    uint32_t ColorsUsed = 0;
    std::vector<uint32_t> MasksAfterHeader; // for 40-byte headers
    std::vector<uint32_t> MasksInHeader; // for longer headers
    std::vector<uint32_t> Table; // 0x00RRGGBB per entry
    Bytes Pixels;
    int64_t PixelOffset = -1; // -1: right after the table

    Bytes Build() const
    {
        Bytes out = { 'B', 'M' };
        Put32(out, 0);
        Put32(out, 0);
        Put32(out, 0); // pixel offset, patched below
        Put32(out, HeaderSize);
        if (HeaderSize == 12) {
            Put16(out, static_cast<uint32_t>(Width));
            Put16(out, static_cast<uint32_t>(Height));
            Put16(out, Planes);
            Put16(out, Bits);
        } else {
            Bytes header;
            Put32(header, static_cast<uint32_t>(Width));
            Put32(header, static_cast<uint32_t>(Height));
            Put16(header, Planes);
            Put16(header, Bits);
            Put32(header, Compression);
            Put32(header, static_cast<uint32_t>(Pixels.size()));
            Put32(header, 2835);
            Put32(header, 2835);
            Put32(header, ColorsUsed);
            Put32(header, 0);
            for (uint32_t mask : MasksInHeader)
                Put32(header, mask);
            header.resize(HeaderSize - 4, 0);
            out.insert(out.end(), header.begin(), header.end());
            for (uint32_t mask : MasksAfterHeader)
                Put32(out, mask);
        }
        for (uint32_t entry : Table) {
            out.push_back(static_cast<uint8_t>(entry));
            out.push_back(static_cast<uint8_t>(entry >> 8));
            out.push_back(static_cast<uint8_t>(entry >> 16));
            if (HeaderSize != 12)
                out.push_back(0);
        }
        const uint32_t offset = PixelOffset < 0 ? static_cast<uint32_t>(out.size()) : uint32_t(PixelOffset);
        out.resize(std::max<size_t>(out.size(), offset), 0);
        out.insert(out.end(), Pixels.begin(), Pixels.end());
        std::memcpy(&out[10], &offset, 4);
        const uint32_t size = static_cast<uint32_t>(out.size());
        std::memcpy(&out[2], &size, 4);
        return out;
    }
};

void Load(TBitmap& bitmap, const Bytes& bytes)
{
    TMemoryStream stream(bytes);
    bitmap.LoadFromStream(stream);
}

Bytes Save(TBitmap& bitmap)
{
    TMemoryStream stream;
    bitmap.SaveToStream(stream);
    return stream.Bytes();
}

TColor PixelAt(TBitmap& bitmap, int x, int y)
{
    return bitmap.Canvas().Pixel(x, y);
}

// A 2 x 2 picture of four colours every format can hold exactly.
const TColor kCorners[4] = { RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 255) };

void PaintCorners(TBitmap& bitmap)
{
    bitmap.SetSize(2, 2);
    for (int i = 0; i < 4; ++i)
        bitmap.Canvas().SetPixel(i % 2, i / 2, kCorners[i]);
}

TEST(BmpWrite, Golden300By200)
{
    TBitmap bitmap;
    bitmap.SetSize(300, 200);
    const Bytes file = Save(bitmap);
    ASSERT_EQ(file.size(), 14u + 40u + 200u * 900u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Get32(file, 2), file.size());
    EXPECT_EQ(Get32(file, 6), 0u);
    EXPECT_EQ(Get32(file, 10), 54u);
    EXPECT_EQ(Get32(file, 14), 40u);
    EXPECT_EQ(Get32(file, 18), 300u);
    EXPECT_EQ(Get32(file, 22), 200u);
    EXPECT_EQ(Get32(file, 26), 1u | (24u << 16)); // planes, bits
    EXPECT_EQ(Get32(file, 30), 0u);
    EXPECT_EQ(Get32(file, 34), 180000u);
    EXPECT_EQ(Get32(file, 38), 0u);
    EXPECT_EQ(Get32(file, 42), 0u);
    EXPECT_EQ(Get32(file, 46), 0u);
    EXPECT_EQ(Get32(file, 50), 0u);
    EXPECT_EQ(file[54], 0xFF);
}

TEST(BmpWrite, RowsAreBottomUpAndPadded)
{
    TBitmap bitmap;
    bitmap.SetSize(1, 2);
    bitmap.Canvas().SetPixel(0, 0, RGB(1, 2, 3));
    bitmap.Canvas().SetPixel(0, 1, RGB(4, 5, 6));
    const Bytes file = Save(bitmap);
    const Bytes pixels(file.begin() + 54, file.end());
    EXPECT_EQ(pixels, (Bytes { 6, 5, 4, 0, 3, 2, 1, 0 }));
}

// Rows written from inside a larger picture must give the file of their own
// 24-bit copy: the source's bytes beyond the window, padding included, stay out.
TEST(BmpWrite, RowsFromAViewWriteTheFileOfTheirCopy)
{
    for (const int width : { 1, 2, 3, 4, 5 }) {
        TBitmap picture;
        picture.SetPixelFormat(TPixelFormat::pf24bit);
        picture.SetSize(width + 2, 5);
        for (int y = 0; y < 5; ++y)
            std::memset(picture.ScanLine(y), 0x40 + y, size_t(picture.RowBytes()));
        TBitmap copy;
        copy.SetPixelFormat(TPixelFormat::pf24bit);
        copy.SetSize(width, 3);
        copy.Canvas().CopyRect({ 0, 0, width, 3 }, picture.Canvas(), { 1, 1, width + 1, 4 });
        TPixelView rows = picture.View24();
        rows.Data = rows.Row(1) + 3;
        rows.Width = width;
        rows.Height = 3;
        TMemoryStream stream;
        WriteBmp24(rows, stream);
        EXPECT_EQ(stream.Bytes(), Save(copy)) << "width " << width;
    }
}

// The mapped reading of a strip must see the pixels ReadBmp would, and
// leave every shortened or other kind of file to ReadBmp.
TEST(BmpRead, RowsOfAPlain24BitFileAreViewedInPlace)
{
    TBitmap picture;
    picture.SetPixelFormat(TPixelFormat::pf24bit);
    picture.SetSize(3, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x)
            picture.Canvas().SetPixel(x, y, RGB(x * 40, y * 50, 7));
    const Bytes file = Save(picture);
    const std::optional<TPixelView> rows = BmpRows24(file);
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->Width, 3);
    ASSERT_EQ(rows->Height, 4);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(std::memcmp(rows->Row(y), picture.ScanLine(y), 9), 0) << "row " << y;
    for (size_t size = 0; size < file.size(); ++size) {
        try {
            EXPECT_FALSE(BmpRows24(std::span(file).first(size))) << size << " bytes";
        } catch (const EInvalidGraphic&) { }
    }
    picture.SetPixelFormat(TPixelFormat::pf8bit);
    EXPECT_FALSE(BmpRows24(Save(picture)));
}

TEST(BmpWrite, EmptyBitmapsWriteNothing)
{
    TBitmap bitmap;
    EXPECT_TRUE(Save(bitmap).empty());
    bitmap.SetSize(10, 0);
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_TRUE(Save(bitmap).empty());
}

struct FormatCase {
    TPixelFormat format;
    TPixelFormat readBack;
    int bits;
    size_t fileSize; // of the 2 x 2 picture
};

TEST(BmpWrite, EveryPixelFormatRoundTrips)
{
    const FormatCase cases[] = {
        { TPixelFormat::pfDevice, TPixelFormat::pf24bit, 24, 14 + 40 + 2 * 8 },
        { TPixelFormat::pf4bit, TPixelFormat::pf4bit, 4, 14 + 40 + 16 * 4 + 2 * 4 },
        { TPixelFormat::pf8bit, TPixelFormat::pf8bit, 8, 14 + 40 + 256 * 4 + 2 * 4 },
        { TPixelFormat::pf15bit, TPixelFormat::pf15bit, 16, 14 + 40 + 2 * 4 },
        { TPixelFormat::pf16bit, TPixelFormat::pf16bit, 16, 14 + 40 + 12 + 2 * 4 },
        { TPixelFormat::pf24bit, TPixelFormat::pf24bit, 24, 14 + 40 + 2 * 8 },
        { TPixelFormat::pf32bit, TPixelFormat::pf32bit, 32, 14 + 40 + 2 * 8 },
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.bits);
        TBitmap bitmap;
        PaintCorners(bitmap);
        bitmap.SetPixelFormat(c.format);
        EXPECT_EQ(bitmap.PixelFormat(), c.format);
        EXPECT_EQ(bitmap.BitsPerPixel(), c.bits);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(PixelAt(bitmap, i % 2, i / 2), kCorners[i]) << "converted, pixel " << i;
        const Bytes file = Save(bitmap);
        EXPECT_EQ(file.size(), c.fileSize);
        TBitmap loaded;
        Load(loaded, file);
        EXPECT_EQ(loaded.PixelFormat(), c.readBack);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(PixelAt(loaded, i % 2, i / 2), kCorners[i]) << "read back, pixel " << i;
        EXPECT_EQ(Save(loaded), file);
    }
}

TEST(BmpWrite, OneBitBitmapsAreBlackAndWhite)
{
    TBitmap bitmap;
    bitmap.SetSize(9, 1);
    bitmap.Canvas().SetPixel(0, 0, RGB(20, 20, 20));
    bitmap.Canvas().SetPixel(8, 0, RGB(10, 10, 10));
    bitmap.SetPixelFormat(TPixelFormat::pf1bit);
    EXPECT_TRUE(bitmap.Monochrome());
    const Bytes file = Save(bitmap);
    ASSERT_EQ(file.size(), 14u + 40u + 8u + 4u);
    EXPECT_EQ(Get32(file, 46), 2u); // colours used
    EXPECT_EQ(Bytes(file.begin() + 54, file.begin() + 62), (Bytes { 0, 0, 0, 0, 255, 255, 255, 0 }));
    EXPECT_EQ(Bytes(file.begin() + 62, file.end()), (Bytes { 0x7F, 0x00, 0, 0 }));
    // Resizing keeps one bit per pixel.
    bitmap.SetWidth(20);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf1bit);
    EXPECT_EQ(PixelAt(bitmap, 19, 0), clWhite);
}

TEST(PixelFormat, ConversionsPickTheNearestColour)
{
    struct Case {
        TPixelFormat format;
        TColor in;
        TColor out;
    };
    const Case cases[] = {
        { TPixelFormat::pf4bit, RGB(200, 190, 185), RGB(192, 192, 192) },
        { TPixelFormat::pf4bit, RGB(120, 10, 0), RGB(128, 0, 0) },
        { TPixelFormat::pf8bit, RGB(250, 3, 3), RGB(255, 0, 0) },
        { TPixelFormat::pf8bit, RGB(100, 150, 210), RGB(102, 153, 204) },
        { TPixelFormat::pf8bit, RGB(21, 21, 21), RGB(20, 20, 20) },
        { TPixelFormat::pf15bit, RGB(255, 132, 7), RGB(255, 132, 8) },
        { TPixelFormat::pf16bit, RGB(255, 130, 7), RGB(255, 130, 8) },
        { TPixelFormat::pf32bit, RGB(1, 2, 3), RGB(1, 2, 3) },
    };
    for (const Case& c : cases) {
        TBitmap bitmap;
        bitmap.SetSize(1, 1);
        bitmap.Canvas().SetPixel(0, 0, c.in);
        bitmap.SetPixelFormat(c.format);
        EXPECT_EQ(PixelAt(bitmap, 0, 0), c.out) << std::hex << c.in;
    }
}

TEST(PixelFormat, PalettesHaveTheDocumentedSizes)
{
    EXPECT_EQ(StandardPalette16().size(), 16u);
    EXPECT_EQ(HalftonePalette256().size(), 256u);
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf8bit);
    bitmap.SetSize(3, 3);
    EXPECT_EQ(bitmap.ColorTable(), HalftonePalette256());
    EXPECT_EQ(PixelAt(bitmap, 2, 2), clWhite);
}

TEST(PixelFormat, CustomIsRefused)
{
    TBitmap bitmap;
    PaintCorners(bitmap);
    bitmap.SetPixelFormat(TPixelFormat::pf8bit);
    try {
        bitmap.SetPixelFormat(TPixelFormat::pfCustom);
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Invalid pixel format");
    }
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(PixelAt(bitmap, 1, 0), kCorners[1]);
}

TEST(PixelFormat, ScanLineMakesADeviceBitmapIndependent)
{
    TBitmap bitmap;
    bitmap.SetSize(1, 1);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pfDevice);
    bitmap.ScanLine(0);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
    bitmap.SetPixelFormat(TPixelFormat::pfDevice);
    EXPECT_TRUE(bitmap.IsDevice());
}

TEST(BmpRead, OldHeaderIsReadAndWrittenBackInItsForm)
{
    TBmpRecipe recipe;
    recipe.HeaderSize = 12;
    recipe.Bits = 8;
    recipe.Table.assign(256, 0);
    recipe.Table[1] = 0x102030;
    recipe.Table[2] = 0xA0B0C0;
    recipe.Pixels = { 1, 2, 0, 0, 2, 1, 0, 0 };
    const Bytes file = recipe.Build();
    TBitmap bitmap;
    Load(bitmap, file);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(PixelAt(bitmap, 0, 1), RGB(0x10, 0x20, 0x30));
    EXPECT_EQ(PixelAt(bitmap, 1, 1), RGB(0xA0, 0xB0, 0xC0));
    EXPECT_EQ(PixelAt(bitmap, 0, 0), RGB(0xA0, 0xB0, 0xC0));
    EXPECT_EQ(Save(bitmap), file);

    // Short tables are written out to 2^bits entries.
    recipe.Bits = 1;
    recipe.Table = { 0xFF0000, 0x00FF00 };
    recipe.Pixels = { 0x40, 0, 0, 0, 0x80, 0, 0, 0 };
    TBitmap mono;
    Load(mono, recipe.Build());
    EXPECT_EQ(PixelAt(mono, 0, 0), RGB(0, 255, 0));
    EXPECT_EQ(PixelAt(mono, 1, 1), RGB(0, 255, 0));
    EXPECT_EQ(PixelAt(mono, 1, 0), RGB(255, 0, 0));
    EXPECT_EQ(Save(mono), recipe.Build());
}

TEST(BmpRead, LongHeadersCarryTheirMasks)
{
    for (uint32_t headerSize : { 52u, 56u, 108u, 124u }) {
        SCOPED_TRACE(headerSize);
        TBmpRecipe recipe;
        recipe.HeaderSize = headerSize;
        recipe.Width = 1;
        recipe.Height = 1;
        recipe.Bits = 16;
        recipe.Compression = 3;
        recipe.MasksInHeader = { 0xF800, 0x07E0, 0x001F };
        recipe.Pixels = { 0x00, 0xF8, 0, 0 };
        TBitmap bitmap;
        Load(bitmap, recipe.Build());
        EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf16bit);
        EXPECT_EQ(PixelAt(bitmap, 0, 0), RGB(255, 0, 0));
        // Written back in the 40-byte form with the masks after it.
        const Bytes file = Save(bitmap);
        EXPECT_EQ(file.size(), 14u + 40u + 12u + 4u);
        EXPECT_EQ(Get32(file, 54), 0xF800u);
    }
}

TEST(BmpRead, BitFieldsOfAnyLayout)
{
    struct Case {
        uint16_t bits;
        std::vector<uint32_t> masks;
        Bytes pixel;
        TColor color;
        TPixelFormat format;
    };
    const Case cases[] = {
        { 16, { 0x7C00, 0x03E0, 0x001F }, { 0x1F, 0x7C, 0, 0 }, RGB(255, 0, 255), TPixelFormat::pfCustom },
        { 16, { 0xF000, 0x0F00, 0x00F0 }, { 0xF0, 0x0F, 0, 0 }, RGB(0, 255, 255), TPixelFormat::pfCustom },
        { 32, { 0xFF0000, 0xFF00, 0xFF }, { 1, 2, 3, 0 }, RGB(3, 2, 1), TPixelFormat::pfCustom },
        { 32, { 0xFF, 0xFF00, 0xFF0000 }, { 1, 2, 3, 0 }, RGB(1, 2, 3), TPixelFormat::pfCustom },
        { 32, { 0x3FF00000, 0xFFC00, 0x3FF }, { 0xFF, 0x03, 0xF0, 0x3F }, RGB(255, 0, 255),
            TPixelFormat::pfCustom },
        // Channels narrower than 8 bits reach the full range: 2-3-1 bits.
        { 16, { 0x0030, 0x000E, 0x0001 }, { 0x31, 0, 0, 0 }, RGB(255, 0, 255), TPixelFormat::pfCustom },
    };
    for (const Case& c : cases) {
        TBmpRecipe recipe;
        recipe.Width = 1;
        recipe.Height = 1;
        recipe.Bits = c.bits;
        recipe.Compression = 3;
        recipe.MasksAfterHeader = c.masks;
        recipe.Pixels = c.pixel;
        TBitmap bitmap;
        Load(bitmap, recipe.Build());
        EXPECT_EQ(bitmap.PixelFormat(), c.format);
        EXPECT_EQ(PixelAt(bitmap, 0, 0), c.color) << std::hex << c.masks[0];
        EXPECT_EQ(bitmap.RedMask(), c.masks[0]);
        // Asking for the format it already has is no request for a custom one.
        EXPECT_NO_THROW(bitmap.SetPixelFormat(c.format));
    }
}

TEST(BmpRead, TopDownRowsAndShortTables)
{
    TBmpRecipe recipe;
    recipe.Height = -2;
    recipe.Bits = 8;
    recipe.ColorsUsed = 2;
    recipe.Table = { 0x000000, 0xFF8000 };
    recipe.Pixels = { 1, 0, 0, 0, 0, 5, 0, 0 };
    TBitmap bitmap;
    Load(bitmap, recipe.Build());
    EXPECT_EQ(bitmap.Height(), 2);
    EXPECT_EQ(PixelAt(bitmap, 0, 0), RGB(255, 128, 0));
    EXPECT_EQ(PixelAt(bitmap, 1, 1), clBlack); // index beyond the table
    EXPECT_EQ(bitmap.ColorTable().size(), 2u);
    const Bytes file = Save(bitmap);
    EXPECT_EQ(Get32(file, 46), 2u);
    EXPECT_EQ(Get32(file, 22), 2u); // stored bottom-up
}

TEST(BmpRead, PixelOffsetIsHonouredAndRowsMustBeInTheFile)
{
    TBmpRecipe recipe;
    recipe.Width = 1;
    recipe.Height = 3;
    recipe.PixelOffset = 54 + 10;
    recipe.Pixels = { 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0 }; // the top row lacks its padding
    TBitmap bitmap;
    Load(bitmap, recipe.Build());
    EXPECT_EQ(PixelAt(bitmap, 0, 2), RGB(255, 0, 0));
    EXPECT_EQ(PixelAt(bitmap, 0, 1), RGB(0, 255, 0));
    EXPECT_EQ(PixelAt(bitmap, 0, 0), RGB(0, 0, 255));
    EXPECT_EQ(bitmap.ScanLine(0)[3], 0);

    // One pixel byte short: rows that cannot be in the file are refused.
    recipe.Pixels.pop_back();
    TBitmap cut;
    try {
        Load(cut, recipe.Build());
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(
            e.what(), "Bitmap image is not valid (10 bytes of pixels for 1 x 3 at 24 bits, 11 needed)");
    }
}

// Largest accepted: the pixel limit itself, 8192 x 8192 (one bit each, 8 MB).
TEST(BmpRead, ThePixelLimitIsInclusive)
{
    TBmpRecipe recipe;
    recipe.Width = 8192;
    recipe.Height = 8192;
    recipe.Bits = 1;
    recipe.Table = { 0x000000, 0xFFFFFF };
    recipe.Pixels.assign(size_t(8192) * 8192 / 8, 0xFF);
    TBitmap bitmap;
    Load(bitmap, recipe.Build());
    EXPECT_EQ(bitmap.Height(), 8192);
    EXPECT_EQ(PixelAt(bitmap, 8191, 8191), clWhite);

    recipe.Height = 8193;
    recipe.Pixels.resize(size_t(8192) * 8193 / 8, 0xFF);
    try {
        Load(bitmap, recipe.Build());
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(),
            "Bitmap image is not valid: Picture too large (8192 x 8193 pixels; the limit is 67108864 "
            "pixels)");
    }
    EXPECT_EQ(bitmap.Height(), 8192);
}

TEST(BmpRead, LargerColourTablesOnTrueColourBecomeThePalette)
{
    TBmpRecipe recipe;
    recipe.Width = 1;
    recipe.Height = 1;
    recipe.ColorsUsed = 3;
    recipe.Table = { 0x010203, 0x040506, 0x070809 };
    recipe.Pixels = { 9, 8, 7, 0 };
    TBitmap bitmap;
    Load(bitmap, recipe.Build());
    EXPECT_EQ(bitmap.Palette().size(), 3u);
    EXPECT_EQ(PixelAt(bitmap, 0, 0), RGB(7, 8, 9));
    EXPECT_EQ(Save(bitmap), recipe.Build());
}

TEST(BmpRead, RunLengthEncodedFiles)
{
    TBmpRecipe rle8;
    rle8.Width = 4;
    rle8.Height = 2;
    rle8.Bits = 8;
    rle8.Compression = 1;
    rle8.ColorsUsed = 3;
    rle8.Table = { 0x000000, 0xFF0000, 0x0000FF };
    // bottom row: 3 x index 1, then absolute 2; end of line; top row: delta
    // (2, 0), then 2 x index 2; end of bitmap.
    rle8.Pixels = { 3, 1, 0, 3, 2, 2, 2, 0, 0, 0, 0, 2, 2, 0, 2, 2, 0, 1 };
    const Bytes file8 = rle8.Build();
    TBitmap bitmap;
    Load(bitmap, file8);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pfDevice);
    const TColor expected8[2][4] = {
        { clBlack, clBlack, RGB(0, 0, 255), RGB(0, 0, 255) },
        { RGB(255, 0, 0), RGB(255, 0, 0), RGB(255, 0, 0), RGB(0, 0, 255) },
    };
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(PixelAt(bitmap, x, y), expected8[y][x]) << x << "," << y;
    // Unchanged: the file's own bytes; changed: a plain 24-bit file.
    EXPECT_EQ(Save(bitmap), file8);
    TBitmap shared(bitmap);
    bitmap.Canvas().SetPixel(0, 0, clWhite);
    EXPECT_EQ(Save(bitmap).size(), 14u + 40u + 2u * 12u);
    EXPECT_EQ(Save(shared), file8);

    TBmpRecipe rle4 = rle8;
    rle4.Bits = 4;
    rle4.Compression = 2;
    // bottom row: 4 pixels alternating 1, 2; top row: absolute 3 pixels 2, 1, 2.
    rle4.Pixels = { 4, 0x12, 0, 0, 0, 3, 0x21, 0x20, 0, 1 };
    TBitmap four;
    Load(four, rle4.Build());
    const TColor expected4[2][4] = {
        { RGB(0, 0, 255), RGB(255, 0, 0), RGB(0, 0, 255), clBlack },
        { RGB(255, 0, 0), RGB(0, 0, 255), RGB(255, 0, 0), RGB(0, 0, 255) },
    };
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(PixelAt(four, x, y), expected4[y][x]) << x << "," << y;
}

TEST(BmpRead, AnEmptyStreamIsAnEmptyBitmap)
{
    TBitmap bitmap;
    bitmap.SetSize(3, 3);
    Load(bitmap, {});
    EXPECT_TRUE(bitmap.Empty());
}

TEST(BmpRead, BadFilesAreRefusedAndTheBitmapKept)
{
    const auto valid = [] {
        TBmpRecipe recipe;
        recipe.Pixels.assign(16, 0);
        return recipe;
    };
    // Without a message of its own, a case expects the reason in words.
    struct Case {
        const char* what;
        Bytes bytes;
        std::string message {};
    };
    std::vector<Case> cases;
    {
        Bytes bytes = valid().Build();
        bytes[0] = 'X';
        cases.push_back({ "signature", bytes });
    }
    cases.push_back({ "too short", Bytes { 'B', 'M', 0, 0 } });
    {
        Bytes bytes = valid().Build();
        bytes.resize(30);
        cases.push_back({ "cut header", bytes });
    }
    auto add = [&](const char* what, auto change, std::string message = {}) {
        TBmpRecipe recipe = valid();
        change(recipe);
        cases.push_back({ what, recipe.Build(), message });
    };
    add("planes", [](TBmpRecipe& r) { r.Planes = 2; });
    add("bit count 3", [](TBmpRecipe& r) { r.Bits = 3; });
    add("bit count 64", [](TBmpRecipe& r) { r.Bits = 64; });
    add("width 0", [](TBmpRecipe& r) { r.Width = 0; });
    add("negative width", [](TBmpRecipe& r) { r.Width = -4; });
    add("height 0", [](TBmpRecipe& r) { r.Height = 0; });
    add(
        "smallest height", [](TBmpRecipe& r) { r.Height = INT32_MIN; }, BitmapTooLargeMessage(2, 2147483648));
    add(
        "too many pixels",
        [](TBmpRecipe& r) {
            r.Width = 1 << 15;
            r.Height = (1 << 13) + 1;
        },
        BitmapTooLargeMessage(1 << 15, (1 << 13) + 1));
    add(
        "huge both ways",
        [](TBmpRecipe& r) {
            r.Width = INT32_MAX;
            r.Height = INT32_MAX;
        },
        BitmapTooLargeMessage(INT32_MAX, INT32_MAX));
    // Headers that would make the reader allocate far beyond their data.
    add(
        "54-byte header of 16384 x 16384",
        [](TBmpRecipe& r) {
            r.Width = 16384;
            r.Height = 16384;
            r.Pixels.clear();
        },
        BitmapTooLargeMessage(16384, 16384));
    add(
        "RLE8 of 16384 x 16384",
        [](TBmpRecipe& r) {
            r.Width = 16384;
            r.Height = 16384;
            r.Bits = 8;
            r.Compression = 1;
            r.Pixels.assign(1024, 0);
        },
        BitmapTooLargeMessage(16384, 16384));
    add("54-byte header of 8192 x 8192", [](TBmpRecipe& r) {
        r.Width = 8192;
        r.Height = 8192;
        r.Pixels.clear();
    });
    add("header size 8", [](TBmpRecipe& r) { r.HeaderSize = 8; });
    add("header size 100000", [](TBmpRecipe& r) { r.HeaderSize = 100000; });
    add("embedded JPEG", [](TBmpRecipe& r) { r.Compression = 4; });
    add("RLE8 on 4 bits", [](TBmpRecipe& r) {
        r.Bits = 4;
        r.Compression = 1;
    });
    add("bit fields on 8 bits", [](TBmpRecipe& r) {
        r.Bits = 8;
        r.Compression = 3;
    });
    add("absurd colour count", [](TBmpRecipe& r) {
        r.Bits = 8;
        r.ColorsUsed = 0x40000000;
        r.PixelOffset = 2;
    });
    add("table beyond the file", [](TBmpRecipe& r) {
        r.Bits = 8;
        r.Pixels.clear();
        r.PixelOffset = 2;
    });
    add("masks beyond the file", [](TBmpRecipe& r) {
        r.Bits = 16;
        r.Compression = 3;
        r.Pixels.clear();
    });
    for (const Case& c : cases) {
        TBitmap bitmap;
        PaintCorners(bitmap);
        try {
            Load(bitmap, c.bytes);
            ADD_FAILURE() << c.what;
        } catch (const EInvalidGraphic& e) {
            const std::string message = e.what();
            if (c.message.empty())
                EXPECT_TRUE(message.rfind(kBitmapNotValidMessage + std::string(" ("), 0) == 0
                    && message.back() == ')')
                    << c.what << ": " << message;
            else
                EXPECT_EQ(message, c.message) << c.what;
        }
        EXPECT_EQ(bitmap.Width(), 2) << c.what;
        EXPECT_EQ(PixelAt(bitmap, 1, 1), kCorners[3]) << c.what;
    }
}

// Every prefix and many single-byte changes of good files: a picture or
// the message, never a crash.
TEST(BmpRead, TruncationAndByteFlipSweep)
{
    std::vector<Bytes> files;
    {
        TBitmap bitmap;
        PaintCorners(bitmap);
        bitmap.SetPixelFormat(TPixelFormat::pf4bit);
        files.push_back(Save(bitmap));
        bitmap.SetPixelFormat(TPixelFormat::pf16bit);
        files.push_back(Save(bitmap));
    }
    const std::filesystem::path suite = std::filesystem::path(SLICEWRIGHT_CORPUS_DIR) / "bmpsuite" / "g";
    for (const char* name : { "pal4rle.bmp", "pal8os2.bmp", "rgb32bf.bmp", "pal8v5.bmp" }) {
        std::ifstream in(suite / name, std::ios::binary);
        if (in)
            files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    int loaded = 0;
    int refused = 0;
    auto attempt = [&](const Bytes& bytes) {
        TBitmap bitmap;
        try {
            Load(bitmap, bytes);
            if (!bitmap.Empty() && int64_t(bitmap.Width()) * bitmap.Height() < 100000) {
                bitmap.Canvas().Pixel(bitmap.Width() - 1, bitmap.Height() - 1);
                Save(bitmap);
            }
            ++loaded;
        } catch (const EInvalidGraphic& e) {
            ASSERT_EQ(std::string(e.what()).rfind(kBitmapNotValidMessage, 0), 0u) << e.what();
            ++refused;
        }
    };
    for (const Bytes& file : files) {
        const size_t step = std::max<size_t>(1, file.size() / 300);
        for (size_t length = 0; length < file.size(); length += step)
            attempt(Bytes(file.begin(), file.begin() + static_cast<ptrdiff_t>(length)));
        const size_t flipped = std::min<size_t>(file.size(), 160);
        for (size_t at = 0; at < flipped; ++at)
            for (uint8_t value : { uint8_t(0x00), uint8_t(0xFF), uint8_t(0x80), uint8_t(file[at] ^ 0x01) }) {
                Bytes changed = file;
                changed[at] = value;
                attempt(changed);
            }
    }
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}

} // namespace
} // namespace sw
