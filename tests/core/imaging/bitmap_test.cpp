#include "core/base/errors.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/bmp_file.h"
#include "support/imaging_fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace sw {
namespace {

using test::TOtherGraphic;

// A graphic kind that can turn itself into a bitmap: paints itself red.
class TRedGraphic : public TOtherGraphic {
public:
    const char* ClassName() const override { return "TRedGraphic"; }
    bool AssignTo(TGraphic& dest) const override
    {
        auto* bitmap = dynamic_cast<TBitmap*>(&dest);
        if (!bitmap)
            return false;
        bitmap->SetSize(3, 2);
        bitmap->Canvas().SetBrushColor(RGB(255, 0, 0));
        bitmap->Canvas().FillRect({ 0, 0, 3, 2 });
        return true;
    }
};

TEST(Bitmap, StartsEmptyInTheDisplayFormat)
{
    TBitmap bitmap;
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_EQ(bitmap.Width(), 0);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pfDevice);
    EXPECT_EQ(bitmap.BitsPerPixel(), 24);
}

TEST(Bitmap, GivenASizeIsWhiteAllOver)
{
    TBitmap bitmap;
    bitmap.SetWidth(5);
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_EQ(bitmap.Width(), 5);
    bitmap.SetHeight(4);
    ASSERT_FALSE(bitmap.Empty());
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            ASSERT_EQ(bitmap.Canvas().Pixel(x, y), clWhite) << x << "," << y;
    EXPECT_EQ(bitmap.Canvas().Pixel(5, 0), clNone);
    EXPECT_EQ(bitmap.Canvas().Pixel(-1, 0), clNone);
}

TEST(Bitmap, ResizingKeepsTheTopLeftAndFillsWithTheBrush)
{
    TBitmap bitmap;
    bitmap.SetSize(2, 2);
    bitmap.Canvas().SetPixel(0, 0, RGB(1, 2, 3));
    bitmap.Canvas().SetPixel(1, 1, RGB(4, 5, 6));
    bitmap.Canvas().SetBrushColor(RGB(0, 0, 255));
    bitmap.SetSize(3, 3);
    EXPECT_EQ(bitmap.Canvas().Pixel(0, 0), RGB(1, 2, 3));
    EXPECT_EQ(bitmap.Canvas().Pixel(1, 1), RGB(4, 5, 6));
    EXPECT_EQ(bitmap.Canvas().Pixel(1, 0), clWhite);
    EXPECT_EQ(bitmap.Canvas().Pixel(2, 0), RGB(0, 0, 255));
    EXPECT_EQ(bitmap.Canvas().Pixel(0, 2), RGB(0, 0, 255));
    bitmap.SetWidth(1);
    EXPECT_EQ(bitmap.Width(), 1);
    EXPECT_EQ(bitmap.Canvas().Pixel(0, 0), RGB(1, 2, 3));
}

TEST(Bitmap, DeviceRowsAreBlueGreenRedPaddedToFourBytes)
{
    TBitmap bitmap;
    bitmap.SetSize(301, 2);
    EXPECT_EQ(bitmap.RowBytes(), 904);
    bitmap.Canvas().SetPixel(1, 1, RGB(10, 20, 30));
    const uint8_t* row = static_cast<const TBitmap&>(bitmap).ScanLine(1);
    EXPECT_EQ(row[3], 30);
    EXPECT_EQ(row[4], 20);
    EXPECT_EQ(row[5], 10);
}

TEST(Bitmap, ScanLineOutsideTheBitmapFails)
{
    TBitmap bitmap;
    bitmap.SetSize(4, 3);
    for (int y : { -1, 3, 100 }) {
        try {
            bitmap.ScanLine(y);
            FAIL() << y;
        } catch (const EInvalidGraphicOperation& e) {
            EXPECT_STREQ(e.what(), "Scan line index out of range");
        }
    }
    EXPECT_NO_THROW(bitmap.ScanLine(2));
}

TEST(Bitmap, ScanLineWritesAppearAsPixels)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(2, 2);
    uint8_t* row = bitmap.ScanLine(0);
    row[0] = 0x11; // blue
    row[1] = 0x22;
    row[2] = 0x33;
    EXPECT_EQ(bitmap.Canvas().Pixel(0, 0), RGB(0x33, 0x22, 0x11));
}

