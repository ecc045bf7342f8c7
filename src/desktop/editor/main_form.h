#pragma once

// The main window: the cut-line lists on the left, the picture view on the
// right, the menus and the tool bar of its commands (TMainActions), the Cells
// mode's panel and the status bar. It assembles them and carries out the
// commands; the grid's painting (TGridPainter), the pointer's and keys' work
// on it (TGridInteraction) and the watch on the open files (TFileWatch) are
// classes of their own. The file and cut-line commands live in
// main_form_files.cpp and main_form_lines.cpp, the Cells mode in
// cell_mode.cpp.

#include "core/base/colors.h"
#include "core/generate/slicing_pipeline.h"
#include "core/imaging/layered_design.h"
#include "core/layout/cell_grid.h"
#include "core/layout/line_suggestions.h"
#include "desktop/editor/color_panel.h"
#include "desktop/editor/cut_line_list.h"
#include "desktop/editor/edit_history.h"
#include "desktop/editor/grid_interaction.h"
#include "desktop/editor/grid_painter.h"
#include "desktop/editor/main_actions.h"
#include "desktop/editor/picture_view.h"
#include "desktop/editor/text_suggester.h"
#include "desktop/shell/recent_files.h"

#include <QAction>
#include <QList>
#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

class QDockWidget;
class QDragEnterEvent;
class QDropEvent;
class QFileDialog;
class QWheelEvent;
class QTreeWidgetItem;
class QFrame;
class QMenu;
class QScrollArea;
class QSplitter;
class QStatusBar;
class QLabel;
class QUndoStack;

namespace sw {

class TCellPanel;
class TFileWatch;
class TEditorDocument;

class TOpenPictureDialog;

inline constexpr char AppName[] = "Slicewright";

class TMainForm : public QMainWindow, public TMainCommands, private TGridHost {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Commands.
    void New1Click() override;
    void Open1Click() override;
    void Save1Click() override;
    void Saveas1Click() override;
    void mnuExitClick() override;
    void Generate1Click() override;
    void About1Click() override;
    void mnuOpenImageClick() override;
    void SetDrawMode(QAction* sender) override;
    void Transparentcolor1Click() override;
    void Clear1Click() override;
    void Clearunchecked1Click() override;
    void pnlTransparentClick();
    // Cells keep every pixel opaque from now on.
    void NoTransparentColorClick() override;
    void ZoomInClick() override;
    void ZoomOutClick() override;
    void ZoomActualClick() override;
    void ZoomFitClick() override;
    // Removes the selected line.
    void DeleteLineClick() override;
    // Proposes cut lines for the picture; they are drawn dashed until
    // accepted or dismissed.
    void SuggestClick() override;
    void AcceptSuggestionsClick() override;
    void DismissSuggestionsClick() override;

    // Opens a project (.swr, any case) or a picture, as a drop does; a
    // project asks about unsaved changes first.
    void OpenFile(const std::string& fileName);
    // Opens the file the program was started on; one that cannot be opened
    // leaves the window as it started.
    void OpenStartFile(const std::string& fileName);

    // The view's zoom in percent; SetZoom clamps to what the view offers.
    int ZoomPercent() const override { return m_zoomPercent; }
    void SetZoom(int percent) override;
    // Moves the selected line by delta pixels along its axis, with the
    // bounds test of a caption edit; a refused move beeps.
    void NudgeSelectedLine(int delta) override;
    // The list holding the selected line and the line, or nulls.
    TCutLineList* SelectedList() const override;
    QTreeWidgetItem* SelectedLine() const override;
    // The document's line of the selected entry.
    std::optional<TEditorLine> SelectedEditorLine() const;
    const TLineSuggestions& Suggestions() const override { return m_suggestions; }

    // A release on the grid adds a line in the current mode, or picks the
    // transparent colour from the picture; x and y may lie off the grid.
    void pbGridMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

    // The cells the lines make now, and the project's cell properties.
    TCellGrid CellGrid() const;
    const TCellPropertyMap& CellProperties() const;
    // The selected cell (a span's anchor), or none. Selecting a cell under
    // a span selects the span; one off the grid clears the selection.
    std::optional<TCellRef> SelectedCell() const { return m_selectedCell; }
    void SelectCell(std::optional<TCellRef> cell);
    // Sets one property of the selected cell, as the cell panel does: a
    // value the core refuses leaves the cells as they were and shows its
    // message in the panel; a change is one undo step.
    void EditCellProperty(const std::string& property, const std::string& value);

    // Writes the picture path and both lists to fileName (ProjectFileName,
    // which the caller has set), shows it in the caption and clears the
    // modified state.
    void SaveProject(std::string fileName);
    // Starts a new project, then reads the picture path and the lines from
    // fileName; each stored line goes through the bounds test of a click,
    // duplicates included. A picture that cannot be read is reported once
    // the lines are in, and the window then has no picture.
    void LoadProject(std::string fileName);

