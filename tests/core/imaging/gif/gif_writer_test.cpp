#include "core/imaging/gif/gif_image.h"

#include "core/base/errors.h"
#include "core/imaging/gif/gif_messages.h"
#include "core/imaging/gif/gif_test_support.h"
#include "core/imaging/picture.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#ifdef SLICEWRIGHT_HAVE_GIFLIB
#include "support/giflib_memory.h"
#endif

namespace sw {
namespace {

using test::MakeBitmap24;
using test::MakeCell;
using Bytes = std::vector<uint8_t>;

constexpr TColor kRed = RGB(255, 0, 0);
constexpr TColor kGreen = RGB(0, 255, 0);
constexpr TColor kWhite = RGB(255, 255, 255);

Bytes Save(TGIFImage& image)
{
    TMemoryStream stream;
    image.SaveToStream(stream);
    return stream.Bytes();
}

Bytes SaveCell(const TBitmap& cell)
{
    TGIFImage image;
    image.Assign(cell);
    image.SetTransparent(true);
    return Save(image);
}

Bytes Slice(const Bytes& bytes, size_t from, size_t count)
{
    return Bytes(bytes.begin() + std::ptrdiff_t(from), bytes.begin() + std::ptrdiff_t(from + count));
}

TEST(GifWriter, TwoByTwoCellByteForByte)
{
    // clang-format off
    const Bytes expected = {
        0x47, 0x49, 0x46, 0x38, 0x39, 0x61,                         // GIF89a
        0x02, 0x00, 0x02, 0x00, 0x11, 0x00, 0x00,                   // screen
        0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x03, 0x00,             // graphic control, transparent 3
        0x2C, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x02, 0x00, 0x81, // descriptor
        0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00,                         // red, green,
        0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00,                         // white, black
        0x02, 0x03, 0x04, 0x34, 0x05, 0x00,                         // image data
        0x3B,
    };
    // clang-format on
    EXPECT_EQ(SaveCell(MakeCell(2, 2, { kRed, kRed, kWhite, kGreen }, kGreen)), expected);
}

TEST(GifWriter, CellLayouts)
{
    struct Case {
        const char* Name;
        int Width;
        int Height;
        std::vector<TColor> Pixels;
        TColor Transparent;
        Bytes Head; // signature through the image descriptor
        Bytes Table; // empty: checked separately
        uint8_t CodeSize;
    };
    std::vector<TColor> cube;
    for (int i = 0; i < 216; ++i)
        cube.push_back(RGB(uint8_t(51 * (i / 36)), uint8_t(51 * (i / 6 % 6)), uint8_t(51 * (i % 6))));
    std::vector<TColor> cubeAndTransparent = cube;
    cubeAndTransparent.push_back(RGB(1, 2, 3)); // reduces to black, a used colour

    const Case cases[] = {
        { "one colour", 3, 2, std::vector<TColor>(6, RGB(10, 200, 90)), kGreen,
            { 'G', 'I', 'F', '8', '7', 'a', 3, 0, 2, 0, 0x00, 0, 0, 0x2C, 0, 0, 0, 0, 3, 0, 2, 0, 0x80 },
            { 0, 153, 51, 0, 0, 0 }, 2 },
        { "only the transparent colour", 1, 1, { kGreen }, kGreen,
            { 'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x00, 0, 0, 0x21, 0xF9, 4, 1, 0, 0, 1, 0, 0x2C, 0, 0,
                0, 0, 1, 0, 1, 0, 0x80 },
            { 0, 255, 0, 0, 0, 0 }, 2 },
        { "216 colours and transparency", 217, 1, cubeAndTransparent, RGB(1, 2, 3),
            { 'G', 'I', 'F', '8', '9', 'a', 217, 0, 1, 0, 0x77, 0, 0, 0x21, 0xF9, 4, 1, 0, 0, 216, 0, 0x2C, 0,
                0, 0, 0, 217, 0, 1, 0, 0x87 },
            {}, 8 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const Bytes file = SaveCell(MakeCell(c.Width, c.Height, c.Pixels, c.Transparent));
        const size_t tableBytes = 3u << ((c.Head.back() & 7) + 1);
        ASSERT_GT(file.size(), c.Head.size() + tableBytes + 1);
        EXPECT_EQ(Slice(file, 0, c.Head.size()), c.Head);
        const Bytes table = Slice(file, c.Head.size(), tableBytes);
        EXPECT_EQ(file[c.Head.size() + tableBytes], c.CodeSize);
        EXPECT_EQ(file.back(), 0x3B);
        if (!c.Table.empty()) {
            EXPECT_EQ(table, c.Table);
        } else {
            // The 216 cube colours in some order, then black and 39 zero entries.
            std::vector<TColor> written;
            for (size_t i = 0; i < 216; ++i)
                written.push_back(RGB(table[i * 3], table[i * 3 + 1], table[i * 3 + 2]));
            std::sort(written.begin(), written.end());
            std::vector<TColor> sortedCube = cube;
            std::sort(sortedCube.begin(), sortedCube.end());
            EXPECT_EQ(written, sortedCube);
            EXPECT_EQ(Slice(table, 216 * 3, 40 * 3), Bytes(40 * 3, 0));
        }
    }
}

TEST(GifWriter, NoFramesIsAnUnsupportedVersionAndWritesNothing)
{
    TGIFImage image;
    TMemoryStream stream;
    int endPercent = -1;
    image.OnProgress
        = [&](TGraphic&, TProgressStage stage, uint8_t percent, bool, const TRect&, const std::string&) {
              if (stage == TProgressStage::Ending)
                  endPercent = percent;
          };
    try {
        image.SaveToStream(stream);
        FAIL() << "saved without frames";
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), gif_message::kUnsupportedVersion);
    }
    EXPECT_TRUE(stream.Bytes().empty());
    EXPECT_EQ(endPercent, 0);
}

TEST(GifWriter, ProgressAndVersionOfTwoFrames)
{
    TGIFImage image;
    image.Assign(MakeBitmap24(2, 1, { kRed, kWhite }));
    auto second = std::make_unique<TGIFSubImage>(&image);
    second->Assign(MakeCell(1, 1, { kGreen }, kGreen));
    image.Images().Add(std::move(second));
    std::vector<std::pair<TProgressStage, int>> reports;
    image.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t percent, bool, const TRect&,
                           const std::string& message) {
        EXPECT_EQ(message, gif_message::kSaving);
        reports.emplace_back(stage, percent);
    };
    const Bytes file = Save(image);
    EXPECT_EQ(Slice(file, 3, 3), (Bytes { '8', '9', 'a' })); // the second frame needs 89a
    using S = TProgressStage;
    EXPECT_EQ(reports,
        (std::vector<std::pair<S, int>> {
            { S::Starting, 0 }, { S::Running, 50 }, { S::Running, 100 }, { S::Ending, 100 } }));
}

