#include "desktop/generate/generate_dialog.h"

#include "core/base/errors.h"
#include "core/imaging/bitmap.h"
#include "core/picture_formats.h"
#include "desktop/generate/estimate_panel.h"
#include "desktop/generate/folder_chooser.h"
#include "desktop/generate/generate_settings_form.h"
#include "desktop/generate/output_choice.h"
#include "desktop/generate/run_log.h"

#include "desktop/shell/fake_services.h"
#include "support/folder_entries.h"
#include "support/temp_folder.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>

namespace sw {
namespace {

namespace fs = std::filesystem;
using test::FolderEntries;
using test::TempFolder;

constexpr char kDoneMessage[] = "Slicewright is done.  Enjoy the interface!";

QColor ButtonFace()
{
    return QApplication::palette().color(QPalette::Button);
}

QColor WindowColor()
{
    return QApplication::palette().color(QPalette::Base);
}

QStringList Items(const QListWidget* list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->item(i)->text();
    return items;
}

// A 20 x 10 picture in two colours, cut at x = 8 and y = 4.
TGenerationInput SmallInput(const TBitmap& picture)
{
    TGenerationInput input;
    input.Picture = &picture;
    input.ColumnCaptions = { "8" };
    input.RowCaptions = { "4" };
    input.TransparentColor = RGB(255, 0, 255);
    return input;
}

TBitmap SmallPicture()
{
    TBitmap picture;
    picture.SetSize(20, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            picture.Canvas().SetPixel(x, y, x < 8 ? RGB(255, 0, 255) : RGB(0, 102, 204));
    return picture;
}

class GenerateDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterPictureFormats(); }

    void SetUp() override
    {
        dialog = new TGenerateDlg(SmallInput(picture), std::string());
        // The page-file dialog answers with pageAnswer; the folder chooser
        // with folderAnswer (empty: Cancel).
        dialog->Form->RunModal = [this](QDialog& shown) {
            ++modalCount;
            if (&shown == dialog->Form->HTMLSaveDialog) {
                if (pageAnswer.isEmpty())
                    return false;
                dialog->Form->HTMLSaveDialog->selectFile(pageAnswer);
                return true;
            }
            auto* chooser = qobject_cast<TfrmSelect*>(&shown);
            EXPECT_NE(chooser, nullptr);
            chooserSelectionOnShow = chooser->stvFolders->Selection();
            if (!folderAnswer)
                return false;
            chooser->stvFolders->SetSelection(*folderAnswer);
            return true;
        };
    }

    void TearDown() override
    {
        delete dialog.data();
        delete frmSelect;
    }

    void ChoosePage(const std::string& fileName)
    {
        pageAnswer = QString::fromStdString(fileName);
        dialog->Form->sbtnHTMLFileClick();
    }

    // Lets the deferred deletion of a closed dialog happen.
    static void FlushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Lets the run on its worker come to its end; a dialog that closes
    // when it is done may be gone by then.
    static void WaitForTheRun(const QPointer<TGenerateDlg>& shown)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return shown.isNull() || !shown->IsRunning(); }, 60000));
    }

    FakeServices services;
    TBitmap picture = SmallPicture();
    TempFolder folder;
    QPointer<TGenerateDlg> dialog;
    QString pageAnswer;
    std::optional<QString> folderAnswer;
    QString chooserSelectionOnShow;
    int modalCount = 0;
};

