// AVIF cells read back by avifdec (an outside reader) for lossless, and by
// our own reader for the lossy floor and for damaged files.

#include "core/base/errors.h"
#include "core/imaging/avif/avif_writer.h"
#include "core/imaging/png/png_reader.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <vector>

namespace sw {
namespace {

using Bytes = std::vector<uint8_t>;

// Noise, a gradient and a flat panel with dark strokes: blue, green, red
// rows padded to 4 bytes, or red, green, blue, alpha with a graded alpha.
struct TCell {
    static constexpr int kWidth = 45;
    static constexpr int kHeight = 31;
    static constexpr ptrdiff_t kStride = 140;
    Bytes Bgr = Bytes(kStride * kHeight, 0);
    Bytes Rgba = Bytes(size_t(kWidth) * kHeight * 4, 0);
    TCell()
    {
        uint32_t noise = 12345;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                noise = noise * 1103515245 + 12345;
                uint8_t* p = Bgr.data() + y * kStride + x * 3;
                const bool panel = x > 28;
                const bool stroke = panel && y % 6 < 2 && x % 4 != 0;
                p[0] = panel ? (stroke ? 30 : 240) : uint8_t(80 + y * 4);
                p[1] = panel ? (stroke ? 30 : 240) : uint8_t(noise >> 24);
                p[2] = panel ? (stroke ? 30 : 240) : uint8_t(200 - x * 2);
                uint8_t* q = Rgba.data() + (size_t(y) * kWidth + x) * 4;
                q[0] = p[2];
                q[1] = p[1];
                q[2] = p[0];
                q[3] = uint8_t(x * 255 / (kWidth - 1));
            }
    }
    TPixelView View() const { return { Bgr.data(), kWidth, kHeight, kStride, TPixelLayout::Bgr24 }; }
    TPixelView RgbaView() const { return { Rgba.data(), kWidth, kHeight, kWidth * 4, TPixelLayout::Rgba32 }; }
    // What a decoder should give back for the 24-bit view.
    Bytes Expected(std::optional<TColor> transparent) const
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

bool HaveAvifdec()
{
    static const bool found = std::system("avifdec --version >/dev/null 2>&1") == 0;
    return found;
}

// avifdec's PNG of the file, as RGBA.
Bytes ThroughAvifdec(const Bytes& avif)
{
    test::TempFolder folder;
    test::WriteFileBytes(folder / "cell.avif", std::string(avif.begin(), avif.end()));
    const std::string command = "avifdec --depth 8 '" + (folder / "cell.avif") + "' '" + (folder / "cell.png")
        + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        return {};
    const std::string png = test::ReadFileBytes(folder / "cell.png");
    TPngPicture picture = ReadPng({ reinterpret_cast<const uint8_t*>(png.data()), png.size() });
    return picture.Rgba;
}

double Psnr(const Bytes& want, const Bytes& got)
{
    if (want.size() != got.size())
        return 0;
    double squares = 0;
    for (size_t i = 0; i < want.size(); ++i)
        squares += (double(want[i]) - got[i]) * (double(want[i]) - got[i]);
    return squares == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 * double(want.size()) / squares);
}

TEST(AvifWriter, LosslessIsExactThroughAvifdec)
{
    if (!HaveAvifdec())
        GTEST_SKIP() << "avifdec not found: run scripts/install-deps";
    const TCell cell;
    struct TCase {
        const char* Name;
        TPixelView View;
        std::optional<TColor> Transparent;
        Bytes Want;
    };
    const TCase cases[] = {
        { "opaque", cell.View(), std::nullopt, cell.Expected(std::nullopt) },
        { "transparent colour", cell.View(), RGB(240, 240, 240), cell.Expected(RGB(240, 240, 240)) },
        { "own alpha", cell.RgbaView(), std::nullopt, cell.Rgba },
    };
    for (const TCase& c : cases) {
        TAvifOptions options;
        options.Lossless = true;
        options.Speed = 10;
        options.TransparentColor = c.Transparent;
        const Bytes avif = WriteAvif(c.View, options);
        EXPECT_TRUE(ThroughAvifdec(avif) == c.Want) << c.Name;
        EXPECT_TRUE(ReadAvif(avif).Rgba == c.Want) << c.Name;
    }
}

TEST(AvifWriter, LossyQualityTradesSizeForError)
{
    const TCell cell;
    const Bytes want = cell.Expected(std::nullopt);
    // Per-pixel noise in green is what halved chroma cannot keep.
    TAvifOptions options;
    options.Speed = 10;
    options.FullChroma = true;
    options.Quality = 95;
    const Bytes fine = WriteAvif(cell.View(), options);
    options.Quality = 30;
    const Bytes coarse = WriteAvif(cell.View(), options);
    const TAvifPixels fineBack = ReadAvif(fine);
    ASSERT_EQ(fineBack.Width, TCell::kWidth);
    ASSERT_EQ(fineBack.Height, TCell::kHeight);
    EXPECT_GT(Psnr(want, fineBack.Rgba), 35);
    EXPECT_GT(Psnr(want, fineBack.Rgba), Psnr(want, ReadAvif(coarse).Rgba));
    EXPECT_LT(coarse.size(), fine.size());
}

TEST(AvifWriter, EmptyViewIsRefused)
{
    EXPECT_THROW(WriteAvif(TPixelView {}), EInvalidGraphicOperation);
}

TEST(AvifReader, DamagedFilesGetAMessage)
{
    const TCell cell;
    TAvifOptions options;
    options.Speed = 10;
    const Bytes good = WriteAvif(cell.View(), options);
    EXPECT_THROW(ReadAvif({}), EInvalidGraphic);
    EXPECT_THROW(ReadAvif(Bytes(good.begin(), good.begin() + long(good.size() / 2))), EInvalidGraphic);
    uint32_t noise = 7;
    for (int i = 0; i < 200; ++i) {
        Bytes copy = good;
        noise = noise * 1103515245 + 12345;
        copy[(noise >> 8) % copy.size()] ^= uint8_t(1 + (noise >> 24) % 255);
        try {
            const TAvifPixels pixels = ReadAvif(copy);
            EXPECT_EQ(pixels.Rgba.size(), size_t(pixels.Width) * size_t(pixels.Height) * 4);
        } catch (const EInvalidGraphic&) { }
    }
}

} // namespace
} // namespace sw
