#include "desktop/editor/grid_painter.h"

#include "core/base/colors.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPainter>

#include <utility>
#include <vector>

namespace sw {

namespace {

// The selection's outline: a dark line with a light one inside, so one of
// them shows on any picture.
const QColor kSelectionDark(0x00, 0x4A, 0x9F);
const QColor kSelectionLight(0xFF, 0xFF, 0xFF);
const QColor kSelectionTint(0x00, 0x78, 0xD7, 40);

// A text cell's first line in quotes, a button's label in brackets, cut
// short so a label does not cover its neighbours.
QString ContentLabel(const TCellProperties& properties)
{
    const bool button = !properties.Button.empty();
    const std::vector<std::string> lines = CellTextLines(button ? properties.Button : properties.Text);
    QString text = QString::fromStdString(lines.front());
    if (text.size() > 32 || lines.size() > 1)
        text = text.left(32) + QStringLiteral("\u2026");
    return button ? QCoreApplication::translate("TGridPainter", "[%1]").arg(text)
                  : QCoreApplication::translate("TGridPainter", "\u201C%1\u201D").arg(text);
}

} // namespace

void TGridPainter::StrokeLine(bool vertical, int32_t position, int width, int height)
{
    // Rows keep the pen's mode: copy until the first column has been drawn.
    m_canvas.PenStyle = TPenStyle::psDot;
    if (vertical) {
        m_canvas.PenMode = TPenMode::pmXor;
        m_canvas.VerticalLine(position, 0, height);
    } else {
        m_canvas.HorizontalLine(position, 0, width);
    }
}

void TGridPainter::Paint(QPainter& painter, const QRect& area, const TZoomMapping& zoom, int width,
    int height, const TGridScene& scene)
{
    m_canvas.Begin(painter, area, zoom);
    PaintLines(scene, width, height);
    PaintMarks(painter, zoom, width, height, scene);
    m_canvas.End();
}

void TGridPainter::PaintLines(const TGridScene& scene, int width, int height)
{
    // Each list is drawn by the same steps as an added line, so the pen's
    // mode carries from one line to the next.
    for (const TEditorLine& line : *scene.Columns)
        if (line.Checked)
            PaintLine(true, line.Position, scene, width, height);
    for (const TEditorLine& line : *scene.Rows)
        if (line.Checked)
            PaintLine(false, line.Position, scene, width, height);
}

void TGridPainter::PaintLine(bool vertical, int32_t position, const TGridScene& scene, int width, int height)
{
    // A span is one area: the lines inside it stop at its edges.
    const int extent = vertical ? height : width;
    const std::vector<std::pair<int, int>> open
        = OpenStretches(*scene.Fitting, *scene.Grid, vertical, position, extent);
    if (open.size() == 1 && open.front() == std::pair(0, extent)) {
        StrokeLine(vertical, position, width, height);
        return;
    }
    // The pen as the whole line would set it.
    m_canvas.PenStyle = TPenStyle::psDot;
    if (vertical)
        m_canvas.PenMode = TPenMode::pmXor;
    for (const auto& [from, to] : open) {
        if (vertical)
            m_canvas.VerticalLine(position, from, to);
        else
            m_canvas.HorizontalLine(position, from, to);
    }
}

void TGridPainter::PaintMarks(
    QPainter& painter, const TZoomMapping& zoom, int width, int height, const TGridScene& scene)
{
    for (const int32_t x : scene.Suggestions->Columns)
        m_canvas.Mark(true, x, 0, height, TMarkStyle::Suggestion);
    for (const int32_t y : scene.Suggestions->Rows)
        m_canvas.Mark(false, y, 0, width, TMarkStyle::Suggestion);
    if (const std::optional<TGridMark>& line = scene.SelectedLine)
        m_canvas.Mark(
            line->Vertical, line->Position, 0, line->Vertical ? height : width, TMarkStyle::Selected);
    if (const std::optional<TGridMark>& guide = scene.Guide)
        m_canvas.Mark(
            guide->Vertical, guide->Position, 0, guide->Vertical ? height : width, TMarkStyle::Guide);
    if (scene.Overlay)
        PaintOverlay(painter, zoom, scene);
    if (scene.HasCellMarks) {
        if (scene.Overlay)
            PaintCellMarks(painter, zoom, scene);
        if (scene.CellsMode)
            PaintSelectedCell(painter, zoom, scene);
    }
}

void TGridPainter::PaintOverlay(QPainter& painter, const TZoomMapping& zoom, const TGridScene& scene)
{
    // The cells a run would cut: every entry counts, in list order, clipped
    // to the grid; a cell without pixels is marked as skipped.
    // A span is labelled once, over its whole area.
    const TCellPropertyMap& fitting = *scene.Fitting;
    const auto logical = [&zoom](int pixel) { return zoom.LogicalOfDevice(zoom.DeviceStart(pixel)); };
    painter.save();
    QFont font = painter.font();
    font.setPointSize(7);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    for (int r = 1; r <= scene.Grid->Rows(); ++r) {
        for (int c = 1; c <= scene.Grid->Columns(); ++c) {
            const TCellRef ref { r, c };
            if (CoveringCell(fitting, ref) != ref)
                continue;
            const auto own = fitting.find(ref);
            const TCellBounds bounds = own == fitting.end()
                ? scene.Grid->Bounds(ref)
                : scene.Grid->Bounds(ref, own->second.SpanColumns, own->second.SpanRows);
            const int width = bounds.Width();
            const int height = bounds.Height();
            QString name = own != fitting.end() && !own->second.Name.empty()
                ? QString::fromStdString(own->second.Name)
                : QStringLiteral("r%1_c%2").arg(r).arg(c);
            // A text or button cell has no file: it shows what the page will say.
            if (own != fitting.end() && own->second.HasContent())
                name = ContentLabel(own->second);
            const QString text = width > 0 && height > 0
                ? QCoreApplication::translate("TGridPainter", "%1 %2\u00D7%3")
                      .arg(name)
                      .arg(width)
                      .arg(height)
                : QCoreApplication::translate("TGridPainter", "%1 skipped").arg(name);
            const QRectF cell(QPointF(logical(bounds.Left), logical(bounds.Top)),
                QPointF(logical(bounds.Right), logical(bounds.Bottom)));
            if (cell.width() < 4 || cell.height() < 4)
                continue;
            QRectF label(cell.topLeft() + QPointF(2, 2), metrics.size(0, text) + QSizeF(4, 2));
            label = label.intersected(cell);
            painter.fillRect(label, QColor(255, 255, 224, 220));
            painter.setPen(Qt::black);
            painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral(" ") + text);
        }
    }
    painter.restore();
}

void TGridPainter::PaintCellMarks(QPainter& painter, const TZoomMapping& zoom, const TGridScene& scene)
{
    const auto logical = [&zoom](int pixel) { return zoom.LogicalOfDevice(zoom.DeviceStart(pixel)); };
    painter.save();
    for (const auto& [cell, properties] : *scene.Fitting) {
        // Content over the design's own background needs no swatch.
        if (properties.HasImage() || (properties.HasContent() && properties.Fill == TCellFill::None))
            continue;
        const TCellBounds bounds = scene.Grid->Bounds(cell, properties.SpanColumns, properties.SpanRows);
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

void TGridPainter::PaintSelectedCell(QPainter& painter, const TZoomMapping& zoom, const TGridScene& scene)
{
    const std::optional<TCellRef>& selected = scene.SelectedCell;
    if (!selected || !scene.Grid->Contains(*selected))
        return;
    TCellProperties properties;
    if (const auto it = scene.Fitting->find(*selected); it != scene.Fitting->end())
        properties = it->second;
    const TCellBounds bounds = scene.Grid->Bounds(*selected, properties.SpanColumns, properties.SpanRows);
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