TEST_F(GenerateDialog, OpensOnTheOptionsPageWithItsStartValues)
{
    EXPECT_EQ(GenerateDlg, dialog.data());
    EXPECT_EQ(dialog->windowTitle(), "Generate");
    // Laid out by its layouts, as small as they allow.
    EXPECT_EQ(dialog->size(), dialog->sizeHint());
    EXPECT_EQ(dialog->geometry().center(), QApplication::primaryScreen()->availableGeometry().center());
    EXPECT_TRUE(dialog->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_TRUE(dialog->PageControl1->tabBar()->isHidden());
    EXPECT_EQ(dialog->PageControl1->currentWidget(), dialog->tbshtOptions);
    EXPECT_TRUE(dialog->btnClose->isDefault());
    EXPECT_FALSE(dialog->Form->btnGenerate->isDefault());

    EXPECT_FALSE(dialog->Form->cbxWriteHTML->isChecked());
    EXPECT_TRUE(dialog->Form->edtFilename->text().isEmpty());
    EXPECT_TRUE(dialog->Form->edtFilename->isReadOnly());
    EXPECT_FALSE(dialog->Form->sbtnHTMLFile->isEnabled());
    EXPECT_TRUE(dialog->Form->sbtnSelFold->isEnabled());
    EXPECT_EQ(dialog->Form->edtBCSDescription->text(), "Code snippet generated by Slicewright");
    EXPECT_FALSE(dialog->Form->edtBCSDescription->isEnabled());
    EXPECT_EQ(dialog->Form->edtBCSDescription->palette().color(QPalette::Base), ButtonFace());
    EXPECT_EQ(dialog->Form->edtFilename->palette().color(QPalette::Base), ButtonFace());
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    EXPECT_EQ(dialog->Form->edtOutputPath->text(), QDir(desktop).exists() ? desktop : QDir::homePath());
    EXPECT_EQ(dialog->Form->rgOutputImagesItems->checkedId(), 0);
    EXPECT_TRUE(dialog->Form->cbxDeleteTemp->isChecked());
    EXPECT_TRUE(dialog->Log->lbxRowFiles->isHidden());

    EXPECT_EQ(dialog->Form->HTMLSaveDialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->Form->HTMLSaveDialog->defaultSuffix(), "html");
    EXPECT_EQ(dialog->Form->HTMLSaveDialog->nameFilters(),
        QStringList({ "HTML files (*.html *.htm)", "Server side (SHTML) files (*.shtml)",
            "Extended markup files (*.xml)", "Active server pages (*.asp)", "Text files (*.txt)",
            "Bramble Code Snippets (*.bcs)", "All files (*)" }));
}

TEST_F(GenerateDialog, TabOrderOfTheOptionsPage)
{
    // With a snippet page every control of the page can take the focus.
    dialog->Form->cbxWriteHTML->click();
    ChoosePage(folder / "page.bcs");
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    dialog->activateWindow();
    dialog->Form->cbxWriteHTML->setFocus();
    QStringList order { QApplication::focusWidget()->objectName() };
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(order,
        QStringList({ "cbxWriteHTML", "edtFilename", "btnGenerate", "edtOutputPath", "edtBCSDescription",
            "rgOutputImages0", "cbxDeleteTemp" }));
}

TEST(PageFileRules, OutputPathAndSnippetKind)
{
    struct Case {
        const char* pageFile;
        const char* outputPath;
        bool snippet;
    };
    const Case cases[] = {
        { "/web/index.html", "/web", false },
        { "/index.html", "", false },
        { "index.html", "", false },
        { "/web/page.bcs", "/web", true },
        { "/web/page.BcS", "/web", true },
        { "/web/page.xbcsx", "/web", true },
        { "/web.bcs/index.html", "/web.bcs", false },
        { "/web/page", "/web", false },
        { "", "", false },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OutputPathOfPage(c.pageFile), c.outputPath) << c.pageFile;
        EXPECT_EQ(IsSnippetPage(c.pageFile), c.snippet) << c.pageFile;
    }
}

TEST(DefaultOutputFolder, TheDesktopWhenItExistsElseTheProjectFolderElseHome)
{
    TempFolder folder;
    const QString desktop = QString::fromStdString(folder / "Desktop");
    const QString project = QString::fromStdString(folder / "web");
    fs::create_directory(folder.Path() / "web");
    struct Case {
        bool desktopExists;
        std::string projectFileName;
        QString expected;
    };
    const Case cases[] = {
        { true, folder / "web/page.swr", desktop },
        { false, folder / "web/page.swr", project },
        { false, folder / "gone/page.swr", "/home/x" },
        // A new project has no file yet.
        { false, "*", "/home/x" },
    };
    for (const Case& c : cases) {
        if (c.desktopExists)
            fs::create_directory(folder.Path() / "Desktop");
        else
            fs::remove(folder.Path() / "Desktop");
        EXPECT_EQ(DefaultOutputFolder(desktop, c.projectFileName, "/home/x"), c.expected)
            << c.projectFileName;
    }
}

TEST_F(GenerateDialog, EnablingFollowsTheCheckBoxAndThePageKind)
{
    dialog->Form->cbxWriteHTML->click();
    EXPECT_TRUE(dialog->Form->sbtnHTMLFile->isEnabled());
    EXPECT_FALSE(dialog->Form->edtBCSDescription->isEnabled());

    ChoosePage(folder / "page.bcs");
    EXPECT_EQ(dialog->Form->edtFilename->text().toStdString(), folder / "page.bcs");
    EXPECT_EQ(dialog->Form->edtOutputPath->text().toStdString(), folder.Path().string());
    EXPECT_TRUE(dialog->Form->edtBCSDescription->isEnabled());
    EXPECT_EQ(dialog->Form->edtBCSDescription->palette().color(QPalette::Base), WindowColor());

    // Unchecking disables the description but keeps its colour.
    dialog->Form->cbxWriteHTML->click();
    EXPECT_FALSE(dialog->Form->sbtnHTMLFile->isEnabled());
    EXPECT_FALSE(dialog->Form->edtBCSDescription->isEnabled());
    EXPECT_EQ(dialog->Form->edtBCSDescription->palette().color(QPalette::Base), WindowColor());

    dialog->Form->cbxWriteHTML->click();
    EXPECT_TRUE(dialog->Form->edtBCSDescription->isEnabled());
    ChoosePage(folder / "index.html");
    EXPECT_FALSE(dialog->Form->edtBCSDescription->isEnabled());
    EXPECT_EQ(dialog->Form->edtBCSDescription->palette().color(QPalette::Base), ButtonFace());
}

