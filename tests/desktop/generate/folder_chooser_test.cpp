#include "desktop/generate/folder_chooser.h"

#include "desktop/shell/fake_services.h"
#include "support/temp_folder.h"

#include <QAction>
#include <QApplication>
#include <QFileSystemModel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include <filesystem>

namespace sw {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

QString Q(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

class FolderChooserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : { "a/b/c", "a/.hidden", "d" })
            fs::create_directories(root.Path() / name);
        test::WriteFileBytes(root / "a/file.txt", "x");
    }

    TfrmSelect& Chooser() { return chooser; }
    QString Selected() const { return chooser.stvFolders->Selection(); }

    FakeServices services;
    TempFolder root;
    TfrmSelect chooser;
};

TEST_F(FolderChooserTest, StartsEmptyWithOkDisabled)
{
    EXPECT_EQ(chooser.windowTitle(), "Select a folder");
    EXPECT_EQ(chooser.size(), QSize(301, 276));
    EXPECT_EQ(chooser.geometry().center(), QApplication::primaryScreen()->availableGeometry().center());
    EXPECT_TRUE(chooser.btnOk->isDefault());
    EXPECT_FALSE(chooser.btnOk->isEnabled());
    EXPECT_EQ(Selected(), "");
    EXPECT_EQ(chooser.stvFolders->View()->indentation(), 19);
}

TEST_F(FolderChooserTest, WritingSelectionSelectsExistingFoldersOnly)
{
    struct Case {
        QString written;
        QString expected; // after the write, starting from a/b selected
    };
    const QString a = Q(root.Path() / "a");
    const QString b = Q(root.Path() / "a/b");
    const Case cases[] = {
        { Q(root.Path() / "a/b/c"), Q(root.Path() / "a/b/c") },
        { b + "/", b },
        { a + "//b/../b/c/..", b },
        { Q(root.Path() / "a/.hidden"), Q(root.Path() / "a/.hidden") },
        // Names that are no folder change nothing.
        { Q(root.Path() / "a/file.txt"), b },
        { Q(root.Path() / "missing"), b },
        { "a/b", b },
        { "", b },
        // The top node stands for the whole file system: the empty text.
        { "/", "" },
    };
    for (const Case& c : cases) {
        chooser.stvFolders->SetSelection(b);
        ASSERT_EQ(Selected(), b);
        chooser.stvFolders->SetSelection(c.written);
        EXPECT_EQ(Selected(), c.expected) << c.written.toStdString();
        EXPECT_TRUE(chooser.btnOk->isEnabled()) << c.written.toStdString();
    }
}

TEST_F(FolderChooserTest, AMissingFolderOnFirstUseLeavesOkDisabled)
{
    chooser.stvFolders->SetSelection(Q(root.Path() / "missing"));
    EXPECT_FALSE(chooser.btnOk->isEnabled());
    EXPECT_EQ(Selected(), "");

    // A click on any node enables OK.
    chooser.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chooser));
    QTreeView* view = chooser.stvFolders->View();
    const QModelIndex top = view->model()->index(0, 0);
    QTRY_VERIFY(!view->visualRect(top).isEmpty());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(top).center());
    EXPECT_TRUE(chooser.btnOk->isEnabled());
    EXPECT_EQ(Selected(), "");
}

TEST_F(FolderChooserTest, OkAndCancelGiveTheirResults)
{
    chooser.stvFolders->SetSelection(Q(root.Path() / "d"));
    chooser.open();
    chooser.btnOk->click();
    EXPECT_EQ(chooser.result(), QDialog::Accepted);
    chooser.open();
    QTest::keyClick(&chooser, Qt::Key_Escape);
    EXPECT_EQ(chooser.result(), QDialog::Rejected);
    EXPECT_EQ(Selected(), Q(root.Path() / "d"));
}

TEST_F(FolderChooserTest, AWrittenSelectionStaysInViewWhileItsSiblingsArriveUntilTheUserScrolls)
{
    // The model reads the siblings in the background after the selection
    // was written, so rows arrive above the selected one.
    for (int i = 0; i < 100; ++i)
        fs::create_directory(
            root.Path() / "d" / QStringLiteral("f%1").arg(i, 3, 10, QChar('0')).toStdString());
    const QString target = Q(root.Path() / "d/f090");
    chooser.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chooser));
    chooser.stvFolders->SetSelection(target);

    QTreeView* view = chooser.stvFolders->View();
    QFileSystemModel* model = chooser.stvFolders->Model();
    // Sorting moves rows, so the index is looked up afresh each time.
    const auto inView
        = [&] { return view->viewport()->rect().contains(view->visualRect(model->index(target))); };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return model->rowCount(model->index(Q(root.Path() / "d"))) == 100 && inView(); }, 10000));

    // Once the user has scrolled, arriving rows leave the view alone.
    view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    ASSERT_FALSE(inView());
    fs::create_directory(root.Path() / "d/e");
    model->fetchMore(model->index(Q(root.Path() / "d")));
    QTest::qWait(300);
    EXPECT_FALSE(inView());
    EXPECT_EQ(Selected(), target);
}

TEST_F(FolderChooserTest, ASelectedFolderRemovedOutsideHandsTheSelectionToItsParent)
{
    chooser.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chooser));
    const QString c = Q(root.Path() / "a/b/c");
    chooser.stvFolders->SetSelection(c);
    // The model lists the parent in the background before it watches it.
    QTRY_VERIFY_WITH_TIMEOUT(
        chooser.stvFolders->Model()->rowCount(chooser.stvFolders->Model()->index(Q(root.Path() / "a/b")))
            == 1,
        5000);
    fs::remove(root.Path() / "a/b/c");
    QTRY_COMPARE_WITH_TIMEOUT(Selected(), Q(root.Path() / "a/b"), 10000);
    EXPECT_TRUE(chooser.btnOk->isEnabled());
}

TEST_F(FolderChooserTest, ContextMenuOpensAFolderAndMakesNewOnes)
{
    const QString d = Q(root.Path() / "d");
    std::unique_ptr<QMenu> menu(chooser.stvFolders->CreateFolderMenu(d, &chooser));
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 3);
    actions[0]->trigger();
    EXPECT_EQ(services.openedUrls, QStringList { d });

    actions[2]->trigger();
    EXPECT_TRUE(fs::is_directory(root.Path() / "d/New folder"));
    EXPECT_EQ(Selected(), d + "/New folder");
    EXPECT_EQ(chooser.stvFolders->CreateNewFolder(d), d + "/New folder (2)");
    EXPECT_EQ(Selected(), d + "/New folder (2)");
    EXPECT_EQ(chooser.stvFolders->CreateNewFolder(Q(root.Path() / "missing")), "");
}

TEST(FolderChooserInstance, IsCreatedOnceAndKept)
{
    ASSERT_EQ(frmSelect, nullptr);
    TfrmSelect& first = FolderChooser();
    EXPECT_EQ(&first, frmSelect);
    EXPECT_EQ(&FolderChooser(), &first);
    delete frmSelect;
    EXPECT_EQ(frmSelect, nullptr);
}

} // namespace
} // namespace sw
