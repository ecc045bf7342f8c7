#include "desktop/editor/picture_view.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QtMath>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

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
    FitToZoom();
}

void TImageView::SetZoom(const TZoomMapping& zoom)
{
    m_zoom = zoom;
    FitToZoom();
    update();
}

void TImageView::FitToZoom()
{
    resize(static_cast<int>(m_zoom.LogicalExtent(m_image.Width())),
        static_cast<int>(m_zoom.LogicalExtent(m_image.Height())));
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
    FitToZoom();
    update();
    emit PictureChanged();
}

void TImageView::paintEvent(QPaintEvent* event)
{
    if (m_shown.isNull())
        return;
    QPainter painter(this);
    if (m_zoom.IsNatural() && m_zoom.RatioHundredths() == 100) {
        const QRect area = event->rect() & m_shown.rect();
        painter.drawImage(area.topLeft(), m_shown, area);
        return;
    }
    // Every device pixel takes the picture pixel a click there would pick,
    // so the pixels are sharp and line up with the grid at any zoom.
    const QRect device = DeviceArea(event->rect(), m_zoom.RatioHundredths())
        & QRect(0, 0, static_cast<int>(m_zoom.DeviceStart(m_shown.width())),
            static_cast<int>(m_zoom.DeviceStart(m_shown.height())));
    if (device.isEmpty())
        return;
    std::vector<int> sourceColumns(static_cast<size_t>(device.width()));
    for (int x = 0; x < device.width(); ++x)
        sourceColumns[static_cast<size_t>(x)]
            = std::clamp(static_cast<int>(m_zoom.PixelAt(device.left() + x)), 0, m_shown.width() - 1);
    QImage scaled(device.size(), QImage::Format_RGB32);
    if (scaled.isNull())
        return;
    for (int y = 0; y < device.height(); ++y) {
        const int sourceRow
            = std::clamp(static_cast<int>(m_zoom.PixelAt(device.top() + y)), 0, m_shown.height() - 1);
        const auto* source = reinterpret_cast<const QRgb*>(m_shown.constScanLine(sourceRow));
        auto* target = reinterpret_cast<QRgb*>(scaled.scanLine(y));
        for (int x = 0; x < device.width(); ++x)
            target[x] = source[sourceColumns[static_cast<size_t>(x)]];
    }
    painter.setWorldTransform(QTransform::fromScale(1 / devicePixelRatioF(), 1 / devicePixelRatioF()));
    painter.drawImage(device.topLeft(), scaled);
}

QRect DeviceArea(const QRect& logical, int ratioHundredths)
{
    const auto toDevice = [ratioHundredths](int at, bool up) {
        const int64_t scaled = int64_t { at } * ratioHundredths;
        return static_cast<int>(up ? (scaled + 99) / 100 : scaled / 100);
    };
    // Outward: every device pixel the logical area touches.
    return QRect(QPoint(toDevice(logical.left(), false), toDevice(logical.top(), false)),
        QPoint(toDevice(logical.right() + 1, true) - 1, toDevice(logical.bottom() + 1, true) - 1));
}

TPaintBox::TPaintBox(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("pbGrid"));
    setAttribute(Qt::WA_NoSystemBackground);
}

void TPaintBox::SetGridSize(QSize pixels)
{
    m_gridSize = pixels;
    FitToZoom();
}

void TPaintBox::SetZoom(const TZoomMapping& zoom)
{
    m_zoom = zoom;
    FitToZoom();
    update();
}

void TPaintBox::FitToZoom()
{
    QWidget::resize(static_cast<int>(m_zoom.LogicalExtent(m_gridSize.width())),
        static_cast<int>(m_zoom.LogicalExtent(m_gridSize.height())));
}

QPoint TPaintBox::PixelAt(QPointF logical) const
{
    const auto clampToInt
        = [](int64_t value) { return static_cast<int>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX)); };
    return QPoint(
        clampToInt(m_zoom.PixelAtLogical(logical.x())), clampToInt(m_zoom.PixelAtLogical(logical.y())));
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
    const QPoint at = PixelAt(event->position());
    if (OnMouseUp)
        OnMouseUp(event->button(), event->modifiers(), at.x(), at.y());
    event->accept();
}

} // namespace sw
