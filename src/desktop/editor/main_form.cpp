#include "desktop/editor/main_form.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"
#include "core/generate/run_settings.h"
#include "core/project/cut_lines.h"
#include "core/project/project_file.h"
#include "desktop/editor/cell_panel.h"
#include "desktop/editor/design_import.h"
#include "desktop/editor/editor_document.h"
#include "desktop/editor/file_dialogs.h"
#include "desktop/editor/file_watch.h"
#include "desktop/editor/image_list.h"
#include "desktop/editor/main_actions.h"
#include "desktop/editor/splash_form.h"
#include "desktop/generate/generate_dialog.h"
#include "desktop/generate/generate_settings_form.h"
#include "desktop/shell/file_names.h"
#include "desktop/shell/handler_guard.h"
#include "desktop/shell/platform_services.h"

#include <QCloseEvent>
#include <QDockWidget>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <QEvent>
#include <QFrame>
#include <QMenu>
#include <QScopeGuard>
#include <QScrollArea>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>

#include <utility>

namespace sw {

TMainForm* MainForm = nullptr;

namespace {

constexpr QSize kDesignSize(696, 458);
constexpr int kInfoWidth = 185;
constexpr int kColumnsHeight = 190;
constexpr int kSplitterWidth = 3;
constexpr int kGridDesignSize = 105;
constexpr int kListColumnMargin = 30;
constexpr int kToolBarHeight = 22;
// The cells the lines make: every entry counts, checked or not, as in a run.
int CellCount(int columns, int rows)
{
    return (columns + 1) * (rows + 1);
}

} // namespace

TMainForm::TMainForm(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    SetCaption(QString::fromUtf8(AppName));
    setFont(FormFont());
    resize(kDesignSize);
    ilstImages = CreateImageList();
    m_document = new TEditorDocument(this);
    connect(m_document, &TEditorDocument::ModifiedChanged, this, &QWidget::setWindowModified);
    connect(m_document, &TEditorDocument::Restored, this, &TMainForm::ApplyState);
    m_actions = std::make_unique<TMainActions>(*this, *this, ilstImages, *m_document->UndoStack());
    connect(m_actions->CellOverlay1, &QAction::toggled, this, [this] { InvalidateGrid(); });
    m_actions->CreateMenus();
    connect(m_actions->RecentMenu, &QMenu::aboutToShow, this, &TMainForm::FillRecentMenu);
    CreateToolBar();
    CreateBody();
    MainForm = this;
    m_fileWatch = new TFileWatch(this);
    connect(m_fileWatch, &TFileWatch::Settled, this, Guarded(this, &TMainForm::ReloadChangedFiles));
    FormCreate();
    ResetHistory();
    setAcceptDrops(true);
    UpdateStatus();
}

TMainForm::~TMainForm()
{
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::CreateToolBar()
{
    pnlTransparent = new TColorPanel(tr("Transparent"), clNone);
    pnlTransparent->setObjectName(QStringLiteral("pnlTransparent"));
    pnlTransparent->setFixedSize(89, kToolBarHeight);
    pnlTransparent->setToolTip(tr("The transparent color; click, then click the picture to pick it. "
                                  "Right-click for none"));
    connect(pnlTransparent, &TColorPanel::clicked, this, &TMainForm::pnlTransparentClick);
    connect(
        pnlTransparent, &TColorPanel::noneChosen, this, Guarded(this, &TMainForm::NoTransparentColorClick));
    CoolBar1 = m_actions->CreateToolBar(pnlTransparent);
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
        *m_document, true, QStringLiteral("lvColumns"), ilstImages[kIconColumn],
        [this] { return pbGrid->GridWidth(); }, Splitter2);
    lvRows = new TCutLineList(
        *m_document, false, QStringLiteral("lvRows"), ilstImages[kIconRow],
        [this] { return pbGrid->GridHeight(); }, Splitter2);
    Splitter2->setStretchFactor(0, 0);
    Splitter2->setStretchFactor(1, 1);
    Splitter2->setSizes({ kColumnsHeight, kDesignSize.height() - kColumnsHeight });
    for (TCutLineList* list : { lvColumns, lvRows }) {
        connect(list, &TCutLineList::Changed, this, &TMainForm::DataChange);
        connect(list, &QTreeWidget::itemSelectionChanged, this, [this, list] { SelectionChanged(list); });
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint& at) {
            if (QTreeWidgetItem* item = list->itemAt(at)) {
                SelectLine(*list, item);
                m_interaction.ShowLineMenu(
                    TGridInteraction::TLineHit { list, item }, -1, list->viewport()->mapToGlobal(at));
            }
        });
    }

    ScrollBox1 = new QScrollArea(Splitter1);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setWidgetResizable(false);
    auto* content = new QWidget();
    content->setObjectName(QStringLiteral("ScrollBox1Content"));
    imgInterface = new TImageView(content);
    pbGrid = new TPaintBox(content);
    pbGrid->SetGridSize(QSize(kGridDesignSize, kGridDesignSize));
    pbGrid->setMouseTracking(true);
    pbGrid->setFocusPolicy(Qt::ClickFocus);
    pbGrid->installEventFilter(this);
    pbGrid->OnPaint = [this](QPainter& painter, const QRect& area) { PaintGrid(painter, area); };
    pbGrid->OnMouseUp = [this](Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
        RunHandler([&] { pbGridMouseUp(button, shift, x, y); });
    };
    connect(imgInterface, &TImageView::PictureChanged, this, &TMainForm::FitScrollContent);
    ScrollBox1->setWidget(content);
    ScrollBox1->viewport()->installEventFilter(this);
    FitScrollContent();

    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({ kInfoWidth, kDesignSize.width() - kInfoWidth - kSplitterWidth });

    dckCells = new QDockWidget(QStringLiteral("Cell"), this);
    dckCells->setObjectName(QStringLiteral("dckCells"));
    dckCells->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    pnlCell = new TCellPanel(dckCells);
    pnlCell->OnEdit = [this](const std::string& property, const std::string& value) {
        RunHandler([&] { EditCellProperty(property, value); });
    };
    pnlCell->CellPixels = [this] { return SelectedCellPixels(); };
    pnlCell->DesignText = [this] { return SelectedCellDesignText(); };
    dckCells->setWidget(pnlCell);
    addDockWidget(Qt::RightDockWidgetArea, dckCells);
    dckCells->hide();

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(19);
    setStatusBar(StatusBar1);
    const auto addLabel = [this](const char* name, bool permanent) {
        auto* label = new QLabel(StatusBar1);
        label->setObjectName(QString::fromUtf8(name));
        if (permanent)
            StatusBar1->addPermanentWidget(label);
        else
            StatusBar1->addWidget(label, 1);
        return label;
    };
    lblHint = addLabel("lblHint", false);
    lblPointer = addLabel("lblPointer", true);
    lblSize = addLabel("lblSize", true);
    lblCounts = addLabel("lblCounts", true);
    lblZoom = addLabel("lblZoom", true);
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
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == pnlInfo && event->type() == QEvent::Resize)
        pnlInfoResize();
    if (watched == pbGrid && m_interaction.GridEvent(event))
        return true;
    if (ScrollBox1 && watched == ScrollBox1->viewport() && event->type() == QEvent::Wheel
        && m_interaction.ViewportWheel(static_cast<QWheelEvent*>(event)))
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
    input.ProjectFileName = ProjectFileName;
    GenerateDlg
        = new TGenerateDlg(std::move(input), ProjectFileName, this, m_document->Output, CellProperties());
    // Read as it closes: the dialog frees itself soon after.
    connect(GenerateDlg, &QDialog::finished, this, [this, dialog = GenerateDlg] {
        if (std::optional<TOutputValues> output = dialog->Form->OutputValues();
            output != m_document->Output) {
            const int from = PictureRenderOptions(m_document->Output).Scale;
            const int to = PictureRenderOptions(output).Scale;
            m_document->Output = std::move(output);
            m_document->SetModified(true);
            // An SVG or PDF is drawn again at the new scale, its lines with it.
            RunHandler([&] { SetDesignScale(from, to); });
        }
    });
    // The dialog cuts the picture on screen and its run the lines it was
    // given: files changed on disk are read again once it has closed.
    m_fileWatch->Hold();
    const auto reloadLater = qScopeGuard([this] { m_fileWatch->Release(); });
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
    DrawMode = sender == m_actions->Cells1 ? TDrawMode::dmCells
        : sender == m_actions->Row1        ? TDrawMode::dmRow
                                           : TDrawMode::dmColumn;
    m_actions->Column1->setChecked(DrawMode == TDrawMode::dmColumn);
    m_actions->Row1->setChecked(DrawMode == TDrawMode::dmRow);
    m_actions->Cells1->setChecked(DrawMode == TDrawMode::dmCells);
    dckCells->setVisible(DrawMode == TDrawMode::dmCells);
    if (DrawMode == TDrawMode::dmCells)
        ShowSelectedCell();
    ShowModeHint();
    InvalidateGrid();
}

