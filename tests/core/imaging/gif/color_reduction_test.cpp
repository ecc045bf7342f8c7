#include "core/imaging/gif/color_reduction.h"

#include "core/base/errors.h"
#include "core/imaging/gif/gif_frame_assign.h"
#include "core/imaging/gif/gif_image.h"
#include "core/imaging/gif/gif_messages.h"
#include "core/imaging/gif/gif_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace sw {
namespace {

using test::MakeBitmap24;
using test::MakeBitmap24With;
using test::MakeCell;

constexpr TColor kRed = RGB(255, 0, 0);
constexpr TColor kGreen = RGB(0, 255, 0);
constexpr TColor kWhite = RGB(255, 255, 255);

std::vector<TGIFColor> Colors(const TGIFColorMap& map)
{
    std::vector<TGIFColor> colors;
    for (int i = 0; i < map.Count(); ++i)
        colors.push_back(map[i]);
    return colors;
}

template <typename F> std::string MessageOf(F&& f)
{
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    }
    return "(no exception)";
}

TEST(WebCubeLookup, MapsByBiasedTruncation)
{
    struct Case {
        uint8_t Red, Green, Blue;
        uint8_t Index;
        TGIFColor Chosen;
    };
    const Case cases[] = {
        { 47, 47, 47, 0, { 0, 0, 0 } },
        { 48, 48, 48, 43, { 51, 51, 51 } },
        { 251, 0, 0, 144, { 204, 0, 0 } },
        { 252, 0, 0, 180, { 255, 0, 0 } },
        { 200, 100, 48, 121, { 153, 102, 51 } }, // 200 stays at 153
        { 255, 255, 255, 215, { 255, 255, 255 } },
        { 0, 255, 0, 30, { 0, 255, 0 } },
    };
    const TNetscapeColorLookup lookup;
    EXPECT_EQ(lookup.Colors(), 216);
    for (const Case& c : cases) {
        uint8_t r = c.Red, g = c.Green, b = c.Blue;
        EXPECT_EQ(lookup.MapColor(r, g, b), c.Index)
            << int(c.Red) << "," << int(c.Green) << "," << int(c.Blue);
        EXPECT_EQ((TGIFColor { r, g, b }), c.Chosen);
    }
}

TEST(WebCubeLookup, RowMappingAgreesWithPerPixelLookup)
{
    // Every channel value in every position.
    std::vector<uint8_t> bgr;
    for (int v = 0; v < 256; ++v) {
        const uint8_t c = static_cast<uint8_t>(v);
        const uint8_t d = static_cast<uint8_t>(255 - v);
        const uint8_t e = static_cast<uint8_t>(v * 7);
        bgr.insert(bgr.end(), { c, d, e, e, c, d, d, e, c });
    }
    const int full = static_cast<int>(bgr.size() / 3);
    const TNetscapeColorLookup lookup;
    std::vector<uint8_t> expected(static_cast<size_t>(full));
    for (int x = 0; x < full; ++x) {
        uint8_t r = bgr[size_t(x) * 3 + 2], g = bgr[size_t(x) * 3 + 1], b = bgr[size_t(x) * 3];
        expected[size_t(x)] = lookup.MapColor(r, g, b);
    }
    // Every mapper this machine runs, on widths that leave each vector
    // width's tail partly filled; bytes past the width stay untouched.
    const std::vector<TMapRowKernel> kernels = WebCubeRowMappers();
    for (size_t k = 0; k < kernels.size(); ++k)
        for (const int width : { 0, 1, 15, 16, 17, 31, 32, 33, 47, 63, 65, full - 1, full }) {
            std::vector<uint8_t> indices(static_cast<size_t>(full), 0xEE);
            kernels[k](bgr.data(), indices.data(), width);
            for (int x = 0; x < full; ++x)
                ASSERT_EQ(indices[size_t(x)], x < width ? expected[size_t(x)] : 0xEE)
                    << "mapper " << k << ", width " << width << ", pixel " << x;
        }
    std::vector<uint8_t> indices(static_cast<size_t>(full));
    TNetscapeColorLookup::MapRow(bgr.data(), indices.data(), full);
    EXPECT_EQ(indices, expected);

    // The marking mappers: the marker exactly where all three bytes match,
    // for the colours of pixels in different vector lanes and one that
    // shares two bytes with a pixel.
    auto keyAt = [&](int x) {
        return TBgrKey { bgr[size_t(x) * 3], bgr[size_t(x) * 3 + 1], bgr[size_t(x) * 3 + 2] };
    };
    const TBgrKey keys[] = { keyAt(0), keyAt(20), keyAt(37), keyAt(full - 1),
        TBgrKey { keyAt(5).Blue, keyAt(5).Green, static_cast<uint8_t>(keyAt(5).Red + 1) } };
    const std::vector<TMarkRowKernel> markers = WebCubeRowMarkers();
    for (const TBgrKey& key : keys) {
        std::vector<uint8_t> marked = expected;
        for (int x = 0; x < full; ++x)
            if (bgr[size_t(x) * 3] == key.Blue && bgr[size_t(x) * 3 + 1] == key.Green
                && bgr[size_t(x) * 3 + 2] == key.Red)
                marked[size_t(x)] = kCubeMarker;
        for (size_t k = 0; k < markers.size(); ++k)
            for (const int width : { 0, 1, 15, 17, 31, 33, 65, full }) {
                std::vector<uint8_t> out(static_cast<size_t>(full), 0xEE);
                markers[k](bgr.data(), out.data(), width, key);
                for (int x = 0; x < full; ++x)
                    ASSERT_EQ(out[size_t(x)], x < width ? marked[size_t(x)] : 0xEE)
                        << "marker " << k << ", key " << int(key.Blue) << ", width " << width << ", pixel "
                        << x;
            }
    }
}

