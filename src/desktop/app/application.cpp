#include "desktop/app/application.h"

#include "core/base/colors.h"
#include "desktop/shell/handler_guard.h"
#include "desktop/shell/platform_services.h"

#include <QPalette>

namespace sw {

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QString::fromUtf8(kApplicationTitle));
    // Where the settings (the recent projects) are kept.
    setOrganizationName(QString::fromUtf8(kApplicationTitle));
    // Lets the desktop match the windows to the installed desktop entry.
    setDesktopFileName(QStringLiteral("slicewright"));
    setWindowIcon(ApplicationIcon());
    // The core resolves the button-face reference like the display does, so a
    // transparent colour never picked means the colour the user sees.
    const QColor face = palette().color(QPalette::Button);
    SetSystemColor(static_cast<int>(clBtnFace & 0xFF),
        RGB(static_cast<uint8_t>(face.red()), static_cast<uint8_t>(face.green()),
            static_cast<uint8_t>(face.blue())));
}

QIcon ApplicationIcon()
{
    QIcon builtIn;
    for (const char* size : { "16x16", "32x32", "48x48", "64x64", "256x256" })
        builtIn.addFile(QStringLiteral(":/icons/%1/apps/slicewright.png").arg(QLatin1String(size)));
    return QIcon::fromTheme(QStringLiteral("slicewright"), builtIn);
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(error);
    }
    return false;
}

} // namespace sw
