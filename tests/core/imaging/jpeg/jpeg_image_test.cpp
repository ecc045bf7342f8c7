#include "jpeg_test_support.h"

#include "core/base/errors.h"
#include "core/base/pixel_limit.h"
#include "core/imaging/jpeg/jpeg_codec.h"
#include "core/imaging/jpeg/jpeg_image.h"
#include "core/imaging/jpeg/jpeg_messages.h"
#include "core/imaging/picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <jerror.h>
#include <jpeglib.h>
#include <thread>

namespace sw {
namespace {

using test::DecodeBytes;
using test::EncodeBitmap;
using test::MakePicture;
using test::ParseMarkers;
using test::SaveBytes;

// The message up to the library's own text, which follows in parentheses.
std::string JpegError(int code)
{
    return Format(jpeg_message::kLibraryError, code) + " (";
}

template <typename F> std::string MessageOf(F&& action)
{
    try {
        action();
    } catch (const EJPEG& e) {
        return e.what();
    }
    return "no EJPEG";
}

// The tables of the JPEG standard that the library scales by quality.
constexpr std::array<int, 64> kStandardLuminance = { 16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58,
    60, 55, 14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62, 18, 22, 37, 56, 68, 109, 103, 77,
    24, 35, 55, 64, 81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99 };
constexpr std::array<int, 64> kStandardChrominance = { 17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99,
    99, 99, 24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99 };

std::array<int, 64> Scaled(const std::array<int, 64>& table, int quality)
{
    const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    std::array<int, 64> out {};
    for (size_t i = 0; i < 64; ++i)
        out[i] = std::clamp((table[i] * scale + 50) / 100, 1, 255);
    return out;
}

TEST(JpegImage, WrittenFileCarriesTheSettings)
{
    struct Case {
        const char* name;
        int quality;
        bool gray;
        bool progressive;
        int frameMarker;
        size_t components;
    };
    const Case cases[] = {
        { "defaults", 90, false, false, 0xC0, 3 },
        { "quality 50 keeps the standard tables", 50, false, false, 0xC0, 3 },
        { "quality 100 gives all ones", 100, false, false, 0xC0, 3 },
        { "grayscale", 90, true, false, 0xC0, 1 },
        { "progressive", 90, false, true, 0xC2, 3 },
    };
    const TBitmap picture = MakePicture(40, 24);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TJPEGImage image;
        if (c.quality != 90)
            image.SetSaveQuality(c.quality);
        image.SetGrayOutput(c.gray);
        image.SetSaveProgressive(c.progressive);
        image.Assign(picture);
        const test::JpegMarkers m = ParseMarkers(SaveBytes(image));
        EXPECT_TRUE(m.Jfif);
        EXPECT_EQ(m.DensityUnit, 0);
        EXPECT_EQ(m.XDensity, 1);
        EXPECT_EQ(m.YDensity, 1);
        EXPECT_EQ(m.FrameMarker, c.frameMarker);
        ASSERT_EQ(m.Components.size(), c.components);
        EXPECT_EQ(m.Components[0].H, c.gray ? 1 : 2);
        EXPECT_EQ(m.Components[0].V, c.gray ? 1 : 2);
        for (size_t k = 1; k < m.Components.size(); ++k) {
            EXPECT_EQ(m.Components[k].H, 1);
            EXPECT_EQ(m.Components[k].V, 1);
        }
        EXPECT_EQ(m.QuantTables.at(0), Scaled(kStandardLuminance, c.quality));
        if (!c.gray) {
            EXPECT_EQ(m.QuantTables.at(1), Scaled(kStandardChrominance, c.quality));
        }
        EXPECT_EQ(image.Data().Grayscale, c.gray);
        EXPECT_EQ(image.Data().Width, 40u);
        EXPECT_EQ(image.Data().Height, 24u);
    }
}

// Blocks of 16 pixels survive 4:2:0 chroma subsampling unblurred inside.
TBitmap ColourBlocks()
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(48, 16);
    for (int y = 0; y < 16; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < 48; ++x) {
            const int block = x / 16;
            row[3 * x + 0] = block == 2 ? 255 : 0; // blue
            row[3 * x + 1] = block == 1 ? 255 : 0; // green
            row[3 * x + 2] = block == 0 ? 255 : 0; // red
        }
    }
    return bitmap;
}