TEST(ColorMap, ColorBitsByCount)
{
    const std::pair<int, int> cases[]
        = { { 0, 0 }, { 1, 1 }, { 2, 1 }, { 3, 2 }, { 4, 2 }, { 5, 3 }, { 8, 3 }, { 9, 4 }, { 16, 4 },
              { 17, 5 }, { 32, 5 }, { 33, 6 }, { 64, 6 }, { 65, 7 }, { 128, 7 }, { 129, 8 }, { 256, 8 } };
    for (const auto& [count, bits] : cases)
        EXPECT_EQ(ColorBits(count), bits) << count << " colours";
}

TEST(ColorMap, AppendRemoveAndLimits)
{
    TGIFColorMap map;
    EXPECT_EQ(map.AppendColor(RGB(1, 2, 3)), 0);
    EXPECT_EQ(map[0], (TGIFColor { 1, 2, 3 }));
    EXPECT_EQ(map.Capacity(), 16);
    for (int i = 1; i < 17; ++i)
        map.AppendColor(TColor(i));
    EXPECT_EQ(map.Capacity(), 32);
    for (int i = 17; i < 97; ++i)
        map.AppendColor(TColor(i));
    EXPECT_EQ(map.Capacity(), 128); // 97 entries, up to the next multiple of 32

    map.SetSorted(true);
    map.RemoveColor(0);
    EXPECT_FALSE(map.Sorted());
    EXPECT_EQ(map.Count(), 96);
    EXPECT_EQ(map[0], (TGIFColor { 1, 0, 0 }));
    EXPECT_EQ(MessageOf([&] { map.RemoveColor(96); }), gif_message::kInvalidColorIndex);
    EXPECT_EQ(MessageOf([&] { map.RemoveColor(-1); }), gif_message::kInvalidColorIndex);

    while (map.Count() < 256)
        map.AppendColor(clWhite);
    EXPECT_EQ(map.Capacity(), 256);
    EXPECT_EQ(MessageOf([&] { map.AppendColor(clBlack); }), gif_message::kColorTableOverflow);
}

