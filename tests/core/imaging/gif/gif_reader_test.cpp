#include "core/imaging/gif/gif_image.h"

#include "core/base/errors.h"
#include "core/base/pixel_limit.h"
#include "core/imaging/gif/gif_messages.h"
#include "core/imaging/gif/gif_test_support.h"
#include "core/imaging/gif/lzw_encoder.h"
#include "core/imaging/picture.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <typeinfo>
#include <vector>

namespace sw {
namespace {

using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes U16(int value)
{
    return { static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8) };
}

// count entries (a power of two): entry i is (i, 2i, 3i) mod 256.
Bytes Table(int count)
{
    Bytes table;
    for (int i = 0; i < count; ++i)
        table = table + Bytes { uint8_t(i), uint8_t(2 * i), uint8_t(3 * i) };
    return table;
}

int SizeCode(int count)
{
    int code = 0;
    while ((2 << code) < count)
        ++code;
    return code;
}

// Signature, logical screen and, when globalColors > 0, the global table.
Bytes Screen(int width, int height, int globalColors, const char* signature = "GIF89a")
{
    const uint8_t packed = globalColors > 0 ? uint8_t(0x80 | SizeCode(globalColors)) : 0;
    return Bytes(signature, signature + 6) + U16(width) + U16(height) + Bytes { packed, 0, 0 }
    + (globalColors > 0 ? Table(globalColors) : Bytes {});
}

Bytes ImageData(const Bytes& pixels, int width, int height, bool interlaced = false, int codeSize = 8)
{
    TMemoryStream stream;
    EncodeFrame(stream, codeSize, 1 << codeSize, pixels.data(), interlaced, height, width);
    return stream.Bytes();
}

// Descriptor, local table (localColors > 0) and image data.
Bytes Frame(int left, int top, int width, int height, const Bytes& pixels, int localColors = 0,
    bool interlaced = false)
{
    uint8_t packed = interlaced ? 0x40 : 0;
    if (localColors > 0)
        packed = uint8_t(packed | 0x80 | SizeCode(localColors));
    return Bytes { 0x2C } + U16(left) + U16(top) + U16(width) + U16(height) + Bytes { packed }
    + (localColors > 0 ? Table(localColors) : Bytes {}) + ImageData(pixels, width, height, interlaced);
}

Bytes GraphicControl(int transparentIndex)
{
    return { 0x21, 0xF9, 4, uint8_t(transparentIndex >= 0 ? 1 : 0), 0, 0,
        uint8_t(std::max(transparentIndex, 0)), 0 };
}

const Bytes kTrailer = { 0x3B };

struct TLoad {
    std::unique_ptr<TGIFImage> image = std::make_unique<TGIFImage>();
    Strings warnings;
    std::string error;
    int64_t position = 0;
};

TLoad Load(const Bytes& bytes, int64_t start = 0)
{
    TLoad result;
    result.image->OnWarning
        = [&warnings = result.warnings](TGIFSeverity, const std::string& m) { warnings.push_back(m); };
    TMemoryStream stream(bytes);
    stream.SetPosition(start);
    try {
        result.image->LoadFromStream(stream);
    } catch (const GIFException& e) {
        result.error = e.what();
    }
    result.position = stream.Position();
    return result;
}

TBitmap ToBitmap(const TGIFImage& image)
{
    TBitmap bitmap;
    bitmap.Assign(image);
    return bitmap;
}

TEST(GifReader, SignatureForms)
{
    const Bytes body = Frame(0, 0, 2, 1, { 1, 0 }) + kTrailer;
    const Bytes withTable = Screen(2, 1, 4);
    struct Case {
        const char* name;
        Bytes head;
        std::string error;
    };
    const Case cases[] = {
        { "upper case", Screen(2, 1, 2, "GIF89a"), "" },
        { "lower case", Screen(2, 1, 2, "gif87a"), "" },
        { "mixed case, odd version", Screen(2, 1, 2, "Gif1x!"), "" },
        { "four bytes before", Bytes { 0, 'G', 'I', 'F' } + Screen(2, 1, 2), "" },
        { "three bytes before", Bytes { 1, 2, 3 } + Screen(2, 1, 2), gif_message::kInvalidSignature },
        { "five bytes before", Bytes { 1, 2, 3, 4, 5 } + Screen(2, 1, 2), gif_message::kInvalidSignature },
        { "not a GIF", Screen(2, 1, 2, "GIX89a"), gif_message::kInvalidSignature },
        { "cut in the screen descriptor", Bytes { 'G', 'I', 'F', '8', '9', 'a', 2, 0 },
            gif_message::kPrematureEndOfData },
        { "cut in the global table", Bytes(withTable.begin(), withTable.end() - 1),
            gif_message::kPrematureEndOfData },
    };
    for (const Case& c : cases) {
        const TLoad load = Load(Bytes { 9, 9 } + c.head + (c.error.empty() ? body : Bytes {}), 2);
        EXPECT_EQ(load.error, c.error) << c.name;
        if (c.error.empty()) {
            ASSERT_EQ(load.image->Images().Count(), 1) << c.name;
            EXPECT_EQ(load.image->Images()[0].Data(), (Bytes { 1, 0 })) << c.name;
            EXPECT_TRUE(load.warnings.empty()) << c.name;
        } else {
            EXPECT_EQ(load.position, 2) << c.name << ": the stream goes back to where loading started";
        }
    }
    EXPECT_EQ(Load({}).error, gif_message::kPrematureEndOfData);
}

TEST(GifReader, InterlacedFramesDecodeEveryRowOnce)
{
    for (int height : { 1, 2, 3, 5, 8, 9, 17, 33 }) {
        Bytes pixels;
        for (int y = 0; y < height; ++y)
            pixels = pixels + Bytes(7, static_cast<uint8_t>(y));
        const TLoad load = Load(Screen(7, height, 256) + Frame(0, 0, 7, height, pixels, 0, true) + kTrailer);
        ASSERT_EQ(load.error, "") << height;
        const TGIFSubImage& frame = load.image->Images()[0];
        EXPECT_TRUE(frame.Interlaced());
        EXPECT_EQ(frame.Data(), pixels) << "height " << height;
    }
}

TEST(GifReader, TransparentFrameKeepsTableColours)
{
    // Four colours, index 2 transparent; index 5 is beyond the table.
    const Bytes pixels = { 0, 1, 2, 3, 5, 2 };
    const TLoad load = Load(Screen(3, 2, 0) + GraphicControl(2) + Frame(0, 0, 3, 2, pixels, 4) + kTrailer);
    ASSERT_EQ(load.error, "");
    TGIFSubImage& frame = load.image->Images()[0];
    EXPECT_TRUE(frame.Transparent());
    const TBitmap bitmap = ToBitmap(*load.image);
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit);
    ASSERT_EQ(bitmap.ColorTable().size(), 256u);
    EXPECT_EQ(bitmap.ColorTable()[2], (TRGBQuad { 6, 4, 2, 0 })); // blue, green, red
    EXPECT_EQ(bitmap.ColorTable()[4], TRGBQuad {});
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(bitmap.ScanLine(y)[x], pixels[size_t(y * 3 + x)]) << x << "," << y;
    // The mask marks the transparent pixels, most significant bit first.
    EXPECT_EQ(frame.TransparencyMask(), (Bytes { 0x20, 0, 0x20, 0 }));
}

