// The reader against libpng over the third-party corpus, its messages for
// files it must refuse, a truncation and byte-flip sweep (run under the
// sanitizers too), and the flattening onto white.

#include "core/base/errors.h"
#include "core/base/pixel_limit.h"
#include "core/base/stream.h"
#include "core/imaging/png/png_reader.h"
#include "core/imaging/png/png_writer.h"
#include "png_test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace sw {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

void PutU32(Bytes& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// A signature and an IHDR chunk with a correct CRC, then tail.
Bytes HeaderOnly(uint32_t width, uint32_t height, const Bytes& tail = {})
{
    Bytes png = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    PutU32(png, 13);
    const size_t start = png.size();
    png.insert(png.end(), { 'I', 'H', 'D', 'R' });
    PutU32(png, width);
    PutU32(png, height);
    png.insert(png.end(), { 8, 2, 0, 0, 0 });
    PutU32(png, static_cast<uint32_t>(crc32(0, png.data() + start, 17)));
    png.insert(png.end(), tail.begin(), tail.end());
    return png;
}

std::string ReadError(const Bytes& png)
{
    try {
        ReadPng(png);
    } catch (const EInvalidGraphic& e) {
        return e.what();
    }
    return "(read)";
}

TEST(PngReader, RefusesWithAClearMessage)
{
    EXPECT_EQ(
        ReadError({ 'G', 'I', 'F', '8', '9', 'a', 0, 0, 0 }), "PNG image is not valid (no PNG signature)");
    EXPECT_EQ(ReadError(HeaderOnly(9000, 9000)), PictureTooLargeMessage(9000, 9000));
    // 2^26 pixels pass the limit, but 40 bytes cannot inflate to 192 MB.
    EXPECT_EQ(ReadError(HeaderOnly(8192, 8192, Bytes(12, 0))),
        "PNG image is not valid (the file is too short for its size)");
    EXPECT_EQ(ReadError(HeaderOnly(0, 5)).rfind("PNG image is not valid (", 0), 0u);
}

TEST(PngReader, DamagedImageDataIsRefused)
{
    const Bytes rgb = { 1, 2, 3, 4, 5, 6 };
    const Bytes good = WritePng({ rgb.data(), 2, 1, 6, TPixelLayout::Bgr24 });
    const Bytes pixels = ReadPng(good).Rgba;
    // IDAT follows the 8-byte signature and the 25-byte IHDR chunk.
    const size_t idat = 8 + 25;
    ASSERT_EQ(std::string(good.begin() + idat + 4, good.begin() + idat + 8), "IDAT");
    const uint32_t length = uint32_t(good[idat]) << 24 | uint32_t(good[idat + 1]) << 16
        | uint32_t(good[idat + 2]) << 8 | good[idat + 3];
    Bytes badCrc = good;
    badCrc[idat + 8 + length + 3] ^= 1;
    EXPECT_EQ(ReadError(badCrc).rfind("PNG image is not valid (", 0), 0u) << ReadError(badCrc);
    TBitmap bitmap;
    EXPECT_THROW(ReadPngBitmap(badCrc, bitmap), EInvalidGraphic);
}

TEST(PngReader, TruncatedAndFlippedFilesReadOrFailCleanly)
{
    // A small file with every kind of chunk the writer makes.
    std::vector<uint8_t> rgba;
    for (int i = 0; i < 12 * 7; ++i)
        rgba.insert(rgba.end(), { uint8_t(i * 3), uint8_t(i % 5 * 60), 9, uint8_t(i % 4 ? 255 : 0) });
    const Bytes good = WritePng({ rgba.data(), 12, 7, 48, TPixelLayout::Rgba32 });
    const Bytes paletted
        = WritePng8({ std::vector<TRGBQuad>(3, TRGBQuad { 1, 2, 3, 0 }), Bytes(40, 2), 8, 5, 1 });
    for (const Bytes& file : { good, paletted }) {
        const std::vector<uint8_t> pixels = ReadPng(file).Rgba;
        // Once the image data is complete, what follows may be missing.
        for (size_t size = 0; size < file.size(); ++size) {
            const Bytes cut(file.begin(), file.begin() + long(size));
            if (ReadError(cut) == "(read)") {
                EXPECT_TRUE(ReadPng(cut).Rgba == pixels) << size;
            }
        }
        for (size_t at = 0; at < file.size(); ++at) {
            for (uint8_t mask : { 0x01, 0x80, 0xFF }) {
                Bytes flipped = file;
                flipped[at] ^= mask;
                ReadError(flipped); // any result but a crash
            }
        }
    }
}

TEST(PngReader, TranslucentPixelsAreBlendedOntoWhite)
{
    const Bytes rgba = { 255, 0, 0, 255, 0, 0, 0, 128, 0, 0, 255, 0 };
    TPngPicture picture = ReadPng(WritePng({ rgba.data(), 3, 1, 12, TPixelLayout::Rgba32 }));
    EXPECT_TRUE(picture.HasAlpha);
    TBitmap bitmap;
    PngToBitmap(picture, bitmap);
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
    const uint8_t* row = std::as_const(bitmap).ScanLine(0);
    EXPECT_EQ(Bytes(row, row + 9), (Bytes { 0, 0, 255, 127, 127, 127, 255, 255, 255 }));
}

bool SixteenBitOrGamma(const Bytes& png)
{
    const bool sixteen = png.size() > 24 && png[24] == 16;
    return sixteen
        || std::search(png.begin(), png.end(), std::begin("gAMA"), std::end("gAMA") - 1) != png.end();
}

TEST(PngCorpus, SamePixelsAsLibpngAndNoCrash)
{
    std::vector<fs::path> files;
    const fs::path root(SLICEWRIGHT_CORPUS_DIR);
    if (fs::exists(root))
        for (const auto& entry : fs::recursive_directory_iterator(root))
            if (entry.is_regular_file() && entry.path().extension() == ".png")
                files.push_back(entry.path());
    if (files.empty())
        GTEST_SKIP() << "corpus not found in " << SLICEWRIGHT_CORPUS_DIR;
    std::sort(files.begin(), files.end());
    int compared = 0;
    for (const fs::path& path : files) {
        TMemoryStream stream;
        stream.LoadFromFile(path.string());
        const Bytes bytes = stream.Bytes();
        const auto expected = test::DecodeWithLibpng(bytes);
        TPngPicture ours;
        try {
            ours = ReadPng(bytes);
        } catch (const EInvalidGraphic& e) {
            EXPECT_FALSE(expected.has_value()) << path << ": " << e.what();
            continue;
        }
        // Row by row into a bitmap, interlaced or not, gives the same pixels.
        TBitmap whole;
        TBitmap byRows;
        PngToBitmap(ours, whole);
        ASSERT_NO_THROW(ReadPngBitmap(bytes, byRows)) << path;
        bool same = whole.Width() == byRows.Width() && whole.Height() == byRows.Height();
        for (int y = 0; same && y < whole.Height(); ++y)
            same = std::equal(std::as_const(whole).ScanLine(y),
                std::as_const(whole).ScanLine(y) + whole.Width() * 3, std::as_const(byRows).ScanLine(y));
        EXPECT_TRUE(same) << path;
        // libpng turns 16-bit and gamma-tagged samples into sRGB values; the
        // picture here is the stored values.
        if (!expected || SixteenBitOrGamma(bytes))
            continue;
        ++compared;
        ASSERT_EQ(ours.Width, expected->Width) << path;
        ASSERT_EQ(ours.Height, expected->Height) << path;
        EXPECT_TRUE(ours.Rgba == expected->Rgba) << path;
    }
    std::printf("%zu files, %d compared with libpng\n", files.size(), compared);
}

} // namespace
} // namespace sw