    // Acts on the open picture or project having changed on disk, as the
    // file watcher does once the changes have settled: the picture is read
    // again at once, keeping the lines; the project is loaded again, after
    // asking when there are unsaved changes. Our own saves are no change.
    // While the Generate dialog is open, the changes wait for it to close.
    void ReloadChangedFiles();

    // Whether the project has changes that were not saved: any change to
    // the lines, the picture or the transparent colour since the last New,
    // save or load. The title shows it as "*".
    bool IsModified() const;
    // Whether a picture was opened and is shown; Generate needs one.
    bool HasPicture() const { return m_hasPicture; }

    // What a generation run reads: the picture (a white one of the view's
    // size when none is open), every caption of both lists in list order,
    // checked or not, and the transparent colour as the panel holds it.
    TGenerationInput GenerationInput();

    // Draws a cut line on the grid and, with add set, adds it to its list with
    // the given check mark when 0 < x < the grid's width (0 < y < its height
    // for a row) and the list holds no line there yet; a refused line gets
    // the exclamation beep. A column uses only x, a row only y.
    void DrawColumn(bool add, bool checked, int32_t x, int32_t y);
    void DrawRow(bool add, bool checked, int32_t x, int32_t y);
    // Removes every line, or only the unchecked ones, from both lists.
    void ClearLines(bool all);
    // Sets the caption to AppName - [file name of ProjectFileName].
    void ShowProjectCaption();

    // How often the grid was marked for a full repaint.
    int GridRepaintRequests() const { return m_gridRepaintRequests; }
    const TGridCanvas& GridCanvas() const { return m_gridPainter.Canvas(); }

    // Shows a file dialog modally and tells whether the user confirmed it.
    // Tests answer in place of the user; empty means the real dialog.
    std::function<bool(QFileDialog&)> RunFileDialog;

    TDrawMode DrawMode = TDrawMode::dmColumn;
    std::string PictureFileName;
    std::string ProjectFileName;

    QList<QIcon> ilstImages;

    // The commands, each one action for its menu item and tool button.
    const TMainActions& Actions() const { return *m_actions; }
    QUndoStack* UndoStack() const;

    // The widgets tests and the run's dialog look at.
    TCutLineList* ColumnList() const { return lvColumns; }
    TCutLineList* RowList() const { return lvRows; }
    TPaintBox* GridBox() const { return pbGrid; }
    TImageView* PictureView() const { return imgInterface; }
    TColorPanel* TransparentPanel() const { return pnlTransparent; }
    TCellPanel* CellPanel() const { return pnlCell; }

    // The file dialogs, made on first use and kept.
    QFileDialog& OpenDialog();
    QFileDialog& SaveDialog();
    TOpenPictureDialog& OpenImageDlg();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Asks about unsaved changes first; Cancel keeps the window open.
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The grid's host, for TGridInteraction.
    QWidget& Window() override { return *this; }
    TPaintBox& Grid() const override { return *pbGrid; }
    QScrollArea& View() const override { return *ScrollBox1; }
    const TEditorDocument& Document() const override { return *m_document; }
    TCutLineList& List(bool vertical) const override { return vertical ? *lvColumns : *lvRows; }
    TDrawMode Mode() const override { return DrawMode; }
    void DismissSuggestion(bool vertical, int32_t position) override;
    QAction* DeleteLineAction() const override;
    void ClearPointer() override;

    // Whether a second line at the same position is taken: a project file
    // may hold one, a click may not add one.
    enum class TDuplicates : uint8_t { Refuse, Keep };

    void NewProject();
    // A new transparent colour as one undo step; the same one is no change.
    void ChooseTransparentColor(TColor color);
    void PlaceColumn(bool add, bool checked, int32_t x, TDuplicates duplicates);
    void PlaceRow(bool add, bool checked, int32_t y, TDuplicates duplicates);
    void AddLineInside(
        TCutLineList& list, int32_t position, bool checked, int extent, TDuplicates duplicates);
    // With unsaved changes, asks whether to save them first; false when the
    // command that would lose them must stop.
    bool QuerySaveChanges();
    // The caption with the modified marker's place after it.
    void SetCaption(const QString& caption);
    void FormCreate();
    void CreateToolBar();
    void CreateBody();
    void DataChange();
    void pnlInfoResize();
    void InvalidateGrid() override;
    void FitScrollContent();
    // Opening a picture from the loading on: on failure the view, the grid
    // and everything else stay as they were.
    void LoadPicture(const std::string& fileName);
    bool ExecuteDialog(QFileDialog& dialog);
    // Opens a project file; on failure Save still goes where it went.
    void OpenProject(const std::string& fileName);
    void OpenPicture(const std::string& fileName);

