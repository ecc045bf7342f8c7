#include "desktop/editor/grid_canvas.h"

#include "desktop/editor/picture_view.h"

#include <QPolygon>

#include <algorithm>

namespace sw {

namespace {

// Exclusive or with the top bit of every channel moves each channel by
// exactly 128, so the dots stand out on any colour (a plain inversion would
// vanish on mid grey), and the same dots drawn twice give the picture back.
const QColor kXorColor(0x80, 0x80, 0x80);

} // namespace

void TGridCanvas::Begin(QPainter& painter, const QRect& area, const TZoomMapping& zoom)
{
    m_painter = &painter;
    m_zoom = zoom;
    m_area = DeviceArea(area, zoom.RatioHundredths());
}

void TGridCanvas::End()
{
    m_painter = nullptr;
}

void TGridCanvas::VerticalLine(int x, int top, int bottom)
{
    Plot(true, m_zoom.DeviceStart(x), m_zoom.DeviceStart(top), m_zoom.DeviceStart(bottom),
        PenStyle == TPenStyle::psDot ? 2 : 1, 0, PenMode, Qt::black);
}

void TGridCanvas::HorizontalLine(int y, int left, int right)
{
    Plot(false, m_zoom.DeviceStart(y), m_zoom.DeviceStart(left), m_zoom.DeviceStart(right),
        PenStyle == TPenStyle::psDot ? 2 : 1, 0, PenMode, Qt::black);
}

void TGridCanvas::Mark(bool vertical, int fixed, int from, int to, TMarkStyle style)
{
    const int64_t at = m_zoom.DeviceStart(fixed);
    const int64_t first = m_zoom.DeviceStart(from);
    const int64_t last = m_zoom.DeviceStart(to);
    switch (style) {
    case TMarkStyle::Selected:
        // The dots the line's own pen skipped: together a solid line.
        Plot(vertical, at, first, last, 2, 1, TPenMode::pmXor, kXorColor);
        break;
    case TMarkStyle::Guide:
        Plot(vertical, at, first, last, 1, 0, TPenMode::pmCopy, QColor(0x00, 0x78, 0xD7));
        break;
    case TMarkStyle::Suggestion:
        // Dashes of four device pixels, in both halves of the colour wheel
        // so they show on any ground.
        Plot(vertical, at, first, last, -4, 0, TPenMode::pmCopy, QColor(0xFF, 0x00, 0xFF));
        Plot(vertical, at, first, last, -4, 1, TPenMode::pmCopy, QColor(0x00, 0xC0, 0x00));
        break;
    }
}

void TGridCanvas::Plot(bool vertical, int64_t fixed, int64_t from, int64_t to, int step, int phase,
    TPenMode mode, const QColor& colour)
{
    if (!m_painter)
        return;
    const int64_t areaFixedFirst = vertical ? m_area.left() : m_area.top();
    const int64_t areaFixedLast = vertical ? m_area.right() : m_area.bottom();
    if (fixed < areaFixedFirst || fixed > areaFixedLast)
        return;
    // Only the part inside the repainted area; a dotted line keeps its dots
    // on the pixels counted from its start, so a partial repaint puts each
    // dot where a full one does. A negative step is a dash pattern: -n on,
    // -n off, phase choosing the on or the off half.
    const int64_t first = std::max(from, int64_t { vertical ? m_area.top() : m_area.left() });
    const int64_t last = std::min(to - 1, int64_t { vertical ? m_area.bottom() : m_area.right() });
    if (first > last)
        return;
    const auto drawn = [&](int64_t at) {
        const int64_t offset = at - from;
        if (step > 0)
            return (offset - phase) % step == 0;
        const int64_t dash = -step;
        return (offset / dash) % 2 == phase;
    };

    QPolygon dots;
    for (int64_t at = first; at <= last; ++at)
        if (drawn(at))
            dots << (vertical ? QPoint(static_cast<int>(fixed), static_cast<int>(at))
                              : QPoint(static_cast<int>(at), static_cast<int>(fixed)));
    if (dots.isEmpty())
        return;

    m_painter->save();
    // Device pixels, so the line stays one device pixel wide.
    const qreal ratio = m_painter->device()->devicePixelRatioF();
    m_painter->setWorldTransform(QTransform::fromScale(1 / ratio, 1 / ratio));
    m_painter->setRenderHint(QPainter::Antialiasing, false);
    if (mode == TPenMode::pmXor) {
        m_painter->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        m_painter->setPen(QPen(kXorColor, 0));
    } else {
        m_painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
        m_painter->setPen(QPen(colour, 0));
    }
    m_painter->drawPoints(dots);
    m_painter->restore();
}

} // namespace sw
