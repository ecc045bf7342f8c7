#include "desktop/editor/main_form.h"
#include "desktop/shell/fake_services.h"

#include "core/picture_formats.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTest>

#include <cstdio>

// Redraws docs/main-window.png, the README's picture of the main window with
// the sample design and its project. Built with -DSLICEWRIGHT_ARTWORK=ON;
// run under a real display server:
//   xvfb-run -s "-screen 0 1024x768x24" env QT_QPA_PLATFORM=xcb
//     build/default/scripts/artwork/main_window_screenshot
int main(int argc, char** argv)
{
    using namespace sw;
    RegisterPictureFormats();
    QApplication app(argc, argv);
    FakeServices services;
    TMainForm form;
    const QString sample = QStringLiteral(SLICEWRIGHT_SOURCE_DIR "/data/sample");
    // The sample project names its picture relative to its own folder.
    const QString previous = QDir::currentPath();
    if (!QDir::setCurrent(sample))
        return 1;
    form.RunFileDialog = [&](QFileDialog& dialog) {
        dialog.selectFile(sample + (dialog.objectName() == "OpenImageDlg" ? "/design.bmp" : "/design.swr"));
        return true;
    };
    form.resize(880, 560);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    form.mnuOpenImageClick();
    form.Open1Click();
    form.lvColumns->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    form.Transparentcolor1->trigger();
    form.pbGridMouseUp(Qt::LeftButton, {}, 300, 200);
    form.Column1->trigger();
    QDir::setCurrent(previous);
    QTest::qWait(200);

    QDir().mkpath(QStringLiteral(SLICEWRIGHT_SOURCE_DIR "/docs"));
    if (!form.grab().save(QStringLiteral(SLICEWRIGHT_SOURCE_DIR "/docs/main-window.png"))) {
        std::fputs("Cannot write docs/main-window.png\n", stderr);
        return 1;
    }
    return 0;
}
