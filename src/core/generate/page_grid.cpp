#include "core/generate/page_content.h"
#include "core/generate/page_markup.h"

#include "core/base/sysutils.h"

namespace sw::page {

// The tracks are fractions of the design, so each section's grid shrinks
// with a narrow window while its aspect ratio keeps the rows in step;
// minmax(0, ...) lets a track go below the width of the image it holds. A
// stacked section drops its grid on a narrow window: its cells follow one
// another at full width, each keeping its own shape.
void WriteGridPage(const TPageLayout& layout, const TPageOptions& options, const TLineSink& line)
{
    const int scale = layout.Scale;
    const std::vector<TPageSection> sections = PageSections(layout);
    const std::vector<std::vector<TLoading>> loading = PlanLoading(layout, options.Fold);

    WebPageHead(options, line);
    line("<style>");
    line(".slices{display:grid;width:" + Px(layout.Width / scale) + ";max-width:100%;grid-template-columns:"
        + Fractions(layout.ColumnWidths, 0, layout.ColumnWidths.size()) + "}");
    line(".slices>*{display:block;min-width:0;min-height:0}");
    line(".slices img{display:block;width:100%;height:100%;border:0}");
    line(".slices picture{display:block;width:100%;height:100%}");
    for (size_t s = 0; s < sections.size(); ++s) {
        int64_t height = 0;
        for (size_t r = sections[s].First; r < sections[s].End; ++r)
            height += layout.RowHeights[r];
        line(".s" + IntToStr(int64_t(s) + 1) + "{aspect-ratio:" + IntToStr(layout.Width) + "/"
            + IntToStr(height) + ";grid-template-rows:"
            + Fractions(layout.RowHeights, sections[s].First, sections[s].End) + "}");
    }
    if (options.Breakpoint > 0) {
        line(NarrowMedia(options.Breakpoint));
        line(".slices.stack{display:block;aspect-ratio:auto}");
        line(".stack>*{aspect-ratio:var(--r)}");
        line(".stack img,.stack picture{height:auto}");
        line("}");
    }
    line("</style>");
    line("</head>");
    line("<body>");
    for (size_t s = 0; s < sections.size(); ++s) {
        const TPageSection& section = sections[s];
        line("<div class=\"slices s" + IntToStr(int64_t(s) + 1) + (section.Stack ? " stack\"" : "\"")
            + (RightToLeft(options) ? " dir=\"ltr\"" : "") + ">");
        for (size_t r = section.First; r < section.End; ++r)
            for (size_t k = 0; k < layout.Rows[r].Cells.size(); ++k) {
                const TPageCell& cell = layout.Rows[r].Cells[k];
                if (cell.Content) {
                    line(ContentGridItem(r - section.First, cell));
                    continue;
                }
                const int64_t row = int64_t(r - section.First) + 1;
                const bool image = !cell.Fill && !cell.Skip;
                std::string style = "grid-area:" + IntToStr(row) + "/" + IntToStr(cell.Column + 1) + "/"
                    + IntToStr(row + cell.RowSpan) + "/" + IntToStr(cell.Column + 1 + cell.ColumnSpan);
                if (cell.Fill)
                    style += ";background-color:" + ColorHex(*cell.Fill);
                if (section.Stack && !image && cell.Width > 0 && cell.Height > 0)
                    style += ";--r:" + IntToStr(cell.Width) + "/" + IntToStr(cell.Height);
                const std::string area = Attribute("style", style);
                if (!image) {
                    // A cell without an image keeps its link as a block of its area.
                    if (cell.Link.empty())
                        line("<div" + LabelOf(cell, false) + area + "></div>");
                    else
                        line("<a" + Attribute("href", cell.Link) + LabelOf(cell, true) + area + "></a>");
                    continue;
                }
                if (cell.Link.empty())
                    line(ImageOf(cell, options, scale, loading[r][k], area));
                else
                    line("<a" + Attribute("href", cell.Link) + area + ">"
                        + ImageOf(cell, options, scale, loading[r][k], std::string()) + "</a>");
            }
        line("</div>");
    }
    line("</body>");
    line("</html>");
}

} // namespace sw::page