TEST(GifReader, ColourTableSources)
{
    const Bytes pixels = { 0, 1, 1, 0 };
    // Local only: the frame's own colours.
    TLoad load = Load(Screen(2, 2, 0) + Frame(0, 0, 2, 2, pixels, 2) + kTrailer);
    ASSERT_EQ(load.error, "");
    EXPECT_EQ(ToBitmap(*load.image).Canvas().Pixel(1, 0), RGB(1, 2, 3));

    // No table anywhere: loads, but no bitmap can be made.
    load = Load(Screen(2, 2, 0) + Frame(0, 0, 2, 2, pixels) + kTrailer);
    ASSERT_EQ(load.error, "");
    EXPECT_EQ(load.image->Images().Count(), 1);
    TBitmap bitmap;
    bitmap.SetSize(1, 1);
    try {
        bitmap.Assign(*load.image);
        FAIL() << "assigned without a colour table";
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), gif_message::kNoColorTable);
    }
    EXPECT_EQ(bitmap.Width(), 1) << "the destination stays as it was";

    // A later frame without a table takes the first frame's.
    load = Load(Screen(2, 2, 0) + Frame(0, 0, 2, 2, pixels, 4) + Frame(0, 0, 2, 2, pixels) + kTrailer);
    ASSERT_EQ(load.error, "");
    EXPECT_EQ(load.image->ImagePalette().Count(), 4);
    EXPECT_NE(load.image->Images()[1].FrameBitmap(), nullptr);
}

