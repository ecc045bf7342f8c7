#include "desktop/editor/splash_form.h"

#include "core/base/version_record.h"
#include "desktop/shell/file_names.h"
#include "desktop/shell/platform_services.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>

namespace sw {

TfrmSplash* frmSplash = nullptr;

namespace {

constexpr uint8_t kFileVersionKey = 2;
constexpr char kWebAddress[] = "https://slicewright.example.org";

// The desktop's own UI font at a size in pixels, so the text keeps its place
// on the picture whatever the screen's font scaling.
QFont UiFont(int pixelSize, bool bold = false)
{
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// Only the left button acts; the others do nothing on the window.
bool IsLeftRelease(const QEvent* event)
{
    return event->type() == QEvent::MouseButtonRelease
        && static_cast<const QMouseEvent*>(event)->button() == Qt::LeftButton;
}

} // namespace

TfrmSplash::TfrmSplash(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    setAttribute(Qt::WA_DeleteOnClose);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    resize(349, 201);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setPixmap(QPixmap(QStringLiteral(":/splash.png")));
    Image1->adjustSize();

    auto addLabel = [this](const char* name, const QString& text, QPoint at, const QFont& font) {
        auto* label = new QLabel(text, this);
        label->setObjectName(QString::fromUtf8(name));
        label->setAttribute(Qt::WA_TranslucentBackground);
        label->setPalette(QApplication::palette());
        label->setFont(font);
        label->move(at);
        label->adjustSize();
        label->installEventFilter(this);
        return label;
    };
    lblVersion = addLabel("lblVersion", QStringLiteral("Version"), QPoint(105, 100), UiFont(11, true));
    Label3 = addLabel("Label3", QStringLiteral("Copyright \u00A9 2026 The Slicewright developers"),
        QPoint(105, 120), UiFont(9));
    Label2 = addLabel("Label2", QStringLiteral("Free software: copy it and pass it on as you like."),
        QPoint(105, 133), UiFont(9));
    Label5 = addLabel("Label5", QStringLiteral("For information visit:"), QPoint(105, 160), UiFont(11, true));
    QFont link = UiFont(11);
    link.setUnderline(true);
    lblWebSite = addLabel("lblWebSite", QString::fromUtf8(kWebAddress), QPoint(105, 175), link);
    QPalette green = lblWebSite->palette();
    green.setColor(QPalette::WindowText, QColor(0x00, 0x80, 0x00));
    lblWebSite->setPalette(green);
    lblWebSite->setCursor(Qt::PointingHandCursor);
    Image1->installEventFilter(this);

    FormCreate();
}

TfrmSplash::~TfrmSplash()
{
    if (frmSplash == this)
        frmSplash = nullptr;
}

void TfrmSplash::FormCreate()
{
    const std::string version
        = GetVersionString(FileNameToCore(QCoreApplication::applicationFilePath()), kFileVersionKey);
    lblVersion->setText(QStringLiteral("Version ") + QString::fromStdString(version));
    lblVersion->adjustSize();
    lblVersion->repaint();
    FitToPicture();
    if (const QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmSplash::FitToPicture()
{
    Image1->adjustSize();
    Image1->move(1, 1);
    setFixedSize(Image1->width() + 2, Image1->height() + 2);
}

bool TfrmSplash::eventFilter(QObject* watched, QEvent* event)
{
    if (IsLeftRelease(event)) {
        if (watched == lblWebSite)
            lblWebSiteClick();
        else
            Image1Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmSplash::mouseReleaseEvent(QMouseEvent* event)
{
    // The black frame around the picture is part of the window too.
    if (IsLeftRelease(event))
        Image1Click();
    event->accept();
}

void TfrmSplash::closeEvent(QCloseEvent* event)
{
    FormClose();
    QDialog::closeEvent(event);
}

void TfrmSplash::FormClose()
{
    // The window frees itself once closed (WA_DeleteOnClose), so the next
    // About makes a new one.
    if (frmSplash == this)
        frmSplash = nullptr;
}

void TfrmSplash::Image1Click()
{
    close();
}

void TfrmSplash::lblWebSiteClick()
{
    Services().OpenUrl(lblWebSite->text());
}

} // namespace sw
