#include "core/generate/page_markup.h"

#include "core/base/errors.h"
#include "core/base/product.h"
#include "core/base/sysutils.h"

#include <algorithm>

namespace sw::page {

namespace {

// Each track maps to the index of its merged track.
std::vector<int> MergedTracks(const std::vector<char>& anchored)
{
    std::vector<int> merged(anchored.size());
    int index = -1;
    for (size_t t = 0; t < anchored.size(); ++t) {
        if (anchored[t] || index < 0)
            ++index;
        merged[t] = index;
    }
    return merged;
}

std::vector<int> MergedSizes(const std::vector<int>& sizes, const std::vector<int>& merged, int scale)
{
    std::vector<int> out(merged.empty() ? 0 : static_cast<size_t>(merged.back()) + 1, 0);
    for (size_t t = 0; t < sizes.size(); ++t)
        out[static_cast<size_t>(merged[t])] += sizes[t] / scale;
    return out;
}

} // namespace

std::string HtmlEscaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            ++i;
            switch (byte) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += (byte < 0x20 && byte != '\t') || byte == 0x7F ? ' ' : static_cast<char>(byte);
            }
            continue;
        }
        int length = 0;
        uint32_t codePoint = 0;
        if (byte >= 0xC2 && byte <= 0xDF) {
            length = 2;
            codePoint = byte & 0x1F;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            length = 3;
            codePoint = byte & 0x0F;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            length = 4;
            codePoint = byte & 0x07;
        }
        bool valid = length > 0 && i + static_cast<size_t>(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not text.
        valid = valid && !(length == 3 && codePoint < 0x800) && !(length == 4 && codePoint < 0x10000)
            && !(codePoint >= 0xD800 && codePoint <= 0xDFFF) && codePoint <= 0x10FFFF;
        if (!valid) {
            out += "&#xFFFD;";
            ++i;
            continue;
        }
        out += Format("&#x%X;", static_cast<unsigned>(codePoint));
        i += static_cast<size_t>(length);
    }
    return out;
}

std::string ColorHex(TColor color)
{
    return "#" + HexRgb(color);
}

std::string Attribute(std::string_view name, std::string_view value)
{
    return " " + std::string(name) + "=\"" + HtmlEscaped(value) + "\"";
}

std::string LabelOf(const TPageCell& cell, bool onLink)
{
    if (cell.Alt.empty())
        return std::string();
    return (onLink ? std::string() : Attribute("role", "img")) + Attribute("aria-label", cell.Alt);
}

std::string Px(int value)
{
    return IntToStr(value) + "px";
}

namespace {

std::string WithBase(const std::string& source, const std::string& baseUrl)
{
    if (baseUrl.empty() || baseUrl.back() == '/')
        return baseUrl + source;
    return baseUrl + "/" + source;
}

// Both files by pixel density when there is a half-size one.
std::string SourceSet(const std::string& source, const std::string& half, const std::string& baseUrl)
{
    if (half.empty())
        return WithBase(source, baseUrl);
    return WithBase(half, baseUrl) + " 1x, " + WithBase(source, baseUrl) + " 2x";
}

} // namespace

std::string SourceOf(const TPageCell& cell, const std::string& baseUrl)
{
    return WithBase(cell.Source, baseUrl);
}

std::string HtmlTag(const TPageOptions& options)
{
    return "<html" + Attribute("lang", options.Lang) + (RightToLeft(options) ? " dir=\"rtl\"" : "") + ">";
}

bool RightToLeft(const TPageOptions& options)
{
    static const char* const kRightToLeft[]
        = { "ar", "arc", "dv", "fa", "he", "ku", "ps", "sd", "ug", "ur", "yi" };
    const std::string primary = LowerCaseAscii(options.Lang.substr(0, options.Lang.find('-')));
    for (const char* language : kRightToLeft)
        if (primary == language)
            return true;
    return false;
}

void TitleAndDescription(const TPageOptions& options, const TLineSink& line)
{
    line("<title>" + TitleOf(options) + "</title>");
    // Without an icon of its own a browser asks the server for one, which
    // most folders of cells answer with an error.
    line("<link rel=\"icon\" href=\"data:,\">");
    if (!options.Description.empty())
        line("<meta" + Attribute("name", "description") + Attribute("content", options.Description) + ">");
}