void ExpectColourBlocks(const TBitmap& bitmap)
{
    ASSERT_EQ(bitmap.BitsPerPixel(), 24);
    ASSERT_EQ(bitmap.Width(), 48);
    const char* names[] = { "red", "green", "blue" };
    for (int block = 0; block < 3; ++block) {
        SCOPED_TRACE(names[block]);
        const uint8_t* pixel = bitmap.ScanLine(8) + 3 * (16 * block + 8);
        const int want[3] = { block == 2 ? 255 : 0, block == 1 ? 255 : 0, block == 0 ? 255 : 0 };
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_NEAR(pixel[channel], want[channel], 12) << "channel " << channel;
    }
}

TEST(JpegImage, ColoursComeBackTrue)
{
    ExpectColourBlocks(DecodeBytes(EncodeBitmap(ColourBlocks())));
}

// Red, green and blue blocks as plain four-component inks, held inverted
// (255 = no ink) as such files are; with no Adobe marker the library takes
// them as they are.
std::vector<uint8_t> CmykBlocksWithoutAdobeMarker()
{
    constexpr int kWidth = 48;
    constexpr int kHeight = 16;
    std::vector<uint8_t> pixels;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int block = x / 16;
            // cyan, magenta, yellow, black: full ink reads 0.
            const uint8_t ink[3][4] = { { 255, 0, 0, 255 }, { 0, 255, 0, 255 }, { 0, 0, 255, 255 } };
            pixels.insert(pixels.end(), ink[block], ink[block] + 4);
        }
    }
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr error {};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, JCS_CMYK);
    cinfo.write_Adobe_marker = FALSE;
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = pixels.data() + size_t(cinfo.next_scanline) * kWidth * 4;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}

// Inverted inks with or without an Adobe marker, as other decoders and
// browsers read them.
TEST(JpegImage, FourComponentFileDecodesToTrueColours)
{
    const std::vector<uint8_t> plain = CmykBlocksWithoutAdobeMarker();
    const std::string adobe = "Adobe";
    ASSERT_EQ(std::search(plain.begin(), plain.end(), adobe.begin(), adobe.end()), plain.end());
    const std::pair<const char*, std::vector<uint8_t>> files[] = {
        { "Adobe marker", test::ReadFile(SLICEWRIGHT_TESTDATA_DIR "/jpeg/cmyk_rgb_blocks.jpg") },
        { "no Adobe marker", plain },
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        ExpectColourBlocks(DecodeBytes(bytes));
    }
}

TEST(JpegImage, GrayscaleFileDecodesToQuantisedGreyPalette)
{
    TJPEGImage source;
    source.SetGrayOutput(true);
    source.Assign(MakePicture(64, 48));
    const TBitmap bitmap = DecodeBytes(SaveBytes(source));
    ASSERT_EQ(bitmap.BitsPerPixel(), 8);
    const std::vector<TRGBQuad>& palette = bitmap.ColorTable();
    ASSERT_FALSE(palette.empty());
    EXPECT_LE(palette.size(), 236u);
    for (const TRGBQuad& entry : palette) {
        EXPECT_EQ(entry.Red, entry.Green);
        EXPECT_EQ(entry.Green, entry.Blue);
    }
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            ASSERT_LT(bitmap.ScanLine(y)[x], palette.size());
}

