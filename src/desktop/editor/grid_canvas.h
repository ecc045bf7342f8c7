#pragma once

// The grid's canvas: one pen that lives as long as the view, whose style and
// mix mode carry over from one drawing step to the next, also across
// repaints. Lines are one pixel wide and drawn only while a paint event
// lends the canvas its painter; outside one, a drawing step still sets the
// pen, and the repaint that follows every list change shows the line.

#include <QPainter>
#include <QRect>

namespace sw {

enum class TPenStyle { psSolid, psDot };
enum class TPenMode { pmCopy, pmXor };

class TGridCanvas {
public:
    TPenStyle PenStyle = TPenStyle::psSolid;
    TPenMode PenMode = TPenMode::pmCopy;

    // Lends the canvas a painter for the area being repainted; End returns it.
    void Begin(QPainter& painter, const QRect& area);
    void End();
    bool Painting() const { return m_painter != nullptr; }

    // Lines from (x, top) down to (x, bottom) and from (left, y) across to
    // (right, y), end points excluded, in the pen's current style and mode.
    void VerticalLine(int x, int top, int bottom);
    void HorizontalLine(int y, int left, int right);

private:
    void Plot(bool vertical, int fixed, int from, int to);

    QPainter* m_painter = nullptr;
    QRect m_area;
};

} // namespace sw
