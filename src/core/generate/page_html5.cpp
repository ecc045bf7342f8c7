#include "core/generate/page_content.h"
#include "core/generate/page_markup.h"

#include "core/base/sysutils.h"

namespace sw::page {

// Standards mode adds gaps below inline images and ignores sizes it is not
// given, so every size is stated and images are blocks.
void WriteHtml5Page(const TPageLayout& layout, const TPageOptions& options, const TLineSink& line)
{
    const int scale = layout.Scale;
    const TTableTracks tracks = TableTracks(layout);

    line("<!DOCTYPE html>");
    line("<html>");
    line("<head>");
    line("<meta charset=\"utf-8\">");
    line("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
    line("<title>" + TitleOf(options) + "</title>");
    line("<style>");
    line("table.slices{border-collapse:collapse;border-spacing:0;table-layout:fixed}");
    line("table.slices td{padding:0;border:0}");
    line("table.slices img,table.slices a{display:block;border:0}");
    line("</style>");
    line("</head>");
    line("<body>");
    line("<table class=\"slices\" style=\"width:" + Px(layout.Width / scale) + "\">");
    line("<colgroup>");
    for (const int w : tracks.Widths)
        line("<col style=\"width:" + Px(w) + "\">");
    line("</colgroup>");

    for (size_t r = 0; r < layout.Rows.size(); ++r) {
        if (!tracks.RowAnchored[r])
            continue;
        line("<tr style=\"height:" + Px(tracks.Heights[size_t(tracks.RowOf[r])]) + "\">");
        for (const TPageCell& cell : layout.Rows[r].Cells) {
            const int columnSpan = tracks.ColumnSpan(cell);
            const int rowSpan = tracks.RowSpan(r, cell);
            std::string td = "<td";
            if (columnSpan > 1)
                td += Attribute("colspan", IntToStr(columnSpan));
            if (rowSpan > 1)
                td += Attribute("rowspan", IntToStr(rowSpan));
            if (cell.Content) {
                line(ContentCell(td, cell, scale, TPageStyle::Html5));
                continue;
            }
            if (!cell.Fill && !cell.Skip) {
                std::string image = "<img" + Attribute("src", SourceOf(cell, options.BaseUrl))
                    + Attribute("width", IntToStr(cell.Width / scale))
                    + Attribute("height", IntToStr(cell.Height / scale)) + Attribute("alt", cell.Alt) + ">";
                if (!cell.Link.empty())
                    image = "<a" + Attribute("href", cell.Link) + ">" + image + "</a>";
                line(td + ">" + image + "</td>");
                continue;
            }
            // A cell without an image keeps its link as a block of its size.
            std::string inside;
            if (!cell.Link.empty())
                inside = "<a" + Attribute("href", cell.Link) + LabelOf(cell, true)
                    + Attribute("style", "height:" + Px(cell.Height / scale)) + "></a>";
            else
                td += LabelOf(cell, false);
            if (cell.Fill)
                td += Attribute("style", "background-color:" + ColorHex(*cell.Fill));
            line(td + ">" + inside + "</td>");
        }
        line("</tr>");
    }

    line("</table>");
    line("</body>");
    line("</html>");
}

} // namespace sw::page