void WebPageHead(const TPageOptions& options, const TLineSink& line)
{
    line("<!DOCTYPE html>");
    line(HtmlTag(options));
    line("<head>");
    line("<meta charset=\"utf-8\">");
    line("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
    TitleAndDescription(options, line);
}

std::vector<std::vector<TLoading>> PlanLoading(const TPageLayout& layout, int fold)
{
    std::vector<std::vector<TLoading>> plan(layout.Rows.size());
    int64_t top = 0;
    int64_t largest = 0;
    TLoading* first = nullptr;
    for (size_t r = 0; r < layout.Rows.size(); ++r) {
        plan[r].assign(layout.Rows[r].Cells.size(), TLoading::Eager);
        for (size_t k = 0; k < layout.Rows[r].Cells.size(); ++k) {
            const TPageCell& cell = layout.Rows[r].Cells[k];
            if (cell.Fill || cell.Skip)
                continue;
            if (top >= fold) {
                plan[r][k] = TLoading::Lazy;
                continue;
            }
            const int64_t area = int64_t(cell.Width) * cell.Height;
            if (area > largest) {
                largest = area;
                first = &plan[r][k];
            }
        }
        top += r < layout.RowHeights.size() ? layout.RowHeights[r] : 0;
    }
    if (first)
        *first = TLoading::First;
    return plan;
}

std::string ImageOf(const TPageCell& cell, const TPageOptions& options, int scale, TLoading loading,
    const std::string& outerAttributes)
{
    std::string image = "<img" + Attribute("src", SourceOf(cell, options.BaseUrl));
    if (!cell.HalfSource.empty())
        image += Attribute("srcset", SourceSet(cell.Source, cell.HalfSource, options.BaseUrl));
    image += Attribute("width", IntToStr(cell.Width / scale))
        + Attribute("height", IntToStr(cell.Height / scale)) + Attribute("alt", cell.Alt);
    if (loading == TLoading::Lazy)
        image += " loading=\"lazy\" decoding=\"async\"";
    else if (loading == TLoading::First)
        image += " fetchpriority=\"high\"";
    if (cell.Sources.empty())
        return image + outerAttributes + ">";
    std::string picture = "<picture" + outerAttributes + ">";
    for (const TPageSource& source : cell.Sources)
        picture += "<source" + Attribute("type", source.Type)
            + Attribute("srcset", SourceSet(source.Source, source.HalfSource, options.BaseUrl)) + ">";
    return picture + image + "></picture>";
}

std::vector<TPageSection> PageSections(const TPageLayout& layout)
{
    // A span ties its rows into one band.
    const size_t rows = layout.Rows.size();
    std::vector<size_t> bandEnd(rows);
    for (size_t r = 0; r < rows; ++r) {
        bandEnd[r] = r + 1;
        for (const TPageCell& cell : layout.Rows[r].Cells)
            bandEnd[r] = std::max(bandEnd[r], r + size_t(cell.RowSpan));
    }
    std::vector<TPageSection> sections;
    size_t r = 0;
    while (r < rows) {
        TPageSection band { r, bandEnd[r], layout.Rows[r].Stack };
        for (size_t k = r + 1; k < band.End; ++k) {
            band.End = std::max(band.End, std::min(bandEnd[k], rows));
            band.Stack = band.Stack || layout.Rows[k].Stack;
        }
        band.End = std::min(band.End, rows);
        if (!band.Stack && !sections.empty() && !sections.back().Stack)
            sections.back().End = band.End;
        else
            sections.push_back(band);
        r = band.End;
    }
    return sections;
}

std::string Fractions(const std::vector<int>& sizes, size_t first, size_t end)
{
    std::string text;
    for (size_t k = first; k < end; ++k)
        text += (text.empty() ? "" : " ") + std::string("minmax(0,") + IntToStr(sizes[k]) + "fr)";
    return text;
}

std::string NarrowMedia(int breakpoint)
{
    return "@media (max-width:" + IntToStr(breakpoint - 1) + ".98px){";
}

std::string TitleOf(const TPageOptions& options)
{
    return HtmlEscaped(options.Title.empty() ? std::string("Generated by ") + kProductName : options.Title);
}

std::string TextDirection(std::string_view lang)
{
    static const char* const kRightToLeft[]
        = { "ar", "arc", "ckb", "dv", "fa", "he", "iw", "ps", "sd", "ug", "ur", "yi" };
    const std::string primary = LowerCaseAscii(lang.substr(0, lang.find_first_of("-_")));
    for (const char* language : kRightToLeft)
        if (primary == language)
            return "rtl";
    return "ltr";
}

int TTableTracks::ColumnSpan(const TPageCell& cell) const
{
    return ColumnOf[size_t(cell.Column + cell.ColumnSpan - 1)] - ColumnOf[size_t(cell.Column)] + 1;
}

int TTableTracks::RowSpan(size_t row, const TPageCell& cell) const
{
    return RowOf[row + size_t(cell.RowSpan) - 1] - RowOf[row] + 1;
}

std::string TTableTracks::CellOpening(size_t row, const TPageCell& cell) const
{
    std::string td = "<td";
    if (const int columns = ColumnSpan(cell); columns > 1)
        td += Attribute("colspan", IntToStr(columns));
    if (const int rows = RowSpan(row, cell); rows > 1)
        td += Attribute("rowspan", IntToStr(rows));
    return td;
}

TTableTracks TableTracks(const TPageLayout& layout)
{
    TTableTracks tracks;
    std::vector<char> columnAnchored(layout.ColumnWidths.size(), 0);
    tracks.RowAnchored.assign(layout.RowHeights.size(), 0);
    for (size_t r = 0; r < layout.Rows.size(); ++r)
        for (const TPageCell& cell : layout.Rows[r].Cells) {
            tracks.RowAnchored[r] = 1;
            columnAnchored[size_t(cell.Column)] = 1;
        }
    tracks.ColumnOf = MergedTracks(columnAnchored);
    tracks.RowOf = MergedTracks(tracks.RowAnchored);
    tracks.Widths = MergedSizes(layout.ColumnWidths, tracks.ColumnOf, layout.Scale);
    tracks.Heights = MergedSizes(layout.RowHeights, tracks.RowOf, layout.Scale);
    return tracks;
}

} // namespace sw::page
