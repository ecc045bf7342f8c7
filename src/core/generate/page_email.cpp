#include "core/generate/page_content.h"
#include "core/generate/page_markup.h"

#include "core/base/sysutils.h"

namespace sw::page {

// Mail clients drop style sheets and ignore sizes they are not given, so
// every size is an attribute, images are blocks and an outer table centres
// the design.
void WriteEmailPage(const TPageLayout& layout, const TPageOptions& options, const TLineSink& line)
{
    const int scale = layout.Scale;
    const TTableTracks tracks = TableTracks(layout);

    line("<!DOCTYPE html>");
    line("<html>");
    line("<head>");
    line("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">");
    line("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
    line("<title>" + TitleOf(options) + "</title>");
    line("</head>");
    line("<body style=\"margin:0;padding:0\">");
    line("<table role=\"presentation\" width=\"100%\" cellpadding=\"0\" cellspacing=\"0\" border=\"0\">");
    line("<tr>");
    line("<td align=\"center\">");
    line("<table role=\"presentation\"" + Attribute("width", IntToStr(layout.Width / scale))
        + Attribute("height", IntToStr(layout.Height / scale))
        + " cellpadding=\"0\" cellspacing=\"0\" border=\"0\" style=\"border-collapse:collapse\">");

    for (size_t r = 0; r < layout.Rows.size(); ++r) {
        if (!tracks.RowAnchored[r])
            continue;
        line("<tr>");
        for (const TPageCell& cell : layout.Rows[r].Cells) {
            const int columnSpan = tracks.ColumnSpan(cell);
            const int rowSpan = tracks.RowSpan(r, cell);
            const std::string cellWidth = IntToStr(cell.Width / scale);
            const std::string cellHeight = IntToStr(cell.Height / scale);
            std::string td = "<td";
            if (columnSpan > 1)
                td += Attribute("colspan", IntToStr(columnSpan));
            if (rowSpan > 1)
                td += Attribute("rowspan", IntToStr(rowSpan));
            td += Attribute("width", cellWidth) + Attribute("height", cellHeight);
            if (cell.Content) {
                line(ContentCell(td, cell, scale, TPageStyle::Email));
                continue;
            }
            if (!cell.Fill && !cell.Skip) {
                std::string image = "<img" + Attribute("src", SourceOf(cell, options.BaseUrl))
                    + Attribute("width", cellWidth) + Attribute("height", cellHeight)
                    + Attribute("border", "0") + Attribute("alt", cell.Alt)
                    + Attribute("style", "display:block") + ">";
                if (!cell.Link.empty())
                    image = "<a" + Attribute("href", cell.Link) + Attribute("style", "display:block") + ">"
                        + image + "</a>";
                line(td + Attribute("style", "line-height:0;font-size:0") + ">" + image + "</td>");
                continue;
            }
            // A cell without an image keeps its link as a block of its size.
            const std::string content = cell.Fill ? "&nbsp;" : "";
            std::string inside = content;
            if (!cell.Link.empty())
                inside = "<a" + Attribute("href", cell.Link) + LabelOf(cell, true)
                    + Attribute("style",
                        "display:block;width:" + Px(cell.Width / scale)
                            + ";height:" + Px(cell.Height / scale))
                    + ">" + content + "</a>";
            else
                td += LabelOf(cell, false);
            if (cell.Fill) {
                const std::string color = ColorHex(*cell.Fill);
                td += Attribute("bgcolor", color)
                    + Attribute("style", "background-color:" + color + ";line-height:0;font-size:0");
            }
            line(td + ">" + inside + "</td>");
        }
        line("</tr>");
    }

    line("</table>");
    line("</td>");
    line("</tr>");
    line("</table>");
    line("</body>");
    line("</html>");
}

} // namespace sw::page
