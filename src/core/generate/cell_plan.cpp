#include "core/generate/cell_plan.h"

#include "core/base/errors.h"
#include "core/generate/cell_pixels.h"
#include "core/imaging/bitmap.h"

namespace sw {

namespace {

void CheckScale(const TCutGrid& grid, const TGenerationSettings& settings)
{
    if (settings.Scale != 1 && settings.Scale != 2)
        throw Exception(Format("A design's scale is 1 or 2, not %d", settings.Scale));
    if (settings.AlsoHalfSize && settings.Scale != 2)
        throw Exception("Images at half size (@1x) need a design at scale 2");
    if (settings.Scale == 1)
        return;
    if (grid.Width() % 2 != 0 || grid.Height() % 2 != 0)
        throw Exception(Format("A design at scale 2 needs an even width and height; the picture is %d x %d",
            grid.Width(), grid.Height()));
    for (const auto& [lines, kind] :
        { std::pair(&grid.RowLines(), "row"), std::pair(&grid.ColumnLines(), "column") })
        for (const TGridLine& line : *lines)
            if (line.Position % 2 != 0)
                throw Exception(
                    Format("The %s line at %d is odd; a design at scale 2 needs even cut positions", kind,
                        line.Position));
}

TPlannedCell PlanCell(const TCellPlan& plan, const TGenerationSettings& settings, TCellRef ref)
{
    TPlannedCell cell;
    cell.Ref = ref;
    const auto found = settings.Cells.find(ref);
    if (found != settings.Cells.end())
        cell.Properties = found->second;
    cell.Format = settings.CellFormat;
    if (!cell.Properties.Format.empty()) {
        cell.Format = CellFormatOf(
            { { "Format", cell.Properties.Format } }, "Cell " + CellLabel(ref), settings.CellFormat);
        cell.OwnFormat = true;
    }
    cell.Format.MailSafe = settings.PageStyle == TPageStyle::Email;
    if (!settings.Cells.empty() && CoveringCell(settings.Cells, ref) != ref) {
        cell.Role = TCellRole::Covered;
        return cell;
    }
    if (plan.Grid.Row(ref.Row).Band)
        cell.BaseName = CellBaseName(settings.Cells, plan.NameTemplate, settings.ProjectName, ref);
    const std::optional<TGridRect> rect
        = plan.Grid.CellRect(ref.Row, ref.Column, cell.Properties.SpanColumns, cell.Properties.SpanRows);
    if (!rect) {
        cell.Role = TCellRole::NoPixels;
        cell.Reason = plan.Grid.EmptyReason(ref.Row, ref.Column);
        return cell;
    }
    cell.Rect = *rect;
    // A text or button cell's Fill is its background; auto leaves it to the
    // cell's dominant colour.
    if (cell.Properties.HasContent())
        cell.Role = TCellRole::Content;
    else if (cell.Properties.Skip)
        cell.Role = TCellRole::Skip;
    else if (cell.Properties.Fill != TCellFill::None)
        cell.Role = TCellRole::Fill;
    cell.FillColor = cell.Properties.FillColor;
    return cell;
}

// A Fill=auto cell is painted in its one colour, which must be there.
void ResolveAutoFill(TPlannedCell& cell, const TPixelView& picture, const std::optional<TPixelView>& rgba)
{
    const TBitmap pixels = CutOut(picture, cell.Rect.Columns, cell.Rect.Rows);
    const std::optional<TColor> color
        = FlatColor(pixels, cell.Format.KeepAlpha ? PixelsAt(rgba, cell.Rect) : std::nullopt);
    if (!color)
        throw ECellPropertyError(
            "Cell " + CellLabel(cell.Ref) + " is not one flat colour, so Fill=auto cannot paint it");
    cell.FillColor = *color;
}

} // namespace

TCellPlan PlanCells(TCutGrid grid, const TGenerationSettings& settings, const TPixelView& picture,
    const std::optional<TPixelView>& rgba)
{
    CheckScale(grid, settings);
    grid.CheckCellCount();
    TCellPlan plan;
    plan.Grid = std::move(grid);
    plan.NameTemplate = RunNameTemplate(settings, !plan.Grid.ColumnLines().empty());
    CheckCellNames(
        settings.Cells, plan.NameTemplate, settings.ProjectName, plan.Grid.Rows(), plan.Grid.Columns());
    // Cell by cell, so that of two refusals the first cell's is reported.
    plan.Cells.reserve(size_t(plan.Grid.CellCount()));
    for (int row = 1; row <= plan.Grid.Rows(); ++row)
        for (int column = 1; column <= plan.Grid.Columns(); ++column) {
            plan.Cells.push_back(PlanCell(plan, settings, { row, column }));
            TPlannedCell& cell = plan.Cells.back();
            if (cell.Role == TCellRole::Fill && cell.Properties.Fill == TCellFill::Auto)
                ResolveAutoFill(cell, picture, rgba);
        }
    return plan;
}

TPixelView Picture24(const TBitmap& picture, TBitmap& holder)
{
    holder = picture; // shares the pixels
    if (holder.PixelFormat() != TPixelFormat::pf24bit && !holder.IsDevice())
        holder = CutOut(holder, { 0, picture.Width() }, { 0, picture.Height() });
    return holder.View24();
}

} // namespace sw
