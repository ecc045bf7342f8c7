// The main window's files: new, open and save of projects, opening
// pictures, reading them again when they change on disk, the recent
// projects, and files dropped on the window.

#include "desktop/editor/main_form.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"
#include "core/generate/run_settings.h"
#include "core/project/project_file.h"
#include "desktop/editor/design_import.h"
#include "desktop/editor/editor_document.h"
#include "desktop/editor/file_dialogs.h"
#include "desktop/editor/file_watch.h"
#include "desktop/editor/main_actions.h"
#include "desktop/shell/file_names.h"
#include "desktop/shell/handler_guard.h"
#include "desktop/shell/platform_services.h"

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QScopeGuard>
#include <QUndoStack>

#include <utility>

namespace sw {

namespace {

// Where Qt puts the modified marker: "*" while modified, nothing otherwise.
constexpr char kModifiedMarker[] = "[*]";
constexpr char kProjectExtension[] = ".swr";

QString FileNameText(const std::string& fileName)
{
    return QFile::decodeName(QByteArray::fromStdString(fileName));
}

} // namespace

void TMainForm::New1Click()
{
    if (QuerySaveChanges())
        NewProject();
}

void TMainForm::NewProject()
{
    // The view and the grid keep their sizes.
    ++m_recordingPaused;
    imgInterface->Image().Picture().SetGraphic(nullptr);
    m_hasPicture = false;
    m_picture.reset();
    m_suggestions = {};
    ClearLines(true);
    pnlTransparent->SetColor(clNone);
    m_document->New();
    m_selectedCell.reset();
    ProjectFileName.assign(1, '*');
    m_fileWatch->StampProject({});
    SetCaption(QString::fromUtf8(AppName));
    --m_recordingPaused;
    ResetHistory();
}

const TCellPropertyMap& TMainForm::CellProperties() const
{
    return m_document->Cells();
}

QUndoStack* TMainForm::UndoStack() const
{
    return m_document->UndoStack();
}

bool TMainForm::IsModified() const
{
    return m_document->IsModified();
}

bool TMainForm::QuerySaveChanges()
{
    if (!IsModified())
        return true;
    const bool named = !ProjectFileName.empty() && ProjectFileName != "*";
    const QString project = named
        ? QStringLiteral("\"") + FileNameText(ExtractFileName(ProjectFileName)) + QStringLiteral("\"")
        : QStringLiteral("the new project");
    Services().MessageBeep(BeepType::Question);
    switch (Services().AskSaveChanges(QStringLiteral("Save the changes to %1?").arg(project))) {
    case SaveChangesAnswer::Save:
        Save1Click();
        // A save dialog that was cancelled saved nothing.
        return !IsModified();
    case SaveChangesAnswer::Discard:
        return true;
    case SaveChangesAnswer::Cancel:
        break;
    }
    return false;
}

void TMainForm::SetCaption(const QString& caption)
{
    // A "[*]" inside a file name is doubled, which Qt shows as it is.
    QString escaped = caption;
    escaped.replace(QString::fromUtf8(kModifiedMarker), QString::fromUtf8(kModifiedMarker).repeated(2));
    setWindowTitle(escaped + QString::fromUtf8(kModifiedMarker));
}

void TMainForm::Open1Click()
{
    if (!QuerySaveChanges())
        return;
    if (!FileExists(m_openDialogFileName))
        OpenDialog().setDirectory(QCoreApplication::applicationDirPath() + QDir::separator());
    if (!ExecuteDialog(OpenDialog()))
        return;
    m_openDialogFileName = SelectedFileName(OpenDialog());
    OpenProject(m_openDialogFileName);
}

void TMainForm::OpenProject(const std::string& fileName)
{
    const std::string previous = ProjectFileName;
    ProjectFileName = fileName;
    try {
        LoadProject(ProjectFileName);
    } catch (const EIniFileException&) {
        // Nothing was loaded, so Save must still go to the project on
        // screen, not over the file that could not be read.
        ProjectFileName = previous;
        throw;
    }
}

void TMainForm::Save1Click()
{
    if (FileExists(ProjectFileName))
        SaveProject(ProjectFileName);
    else
        Saveas1Click();
}

void TMainForm::Saveas1Click()
{
    if (!ExecuteDialog(SaveDialog()))
        return;
    ProjectFileName = SelectedFileName(SaveDialog());
    SaveProject(ProjectFileName);
}

void TMainForm::SaveProject(std::string fileName)
{
    TProjectData project;
    project.PictureFileName = PictureFileName;
    project.Columns = CutLinesOf(m_document->Lines(true));
    project.Rows = CutLinesOf(m_document->Lines(false));
    project.Cells = CellProperties();
    m_document->Save(fileName, std::move(project), m_document->TransparentColor());
    StampProject();
    ShowProjectCaption();
    RememberProject();
    WatchFiles();
}

// The name is taken by value: callers pass ProjectFileName, which New resets.
void TMainForm::LoadProject(std::string fileName)
{
    // Read before anything is emptied: a file that cannot be read leaves
    // the window as it was.
    const TLoadedProject project = ReadProjectFile(fileName, PictureFileName);
    // The panel holds the colour while the project is open; the generate
    // dialog gets it from there.
    std::optional<TOutputValues> output = project.Output;
    const TColor transparent = TransparentColorOf(output, fileName + " [Output]");
    SetTransparentColor(output, clNone);
    NewProject();
    StampProject();
    ++m_recordingPaused;
    auto resume = qScopeGuard([this] { --m_recordingPaused; });
    ProjectFileName = fileName;
    PictureFileName = PicturePathOfProject(fileName, project.PictureFileName);
    m_document->Loaded(project, transparent);
    m_document->Output = std::move(output);
    pnlTransparent->SetColor(transparent);
    std::string pictureFailure;
    if (!PictureFileName.empty()) {
        try {
            LoadPicture(PictureFileName);
        } catch (const std::exception& error) {
            // A picture that has gone or cannot be read is no reason to
            // refuse the lines: they are tested against the grid as it is.
            pictureFailure = WithFullStop(error.what());
        }
    }
    // A stored line that is no position beeps as one outside the grid does.
    for (size_t k = 0; k < project.Warnings.size(); ++k)
        Services().MessageBeep(BeepType::Exclamation);
    for (const TStoredLine& line : project.Columns)
        PlaceColumn(true, line.Checked, line.Position, TDuplicates::Keep);
    for (const TStoredLine& line : project.Rows)
        PlaceRow(true, line.Checked, line.Position, TDuplicates::Keep);
    ShowProjectCaption();
    resume.dismiss();
    --m_recordingPaused;
    ResetHistory();
    RememberProject();
    if (!pictureFailure.empty())
        Services().ShowError(QStringLiteral("The picture \"%1\" could not be read: %2\n"
                                            "The cut lines were loaded. Open the picture with "
                                            "\"Open image...\" before generating.")
                                 .arg(FileNameText(PictureFileName), QString::fromStdString(pictureFailure)));
}

void TMainForm::mnuOpenImageClick()
{
    if (!ExecuteDialog(OpenImageDlg()))
        return;
    OpenPicture(SelectedFileName(OpenImageDlg()));
}

void TMainForm::OpenPicture(const std::string& fileName)
{
    std::optional<int> page = 1;
    if (const int pages = DesignPageCount(fileName); pages > 1)
        page = AskPage(this, pages, PictureRenderOptions(m_document->Output).Page);
    if (!page)
        return;
    PictureFileName = fileName;
    // Changed even if the picture cannot be read: Save writes the new name.
    m_document->SetModified(true);
    const auto recorded = qScopeGuard([this] { Record(); });
    // Page 1 is the default: a project that never chose keeps no key.
    if (*page != 1) {
        if (!m_document->Output)
            m_document->Output.emplace();
        (*m_document->Output)["PicturePage"] = std::to_string(*page);
    } else if (m_document->Output) {
        m_document->Output->erase("PicturePage");
    }
    LoadPicture(PictureFileName);
    if (m_design) {
        // One undo step with the picture, recorded on the way out.
        ++m_recordingPaused;
        const auto resume = qScopeGuard([this] { --m_recordingPaused; });
        const TDesignCuts cuts = OfferDesignCuts(*m_design);
        for (const int32_t x : cuts.Columns)
            if (!lvColumns->HasLineAt(x))
                PlaceColumn(true, true, x, TDuplicates::Refuse);
        for (const int32_t y : cuts.Rows)
            if (!lvRows->HasLineAt(y))
                PlaceRow(true, true, y, TDuplicates::Refuse);
    }
}

void TMainForm::LoadPicture(const std::string& fileName)
{
    // Decoding a large picture takes a while; the window shows it is busy.
    HourglassCursor hourglass;
    TPicture loaded;
    loaded.LoadFromFile(fileName, PictureRenderOptions(m_document->Output));
    // A JPEG or GIF picture becomes a bitmap here, a BMP picture is copied;
    // the view's picture is replaced only once that has worked.
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->Assign(*loaded.Graphic());
    m_pictureWarnings = loaded.Warnings();
    // The history keeps its own copy, which shares the pixels.
    m_picture = std::make_shared<const TBitmap>(*bitmap);
    imgInterface->Image().Picture().SetGraphic(std::move(bitmap));
    m_hasPicture = true;
    m_suggestions = {};
    m_design = DesignOfPicture(fileName);
    pbGrid->SetGridSize(QSize(imgInterface->Image().Width(), imgInterface->Image().Height()));
    FitScrollContent();
    UpdateStatus();
    WatchFiles();
    ShowSelectedCell();
}

bool TMainForm::ExecuteDialog(QFileDialog& dialog)
{
    if (RunFileDialog)
        return RunFileDialog(dialog);
    return dialog.exec() == QDialog::Accepted;
}

TGenerationInput TMainForm::GenerationInput()
{
    TGenerationInput input;
    input.Picture = &imgInterface->PictureBitmap();
    for (const TCutLineEntry& line : CutLinesOf(m_document->Lines(true)))
        input.ColumnCaptions.push_back(line.Caption);
    for (const TCutLineEntry& line : CutLinesOf(m_document->Lines(false)))
        input.RowCaptions.push_back(line.Caption);
    input.TransparentColor = m_document->TransparentColor();
    input.Warnings = m_pictureWarnings;
    return input;
}

// Changes on disk.

std::string TMainForm::NamedProjectFileName() const
{
    return ProjectFileName == "*" ? std::string() : ProjectFileName;
}

void TMainForm::StampProject()
{
    m_fileWatch->StampProject(NamedProjectFileName());
}

void TMainForm::WatchFiles()
{
    if (m_fileWatch)
        m_fileWatch->Watch(m_hasPicture ? PictureFileName : std::string(), NamedProjectFileName());
}

void TMainForm::ReloadChangedFiles()
{
    if (m_fileWatch->Held())
        return;
    // A file replaced by renaming another over it has left the watcher.
    const auto rewatch = qScopeGuard([this] { WatchFiles(); });
    switch (
        m_fileWatch->TakeChanges(m_hasPicture ? PictureFileName : std::string(), NamedProjectFileName())) {
    case TFileWatch::TReload::Project:
        ReloadProject();
        break;
    case TFileWatch::TReload::Picture:
        ReloadPicture();
        break;
    case TFileWatch::TReload::None:
        break;
    }
}

void TMainForm::ReloadProject()
{
    // Asked once for each change: No keeps the window as it is until the
    // file changes again.
    if (IsModified()) {
        Services().MessageBeep(BeepType::Question);
        if (!Services().Confirm(QStringLiteral("The project \"%1\" has changed on disk. Load it again and "
                                               "lose your changes?")
                                    .arg(FileNameText(ExtractFileName(ProjectFileName)))))
            return;
    }
    LoadProject(ProjectFileName);
}

void TMainForm::ReloadPicture()
{
    const TBitmap* stale = m_picture.get();
    {
        ++m_recordingPaused;
        const auto resume = qScopeGuard([this] { --m_recordingPaused; });
        // A picture that cannot be read now leaves the one on screen.
        LoadPicture(PictureFileName);
    }
    // The file's new pixels are no edit of the project: every state of
    // the history that showed the old ones shows the new ones instead.
    m_document->ReplacePicture(stale, CurrentState());
    InvalidateGrid();
}

// Opening files.

void TMainForm::OpenFile(const std::string& fileName)
{
    if (QFileInfo(FileNameFromCore(fileName))
            .suffix()
            .compare(QString::fromUtf8(kProjectExtension + 1), Qt::CaseInsensitive)
        == 0) {
        if (QuerySaveChanges())
            OpenProject(fileName);
        return;
    }
    OpenPicture(fileName);
}

void TMainForm::OpenStartFile(const std::string& fileName)
{
    const TProjectState start = CurrentState();
    const std::string project = ProjectFileName;
    try {
        OpenFile(fileName);
    } catch (...) {
        ApplyState(start);
        ProjectFileName = project;
        // The cells are the document's: they go back with the state.
        m_document->Reset(start);
        ResetHistory();
        throw;
    }
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.front().isLocalFile())
        event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile())
        return;
    event->acceptProposedAction();
    const std::string fileName = FileNameToCore(urls.front().toLocalFile());
    RunHandler([&] { OpenFile(fileName); });
}

void TMainForm::RememberProject()
{
    if (!ProjectFileName.empty() && ProjectFileName != "*")
        m_recentFiles.Add(QFileInfo(FileNameFromCore(ProjectFileName)).absoluteFilePath());
}

void TMainForm::FillRecentMenu()
{
    m_actions->RecentMenu->clear();
    const QStringList files = m_recentFiles.Files();
    for (int i = 0; i < files.size(); ++i) {
        const QString file = files[i];
        QAction* action = m_actions->RecentMenu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(
            QFileInfo(file).fileName().replace(QLatin1Char('&'), QStringLiteral("&&"))));
        action->setToolTip(file);
        action->setStatusTip(file);
        connect(action, &QAction::triggered, this, [this, file] {
            RunHandler([&] {
                if (QuerySaveChanges())
                    OpenProject(FileNameToCore(file));
            });
        });
    }
    if (files.isEmpty())
        m_actions->RecentMenu->addAction(QStringLiteral("(none)"))->setEnabled(false);
}

} // namespace sw