TEST(Bitmap, CopiesShareUntilOneChanges)
{
    TBitmap first;
    first.SetSize(2, 2);
    TBitmap second;
    second.Assign(first);
    EXPECT_EQ(
        static_cast<const TBitmap&>(first).ScanLine(0), static_cast<const TBitmap&>(second).ScanLine(0));

    second.Canvas().SetPixel(0, 0, RGB(9, 9, 9));
    EXPECT_EQ(second.Canvas().Pixel(0, 0), RGB(9, 9, 9));
    EXPECT_EQ(first.Canvas().Pixel(0, 0), clWhite);

    TBitmap third(first);
    third.ScanLine(1)[0] = 0;
    EXPECT_EQ(first.Canvas().Pixel(0, 1), clWhite);
    EXPECT_NE(third.Canvas().Pixel(0, 1), clWhite);
}

TEST(Bitmap, AssignTakesTransparencyAndNotifies)
{
    TBitmap source;
    source.SetSize(1, 1);
    source.SetTransparent(true);
    source.SetTransparentColor(RGB(1, 2, 3));
    TBitmap dest;
    int changes = 0;
    dest.OnChange = [&] { ++changes; };
    dest.Assign(source);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(dest.Transparent());
    EXPECT_EQ(dest.TransparentMode(), TTransparentMode::tmFixed);
    EXPECT_EQ(dest.TransparentColor(), RGB(1, 2, 3) | kTransparentColorFlag);
}

TEST(Bitmap, AssignFromAnotherKind)
{
    TBitmap bitmap;
    bitmap.SetSize(7, 7);
    try {
        bitmap.Assign(TOtherGraphic());
        FAIL();
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TOtherGraphic to a TBitmap");
    }
    EXPECT_EQ(bitmap.Width(), 7);

    bitmap.Assign(TRedGraphic());
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(bitmap.Canvas().Pixel(2, 1), RGB(255, 0, 0));

    bitmap.Clear();
    EXPECT_TRUE(bitmap.Empty());
}

TEST(Bitmap, TransparentColourRules)
{
    TBitmap bitmap;
    bitmap.SetSize(4, 4);
    EXPECT_EQ(bitmap.TransparentMode(), TTransparentMode::tmAuto);
    EXPECT_EQ(bitmap.TransparentColor(), 0x02FFFFFFu);

    bitmap.Canvas().SetPixel(0, 3, RGB(0x12, 0x34, 0x56));
    EXPECT_EQ(bitmap.TransparentColor(), RGB(0x12, 0x34, 0x56) | 0x02000000u);

    bitmap.SetTransparentColor(clBtnFace);
    EXPECT_EQ(bitmap.TransparentMode(), TTransparentMode::tmFixed);
    EXPECT_EQ(bitmap.TransparentColor(), RGB(240, 240, 240) | 0x02000000u);

    bitmap.SetTransparentColor(kTransparentColorAuto);
    EXPECT_EQ(bitmap.TransparentMode(), TTransparentMode::tmAuto);
    EXPECT_EQ(bitmap.TransparentColor(), RGB(0x12, 0x34, 0x56) | 0x02000000u);

    bitmap.Canvas().SetBrushColor(clBlack);
    bitmap.Canvas().FillRect({ 0, 0, 4, 4 });
    bitmap.SetPixelFormat(TPixelFormat::pf1bit);
    EXPECT_TRUE(bitmap.Monochrome());
    EXPECT_EQ(bitmap.TransparentColor(), 0x02FFFFFFu);
}