TEST(ColorMap, RemappersAgreeWithTheTable)
{
    // Tables that move every index, that leave all but a few pieces of
    // sixteen alone, and that leave everything alone; every index at every
    // position of a vector, over lengths that leave the tail partly filled.
    std::mt19937 random(5);
    TColorRemap shuffled, sparse, identity;
    for (size_t i = 0; i < shuffled.size(); ++i)
        shuffled[i] = sparse[i] = identity[i] = static_cast<uint8_t>(i);
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    sparse[3] = 200;
    sparse[215] = 0;
    sparse[255] = 17;
    std::vector<uint8_t> pixels;
    for (int k = 0; k < 3; ++k)
        for (int v = 0; v < 256; ++v)
            pixels.push_back(static_cast<uint8_t>(v * (2 * k + 1) + k));
    const std::vector<TRemapKernel> kernels = IndexRemappers();
    for (const TColorRemap* table : { &shuffled, &sparse, &identity })
        for (size_t k = 0; k < kernels.size(); ++k)
            for (const size_t length :
                { size_t(0), size_t(7), size_t(31), size_t(33), size_t(100), pixels.size() }) {
                std::vector<uint8_t> out = pixels;
                kernels[k](out.data(), length, *table);
                for (size_t x = 0; x < pixels.size(); ++x)
                    ASSERT_EQ(out[x], x < length ? (*table)[pixels[x]] : pixels[x])
                        << "kernel " << k << ", length " << length << ", pixel " << x;
            }
}

TEST(ColorMap, CountersCountRunsAndMixedIndices)
{
    // Runs just shorter and longer than the blocks counted at once, at
    // every offset against them, between mixed indices, then a stretch of
    // noise too busy to count by rounds followed by runs again; handed to
    // every kernel in pieces that cut through runs and blocks.
    std::vector<uint8_t> pixels;
    std::mt19937 random(3);
    auto addRuns = [&] {
        for (const int run : { 1, 2, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100 })
            for (int offset = 0; offset < 17; ++offset) {
                for (int k = 0; k < offset; ++k)
                    pixels.push_back(static_cast<uint8_t>(random()));
                pixels.insert(pixels.end(), size_t(run), static_cast<uint8_t>(run * 7 + offset));
            }
    };
    addRuns();
    for (int k = 0; k < 3000; ++k)
        pixels.push_back(static_cast<uint8_t>(random()));
    addRuns();
    TColorCounts expected {};
    for (const uint8_t index : pixels)
        ++expected[index];
    const std::vector<TCountKernel> kernels = ColorCountKernels();
    for (size_t k = 0; k <= kernels.size(); ++k)
        for (const size_t piece : { size_t(1), size_t(13), size_t(64), size_t(100), pixels.size() }) {
            // The last pass is the default counter.
            TColorCounter counter = k < kernels.size() ? TColorCounter(kernels[k]) : TColorCounter();
            for (size_t at = 0; at < pixels.size(); at += piece)
                counter.Count(std::span(pixels).subspan(at, std::min(piece, pixels.size() - at)));
            EXPECT_EQ(counter.Totals(), expected) << "kernel " << k << ", pieces of " << piece;
        }
}

