#include "core/picture_formats.h"
#include "desktop/app/application.h"
#include "desktop/editor/main_form.h"
#include "desktop/editor/splash_form.h"
#include "desktop/shell/file_names.h"
#include "desktop/shell/handler_guard.h"
#include "desktop/shell/platform_services.h"

#include <QThread>

int main(int argc, char** argv)
{
    sw::RegisterPictureFormats();
    sw::TApplication application(argc, argv);

    sw::frmSplash = new sw::TfrmSplash();
    sw::frmSplash->show();
    sw::frmSplash->repaint();
    QApplication::processEvents();

    // A deliberate pause with the splash on screen; no events are handled meanwhile.
    QThread::msleep(1024);

    sw::TMainForm mainForm;
    // Closing asks for a deferred release, which the event loop carries out.
    // A click that reached the splash while it was painted has closed it already.
    if (sw::frmSplash)
        sw::frmSplash->close();
    mainForm.show();
    // slicewright FILE opens a project or a picture.
    const QStringList files = application.arguments().mid(1);
    if (files.size() > 1)
        sw::Services().ShowError(
            QStringLiteral("Only one file can be opened at a time, but %1 were given.").arg(files.size()));
    else if (files.size() == 1)
        sw::RunHandler([&] { mainForm.OpenStartFile(sw::FileNameToCore(files.front())); });
    return application.exec();
}