void TMainForm::Transparentcolor1Click()
{
    // The eyedropper's cross.
    pbGrid->setCursor(Qt::CrossCursor);
    DrawMode = TDrawMode::dmTransparent;
    dckCells->hide();
    ShowModeHint();
    InvalidateGrid();
}

void TMainForm::pnlTransparentClick()
{
    m_actions->Transparentcolor1->trigger();
}

void TMainForm::NoTransparentColorClick()
{
    ChooseTransparentColor(clNone);
}

void TMainForm::ChooseTransparentColor(TColor color)
{
    if (color == m_document->TransparentColor())
        return;
    pnlTransparent->SetColor(color);
    m_document->SetModified(true);
    TProjectState state = CurrentState();
    state.TransparentColor = color;
    m_document->Record(std::move(state));
    UpdateStatus();
}

void TMainForm::pbGridMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y)
{
    switch (DrawMode) {
    case TDrawMode::dmColumn:
        DrawColumn(true, true, x, y);
        break;
    case TDrawMode::dmRow:
        DrawRow(true, true, x, y);
        break;
    case TDrawMode::dmCells:
        if (button == Qt::LeftButton)
            SelectCell(CellGrid().CellAt(x, y));
        break;
    case TDrawMode::dmTransparent: {
        pbGrid->setCursor(Qt::ArrowCursor);
        const TColor color = imgInterface->PictureBitmap().Canvas().Pixel(x, y);
        // A release beyond the picture's edge has no colour to take.
        if (color != clNone)
            ChooseTransparentColor(color);
        ShowModeHint();
        break;
    }
    }
}