TEST(GifWriter, LogicalScreenWidensWithWarnings)
{
    TGIFImage image;
    std::vector<std::string> warnings;
    image.OnWarning = [&](TGIFSeverity, const std::string& message) { warnings.push_back(message); };

    TGIFSubImage frame(&image);
    frame.SetWidth(4);
    frame.SetHeight(3);
    EXPECT_TRUE(warnings.empty()); // an empty screen just takes the size
    EXPECT_EQ(image.Width(), 4);
    EXPECT_EQ(image.Height(), 3);

    frame.SetLeft(2);
    EXPECT_EQ(
        warnings, (std::vector<std::string> { gif_message::kWidthTooSmall, gif_message::kExceedsScreen }));
    EXPECT_EQ(image.Width(), 6);
    EXPECT_EQ(image.Height(), 3);
}

TEST(GifWriter, TransparentIndexOutsideTheTableWarnsAndStoresZero)
{
    TGIFImage image;
    std::vector<std::string> warnings;
    image.OnWarning = [&](TGIFSeverity, const std::string& message) { warnings.push_back(message); };
    image.Assign(MakeCell(2, 1, { kRed, kGreen }, kGreen));
    TGIFGraphicControlExtension* control = image.Images()[0].GraphicControlExtension();
    ASSERT_NE(control, nullptr);
    control->SetTransparentColorIndex(2);
    EXPECT_EQ(control->TransparentColorIndex(), 2);
    control->SetTransparentColorIndex(3);
    EXPECT_EQ(control->TransparentColorIndex(), 0);
    EXPECT_EQ(warnings, (std::vector<std::string> { gif_message::kInvalidColorIndex }));
}

