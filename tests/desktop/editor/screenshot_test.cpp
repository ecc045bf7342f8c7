#include "desktop/editor/main_form.h"
#include "desktop/shell/fake_services.h"

#include <QDir>
#include <QFileDialog>
#include <QTest>
#include <gtest/gtest.h>

namespace sw {
namespace {

// Redraws docs/main-window.png, the README's picture of the main window with
// the sample design and its project. Not run by default; under a real
// display server:
//   xvfb-run -s "-screen 0 1024x768x24" env QT_QPA_PLATFORM=xcb ./test_desktop_editor
//     --gtest_also_run_disabled_tests --gtest_filter='*Screenshot*'
TEST(ScreenshotTest, DISABLED_MainWindowWithTheSampleProject)
{
    FakeServices services;
    TMainForm form;
    const QString sample = QStringLiteral(SLICEWRIGHT_SOURCE_DIR "/data/sample");
    // The sample project names its picture relative to its own folder.
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(sample));
    form.RunFileDialog = [&](QFileDialog& dialog) {
        dialog.selectFile(sample + (dialog.objectName() == "OpenImageDlg" ? "/design.bmp" : "/design.swr"));
        return true;
    };
    form.resize(880, 560);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.mnuOpenImageClick();
    form.Open1Click();
    form.lvColumns->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    form.Transparentcolor1->trigger();
    form.pbGridMouseUp(Qt::LeftButton, {}, 300, 200);
    form.Column1->trigger();
    QDir::setCurrent(previous);
    QTest::qWait(200);

    QDir().mkpath(QStringLiteral(SLICEWRIGHT_SOURCE_DIR "/docs"));
    EXPECT_TRUE(form.grab().save(QStringLiteral(SLICEWRIGHT_SOURCE_DIR "/docs/main-window.png")));
}

} // namespace
} // namespace sw
