#include "desktop/editor/picture_view.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QtMath>

namespace sw {

namespace {

// Rows of blue, green, red into 0xFFRRGGBB words.
QImage FromBgrRows(const TBitmap& bitmap)
{
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    for (int y = 0; y < height; ++y) {
        const uint8_t* source = bitmap.ScanLine(y);
        auto* target = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x, source += 3)
            target[x] = qRgb(source[2], source[1], source[0]);
    }
    return image;
}

bool HasBgrRows(const TBitmap& bitmap)
{
    const TPixelFormat format = bitmap.PixelFormat();
    return bitmap.BitsPerPixel() == 24
        && (format == TPixelFormat::pf24bit || format == TPixelFormat::pfDevice);
}

} // namespace

QImage BitmapToQImage(const TBitmap& bitmap)
{
    if (bitmap.Empty() || bitmap.Width() <= 0 || bitmap.Height() <= 0)
        return {};
    if (HasBgrRows(bitmap))
        return FromBgrRows(bitmap);
    // Palette, 15/16/32-bit and bit-field pictures go through a 24-bit copy;
    // the copy shares the store until its conversion, so the original stays.
    TBitmap converted(bitmap);
    converted.SetPixelFormat(TPixelFormat::pf24bit);
    return FromBgrRows(converted);
}

TImageView::TImageView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("imgInterface"));
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    m_image.SetAutoSize(true);
    m_image.OnChange = [this] { ImageChanged(); };
    resize(m_image.Width(), m_image.Height());
}

TBitmap& TImageView::PictureBitmap()
{
    if (!HasPicture())
        m_image.Canvas();
    return m_image.Picture().Bitmap();
}

void TImageView::ImageChanged()
{
    const TGraphic* graphic = m_image.Picture().Graphic();
    const auto* bitmap = dynamic_cast<const TBitmap*>(graphic);
    m_shown = bitmap ? BitmapToQImage(*bitmap) : QImage();
    resize(m_image.Width(), m_image.Height());
    update();
    emit PictureChanged();
}

void TImageView::paintEvent(QPaintEvent* event)
{
    if (m_shown.isNull())
        return;
    QPainter painter(this);
    const QRect area = event->rect() & m_shown.rect();
    painter.drawImage(area.topLeft(), m_shown, area);
}

TPaintBox::TPaintBox(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("pbGrid"));
    setAttribute(Qt::WA_NoSystemBackground);
}

void TPaintBox::paintEvent(QPaintEvent* event)
{
    if (!OnPaint)
        return;
    QPainter painter(this);
    OnPaint(painter, event->rect());
}

void TPaintBox::mouseReleaseEvent(QMouseEvent* event)
{
    // The pixel the point lies in: on a scaled screen the point can fall
    // between pixels, and rounding would move it onto the next one.
    const QPointF at = event->position();
    if (OnMouseUp)
        OnMouseUp(event->button(), event->modifiers(), qFloor(at.x()), qFloor(at.y()));
    event->accept();
}

} // namespace sw
