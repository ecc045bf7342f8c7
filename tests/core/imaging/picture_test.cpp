#include "core/base/errors.h"
#include "core/base/sysutils.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/picture.h"
#include "support/imaging_fixtures.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace sw {
namespace {

using test::TempFolder;
using test::WriteFileBytes;

std::string SaveBitmap(int width, int height, const std::string& fileName)
{
    TBitmap bitmap;
    bitmap.SetSize(width, height);
    bitmap.SaveToFile(fileName);
    return fileName;
}

TEST(Picture, RegistryHasTheBitmapEntryAndSearchesFromTheEnd)
{
    ASSERT_FALSE(TPicture::FileFormats().empty());
    const TFileFormat* bmp = TPicture::FindFileFormat("BMP");
    ASSERT_NE(bmp, nullptr);
    EXPECT_EQ(bmp->Extension, "bmp");
    EXPECT_EQ(bmp->Description, "Bitmaps");
    EXPECT_EQ(TPicture::FindFileFormat("png"), nullptr);

    TPicture::RegisterFileFormat("TST", "First", [] { return std::make_unique<TBitmap>(); });
    TPicture::RegisterFileFormat("tst", "Second", [] { return std::make_unique<TBitmap>(); });
    const TFileFormat* found = TPicture::FindFileFormat("Tst");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Description, "Second");
    EXPECT_EQ(TPicture::FileFormats().back().Extension, "tst");
}

TEST(Picture, LoadsByExtensionInAnyCase)
{
    TempFolder folder;
    for (const char* name : { "PICTURE.BMP", "picture.bmp" }) {
        SaveBitmap(6, 5, folder / name);
        TPicture picture;
        int changes = 0;
        picture.OnChange = [&] { ++changes; };
        picture.LoadFromFile(folder / name);
        ASSERT_NE(dynamic_cast<TBitmap*>(picture.Graphic()), nullptr) << name;
        EXPECT_EQ(picture.Width(), 6);
        EXPECT_EQ(picture.Height(), 5);
        EXPECT_EQ(changes, 1);
    }
}

TEST(Picture, UnknownExtensionsAreRefusedAndTheContentKept)
{
    TempFolder folder;
    struct Case {
        const char* name;
        const char* message;
    };
    const Case cases[] = {
        { "picture.png", "Unknown picture file extension (.png)" },
        { "picture.PnG", "Unknown picture file extension (.PnG)" },
        { "picture", "Unknown picture file extension (.)" },
        { "dir.bmp/picture", "Unknown picture file extension (.)" },
    };
    for (const Case& c : cases) {
        TPicture picture;
        picture.Bitmap().SetSize(2, 3);
        try {
            picture.LoadFromFile(folder / c.name);
            ADD_FAILURE() << c.name;
        } catch (const EInvalidGraphic& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_EQ(picture.Width(), 2) << c.name;
    }
}

TEST(Picture, AFailedLoadKeepsWhatWasHeld)
{
    TempFolder folder;
    WriteFileBytes(folder / "bad.bmp", "XY not a bitmap");
    TPicture picture;
    picture.Bitmap().SetSize(4, 4);
    EXPECT_THROW(picture.LoadFromFile(folder / "bad.bmp"), EInvalidGraphic);
    EXPECT_THROW(picture.LoadFromFile(folder / "missing.bmp"), EFOpenError);
    EXPECT_EQ(picture.Width(), 4);
}

TEST(Picture, AnEmptyFileIsRefusedAndAutoSizeWaitsForPixels)
{
    TempFolder folder;
    WriteFileBytes(folder / "empty.bmp", "");
    TImage image;
    image.SetAutoSize(true);
    EXPECT_THROW(image.Picture().LoadFromFile(folder / "empty.bmp"), EInvalidGraphic);
    EXPECT_EQ(image.Picture().Graphic(), nullptr);
    EXPECT_EQ(image.Width(), 105);
    EXPECT_EQ(image.Height(), 105);

    image.Picture().LoadFromFile(SaveBitmap(30, 20, folder / "b.bmp"));
    EXPECT_EQ(image.Width(), 30);
    EXPECT_EQ(image.Height(), 20);
}

TEST(Picture, SaveToFileWithoutGraphicDoesNothing)
{
    TempFolder folder;
    TPicture picture;
    picture.SaveToFile(folder / "none.bmp");
    EXPECT_FALSE(FileExists(folder / "none.bmp"));
    picture.Bitmap().SetSize(1, 1);
    picture.SaveToFile(folder / "one.bmp");
    EXPECT_EQ(std::filesystem::file_size(folder / "one.bmp"), 14u + 40u + 4u);
}

TEST(Image, CanvasMakesAWhiteBitmapOfTheHoldersSize)
{
    TImage image;
    EXPECT_EQ(image.Width(), 105);
    TCanvas& canvas = image.Canvas();
    EXPECT_EQ(canvas.Owner().Width(), 105);
    EXPECT_EQ(canvas.Owner().Height(), 105);
    EXPECT_EQ(canvas.Pixel(104, 104), clWhite);
    EXPECT_EQ(&image.Canvas(), &canvas);
}

TEST(Image, CanvasNeedsABitmap)
{
    TImage image;
    image.Picture().SetGraphic(std::make_unique<test::TOtherGraphic>());
    try {
        image.Canvas();
        FAIL();
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_STREQ(e.what(), "Can only modify an image if it contains a bitmap");
    }
    // Asking the container for its bitmap replaces the other kind.
    image.Picture().Bitmap();
    EXPECT_NO_THROW(image.Canvas());
}

TEST(Image, AutoSizeFollowsOnlyPicturesWithBothSides)
{
    TImage image;
    image.SetAutoSize(true);
    image.Picture().Bitmap().SetSize(10, 0);
    EXPECT_EQ(image.Width(), 105);
    image.Picture().Bitmap().SetHeight(12);
    EXPECT_EQ(image.Width(), 10);
    EXPECT_EQ(image.Height(), 12);

    TImage fixed;
    fixed.Picture().Bitmap().SetSize(10, 12);
    EXPECT_EQ(fixed.Width(), 105);
    fixed.SetAutoSize(true);
    EXPECT_EQ(fixed.Width(), 10);
}

} // namespace
} // namespace sw
