// WebP cells read back by libwebp's decoder: lossless exact (the
// transparent colour as alpha 0), lossy above a PSNR floor, and the sizes
// the format cannot hold refused.

#include "core/base/errors.h"
#include "core/imaging/webp/webp_writer.h"

#include <gtest/gtest.h>
#include <webp/decode.h>

#include <cmath>
#include <optional>
#include <vector>

namespace sw {
namespace {

using Bytes = std::vector<uint8_t>;

// A gradient with a flat panel of (240, 240, 240) and some dark text-like
// strokes: rows of blue, green, red padded to 4 bytes.
struct TCell {
    static constexpr int kWidth = 50;
    static constexpr int kHeight = 30;
    static constexpr ptrdiff_t kStride = 152;
    Bytes Bgr = Bytes(kStride * kHeight, 0);
    TCell()
    {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                uint8_t* p = Bgr.data() + y * kStride + x * 3;
                const bool panel = x > 30;
                const bool stroke = panel && y % 6 < 2 && x % 4 != 0;
                p[0] = panel ? (stroke ? 30 : 240) : uint8_t(80 + y * 4);
                p[1] = panel ? (stroke ? 30 : 240) : uint8_t(x * 5);
                p[2] = panel ? (stroke ? 30 : 240) : uint8_t(200 - x * 2);
            }
    }
    TPixelView View() const { return { Bgr.data(), kWidth, kHeight, kStride, TPixelLayout::Bgr24 }; }
    // Red, green, blue, alpha as a decoder gives them back.
    Bytes Rgba(std::optional<TColor> transparent) const
    {
        Bytes out;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const uint8_t* p = Bgr.data() + y * kStride + x * 3;
                const bool clear = transparent && RGB(p[2], p[1], p[0]) == *transparent;
                out.insert(out.end(), { p[2], p[1], p[0], uint8_t(clear ? 0 : 255) });
            }
        return out;
    }
};

Bytes Decode(const Bytes& webp, int& width, int& height)
{
    uint8_t* pixels = WebPDecodeRGBA(webp.data(), webp.size(), &width, &height);
    if (pixels == nullptr)
        return {};
    Bytes out(pixels, pixels + size_t(width) * size_t(height) * 4);
    WebPFree(pixels);
    return out;
}

double Psnr(const Bytes& a, const Bytes& b)
{
    // Over the visible pixels of b.
    double squares = 0;
    size_t samples = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (i % 4 != 3 && b[i - i % 4 + 3] != 0) {
            squares += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
            ++samples;
        }
    }
    const double mean = squares / double(samples);
    return mean == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mean);
}

TEST(WebpWriter, LosslessAndLossyReadBack)
{
    const TCell cell;
    struct TCase {
        bool Lossless;
        int Quality;
        std::optional<TColor> Transparent;
        double MinPsnr; // 99 = exact
    } cases[] = {
        { true, 90, {}, 99 },
        { true, 90, RGB(240, 240, 240), 99 },
        { false, 90, {}, 38 },
        { false, 40, {}, 30 },
        { false, 90, RGB(240, 240, 240), 38 },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "lossless " << c.Lossless << " quality " << c.Quality);
        const Bytes webp = WriteWebp(cell.View(), { c.Lossless, c.Quality, c.Transparent });
        int width = 0, height = 0;
        const Bytes decoded = Decode(webp, width, height);
        ASSERT_EQ(width, TCell::kWidth);
        ASSERT_EQ(height, TCell::kHeight);
        const Bytes expected = cell.Rgba(c.Transparent);
        for (size_t i = 3; i < expected.size(); i += 4)
            ASSERT_EQ(decoded[i], expected[i]) << "alpha of pixel " << i / 4;
        if (c.MinPsnr == 99) {
            // Colours under alpha 0 need not survive.
            for (size_t i = 0; i < expected.size(); i += 4) {
                if (expected[i + 3] != 0) {
                    ASSERT_TRUE(std::equal(&expected[i], &expected[i] + 3, &decoded[i])) << "pixel " << i / 4;
                }
            }
        } else {
            EXPECT_GE(Psnr(decoded, expected), c.MinPsnr);
        }
    }
}

TEST(WebpWriter, KeepsStraightAlphaOfAnRgbaView)
{
    Bytes rgba;
    for (int i = 0; i < 16 * 8; ++i)
        rgba.insert(rgba.end(), { uint8_t(i), uint8_t(255 - i), 40, uint8_t(i * 2) });
    int width = 0, height = 0;
    const Bytes decoded = Decode(
        WriteWebp({ rgba.data(), 16, 8, 64, TPixelLayout::Rgba32 }, { true, 90, {} }), width, height);
    ASSERT_EQ(decoded.size(), rgba.size());
    for (size_t i = 0; i < rgba.size(); i += 4) {
        EXPECT_EQ(decoded[i + 3], rgba[i + 3]);
        if (rgba[i + 3] != 0) {
            EXPECT_TRUE(std::equal(&rgba[i], &rgba[i] + 3, &decoded[i])) << "pixel " << i / 4;
        }
    }
}

TEST(WebpWriter, RefusesSizesTheFormatCannotHold)
{
    const Bytes row(3 * 16384, 0);
    for (const TPixelView& view :
        { TPixelView {}, TPixelView { row.data(), 16384, 1, 3 * 16384, TPixelLayout::Bgr24 } }) {
        try {
            WriteWebp(view);
            ADD_FAILURE() << "no exception for width " << view.Width;
        } catch (const EInvalidGraphicOperation& e) {
            EXPECT_EQ(std::string(e.what()),
                Format("Cannot write a WebP image of %d x %d pixels (at most 16383 x 16383)", view.Width,
                    view.Height));
        }
    }
}

} // namespace
} // namespace sw