TEST(GifImage, AssignAndRegistration)
{
    TGIFImage image;
    image.Assign(MakeBitmap24(1, 1, { kRed }));
    try {
        image.Assign(test::TOtherGraphic());
        FAIL() << "assigned a graphic without bitmap form";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TOtherGraphic to a TGIFImage");
    }
    EXPECT_EQ(image.Images().Count(), 1); // kept what it held

    RegisterGifImageFormat();
    RegisterGifImageFormat();
    const auto& formats = TPicture::FileFormats();
    EXPECT_EQ(std::count_if(
                  formats.begin(), formats.end(), [](const TFileFormat& f) { return f.Extension == "gif"; }),
        1);
    const TFileFormat* gif = TPicture::FindFileFormat("GIF");
    ASSERT_NE(gif, nullptr);
    EXPECT_EQ(gif->Description, "GIF Image");
    EXPECT_STREQ(gif->Create()->ClassName(), "TGIFImage");
}

TEST(GifWriter, IndicesPastAShortTableAreWrittenBlack)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf8bit);
    bitmap.SetColorTable({ TRGBQuad { 0, 0, 255, 0 }, TRGBQuad { 0, 255, 0, 0 } });
    bitmap.SetSize(3, 1);
    uint8_t* row = bitmap.ScanLine(0);
    row[0] = 1;
    row[1] = 5;
    row[2] = 0;
    TGIFImage image;
    image.Assign(bitmap);
    TMemoryStream stream;
    ASSERT_NO_THROW(image.SaveToStream(stream));
    stream.SetPosition(0);
    TGIFImage read;
    read.LoadFromStream(stream);
    TBitmap back;
    back.Assign(read);
    EXPECT_EQ(back.Canvas().Pixel(0, 0), kGreen);
    EXPECT_EQ(back.Canvas().Pixel(1, 0), clBlack);
    EXPECT_EQ(back.Canvas().Pixel(2, 0), kRed);
}

TEST(GifImage, SaveToFileReplacesTheFile)
{
    const test::TempFolder folder;
    const std::string path = folder / "cell.gif";
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("an older and much longer file than the new one", f);
        std::fclose(f);
    }
    TGIFImage image;
    image.Assign(MakeCell(2, 2, { kRed, kRed, kWhite, kGreen }, kGreen));
    image.SaveToFile(path);
    TMemoryStream read;
    read.LoadFromFile(path);
    EXPECT_EQ(read.Bytes(), Save(image));
}

// A loaded file may carry a global table smaller than a frame's own; the
// screen's size code must describe the global entries actually written.
TEST(GifWriter, SmallGlobalTableBesideALargerLocalOneReadsBack)
{
    TGIFImage image;
    image.Header().ColorMap().AppendColor(kRed);
    image.Header().ColorMap().AppendColor(kGreen);
    TGIFSubImage& frame = image.Images().Add(std::make_unique<TGIFSubImage>(&image));
    frame.SetWidth(16);
    frame.SetHeight(1);
    for (int i = 0; i < 16; ++i) {
        frame.ColorMap().AppendColor(RGB(uint8_t(16 * i), 0, 0));
        frame.Data()[size_t(i)] = uint8_t(i);
    }
    const Bytes file = Save(image);
    EXPECT_EQ(file[10], 0xB0) << "global table of 2 entries, colour resolution of 16";

    TGIFImage read;
    TMemoryStream stream(file);
    read.LoadFromStream(stream);
    ASSERT_EQ(read.Images().Count(), 1);
    EXPECT_EQ(read.Header().ColorMap().Count(), 2);
    EXPECT_EQ(read.Images()[0].Data(), frame.Data());
    EXPECT_EQ(Save(read), file);
}