TEST(GifReader, FirstFrameOnTheLogicalScreen)
{
    // Two frames and a looping extension: only the first is shown.
    const Bytes loop
        = { 0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 5, 0, 0 };
    TLoad load
        = Load(Screen(2, 1, 4) + loop + Frame(0, 0, 2, 1, { 1, 2 }) + Frame(0, 0, 2, 1, { 3, 3 }) + kTrailer);
    ASSERT_EQ(load.error, "");
    ASSERT_EQ(load.image->Images().Count(), 2);
    const auto* looping = dynamic_cast<const TGIFAppExtNSLoop*>(&load.image->Images()[0].Extensions()[0]);
    ASSERT_NE(looping, nullptr);
    EXPECT_EQ(looping->Loops(), 5);
    TBitmap bitmap = ToBitmap(*load.image);
    EXPECT_EQ(bitmap.Canvas().Pixel(0, 0), RGB(1, 2, 3));
    EXPECT_EQ(bitmap.Canvas().Pixel(1, 0), RGB(2, 4, 6));

    // A smaller frame sits at its offset; the rest is a new bitmap's white.
    load = Load(Screen(4, 3, 4) + Frame(1, 1, 2, 2, { 1, 2, 3, 1 }) + kTrailer);
    ASSERT_EQ(load.error, "");
    bitmap = ToBitmap(*load.image);
    ASSERT_EQ(bitmap.Width(), 4);
    ASSERT_EQ(bitmap.Height(), 3);
    EXPECT_EQ(bitmap.Canvas().Pixel(0, 0), clWhite);
    EXPECT_EQ(bitmap.Canvas().Pixel(1, 1), RGB(1, 2, 3));
    EXPECT_EQ(bitmap.Canvas().Pixel(2, 2), RGB(1, 2, 3));
    EXPECT_EQ(bitmap.Canvas().Pixel(1, 2), RGB(3, 6, 9));
    EXPECT_EQ(bitmap.Canvas().Pixel(3, 2), clWhite);

    // A 0 x 0 screen gives an empty bitmap even with pixels in the frame.
    load = Load(Screen(0, 0, 4) + Frame(0, 0, 2, 1, { 1, 2 }) + kTrailer);
    ASSERT_EQ(load.error, "");
    EXPECT_TRUE(ToBitmap(*load.image).Empty());

    // No frames: the destination is emptied.
    load = Load(Screen(2, 2, 4) + kTrailer);
    ASSERT_EQ(load.error, "");
    EXPECT_EQ(load.image->ImageBitmap(), nullptr);
    bitmap.SetSize(3, 3);
    bitmap.Assign(*load.image);
    EXPECT_TRUE(bitmap.Empty());
}

