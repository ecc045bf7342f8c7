// The SVG and PDF readers on the small files of fuzz/seeds/svg and
// fuzz/seeds/pdf (made by make_seeds.py in the svg folder): the size and
// sharpness of a drawing at each scale, the page choice, the messages of
// files they refuse, and a truncation and byte-flip sweep.

#include "core/base/errors.h"
#include "core/base/pixel_limit.h"
#include "core/imaging/picture.h"
#include "core/imaging/vector/pdf_reader.h"
#include "core/imaging/vector/svg_reader.h"
#include "core/imaging/vector/vector_image.h"
#include "support/damaged_copies.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace sw {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const fs::path kSeeds = fs::path(SLICEWRIGHT_SOURCE_DIR) / "fuzz/seeds";

Bytes Seed(const std::string& name)
{
    const std::string bytes = test::ReadFileBytes((kSeeds / name).string());
    return Bytes(bytes.begin(), bytes.end());
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// Blue, green, red, as the bitmap keeps a pixel.
uint32_t Rgb(const TBitmap& bitmap, int x, int y)
{
    const uint8_t* pixel = bitmap.ScanLine(y) + x * 3;
    return uint32_t(pixel[2]) << 16 | uint32_t(pixel[1]) << 8 | pixel[0];
}

using TReader = std::function<void(const Bytes&, const TRenderOptions&, TBitmap&)>;
const TReader kSvg = [](const Bytes& bytes, const TRenderOptions& render, TBitmap& bitmap) {
    ReadSvgBitmap(bytes, render, bitmap);
};
const TReader kPdf = [](const Bytes& bytes, const TRenderOptions& render, TBitmap& bitmap) {
    ReadPdfBitmap(bytes, render, bitmap);
};

std::string Failure(const TReader& read, const Bytes& bytes, const TRenderOptions& render = {})
{
    TBitmap bitmap;
    try {
        read(bytes, render, bitmap);
    } catch (const EInvalidGraphic& e) {
        return e.what();
    }
    return "(read)";
}

// Both designs are red on their left half and blue on the right; the edge
// lands on a pixel boundary at every scale, so a sharp drawing has no blend
// on either side of it.
TEST(VectorReader, DrawsAtTheScaleSharply)
{
    struct TCase {
        const char* Name;
        TReader Read;
        const char* File;
        int Scale;
        int Width;
        int Height;
    };
    const TCase cases[] = {
        { "svg at 1x", kSvg, "svg/design.svg", 1, 200, 100 },
        { "svg at 2x", kSvg, "svg/design.svg", 2, 400, 200 },
        { "svg sized by its viewBox", kSvg, "svg/viewbox.svg", 1, 200, 100 },
        { "pdf at 1x", kPdf, "pdf/design.pdf", 1, 200, 100 },
        { "pdf at 2x", kPdf, "pdf/design.pdf", 2, 400, 200 },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBitmap bitmap;
        c.Read(Seed(c.File), { c.Scale, 1 }, bitmap);
        ASSERT_EQ(bitmap.Width(), c.Width);
        ASSERT_EQ(bitmap.Height(), c.Height);
        EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
        const int edge = c.Width / 2;
        for (const int y : { 0, c.Height / 2, c.Height - 1 }) {
            EXPECT_EQ(Rgb(bitmap, edge - 1, y), 0xFF0000u) << "y " << y;
            EXPECT_EQ(Rgb(bitmap, edge, y), 0x0000FFu) << "y " << y;
            EXPECT_EQ(Rgb(bitmap, c.Width - 1, y), 0x0000FFu) << "y " << y;
        }
    }
    // The green square of design.svg scales with the rest.
    TBitmap bitmap;
    ReadSvgBitmap(Seed("svg/design.svg"), { 2, 1 }, bitmap);
    EXPECT_EQ(Rgb(bitmap, 20, 20), 0x00FF00u);
    EXPECT_EQ(Rgb(bitmap, 59, 59), 0x00FF00u);
    EXPECT_EQ(Rgb(bitmap, 60, 60), 0xFF0000u);
}

TEST(VectorReader, PdfPagesAreChosenByNumber)
{
    const Bytes pdf = Seed("pdf/design.pdf");
    EXPECT_EQ(PdfPageCount(pdf), 2);
    TBitmap bitmap;
    ReadPdfBitmap(pdf, { 1, 2 }, bitmap);
    EXPECT_EQ(bitmap.Width(), 100);
    EXPECT_EQ(bitmap.Height(), 50);
    EXPECT_EQ(Rgb(bitmap, 50, 25), 0x00FF00u);
    EXPECT_EQ(Failure(kPdf, pdf, { 1, 3 }), "PDF document has 2 pages; there is no page 3");
}

TEST(VectorReader, RefusesBadFilesWithTheirReason)
{
    const std::string huge = PictureTooLargeMessage(100000, 100000);
    struct TCase {
        const char* Name;
        TReader Read;
        Bytes File;
        TRenderOptions Render;
        std::string Expected; // the start of the message
    };
    const TCase cases[] = {
        { "empty svg", kSvg, {}, {}, "SVG image is not valid (the file is empty)" },
        { "not xml", kSvg, Text("GIF89a"), {}, "SVG image is not valid (" },
        { "not svg", kSvg, Text("<html xmlns='http://www.w3.org/1999/xhtml'/>"), {},
            "SVG image is not valid (" },
        { "cut short", kSvg, Text("<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'><rect"), {},
            "SVG image is not valid (" },
        { "no size", kSvg, Text("<svg xmlns='http://www.w3.org/2000/svg'/>"), {},
            "SVG image is not valid (no size: the root has neither a width and height nor a viewBox)" },
        { "zero size", kSvg, Text("<svg xmlns='http://www.w3.org/2000/svg' width='0' height='10'/>"), {},
            "SVG image is not valid (no size)" },
        { "huge svg", kSvg, Text("<svg xmlns='http://www.w3.org/2000/svg' width='100000' height='100000'/>"),
            {}, huge },
        { "svg over the limit only at 2x", kSvg,
            Text("<svg xmlns='http://www.w3.org/2000/svg' width='8000' height='8000'/>"), { 2, 1 },
            PictureTooLargeMessage(16000, 16000) },
        { "svg too tall for cairo", kSvg,
            Text("<svg xmlns='http://www.w3.org/2000/svg' width='200' height='111110'/>"), {},
            "SVG image is not supported (200 x 111110 pixels; drawings stop at 32767 pixels a side)" },
        { "empty pdf", kPdf, {}, {}, "PDF document is not valid (the file is empty)" },
        { "not pdf", kPdf, Text("<svg/>"), {}, "PDF document is not valid (it does not start with %PDF-)" },
        { "header only", kPdf, Text("%PDF-1.4\n"), {}, "PDF document is not valid (" },
        { "huge pdf", kPdf,
            Text("%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
                 "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
                 "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 100000 100000] >> endobj\n"
                 "trailer << /Root 1 0 R >>\n%%EOF\n"),
            {}, huge },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Failure(c.Read, c.File, c.Render).rfind(c.Expected, 0), 0u)
            << Failure(c.Read, c.File, c.Render);
    }
}

