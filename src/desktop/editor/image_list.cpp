#include "desktop/editor/image_list.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace sw {

namespace {

// One palette for all six, so they read as a set.
const QColor kInk(0x2B, 0x3A, 0x55);
const QColor kPaper(0xFA, 0xFB, 0xFD);
const QColor kAccent(0xE0, 0x5A, 0x2B);
const QColor kSky(0x4A, 0x90, 0xD9);
const QColor kLeaf(0x3F, 0xA3, 0x5B);
const QColor kFolder(0xF2, 0xB6, 0x3C);

using Painting = std::function<void(QPainter&)>;

// Paints on a 16-unit grid, scaled to each pixmap size.
QIcon MakeIcon(const Painting& paint)
{
    QIcon icon;
    for (int size : { 16, 32 }) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 16.0, size / 16.0);
        paint(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPen InkPen(qreal width = 1.0)
{
    return QPen(kInk, width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
}

// A sheet with a folded corner, the base of the three project icons.
void PaintSheet(QPainter& p)
{
    QPainterPath sheet;
    sheet.moveTo(3.5, 1.5);
    sheet.lineTo(9.5, 1.5);
    sheet.lineTo(12.5, 4.5);
    sheet.lineTo(12.5, 14.5);
    sheet.lineTo(3.5, 14.5);
    sheet.closeSubpath();
    p.setPen(InkPen());
    p.setBrush(kPaper);
    p.drawPath(sheet);
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({ QPointF(9.5, 1.5), QPointF(9.5, 4.5), QPointF(12.5, 4.5) }));
}

void PaintDottedLine(QPainter& p, QPointF from, QPointF to)
{
    QPen pen(kAccent, 1.0, Qt::CustomDashLine, Qt::FlatCap);
    pen.setDashPattern({ 1.5, 1.0 });
    p.setPen(pen);
    p.drawLine(from, to);
}

void PaintOpenPicture(QPainter& p)
{
    p.setPen(InkPen());
    p.setBrush(QColor(0xDD, 0xEB, 0xF7));
    p.drawRect(QRectF(1.5, 2.5, 13, 11));
    // A hill and a sun make it a picture at a glance.
    p.setPen(Qt::NoPen);
    p.setBrush(kLeaf);
    QPainterPath hill;
    hill.moveTo(2, 13);
    hill.lineTo(6, 8);
    hill.lineTo(9, 11);
    hill.lineTo(11, 9);
    hill.lineTo(14, 13);
    hill.closeSubpath();
    p.drawPath(hill);
    p.setBrush(kFolder);
    p.drawEllipse(QPointF(11, 5.5), 1.5, 1.5);
}

void PaintColumn(QPainter& p)
{
    p.setPen(InkPen());
    p.setBrush(kPaper);
    p.drawRect(QRectF(1.5, 1.5, 13, 13));
    PaintDottedLine(p, QPointF(8, 0.5), QPointF(8, 15.5));
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawPolygon(QPolygonF({ QPointF(5.5, 0.5), QPointF(10.5, 0.5), QPointF(8, 3) }));
}

// The column icon mirrored across its diagonal.
void PaintRow(QPainter& p)
{
    p.setTransform(QTransform(0, 1, 1, 0, 0, 0), true);
    PaintColumn(p);
}

void PaintNewProject(QPainter& p)
{
    PaintSheet(p);
    // A spark in the corner: something fresh.
    p.setPen(QPen(kAccent, 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(12.5, 9.5), QPointF(12.5, 15));
    p.drawLine(QPointF(9.75, 12.25), QPointF(15.25, 12.25));
}

void PaintOpenProject(QPainter& p)
{
    p.setPen(InkPen());
    p.setBrush(kFolder.darker(115));
    p.drawPolygon(QPolygonF({ QPointF(1.5, 3.5), QPointF(6, 3.5), QPointF(7.5, 5), QPointF(13.5, 5),
        QPointF(13.5, 13.5), QPointF(1.5, 13.5) }));
    p.setBrush(kFolder);
    p.drawPolygon(
        QPolygonF({ QPointF(1.5, 13.5), QPointF(4, 7.5), QPointF(15.5, 7.5), QPointF(13.5, 13.5) }));
}

void PaintSaveProject(QPainter& p)
{
    p.setPen(InkPen());
    p.setBrush(kSky);
    p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 1.5, 1.5);
    p.setBrush(kPaper);
    p.drawRect(QRectF(4.5, 1.5, 7, 5));
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRect(QRectF(9, 2.5, 1.5, 3));
    p.setPen(InkPen());
    p.setBrush(kPaper);
    p.drawRect(QRectF(3.5, 9.5, 9, 5));
}

} // namespace

QList<QIcon> CreateImageList()
{
    QList<QIcon> images(kImageCount);
    images[kIconOpenPicture] = MakeIcon(PaintOpenPicture);
    images[kIconColumn] = MakeIcon(PaintColumn);
    images[kIconRow] = MakeIcon(PaintRow);
    images[kIconNewProject] = MakeIcon(PaintNewProject);
    images[kIconOpenProject] = MakeIcon(PaintOpenProject);
    images[kIconSaveProject] = MakeIcon(PaintSaveProject);
    return images;
}

} // namespace sw
