#include "desktop/editor/design_import.h"

#include "core/picture_formats.h"
#include "desktop/editor/editor_document.h"
#include "desktop/editor/main_form.h"
#include "desktop/shell/platform_services.h"

#include <QInputDialog>
#include <QStringList>

#include <algorithm>
#include <exception>

namespace sw {

TPageQuestion AskDesignPage;

std::optional<TLayeredDesign> DesignOfPicture(const std::string& fileName)
{
    try {
        return ReadLayeredDesign(fileName);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

int DesignPageCount(const std::string& fileName)
{
    try {
        return PicturePageCount(fileName);
    } catch (const std::exception&) {
        return 1;
    }
}

std::optional<int> AskPage(QWidget* parent, int pages, int current)
{
    if (AskDesignPage)
        return AskDesignPage(pages, current);
    bool ok = false;
    const int page = QInputDialog::getInt(parent, QStringLiteral("Open PDF page"),
        QStringLiteral("The document has %1 pages. Page to open:").arg(pages), std::clamp(current, 1, pages),
        1, pages, 1, &ok);
    if (!ok)
        return std::nullopt;
    return page;
}

TDesignCuts OfferDesignCuts(const TLayeredDesign& design)
{
    const TDesignCuts cuts = DesignCutLines(design);
    if (cuts.Empty())
        return {};
    const QString from = design.Guides.empty() ? QStringLiteral("slices")
        : design.Slices.empty()                ? QStringLiteral("guides")
                                               : QStringLiteral("guides and slices");
    const QString question = QStringLiteral("The design's %1 give %2 column and %3 row lines. Add them as "
                                            "cut lines?")
                                 .arg(from)
                                 .arg(cuts.Columns.size())
                                 .arg(cuts.Rows.size());
    if (!Services().Confirm(question))
        return {};
    return cuts;
}

QString DesignTextForCell(const TLayeredDesign& design, const TRect& cell)
{
    QStringList texts;
    for (const std::string& text : TextLayersForCell(design, cell))
        texts.append(QString::fromStdString(text));
    return texts.join(QLatin1Char(' '));
}

// The main window's side: the design of the picture shown, the cell selected.
QString TMainForm::SelectedCellDesignText() const
{
    if (!m_design || !m_selectedCell)
        return {};
    TCellProperties properties;
    if (const auto it = m_document->Cells().find(*m_selectedCell); it != m_document->Cells().end())
        properties = it->second;
    const TCellBounds bounds
        = CellGrid().Bounds(*m_selectedCell, properties.SpanColumns, properties.SpanRows);
    return DesignTextForCell(*m_design, TRect { bounds.Left, bounds.Top, bounds.Right, bounds.Bottom });
}

} // namespace sw