TEST(VectorReader, ReferencesOutsideTheFileAreNotFollowed)
{
    // design.svg is red where this one would show it.
    const std::string svg = "<svg xmlns='http://www.w3.org/2000/svg' "
                            "xmlns:xlink='http://www.w3.org/1999/xlink' width='4' height='4'>"
                            "<image width='200' height='100' xlink:href='file://"
        + (kSeeds / "svg/design.svg").string() + "'/></svg>";
    TBitmap bitmap;
    ReadSvgBitmap(Text(svg), {}, bitmap);
    EXPECT_EQ(Rgb(bitmap, 1, 1), 0xFFFFFFu);
}

TEST(VectorReader, PictureLoaderDrawsAtTheGivenScale)
{
    RegisterVectorImageFormats();
    TPicture picture;
    picture.LoadFromFile((kSeeds / "svg/design.svg").string(), { 2, 1 });
    EXPECT_EQ(picture.Width(), 400);
    picture.LoadFromFile((kSeeds / "pdf/design.pdf").string(), { 1, 2 });
    EXPECT_EQ(picture.Width(), 100);
    const test::TempFolder folder;
    EXPECT_THROW(picture.Graphic()->SaveToFile(folder / "out.pdf"), EInvalidGraphicOperation);
}

TEST(VectorReader, TruncatedAndFlippedFilesReadOrFailCleanly)
{
    for (const auto& [read, file] :
        { std::pair { kSvg, "svg/design.svg" }, std::pair { kPdf, "pdf/design.pdf" } }) {
        SCOPED_TRACE(file);
        test::ForEachDamagedCopy(Seed(file), [&read](const Bytes& bytes) {
            TBitmap bitmap;
            try {
                read(bytes, {}, bitmap);
            } catch (const EInvalidGraphic&) { }
        });
    }
}

} // namespace
} // namespace sw
