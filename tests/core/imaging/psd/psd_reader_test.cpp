// The PSD reader on the small files of fuzz/seeds/psd (made by
// make_seeds.py there): the design record, each colour mode's conversion,
// the messages of files it refuses, and a truncation and byte-flip sweep.

#include "core/base/errors.h"
#include "core/base/pixel_limit.h"
#include "core/imaging/picture.h"
#include "core/imaging/psd/psd_image.h"
#include "core/imaging/psd/psd_reader.h"
#include "support/damaged_copies.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace sw {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const fs::path kSeeds = fs::path(SLICEWRIGHT_SOURCE_DIR) / "fuzz/seeds/psd";

Bytes Seed(const std::string& name)
{
    const std::string bytes = test::ReadFileBytes((kSeeds / name).string());
    return Bytes(bytes.begin(), bytes.end());
}

void PutU32(Bytes& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + size_t(i)] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

uint32_t U32At(const Bytes& bytes, size_t at)
{
    return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8
        | bytes[at + 3];
}

// Where the composite starts: after the header and three sized sections.
size_t ImageDataOffset(const Bytes& bytes)
{
    size_t at = 26;
    for (int i = 0; i < 3; ++i)
        at += 4 + U32At(bytes, at);
    return at;
}

std::string CompositeError(const Bytes& bytes)
{
    try {
        TBitmap bitmap;
        ReadPsdComposite(bytes, bitmap);
    } catch (const EInvalidGraphic& e) {
        return e.what();
    }
    return "(read)";
}

uint32_t Rgb(const TBitmap& bitmap, int x, int y)
{
    const uint8_t* p = bitmap.ScanLine(y) + 3 * x;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

TEST(PsdReader, ReadsTheDesignAroundTheComposite)
{
    const TLayeredDesign design = ReadPsdDesign(Seed("rgb8_rle.psd"));
    EXPECT_EQ(design.Width, 6);
    EXPECT_EQ(design.Height, 4);
    EXPECT_TRUE(design.HasComposite);
    // Stored in 1/32 pixel: 96 is 3, -40 rounds to -1.
    const std::vector<TDesignGuide> guides = { { false, 3, 96 }, { true, -1, -40 } };
    EXPECT_EQ(design.Guides, guides);

    ASSERT_EQ(design.Slices.size(), 2u);
    const TDesignSlice& logo = design.Slices[0];
    EXPECT_EQ(logo.Origin, TDesignSlice::TOrigin::User);
    EXPECT_EQ(logo.Name, "logo");
    EXPECT_EQ(logo.Bounds, (TRect { 1, 0, 4, 2 }));
    EXPECT_EQ(logo.Url, "https://example.com/");
    EXPECT_EQ(logo.Alt, "Harbour");
    EXPECT_EQ(design.Slices[1].Origin, TDesignSlice::TOrigin::Auto);

    // Stored bottom first as Background, group end, Title, group record.
    ASSERT_EQ(design.Layers.size(), 3u);
    const TDesignLayer& background = design.Layers[0];
    const TDesignLayer& group = design.Layers[1];
    const TDesignLayer& title = design.Layers[2];
    EXPECT_EQ(background.Name, "Background");
    EXPECT_EQ(background.Bounds, (TRect { 0, 0, 6, 4 }));
    EXPECT_TRUE(background.Shown);
    EXPECT_EQ(group.Name, "Texts");
    EXPECT_TRUE(group.IsGroup);
    EXPECT_FALSE(group.Visible);
    EXPECT_EQ(group.Parent, -1);
    EXPECT_EQ(title.Name, "Title \u2713"); // the Unicode name, not the Pascal one
    EXPECT_EQ(title.Parent, 1);
    EXPECT_TRUE(title.Visible);
    EXPECT_FALSE(title.Shown); // its group is hidden
    EXPECT_TRUE(title.IsText);
    EXPECT_EQ(title.Text, "Hello\r");
    EXPECT_EQ(title.Bounds, (TRect { 2, 1, 5, 3 }));

    // The 16-bit file keeps its layer in a block after the global mask.
    const TLayeredDesign grey = ReadPsdDesign(Seed("grey16_raw.psd"));
    ASSERT_EQ(grey.Layers.size(), 1u);
    EXPECT_EQ(grey.Layers[0].Bounds, (TRect { -1, -1, 3, 2 }));
}

TEST(PsdReader, ConvertsEachColourModeToRgb)
{
    struct Case {
        const char* File;
        int X, Y;
        uint32_t Rgb;
    };
    const Case cases[] = {
        // RLE rows; the alpha channel is left out.
        { "rgb8_rle.psd", 0, 0, 0xFF0000 },
        { "rgb8_rle.psd", 5, 3, 0x000AE6 },
        // The high byte of 0x2F3F (3 x 4000 + 255).
        { "grey16_raw.psd", 3, 0, 0x2F2F2F },
        // Inverted ink: cyan, half of each ink, black.
        { "cmyk8_raw.psd", 1, 0, 0x00FFFF },
        { "cmyk8_raw.psd", 0, 1, 0x808080 },
        { "cmyk8_raw.psd", 2, 1, 0x000000 },
        // Palette entries 200 and 255: red, green and blue tables apart.
        { "indexed8_rle.psd", 2, 0, 0xC83707 },
        { "indexed8_rle.psd", 3, 0, 0xFF0007 },
        // Set bits are black, including the ninth pixel of the second row.
        { "bitmap1_raw.psd", 2, 0, 0x000000 },
        { "bitmap1_raw.psd", 3, 0, 0xFFFFFF },
        { "bitmap1_raw.psd", 8, 0, 0x000000 },
        { "bitmap1_raw.psd", 7, 1, 0x000000 },
        { "bitmap1_raw.psd", 8, 1, 0xFFFFFF },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.File) + " " + std::to_string(c.X) + "," + std::to_string(c.Y));
        TBitmap bitmap;
        ReadPsdComposite(Seed(c.File), bitmap);
        EXPECT_EQ(Rgb(bitmap, c.X, c.Y), c.Rgb);
    }
}