TEST(JpegImage, Depth8DecodesColourToAQuantisedPalette)
{
    const std::vector<uint8_t> bytes = EncodeBitmap(ColourBlocks());
    for (const bool fast : { false, true }) {
        SCOPED_TRACE(fast ? "fast" : "accurate");
        TJPEGImage image;
        image.SetDecodeDepth(TJPEGPixelFormat::Depth8);
        if (fast)
            image.SetDecodeSpeed(TJPEGPerformance::Fast);
        TMemoryStream stream(bytes);
        image.LoadFromStream(stream);
        TBitmap bitmap;
        bitmap.Assign(image);
        ASSERT_EQ(bitmap.BitsPerPixel(), 8);
        const std::vector<TRGBQuad>& palette = bitmap.ColorTable();
        ASSERT_LE(palette.size(), 236u);
        const TRGBQuad red = palette.at(bitmap.ScanLine(8)[8]);
        EXPECT_GT(red.Red, 200);
        EXPECT_LT(red.Green, 60);
        EXPECT_LT(red.Blue, 60);
        const TRGBQuad blue = palette.at(bitmap.ScanLine(8)[40]);
        EXPECT_GT(blue.Blue, 200);
        EXPECT_LT(blue.Red, 60);
    }
}

TEST(JpegImage, Depth8MapsOntoAGivenPalette)
{
    TJPEGImage image;
    image.SetDecodeDepth(TJPEGPixelFormat::Depth8);
    const std::vector<TRGBQuad> palette = { { 0, 0, 255, 0 }, { 0, 255, 0, 0 }, { 255, 0, 0, 0 } };
    image.SetPalette(palette);
    TMemoryStream stream(EncodeBitmap(ColourBlocks()));
    image.LoadFromStream(stream);
    image.DecodeToBitmap();
    const TBitmap& bitmap = *image.Bitmap();
    EXPECT_EQ(bitmap.ColorTable(), palette);
    EXPECT_EQ(bitmap.ScanLine(8)[8], 0);
    EXPECT_EQ(bitmap.ScanLine(8)[24], 1);
    EXPECT_EQ(bitmap.ScanLine(8)[40], 2);
}

TEST(JpegImage, ScanByScanDisplayEndsWithTheFullPicture)
{
    TJPEGImage source;
    source.SetSaveProgressive(true);
    source.Assign(MakePicture(50, 30));
    const std::vector<uint8_t> bytes = SaveBytes(source);
    const TBitmap plain = DecodeBytes(bytes);

    TJPEGImage image;
    image.SetShowProgressive(true);
    TMemoryStream stream(bytes);
    image.LoadFromStream(stream);
    EXPECT_TRUE(image.SaveProgressive());
    TBitmap shown;
    shown.Assign(image);
    ASSERT_EQ(shown.Height(), plain.Height());
    for (int y = 0; y < plain.Height(); ++y)
        ASSERT_EQ(0, std::memcmp(shown.ScanLine(y), plain.ScanLine(y), size_t(plain.Width()) * 3))
            << "row " << y;

    TJPEGImage quantised;
    quantised.SetShowProgressive(true);
    quantised.SetDecodeDepth(TJPEGPixelFormat::Depth8);
    TMemoryStream again(bytes);
    quantised.LoadFromStream(again);
    quantised.DecodeToBitmap();
    EXPECT_EQ(quantised.Bitmap()->BitsPerPixel(), 8);
    EXPECT_FALSE(quantised.Bitmap()->ColorTable().empty());
}

TEST(JpegImage, DecodeScaleShrinksTheOutput)
{
    const std::vector<uint8_t> bytes = EncodeBitmap(MakePicture(61, 35));
    const int expected[4][2] = { { 61, 35 }, { 31, 18 }, { 16, 9 }, { 8, 5 } };
    for (int scale = 0; scale < 4; ++scale) {
        SCOPED_TRACE(scale);
        TJPEGImage image;
        image.SetDecodeScale(scale);
        TMemoryStream stream(bytes);
        image.LoadFromStream(stream);
        EXPECT_EQ(image.Width(), expected[scale][0]);
        EXPECT_EQ(image.Height(), expected[scale][1]);
        image.DecodeToBitmap();
        EXPECT_EQ(image.Bitmap()->Width(), expected[scale][0]);
        EXPECT_EQ(image.Bitmap()->Height(), expected[scale][1]);
    }
}

