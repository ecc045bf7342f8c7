// The e-mail page: what it writes for clients that block images, read it
// aloud or lack media queries, and what a run of that style refuses, warns
// of and reports.

#include "core/generate/page_markup.h"
#include "core/generate/page_writer.h"
#include "core/generate/slicing_pipeline.h"

#include "core/base/errors.h"
#include "core/imaging/bitmap.h"
#include "core/picture_formats.h"
#include "core/project/cell_properties.h"

#include "support/folder_entries.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

namespace sw {
namespace {

using test::FolderEntries;
using test::ReadFileBytes;
using test::TempFolder;

std::string EmailPage(const TPageLayout& layout, const TPageOptions& options)
{
    TempFolder folder;
    TPageWriter writer;
    TPageOptions email = options;
    email.Style = TPageStyle::Email;
    writer.WritePage(folder / "mail.html", layout, email);
    const uint64_t written = writer.BytesWritten();
    writer.Publish();
    const std::string page = ReadFileBytes(folder / "mail.html");
    EXPECT_EQ(written, page.size());
    return page;
}

TPageCell ImageCell(int column, int width, int height, std::string alt, std::optional<TColor> background)
{
    TPageCell cell;
    cell.Column = column;
    cell.Width = width;
    cell.Height = height;
    cell.Source = "c" + std::to_string(column) + ".png";
    cell.Alt = std::move(alt);
    cell.Background = background;
    return cell;
}

// One row: a dark linked banner, a light strip too thin for a line of
// the default font, and a painted cell.
TPageLayout MailLayout()
{
    TPageLayout layout;
    layout.Width = 360;
    layout.Height = 12;
    layout.ColumnWidths = { 300, 40, 20 };
    layout.RowHeights = { 12 };
    TPageRow row;
    row.Cells.push_back(ImageCell(0, 300, 12, "Spring sale", RGB(0x10, 0x20, 0x30)));
    row.Cells.back().Link = "https://example.com/";
    row.Cells.push_back(
        ImageCell(1, 40, 12, "A rather long alt text for a small cell", RGB(0xF0, 0xF0, 0xE0)));
    TPageCell fill;
    fill.Column = 2;
    fill.Width = 20;
    fill.Height = 12;
    fill.Fill = RGB(1, 2, 3);
    row.Cells.push_back(fill);
    layout.Rows.push_back(row);
    return layout;
}

std::string LineWith(const std::string& page, const std::string& text)
{
    const size_t at = page.find(text);
    if (at == std::string::npos)
        return {};
    const size_t start = page.rfind('\n', at) + 1;
    return page.substr(start, page.find('\r', at) - start);
}

TEST(EmailPage, StandsUpWithImagesOffAndForScreenReaders)
{
    TPageOptions options;
    options.Title = "News & more";
    options.Lang = "he-IL";
    options.Preheader = "Ten <new> things";
    const std::string page = EmailPage(MailLayout(), options);

    for (const char* expected : {
             "<html lang=\"he-IL\" dir=\"rtl\" xmlns=\"http://www.w3.org/1999/xhtml\" "
             "xmlns:v=\"urn:schemas-microsoft-com:vml\" xmlns:o=\"urn:schemas-microsoft-com:office:office\">",
             "<div role=\"article\" aria-roledescription=\"email\" lang=\"he-IL\" dir=\"rtl\" "
             "aria-label=\"News &amp; more\">",
             "<title>News &amp; more</title>",
             "<meta name=\"color-scheme\" content=\"light\">",
             "<meta name=\"supported-color-schemes\" content=\"light\">",
             "<o:PixelsPerInch>96</o:PixelsPerInch>",
             "<div style=\"display:none;mso-hide:all\">Ten &lt;new&gt; things&#847;",
             "@media screen and (max-width:360px){",
             "table.sw-mail img{max-width:100%!important;height:auto!important}",
             "class=\"sw-mail\" width=\"360\"",
         })
        EXPECT_NE(page.find(expected), std::string::npos) << expected << "\n" << page;

    // Every table is for layout only, so readers do not announce a grid.
    const std::regex table("<table(?![^>]*role=\"presentation\")");
    EXPECT_FALSE(std::regex_search(page, table)) << page;

    // Each image's cell carries its colour, and its alt text a colour that
    // reads on it, in a size that fits; no ancestor hides that text.
    struct Expected {
        const char* image;
        const char* background;
        const char* text;
        const char* fontSize;
    };
    for (const Expected& e : { Expected { "c0.png", "#102030", "color:#FFFFFF", "font-size:10px" },
             Expected { "c1.png", "#F0F0E0", "color:#000000", "font-size:8px" } }) {
        const std::string line = LineWith(page, e.image);
        EXPECT_NE(line.find(std::string("bgcolor=\"") + e.background + "\""), std::string::npos) << line;
        EXPECT_NE(line.find(std::string("background-color:") + e.background), std::string::npos) << line;
        EXPECT_NE(line.find(e.text), std::string::npos) << line;
        EXPECT_NE(line.find(e.fontSize), std::string::npos) << line;
        EXPECT_NE(line.find("line-height:12px;mso-line-height-rule:exactly"), std::string::npos) << line;
        EXPECT_EQ(line.find("font-size:0"), std::string::npos) << line;
    }
    EXPECT_NE(LineWith(page, "c0.png").find("<a href=\"https://example.com/\" style=\"display:block\"><img"),
        std::string::npos);
}

TEST(EmailPage, WithoutPreheaderOrBackgroundNothingStandsIn)
{
    TPageLayout layout = MailLayout();
    layout.Rows[0].Cells[0].Background.reset();
    const std::string page = EmailPage(layout, {});
    EXPECT_EQ(page.find("display:none"), std::string::npos);
    EXPECT_NE(page.find("<html lang=\"en\" dir=\"ltr\""), std::string::npos);
    const std::string line = LineWith(page, "c0.png");
    EXPECT_EQ(line.find("bgcolor"), std::string::npos) << line;
    EXPECT_NE(line.find("color:#000000"), std::string::npos) << line;
}

TEST(EmailPage, TextDirectionFollowsTheLanguage)
{
    const std::pair<const char*, const char*> cases[]
        = { { "en", "ltr" }, { "en-US", "ltr" }, { "", "ltr" }, { "he", "rtl" }, { "AR", "rtl" },
              { "fa_IR", "rtl" }, { "ckb", "rtl" }, { "ur-PK", "rtl" }, { "ku", "ltr" }, { "hr", "ltr" } };
    for (const auto& [lang, direction] : cases)
        EXPECT_EQ(page::TextDirection(lang), direction) << lang;
}

// ---- runs of the e-mail style ----

class RecordingSink : public IGenerationSink {
public:
    void LogLine(const std::string& line) override { Log.push_back(line); }
    void RowFileAdded(const std::string&) override { }
    void FileFinished(const std::string&) override { }
    void ProcessMessages() override { }
    void Beep() override { }
    void CellFileWritten(const TCellFileReport& report) override
    {
        Types.push_back(report.Type);
        ImageBytes += report.Bytes;
    }
    void RunWarning(const TRunWarning& warning) override { Warnings.push_back(warning); }
    void PageSizes(uint64_t htmlBytes, uint64_t imageBytes) override
    {
        Sizes.emplace_back(htmlBytes, imageBytes);
    }

