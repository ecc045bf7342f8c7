#include "desktop/editor/main_form.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"
#include "core/project/cut_lines.h"
#include "core/project/project_file.h"
#include "desktop/editor/file_dialogs.h"
#include "desktop/editor/image_list.h"
#include "desktop/editor/splash_form.h"
#include "desktop/generate/generate_dialog.h"
#include "desktop/shell/file_names.h"
#include "desktop/shell/handler_guard.h"
#include "desktop/shell/platform_services.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QScopeGuard>
#include <QScrollArea>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace sw {

TMainForm* MainForm = nullptr;

namespace {

constexpr QSize kDesignSize(696, 458);
constexpr int kInfoWidth = 185;
constexpr int kColumnsHeight = 190;
constexpr int kSplitterWidth = 3;
constexpr int kGridDesignSize = 105;
constexpr int kListColumnMargin = 30;
constexpr int kSeparatorWidth = 8;
constexpr int kBandHeight = 24;
constexpr int kToolBarHeight = 22;
constexpr QSize kToolButtonSize(23, 22);
// The dialogs' size; the window's lists and menus read like theirs.
constexpr int kFontPoints = 8;
// Where Qt puts the modified marker: "*" while modified, nothing otherwise.
constexpr char kModifiedMarker[] = "[*]";

// The hint carried by a command: short text, "|", long text. The window
// shows neither as a tooltip nor in the status bar.
constexpr char kHintProperty[] = "hint";
// Tells the mode commands apart in their shared handler.
constexpr char kTagProperty[] = "tag";

QAction* MakeAction(QObject* owner, const char* name, const char* caption)
{
    auto* action = new QAction(QString::fromUtf8(caption), owner);
    action->setObjectName(QString::fromUtf8(name));
    return action;
}

// An etched line in the middle of an 8-pixel gap.
QWidget* MakeSeparator(const char* name)
{
    auto* gap = new QWidget();
    gap->setObjectName(QString::fromUtf8(name));
    gap->setFixedSize(kSeparatorWidth, kToolBarHeight);
    auto* layout = new QHBoxLayout(gap);
    layout->setContentsMargins(0, 3, 0, 3);
    auto* line = new QFrame(gap);
    line->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    line->setFixedWidth(2);
    layout->addWidget(line, 0, Qt::AlignHCenter);
    return gap;
}

QString FileNameText(const std::string& fileName)
{
    return QFile::decodeName(QByteArray::fromStdString(fileName));
}

} // namespace

TMainForm::TMainForm(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    SetCaption(QString::fromUtf8(AppName));
    QFont font = QApplication::font();
    font.setPointSize(kFontPoints);
    setFont(font);
    resize(kDesignSize);
    ilstImages = CreateImageList();
    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateBody();
    MainForm = this;
    FormCreate();
    // The design-time lines are no work of the user's.
    SetModified(false);
}

