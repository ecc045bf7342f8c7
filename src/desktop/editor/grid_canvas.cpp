#include "desktop/editor/grid_canvas.h"

#include <QPolygon>

#include <algorithm>

namespace sw {

namespace {

// Exclusive or with the top bit of every channel moves each channel by
// exactly 128, so the dots stand out on any colour (a plain inversion would
// vanish on mid grey), and the same dots drawn twice give the picture back.
const QColor kXorColor(0x80, 0x80, 0x80);

} // namespace

void TGridCanvas::Begin(QPainter& painter, const QRect& area)
{
    m_painter = &painter;
    m_area = area;
}

void TGridCanvas::End()
{
    m_painter = nullptr;
}

void TGridCanvas::VerticalLine(int x, int top, int bottom)
{
    Plot(true, x, top, bottom);
}

void TGridCanvas::HorizontalLine(int y, int left, int right)
{
    Plot(false, y, left, right);
}

void TGridCanvas::Plot(bool vertical, int fixed, int from, int to)
{
    if (!m_painter)
        return;
    const int areaFixedFirst = vertical ? m_area.left() : m_area.top();
    const int areaFixedLast = vertical ? m_area.right() : m_area.bottom();
    if (fixed < areaFixedFirst || fixed > areaFixedLast)
        return;
    // Only the part inside the repainted area; a dotted line keeps its dots
    // on the pixels counted from its start, so a partial repaint puts each
    // dot where a full one does.
    const int step = PenStyle == TPenStyle::psDot ? 2 : 1;
    int first = std::max(from, vertical ? m_area.top() : m_area.left());
    const int last = std::min(to - 1, vertical ? m_area.bottom() : m_area.right());
    if ((first - from) % step != 0)
        ++first;
    if (first > last)
        return;

    QPolygon dots;
    dots.reserve((last - first) / step + 1);
    for (int at = first; at <= last; at += step)
        dots << (vertical ? QPoint(fixed, at) : QPoint(at, fixed));

    m_painter->save();
    m_painter->setRenderHint(QPainter::Antialiasing, false);
    if (PenMode == TPenMode::pmXor) {
        m_painter->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        m_painter->setPen(QPen(kXorColor, 0));
    } else {
        m_painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
        m_painter->setPen(QPen(Qt::black, 0));
    }
    m_painter->drawPoints(dots);
    m_painter->restore();
}

} // namespace sw
