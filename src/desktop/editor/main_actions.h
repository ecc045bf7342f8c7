#pragma once

// The main window's commands. Each is one action, shared by its menu item
// and its tool button so caption, hint, icon and check mark stay linked; the
// actions, the menus and the tool bar are declared as rows of tables.

#include <QIcon>
#include <QList>

#include <cstdint>

class QAction;
class QActionGroup;
class QFrame;
class QMainWindow;
class QMenu;
class QUndoStack;
class QWidget;

namespace sw {

// What a mouse release on the picture does; in dmCells it selects the cell.
enum class TDrawMode : uint8_t { dmColumn = 0, dmRow = 1, dmTransparent = 2, dmCells = 3 };

// The commands the actions run; the main window carries them out.
class TMainCommands {
public:
    virtual void New1Click() = 0;
    virtual void Open1Click() = 0;
    virtual void Save1Click() = 0;
    virtual void Saveas1Click() = 0;
    virtual void mnuExitClick() = 0;
    virtual void Generate1Click() = 0;
    virtual void About1Click() = 0;
    virtual void mnuOpenImageClick() = 0;
    virtual void Transparentcolor1Click() = 0;
    virtual void Clear1Click() = 0;
    virtual void Clearunchecked1Click() = 0;
    virtual void NoTransparentColorClick() = 0;
    virtual void ZoomInClick() = 0;
    virtual void ZoomOutClick() = 0;
    virtual void ZoomActualClick() = 0;
    virtual void ZoomFitClick() = 0;
    virtual void DeleteLineClick() = 0;
    virtual void SuggestClick() = 0;
    virtual void AcceptSuggestionsClick() = 0;
    virtual void DismissSuggestionsClick() = 0;
    // sender is the mode's action, its data the TDrawMode.
    virtual void SetDrawMode(QAction* sender) = 0;

protected:
    ~TMainCommands() = default;
};

class TMainActions {
public:
    // Makes every action on window, each connected to its command, the undo
    // and redo actions over undoStack.
    TMainActions(
        QMainWindow& window, TMainCommands& commands, const QList<QIcon>& icons, QUndoStack& undoStack);

    // The menu bar, set on the form.
    void CreateMenus();
    // The band along the window's top edge holding the tool bar, with
    // colourPanel at its place among the buttons.
    QFrame* CreateToolBar(QWidget* colourPanel);

    QAction* New1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* Saveas1 = nullptr;
    QAction* Transparentcolor1 = nullptr;
    QAction* NoTransparentColor1 = nullptr;
    QAction* mnuOpenImage = nullptr;
    QAction* Generate1 = nullptr;
    QAction* mnuExit = nullptr;
    QAction* Column1 = nullptr;
    QAction* Row1 = nullptr;
    QAction* Cells1 = nullptr;
    QAction* Clear1 = nullptr;
    QAction* Clearunchecked1 = nullptr;
    QAction* About1 = nullptr;
    QActionGroup* ModeGroup = nullptr;
    QAction* Undo1 = nullptr;
    QAction* Redo1 = nullptr;
    QAction* ZoomIn1 = nullptr;
    QAction* ZoomOut1 = nullptr;
    QAction* ZoomActual1 = nullptr;
    QAction* ZoomFit1 = nullptr;
    QAction* CellOverlay1 = nullptr;
    QAction* DeleteLine1 = nullptr;
    QAction* Suggest1 = nullptr;
    QAction* AcceptSuggestions1 = nullptr;
    QAction* DismissSuggestions1 = nullptr;
    // Filled as it opens.
    QMenu* RecentMenu = nullptr;

private:
    void CreateUndoActions(QUndoStack& undoStack);

    QMainWindow& m_form;
};

} // namespace sw