    std::vector<std::string> Log;
    std::vector<TImageType> Types;
    uint64_t ImageBytes = 0;
    std::vector<TRunWarning> Warnings;
    std::vector<std::pair<uint64_t, uint64_t>> Sizes;
};

// Smooth colour with fine noise: WebP would be the smallest file.
TBitmap Photo(int width, int height)
{
    TBitmap bitmap;
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const int noise = (x * 7919 + y * 104729) % 13;
            row[3 * x] = uint8_t(40 + x + noise);
            row[3 * x + 1] = uint8_t(90 + y / 2 + noise);
            row[3 * x + 2] = uint8_t(160 + (x + y) / 4);
        }
    }
    return bitmap;
}

std::vector<std::string> Cuts(int step, int extent)
{
    std::vector<std::string> cuts;
    for (int at = step; at < extent; at += step)
        cuts.push_back(std::to_string(at));
    return cuts;
}

class EmailRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterPictureFormats(); }

    TGenerationSettings Settings() const
    {
        TGenerationSettings settings;
        settings.OutputFolder = m_folder.Path().string();
        settings.WriteHTML = true;
        settings.PageFileName = m_folder / "mail.html";
        settings.PageStyle = TPageStyle::Email;
        return settings;
    }

    TempFolder m_folder;
};

TEST_F(EmailRun, AutoKeepsToFormatsEveryClientShows)
{
    TBitmap picture = Photo(96, 64);
    TGenerationSettings settings = Settings();
    settings.CellFormat.Type = TImageType::Auto;
    settings.CellFormat.AutoAvif = true;
    RecordingSink sink;
    RunGeneration({ &picture, { "48" }, {}, clNone }, settings, sink);
    ASSERT_EQ(sink.Types.size(), 2u);
    for (const TImageType type : sink.Types)
        EXPECT_TRUE(IsMailSafe(type)) << ImageTypeName(type);
    // The same cells for a web page do take WebP or AVIF, so the limit is
    // what kept them out.
    TempFolder web;
    settings.PageStyle = TPageStyle::Html5;
    settings.OutputFolder = web.Path().string();
    settings.PageFileName = web / "page.html";
    RecordingSink webSink;
    RunGeneration({ &picture, { "48" }, {}, clNone }, settings, webSink);
    EXPECT_TRUE(
        std::any_of(webSink.Types.begin(), webSink.Types.end(), [](TImageType t) { return !IsMailSafe(t); }));
}