TEST(GifReader, Extensions)
{
    const Bytes frame = Frame(0, 0, 1, 1, { 1 }) + kTrailer;
    const Bytes text = Bytes { 0x21, 0x01, 12 } + U16(1) + U16(2) + U16(30) + U16(40)
        + Bytes { 8, 16, 1, 0, 5, 'h', 'e', 'l', 'l', 'o', 0 };
    struct Case {
        const char* name;
        Bytes extension;
        std::string error;
        const char* className; // of the frame's extension, when it loads
    };
    const Case cases[] = {
        { "comment", { 0x21, 0xFE, 3, 'a', 0, 'b', 2, 'c', 'd', 0 }, "", "TGIFCommentExtension" },
        { "plain text", text, "", "TGIFTextExtension" },
        { "graphic control", GraphicControl(-1), "", "TGIFGraphicControlExtension" },
        { "looping", { 0x21, 0xFF, 11, 'A', 'N', 'I', 'M', 'E', 'X', 'T', 'S', '1', '.', '0', 3, 1, 0, 0, 0 },
            "", "TGIFAppExtNSLoop" },
        { "unknown application",
            { 0x21, 0xFF, 11, 'X', 'M', 'P', ' ', 'D', 'a', 't', 'a', 'X', 'M', 'P', 2, 7, 7, 0 }, "",
            "TGIFUnknownAppExtension" },
        { "block size 10", { 0x21, 0xFF, 10, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 1, 7, 0 }, "",
            "TGIFUnknownAppExtension" },
        { "block size 13",
            { 0x21, 0xFF, 13, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 1, 7, 0 }, "",
            "TGIFApplicationExtension" },
        { "label 0xFD", { 0x21, 0xFD, 1, 0, 0 }, gif_message::kUnknownExtensionType, nullptr },
        { "block size 9", { 0x21, 0xFF, 9, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 0 },
            gif_message::kUnsupportedApplicationBlockSize, nullptr },
        { "application cut before its size", { 0x21, 0xFF }, gif_message::kUnknownExtensionType, nullptr },
        { "loop count too short",
            { 0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 2, 1, 0, 0 },
            gif_message::kInvalidData, nullptr },
        { "buffer size too short",
            { 0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 4, 2, 0, 0, 0, 0 },
            gif_message::kInvalidData, nullptr },
        { "comment cut short", { 0x21, 0xFE, 9, 'a' }, gif_message::kPrematureEndOfData, nullptr },
    };
    for (const Case& c : cases) {
        const bool cut = std::string(c.name).find("cut") != std::string::npos;
        const TLoad load = Load(Screen(1, 1, 2) + c.extension + (cut ? Bytes {} : frame));
        EXPECT_EQ(load.error, c.error) << c.name;
        if (c.className == nullptr)
            continue;
        ASSERT_EQ(load.image->Images().Count(), 1) << c.name;
        const TGIFSubImage& image = load.image->Images()[0];
        ASSERT_EQ(image.Extensions().Count(), 1) << c.name;
        const TGIFExtension& extension = image.Extensions()[0];
        const std::string name = typeid(extension).name();
        EXPECT_NE(name.find(c.className), std::string::npos) << c.name << ": " << name;
        EXPECT_EQ(image.Data(), (Bytes { 1 })) << c.name << ": the frame after it is found";
    }

    const TLoad comment = Load(Screen(1, 1, 2) + cases[0].extension + frame);
    EXPECT_EQ(dynamic_cast<const TGIFCommentExtension&>(comment.image->Images()[0].Extensions()[0]).Lines(),
        (Strings { "a", "cd" }));
    const TLoad plain = Load(Screen(1, 1, 2) + text + frame);
    const auto& t = dynamic_cast<const TGIFTextExtension&>(plain.image->Images()[0].Extensions()[0]);
    EXPECT_EQ((std::vector<int> { t.Left(), t.Top(), t.GridWidth(), t.GridHeight(), t.CellWidth(),
                  t.CellHeight(), t.ForegroundColorIndex(), t.BackgroundColorIndex() }),
        (std::vector<int> { 1, 2, 30, 40, 8, 16, 1, 0 }));
    EXPECT_EQ(t.Lines(), (Strings { "hello" }));
}