TMainForm::~TMainForm()
{
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::CreateActions()
{
    New1 = MakeAction(this, "New1", "&New");
    New1->setIcon(ilstImages[kIconNewProject]);
    connect(New1, &QAction::triggered, this, Guarded(this, &TMainForm::New1Click));

    Open1 = MakeAction(this, "Open1", "&Open...");
    Open1->setIcon(ilstImages[kIconOpenProject]);
    connect(Open1, &QAction::triggered, this, Guarded(this, &TMainForm::Open1Click));
    Save1 = MakeAction(this, "Save1", "&Save");
    Save1->setIcon(ilstImages[kIconSaveProject]);
    connect(Save1, &QAction::triggered, this, Guarded(this, &TMainForm::Save1Click));
    Saveas1 = MakeAction(this, "Saveas1", "Save &as...");
    connect(Saveas1, &QAction::triggered, this, Guarded(this, &TMainForm::Saveas1Click));
    Transparentcolor1 = MakeAction(this, "Transparentcolor1", "&Transparent color");
    Transparentcolor1->setProperty(kHintProperty,
        QStringLiteral("The next color that you click on on the image will be set as the transparent color"));
    connect(Transparentcolor1, &QAction::triggered, this, Guarded(this, &TMainForm::Transparentcolor1Click));
    mnuOpenImage = MakeAction(this, "mnuOpenImage", "O&pen image...");
    mnuOpenImage->setIcon(ilstImages[kIconOpenPicture]);
    mnuOpenImage->setProperty(kHintProperty, QStringLiteral("Open an image|Open an image to be cut up"));
    connect(mnuOpenImage, &QAction::triggered, this, Guarded(this, &TMainForm::mnuOpenImageClick));
    Generate1 = MakeAction(this, "Generate1", "&Generate...");
    connect(Generate1, &QAction::triggered, this, Guarded(this, &TMainForm::Generate1Click));

    mnuExit = MakeAction(this, "mnuExit", "E&xit");
    mnuExit->setProperty(kHintProperty, QStringLiteral("Exit|Exit this application"));
    connect(mnuExit, &QAction::triggered, this, Guarded(this, &TMainForm::mnuExitClick));

    Column1 = MakeAction(this, "Column1", "&Column");
    Column1->setIcon(ilstImages[kIconColumn]);
    Column1->setProperty(kHintProperty, QStringLiteral("Column|Insert a column"));
    Column1->setProperty(kTagProperty, 0);
    Row1 = MakeAction(this, "Row1", "&Row");
    Row1->setIcon(ilstImages[kIconRow]);
    Row1->setProperty(kHintProperty, QStringLiteral("Row|Insert a row"));
    Row1->setProperty(kTagProperty, 1);
    ModeGroup = new QActionGroup(this);
    ModeGroup->setObjectName(QStringLiteral("ModeGroup"));
    ModeGroup->setExclusive(true);
    for (QAction* mode : { Column1, Row1 }) {
        mode->setCheckable(true);
        ModeGroup->addAction(mode);
        connect(mode, &QAction::triggered, this, [this, mode] { SetDrawMode(mode); });
    }
    Column1->setChecked(true);

    Clear1 = MakeAction(this, "Clear1", "&Clear...");
    connect(Clear1, &QAction::triggered, this, Guarded(this, &TMainForm::Clear1Click));
    Clearunchecked1 = MakeAction(this, "Clearunchecked1", "C&lear unchecked...");
    connect(Clearunchecked1, &QAction::triggered, this, Guarded(this, &TMainForm::Clearunchecked1Click));
    About1 = MakeAction(this, "About1", "&About...");
    connect(About1, &QAction::triggered, this, Guarded(this, &TMainForm::About1Click));
}

void TMainForm::CreateMenus()
{
    MainMenu = new QMenuBar(this);
    MainMenu->setObjectName(QStringLiteral("MainMenu"));
    setMenuBar(MainMenu);

    QMenu* file = MainMenu->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    file->addActions({ New1, Open1, Save1, Saveas1 });
    file->addSeparator()->setObjectName(QStringLiteral("N2"));
    file->addActions({ Transparentcolor1, mnuOpenImage });
    file->addSeparator()->setObjectName(QStringLiteral("N1"));
    file->addAction(Generate1);
    file->addSeparator()->setObjectName(QStringLiteral("N3"));
    file->addAction(mnuExit);

    QMenu* mode = MainMenu->addMenu(QStringLiteral("&Mode"));
    mode->setObjectName(QStringLiteral("Mode1"));
    mode->addActions({ Column1, Row1 });

    QMenu* grid = MainMenu->addMenu(QStringLiteral("&Grid"));
    grid->setObjectName(QStringLiteral("Grid1"));
    grid->addActions({ Clear1, Clearunchecked1 });

    QMenu* help = MainMenu->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    help->addAction(About1);
}

void TMainForm::CreateToolBar()
{
    // The band bar spans the window's top edge and holds the tool bar as its
    // one band.
    CoolBar1 = new QFrame(this);
    CoolBar1->setObjectName(QStringLiteral("CoolBar1"));
    CoolBar1->setFixedHeight(kBandHeight);
    auto* band = new QHBoxLayout(CoolBar1);
    band->setContentsMargins(2, 1, 2, 1);
    band->setSpacing(0);

    ToolBar1 = new QToolBar(CoolBar1);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setFixedHeight(kToolBarHeight);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    // The buttons fill the band's height; the style's own tool-bar margins
    // would squeeze the icons below 16 pixels.
    ToolBar1->setStyleSheet(QStringLiteral("QToolBar { border: 0px; padding: 0px; spacing: 0px; }"));
    band->addWidget(ToolBar1);
    band->addStretch();

    auto addButton = [this](QAction* action, const char* name) {
        ToolBar1->addAction(action);
        auto* button = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(action));
        button->setObjectName(QString::fromUtf8(name));
        button->setAutoRaise(true);
        button->setFixedSize(kToolButtonSize);
        button->installEventFilter(this);
        return button;
    };
    ToolButton1 = addButton(New1, "ToolButton1");
    ToolButton3 = addButton(Open1, "ToolButton3");
    ToolButton4 = addButton(Save1, "ToolButton4");
    ToolBar1->addWidget(MakeSeparator("ToolButton5"));
    tbtnOpenImage = addButton(mnuOpenImage, "tbtnOpenImage");
    ToolBar1->addWidget(MakeSeparator("ToolButton2"));
    tbtnColumn = addButton(Column1, "tbtnColumn");
    tbtnRow = addButton(Row1, "tbtnRow");
    ToolBar1->addWidget(MakeSeparator("ToolButton6"));

    pnlTransparent = new TColorPanel(QStringLiteral("Transparent"), clBtnFace);
    pnlTransparent->setObjectName(QStringLiteral("pnlTransparent"));
    pnlTransparent->setFixedSize(89, kToolBarHeight);
    connect(pnlTransparent, &TColorPanel::clicked, this, &TMainForm::pnlTransparentClick);
    ToolBar1->addWidget(pnlTransparent);
}