TEST_F(EmailRun, RefusesWebpAndAvifNamingTheCells)
{
    TBitmap picture = Photo(40, 20);
    struct Case {
        TImageType runFormat;
        const char* cellFormat; // R1C2's own
        const char* named;
    };
    const Case cases[] = {
        { TImageType::Webp, nullptr, "cells R1C1 (webp), R1C2 (webp)" },
        { TImageType::Png, "webp-lossless", "cell R1C2 (webp-lossless)" },
        { TImageType::Auto, "avif", "cell R1C2 (avif)" },
    };
    for (const Case& c : cases) {
        TGenerationSettings settings = Settings();
        settings.CellFormat.Type = c.runFormat;
        if (c.cellFormat)
            SetCellProperty(settings.Cells[{ 1, 2 }], { 1, 2 }, "Format", c.cellFormat);
        RecordingSink sink;
        try {
            RunGeneration({ &picture, { "20" }, {}, clNone }, settings, sink);
            ADD_FAILURE() << c.named << ": the run was not refused";
        } catch (const ECellPropertyError& e) {
            EXPECT_NE(std::string(e.what()).find(c.named), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("Outlook"), std::string::npos) << e.what();
        }
        EXPECT_TRUE(FolderEntries(m_folder.Path()).empty()) << c.named;
    }
}

TEST_F(EmailRun, WarnsOfNamelessLinksAndLongPagesAndReportsSizes)
{
    TBitmap picture = Photo(40, 20);
    TGenerationSettings settings = Settings();
    settings.CellFormat.Type = TImageType::Png;
    SetCellProperty(settings.Cells[{ 1, 1 }], { 1, 1 }, "Link", "https://example.com/");
    SetCellProperty(settings.Cells[{ 1, 2 }], { 1, 2 }, "Link", "https://example.com/b");
    SetCellProperty(settings.Cells[{ 1, 2 }], { 1, 2 }, "Alt", "Shop");
    RecordingSink sink;
    RunGeneration({ &picture, { "20" }, {}, clNone }, settings, sink);
    ASSERT_EQ(sink.Warnings.size(), 1u);
    EXPECT_EQ(sink.Warnings[0].Code, "link-without-alt");
    EXPECT_EQ(sink.Warnings[0].Cell, (TCellRef { 1, 1 }));
    EXPECT_NE(std::find(sink.Log.begin(), sink.Log.end(), "Warning: " + sink.Warnings[0].Text + "."),
        sink.Log.end());
    ASSERT_EQ(sink.Sizes.size(), 1u);
    EXPECT_EQ(sink.Sizes[0].first, ReadFileBytes(m_folder / "mail.html").size());
    EXPECT_EQ(sink.Sizes[0].second, sink.ImageBytes);

    // A page of many cells passes what Gmail shows whole.
    TempFolder large;
    settings.OutputFolder = large.Path().string();
    settings.PageFileName = large / "mail.html";
    settings.Cells.clear();
    TBitmap big = Photo(200, 200);
    RecordingSink bigSink;
    RunGeneration({ &big, Cuts(10, 200), Cuts(10, 200), clNone }, settings, bigSink);
    ASSERT_EQ(bigSink.Warnings.size(), 1u);
    EXPECT_EQ(bigSink.Warnings[0].Code, "mail-clipped");
    EXPECT_GT(bigSink.Sizes.at(0).first, kMailClipBytes);
}

TEST_F(EmailRun, WarningsAsErrorsLeaveNoFiles)
{
    TBitmap picture = Photo(40, 20);
    TGenerationSettings settings = Settings();
    settings.CellFormat.Type = TImageType::Png;
    settings.WarningsAreErrors = true;
    SetCellProperty(settings.Cells[{ 1, 2 }], { 1, 2 }, "Link", "https://example.com/");
    RecordingSink sink;
    EXPECT_THROW(RunGeneration({ &picture, { "20" }, {}, clNone }, settings, sink), Exception);
    EXPECT_TRUE(FolderEntries(m_folder.Path()).empty());
    // The picture's own warnings count too.
    settings.Cells.clear();
    TGenerationInput damaged { &picture, { "20" }, {}, clNone };
    damaged.Warnings = { "cut short" };
    EXPECT_THROW(RunGeneration(damaged, settings, sink), Exception);
    EXPECT_TRUE(FolderEntries(m_folder.Path()).empty());
    settings.WarningsAreErrors = false;
    RunGeneration({ &picture, { "20" }, {}, clNone }, settings, sink);
    EXPECT_EQ(FolderEntries(m_folder.Path()).size(), 3u);
}

} // namespace
} // namespace sw