TEST(GifReader, DamagedFilesKeepWhatWasRead)
{
    const Bytes head = Screen(4, 2, 4);
    const Bytes data = Frame(0, 0, 4, 2, { 1, 2, 3, 1, 2, 3, 1, 2 });
    const Bytes second = Frame(0, 0, 4, 2, Bytes(8, 3));
    struct Case {
        const char* name;
        Bytes file;
        int frames;
        Strings warnings;
    };
    const Case cases[] = {
        { "no trailer", head + data, 1, {} },
        { "zero bytes between blocks", head + Bytes { 0, 0 } + data + Bytes { 0 } + second + kTrailer, 2,
            {} },
        { "unknown block after a frame", head + data + Bytes { 0x99 } + second, 1,
            { gif_message::kUnknownBlockType, gif_message::kInvalidTrailer } },
        { "junk after the trailer", head + data + kTrailer + Bytes { 7 }, 1,
            { gif_message::kInvalidTrailer } },
        { "bad introducer", head + Bytes { 0x21, 0xFE, 0, 0 }, 1,
            { gif_message::kInvalidExtensionIntroducer } },
        { "short graphic control", head + Bytes { 0x21, 0xF9, 4, 1 }, 1,
            { gif_message::kPrematureEndOfData } },
        { "zero-size frame", head + Bytes { 0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0 } + ImageData(Bytes(8, 2), 4, 2),
            1, { gif_message::kExceedsScreen } },
        { "zero-size interlaced frame on a zero-width screen",
            Screen(0, 9, 2) + Bytes { 0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 2, 1, 0x44, 0 } + kTrailer, 1,
            { gif_message::kExceedsScreen } },
    };
    for (const Case& c : cases) {
        const TLoad load = Load(c.file);
        EXPECT_EQ(load.error, "") << c.name;
        EXPECT_EQ(load.image->Images().Count(), c.frames) << c.name;
        EXPECT_EQ(load.warnings, c.warnings) << c.name;
    }
    const TLoad zero = Load(cases[6].file);
    EXPECT_EQ(zero.image->Images()[0].Width(), 4);
    EXPECT_EQ(zero.image->Images()[0].Data(), Bytes(8, 2));
}

TEST(GifReader, TruncatedImageDataKeepsThePrefill)
{
    Bytes pixels(400);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(1 + i % 3);
    for (int transparent : { -1, 3 }) {
        const Bytes head = Screen(20, 20, 4) + GraphicControl(transparent);
        const Bytes frame = Frame(0, 0, 20, 20, pixels);
        // Keep the descriptor and this many bytes of the image data.
        for (size_t keep : { size_t(0), size_t(1), size_t(2), size_t(3), size_t(40), frame.size() - 10 }) {
            const TLoad load = Load(head + Bytes(frame.begin(), frame.begin() + std::ptrdiff_t(10 + keep)));
            ASSERT_EQ(load.error, "") << keep;
            const Bytes& got = load.image->Images()[0].Data();
            const uint8_t fill = transparent < 0 ? 0 : uint8_t(transparent);
            size_t same = 0;
            while (same < got.size() && got[same] == pixels[same])
                ++same;
            // The last code may be cut short and give a wrong pixel or two.
            for (size_t i = same + 4; i < got.size(); ++i)
                ASSERT_EQ(got[i], fill) << "kept " << keep << ", pixel " << i;
            if (keep == frame.size() - 10)
                EXPECT_EQ(same, got.size());
            else
                EXPECT_LT(same, got.size()) << keep;
        }
    }
}

