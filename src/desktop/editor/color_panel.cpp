#include "desktop/editor/color_panel.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

namespace sw {

TColorPanel::TColorPanel(const QString& caption, TColor color, QWidget* parent)
    : QFrame(parent)
    , m_caption(caption)
    , m_color(color)
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
}

void TColorPanel::SetColor(TColor color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void TColorPanel::paintEvent(QPaintEvent* event)
{
    {
        QPainter painter(this);
        const QColor button = palette().color(QPalette::Button);
        const TColor rgb = m_color == clNone ? RGB(static_cast<uint8_t>(button.red()),
                               static_cast<uint8_t>(button.green()), static_cast<uint8_t>(button.blue()))
                                             : ColorToRGB(m_color);
        painter.fillRect(rect(), QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb)));
        if (m_color == clNone) {
            painter.setPen(QPen(QColor(Qt::red), 2));
            painter.drawLine(contentsRect().bottomLeft(), contentsRect().topRight());
        }
        // Dark colours get a light caption so it stays readable.
        const int lightness = (GetRValue(rgb) * 299 + GetGValue(rgb) * 587 + GetBValue(rgb) * 114) / 1000;
        painter.setPen(lightness < 128 ? QColor(Qt::white) : palette().color(QPalette::WindowText));
        painter.drawText(contentsRect(), Qt::AlignCenter, m_caption);
    }
    QFrame::paintEvent(event);
}

void TColorPanel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QFrame::mouseReleaseEvent(event);
}

void TColorPanel::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    connect(menu.addAction(QStringLiteral("&Pick from the picture")), &QAction::triggered, this,
        &TColorPanel::clicked);
    QAction* none = menu.addAction(QStringLiteral("&None"));
    none->setCheckable(true);
    none->setChecked(m_color == clNone);
    connect(none, &QAction::triggered, this, &TColorPanel::noneChosen);
    menu.exec(event->globalPos());
}

} // namespace sw
