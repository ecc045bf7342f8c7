#include "desktop/editor/form_children.h"
#include "desktop/editor/main_actions.h"
#include "desktop/editor/main_form.h"
#include "desktop/editor/splash_form.h"
#include "desktop/shell/fake_services.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace sw {
namespace {

void ReleaseDeferred()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TfrmSplash* ShowSplash()
{
    frmSplash = new TfrmSplash();
    frmSplash->show();
    return frmSplash;
}

TEST(SplashFormTest, AnyClickButTheWebAddressClosesAndFreesTheWindow)
{
    FakeServices services;
    const char* closers[] = { "Image1", "lblVersion", "Label2", "Label3", "Label5" };
    for (const char* name : closers) {
        SCOPED_TRACE(name);
        QPointer<TfrmSplash> splash = ShowSplash();
        auto* target = splash->findChild<QLabel*>(name);
        ASSERT_NE(target, nullptr);

        QTest::mouseClick(splash->lblWebSite, Qt::LeftButton);
        EXPECT_TRUE(splash->isVisible());
        EXPECT_EQ(frmSplash, splash.data());

        QTest::mouseClick(target, Qt::LeftButton);
        EXPECT_EQ(frmSplash, nullptr);
        ReleaseDeferred();
        EXPECT_TRUE(splash.isNull());
    }
    EXPECT_EQ(services.openedUrls.size(), 5);
    EXPECT_TRUE(services.openedUrls.front().startsWith("https://"));
}

TEST(SplashFormTest, OnlyTheLeftButtonActs)
{
    FakeServices services;
    QPointer<TfrmSplash> splash = ShowSplash();
    for (Qt::MouseButton button : { Qt::RightButton, Qt::MiddleButton }) {
        for (QWidget* target : { static_cast<QWidget*>(splash->Image1),
                 static_cast<QWidget*>(splash->lblWebSite), static_cast<QWidget*>(splash.data()) })
            QTest::mouseClick(target, button);
    }
    EXPECT_TRUE(splash->isVisible());
    EXPECT_TRUE(services.openedUrls.isEmpty());
    QTest::mouseClick(splash.data(), Qt::LeftButton, {}, QPoint(0, 0)); // the frame
    EXPECT_EQ(frmSplash, nullptr);
    ReleaseDeferred();
    EXPECT_TRUE(splash.isNull());
}

TEST(SplashFormTest, WindowIsThePictureWithAOnePixelFrame)
{
    QPointer<TfrmSplash> splash = new TfrmSplash();
    EXPECT_EQ(splash->Image1->pixmap().size(), QSize(350, 200));
    EXPECT_EQ(splash->Image1->pos(), QPoint(1, 1));
    EXPECT_EQ(splash->size(), QSize(352, 202));
    EXPECT_EQ(splash->lblVersion->pos(), QPoint(105, 100));
    EXPECT_EQ(splash->lblWebSite->pos(), QPoint(105, 175));
    EXPECT_TRUE(splash->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(splash->windowFlags() & Qt::WindowStaysOnTopHint);

    QPixmap other(120, 40);
    other.fill(Qt::white);
    splash->Image1->setPixmap(other);
    splash->FitToPicture();
    EXPECT_EQ(splash->size(), QSize(122, 42));
    delete splash;
}

TEST(SplashFormTest, VersionLabelOfAProgramWithoutARecord)
{
    // The test program carries no version record.
    QPointer<TfrmSplash> splash = new TfrmSplash();
    EXPECT_EQ(splash->lblVersion->text(), "Version ");
    delete splash;
}

TEST(SplashFormTest, AboutShowsAFreshModalWindowEachTime)
{
    FakeServices services;
    TMainForm form;
    QList<QPointer<TfrmSplash>> shown;
    for (int i = 0; i < 2; ++i) {
        QTimer::singleShot(0, [&] {
            QPointer<TfrmSplash> splash = frmSplash;
            shown << splash;
            ASSERT_FALSE(splash.isNull());
            EXPECT_TRUE(splash->isModal());
            QTest::mouseClick(splash->lblWebSite, Qt::LeftButton);
            EXPECT_TRUE(splash->isVisible());
            QTest::mouseClick(splash->Label3, Qt::LeftButton);
        });
        form.Actions().About1->trigger();
        EXPECT_EQ(frmSplash, nullptr);
        ReleaseDeferred();
    }
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[0].isNull());
    EXPECT_TRUE(shown[1].isNull());
    EXPECT_EQ(services.openedUrls.size(), 2);
}

} // namespace
} // namespace sw