TEST_F(GenerateDialog, ChoosingThePageSetsTheOutputPathOnlyWhenTheNameChanges)
{
    const std::string page = folder / "index.html";
    dialog->Form->cbxWriteHTML->click();
    ChoosePage(page);
    EXPECT_EQ(dialog->Form->edtOutputPath->text().toStdString(), folder.Path().string());

    dialog->Form->edtOutputPath->setText("/elsewhere");
    ChoosePage(page);
    EXPECT_EQ(dialog->Form->edtOutputPath->text(), "/elsewhere");

    // Cancelling the file dialog changes nothing.
    pageAnswer.clear();
    dialog->Form->sbtnHTMLFileClick();
    EXPECT_EQ(dialog->Form->edtFilename->text().toStdString(), page);
    EXPECT_EQ(dialog->Form->edtOutputPath->text(), "/elsewhere");

    ChoosePage("/page.htm");
    EXPECT_EQ(dialog->Form->edtOutputPath->text(), "");
}

TEST_F(GenerateDialog, FolderChooserIsKeptAndItsChoiceEndsInASeparator)
{
    fs::create_directory(folder.Path() / "a");
    dialog->show();
    dialog->Form->edtOutputPath->setText(QString::fromStdString(folder / "a"));
    folderAnswer = QString::fromStdString(folder.Path().string());
    dialog->Form->sbtnSelFoldClick();
    EXPECT_EQ(chooserSelectionOnShow.toStdString(), folder / "a");
    EXPECT_EQ(dialog->Form->edtOutputPath->text().toStdString(), folder.Path().string() + "/");
    TfrmSelect* first = frmSelect;
    ASSERT_NE(first, nullptr);

    // A path that names no folder leaves the last choice selected; Cancel
    // leaves the output path alone.
    dialog->Form->edtOutputPath->setText("/no/such/folder");
    folderAnswer.reset();
    dialog->Form->sbtnSelFoldClick();
    EXPECT_EQ(frmSelect, first);
    EXPECT_EQ(chooserSelectionOnShow.toStdString(), folder.Path().string());
    EXPECT_EQ(dialog->Form->edtOutputPath->text(), "/no/such/folder");

    // The top node gives the empty text, which becomes the root folder.
    folderAnswer = "/";
    dialog->Form->sbtnSelFoldClick();
    EXPECT_EQ(dialog->Form->edtOutputPath->text(), "/");
    EXPECT_EQ(modalCount, 3);
}

TEST_F(GenerateDialog, ARunWithoutItsPageFileOrPictureIsRefusedBeforeWritingAnything)
{
    const TBitmap empty;
    struct Case {
        const TBitmap* picture;
        bool writeHTML;
        const char* message;
    };
    const Case cases[] = {
        { &picture, true, "No page file" },
        { nullptr, false, "There is no picture to cut" },
        { &empty, false, "There is no picture to cut" },
    };
    for (const Case& c : cases) {
        FakeServices boxes;
        TGenerationInput input = SmallInput(picture);
        input.Picture = c.picture;
        TGenerateDlg refusing(input, std::string());
        refusing.Form->edtOutputPath->setText(QString::fromStdString(folder.Path().string()));
        refusing.Form->cbxWriteHTML->setChecked(c.writeHTML);
        refusing.btnGenerateClick();

        ASSERT_EQ(boxes.errors.size(), 1) << c.message;
        EXPECT_TRUE(boxes.errors[0].startsWith(c.message)) << boxes.errors[0].toStdString();
        EXPECT_EQ(folder.EntryCount(), 0u);
        EXPECT_EQ(refusing.PageControl1->currentWidget(), refusing.tbshtOptions);
        EXPECT_FALSE(refusing.IsRunning());
        EXPECT_EQ(boxes.informations.size(), 0);
    }
}

// Passes every call on to the fake and records what the dialog shows at the
// moment the final message comes up.
class WatchingServices final : public PlatformServices {
public:
    explicit WatchingServices(FakeServices& inner)
        : m_inner(inner)
    {
        SetServices(this);
    }
    ~WatchingServices() override { SetServices(&m_inner); }

    void MessageBeep(BeepType type) override { m_inner.MessageBeep(type); }
    bool Confirm(const QString& text) override { return m_inner.Confirm(text); }
    SaveChangesAnswer AskSaveChanges(const QString& text) override { return m_inner.AskSaveChanges(text); }
    void ShowError(const QString& text) override { m_inner.ShowError(text); }
    void OpenUrl(const QString& address) override { m_inner.OpenUrl(address); }
    void ShowInformation(const QString& text) override
    {
        m_inner.ShowInformation(text);
        Watch();
    }
    bool OfferAction(const QString& text, const QString& action) override
    {
        const bool chosen = m_inner.OfferAction(text, action);
        Watch();
        return chosen;
    }