TEST(JpegImage, LoadingReadsOnlyTheHeaderAndKeepsTheBytes)
{
    const std::vector<uint8_t> bytes = EncodeBitmap(MakePicture(33, 17));
    TJPEGImage image;
    int changes = 0;
    image.OnChange = [&] { ++changes; };
    TMemoryStream stream(bytes);
    image.LoadFromStream(stream);
    EXPECT_EQ(image.Bitmap(), nullptr);
    EXPECT_EQ(image.Width(), 33);
    EXPECT_EQ(image.Height(), 17);
    EXPECT_FALSE(image.SaveProgressive());
    EXPECT_FALSE(image.Empty());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(SaveBytes(image), bytes);
    EXPECT_EQ(image.Bitmap(), nullptr);
}

TEST(JpegImage, FailuresCarryTheLibrarysCode)
{
    const std::vector<uint8_t> good = EncodeBitmap(MakePicture(64, 64));
    const auto offsetOf = [&](uint8_t marker) {
        for (size_t i = 2; i + 1 < good.size(); ++i)
            if (good[i] == 0xFF && good[i + 1] == marker)
                return i;
        return size_t(0);
    };
    const size_t frame = offsetOf(0xC0);
    const size_t firstScan = offsetOf(0xDA);
    ASSERT_GT(frame, 0u);
    ASSERT_GT(firstScan, frame);
    const auto head = [&](size_t size) {
        return std::vector<uint8_t>(good.begin(), good.begin() + static_cast<ptrdiff_t>(size));
    };
    const std::vector<uint8_t> gif = { 'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255,
        255, 255, 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 1, 0, 0x3B };

    struct Case {
        const char* name;
        const char* fileName;
        std::vector<uint8_t> bytes;
        int loadError; // 0: loads
        int assignError; // 0: decodes
    };
    const Case cases[] = {
        { "a GIF named .jpeg", "cell.jpeg", gif, JERR_NO_SOI, 0 },
        // This release of the library tells a missing frame from a frame
        // without a scan.
        { "cut before the frame header", "cut.jpg", head(frame), JERR_NO_IMAGE, 0 },
        { "cut before the first scan", "cut.jpg", head(firstScan - 1), JERR_SOF_NO_SOS, 0 },
        { "cut inside the scan data", "cut.JPG", head((firstScan + good.size()) / 2), 0, 0 },
    };
    RegisterJpegImageFormats();
    test::TempFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.fileName;
        test::WriteFile(path, c.bytes);
        TPicture picture;
        if (c.loadError) {
            EXPECT_EQ(MessageOf([&] { picture.LoadFromFile(path); }).rfind(JpegError(c.loadError), 0), 0u);
            EXPECT_EQ(picture.Graphic(), nullptr);
            continue;
        }
        ASSERT_NO_THROW(picture.LoadFromFile(path));
        ASSERT_NE(dynamic_cast<TJPEGImage*>(picture.Graphic()), nullptr);
        TBitmap bitmap;
        if (c.assignError) {
            EXPECT_EQ(
                MessageOf([&] { bitmap.Assign(*picture.Graphic()); }).rfind(JpegError(c.assignError), 0), 0u);
            continue;
        }
        ASSERT_NO_THROW(bitmap.Assign(*picture.Graphic()));
        EXPECT_EQ(bitmap.Width(), 64);
        EXPECT_EQ(bitmap.Height(), 64);
    }
}