TEST(GifReader, RejectsWhatCannotBeHeld)
{
    struct Case {
        const char* name;
        Bytes file;
        std::string error;
    };
    const Case cases[] = {
        { "huge screen", Screen(65535, 65535, 2) + kTrailer, PictureTooLargeMessage(65535, 65535) },
        { "huge frame", Screen(1, 1, 2) + Bytes { 0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 2, 0 },
            PictureTooLargeMessage(65535, 65535) },
        { "code size 12", Screen(1, 1, 2) + Bytes { 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 12, 1, 0, 0 },
            gif_message::kInvalidData },
    };
    for (const Case& c : cases)
        EXPECT_EQ(Load(c.file).error, c.error) << c.name;

    // Frames within the limit each still add up.
    Bytes many = Screen(100, 100, 2);
    const Bytes frame = Bytes { 0x2C, 0, 0, 0, 0, 100, 0, 100, 0, 0, 2, 0 };
    for (int i = 0; i < 5; ++i)
        many = many + frame;
    TGIFImage image;
    image.SetReadLimit(40000);
    TMemoryStream stream(many);
    try {
        image.LoadFromStream(stream);
        FAIL() << "read more pixels than allowed";
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), "GIF image too large (more than 40000 pixels in its frames)");
    }
    EXPECT_EQ(image.Images().Count(), 4);

    // The screen and each frame are held to the picture limit, exactly.
    for (const auto& [width, height, accepted] :
        { std::tuple { 8192, 8192, true }, { 8193, 8192, false }, { 8192, 8193, false } }) {
        TMemoryStream screen(Screen(width, height, 2) + kTrailer);
        if (accepted)
            EXPECT_NO_THROW(image.LoadFromStream(screen));
        else
            EXPECT_THROW(image.LoadFromStream(screen), GIFException) << width << " x " << height;
    }
}

// Everything the writer makes reads back to the same frame, and writing
// the read image again gives the same bytes.
TEST(GifReader, RoundTripsTheWriter)
{
    std::mt19937 random(11);
    std::vector<TBitmap> bitmaps;
    for (auto [w, h, colours] :
        { std::tuple { 1, 1, 1 }, { 2, 2, 3 }, { 37, 5, 40 }, { 120, 90, 216 }, { 333, 17, 7 } }) {
        std::vector<TColor> pixels(size_t(w) * size_t(h));
        for (TColor& p : pixels) {
            const uint32_t level = random() % uint32_t(colours);
            p = RGB(uint8_t(51 * (level % 6)), uint8_t(51 * (level / 6 % 6)), uint8_t(51 * (level / 36 % 6)));
        }
        bitmaps.push_back(test::MakeCell(w, h, pixels, pixels[pixels.size() / 2]));
        bitmaps.push_back(test::MakeBitmap24(w, h, pixels));
    }
    for (const TGIFEncoding encoding : { TGIFEncoding::LZW, TGIFEncoding::RLE })
        for (const TBitmap& bitmap : bitmaps) {
            TGIFImage written;
            written.SetEncodingKind(encoding);
            written.Assign(bitmap);
            TMemoryStream file;
            written.SaveToStream(file);
            const TLoad load = Load(file.Bytes());
            ASSERT_EQ(load.error, "");
            EXPECT_TRUE(load.warnings.empty());
            EXPECT_EQ(load.position, static_cast<int64_t>(file.Bytes().size()));
            ASSERT_EQ(load.image->Images().Count(), 1);
            const TGIFSubImage& a = written.Images()[0];
            const TGIFSubImage& b = load.image->Images()[0];
            EXPECT_EQ(b.Data(), a.Data());
            EXPECT_EQ(b.Transparent(), a.Transparent());
            ASSERT_GE(b.ColorMap().Count(), a.ColorMap().Count());
            for (int i = 0; i < a.ColorMap().Count(); ++i)
                EXPECT_EQ(b.ColorMap()[i], a.ColorMap()[i]);
            TMemoryStream again;
            load.image->SetEncodingKind(encoding);
            load.image->SaveToStream(again);
            EXPECT_EQ(again.Bytes(), file.Bytes());
        }
}