    std::function<void()> onInformation;
    QString log;
    QStringList finished;
    QStringList rowFiles;
    bool onProgressPage = false;
    int progress = -1;

private:
    void Watch()
    {
        if (GenerateDlg != nullptr) {
            log = GenerateDlg->Log->mmoGenerate->toPlainText();
            finished = Items(GenerateDlg->Log->lbxFinishedFiles);
            rowFiles = Items(GenerateDlg->Log->lbxRowFiles);
            onProgressPage = GenerateDlg->PageControl1->currentWidget() == GenerateDlg->tbshtGenerate;
            progress = GenerateDlg->pbRun->value();
        }
        if (onInformation)
            onInformation();
    }

    FakeServices& m_inner;
};

TEST_F(GenerateDialog, AWholeRunWritesTheFilesReportsAndClosesTheDialog)
{
    WatchingServices watching(services);
    const std::string out = folder.Path().string();
    dialog->Form->edtOutputPath->setText(QString::fromStdString(out));
    dialog->Form->cbxWriteHTML->click();
    ChoosePage(folder / "index.html");
    services.acceptOffer = true;

    // Shown the way the main window shows it. While the run goes on its
    // worker, every way of closing must do nothing.
    bool closeRefused = false;
    QTimer::singleShot(0, dialog, [this, &closeRefused] {
        QTest::mouseClick(dialog->Form->btnGenerate, Qt::LeftButton);
        ASSERT_TRUE(dialog->IsRunning());
        dialog->btnClose->click();
        QTest::keyClick(dialog, Qt::Key_Escape);
        dialog->close();
        dialog->reject();
        closeRefused = dialog->isVisible() && GenerateDlg == dialog;
    });
    dialog->exec();

    EXPECT_TRUE(closeRefused);
    EXPECT_EQ(services.informations, QStringList { kDoneMessage });
    EXPECT_EQ(services.offeredActions, QStringList { "&Open page" });
    EXPECT_EQ(services.openedUrls,
        QStringList { QUrl::fromLocalFile(QString::fromStdString(folder / "index.html")).toString() });
    EXPECT_EQ(services.exclamations, 1);
    EXPECT_TRUE(services.errors.isEmpty());
    EXPECT_TRUE(watching.onProgressPage);
    EXPECT_TRUE(watching.log.startsWith("Generating temporary images...\n")) << watching.log.toStdString();
    EXPECT_TRUE(watching.log.endsWith("\nDone.")) << watching.log.toStdString();
    const QString p = QString::fromStdString(out) + "/";
    EXPECT_EQ(watching.finished,
        QStringList({ p + "r1_c1.gif", p + "r1_c2.gif", p + "r2_c1.gif", p + "r2_c2.gif" }));
    EXPECT_EQ(watching.rowFiles, QStringList({ p + "r1.bmp", p + "r2.bmp" }));
    EXPECT_EQ(watching.progress, 4);
    EXPECT_EQ(FolderEntries(folder.Path()),
        (std::set<std::string> { "index.html", "r1_c1.gif", "r1_c2.gif", "r2_c1.gif", "r2_c2.gif" }));

    EXPECT_EQ(GenerateDlg, nullptr);
    FlushDeletes();
    EXPECT_TRUE(dialog.isNull());
}

TEST_F(GenerateDialog, SkippedPiecesAreCountedApartFromWrittenImages)
{
    WatchingServices watching(services);
    TGenerationInput input = SmallInput(picture);
    // A second line at x = 8 leaves a column without pixels: one cell a row.
    input.ColumnCaptions = { "8", "8" };
    // A filled cell has no image but is done all the same.
    TCellPropertyMap cells;
    cells[TCellRef { 2, 3 }].Fill = TCellFill::Auto;
    QPointer<TGenerateDlg> run = new TGenerateDlg(input, std::string(), nullptr, std::nullopt, cells);
    run->Form->edtOutputPath->setText(QString::fromStdString(folder.Path().string()));
    run->show();
    QString barText;
    watching.onInformation = [&] { barText = run->pbRun->text(); };
    run->btnGenerateClick();
    WaitForTheRun(run);

    EXPECT_EQ(
        services.informations, QStringList { QString(kDoneMessage) + "\n\n3 images written, 2 skipped." });
    // No page was written, so there is none to offer.
    EXPECT_TRUE(services.offeredActions.isEmpty());
    EXPECT_EQ(watching.progress, 6);
    EXPECT_EQ(barText, "3 written, 2 skipped of 6 images");
    EXPECT_EQ(folder.EntryCount(), 3u);
}