void TMainForm::CreateBody()
{
    auto* body = new QWidget(this);
    body->setObjectName(QStringLiteral("Body"));
    auto* bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->setSpacing(0);
    bodyLayout->addWidget(CoolBar1);
    setCentralWidget(body);

    Splitter1 = new QSplitter(Qt::Horizontal, body);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(kSplitterWidth);
    Splitter1->setChildrenCollapsible(false);
    bodyLayout->addWidget(Splitter1);

    pnlInfo = new QFrame(Splitter1);
    pnlInfo->setObjectName(QStringLiteral("pnlInfo"));
    pnlInfo->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pnlInfo->installEventFilter(this);
    auto* infoLayout = new QVBoxLayout(pnlInfo);
    infoLayout->setContentsMargins(1, 1, 1, 1);
    infoLayout->setSpacing(0);

    Splitter2 = new QSplitter(Qt::Vertical, pnlInfo);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Splitter2->setHandleWidth(kSplitterWidth);
    Splitter2->setChildrenCollapsible(false);
    infoLayout->addWidget(Splitter2);

    // The lists test in-place edits against the grid, made just below.
    lvColumns = new TCutLineList(
        QStringLiteral("lvColumns"), ilstImages[kIconColumn], [this] { return pbGrid->width(); }, Splitter2);
    lvRows = new TCutLineList(
        QStringLiteral("lvRows"), ilstImages[kIconRow], [this] { return pbGrid->height(); }, Splitter2);
    Splitter2->setStretchFactor(0, 0);
    Splitter2->setStretchFactor(1, 1);
    Splitter2->setSizes({ kColumnsHeight, kDesignSize.height() - kColumnsHeight });
    for (TCutLineList* list : { lvColumns, lvRows })
        connect(list, &TCutLineList::Changed, this, &TMainForm::DataChange);

    ScrollBox1 = new QScrollArea(Splitter1);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setWidgetResizable(false);
    auto* content = new QWidget();
    content->setObjectName(QStringLiteral("ScrollBox1Content"));
    imgInterface = new TImageView(content);
    pbGrid = new TPaintBox(content);
    pbGrid->resize(kGridDesignSize, kGridDesignSize);
    pbGrid->OnPaint = [this](QPainter& painter, const QRect& area) {
        m_gridCanvas.Begin(painter, area);
        const auto lendingEnds = qScopeGuard([this] { m_gridCanvas.End(); });
        pbGridPaint();
    };
    pbGrid->OnMouseUp = [this](Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
        RunHandler([&] { pbGridMouseUp(button, shift, x, y); });
    };
    connect(imgInterface, &TImageView::PictureChanged, this, &TMainForm::FitScrollContent);
    ScrollBox1->setWidget(content);
    FitScrollContent();

    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({ kInfoWidth, kDesignSize.width() - kInfoWidth - kSplitterWidth });

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(19);
    setStatusBar(StatusBar1);
}

