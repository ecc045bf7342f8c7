// The main window's Cells mode: selecting cells, editing their properties
// and drawing what they say over the picture.

#include "desktop/editor/cell_panel.h"
#include "desktop/editor/editor_document.h"
#include "desktop/editor/main_form.h"

#include "core/base/sysutils.h"
#include "core/imaging/bitmap.h"
#include "desktop/shell/platform_services.h"

#include <QKeyEvent>
#include <QPainter>
#include <QUndoStack>

#include <utility>

namespace sw {

namespace {

// The selection's outline: a dark line with a light one inside, so one of
// them shows on any picture.
const QColor kSelectionDark(0x00, 0x4A, 0x9F);
const QColor kSelectionLight(0xFF, 0xFF, 0xFF);
const QColor kSelectionTint(0x00, 0x78, 0xD7, 40);

// The [Output] NameTemplate as far as it reads, and the {project} field.
struct TCellNaming {
    std::string NameTemplate;
    std::string ProjectName;
};

TCellNaming CellNaming(const std::optional<TOutputValues>& output, const std::string& projectFileName)
{
    TGenerationSettings settings;
    if (output)
        for (const auto& [key, text] : *output)
            if (const TRunKey* row = FindRunKey(key))
                row->Apply(settings, text); // a bad value is the run's to refuse
    return { settings.NameTemplate,
        projectFileName == "*" ? std::string() : ChangeFileExt(ExtractFileName(projectFileName), "") };
}

} // namespace

TCellGrid TMainForm::CellGrid() const
{
    return TCellGrid(lvColumns->Lines(), lvRows->Lines(), pbGrid->GridWidth(), pbGrid->GridHeight());
}

std::string TMainForm::DefaultCellName(TCellRef cell) const
{
    const TCellNaming naming = CellNaming(m_document->Output, ProjectFileName);
    const std::string nameTemplate = !naming.NameTemplate.empty() ? naming.NameTemplate
        : lvColumns->topLevelItemCount() == 0                     ? std::string("r{row}")
                                                                  : std::string(kDefaultNameTemplate);
    try {
        return ExpandNameTemplate(nameTemplate, cell, naming.ProjectName);
    } catch (const ECellPropertyError&) {
        // The run names the template's fault; the field just has no hint.
        return {};
    }
}

const TCellPropertyMap& TMainForm::FittingProjectCells(const TCellGrid& grid) const
{
    if (m_fitting.Rows != grid.Rows() || m_fitting.Columns != grid.Columns()
        || m_fitting.Cells != m_projectCells)
        m_fitting = { m_projectCells, grid.Rows(), grid.Columns(),
            FittingCells(m_projectCells, grid.Rows(), grid.Columns()) };
    return m_fitting.Fitting;
}

void TMainForm::SelectCell(std::optional<TCellRef> cell)
{
    if (cell) {
        const TCellGrid grid = CellGrid();
        if (!grid.Contains(*cell))
            cell.reset();
        else
            cell = CoveringCell(FittingProjectCells(grid), *cell);
    }
    m_selectedCell = cell;
    ShowSelectedCell();
    InvalidateGrid();
}

void TMainForm::ShowSelectedCell()
{
    if (!pnlCell)
        return;
    const TCellGrid grid = CellGrid();
    if (m_selectedCell && !grid.Contains(*m_selectedCell)) {
        m_selectedCell.reset();
        InvalidateGrid();
    }
    if (!m_selectedCell) {
        pnlCell->ShowCell(std::nullopt, {}, {}, {});
        return;
    }
    TCellProperties properties;
    if (const auto it = m_projectCells.find(*m_selectedCell); it != m_projectCells.end())
        properties = it->second;
    const TCellBounds bounds = grid.Bounds(*m_selectedCell, properties.SpanColumns, properties.SpanRows);
    pnlCell->ShowCell(
        m_selectedCell, properties, DefaultCellName(*m_selectedCell), QSize(bounds.Width(), bounds.Height()));
}

std::optional<TCellPixels> TMainForm::SelectedCellPixels() const
{
    if (!m_selectedCell || !HasPicture() || !m_picture)
        return std::nullopt;
    // The picture is copied only when its rows are not 24-bit already.
    std::optional<TBitmap> converted;
    if (m_picture->PixelFormat() != TPixelFormat::pf24bit) {
        converted.emplace(*m_picture);
        converted->SetPixelFormat(TPixelFormat::pf24bit);
    }
    const TPixelView view = std::as_const(converted ? *converted : *m_picture).View24();
    TCellProperties properties;
    if (const auto it = m_projectCells.find(*m_selectedCell); it != m_projectCells.end())
        properties = it->second;
    const TCellBounds bounds
        = CellGrid().Bounds(*m_selectedCell, properties.SpanColumns, properties.SpanRows);
    if (bounds.Width() <= 0 || bounds.Height() <= 0)
        return std::nullopt;
    TCellPixels pixels { {}, bounds.Width(), bounds.Height() };
    pixels.Bgr.reserve(size_t(bounds.Width()) * size_t(bounds.Height()) * 3);
    for (int y = bounds.Top; y < bounds.Bottom; ++y) {
        const uint8_t* row = view.Row(y) + ptrdiff_t(bounds.Left) * 3;
        pixels.Bgr.insert(pixels.Bgr.end(), row, row + ptrdiff_t(bounds.Width()) * 3);
    }
    return pixels;
}

void TMainForm::EditCellProperty(const std::string& property, const std::string& value)
{
    if (!m_selectedCell)
        return;
    const TCellNaming naming = CellNaming(m_document->Output, ProjectFileName);
    // Fill=auto is checked against the pixels the run would cut.
    std::optional<TBitmap> rows;
    std::optional<TPixelView> pixels;
    if (HasPicture() && m_picture) {
        rows.emplace(*m_picture);
        if (rows->PixelFormat() != TPixelFormat::pf24bit)
            rows->SetPixelFormat(TPixelFormat::pf24bit);
        pixels = std::as_const(*rows).View24();
    }
    TCellPropertyMap edited;
    try {
        edited = WithCellProperty(m_projectCells, *m_selectedCell, property, value, CellGrid(),
            naming.NameTemplate, naming.ProjectName, pixels);
    } catch (const Exception& refusal) {
        // The last valid state stays, with the reason beside it.
        Services().MessageBeep(BeepType::Exclamation);
        ShowSelectedCell();
        pnlCell->ShowRefusal(QString::fromStdString(WithFullStop(refusal.what())));
        return;
    }
    if (edited == m_projectCells)
        return;
    m_projectCells = std::move(edited);
    m_document->SetModified(true);
    Record();
    ShowSelectedCell();
    InvalidateGrid();
}

bool TMainForm::CellKey(QKeyEvent* key)
{
    if (key->key() == Qt::Key_Escape) {
        SelectCell(std::nullopt);
        return true;
    }
    int rowStep = 0;
    int columnStep = 0;
    switch (key->key()) {
    case Qt::Key_Left:
        columnStep = -1;
        break;
    case Qt::Key_Right:
        columnStep = 1;
        break;
    case Qt::Key_Up:
        rowStep = -1;
        break;
    case Qt::Key_Down:
        rowStep = 1;
        break;
    default:
        return false;
    }
    const TCellGrid grid = CellGrid();
    const TCellRef from = m_selectedCell.value_or(TCellRef {});
    SelectCell(
        m_selectedCell ? NeighbourCell(FittingProjectCells(grid), grid, from, rowStep, columnStep) : from);
    return true;
}

void TMainForm::DrawGridLine(
    bool vertical, int32_t position, const TCellGrid& grid, const TCellPropertyMap& fitting)
{
    // A span is one area: the lines inside it stop at its edges.
    const int extent = vertical ? pbGrid->GridHeight() : pbGrid->GridWidth();
    const std::vector<std::pair<int, int>> open = OpenStretches(fitting, grid, vertical, position, extent);
    if (open.size() == 1 && open.front() == std::pair(0, extent)) {
        if (vertical)
            DrawColumn(false, false, position, 0);
        else
            DrawRow(false, false, 0, position);
        return;
    }
    // The pen as the whole line would set it.
    m_gridCanvas.PenStyle = TPenStyle::psDot;
    if (vertical)
        m_gridCanvas.PenMode = TPenMode::pmXor;
    for (const auto& [from, to] : open) {
        if (vertical)
            m_gridCanvas.VerticalLine(position, from, to);
        else
            m_gridCanvas.HorizontalLine(position, from, to);
    }
}

void TMainForm::DrawCellMarks(QPainter& painter, const TCellGrid& grid, const TCellPropertyMap& fitting)
{
    const TZoomMapping& zoom = pbGrid->Zoom();
    const auto logical = [&zoom](int pixel) { return zoom.LogicalOfDevice(zoom.DeviceStart(pixel)); };
    painter.save();
    for (const auto& [cell, properties] : fitting) {
        if (properties.HasImage())
            continue;
        const TCellBounds bounds = grid.Bounds(cell, properties.SpanColumns, properties.SpanRows);
        const QRectF area(QPointF(logical(bounds.Left), logical(bounds.Top)),
            QPointF(logical(bounds.Right), logical(bounds.Bottom)));
        if (properties.Skip) {
            // Hatched: the page leaves the cell empty.
            painter.fillRect(area, QBrush(QColor(0x60, 0x60, 0x60, 160), Qt::BDiagPattern));
            continue;
        }
        // A swatch of the fill in the bottom right corner; auto's colour is
        // only known to the run, so it shows as a split of black and white.
        const QRectF swatch = QRectF(area.bottomRight() - QPointF(16, 16), QSizeF(12, 12)).intersected(area);
        if (properties.Fill == TCellFill::Color) {
            const TColor rgb = properties.FillColor;
            painter.fillRect(swatch, QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb)));
        } else {
            painter.fillRect(swatch, Qt::white);
            painter.fillRect(
                QRectF(swatch.topLeft(), QSizeF(swatch.width() / 2, swatch.height())), Qt::black);
        }
        // Black inside white, so the swatch shows on a cell of its own colour.
        painter.setPen(QPen(Qt::black, 0));
        painter.drawRect(swatch);
        painter.setPen(QPen(Qt::white, 0));
        painter.drawRect(swatch.adjusted(-1, -1, 1, 1));
    }
    painter.restore();
}