TEST_F(GenerateDialog, AFailedRunIsShownStaysOnTheProgressPageAndCanBeClosed)
{
    dialog->Form->edtOutputPath->setText(QString::fromStdString(folder / "missing"));
    dialog->Form->rgOutputImagesItems->button(1)->click();
    dialog->show();

    const std::string failure
        = "Cannot create file " + folder / "missing" + "/r1_c1.jpg (No such file or directory).";
    dialog->Form->btnGenerate->click();
    WaitForTheRun(dialog);
    EXPECT_EQ(services.errors, QStringList { QString::fromStdString(failure) });
    EXPECT_EQ(dialog->PageControl1->currentWidget(), dialog->tbshtGenerate);
    EXPECT_TRUE(dialog->btnClose->isEnabled());
    EXPECT_FALSE(dialog->btnStop->isVisible());
    EXPECT_TRUE(services.informations.isEmpty());
    EXPECT_TRUE(
        dialog->Log->mmoGenerate->toPlainText().endsWith(QString::fromStdString("\nFailed: " + failure)))
        << dialog->Log->mmoGenerate->toPlainText().toStdString();

    // Enter goes back to the options, where the folder can be put right.
    ASSERT_TRUE(dialog->btnBack->isVisible());
    QTest::keyClick(dialog, Qt::Key_Return);
    EXPECT_EQ(GenerateDlg, dialog.data());
    EXPECT_EQ(dialog->PageControl1->currentWidget(), dialog->tbshtOptions);
    EXPECT_FALSE(dialog->btnBack->isVisible());
    EXPECT_TRUE(dialog->btnClose->isDefault());

    // Run again in the same dialog: the strip list starts afresh.
    dialog->btnGenerateClick();
    WaitForTheRun(dialog);
    EXPECT_EQ(services.errors.size(), 2);
    EXPECT_EQ(Items(dialog->Log->lbxRowFiles),
        QStringList({ QString::fromStdString(folder / "missing" + "/r1.bmp"),
            QString::fromStdString(folder / "missing" + "/r2.bmp") }));

    dialog->btnClose->click();
    EXPECT_EQ(GenerateDlg, nullptr);
    FlushDeletes();
    EXPECT_TRUE(dialog.isNull());
}

// Stop ends the run as a failed one ends, its files removed, without an
// error box: the user asked for it.
TEST_F(GenerateDialog, StopEndsTheRunAndLeavesNoFilesOfIt)
{
    TBitmap large;
    large.SetSize(1200, 1200);
    for (int y = 0; y < 1200; y += 7)
        large.Canvas().SetPixel(y, y, RGB(0, 102, 204));
    TGenerationInput input = SmallInput(large);
    input.ColumnCaptions.clear();
    input.RowCaptions.clear();
    for (int at = 40; at < 1200; at += 40) {
        input.ColumnCaptions.push_back(std::to_string(at));
        input.RowCaptions.push_back(std::to_string(at));
    }
    const fs::path out = folder.Path() / "out";
    fs::create_directory(out);
    test::WriteFileBytes(out / "r1_c1.gif", "an earlier run's cell");
    QPointer<TGenerateDlg> stopping
        = new TGenerateDlg(input, std::string(), nullptr, TOutputValues { { "Format", "png" } });
    stopping->Form->edtOutputPath->setText(QString::fromStdString(out.string()));
    stopping->show();
    stopping->btnGenerateClick();
    ASSERT_TRUE(stopping->IsRunning());
    EXPECT_TRUE(stopping->btnStop->isVisible());
    EXPECT_FALSE(stopping->btnClose->isEnabled());
    stopping->btnStop->click();
    WaitForTheRun(stopping);

    ASSERT_FALSE(stopping.isNull());
    EXPECT_TRUE(services.errors.isEmpty()) << services.errors.join("\n").toStdString();
    EXPECT_TRUE(services.informations.isEmpty());
    EXPECT_TRUE(stopping->Log->mmoGenerate->toPlainText().endsWith("\nStopped by the user."))
        << stopping->Log->mmoGenerate->toPlainText().toStdString();
    EXPECT_TRUE(stopping->btnBack->isVisible());
    EXPECT_TRUE(stopping->btnClose->isEnabled());
    EXPECT_EQ(FolderEntries(out), std::set<std::string> { "r1_c1.gif" });
    EXPECT_EQ(test::ReadFileBytes(out / "r1_c1.gif"), "an earlier run's cell");
    stopping->btnClose->click();
    FlushDeletes();
}

TEST_F(GenerateDialog, EnterOutsideAButtonClosesTheOptionsPage)
{
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    dialog->Form->edtOutputPath->setFocus();
    QTest::keyClick(dialog->Form->edtOutputPath, Qt::Key_Return);
    EXPECT_EQ(GenerateDlg, nullptr);
    EXPECT_EQ(folder.EntryCount(), 0u);
    FlushDeletes();
    EXPECT_TRUE(dialog.isNull());
}