TEST(JpegImage, DeclaredSizeIsBoundedAtLoad)
{
    const std::vector<uint8_t> good = EncodeBitmap(MakePicture(16, 16));
    size_t frame = 0;
    for (size_t i = 2; i + 8 < good.size() && frame == 0; ++i)
        if (good[i] == 0xFF && good[i + 1] == 0xC0)
            frame = i;
    ASSERT_GT(frame, 0u);
    struct Case {
        unsigned width;
        unsigned height;
        bool accepted;
    };
    // 8192 x 8192 is exactly the bound.
    for (const Case& c : { Case { 60000, 60000, false }, Case { 8192, 8193, false },
             Case { 8193, 8192, false }, Case { 8192, 8192, true } }) {
        SCOPED_TRACE(Format("%u x %u", c.width, c.height));
        std::vector<uint8_t> bytes = good;
        bytes[frame + 5] = static_cast<uint8_t>(c.height >> 8);
        bytes[frame + 6] = static_cast<uint8_t>(c.height);
        bytes[frame + 7] = static_cast<uint8_t>(c.width >> 8);
        bytes[frame + 8] = static_cast<uint8_t>(c.width);
        TJPEGImage image;
        TMemoryStream stream(bytes);
        if (c.accepted) {
            ASSERT_NO_THROW(image.LoadFromStream(stream));
            EXPECT_EQ(image.Width(), static_cast<int>(c.width));
            continue;
        }
        EXPECT_EQ(
            MessageOf([&] { image.LoadFromStream(stream); }), PictureTooLargeMessage(c.width, c.height));
        EXPECT_TRUE(image.Empty());
    }
}

// A few hundred bytes of a multi-scan file claiming 8192 x 8192 would take
// hundreds of megabytes of coefficients before a pixel is shown.
TEST(JpegImage, AMultiScanFileTooShortForItsSizeIsRefused)
{
    TJPEGImage source;
    source.SetSaveProgressive(true);
    source.Assign(MakePicture(16, 16));
    std::vector<uint8_t> bytes = SaveBytes(source);
    size_t frame = 0;
    for (size_t i = 2; i + 8 < bytes.size() && frame == 0; ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC2)
            frame = i;
    ASSERT_GT(frame, 0u);
    for (size_t at : { frame + 5, frame + 7 }) {
        bytes[at] = 0x20;
        bytes[at + 1] = 0x00;
    }
    TJPEGImage image;
    TMemoryStream stream(bytes);
    ASSERT_NO_THROW(image.LoadFromStream(stream));
    TBitmap bitmap;
    EXPECT_EQ(MessageOf([&] { bitmap.Assign(image); }), jpeg_message::kTooShort);
}

TEST(JpegImage, EndlessScansAreRefused)
{
    TJPEGImage source;
    source.SetSaveProgressive(true);
    source.Assign(MakePicture(16, 16));
    const std::vector<uint8_t> good = SaveBytes(source);
    size_t lastScan = 0;
    for (size_t i = 2; i + 1 < good.size(); ++i)
        if (good[i] == 0xFF && good[i + 1] == 0xDA)
            lastScan = i;
    ASSERT_GT(lastScan, 0u);
    // The last refinement scan, repeated past the limit.
    std::vector<uint8_t> bytes(good.begin(), good.begin() + static_cast<ptrdiff_t>(lastScan));
    for (int k = 0; k < kMaxJpegScans + 10; ++k)
        bytes.insert(bytes.end(), good.begin() + static_cast<ptrdiff_t>(lastScan), good.end() - 2);
    bytes.push_back(0xFF);
    bytes.push_back(0xD9);
    TJPEGImage image;
    TMemoryStream stream(bytes);
    image.LoadFromStream(stream);
    TBitmap bitmap;
    EXPECT_EQ(MessageOf([&] { bitmap.Assign(image); }), Format(jpeg_message::kTooManyScans, kMaxJpegScans));
}

TEST(JpegImage, EmptyPicturesSaveAsZeroBytes)
{
    TJPEGImage fresh;
    EXPECT_TRUE(fresh.Empty());
    EXPECT_TRUE(SaveBytes(fresh).empty());

    TBitmap empty;
    empty.SetWidth(10);
    TJPEGImage image;
    image.Assign(empty);
    EXPECT_TRUE(SaveBytes(image).empty());
    EXPECT_TRUE(SaveBytes(image).empty());
}

