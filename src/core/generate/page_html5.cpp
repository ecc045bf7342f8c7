#include "core/generate/page_content.h"
#include "core/generate/page_markup.h"

#include "core/base/sysutils.h"

#include <set>

namespace sw::page {

// Standards mode adds gaps below inline images and ignores sizes it is not
// given, so every size is stated and images are blocks. On a narrow window
// each table becomes a grid of the same tracks, which scales where a table
// of fixed columns cannot; a stacked section becomes blocks one under
// another.
void WriteHtml5Page(const TPageLayout& layout, const TPageOptions& options, const TLineSink& line)
{
    const int scale = layout.Scale;
    const TTableTracks tracks = TableTracks(layout);
    const std::vector<TPageSection> sections = PageSections(layout);
    const std::vector<std::vector<TLoading>> loading = PlanLoading(layout, options.Fold);

    std::set<int> columnSpans;
    std::set<int> rowSpans;
    for (size_t r = 0; r < layout.Rows.size(); ++r)
        for (const TPageCell& cell : layout.Rows[r].Cells) {
            columnSpans.insert(tracks.ColumnSpan(cell));
            rowSpans.insert(tracks.RowSpan(r, cell));
        }

    WebPageHead(options, line);
    line("<style>");
    line("table.slices{border-collapse:collapse;border-spacing:0;table-layout:fixed;width:"
        + Px(layout.Width / scale) + "}");
    line("table.slices td{padding:0;border:0}");
    line("table.slices img,table.slices a,table.slices picture{display:block;border:0}");
    if (options.Breakpoint > 0) {
        line(NarrowMedia(options.Breakpoint));
        line("table.slices{display:grid;width:100%}");
        line("table.slices colgroup{display:none}");
        line("table.slices tbody,table.slices tr{display:contents}");
        line("table.slices td{min-width:0;min-height:0;overflow:hidden}");
        for (const int span : columnSpans)
            if (span > 1)
                line("table.slices td[colspan=\"" + IntToStr(span) + "\"]{grid-column:span " + IntToStr(span)
                    + "}");
        for (const int span : rowSpans)
            if (span > 1)
                line("table.slices td[rowspan=\"" + IntToStr(span) + "\"]{grid-row:span " + IntToStr(span)
                    + "}");
        line("table.slices img{width:100%;height:100%}");
        line("table.slices a,table.slices picture{height:100%}");
        for (size_t s = 0; s < sections.size(); ++s) {
            if (sections[s].Stack || sections[s].First >= sections[s].End)
                continue;
            const size_t first = size_t(tracks.RowOf[sections[s].First]);
            const size_t end = size_t(tracks.RowOf[sections[s].End - 1]) + 1;
            int height = 0;
            for (size_t k = first; k < end; ++k)
                height += tracks.Heights[k];
            line("table.s" + IntToStr(int64_t(s) + 1)
                + "{grid-template-columns:" + Fractions(tracks.Widths, 0, tracks.Widths.size())
                + ";grid-template-rows:" + Fractions(tracks.Heights, first, end)
                + ";aspect-ratio:" + IntToStr(layout.Width / scale) + "/" + IntToStr(height) + "}");
        }
        line("table.stack,table.stack tbody,table.stack tr,table.stack td{display:block}");
        // A row's own height is written on it, for rows of cells without images.
        line("table.stack tr{height:auto!important}");
        line("table.stack td{aspect-ratio:var(--r)}");
        line("table.stack img,table.stack a,table.stack picture{height:auto}");
        line("}");
    }
    line("</style>");
    line("</head>");
    line("<body>");

    for (size_t s = 0; s < sections.size(); ++s) {
        const TPageSection& section = sections[s];
        line("<table role=\"presentation\" class=\"slices s" + IntToStr(int64_t(s) + 1)
            + (section.Stack ? " stack\"" : "\"") + (RightToLeft(options) ? " dir=\"ltr\"" : "") + ">");
        line("<colgroup>");
        for (const int w : tracks.Widths)
            line("<col style=\"width:" + Px(w) + "\">");
        line("</colgroup>");
        for (size_t r = section.First; r < section.End; ++r) {
            if (!tracks.RowAnchored[r])
                continue;
            line("<tr style=\"height:" + Px(tracks.Heights[size_t(tracks.RowOf[r])]) + "\">");
            for (size_t k = 0; k < layout.Rows[r].Cells.size(); ++k) {
                const TPageCell& cell = layout.Rows[r].Cells[k];
                std::string td = tracks.CellOpening(r, cell);
                if (cell.Content) {
                    line(ContentCell(td, cell, scale, TPageStyle::Html5));
                    continue;
                }
                if (!cell.Fill && !cell.Skip) {
                    std::string image = ImageOf(cell, options, scale, loading[r][k], std::string());
                    if (!cell.Link.empty())
                        image = "<a" + Attribute("href", cell.Link) + ">" + image + "</a>";
                    line(td + ">" + image + "</td>");
                    continue;
                }
                // A cell without an image keeps its link as a block of its
                // size; stacked, it keeps its shape.
                std::string inside;
                if (!cell.Link.empty())
                    inside = "<a" + Attribute("href", cell.Link) + LabelOf(cell, true)
                        + Attribute("style", "height:" + Px(cell.Height / scale)) + "></a>";
                else
                    td += LabelOf(cell, false);
                std::string style;
                if (cell.Fill)
                    style = "background-color:" + ColorHex(*cell.Fill);
                if (section.Stack && cell.Width > 0 && cell.Height > 0)
                    style += (style.empty() ? "" : ";") + std::string("--r:") + IntToStr(cell.Width) + "/"
                        + IntToStr(cell.Height);
                if (!style.empty())
                    td += Attribute("style", style);
                line(td + ">" + inside + "</td>");
            }
            line("</tr>");
        }
        line("</table>");
    }
    line("</body>");
    line("</html>");
}

} // namespace sw::page
