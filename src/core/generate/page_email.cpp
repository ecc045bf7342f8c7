#include "core/generate/page_content.h"
#include "core/generate/page_markup.h"

#include "core/base/sysutils.h"

#include <algorithm>
#include <cmath>

namespace sw::page {

namespace {

// The class the phone rules below reach the design's table by.
constexpr const char* kFrameClass = "sw-mail";
// Below this height a cell needs its own line height: Outlook for Windows
// otherwise grows every cell to the height of a line of its default font.
constexpr int kOwnLineHeightBelow = 20;
// Glyphs of a sans-serif face average about this much of the font size in
// width, and lines take this much of it in height.
constexpr double kGlyphWidth = 0.55;
constexpr double kLineHeight = 1.2;
constexpr int kLargestAltFont = 16;
constexpr int kSmallestAltFont = 8;
// After the preheader, so that an inbox's preview does not run on into
// the first alt text: joiners that show nothing.
constexpr const char* kPreviewStop = "&#847;&zwnj;&nbsp;";
constexpr int kPreviewStopRepeats = 40;

// The largest font up to kLargestAltFont whose lines of alt text fit the
// cell; the smallest one that fits its height when none does.
int AltFontSize(const std::string& alt, int width, int height)
{
    const double characters = double(std::max<size_t>(alt.size(), 1));
    for (int size = kLargestAltFont; size > kSmallestAltFont; --size) {
        const int lines = int(std::floor(height / (kLineHeight * size)));
        if (lines >= 1 && characters * kGlyphWidth * size <= double(width) * lines)
            return size;
    }
    return std::clamp(int(height / kLineHeight), 1, kSmallestAltFont);
}

double Luminance(TColor color)
{
    const auto linear = [](uint8_t value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(GetRValue(color)) + 0.7152 * linear(GetGValue(color))
        + 0.0722 * linear(GetBValue(color));
}

// Black or white, whichever reads better on background.
TColor ReadableOn(TColor background)
{
    const double luminance = Luminance(background);
    const double onBlack = (luminance + 0.05) / 0.05;
    const double onWhite = 1.05 / (luminance + 0.05);
    return onBlack >= onWhite ? RGB(0, 0, 0) : RGB(255, 255, 255);
}

std::string TableStart(const std::string& attributes)
{
    return "<table role=\"presentation\"" + attributes + " cellpadding=\"0\" cellspacing=\"0\" border=\"0\"";
}

// An image cell: its colour behind the image, and alt text that stands
// in for the image in that colour's place, so that with images off the
// design keeps its blocks and its words.
std::string ImageCell(std::string td, const TPageCell& cell, const TPageOptions& options, int scale)
{
    const int width = cell.Width / scale;
    const int height = cell.Height / scale;
    std::string cellStyle;
    if (cell.Background) {
        const std::string color = ColorHex(*cell.Background);
        td += Attribute("bgcolor", color);
        cellStyle = "background-color:" + color;
    }
    if (height < kOwnLineHeightBelow)
        cellStyle += std::string(cellStyle.empty() ? "" : ";") + "line-height:" + Px(height)
            + ";mso-line-height-rule:exactly";
    if (!cellStyle.empty())
        td += Attribute("style", cellStyle);

    const TColor text = ReadableOn(cell.Background.value_or(RGB(255, 255, 255)));
    const int fontSize = AltFontSize(cell.Alt, width, height);
    std::string image = "<img" + Attribute("src", SourceOf(cell, options.BaseUrl))
        + Attribute("width", IntToStr(width)) + Attribute("height", IntToStr(height))
        + Attribute("border", "0") + Attribute("alt", cell.Alt)
        + Attribute("style",
            "display:block;border:0;text-decoration:none;font-family:Arial,Helvetica,sans-serif;"
            "font-size:"
                + Px(fontSize) + ";line-height:" + Px(int(std::ceil(fontSize * kLineHeight)))
                + ";color:" + ColorHex(text))
        + ">";
    if (!cell.Link.empty())
        image = "<a" + Attribute("href", cell.Link) + Attribute("style", "display:block") + ">" + image
            + "</a>";
    return td + ">" + image + "</td>";
}

// A cell without an image keeps its link as a block of its size.
std::string CellWithoutImage(std::string td, const TPageCell& cell, int scale)
{
    const std::string content = cell.Fill ? "&nbsp;" : "";
    std::string inside = content;
    if (!cell.Link.empty())
        inside = "<a" + Attribute("href", cell.Link) + LabelOf(cell, true)
            + Attribute("style",
                "display:block;width:" + Px(cell.Width / scale) + ";height:" + Px(cell.Height / scale))
            + ">" + content + "</a>";
    else
        td += LabelOf(cell, false);
    if (cell.Fill) {
        const std::string color = ColorHex(*cell.Fill);
        td += Attribute("bgcolor", color)
            + Attribute("style", "background-color:" + color + ";line-height:0;font-size:0");
    }
    return td + ">" + inside + "</td>";
}

void WriteHead(int width, const TPageOptions& options, const TLineSink& line)
{
    line("<head>");
    line("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">");
    line("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
    line("<meta name=\"x-apple-disable-message-reformatting\">");
    line("<meta name=\"format-detection\" content=\"telephone=no, date=no, address=no, email=no\">");
    // The design has one set of colours; clients that darken mails would
    // recolour the blocks that stand in for images.
    line("<meta name=\"color-scheme\" content=\"light\">");
    line("<meta name=\"supported-color-schemes\" content=\"light\">");
    line("<title>" + TitleOf(options) + "</title>");
    // Outlook for Windows scales images by the screen's DPI unless told 96.
    line("<!--[if mso]>");
    line("<noscript><xml><o:OfficeDocumentSettings><o:PixelsPerInch>96</o:PixelsPerInch>"
         "</o:OfficeDocumentSettings></xml></noscript>");
    line("<![endif]-->");
    // Clients without media queries keep the design's width; the others
    // let a phone narrower than the design scale it down.
    line("<style>");
    line("@media screen and (max-width:" + Px(width) + "){");
    line(std::string("table.") + kFrameClass + "{width:100%!important}");
    line(std::string("table.") + kFrameClass + " td{height:auto!important}");
    line(std::string("table.") + kFrameClass + " img{max-width:100%!important;height:auto!important}");
    line("}");
    line("</style>");
    line("</head>");
}

void WritePreheader(const std::string& preheader, const TLineSink& line)
{
    if (preheader.empty())
        return;
    std::string stop;
    for (int k = 0; k < kPreviewStopRepeats; ++k)
        stop += kPreviewStop;
    line("<div style=\"display:none;mso-hide:all\">" + HtmlEscaped(preheader) + stop + "</div>");
}

} // namespace

// Mail clients drop much of CSS and ignore sizes they are not given, so
// every size is an attribute, images are blocks and an outer table centres
// the design; the one style sheet only lets phones shrink it.
void WriteEmailPage(const TPageLayout& layout, const TPageOptions& options, const TLineSink& line)
{
    const int scale = layout.Scale;
    const int width = layout.Width / scale;
    const TTableTracks tracks = TableTracks(layout);
    const std::string lang = options.Lang.empty() ? std::string("en") : options.Lang;
    const std::string language = Attribute("lang", lang) + Attribute("dir", TextDirection(lang));

    line("<!DOCTYPE html>");
    line("<html" + language
        + " xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:v=\"urn:schemas-microsoft-com:vml\""
          " xmlns:o=\"urn:schemas-microsoft-com:office:office\">");
    WriteHead(width, options, line);
    line("<body style=\"margin:0;padding:0\">");
    line("<div role=\"article\" aria-roledescription=\"email\"" + language + " aria-label=\""
        + TitleOf(options) + "\">");
    WritePreheader(options.Preheader, line);
    line(TableStart(" width=\"100%\"") + ">");
    line("<tr>");
    line("<td align=\"center\">");
    line(TableStart(Attribute("class", kFrameClass) + Attribute("width", IntToStr(width)))
        + " style=\"border-collapse:collapse\">");

    for (size_t r = 0; r < layout.Rows.size(); ++r) {
        if (!tracks.RowAnchored[r])
            continue;
        line("<tr>");
        for (const TPageCell& cell : layout.Rows[r].Cells) {
            std::string td = tracks.CellOpening(r, cell);
            td += Attribute("width", IntToStr(cell.Width / scale))
                + Attribute("height", IntToStr(cell.Height / scale));
            if (cell.Content) {
                line(ContentCell(td, cell, scale, TPageStyle::Email));
                continue;
            }
            if (!cell.Fill && !cell.Skip)
                line(ImageCell(td, cell, options, scale));
            else
                line(CellWithoutImage(td, cell, scale));
        }
        line("</tr>");
    }

    line("</table>");
    line("</td>");
    line("</tr>");
    line("</table>");
    line("</div>");
    line("</body>");
    line("</html>");
}

} // namespace sw::page