TEST(JpegImage, SavingTwiceEncodesOnce)
{
    TJPEGImage image;
    int encodes = 0;
    image.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&, const std::string&) {
        encodes += stage == TProgressStage::Starting;
    };
    image.Assign(MakePicture(20, 20));
    const std::vector<uint8_t> first = SaveBytes(image);
    const std::vector<uint8_t> second = SaveBytes(image);
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, second);
    EXPECT_EQ(encodes, 1);
    // A new assignment drops the cached bytes.
    image.Assign(MakePicture(21, 20));
    EXPECT_NE(SaveBytes(image), first);
    EXPECT_EQ(encodes, 2);
}

TEST(JpegImage, CancelledOperationsLeaveNoPartialResult)
{
    const auto cancel = [](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&, const std::string&) {
        if (stage == TProgressStage::Starting)
            throw EAbort("");
    };
    TJPEGImage encoder;
    encoder.OnProgress = cancel;
    encoder.Assign(MakePicture(20, 20));
    EXPECT_TRUE(SaveBytes(encoder).empty());

    TJPEGImage decoder;
    decoder.OnProgress = cancel;
    TMemoryStream stream(EncodeBitmap(MakePicture(20, 20)));
    decoder.LoadFromStream(stream);
    TBitmap bitmap;
    EXPECT_NO_THROW(bitmap.Assign(decoder));
}

TEST(JpegImage, ClipboardGoesThroughTheBitmap)
{
    const std::vector<uint8_t> bytes = EncodeBitmap(MakePicture(9, 7));
    TJPEGImage loaded;
    TMemoryStream stream(bytes);
    loaded.LoadFromStream(stream);
    TClipboardData data;
    loaded.SaveToClipboardFormat(data);
    TBitmap fromClipboard;
    fromClipboard.LoadFromClipboardFormat(data);
    TBitmap decoded = DecodeBytes(bytes);
    ASSERT_EQ(fromClipboard.Width(), 9);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            EXPECT_EQ(fromClipboard.Canvas().Pixel(x, y), decoded.Canvas().Pixel(x, y));

    // Loading drops the compressed bytes and encodes the new picture.
    TJPEGImage target;
    TMemoryStream small(EncodeBitmap(MakePicture(3, 3)));
    target.LoadFromStream(small);
    target.LoadFromClipboardFormat(data);
    EXPECT_EQ(target.Width(), 9);
    EXPECT_EQ(SaveBytes(target), EncodeBitmap(fromClipboard));

    EXPECT_THROW(target.LoadFromClipboardFormat({ 2, {} }), EInvalidGraphic);
    EXPECT_EQ(target.Width(), 9);
}

TEST(JpegImage, SizeCannotChange)
{
    TJPEGImage image;
    for (const bool width : { true, false }) {
        try {
            width ? image.SetWidth(5) : image.SetHeight(5);
            ADD_FAILURE() << "no exception";
        } catch (const EInvalidGraphicOperation& e) {
            EXPECT_STREQ(e.what(), jpeg_message::kCannotChangeSize);
        }
    }
}

TEST(JpegImage, AssigningSharesTheCompressedData)
{
    TJPEGImage first;
    TMemoryStream stream(EncodeBitmap(MakePicture(12, 12)));
    first.LoadFromStream(stream);
    first.DecodeToBitmap();
    TJPEGImage second;
    second.Assign(first);
    EXPECT_EQ(first.DataUseCount(), 2);
    EXPECT_TRUE(second.Equals(first));
    ASSERT_NE(second.Bitmap(), nullptr);
    EXPECT_EQ(second.Bitmap()->Width(), 12);

    TJPEGImage other;
    other.Assign(MakePicture(12, 12));
    EXPECT_FALSE(other.Equals(first));
    EXPECT_EQ(first.DataUseCount(), 2);

    TBitmap fromFresh = MakePicture(3, 3);
    fromFresh.Assign(TJPEGImage());
    EXPECT_TRUE(fromFresh.Empty());
}