TEST(Bitmap, FailuresLeaveTheBitmapAsItWas)
{
    const std::string missingFolder = "/nonexistent-sw-folder/out.bmp";
    struct Case {
        const char* message;
        std::function<void(TBitmap&)> action;
    };
    const Case cases[] = {
        { "Out of system resources", [](TBitmap& b) { b.SetSize(1 << 15, 1 << 14); } },
        { "Out of system resources", [](TBitmap& b) { b.SetHeight(kMaxBitmapPixels / 4 + 1); } },
        { "Invalid pixel format", [](TBitmap& b) { b.SetPixelFormat(TPixelFormat::pfCustom); } },
        { "Scan line index out of range", [](TBitmap& b) { b.ScanLine(4); } },
        { "Scan line index out of range", [](TBitmap& b) { b.ScanLine(-1); } },
        { "Bitmap image is not valid (the file ends inside its headers)",
            [](TBitmap& b) {
                TMemoryStream stream(std::vector<uint8_t> { 'B', 'M', 0, 0 });
                b.LoadFromStream(stream);
            } },
        { "Cannot assign a TOtherGraphic to a TBitmap", [](TBitmap& b) { b.Assign(TOtherGraphic()); } },
        { "Unsupported clipboard format",
            [](TBitmap& b) {
                b.LoadFromClipboardFormat({ 2, { 1 } });
            } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        TBitmap bitmap;
        bitmap.SetPixelFormat(TPixelFormat::pf8bit);
        bitmap.SetSize(4, 4);
        bitmap.Canvas().SetPixel(1, 2, RGB(255, 0, 0));
        try {
            c.action(bitmap);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_EQ(bitmap.Width(), 4);
        EXPECT_EQ(bitmap.Height(), 4);
        EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit);
        EXPECT_EQ(bitmap.Canvas().Pixel(1, 2), RGB(255, 0, 0));
    }
    TBitmap bitmap;
    bitmap.SetSize(2, 2);
    try {
        bitmap.SaveToFile(missingFolder);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(
            std::string(e.what()), "Cannot create file " + missingFolder + " (No such file or directory).");
    }
}

TEST(Bitmap, SizeForOverwriteKeepsFormatAndPaddingClean)
{
    // Rows of 3 and 5 pixels leave padding, and at 1 and 4 bits a last
    // byte that pixels fill only partly.
    for (const TPixelFormat format :
        { TPixelFormat::pf24bit, TPixelFormat::pf8bit, TPixelFormat::pf4bit, TPixelFormat::pf1bit }) {
        for (const int width : { 3, 5 }) {
            TBitmap filled;
            filled.SetPixelFormat(format);
            filled.SetSize(width, 4);
            filled.Canvas().SetPixel(0, 1, clBlack);
            TBitmap overwritten;
            overwritten.SetPixelFormat(format);
            overwritten.SetSize(1, 1);
            overwritten.SetSizeForOverwrite(width, 4);
            ASSERT_EQ(overwritten.PixelFormat(), format);
            ASSERT_EQ(overwritten.Width(), width);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < width; ++x)
                    overwritten.Canvas().SetPixel(x, y, filled.Canvas().Pixel(x, y));
            TMemoryStream a;
            TMemoryStream b;
            filled.SaveToStream(a);
            overwritten.SaveToStream(b);
            EXPECT_EQ(a.Bytes(), b.Bytes()) << width;
        }
    }
}