TEST_F(GenerateDialog, TheOptionsFollowTheChosenFormat)
{
    struct Case {
        TImageType type;
        bool palette, quality, jpeg, floor, alpha;
    };
    const Case cases[] = {
        { TImageType::Gif, false, false, false, false, false },
        { TImageType::Jpg, false, true, true, false, false },
        { TImageType::Jpeg, false, true, true, false, false },
        { TImageType::GifAdaptive, true, false, false, false, false },
        { TImageType::Png8, true, false, false, false, false },
        { TImageType::Png, false, false, false, false, true },
        { TImageType::Webp, false, true, false, false, true },
        { TImageType::WebpLossless, false, false, false, false, true },
        { TImageType::Auto, false, true, true, true, true },
    };
    for (const Case& c : cases) {
        const std::string name = ImageTypeName(c.type);
        dialog->Form->rgOutputImagesItems->button(static_cast<int>(c.type))->click();
        EXPECT_EQ(dialog->Form->Settings().CellFormat.Type, c.type) << name;
        EXPECT_EQ(dialog->Form->speColors->isEnabled(), c.palette) << name;
        EXPECT_EQ(dialog->Form->cbDither->isEnabled(), c.palette) << name;
        EXPECT_EQ(dialog->Form->speQuality->isEnabled(), c.quality) << name;
        EXPECT_EQ(dialog->Form->cbxProgressive->isEnabled(), c.jpeg) << name;
        EXPECT_EQ(dialog->Form->cbxFullChroma->isEnabled(), c.jpeg) << name;
        EXPECT_EQ(dialog->Form->speMinPsnr->isEnabled(), c.floor) << name;
        EXPECT_EQ(dialog->Form->cbxKeepAlpha->isEnabled(), c.alpha) << name;
    }
}

TEST(GenerateDialogOutput, TheChoiceGoesBackToTheProjectValues)
{
    TBitmap picture = SmallPicture();
    struct Case {
        const char* what;
        std::optional<TOutputValues> stored;
        std::function<void(TGenerateDlg&)> change;
        std::optional<TOutputValues> expected;
    };
    const Case cases[] = {
        // A project without the section opens on GIF and stays without it.
        { "none kept", std::nullopt, [](TGenerateDlg&) {}, std::nullopt },
        { "none, format chosen", std::nullopt,
            [](TGenerateDlg& d) { d.Form->rgOutputImagesItems->button(int(TImageType::Png8))->click(); },
            TOutputValues { { "Format", "png8" } } },
        { "none, setting changed", std::nullopt, [](TGenerateDlg& d) { d.Form->speQuality->setValue(75); },
            TOutputValues { { "Format", "gif" }, { "Quality", "75" } } },
        // Values the user left alone stay as stored, unknown and bad ones too.
        { "stored kept",
            TOutputValues {
                { "Format", "auto" }, { "MinPsnr", "38.55" }, { "Colors", "999" }, { "Future", "x" } },
            [](TGenerateDlg&) {},
            TOutputValues {
                { "Format", "auto" }, { "MinPsnr", "38.55" }, { "Colors", "999" }, { "Future", "x" } } },
        { "stored, changed", TOutputValues { { "Format", "png8" }, { "Colors", "64" }, { "Dither", "fs" } },
            [](TGenerateDlg& d) {
                d.Form->cbDither->setCurrentIndex(int(TDither::Ordered));
                d.Form->speMinPsnr->setValue(42.5);
                d.Form->rgOutputImagesItems->button(int(TImageType::Jpg))->click();
            },
            TOutputValues {
                { "Format", "jpg" }, { "Colors", "64" }, { "Dither", "ordered" }, { "MinPsnr", "42.5" } } },
        // The page options are run keys: no format comes with them, and one
        // back at its default leaves no key behind.
        { "none, page options chosen", std::nullopt,
            [](TGenerateDlg& d) {
                d.Form->cbPageStyle->setCurrentIndex(d.Form->cbPageStyle->findData("email"));
                d.Form->edtBaseUrl->setText("https://cdn.example.com/mail/");
                d.Form->cbxRetina->click();
                d.Form->cbxAlsoHalfSize->click();
                d.Form->cbxAutoFill->click();
            },
            TOutputValues { { "PageStyle", "email" }, { "BaseUrl", "https://cdn.example.com/mail/" },
                { "Scale", "2" }, { "AlsoHalfSize", "1" }, { "AutoFill", "1" } } },
        { "none, modern page and AVIF options chosen", std::nullopt,
            [](TGenerateDlg& d) {
                d.Form->cbxWriteHTML->click();
                d.Form->edtFilename->setText("/web/index.html");
                d.Form->cbPageStyle->setCurrentIndex(d.Form->cbPageStyle->findData("grid"));
                EXPECT_TRUE(d.Form->edtSources->isEnabled());
                EXPECT_TRUE(d.Form->edtBCSDescription->isEnabled());
                d.Form->edtLang->setText("de");
                d.Form->edtTitle->setText("Hafen");
                d.Form->edtBCSDescription->setText("Boote");
                d.Form->edtSources->setText("avif, webp");
                d.Form->speFold->setValue(600);
                d.Form->speBreakpoint->setValue(480);
                d.Form->rgOutputImagesItems->button(int(TImageType::Auto))->click();
                d.Form->speMinScore->setValue(1.5);
                d.Form->speAvifSpeed->setValue(5);
                d.Form->cbxAutoAvif->click();
            },
            TOutputValues { { "WriteHtml", "1" }, { "PageFile", "/web/index.html" },
                { "OutputFolder", "/web" }, { "Format", "auto" }, { "MinScore", "1.5" }, { "AvifSpeed", "5" },
                { "AutoAvif", "1" }, { "PageStyle", "grid" }, { "Lang", "de" }, { "Title", "Hafen" },
                { "Description", "Boote" }, { "Sources", "avif,webp" }, { "Fold", "600" },
                { "Breakpoint", "480" } } },
        { "stored page options, back to classic",
            TOutputValues {
                { "pagestyle", "grid" }, { "Scale", "2" }, { "NameTemplate", "{project}_{row}" } },
            [](TGenerateDlg& d) {
                d.Form->cbPageStyle->setCurrentIndex(d.Form->cbPageStyle->findData("classic"));
                d.Form->cbxRetina->click();
            },
            TOutputValues { { "NameTemplate", "{project}_{row}" } } },
        // The page and the folder are kept as chosen, the tick only while on.
        { "none, page chosen", std::nullopt,
            [](TGenerateDlg& d) {
                d.Form->cbxWriteHTML->click();
                d.Form->edtFilename->setText("/web/index.html");
            },
            TOutputValues {
                { "WriteHtml", "1" }, { "PageFile", "/web/index.html" }, { "OutputFolder", "/web" } } },
        { "stored page, unticked",
            TOutputValues { { "WriteHtml", "1" }, { "PageFile", "/web/a.bcs" }, { "OutputFolder", "/out/" } },
            [](TGenerateDlg& d) {
                EXPECT_TRUE(d.Form->edtBCSDescription->isEnabled());
                EXPECT_EQ(d.Form->edtOutputPath->text(), "/out/");
                d.Form->cbxWriteHTML->click();
            },
            TOutputValues { { "PageFile", "/web/a.bcs" }, { "OutputFolder", "/out/" } } },
    };
    for (const Case& c : cases) {
        TGenerateDlg dialog(SmallInput(picture), std::string(), nullptr, c.stored);
        c.change(dialog);
        EXPECT_EQ(dialog.Form->OutputValues(), c.expected) << c.what;
        // What was written opens on the same choice.
        TGenerateDlg again(SmallInput(picture), std::string(), nullptr, c.expected);
        const TCellFormat shown = again.Form->CellFormat();
        const TCellFormat chosen = dialog.Form->CellFormat();
        for (const TOutputKey& key : OutputKeys())
            EXPECT_EQ(OutputText(shown, key.Key), OutputText(chosen, key.Key)) << c.what << " " << key.Key;
        EXPECT_EQ(again.Form->OutputValues(), c.expected) << c.what;
        for (const TRunKey& key : RunKeys())
            EXPECT_EQ(RunText(again.Form->Settings(), key.Key), RunText(dialog.Form->Settings(), key.Key))
                << c.what << " " << key.Key;
    }
}