void TMainForm::ShowProjectCaption()
{
    SetCaption(QString::fromUtf8(AppName) + QStringLiteral(" - [")
        + FileNameFromCore(ExtractFileName(ProjectFileName)) + QStringLiteral("]"));
}

void TMainForm::DataChange()
{
    m_document->SetModified(true);
    InvalidateGrid();
    Record();
    ShowSelectedCell();
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

// The history.

TProjectState TMainForm::CurrentState() const
{
    TProjectState state;
    state.Columns = m_document->Lines(true);
    state.Rows = m_document->Lines(false);
    state.PictureFileName = PictureFileName;
    state.Picture = m_hasPicture ? m_picture : nullptr;
    state.GridWidth = pbGrid->GridWidth();
    state.GridHeight = pbGrid->GridHeight();
    state.TransparentColor = m_document->TransparentColor();
    state.Cells = m_document->Cells();
    state.DesignScale = DesignScale();
    return state;
}

void TMainForm::ApplyState(const TProjectState& state)
{
    // An undo in the middle of a drag ends the drag where it started.
    m_interaction.CancelDrag();
    ++m_recordingPaused;
    const auto resume = qScopeGuard([this] { --m_recordingPaused; });
    m_document->ShowLines(state.Columns, state.Rows);
    PictureFileName = state.PictureFileName;
    if (state.Picture != (m_hasPicture ? m_picture : nullptr)) {
        m_picture = state.Picture;
        m_hasPicture = state.Picture != nullptr;
        imgInterface->Image().Picture().SetGraphic(
            m_picture ? std::make_unique<TBitmap>(*m_picture) : nullptr);
        m_suggestions = {};
    }
    pbGrid->SetGridSize(QSize(state.GridWidth, state.GridHeight));
    pnlTransparent->SetColor(state.TransparentColor);
    if (state.DesignScale > 0 && state.DesignScale != PictureRenderOptions(m_document->Output).Scale)
        m_document->Output = OutputAtScale(m_document->Output, state.DesignScale);
    FitScrollContent();
    InvalidateGrid();
    UpdateStatus();
    WatchFiles();
    ShowSelectedCell();
}

void TMainForm::Record()
{
    if (m_recordingPaused > 0)
        return;
    TProjectState state = CurrentState();
    if (state == m_document->State())
        return;
    m_document->Record(std::move(state));
    UpdateStatus();
}

void TMainForm::ResetHistory()
{
    m_document->Reset(CurrentState());
    UpdateStatus();
    WatchFiles();
    ShowSelectedCell();
}

// Drawing the editor's marks.

void TMainForm::PaintGrid(QPainter& painter, const QRect& area)
{
    const int width = pbGrid->GridWidth();
    const int height = pbGrid->GridHeight();
    const TCellGrid grid = CellGrid();
    TGridScene scene;
    scene.Columns = &m_document->Lines(true);
    scene.Rows = &m_document->Lines(false);
    scene.Grid = &grid;
    scene.Fitting = &FittingProjectCells(grid);
    scene.HasCellMarks = !CellProperties().empty() || m_selectedCell;
    scene.Suggestions = &m_suggestions;
    if (const std::optional<TEditorLine> line = SelectedEditorLine(); line && line->Checked)
        scene.SelectedLine = TGridMark { SelectedList() == lvColumns, line->Position };
    if (const std::optional<TGridInteraction::TGuide> guide = m_interaction.Guide())
        scene.Guide = TGridMark { guide->Vertical, guide->Position };
    scene.Overlay = m_actions->CellOverlay1->isChecked();
    scene.CellsMode = DrawMode == TDrawMode::dmCells;
    scene.SelectedCell = m_selectedCell;
    m_gridPainter.Paint(painter, area, pbGrid->Zoom(), width, height, scene);
}

// Zoom.

void TMainForm::SetZoom(int percent)
{
    ApplyZoom(percent, QPointF(-1, -1));
}

void TMainForm::ApplyZoom(int percent, QPointF anchor)
{
    const TZoomMapping zoom(percent, pbGrid->devicePixelRatioF());
    // Keep the picture point under the anchor (in grid coordinates) where
    // it is in the viewport.
    const bool anchored = anchor.x() >= 0 && anchor.y() >= 0;
    const QPointF inViewport = anchored ? pbGrid->mapTo(ScrollBox1->viewport(), anchor) : QPointF();
    const double oldScale = pbGrid->Zoom().Percent() / 100.0;
    m_zoomPercent = zoom.Percent();
    imgInterface->SetZoom(zoom);
    pbGrid->SetZoom(zoom);
    FitScrollContent();
    if (anchored) {
        const double scale = zoom.Percent() / 100.0;
        ScrollBox1->horizontalScrollBar()->setValue(
            static_cast<int>(anchor.x() / oldScale * scale - inViewport.x()));
        ScrollBox1->verticalScrollBar()->setValue(
            static_cast<int>(anchor.y() / oldScale * scale - inViewport.y()));
    }
    UpdateStatus();
}

void TMainForm::ZoomInClick()
{
    SetZoom(NextZoomStep(m_zoomPercent));
}

void TMainForm::ZoomOutClick()
{
    SetZoom(PreviousZoomStep(m_zoomPercent));
}

void TMainForm::ZoomActualClick()
{
    SetZoom(100);
}

void TMainForm::ZoomFitClick()
{
    const QSize view = ScrollBox1->viewport()->size();
    SetZoom(FitZoom(pbGrid->GridWidth(), pbGrid->GridHeight(), view.width(), view.height()));
}

// The status bar and the commands' state.

void TMainForm::UpdateActions()
{
    m_actions->DeleteLine1->setEnabled(SelectedLine() != nullptr);
    const bool suggested = !m_suggestions.Columns.empty() || !m_suggestions.Rows.empty();
    m_actions->AcceptSuggestions1->setEnabled(suggested);
    m_actions->DismissSuggestions1->setEnabled(suggested);
    m_actions->ZoomIn1->setEnabled(m_zoomPercent < kMaxZoom);
    m_actions->ZoomOut1->setEnabled(m_zoomPercent > kMinZoom);
}

void TMainForm::UpdateStatus()
{
    if (!lblZoom)
        return;
    lblSize->setText(HasPicture()
            ? QStringLiteral("%1 \u00D7 %2").arg(pbGrid->GridWidth()).arg(pbGrid->GridHeight())
            : QStringLiteral("No picture"));
    const int columns = static_cast<int>(m_document->Lines(true).size());
    const int rows = static_cast<int>(m_document->Lines(false).size());
    lblCounts->setText(
        QStringLiteral("%1 columns, %2 rows, %3 cells").arg(columns).arg(rows).arg(CellCount(columns, rows)));
    lblZoom->setText(QStringLiteral("%1 %").arg(m_zoomPercent));
    ShowModeHint();
    UpdateActions();
}

void TMainForm::ShowModeHint()
{
    QString hint;
    switch (DrawMode) {
    case TDrawMode::dmColumn:
        hint = QStringLiteral("Click to add a column; drag a line to move it");
        break;
    case TDrawMode::dmRow:
        hint = QStringLiteral("Click to add a row; drag a line to move it");
        break;
    case TDrawMode::dmTransparent:
        hint = QStringLiteral("Picking the transparent color: click the picture");
        break;
    case TDrawMode::dmCells:
        hint = QStringLiteral("Click a cell to select it; arrow keys move, Esc clears");
        break;
    }
    lblHint->setText(hint);
    if (DrawMode != TDrawMode::dmTransparent && !m_interaction.Dragging())
        pbGrid->unsetCursor();
}

void TMainForm::UpdatePointer(QPointF at)
{
    const QPoint pixel = pbGrid->PixelAt(at);
    QString text = QStringLiteral("%1, %2").arg(pixel.x()).arg(pixel.y());
    const QImage& shown = imgInterface->Shown();
    if (HasPicture() && shown.valid(pixel))
        text += QStringLiteral("  #%1").arg(shown.pixel(pixel) & 0xFFFFFF, 6, 16, QLatin1Char('0')).toUpper();
    lblPointer->setText(text);
}

void TMainForm::ClearPointer()
{
    lblPointer->clear();
}

} // namespace sw