TEST(Bitmap, ClipboardFormRoundTrips)
{
    struct Case {
        const char* name;
        TPixelFormat format;
    };
    for (const Case& c : { Case { "device", TPixelFormat::pfDevice }, Case { "8 bits", TPixelFormat::pf8bit },
             Case { "16 bits", TPixelFormat::pf16bit }, Case { "1 bit", TPixelFormat::pf1bit } }) {
        SCOPED_TRACE(c.name);
        TBitmap bitmap;
        bitmap.SetSize(5, 3);
        bitmap.Canvas().SetPixel(0, 0, clBlack);
        bitmap.Canvas().SetPixel(4, 2, clBlack);
        bitmap.SetPixelFormat(c.format);
        TClipboardData data;
        bitmap.SaveToClipboardFormat(data);
        EXPECT_EQ(data.Format, kClipboardDib);
        // The information header comes first: no file header.
        ASSERT_GE(data.Bytes.size(), 40u);
        EXPECT_EQ(data.Bytes[0], 40);

        TBitmap copy;
        copy.LoadFromClipboardFormat(data);
        ASSERT_EQ(copy.Width(), 5);
        ASSERT_EQ(copy.Height(), 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(copy.Canvas().Pixel(x, y), bitmap.Canvas().Pixel(x, y)) << x << "," << y;
    }
}

TEST(Bitmap, ClipboardRefusesOtherFormsAndKeepsThePicture)
{
    TBitmap bitmap;
    bitmap.SetSize(2, 2);
    for (const TClipboardData& data :
        { TClipboardData { 2, { 1, 2, 3 } }, TClipboardData { kClipboardDib, { 40, 0, 0 } } }) {
        EXPECT_THROW(bitmap.LoadFromClipboardFormat(data), EInvalidGraphic);
        EXPECT_EQ(bitmap.Width(), 2);
    }
    try {
        bitmap.LoadFromClipboardFormat({ 2, {} });
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Unsupported clipboard format");
    }

    // Other kinds go through a bitmap; one that cannot become one says so.
    TClipboardData data;
    TRedGraphic red;
    red.SaveToClipboardFormat(data);
    bitmap.LoadFromClipboardFormat(data);
    EXPECT_EQ(bitmap.Canvas().Pixel(2, 1), RGB(255, 0, 0));
    TOtherGraphic other;
    EXPECT_THROW(other.SaveToClipboardFormat(data), EInvalidGraphicOperation);
}

TEST(Canvas, FillRectIsClippedAndExclusive)
{
    TBitmap bitmap;
    bitmap.SetSize(4, 4);
    bitmap.Canvas().SetBrushColor(RGB(0, 128, 0));
    bitmap.Canvas().FillRect({ -2, 1, 2, 10 });
    EXPECT_EQ(bitmap.Canvas().Pixel(0, 0), clWhite);
    EXPECT_EQ(bitmap.Canvas().Pixel(0, 1), RGB(0, 128, 0));
    EXPECT_EQ(bitmap.Canvas().Pixel(1, 3), RGB(0, 128, 0));
    EXPECT_EQ(bitmap.Canvas().Pixel(2, 1), clWhite);
}

TEST(Canvas, CopyRectCopiesAndStretches)
{
    TBitmap source;
    source.SetSize(2, 2);
    source.Canvas().SetPixel(0, 0, RGB(255, 0, 0));
    source.Canvas().SetPixel(1, 0, RGB(0, 255, 0));
    source.Canvas().SetPixel(0, 1, RGB(0, 0, 255));
    source.Canvas().SetPixel(1, 1, RGB(0, 0, 0));

    TBitmap dest;
    dest.SetSize(4, 4);
    dest.Canvas().CopyRect({ 0, 0, 4, 4 }, source.Canvas(), { 0, 0, 2, 2 });
    const TColor expected[4][4] = {
        { RGB(255, 0, 0), RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 255, 0) },
        { RGB(255, 0, 0), RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 255, 0) },
        { RGB(0, 0, 255), RGB(0, 0, 255), 0, 0 },
        { RGB(0, 0, 255), RGB(0, 0, 255), 0, 0 },
    };
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(dest.Canvas().Pixel(x, y), expected[y][x]) << x << "," << y;

    TBitmap small;
    small.SetSize(3, 3);
    small.Canvas().CopyRect({ 1, 1, 2, 2 }, dest.Canvas(), { 2, 2, 4, 4 });
    EXPECT_EQ(small.Canvas().Pixel(1, 1), RGB(0, 0, 0));
    EXPECT_EQ(small.Canvas().Pixel(0, 0), clWhite);

    // Within one bitmap, overlapping.
    dest.Canvas().CopyRect({ 1, 0, 4, 4 }, dest.Canvas(), { 0, 0, 3, 4 });
    EXPECT_EQ(dest.Canvas().Pixel(1, 0), RGB(255, 0, 0));
    EXPECT_EQ(dest.Canvas().Pixel(2, 0), RGB(255, 0, 0));
    EXPECT_EQ(dest.Canvas().Pixel(3, 0), RGB(0, 255, 0));
}

TEST(Canvas, CopyRectLeavesTheSourceOfASharedStoreAlone)
{
    TBitmap source;
    source.SetSize(2, 1);
    TBitmap copy(source);
    TBitmap red;
    red.SetSize(1, 1);
    red.Canvas().SetBrushColor(RGB(255, 0, 0));
    red.Canvas().FillRect({ 0, 0, 1, 1 });
    copy.Canvas().CopyRect({ 0, 0, 1, 1 }, red.Canvas(), { 0, 0, 1, 1 });
    EXPECT_EQ(copy.Canvas().Pixel(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(source.Canvas().Pixel(0, 0), clWhite);
}

TEST(Canvas, DrawLeavesTransparentPixelsOut)
{
    TBitmap picture;
    picture.SetSize(2, 1);
    picture.Canvas().SetPixel(0, 0, RGB(0, 0, 255));
    picture.SetTransparent(true);
    picture.SetTransparentColor(clWhite);
    TBitmap target;
    target.SetSize(2, 1);
    target.Canvas().SetBrushColor(RGB(0, 255, 0));
    target.Canvas().FillRect({ 0, 0, 2, 1 });
    picture.Draw(target.Canvas(), { 0, 0, 2, 1 });
    EXPECT_EQ(target.Canvas().Pixel(0, 0), RGB(0, 0, 255));
    EXPECT_EQ(target.Canvas().Pixel(1, 0), RGB(0, 255, 0));
}

} // namespace
} // namespace sw