QFileDialog& TMainForm::OpenDialog()
{
    if (!m_openDialog)
        m_openDialog = CreateProjectDialog(this, QStringLiteral("OpenDialog"), false);
    return *m_openDialog;
}

QFileDialog& TMainForm::SaveDialog()
{
    if (!m_saveDialog)
        m_saveDialog = CreateProjectDialog(this, QStringLiteral("SaveDialog"), true);
    return *m_saveDialog;
}

TOpenPictureDialog& TMainForm::OpenImageDlg()
{
    if (!m_openImageDlg)
        m_openImageDlg = new TOpenPictureDialog(this);
    return *m_openImageDlg;
}

void TMainForm::FormCreate()
{
    DrawMode = TDrawMode::dmColumn;
    imgInterface->move(0, 0);
    imgInterface->lower();
    pbGrid->move(0, 0);
    pbGrid->raise();
    for (int position : { 12, 34, 48 })
        lvColumns->AddLine(position, false);
    for (int position : { 20, 60 })
        lvRows->AddLine(position, false);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == pnlInfo && event->type() == QEvent::Resize)
        pnlInfoResize();
    if (event->type() == QEvent::ToolTip && qobject_cast<QToolButton*>(watched))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    // Closing is no handler of ours, so a failed save is shown here and
    // keeps the window open.
    bool proceed = false;
    RunHandler([&] { proceed = QuerySaveChanges(); });
    if (proceed)
        event->accept();
    else
        event->ignore();
}

void TMainForm::New1Click()
{
    if (QuerySaveChanges())
        NewProject();
}

