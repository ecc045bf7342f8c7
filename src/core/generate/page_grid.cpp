#include "core/generate/page_content.h"
#include "core/generate/page_markup.h"

#include "core/base/sysutils.h"

namespace sw::page {

// The tracks are fractions of the design, so the grid shrinks with a narrow
// window while the aspect ratio keeps the rows in step; minmax(0, ...) lets
// a track go below the width of the image it holds.
void WriteGridPage(const TPageLayout& layout, const TPageOptions& options, const TLineSink& line)
{
    const int scale = layout.Scale;
    const auto tracks = [](const std::vector<int>& sizes) {
        std::string text;
        for (const int size : sizes)
            text += (text.empty() ? "" : " ") + std::string("minmax(0,") + IntToStr(size) + "fr)";
        return text;
    };

    line("<!DOCTYPE html>");
    line("<html>");
    line("<head>");
    line("<meta charset=\"utf-8\">");
    line("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
    line("<title>" + TitleOf(options) + "</title>");
    line("<style>");
    line(".slices{display:grid;width:" + Px(layout.Width / scale) + ";max-width:100%;aspect-ratio:"
        + IntToStr(layout.Width) + "/" + IntToStr(layout.Height) + ";grid-template-columns:"
        + tracks(layout.ColumnWidths) + ";grid-template-rows:" + tracks(layout.RowHeights) + "}");
    line(".slices>*{display:block;min-width:0;min-height:0}");
    line(".slices img{display:block;width:100%;height:100%;border:0}");
    line("</style>");
    line("</head>");
    line("<body>");
    line("<div class=\"slices\">");
    for (size_t r = 0; r < layout.Rows.size(); ++r)
        for (const TPageCell& cell : layout.Rows[r].Cells) {
            if (cell.Content) {
                line(ContentGridItem(r, cell));
                continue;
            }
            const std::string area = Attribute("style",
                "grid-area:" + IntToStr(int64_t(r) + 1) + "/" + IntToStr(cell.Column + 1) + "/"
                    + IntToStr(int64_t(r) + 1 + cell.RowSpan) + "/"
                    + IntToStr(cell.Column + 1 + cell.ColumnSpan)
                    + (cell.Fill ? ";background-color:" + ColorHex(*cell.Fill) : std::string()));
            if (cell.Fill || cell.Skip) {
                // A cell without an image keeps its link as a block of its area.
                if (cell.Link.empty())
                    line("<div" + LabelOf(cell, false) + area + "></div>");
                else
                    line("<a" + Attribute("href", cell.Link) + LabelOf(cell, true) + area + "></a>");
                continue;
            }
            const std::string image = "<img" + Attribute("src", SourceOf(cell, options.BaseUrl))
                + Attribute("width", IntToStr(cell.Width / scale))
                + Attribute("height", IntToStr(cell.Height / scale)) + Attribute("alt", cell.Alt);
            if (cell.Link.empty())
                line(image + area + ">");
            else
                line("<a" + Attribute("href", cell.Link) + area + ">" + image + "></a>");
        }
    line("</div>");
    line("</body>");
    line("</html>");
}

} // namespace sw::page