TEST(ColorMap, SortByUsageKeepsTheQuicksortOrderOfEqualCounts)
{
    struct Case {
        const char* Name;
        int Colors;
        std::vector<uint8_t> Pixels;
        bool Moved;
        std::vector<int> NewOrder; // old index at each new position
        std::vector<uint8_t> NewPixels;
    };
    const Case cases[] = {
        // A stable sort would give 2, 0, 1; this partitioning swaps the ties.
        { "ties behind a larger count", 3, { 0, 1, 2, 2 }, true, { 2, 1, 0 }, { 2, 1, 0, 0 } },
        { "unused entries are cut", 4, { 3, 3, 1 }, true, { 3, 1 }, { 0, 0, 1 } },
        { "pixels beyond the table stay", 2, { 1, 7, 1 }, true, { 1 }, { 0, 7, 0 } },
        // Already in order: nothing moves and the unused entry stays.
        { "in order", 3, { 0, 0, 1 }, false, { 0, 1, 2 }, { 0, 0, 1 } },
        { "one colour", 1, { 0, 0 }, false, { 0 }, { 0, 0 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TGIFColorMap map;
        for (int i = 0; i < c.Colors; ++i)
            map.AppendColor(RGB(static_cast<uint8_t>(i), 0, 0));
        std::vector<uint8_t> pixels = c.Pixels;
        TColorRemap remap {};
        EXPECT_EQ(map.SortByUsage(pixels, remap), c.Moved);
        EXPECT_EQ(map.Sorted(), c.Colors > 1);
        ASSERT_EQ(map.Count(), static_cast<int>(c.NewOrder.size()));
        for (int i = 0; i < map.Count(); ++i)
            EXPECT_EQ(map[i].Red, c.NewOrder[size_t(i)]) << "position " << i;
        EXPECT_EQ(pixels, c.NewPixels);
    }
}

struct FrameFixture : ::testing::Test {
    TGIFImage image;
    TGIFSubImage& Assign(const TBitmap& bitmap)
    {
        image.Assign(bitmap);
        return image.Images()[0];
    }
};

TEST_F(FrameFixture, TwoByTwoCellWithTransparentGreen)
{
    TGIFSubImage& frame = Assign(MakeCell(2, 2, { kRed, kRed, kWhite, kGreen }, kGreen));
    EXPECT_EQ(frame.Data(), (std::vector<uint8_t> { 0, 0, 2, 3 }));
    EXPECT_EQ(Colors(frame.ColorMap()),
        (std::vector<TGIFColor> { { 255, 0, 0 }, { 0, 255, 0 }, { 255, 255, 255 }, { 0, 0, 0 } }));
    EXPECT_FALSE(frame.ColorMap().Sorted()); // the appended entry cleared it
    ASSERT_EQ(frame.Extensions().Count(), 1);
    ASSERT_NE(frame.GraphicControlExtension(), nullptr);
    EXPECT_TRUE(frame.Transparent());
    EXPECT_TRUE(frame.GraphicControlExtension()->Transparent());
    EXPECT_EQ(frame.GraphicControlExtension()->TransparentColorIndex(), 3);
    EXPECT_EQ(image.Width(), 2);
    EXPECT_EQ(image.Height(), 2);
}

TEST_F(FrameFixture, TransparencyCases)
{
    struct Case {
        const char* Name;
        std::vector<TColor> Pixels; // 2 x 2
        TColor Transparent;
        std::vector<TGIFColor> Table;
        std::vector<uint8_t> Data;
        bool Sorted;
        int TransparentIndex; // -1: no graphic control extension
    };
    const Case cases[] = {
        { "one colour, not transparent", { kRed, kRed, kRed, kRed }, kGreen, { { 255, 0, 0 } },
            { 0, 0, 0, 0 }, false, -1 },
        { "one colour that is the transparent colour", { kGreen, kGreen, kGreen, kGreen }, kGreen,
            { { 0, 255, 0 }, { 0, 0, 0 } }, { 1, 1, 1, 1 }, false, 1 },
        // Only exact equality counts: (1, 254, 2) reduces to the same cube
        // colour as the transparent one but stays opaque.
        { "near colour stays opaque", { RGB(1, 254, 2), kGreen, kGreen, kRed }, kGreen,
            { { 0, 255, 0 }, { 255, 0, 0 }, { 0, 0, 0 } }, { 0, 2, 2, 1 }, false, 2 },
        { "transparent colour absent", { kRed, kWhite, kWhite, kWhite }, kGreen,
            { { 255, 255, 255 }, { 255, 0, 0 } }, { 1, 0, 0, 0 }, false, -1 },
        // A system colour reference is resolved (button face: 240, 240, 240).
        { "system colour", { RGB(240, 240, 240), kRed, kRed, kRed }, clBtnFace,
            { { 255, 0, 0 }, { 204, 204, 204 }, { 0, 0, 0 } }, { 2, 0, 0, 0 }, false, 2 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TGIFSubImage& frame = Assign(MakeCell(2, 2, c.Pixels, c.Transparent));
        EXPECT_EQ(Colors(frame.ColorMap()), c.Table);
        EXPECT_EQ(frame.Data(), c.Data);
        EXPECT_EQ(frame.ColorMap().Sorted(), c.Sorted);
        if (c.TransparentIndex < 0) {
            EXPECT_EQ(frame.Extensions().Count(), 0);
            EXPECT_FALSE(frame.Transparent());
        } else {
            ASSERT_NE(frame.GraphicControlExtension(), nullptr);
            EXPECT_EQ(frame.GraphicControlExtension()->TransparentColorIndex(), c.TransparentIndex);
        }
    }
}

TEST_F(FrameFixture, BitmapWithoutTransparentFlagKeepsTheWholeCube)
{
    TBitmap bitmap = MakeBitmap24(2, 1, { kGreen, kRed });
    bitmap.SetTransparentColor(kGreen);
    TGIFSubImage& frame = Assign(bitmap);
    EXPECT_EQ(frame.Extensions().Count(), 0);
    EXPECT_EQ(frame.ColorMap().Count(), 256); // neither sorted nor cut
    EXPECT_EQ(frame.Data(), (std::vector<uint8_t> { 30, 180 }));
}

TEST_F(FrameFixture, FullyUsedEightBitTableGetsNoTransparency)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf8bit);
    std::vector<TRGBQuad> table(256);
    for (int i = 0; i < 256; ++i)
        table[size_t(i)] = TRGBQuad { static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), 7, 0 };
    bitmap.SetColorTable(table);
    bitmap.SetSize(16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            bitmap.ScanLine(y)[x] = static_cast<uint8_t>(y * 16 + x);
    bitmap.SetTransparent(true);
    bitmap.SetTransparentColor(RGB(7, 255, 0)); // entry 0

    TGIFSubImage& frame = Assign(bitmap);
    EXPECT_EQ(frame.ColorMap().Count(), 256);
    EXPECT_TRUE(frame.ColorMap().Sorted());
    EXPECT_EQ(frame.Extensions().Count(), 0);
    // Equal counts get reordered by the sort; every pixel keeps its colour.
    for (int i = 0; i < 256; ++i) {
        const TGIFColor& c = frame.ColorMap()[frame.Data()[size_t(i)]];
        EXPECT_EQ(c, (TGIFColor { 7, static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i) })) << i;
    }
}