void TMainForm::DrawSelectedCell(QPainter& painter, const TCellGrid& grid, const TCellPropertyMap& fitting)
{
    if (!m_selectedCell || !grid.Contains(*m_selectedCell))
        return;
    TCellProperties properties;
    if (const auto it = fitting.find(*m_selectedCell); it != fitting.end())
        properties = it->second;
    const TCellBounds bounds = grid.Bounds(*m_selectedCell, properties.SpanColumns, properties.SpanRows);
    const TZoomMapping& zoom = pbGrid->Zoom();
    // In device pixels, so the outline is as crisp at 800 % as at 25 %.
    const QRect device(QPoint(static_cast<int>(zoom.DeviceStart(bounds.Left)),
                           static_cast<int>(zoom.DeviceStart(bounds.Top))),
        QPoint(static_cast<int>(zoom.DeviceStart(bounds.Right)) - 1,
            static_cast<int>(zoom.DeviceStart(bounds.Bottom)) - 1));
    if (device.isEmpty())
        return;
    painter.save();
    const qreal ratio = painter.device()->devicePixelRatioF();
    painter.setWorldTransform(QTransform::fromScale(1 / ratio, 1 / ratio));
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(device, kSelectionTint);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(kSelectionDark, 0));
    painter.drawRect(device.adjusted(0, 0, -1, -1));
    painter.drawRect(device.adjusted(1, 1, -2, -2));
    if (device.width() > 4 && device.height() > 4) {
        painter.setPen(QPen(kSelectionLight, 0));
        painter.drawRect(device.adjusted(2, 2, -3, -3));
    }
    painter.restore();
}

} // namespace sw
