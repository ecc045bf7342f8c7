#include "core/picture_formats.h"
#include "desktop/app/application.h"
#include "desktop/app/start_arguments.h"
#include "desktop/editor/main_form.h"
#include "desktop/editor/splash_form.h"
#include "desktop/shell/file_names.h"
#include "desktop/shell/handler_guard.h"
#include "desktop/shell/platform_services.h"

#include <QThread>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // Answered before the application object exists: it needs a display.
    switch (sw::ReadStartArguments(std::vector<std::string>(argv + 1, argv + argc)).Kind) {
    case sw::TStartRequest::TKind::Help:
        std::fputs(sw::StartUsageText().c_str(), stdout);
        return 0;
    case sw::TStartRequest::TKind::Version:
        std::fputs(sw::VersionText().c_str(), stdout);
        return 0;
    case sw::TStartRequest::TKind::Open:
        break;
    }
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
    // slicewright FILE opens a project or a picture; Qt has taken its own
    // options out of the arguments by now.
    std::vector<std::string> arguments;
    for (const QString& argument : application.arguments().mid(1))
        arguments.push_back(sw::FileNameToCore(argument));
    const std::vector<std::string> files = sw::ReadStartArguments(arguments).Files;
    if (files.size() > 1)
        sw::Services().ShowError(
            QStringLiteral("Only one file can be opened at a time, but %1 were given.").arg(files.size()));
    else if (files.size() == 1)
        sw::RunHandler([&] { mainForm.OpenStartFile(files.front()); });
    return application.exec();
}