TEST_F(FrameFixture, LowBitDepthsAreReadByTheirPackedLayout)
{
    struct Case {
        TPixelFormat Format;
        std::vector<uint8_t> Row; // packed bytes of row 0
        int Width;
        std::vector<uint8_t> Indices;
    };
    const Case cases[] = {
        { TPixelFormat::pf4bit, { 0x1F, 0x30 }, 3, { 1, 15, 3 } },
        { TPixelFormat::pf1bit, { 0xA1, 0x80 }, 9, { 1, 0, 1, 0, 0, 0, 0, 1, 1 } },
    };
    for (const Case& c : cases) {
        TBitmap bitmap;
        bitmap.SetPixelFormat(c.Format);
        const int entries = c.Format == TPixelFormat::pf1bit ? 2 : 16;
        std::vector<TRGBQuad> table;
        for (int i = 0; i < entries; ++i)
            table.push_back(TRGBQuad { static_cast<uint8_t>(i), 0, 0, 0 });
        bitmap.SetColorTable(table);
        bitmap.SetSize(c.Width, 1);
        std::copy(c.Row.begin(), c.Row.end(), bitmap.ScanLine(0));

        TGIFSubImage& frame = Assign(bitmap);
        ASSERT_EQ(frame.ColorMap().Count(), entries);
        EXPECT_EQ(frame.ColorMap()[entries - 1].Blue, entries - 1);
        EXPECT_EQ(frame.Data(), c.Indices);
    }
}

TEST_F(FrameFixture, NoReductionKeepsDistinctColoursInOrderOfAppearance)
{
    image.SetReductionKind(TColorReduction::None);
    TGIFSubImage& frame = Assign(MakeBitmap24(
        3, 2, { RGB(1, 2, 3), RGB(4, 5, 6), RGB(1, 2, 3), RGB(7, 8, 9), RGB(4, 5, 6), RGB(7, 8, 9) }));
    EXPECT_EQ(Colors(frame.ColorMap()), (std::vector<TGIFColor> { { 1, 2, 3 }, { 4, 5, 6 }, { 7, 8, 9 } }));
    EXPECT_EQ(frame.Data(), (std::vector<uint8_t> { 0, 1, 0, 2, 1, 2 }));

    std::vector<TColor> many;
    for (int i = 0; i < 257; ++i)
        many.push_back(RGB(static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0));
    EXPECT_EQ(MessageOf([&] { image.Assign(MakeBitmap24(257, 1, many)); }), gif_message::kColorTableOverflow);
    EXPECT_TRUE(image.Images().Empty());
}