TEST(JpegImage, OnlyBitmapsAndJpegsAreAssigned)
{
    TJPEGImage image;
    try {
        image.Assign(test::TOtherGraphic());
        ADD_FAILURE() << "no exception";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TOtherGraphic to a TJPEGImage");
    }
    test::TOtherGraphic other;
    EXPECT_FALSE(image.AssignTo(other));
}

TEST(JpegImage, PropertyDataRoundTripsAndChecksItsCount)
{
    TJPEGImage source;
    source.Assign(MakePicture(9, 9));
    SaveBytes(source);
    TMemoryStream stored;
    source.WriteData(stored);
    stored.SetPosition(0);
    TJPEGImage copy;
    copy.ReadData(stored);
    EXPECT_TRUE(copy.Equals(source));

    TMemoryStream lying;
    lying.WriteU32LE(0x7FFFFFF0);
    lying.WriteU32LE(0);
    lying.SetPosition(0);
    EXPECT_THROW(copy.ReadData(lying), EReadError);
    EXPECT_TRUE(copy.Equals(source));
}

TEST(JpegImage, RegistrationAddsJpegThenJpgOnce)
{
    RegisterJpegImageFormats();
    RegisterJpegImageFormats();
    std::vector<std::string> found;
    for (const TFileFormat& format : TPicture::FileFormats())
        if (format.Description == "JPEG Image File")
            found.push_back(format.Extension);
    EXPECT_EQ(found, (std::vector<std::string> { "jpeg", "jpg" }));
    EXPECT_STREQ(TPicture::FindFileFormat("JPG")->Create()->ClassName(), "TJPEGImage");
}

// Cut and flipped copies of good files: each one decodes or fails with
// EJPEG; under the sanitizers this also proves nothing is read or written
// out of bounds.
TEST(JpegImage, DamagedFilesFailCleanly)
{
    std::vector<std::vector<uint8_t>> goods;
    goods.push_back(EncodeBitmap(MakePicture(37, 29)));
    TJPEGImage progressive;
    progressive.SetSaveProgressive(true);
    progressive.Assign(MakePicture(37, 29));
    goods.push_back(SaveBytes(progressive));
    int decoded = 0;
    int refused = 0;
    const auto attempt = [&](const std::vector<uint8_t>& bytes) {
        try {
            (void)DecodeBytes(bytes);
            ++decoded;
        } catch (const EJPEG&) {
            ++refused;
        }
    };
    for (const std::vector<uint8_t>& good : goods) {
        for (size_t cut = 0; cut < good.size(); cut += 7)
            attempt(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<ptrdiff_t>(cut)));
        for (size_t at = 0; at < good.size(); at += 3) {
            std::vector<uint8_t> flipped = good;
            flipped[at] ^= static_cast<uint8_t>(0x55 + at);
            attempt(flipped);
        }
    }
    EXPECT_GT(decoded, 0);
    EXPECT_GT(refused, 0);
}

// Each thread keeps its compressor from one picture to the next; whatever
// the pictures before asked for, the bytes are those of a new compressor.
TEST(JpegEncoder, ReusedCompressorGivesTheBytesOfANewOne)
{
    const TBitmap picture = MakePicture(40, 24);
    const TJpegEncodeOptions sequence[] = {
        {},
        { .Quality = 50, .Progressive = true },
        {},
        { .Gray = true },
        { .FullChroma = true },
        { .Quality = 100 },
        {},
    };
    for (size_t k = 0; k < std::size(sequence); ++k) {
        SCOPED_TRACE(k);
        const auto reused = EncodeJpeg(picture, sequence[k], {});
        std::optional<std::vector<uint8_t>> fresh;
        std::thread([&] { fresh = EncodeJpeg(picture, sequence[k], {}); }).join();
        ASSERT_TRUE(reused && fresh);
        EXPECT_EQ(*reused, *fresh);
    }
}

} // namespace
} // namespace sw