TEST(PsdReader, RefusesWithAClearMessage)
{
    const Bytes good = Seed("rgb8_rle.psd");
    const size_t image = ImageDataOffset(good);
    struct Case {
        const char* What;
        size_t At;
        Bytes Patch;
        std::string Message;
    };
    const Case cases[] = {
        { "signature", 0, { 'G', 'I', 'F', '8' }, "PSD image is not valid (no 8BPS signature)" },
        { "large document", 4, { 0, 2 },
            "PSD image is not supported (a PSB large document; save the design as PSD)" },
        { "32 bits", 22, { 0, 32 },
            "PSD image is not supported (32 bits per channel; 1, 8 and 16 are read)" },
        { "Lab", 24, { 0, 9 },
            "PSD image is not supported (Lab mode; bitmap, greyscale, indexed, RGB and CMYK are read)" },
        { "too large", 14, { 0, 0, 0x23, 0x28, 0, 0, 0x23, 0x28 }, PictureTooLargeMessage(9000, 9000) },
        { "zip", image, { 0, 2 },
            "PSD image is not supported (a zip-compressed composite; raw and RLE are read)" },
        { "compression", image, { 0, 7 }, "PSD image is not valid (composite compression 7)" },
        { "channels", 12, { 0, 2 }, "PSD image is not valid (2 channels are too few for its colour mode)" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        Bytes bytes = good;
        std::copy(c.Patch.begin(), c.Patch.end(), bytes.begin() + std::ptrdiff_t(c.At));
        EXPECT_EQ(CompositeError(bytes), c.Message);
    }

    // A file saved without its composite says so in its version resource.
    Bytes blank = good;
    const size_t versionData = 26 + 4 + 4 + 4 + 2 + 2 + 4; // the first resource's data
    ASSERT_EQ(U32At(blank, versionData - 12), 0x3842494Du);
    blank[versionData + 4] = 0;
    EXPECT_EQ(CompositeError(blank),
        "PSD image is not supported (saved without its composite image; save it again with Maximize "
        "Compatibility on)");
    EXPECT_FALSE(ReadPsdDesign(blank).HasComposite);

    // 8192 x 8192 passes the pixel limit, but rows of two bytes cannot
    // unpack to 8192: refused before 192 MB are allocated.
    Bytes huge(good.begin(), good.begin() + std::ptrdiff_t(image));
    PutU32(huge, 14, 8192);
    PutU32(huge, 18, 8192);
    huge.insert(huge.end(), { 0, 1 });
    for (int row = 0; row < 4 * 8192; ++row)
        huge.insert(huge.end(), { 0, 2 });
    huge.resize(huge.size() + 4 * 8192 * 2, 0x81);
    EXPECT_EQ(CompositeError(huge),
        "PSD image is not valid (an RLE row of the composite is too short for its width)");
}

TEST(PsdReader, OpensThroughThePictureLoader)
{
    RegisterPsdImageFormat();
    TPicture picture;
    picture.LoadFromFile((kSeeds / "rgb8_rle.psd").string());
    EXPECT_EQ(picture.Width(), 6);
    EXPECT_EQ(Rgb(picture.Bitmap(), 5, 3), 0x000AE6u);

    // A large document is refused with its reason, whatever its name says.
    test::TempFolder folder;
    Bytes psb = Seed("rgb8_rle.psd");
    psb[5] = 2;
    test::WriteFileBytes(folder / "design.psb", std::string(psb.begin(), psb.end()));
    try {
        picture.LoadFromFile(folder / "design.psb");
        ADD_FAILURE() << "a PSB file opened";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "PSD image is not supported (a PSB large document; save the design as PSD)");
    }
    EXPECT_EQ(picture.Width(), 6); // kept what it held
}

TEST(PsdReader, TruncatedAndFlippedFilesReadOrFailCleanly)
{
    for (const auto& entry : fs::directory_iterator(kSeeds)) {
        if (entry.path().extension() != ".psd")
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        const Bytes good = Seed(entry.path().filename().string());
        const auto readOrFail = [](const Bytes& bytes) {
            try {
                ReadPsdDesign(bytes);
            } catch (const EInvalidGraphic&) { }
            try {
                TBitmap bitmap;
                ReadPsdComposite(bytes, bitmap);
            } catch (const EInvalidGraphic&) { }
        };
        test::ForEachDamagedCopy(good, readOrFail);
    }
}

} // namespace
} // namespace sw
