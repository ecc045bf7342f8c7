// Every registered reader through the picture loader, the way the programs
// open a design: files without pixels are refused with the one message,
// files cut short either read with a warning that names the file or are
// refused, never read silently.
#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/gif/gif_image.h"
#include "core/imaging/jpeg/jpeg_image.h"
#include "core/imaging/picture.h"
#include "core/imaging/png/png_writer.h"
#include "core/picture_formats.h"
#include "support/imaging_fixtures.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

namespace sw {
namespace {

using test::TempFolder;

TBitmap Design()
{
    return test::MakeBitmap24With(
        96, 64, [](int x, int y) { return RGB(x * 2 + y, (x * y) & 0xFF, 255 - y * 3); });
}

// A 96 x 64 run-length file: each row two runs of table colours, an end of
// line, and an end of bitmap after the last.
std::string RunLengthBmp()
{
    std::string rows;
    for (int y = 0; y < 64; ++y)
        rows += std::string { 48, char(y % 4), 48, char(3 - y % 4), 0, 0 };
    rows += std::string { 0, 1 };
    std::string table;
    for (int i = 0; i < 4; ++i)
        table += std::string { char(i * 60), char(200 - i * 40), char(i * 20), 0 };
    const auto u32 = [](uint32_t v) {
        return std::string { char(v), char(v >> 8), char(v >> 16), char(v >> 24) };
    };
    const uint32_t offset = 14 + 40 + uint32_t(table.size());
    return "BM" + u32(offset + uint32_t(rows.size())) + u32(0) + u32(offset) + u32(40) + u32(96) + u32(64)
        + std::string { 1, 0, 8, 0 } + u32(1) + u32(uint32_t(rows.size())) + u32(0) + u32(0) + u32(4) + u32(0)
        + table + rows;
}

std::string Encoded(const std::string& kind)
{
    if (kind == "rle.bmp")
        return RunLengthBmp();
    TBitmap design = Design();
    TMemoryStream stream;
    if (kind == "bmp") {
        design.SaveToStream(stream);
    } else if (kind == "gif") {
        TGIFImage gif;
        gif.Assign(design);
        gif.SaveToStream(stream);
    } else if (kind == "png") {
        const std::vector<uint8_t> bytes = WritePng(design.View24());
        stream.WriteBuffer(bytes.data(), bytes.size());
    } else {
        TJPEGImage jpeg;
        jpeg.SetSaveProgressive(kind == "progressive.jpg");
        jpeg.Assign(design);
        jpeg.SaveToStream(stream);
    }
    const std::vector<uint8_t>& bytes = stream.Bytes();
    return std::string(bytes.begin(), bytes.end());
}

struct TLoaded {
    std::string Error;
    std::vector<std::string> Warnings;
    int Width = 0;
};

TLoaded Load(const std::string& fileName)
{
    TLoaded loaded;
    try {
        TPicture picture;
        picture.LoadFromFile(fileName);
        TBitmap bitmap;
        bitmap.Assign(*picture.Graphic());
        loaded.Warnings = picture.Warnings();
        loaded.Width = bitmap.Width();
    } catch (const Exception& e) {
        loaded.Error = e.what();
    }
    return loaded;
}

TEST(PictureFormats, PicturesWithoutPixelsAreRefusedByEveryReader)
{
    RegisterPictureFormats();
    TempFolder folder;
    // A screen of 40 x 30 with a global table and no image, then the trailer.
    const std::string screenOnly = std::string("GIF89a\x28\x00\x1E\x00\x80\x00\x00", 13)
        + std::string("\x00\x00\x00\xFF\xFF\xFF", 6) + ";";
    const std::pair<const char*, std::string> cases[] = {
        { "empty.bmp", "" },
        { "empty.gif", "" },
        { "empty.jpg", "" },
        { "empty.png", "" },
        { "screen-only.gif", screenOnly },
    };
    for (const auto& [name, bytes] : cases) {
        test::WriteFileBytes(folder / name, bytes);
        EXPECT_EQ(Load(folder / name).Error, Format(kNoPixelsMessage, (folder / name).c_str())) << name;
    }
}

TEST(PictureFormats, CutShortFilesAreReadWithAWarningOrRefused)
{
    RegisterPictureFormats();
    TempFolder folder;
    struct TCase {
        const char* Name;
        bool Readable; // decoded as far as it goes, as browsers do
    };
    const TCase cases[] = {
        { "gif", true },
        { "jpg", true },
        { "progressive.jpg", true },
        { "rle.bmp", true },
        { "bmp", false },
        { "png", false },
    };
    for (const TCase& c : cases) {
        const std::string whole = Encoded(c.Name);
        const std::string wholeName = folder / (std::string("whole.") + c.Name);
        test::WriteFileBytes(wholeName, whole);
        const TLoaded read = Load(wholeName);
        EXPECT_EQ(read.Error, "") << c.Name;
        EXPECT_TRUE(read.Warnings.empty()) << c.Name << ": " << read.Warnings.front();

        const std::string halfName = folder / (std::string("half.") + c.Name);
        test::WriteFileBytes(halfName, whole.substr(0, whole.size() / 2));
        const TLoaded half = Load(halfName);
        if (!c.Readable) {
            EXPECT_NE(half.Error, "") << c.Name;
            continue;
        }
        EXPECT_EQ(half.Error, "") << c.Name;
        EXPECT_EQ(half.Width, 96) << c.Name;
        ASSERT_EQ(half.Warnings.size(), 1u) << c.Name;
        EXPECT_EQ(half.Warnings[0].rfind(halfName + ": cut short", 0), 0u) << half.Warnings[0];
    }
}

} // namespace
} // namespace sw
