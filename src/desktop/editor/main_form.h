#pragma once

// The main window: the cut-line lists on the left, the picture view on the
// right, menus and a tool bar whose buttons share one action with the menu
// item of the same command, so caption, hint, icon and check mark stay linked.

#include "base/colors.h"
#include "editor/color_panel.h"
#include "editor/cut_line_list.h"

#include <QAction>
#include <QActionGroup>
#include <QList>
#include <QMainWindow>

#include <cstdint>
#include <string>

class QFrame;
class QMenu;
class QMenuBar;
class QScrollArea;
class QSplitter;
class QStatusBar;
class QToolBar;
class QToolButton;

namespace sw {

inline constexpr char AppName[] = "Slicewright";

// What a mouse release on the picture does.
enum class TDrawMode : uint8_t { dmColumn = 0, dmRow = 1, dmTransparent = 2 };

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Commands.
    void New1Click();
    void mnuExitClick();
    void About1Click();
    void SetDrawMode(QAction* sender);
    void Clear1Click();
    void Clearunchecked1Click();
    void pnlTransparentClick();

    // Draws a cut line on the grid and, with add set, adds it to its list with
    // the given check mark when 0 < x < the grid's width (0 < y < its height
    // for a row); a refused line gets the exclamation beep. A column uses
    // only x, a row only y.
    void DrawColumn(bool add, bool checked, int32_t x, int32_t y);
    void DrawRow(bool add, bool checked, int32_t x, int32_t y);
    // Removes every line, or only the unchecked ones, from both lists.
    void ClearLines(bool all);
    // Sets the caption to AppName - [file name of ProjectFileName].
    void ShowProjectCaption();

    // How often the grid was marked for a full repaint.
    int GridRepaintRequests() const { return m_gridRepaintRequests; }

    TDrawMode DrawMode = TDrawMode::dmColumn;
    std::string PictureFileName;
    std::string ProjectFileName;

    QList<QIcon> ilstImages;

    QAction* New1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* Saveas1 = nullptr;
    QAction* Transparentcolor1 = nullptr;
    QAction* mnuOpenImage = nullptr;
    QAction* Generate1 = nullptr;
    QAction* mnuExit = nullptr;
    QAction* Column1 = nullptr;
    QAction* Row1 = nullptr;
    QAction* Clear1 = nullptr;
    QAction* Clearunchecked1 = nullptr;
    QAction* About1 = nullptr;
    QActionGroup* ModeGroup = nullptr;

    QMenuBar* MainMenu = nullptr;
    QToolBar* CoolBar1 = nullptr;
    QToolBar* ToolBar1 = nullptr;
    QToolButton* ToolButton1 = nullptr;
    QToolButton* ToolButton3 = nullptr;
    QToolButton* ToolButton4 = nullptr;
    QToolButton* tbtnOpenImage = nullptr;
    QToolButton* tbtnColumn = nullptr;
    QToolButton* tbtnRow = nullptr;
    TColorPanel* pnlTransparent = nullptr;
    QSplitter* Splitter1 = nullptr;
    QFrame* pnlInfo = nullptr;
    QSplitter* Splitter2 = nullptr;
    TCutLineList* lvColumns = nullptr;
    TCutLineList* lvRows = nullptr;
    QScrollArea* ScrollBox1 = nullptr;
    QWidget* pbGrid = nullptr;
    QStatusBar* StatusBar1 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateBody();
    void DataChange();
    void pnlInfoResize();
    void InvalidateGrid();
    void DrawColumnLine(int32_t x);
    void DrawRowLine(int32_t y);

    int m_gridRepaintRequests = 0;
};

// The main window while it exists, else empty.
extern TMainForm* MainForm;

} // namespace sw