#ifdef SLICEWRIGHT_HAVE_GIFLIB

// Random cells of every colour-count class, with and without transparent
// pixels, decoded by giflib to exactly our indices and colour table.
TEST(GifWriter, GiflibDecodesOurFiles)
{
    std::mt19937 random(20240607);
    std::vector<TColor> cube;
    for (int i = 0; i < 216; ++i)
        cube.push_back(RGB(uint8_t(51 * (i / 36)), uint8_t(51 * (i / 6 % 6)), uint8_t(51 * (i % 6))));
    const TColor transparent = RGB(7, 7, 7);
    const int colorCounts[] = { 1, 2, 3, 4, 5, 8, 9, 16, 17, 32, 33, 64, 65, 128, 129, 200, 216 };
    for (const int colors : colorCounts) {
        for (const bool withTransparency : { false, true }) {
            const int width = std::uniform_int_distribution<int>(1, 97)(random);
            const int height = std::uniform_int_distribution<int>(1, 61)(random);
            std::vector<TColor> palette = cube;
            std::shuffle(palette.begin(), palette.end(), random);
            palette.resize(size_t(colors));
            std::vector<TColor> pixels(size_t(width) * size_t(height));
            for (size_t i = 0; i < pixels.size(); ++i)
                pixels[i] = i < palette.size()
                    ? palette[i]
                    : palette[std::uniform_int_distribution<size_t>(0, colors - 1)(random)];
            if (withTransparency)
                pixels[std::uniform_int_distribution<size_t>(0, pixels.size() - 1)(random)] = transparent;
            SCOPED_TRACE(std::to_string(colors) + " colours, " + std::to_string(width) + " x "
                + std::to_string(height) + (withTransparency ? ", transparent" : ""));

            TGIFImage image;
            image.Assign(MakeCell(width, height, pixels, transparent));
            const Bytes file = Save(image);
            const TGIFSubImage& frame = image.Images()[0];

            test::TGiflibFile giflib(file);
            GifFileType* gif = giflib.File();
            ASSERT_NE(gif, nullptr) << GifErrorString(giflib.OpenError());
            ASSERT_TRUE(giflib.Slurp()) << GifErrorString(gif->Error);
            ASSERT_EQ(gif->ImageCount, 1);
            const SavedImage& saved = gif->SavedImages[0];
            EXPECT_EQ(gif->SWidth, width);
            EXPECT_EQ(gif->SHeight, height);
            ASSERT_EQ(saved.ImageDesc.Width, width);
            ASSERT_EQ(saved.ImageDesc.Height, height);
            ASSERT_NE(saved.ImageDesc.ColorMap, nullptr);
            const ColorMapObject* map = saved.ImageDesc.ColorMap;
            EXPECT_EQ(map->ColorCount, 1 << ColorBits(frame.ColorMap().Count()));
            for (int i = 0; i < frame.ColorMap().Count(); ++i) {
                EXPECT_EQ(map->Colors[i].Red, frame.ColorMap()[i].Red);
                EXPECT_EQ(map->Colors[i].Green, frame.ColorMap()[i].Green);
                EXPECT_EQ(map->Colors[i].Blue, frame.ColorMap()[i].Blue);
            }
            EXPECT_TRUE(std::equal(frame.Data().begin(), frame.Data().end(), saved.RasterBits));
            GraphicsControlBlock control;
            if (withTransparency) {
                ASSERT_EQ(DGifSavedExtensionToGCB(gif, 0, &control), GIF_OK);
                EXPECT_EQ(control.TransparentColor, frame.ColorMap().Count() - 1);
            } else {
                EXPECT_EQ(saved.ExtensionBlockCount, 0);
            }
        }
    }
}

#endif

} // namespace
} // namespace sw