TEST_F(GenerateDialog, APageAndFolderInTheProjectsFolderAreKeptRelativeToIt)
{
    const std::string project = folder / "site.swr";
    TGenerateDlg first(SmallInput(picture), project);
    first.Form->cbxWriteHTML->click();
    first.Form->edtFilename->setText(QString::fromStdString(folder / "web/index.html"));
    const std::optional<TOutputValues> kept = first.Form->OutputValues();
    EXPECT_EQ(kept,
        (TOutputValues {
            { "WriteHtml", "1" }, { "PageFile", "web/index.html" }, { "OutputFolder", "web" } }));

    TGenerateDlg again(SmallInput(picture), project, nullptr, kept);
    EXPECT_TRUE(again.Form->cbxWriteHTML->isChecked());
    EXPECT_TRUE(again.Form->sbtnHTMLFile->isEnabled());
    EXPECT_EQ(again.Form->edtFilename->text().toStdString(), folder / "web/index.html");
    EXPECT_EQ(again.Form->edtOutputPath->text().toStdString(), folder / "web");
    EXPECT_EQ(again.Form->OutputValues(), kept);
    // The project's own folder, and one outside it.
    again.Form->edtOutputPath->setText(QString::fromStdString(folder.Path().string() + "/"));
    EXPECT_EQ(again.Form->OutputValues()->at("OutputFolder"), ".");
    again.Form->edtOutputPath->setText("/elsewhere/");
    EXPECT_EQ(again.Form->OutputValues()->at("OutputFolder"), "/elsewhere/");
}