TEST(GifReader, ExtensionsWriteWhatTheyRead)
{
    const Bytes extensions = Bytes { 0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3,
        1, 9, 0, 5, 2, 1, 2, 3, 4, 0 }
        + Bytes { 0x21, 0xFE, 2, 'h', 'i', 0 }
        + Bytes { 0x21, 0x01, 12, 0, 0, 0, 0, 8, 0, 8, 0, 8, 8, 1, 0, 1, 'x', 0 }
        + Bytes { 0x21, 0xFF, 11, 'X', 'M', 'P', ' ', 'D', 'a', 't', 'a', 'X', 'M', 'P', 2, 7, 8, 0 }
        + GraphicControl(1);
    const TLoad load = Load(Screen(1, 1, 2) + extensions + Frame(0, 0, 1, 1, { 1 }, 2) + kTrailer);
    ASSERT_EQ(load.error, "");
    const TGIFSubImage& frame = load.image->Images()[0];
    ASSERT_EQ(frame.Extensions().Count(), 5);
    EXPECT_EQ(dynamic_cast<const TGIFAppExtNSLoop&>(frame.Extensions()[0]).BufferSize(), 0x04030201u);
    EXPECT_TRUE(frame.Transparent());
    TMemoryStream written;
    for (const auto& extension : frame.Extensions())
        extension->SaveToStream(written);
    EXPECT_EQ(written.Bytes(), extensions);
}

TEST(GifReader, DitheredFramesUseTheWebCube)
{
    // Table colours that are cube colours map to themselves without error.
    const Bytes table = { 0, 0, 0, 255, 255, 255, 51, 102, 153, 204, 0, 51 };
    const Bytes file = Screen(4, 1, 0) + Bytes { 0x2C, 0, 0, 0, 0, 4, 0, 1, 0, 0x81 } + table
        + ImageData({ 0, 1, 2, 3 }, 4, 1) + kTrailer;
    TLoad load = Load(file);
    ASSERT_EQ(load.error, "");
    load.image->SetDithered(true);
    const TBitmap bitmap = ToBitmap(*load.image);
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(bitmap.ScanLine(0)[0], 0);
    EXPECT_EQ(bitmap.ScanLine(0)[1], 215);
    EXPECT_EQ(bitmap.ScanLine(0)[2], 36 * 1 + 6 * 2 + 3);
    EXPECT_EQ(bitmap.ScanLine(0)[3], 36 * 4 + 0 + 1);
}

TEST(GifReader, OpensThroughThePictureLoader)
{
    test::TempFolder folder;
    const std::string path = (folder.Path() / "picture.GIF").string();
    TMemoryStream file(Screen(2, 1, 4) + Frame(0, 0, 2, 1, { 2, 3 }) + kTrailer);
    file.SaveToFile(path);
    RegisterGifImageFormat();
    TPicture picture;
    picture.LoadFromFile(path);
    ASSERT_NE(dynamic_cast<TGIFImage*>(picture.Graphic()), nullptr);
    TBitmap bitmap;
    bitmap.Assign(*picture.Graphic());
    EXPECT_EQ(bitmap.Canvas().Pixel(1, 0), RGB(3, 6, 9));

    // A file stream is left right after what was read.
    TFileStream stream(path, FileMode::OpenRead);
    TGIFImage image;
    image.LoadFromStream(stream);
    EXPECT_EQ(stream.Position(), static_cast<int64_t>(file.Bytes().size()));

    // Not a GIF file: refused, the picture keeps what it held.
    const std::string other = (folder.Path() / "other.gif").string();
    TMemoryStream(Bytes(5000, 'x')).SaveToFile(other);
    try {
        picture.LoadFromFile(other);
        FAIL() << "read a file that is no GIF";
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), gif_message::kInvalidSignature);
    }
    EXPECT_NE(dynamic_cast<TGIFImage*>(picture.Graphic()), nullptr);
    TFileStream otherStream(other, FileMode::OpenRead);
    otherStream.SetPosition(7);
    EXPECT_THROW(image.LoadFromStream(otherStream), GIFException);
    EXPECT_EQ(otherStream.Position(), 7);
}

} // namespace
} // namespace sw