TEST_F(FrameFixture, CellNeverExceedsTheCubePlusTransparency)
{
    std::vector<TColor> pixels;
    for (int i = 0; i < 64 * 64; ++i)
        pixels.push_back(static_cast<TColor>(i * 2654435761u) & 0xFFFFFF);
    pixels[5] = RGB(9, 9, 9);
    TGIFSubImage& frame = Assign(MakeCell(64, 64, pixels, RGB(9, 9, 9)));
    EXPECT_LE(frame.ColorMap().Count(), 217);
    EXPECT_EQ(frame.ColorMap().Count() - 1, frame.GraphicControlExtension()->TransparentColorIndex());
}

TEST_F(FrameFixture, UnbuiltSettingsAreRefused)
{
    const TBitmap bitmap = MakeBitmap24(1, 1, { kRed });
    image.SetReductionKind(TColorReduction::Quantize);
    EXPECT_EQ(MessageOf([&] { image.Assign(bitmap); }), "Color reduction kind 7 is not supported");
    image.SetReductionKind(TColorReduction::WebCube);
    image.SetDitherKind(TDitherMode::Stucki);
    EXPECT_EQ(MessageOf([&] { image.Assign(bitmap); }), "Dither kind 2 is not supported");
    EXPECT_TRUE(image.Images().Empty());
}

TEST_F(FrameFixture, OversizedBitmapIsRefused)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf8bit);
    bitmap.SetSize(65536, 1);
    EXPECT_EQ(MessageOf([&] { image.Assign(bitmap); }),
        "Image too large for GIF: 65536 x 1 (at most 65535 x 65535)");
}

TEST_F(FrameFixture, ProgressReportsConverting)
{
    std::vector<std::pair<TProgressStage, int>> reports;
    image.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t percent, bool, const TRect&,
                           const std::string& message) {
        EXPECT_EQ(message, gif_message::kConverting);
        reports.emplace_back(stage, percent);
    };
    Assign(MakeBitmap24(1, 64, std::vector<TColor>(64, kRed)));
    using S = TProgressStage;
    EXPECT_EQ(reports,
        (std::vector<std::pair<S, int>> {
            { S::Starting, 0 }, { S::Running, 50 }, { S::Running, 100 }, { S::Ending, 100 } }));
}

TEST_F(FrameFixture, AbortedConversionLeavesAWholePixelBlock)
{
    TGIFSubImage& frame = image.Images().Add(std::make_unique<TGIFSubImage>(&image));
    image.OnProgress = [](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&, const std::string&) {
        if (stage == TProgressStage::Running)
            throw EAbort("stopped");
    };
    EXPECT_THROW(frame.Assign(MakeBitmap24(3, 64, std::vector<TColor>(3 * 64, kRed))), EAbort);
    ASSERT_EQ(frame.Data().size(), size_t(frame.Width()) * size_t(frame.Height()));
    image.OnProgress = nullptr;
    TMemoryStream out;
    image.SaveToStream(out);
}

