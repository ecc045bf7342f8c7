// Draws splash.png, the 350 x 200 picture of the splash and About window.
// Built only with -DSLICEWRIGHT_ARTWORK=ON; to redraw the picture after
// changing it:
//   QT_QPA_PLATFORM=offscreen build/default/scripts/artwork/make_splash src/desktop/resources/splash.png
// The labels of the window (version, copyright, web address) sit on the light
// area from x = 105, y = 95 down, so that area stays calm.

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

const QColor kNight(0x17, 0x22, 0x3B);
const QColor kTeal(0x14, 0x7A, 0x8A);
const QColor kAccent(0xE8, 0x5D, 0x2C);
const QColor kInk(0x2B, 0x3A, 0x55);

void DrawBackground(QPainter& p)
{
    QLinearGradient paper(0, 86, 0, 200);
    paper.setColorAt(0, QColor(0xFB, 0xFC, 0xFE));
    paper.setColorAt(1, QColor(0xE4, 0xEB, 0xF3));
    p.fillRect(QRect(0, 0, 350, 200), paper);

    QLinearGradient band(0, 0, 350, 86);
    band.setColorAt(0, kNight);
    band.setColorAt(1, kTeal);
    p.fillRect(QRect(0, 0, 350, 86), band);
    // A soft glow behind the name.
    QRadialGradient glow(QPointF(250, 30), 140);
    glow.setColorAt(0, QColor(255, 255, 255, 46));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(QRect(0, 0, 350, 86), glow);
    p.fillRect(QRect(0, 86, 350, 2), kAccent);
}

// A small web page: header, hero picture, two columns of text, footer.
void DrawPage(QPainter& p, const QRectF& page)
{
    for (int i = 4; i >= 1; --i)
        p.fillRect(page.translated(i * 0.8, i * 1.2), QColor(0, 0, 0, 14));
    p.fillRect(page, Qt::white);
    p.setPen(QPen(QColor(0xC9, 0xD3, 0xE0), 1));
    p.drawRect(page.adjusted(0.5, 0.5, -0.5, -0.5));

    const qreal x = page.left() + 6;
    const qreal w = page.width() - 12;
    p.fillRect(QRectF(page.left(), page.top(), page.width(), 16), kInk);
    p.fillRect(QRectF(x, page.top() + 6, 18, 4), kAccent);
    for (int i = 0; i < 3; ++i)
        p.fillRect(QRectF(page.right() - 40 + i * 12, page.top() + 7, 8, 2), QColor(255, 255, 255, 170));

    const QRectF hero(x, page.top() + 22, w, 44);
    QLinearGradient sky(hero.topLeft(), hero.bottomLeft());
    sky.setColorAt(0, QColor(0x8E, 0xC5, 0xF0));
    sky.setColorAt(1, QColor(0xD9, 0xEE, 0xFB));
    p.fillRect(hero, sky);
    QPainterPath hills;
    hills.moveTo(hero.left(), hero.bottom());
    hills.lineTo(hero.left(), hero.bottom() - 12);
    hills.quadTo(hero.left() + 20, hero.bottom() - 30, hero.left() + 40, hero.bottom() - 14);
    hills.quadTo(hero.left() + 56, hero.bottom() - 24, hero.right(), hero.bottom() - 10);
    hills.lineTo(hero.right(), hero.bottom());
    hills.closeSubpath();
    p.fillPath(hills, QColor(0x3F, 0xA3, 0x5B));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xF6, 0xC3, 0x4A));
    p.drawEllipse(QPointF(hero.right() - 12, hero.top() + 11), 5, 5);

    const qreal half = (w - 6) / 2;
    for (int column = 0; column < 2; ++column) {
        const qreal cx = x + column * (half + 6);
        p.fillRect(QRectF(cx, page.top() + 74, half * 0.7, 4), kInk);
        for (int line = 0; line < 6; ++line) {
            const qreal lw = (line % 3 == 2) ? half * 0.6 : half;
            p.fillRect(QRectF(cx, page.top() + 83 + line * 7, lw, 2.5), QColor(0xB4, 0xBF, 0xCD));
        }
    }
    p.fillRect(QRectF(x, page.bottom() - 36, w, 22), QColor(0xEE, 0xF2, 0xF7));
    p.fillRect(QRectF(x + 4, page.bottom() - 29, w * 0.45, 3), QColor(0xB4, 0xBF, 0xCD));
    p.fillRect(QRectF(page.left(), page.bottom() - 9, page.width(), 9), kInk);
}

void DrawCut(QPainter& p, QPointF from, QPointF to)
{
    QPen white(QColor(255, 255, 255, 200), 2.2, Qt::SolidLine, Qt::FlatCap);
    p.setPen(white);
    p.drawLine(from, to);
    QPen dots(kAccent, 1.2, Qt::CustomDashLine, Qt::FlatCap);
    dots.setDashPattern({ 2.0, 1.6 });
    p.setPen(dots);
    p.drawLine(from, to);
}

void DrawScissors(QPainter& p, QPointF at)
{
    p.save();
    p.translate(at);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kAccent, 1.4));
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(-5, -3), 2.6, 2.6);
    p.drawEllipse(QPointF(-5, 3), 2.6, 2.6);
    p.setPen(QPen(kAccent, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(-2.7, -1.8), QPointF(6, 2.2));
    p.drawLine(QPointF(-2.7, 1.8), QPointF(6, -2.2));
    p.restore();
}

void DrawName(QPainter& p)
{
    QFont name(QStringLiteral("DejaVu Sans"));
    name.setPixelSize(33);
    name.setBold(true);
    name.setLetterSpacing(QFont::PercentageSpacing, 97);
    p.setFont(name);
    p.setPen(QColor(0, 0, 0, 60));
    p.drawText(QPointF(106, 52), QStringLiteral("Slicewright"));
    p.setPen(Qt::white);
    p.drawText(QPointF(105, 51), QStringLiteral("Slicewright"));

    QFont tagline(QStringLiteral("DejaVu Sans"));
    tagline.setPixelSize(11);
    tagline.setLetterSpacing(QFont::AbsoluteSpacing, 0.4);
    p.setFont(tagline);
    p.setPen(QColor(0xBF, 0xE9, 0xEE));
    p.drawText(QPointF(107, 71), QStringLiteral("slice a page design into a web page"));
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 2)
        return 2;
    QImage image(350, 200, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    DrawBackground(p);

    const QRectF page(16, 14, 74, 172);
    DrawPage(p, page);
    // The cuts run past the page's edges, like crop marks.
    for (qreal x : { 38.5, 64.5 })
        DrawCut(p, QPointF(x, 6), QPointF(x, 194));
    for (qreal y : { 30.5, 80.5, 150.5 })
        DrawCut(p, QPointF(8, y), QPointF(98, y));
    DrawScissors(p, QPointF(10, 150.5));

    DrawName(p);
    p.end();
    return image.save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
