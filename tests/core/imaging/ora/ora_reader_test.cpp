// The OpenRaster reader on the small files of fuzz/seeds/ora (made by
// make_seeds.py there): the layers of stack.xml, the flattened picture, the
// messages of files it refuses, and a truncation and byte-flip sweep.

#include "core/base/errors.h"
#include "core/imaging/ora/ora_image.h"
#include "core/imaging/ora/ora_reader.h"
#include "core/imaging/ora/ora_xml.h"
#include "core/imaging/picture.h"
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

const fs::path kSeeds = fs::path(SLICEWRIGHT_SOURCE_DIR) / "fuzz/seeds/ora";

Bytes Seed(const std::string& name)
{
    const std::string bytes = test::ReadFileBytes((kSeeds / name).string());
    return Bytes(bytes.begin(), bytes.end());
}

std::string XmlError(const std::string& text)
{
    try {
        ReadXml(text);
    } catch (const EInvalidGraphic& e) {
        return e.what();
    }
    return "(read)";
}

TEST(OraReader, ReadsTheLayersBottomFirst)
{
    const TLayeredDesign design = ReadOraDesign(Seed("layers.ora"));
    EXPECT_EQ(design.Width, 8);
    EXPECT_EQ(design.Height, 6);
    EXPECT_TRUE(design.HasComposite);
    ASSERT_EQ(design.Layers.size(), 4u);
    const TDesignLayer& background = design.Layers[0];
    const TDesignLayer& group = design.Layers[1];
    const TDesignLayer& inner = design.Layers[2];
    const TDesignLayer& top = design.Layers[3];
    EXPECT_EQ(background.Name, "Background");
    EXPECT_EQ(background.Bounds, (TRect { 0, 0, 8, 6 }));
    EXPECT_EQ(group.Name, "Group");
    EXPECT_TRUE(group.IsGroup);
    EXPECT_FALSE(group.Visible);
    EXPECT_EQ(inner.Name, "Inner & more");
    EXPECT_EQ(inner.Parent, 1);
    EXPECT_TRUE(inner.Visible);
    EXPECT_FALSE(inner.Shown);
    EXPECT_EQ(inner.Opacity, 128);
    EXPECT_EQ(inner.Bounds, (TRect { -1, 0, 1, 2 }));
    EXPECT_EQ(top.Bounds, (TRect { 2, 1, 5, 3 }));
    EXPECT_EQ(top.Parent, -1);
    EXPECT_TRUE(top.Shown);
}

TEST(OraReader, ThePictureIsTheFlattenedImageOverWhite)
{
    TBitmap bitmap;
    ReadOraComposite(Seed("layers.ora"), bitmap);
    ASSERT_EQ(bitmap.Width(), 8);
    ASSERT_EQ(bitmap.Height(), 6);
    const uint8_t* row = bitmap.ScanLine(0); // blue, green, red
    EXPECT_EQ((std::vector<uint8_t>(row, row + 9)),
        (std::vector<uint8_t> { 0, 0, 255, 255, 127, 127, 255, 255, 255 }));
}

TEST(OraReader, OpensThroughThePictureLoader)
{
    RegisterOraImageFormat();
    TPicture picture;
    picture.LoadFromFile((kSeeds / "layers.ora").string());
    EXPECT_EQ(picture.Width(), 8);
    EXPECT_EQ(picture.Height(), 6);
}

TEST(OraReader, RefusesWithAClearMessage)
{
    const auto error = [](const Bytes& bytes) {
        try {
            TBitmap bitmap;
            ReadOraComposite(bytes, bitmap);
            ReadOraDesign(bytes);
        } catch (const EInvalidGraphic& e) {
            return std::string(e.what());
        }
        return std::string("(read)");
    };
    EXPECT_EQ(error(Seed("no_merged.ora")),
        "OpenRaster image is not supported (saved without mergedimage.png, the flattened design)");
    EXPECT_FALSE(ReadOraDesign(Seed("no_merged.ora")).HasComposite);
    EXPECT_EQ(
        error(Bytes { 'P', 'K', 3, 4, 0, 0 }).rfind("OpenRaster image is not valid (not a zip archive: ", 0),
        0u);

    const struct {
        const char* Text;
        const char* Message;
    } xml[] = {
        { "<image w='1'>", "an unclosed element <image>" },
        { "<image><stack></image>", "a mismatched end tag for <stack>" },
        { "<image a=1/>", "an unquoted attribute value" },
        { "<image a='&bogus;'/>", "an unknown entity 'bogus'" },
        { "<image a='&#0;'/>", "a character reference to no character" },
        { "<image/><image/>", "text after the root element" },
        { "<!-- only a comment -->", "no root element" },
    };
    for (const auto& c : xml)
        EXPECT_EQ(
            XmlError(c.Text), std::string("OpenRaster image is not valid (stack.xml: ") + c.Message + ")");
    std::string deep;
    for (int i = 0; i < 100; ++i)
        deep += "<a>";
    EXPECT_EQ(XmlError(deep), "OpenRaster image is not valid (stack.xml: elements nested too deeply)");
    EXPECT_EQ(*ReadXml("<?xml version='1.0'?><i n='&lt;&#x263A;&#65;&quot;'>text<!-- x --><![CDATA[<]]></i>")
                   .Attribute("n"),
        "<\u263A"
        "A\"");
}

TEST(OraReader, TruncatedAndFlippedFilesReadOrFailCleanly)
{
    const auto readOrFail = [](const Bytes& bytes) {
        try {
            ReadOraDesign(bytes);
        } catch (const EInvalidGraphic&) { }
        try {
            TBitmap bitmap;
            ReadOraComposite(bytes, bitmap);
        } catch (const EInvalidGraphic&) { }
    };
    test::ForEachDamagedCopy(Seed("layers.ora"), readOrFail);
}

} // namespace
} // namespace sw