    // The undo history: the state as last recorded, and a record of every
    // change since, made by comparing states.
    TProjectState CurrentState() const;
    void ApplyState(const TProjectState& state);
    void Record();
    // Forgets the history; the state on screen becomes the saved one.
    void ResetHistory();

    // Moves an entry to position when the position fits the grid and is
    // free; otherwise beeps and leaves it.
    bool MoveLine(TCutLineList& list, QTreeWidgetItem* item, int32_t position) override;
    void AcceptSuggestion(bool vertical, int32_t position) override;
    void SelectLine(TCutLineList& list, QTreeWidgetItem* item) override;
    void SelectionChanged(TCutLineList* list);
    void PaintGrid(QPainter& painter, const QRect& area);
    // The selected cell's properties into the panel; a selection the grid
    // no longer has is cleared.
    void ShowSelectedCell();
    // A copy of the selected cell's pixels (a span's whole area).
    std::optional<TCellPixels> SelectedCellPixels() const;
    QString SelectedCellDesignText() const;
    // The project's Scale while an SVG or PDF is shown, 0 for other pictures.
    int DesignScale() const;
    // A design drawn at scale from drawn again at to, its lines moved with it.
    void SetDesignScale(int from, int to);
    bool CellKey(QKeyEvent* key) override;
    bool EditsLines() const { return DrawMode == TDrawMode::dmColumn || DrawMode == TDrawMode::dmRow; }
    bool IsVerticalMode() const { return DrawMode == TDrawMode::dmColumn; }
    // FittingCells of the project's cells, worked out again only when the
    // cells or the grid's size in cells have changed: paints come often.
    const TCellPropertyMap& FittingProjectCells(const TCellGrid& grid) const;
    // The base name a cell's file gets without a Name of its own.
    std::string DefaultCellName(TCellRef cell) const;
    void UpdateActions();
    void UpdateStatus();
    void UpdatePointer(QPointF at) override;
    void ShowModeHint();
    void ApplyZoom(int percent, QPointF anchor) override;
    void FillRecentMenu();
    void RememberProject();
    // Watches the files of the picture shown and of the named project.
    void WatchFiles();
    // The project's file name, empty while it has none.
    std::string NamedProjectFileName() const;
    void ReloadPicture();
    void ReloadProject();
    // The project file as it is now is our own.
    void StampProject();

    QFrame* CoolBar1 = nullptr;
    // Shown in the Cells mode.
    QDockWidget* dckCells = nullptr;
    TCellPanel* pnlCell = nullptr;
    TColorPanel* pnlTransparent = nullptr;
    QSplitter* Splitter1 = nullptr;
    QFrame* pnlInfo = nullptr;
    QSplitter* Splitter2 = nullptr;
    TCutLineList* lvColumns = nullptr;
    TCutLineList* lvRows = nullptr;
    QScrollArea* ScrollBox1 = nullptr;
    TImageView* imgInterface = nullptr;
    TPaintBox* pbGrid = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    // What a click does, the pointer's pixel and colour, the picture's size,
    // the counts and the zoom.
    QLabel* lblHint = nullptr;
    QLabel* lblPointer = nullptr;
    QLabel* lblSize = nullptr;
    QLabel* lblCounts = nullptr;
    QLabel* lblZoom = nullptr;

    int m_gridRepaintRequests = 0;
    bool m_hasPicture = false;
    // What reading the picture's file found wrong with it; each run logs it.
    std::vector<std::string> m_pictureWarnings;
    TGridPainter m_gridPainter;
    TGridInteraction m_interaction { *this };
    // The file the open dialog returned last.
    std::string m_openDialogFileName;
    // The history, the modified state (the title's "[*]") and the values
    // the project file keeps for the next save.
    TEditorDocument* m_document = nullptr;
    std::optional<TCellRef> m_selectedCell;
    struct TFittingCells {
        TCellPropertyMap Cells;
        int Rows = -1;
        int Columns = -1;
        TCellPropertyMap Fitting;
    };
    mutable TFittingCells m_fitting;
    QFileDialog* m_openDialog = nullptr;
    QFileDialog* m_saveDialog = nullptr;
    TOpenPictureDialog* m_openImageDlg = nullptr;

    // The picture on screen, shared with the history.
    std::shared_ptr<const TBitmap> m_picture;
    int m_recordingPaused = 0;
    int m_zoomPercent = 100;
    TLineSuggestions m_suggestions;
    // The picture's layered design record (PSD, OpenRaster), when it has one.
    std::optional<TLayeredDesign> m_design;
    TRecentFiles m_recentFiles;
    TFileWatch* m_fileWatch = nullptr;
    std::unique_ptr<TMainActions> m_actions;
};

// The main window while it exists, else empty.
extern TMainForm* MainForm;

} // namespace sw