TEST_F(GenerateDialog, ThePageStyleTheCellsAndTheThreadsReachTheRun)
{
    delete dialog.data();
    TCellPropertyMap cells;
    cells[TCellRef { 1, 2 }].Alt = "Logo & co";
    dialog = new TGenerateDlg(SmallInput(picture), folder / "site.swr", nullptr,
        TOutputValues { { "PageStyle", "html5" }, { "NameTemplate", "{project}_{row}_{col}" },
            { "BaseUrl", "https://cdn.example.com/" } },
        cells);
    EXPECT_EQ(dialog->Form->cbPageStyle->currentText(), "HTML5");
    EXPECT_FALSE(dialog->Form->cbPageStyle->isEnabled());
    dialog->Form->cbxWriteHTML->click();
    EXPECT_TRUE(dialog->Form->cbPageStyle->isEnabled());
    EXPECT_FALSE(dialog->Form->edtBaseUrl->isEnabled());
    // Greyed, the base URL is kept for the e-mail style but not used.
    EXPECT_EQ(dialog->Form->Settings().BaseUrl, "");
    EXPECT_EQ(dialog->Form->OutputValues()->at("BaseUrl"), "https://cdn.example.com/");
    dialog->Form->speThreads->setValue(3);
    EXPECT_EQ(dialog->Form->Settings().Threads, 3);
    EXPECT_EQ(TGenerateDlg(SmallInput(picture), std::string()).Form->speThreads->value(), 3);
    dialog->Form->speThreads->setValue(0);
    EXPECT_EQ(dialog->Form->speThreads->text(), "Automatic");

    dialog->Form->edtOutputPath->setText(QString::fromStdString(folder.Path().string()));
    dialog->Form->edtFilename->setText(QString::fromStdString(folder / "index.html"));
    dialog->btnGenerateClick();
    WaitForTheRun(dialog);
    EXPECT_TRUE(services.errors.isEmpty()) << services.errors.join("\n").toStdString();
    const std::string page = test::ReadFileBytes(folder / "index.html");
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u) << page;
    EXPECT_NE(page.find("alt=\"Logo &amp; co\""), std::string::npos) << page;
    EXPECT_EQ(page.find("cdn.example.com"), std::string::npos) << page;
    EXPECT_TRUE(fs::exists(folder / "site_1_2.gif"));
    FlushDeletes();
}

TEST_F(GenerateDialog, TheSizeEstimateWeighsTheCellsTheRunWrites)
{
    // A repeated line gives a cell the run skips; the estimate leaves it out too.
    TGenerationInput input = SmallInput(picture);
    input.ColumnCaptions = { "8", "8" };
    TGenerateDlg estimating(input, std::string(), nullptr, TOutputValues { { "Format", "jpeg" } });
    estimating.Estimate->btnEstimate->click();
    EXPECT_TRUE(estimating.IsEstimating());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !estimating.IsEstimating(); }, 20000));

    const QTableWidget* table = estimating.Estimate->tblEstimate;
    std::map<std::string, uint64_t> bytes;
    for (int row = 0; row < table->rowCount(); ++row) {
        const std::string format = table->item(row, 0)->text().toStdString();
        bytes[format] = table->item(row, 1)->data(Qt::UserRole).toULongLong();
        EXPECT_GT(bytes[format], 0u) << format;
        EXPECT_EQ(table->item(row, 0)->font().bold(), format == "jpg, jpeg") << format;
    }
    EXPECT_EQ(bytes.size(), 8u);
    // Four cells, each given to one format.
    const QString mix = table->item(table->rowCount() - 1, 2)->text();
    int cells = 0;
    for (const QString& part : mix.split(QStringLiteral(", ")))
        cells += part.section(u' ', 1).toInt();
    EXPECT_EQ(cells, 4) << mix.toStdString();

    for (const char* format : { "gif", "png" }) {
        TempFolder out;
        TGenerationSettings settings;
        settings.OutputFolder = out.Path().string();
        settings.CellFormat.Type = std::string(format) == "gif" ? TImageType::Gif : TImageType::Png;
        struct : IGenerationSink {
            void LogLine(const std::string&) override { }
            void RowFileAdded(const std::string&) override { }
            void FileFinished(const std::string&) override { }
            void ProcessMessages() override { }
            void Beep() override { }
        } quiet;
        RunGeneration(input, settings, quiet);
        uint64_t written = 0;
        for (const auto& entry : fs::directory_iterator(out.Path()))
            if (entry.path().extension() != ".bmp")
                written += entry.file_size();
        EXPECT_EQ(bytes[format], written) << format;
    }
}

TEST_F(GenerateDialog, ClosingStopsTheEstimate)
{
    TBitmap large;
    large.SetSize(600, 400);
    TGenerationInput input = SmallInput(large);
    input.ColumnCaptions = { "100", "200", "300", "400", "500" };
    input.RowCaptions = { "100", "200", "300" };
    QPointer<TGenerateDlg> estimating = new TGenerateDlg(input, std::string());
    estimating->show();
    estimating->Estimate->btnEstimate->click();
    ASSERT_TRUE(estimating->IsEstimating());
    estimating->btnClose->click();
    EXPECT_FALSE(estimating->IsEstimating());
    FlushDeletes();
    EXPECT_TRUE(estimating.isNull());
}

} // namespace
} // namespace sw