void TMainForm::NewProject()
{
    // The view and the grid keep their sizes.
    imgInterface->Image().Picture().SetGraphic(nullptr);
    m_hasPicture = false;
    ClearLines(true);
    m_projectOutput.reset();
    m_projectCells.clear();
    ProjectFileName.assign(1, '*');
    SetCaption(QString::fromUtf8(AppName));
    SetModified(false);
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

void TMainForm::SetModified(bool modified)
{
    setWindowModified(modified);
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
    const std::string previous = ProjectFileName;
    ProjectFileName = m_openDialogFileName;
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
    project.Columns = lvColumns->Lines();
    project.Rows = lvRows->Lines();
    project.StoredPictureFileName = m_storedPictureFileName;
    project.Output = m_projectOutput;
    project.Cells = m_projectCells;
    WriteProjectFile(fileName, project);
    ShowProjectCaption();
    SetModified(false);
}

// The name is taken by value: callers pass ProjectFileName, which New resets.
void TMainForm::LoadProject(std::string fileName)
{
    // Read before anything is emptied: a file that cannot be read leaves
    // the window as it was.
    const TLoadedProject project = ReadProjectFile(fileName, PictureFileName);
    NewProject();
    ProjectFileName = fileName;
    PictureFileName = PicturePathOfProject(fileName, project.PictureFileName);
    m_storedPictureFileName = project.PictureFileName;
    m_projectOutput = project.Output;
    m_projectCells = project.Cells;
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
    for (const TStoredLine& line : project.Columns)
        PlaceColumn(true, line.Checked, line.Position, TDuplicates::Keep);
    for (const TStoredLine& line : project.Rows)
        PlaceRow(true, line.Checked, line.Position, TDuplicates::Keep);
    ShowProjectCaption();
    SetModified(false);
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
    PictureFileName = SelectedFileName(OpenImageDlg());
    // Changed even if the picture cannot be read: Save writes the new name.
    SetModified(true);
    LoadPicture(PictureFileName);
}

void TMainForm::LoadPicture(const std::string& fileName)
{
    // Decoding a large picture takes a while; the window shows it is busy.
    HourglassCursor hourglass;
    TPicture loaded;
    loaded.LoadFromFile(fileName);
    // A JPEG or GIF picture becomes a bitmap here, a BMP picture is copied;
    // the view's picture is replaced only once that has worked.
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->Assign(*loaded.Graphic());
    imgInterface->Image().Picture().SetGraphic(std::move(bitmap));
    m_hasPicture = true;
    pbGrid->resize(imgInterface->width(), imgInterface->height());
    FitScrollContent();
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
    for (const TCutLineEntry& line : lvColumns->Lines())
        input.ColumnCaptions.push_back(line.Caption);
    for (const TCutLineEntry& line : lvRows->Lines())
        input.RowCaptions.push_back(line.Caption);
    input.TransparentColor = pnlTransparent->Color();
    return input;
}

void TMainForm::mnuExitClick()
{
    close();
}

void TMainForm::Generate1Click()
{
    // Without a picture there is nothing to cut but a blank page.
    if (!HasPicture()) {
        Services().ShowError(
            QStringLiteral("There is no picture to cut up. Open one with \"Open image...\" first."));
        return;
    }
    // A fresh dialog each time; it frees itself when it closes.
    // Without a picture the dialog gets none, which it refuses to cut,
    // rather than a blank canvas made up for the occasion.
    TGenerationInput input;
    if (imgInterface->HasPicture())
        input = GenerationInput();
    GenerateDlg = new TGenerateDlg(std::move(input), ProjectFileName, this);
    GenerateDlg->exec();
}

void TMainForm::About1Click()
{
    if (!frmSplash)
        frmSplash = new TfrmSplash();
    frmSplash->exec();
}

void TMainForm::SetDrawMode(QAction* sender)
{
    DrawMode = sender->property(kTagProperty).toInt() != 0 ? TDrawMode::dmRow : TDrawMode::dmColumn;
    Column1->setChecked(DrawMode == TDrawMode::dmColumn);
    Row1->setChecked(DrawMode == TDrawMode::dmRow);
}

void TMainForm::Transparentcolor1Click()
{
    pbGrid->setCursor(Qt::PointingHandCursor);
    DrawMode = TDrawMode::dmTransparent;
}

void TMainForm::pnlTransparentClick()
{
    Transparentcolor1->trigger();
}

void TMainForm::pbGridMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)
{
    switch (DrawMode) {
    case TDrawMode::dmColumn:
        DrawColumn(true, true, x, y);
        break;
    case TDrawMode::dmRow:
        DrawRow(true, true, x, y);
        break;
    case TDrawMode::dmTransparent: {
        pbGrid->setCursor(Qt::ArrowCursor);
        const TColor color = imgInterface->PictureBitmap().Canvas().Pixel(x, y);
        // A release beyond the picture's edge has no colour to take.
        if (color != clNone && color != pnlTransparent->Color()) {
            pnlTransparent->SetColor(color);
            SetModified(true);
        }
        break;
    }
    }
}

