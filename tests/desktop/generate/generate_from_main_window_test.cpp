#include "core/imaging/bitmap.h"
#include "desktop/editor/main_form.h"
#include "desktop/generate/generate_dialog.h"
#include "desktop/generate/generate_settings_form.h"

#include "desktop/shell/fake_services.h"
#include "support/folder_entries.h"
#include "support/temp_folder.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>

namespace sw {
namespace {

namespace fs = std::filesystem;

// The whole job from the main window: open a picture, place lines, Generate,
// choose the page and the folder, generate.
TEST(GenerateFromMainWindow, CutsThePictureAndClosesTheDialog)
{
    FakeServices services;
    test::TempFolder folder;
    const std::string design = folder / "design.bmp";
    {
        TBitmap picture;
        picture.SetSize(60, 40);
        picture.Canvas().SetPixel(5, 5, RGB(0, 0, 255));
        picture.SaveToFile(design);
    }
    const fs::path out = folder.Path() / "out";
    fs::create_directory(out);

    TMainForm form;
    form.RunFileDialog = [&design](QFileDialog& dialog) {
        dialog.selectFile(QString::fromStdString(design));
        return true;
    };
    form.mnuOpenImageClick();
    form.ClearLines(true);
    form.DrawColumn(true, false, 30, 0);
    form.DrawRow(true, true, 0, 20);

    QPointer<TGenerateDlg> shown;
    QTimer::singleShot(0, &form, [&shown, &out] {
        shown = GenerateDlg;
        ASSERT_NE(shown, nullptr);
        // A project made here starts on the format that keeps cells good.
        EXPECT_EQ(shown->Form->CellFormat().Type, TImageType::Auto);
        shown->Form->cbxWriteHTML->click();
        shown->Form->edtFilename->setText(QString::fromStdString((out / "index.html").string()));
        shown->Form->btnGenerate->click();
    });
    form.Generate1Click();

    EXPECT_TRUE(services.errors.isEmpty()) << services.errors.join("\n").toStdString();
    EXPECT_EQ(services.informations, QStringList { "Slicewright is done.  Enjoy the interface!" });
    std::set<std::string> stems;
    for (const std::string& name : test::FolderEntries(out))
        stems.insert(fs::path(name).stem().string());
    EXPECT_EQ(stems, (std::set<std::string> { "index", "r1_c1", "r1_c2", "r2_c1", "r2_c2" }));
    EXPECT_EQ(GenerateDlg, nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(shown.isNull());
}

// Stored projects rely on the web-cube GIF of a file that names no format.
TEST(GenerateFromMainWindow, AProjectThatNamesNoFormatKeepsTheWebCubeGif)
{
    FakeServices services;
    test::TempFolder folder;
    const std::string design = folder / "design.bmp";
    TBitmap picture;
    picture.SetSize(30, 20);
    picture.SaveToFile(design);
    const std::string project = folder / "old.swr";
    test::WriteFileBytes(project, "[Settings]\r\nGraphicImage=design.bmp\r\n");

    TMainForm form;
    form.LoadProject(project);
    std::optional<TImageType> type;
    QTimer::singleShot(0, &form, [&type] {
        type = GenerateDlg->Form->CellFormat().Type;
        GenerateDlg->close();
    });
    form.Generate1Click();
    EXPECT_EQ(type, TImageType::Gif);
    form.SaveProject(project);
    EXPECT_EQ(test::ReadFileBytes(project), "[Settings]\r\nGraphicImage=design.bmp\r\n");
}

// The dialog cuts the picture on screen with the lines it was given: a
// project changed on disk meanwhile is read again, and asked about, only
// once the dialog has closed.
TEST(GenerateFromMainWindow, AProjectChangedOnDiskIsReadAgainOnceTheDialogCloses)
{
    FakeServices services;
    test::TempFolder folder;
    TBitmap picture;
    picture.SetSize(30, 20);
    picture.SaveToFile(folder / "design.bmp");
    const std::string project = folder / "p.swr";
    test::WriteFileBytes(project, "[Settings]\r\nGraphicImage=design.bmp\r\n");

    TMainForm form;
    form.LoadProject(project);
    form.DrawColumn(true, true, 10, 0); // unsaved: a reload asks first
    QStringList askedWhileOpen;
    QTimer::singleShot(0, &form, [&] {
        test::WriteFileBytes(
            project, "[Settings]\r\nGraphicImage=design.bmp\r\n[Columns]\r\nPosition1=5\r\n");
        QTest::qWait(800);
        askedWhileOpen = services.confirmations;
        GenerateDlg->close();
    });
    form.Generate1Click();
    EXPECT_TRUE(askedWhileOpen.isEmpty()) << askedWhileOpen.join("\n").toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return services.confirmations.size() == 1; }, 3000));
    EXPECT_EQ(form.ColumnList()->Lines(), (TCutLines { { "5", true } }));
}

TEST(GenerateFromMainWindow, WithoutAPictureTheRunIsRefused)
{
    FakeServices services;
    test::TempFolder folder;
    TMainForm form;
    QTimer::singleShot(0, &form, [&folder] {
        ASSERT_NE(GenerateDlg, nullptr);
        GenerateDlg->Form->edtOutputPath->setText(QString::fromStdString(folder.Path().string()));
        GenerateDlg->Form->btnGenerate->click();
        GenerateDlg->close();
    });
    form.Generate1Click();

    ASSERT_EQ(services.errors.size(), 1);
    EXPECT_TRUE(services.errors[0].startsWith("There is no picture to cut"))
        << services.errors[0].toStdString();
    EXPECT_EQ(folder.EntryCount(), 0u);
    EXPECT_FALSE(form.PictureView()->HasPicture());
}

} // namespace
} // namespace sw
