// The main window's Cells mode: selecting cells and editing their
// properties.

#include "desktop/editor/cell_panel.h"
#include "desktop/editor/editor_document.h"
#include "desktop/editor/main_form.h"

#include "core/base/sysutils.h"
#include "core/imaging/bitmap.h"
#include "desktop/shell/platform_services.h"

#include <QKeyEvent>
#include <QUndoStack>

#include <utility>

namespace sw {

namespace {

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
    return CellGridOf(
        m_document->Lines(true), m_document->Lines(false), pbGrid->GridWidth(), pbGrid->GridHeight());
}

std::string TMainForm::DefaultCellName(TCellRef cell) const
{
    const TCellNaming naming = CellNaming(m_document->Output, ProjectFileName);
    const std::string nameTemplate = !naming.NameTemplate.empty() ? naming.NameTemplate
        : m_document->Lines(true).empty()                         ? std::string("r{row}")
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
        || m_fitting.Cells != CellProperties())
        m_fitting = { CellProperties(), grid.Rows(), grid.Columns(),
            FittingCells(CellProperties(), grid.Rows(), grid.Columns()) };
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
    if (const auto it = CellProperties().find(*m_selectedCell); it != CellProperties().end())
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
    if (const auto it = m_document->Cells().find(*m_selectedCell); it != m_document->Cells().end())
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
        edited = WithCellProperty(CellProperties(), *m_selectedCell, property, value, CellGrid(),
            naming.NameTemplate, naming.ProjectName, pixels);
    } catch (const Exception& refusal) {
        // The last valid state stays, with the reason beside it.
        Services().MessageBeep(BeepType::Exclamation);
        ShowSelectedCell();
        pnlCell->ShowRefusal(QString::fromStdString(WithFullStop(refusal.what())));
        return;
    }
    if (edited == CellProperties())
        return;
    m_document->SetModified(true);
    TProjectState state = CurrentState();
    state.Cells = std::move(edited);
    m_document->Record(std::move(state));
    UpdateStatus();
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

} // namespace sw