// A frame assign does reduction, counting, sorting, remapping and marking in
// one sweep; it must equal those steps run one after another: ReduceBitmap,
// the indexed read of its result, and ApplyTransparencyMask with the
// source's mask.
TEST(FrameAssign, EqualsReductionFollowedByTheTransparencyMask)
{
    struct Case {
        const char* Name;
        int Width;
        int Height;
        std::vector<TColor> Palette; // pixels are runs of these
        int MaxRun;
        TColor Transparent;
        bool Flag; // the bitmap's transparent flag
    };
    const TColor page = RGB(240, 240, 240);
    std::vector<TColor> noise;
    for (int i = 0; i < 300; ++i)
        noise.push_back(static_cast<TColor>(i * 2654435761u) & 0xFFFFFF);
    std::vector<TColor> cube;
    for (int i = 0; i < 216; ++i)
        cube.push_back(RGB(uint8_t(51 * (i / 36)), uint8_t(51 * (i / 6 % 6)), uint8_t(51 * (i % 6))));
    cube.push_back(RGB(3, 3, 3));
    const std::vector<TColor> nearPage
        = { page, RGB(241, 240, 240), RGB(240, 239, 240), RGB(240, 240, 242), kRed };

    const Case cases[] = {
        { "noise, transparent colour absent", 37, 23, noise, 1, RGB(1, 2, 3), true },
        { "flat runs on a transparent page", 300, 40, { page, page, kWhite, RGB(40, 40, 40), kRed }, 90, page,
            true },
        { "colours next to the transparent one", 64, 64, nearPage, 12, page, true },
        { "every cube colour and transparency", 217, 3, cube, 1, RGB(3, 3, 3), true },
        { "only the transparent colour", 9, 9, { kGreen }, 100, kGreen, true },
        { "transparent flag off", 50, 20, nearPage, 5, page, false },
        { "system colour", 41, 17, nearPage, 9, clBtnFace, true },
    };
    std::mt19937 random(17);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<TColor> pixels;
        while (pixels.size() < size_t(c.Width) * size_t(c.Height)) {
            const TColor color = c.Palette[random() % c.Palette.size()];
            const size_t run = 1 + random() % static_cast<unsigned>(c.MaxRun);
            pixels.insert(
                pixels.end(), std::min(run, size_t(c.Width) * size_t(c.Height) - pixels.size()), color);
        }
        TBitmap source = MakeCell(c.Width, c.Height, pixels, c.Transparent);
        source.SetTransparent(c.Flag);

        TGIFImage image;
        image.Assign(source);
        const TGIFSubImage& frame = image.Images()[0];

        TBitmap copy = MakeBitmap24(c.Width, c.Height, pixels);
        const auto reduced = ReduceBitmap(copy, TColorReduction::WebCube, TDitherMode::Nearest, 8, nullptr);
        TGIFImage expectedImage;
        expectedImage.Assign(*reduced);
        TGIFSubImage& expected = expectedImage.Images()[0];
        if (c.Flag)
            ApplyTransparencyMask(expected, TTransparencyMask(copy, c.Transparent));

        EXPECT_EQ(Colors(frame.ColorMap()), Colors(expected.ColorMap()));
        EXPECT_EQ(frame.ColorMap().Sorted(), expected.ColorMap().Sorted());
        EXPECT_TRUE(frame.Data() == expected.Data());
        ASSERT_EQ(frame.GraphicControlExtension() != nullptr, expected.GraphicControlExtension() != nullptr);
        if (frame.GraphicControlExtension() != nullptr) {
            EXPECT_EQ(frame.GraphicControlExtension()->TransparentColorIndex(),
                expected.GraphicControlExtension()->TransparentColorIndex());
        }
        ASSERT_NE(frame.Bitmap(), nullptr);
        for (int y = 0; y < c.Height; ++y)
            ASSERT_TRUE(
                std::equal(reduced->ScanLine(y), reduced->ScanLine(y) + c.Width, frame.Bitmap()->ScanLine(y)))
                << "kept bitmap, row " << y;
    }
}

// A cell's rows inside a wider picture give the file its own bitmap gives.
TEST(FrameAssign, RowsGiveTheBytesOfTheirBitmap)
{
    constexpr int kWide = 61;
    constexpr int kHigh = 23;
    const auto color = [](int x, int y) {
        return x % 7 == 0 ? RGB(240, 240, 240) : RGB(uint8_t(x * 4), uint8_t(y * 11), uint8_t(x * y));
    };
    const TBitmap picture = MakeBitmap24With(kWide, kHigh, color);
    const TPixelView all = picture.View24();
    TPixelView rows = all;
    rows.Data += 3 * 5 + all.Stride * 2;
    rows.Width = 40;
    rows.Height = 17;
    struct Case {
        const char* Name;
        std::optional<TColor> Transparent;
        TDitherMode Dither;
    };
    const Case cases[] = {
        { "fixed colour", RGB(240, 240, 240), TDitherMode::Nearest },
        { "bottom-left pixel", kTransparentColorAuto, TDitherMode::Nearest },
        { "not transparent", std::nullopt, TDitherMode::Nearest },
        { "dithered", RGB(240, 240, 240), TDitherMode::FloydSteinberg },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TBitmap cell
            = MakeBitmap24With(rows.Width, rows.Height, [&](int x, int y) { return color(x + 5, y + 2); });
        cell.SetTransparent(c.Transparent.has_value());
        if (c.Transparent)
            cell.SetTransparentColor(*c.Transparent);
        TGIFImage expected;
        expected.SetDitherKind(c.Dither);
        expected.Assign(cell);
        TMemoryStream expectedBytes;
        expected.SaveToStream(expectedBytes);

        TGIFImage image;
        image.SetDitherKind(c.Dither);
        image.AssignRows(rows, c.Transparent);
        TMemoryStream bytes;
        image.SaveToStream(bytes);
        EXPECT_TRUE(bytes.Bytes() == expectedBytes.Bytes());
    }
}