void TMainForm::pbGridPaint()
{
    // Each list is drawn by the same steps as an added line, so the pen's
    // mode carries from one line to the next.
    for (const TCutLineEntry& line : lvColumns->Lines()) {
        const std::optional<int32_t> position = CutLinePosition(line.Caption);
        if (position && line.Checked)
            DrawColumn(false, false, *position, 0);
    }
    for (const TCutLineEntry& line : lvRows->Lines()) {
        const std::optional<int32_t> position = CutLinePosition(line.Caption);
        if (position && line.Checked)
            DrawRow(false, false, 0, *position);
    }
}

void TMainForm::Clear1Click()
{
    Services().MessageBeep(BeepType::Question);
    if (Services().Confirm(QStringLiteral("Remove all items?")))
        ClearLines(true);
}

void TMainForm::Clearunchecked1Click()
{
    Services().MessageBeep(BeepType::Question);
    if (Services().Confirm(QStringLiteral("Remove unchecked items?")))
        ClearLines(false);
}

void TMainForm::DrawColumn(bool add, bool checked, int32_t x, int32_t /*y*/)
{
    PlaceColumn(add, checked, x, TDuplicates::Refuse);
}

void TMainForm::DrawRow(bool add, bool checked, int32_t /*x*/, int32_t y)
{
    PlaceRow(add, checked, y, TDuplicates::Refuse);
}

void TMainForm::PlaceColumn(bool add, bool checked, int32_t x, TDuplicates duplicates)
{
    // Drawn before the bounds test; outside a repaint only the pen changes.
    m_gridCanvas.PenStyle = TPenStyle::psDot;
    m_gridCanvas.PenMode = TPenMode::pmXor;
    m_gridCanvas.VerticalLine(x, 0, pbGrid->height());
    if (add)
        AddLineInside(*lvColumns, x, checked, pbGrid->width(), duplicates);
}

void TMainForm::PlaceRow(bool add, bool checked, int32_t y, TDuplicates duplicates)
{
    // Rows keep the pen's mode: copy until the first column has been drawn.
    m_gridCanvas.PenStyle = TPenStyle::psDot;
    m_gridCanvas.HorizontalLine(y, 0, pbGrid->width());
    if (add)
        AddLineInside(*lvRows, y, checked, pbGrid->height(), duplicates);
}

void TMainForm::AddLineInside(
    TCutLineList& list, int32_t position, bool checked, int extent, TDuplicates duplicates)
{
    // Two lines at one place would cancel each other's XOR dots and vanish.
    if (!IsInsideGrid(position, extent) || (duplicates == TDuplicates::Refuse && list.HasLineAt(position))) {
        Services().MessageBeep(BeepType::Exclamation);
        return;
    }
    list.AddLine(position, checked);
}

void TMainForm::ClearLines(bool all)
{
    int removed = 0;
    {
        HourglassCursor hourglass;
        removed += lvColumns->RemoveLines(all);
        removed += lvRows->RemoveLines(all);
    }
    if (removed > 0)
        SetModified(true);
    InvalidateGrid();
}

void TMainForm::ShowProjectCaption()
{
    SetCaption(QString::fromUtf8(AppName) + QStringLiteral(" - [")
        + FileNameFromCore(ExtractFileName(ProjectFileName)) + QStringLiteral("]"));
}

void TMainForm::DataChange()
{
    SetModified(true);
    InvalidateGrid();
}

void TMainForm::pnlInfoResize()
{
    const int width = pnlInfo->width() - kListColumnMargin;
    lvColumns->setColumnWidth(0, width);
    lvRows->setColumnWidth(0, width);
}

void TMainForm::InvalidateGrid()
{
    ++m_gridRepaintRequests;
    pbGrid->update();
}

void TMainForm::FitScrollContent()
{
    if (QWidget* content = ScrollBox1->widget())
        content->resize(imgInterface->size().expandedTo(pbGrid->size()));
}

} // namespace sw