TEST(FloydSteinberg, DiffusesErrorInSerpentineOrder)
{
    // Grey 30 on every channel; the cube grey of level L has index 43 * L.
    // Row 0 runs left to right, row 1 right to left carrying row 0's error.
    TBitmap source = MakeBitmap24(4, 2, std::vector<TColor>(8, RGB(30, 30, 30)));
    auto result = ReduceBitmap(source, TColorReduction::WebCube, TDitherMode::FloydSteinberg, 8, nullptr);
    ASSERT_EQ(result->PixelFormat(), TPixelFormat::pf8bit);
    const uint8_t* row0 = result->ScanLine(0);
    const uint8_t* row1 = result->ScanLine(1);
    EXPECT_EQ((std::vector<uint8_t>(row0, row0 + 4)), (std::vector<uint8_t> { 0, 0, 43, 0 }));
    EXPECT_EQ((std::vector<uint8_t>(row1, row1 + 4)), (std::vector<uint8_t> { 43, 0, 43, 0 }));
}

TEST(FloydSteinberg, KeepsTheAverageOfAFlatArea)
{
    const int size = 64;
    TBitmap source = MakeBitmap24(size, size, std::vector<TColor>(size * size, RGB(30, 120, 220)));
    auto result = ReduceBitmap(source, TColorReduction::WebCube, TDitherMode::FloydSteinberg, 8, nullptr);
    double sum[3] = {};
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const TRGBQuad& c = result->ColorTable()[result->ScanLine(y)[x]];
            sum[0] += c.Red;
            sum[1] += c.Green;
            sum[2] += c.Blue;
        }
    EXPECT_NEAR(sum[0] / (size * size), 30, 1.5);
    EXPECT_NEAR(sum[1] / (size * size), 120, 1.5);
    EXPECT_NEAR(sum[2] / (size * size), 220, 1.5);
}

TEST(ReduceBitmap, GivesAnEightBitBitmapOverTheCube)
{
    TBitmap source = MakeBitmap24(2, 1, { RGB(200, 100, 48), kWhite });
    auto result = ReduceBitmap(source, TColorReduction::WebCube, TDitherMode::Nearest, 8, nullptr);
    ASSERT_EQ(result->PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(result->ScanLine(0)[0], 121);
    EXPECT_EQ(result->ScanLine(0)[1], 215);
    const auto& table = result->ColorTable();
    ASSERT_EQ(table.size(), 256u);
    EXPECT_EQ(table[121], (TRGBQuad { 51, 102, 153, 0 }));
    EXPECT_EQ(table[215], (TRGBQuad { 255, 255, 255, 0 }));
    for (size_t i = 216; i < 256; ++i)
        EXPECT_EQ(table[i], TRGBQuad {}) << i;
}

TEST(DIBWriter, RefusesOtherFormatsAndEmptySizes)
{
    TBitmap target;
    const auto palette = MakeWebCubePalette();
    EXPECT_EQ(MessageOf([&] { TDIBWriter writer(target, palette, 1, 1, TPixelFormat::pf16bit); }),
        gif_message::kUnsupportedPixelFormat);
    EXPECT_EQ(MessageOf([&] { TDIBWriter writer(target, palette, 0, 5, TPixelFormat::pf8bit); }),
        gif_message::kInvalidDimensions);
}

} // namespace
} // namespace sw
