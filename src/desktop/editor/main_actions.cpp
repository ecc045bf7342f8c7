#include "desktop/editor/main_actions.h"

#include "desktop/editor/image_list.h"
#include "desktop/shell/handler_guard.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>

#include <vector>

namespace sw {

namespace {

constexpr int kSeparatorWidth = 8;
constexpr int kBandHeight = 24;
constexpr int kToolBarHeight = 22;
constexpr QSize kToolButtonSize(23, 22);
// The hint carried by a command: short text, "|", long text.
constexpr char kHintProperty[] = "hint";
// An icon of our own rather than one of the image list's.
constexpr int kNoIcon = -1;
constexpr int kCellsIcon = -2;

QString Translated(const char* text)
{
    return QCoreApplication::translate("TMainForm", text);
}

// A grid of four cells, one of them picked out.
QIcon CellsIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.fillRect(QRect(8, 8, 6, 6), QColor(0x00, 0x78, 0xD7));
    painter.setPen(QColor(0x40, 0x40, 0x40));
    painter.drawRect(QRect(1, 1, 13, 13));
    painter.drawLine(QPoint(1, 7), QPoint(14, 7));
    painter.drawLine(QPoint(7, 1), QPoint(7, 14));
    return QIcon(pixmap);
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

void SetShortcutAndTip(QAction* action, const QList<QKeySequence>& keys, const QString& tip)
{
    action->setShortcuts(keys);
    const QString shortcut = keys.isEmpty() ? QString() : keys.front().toString(QKeySequence::NativeText);
    action->setToolTip(shortcut.isEmpty() ? tip : QStringLiteral("%1 (%2)").arg(tip, shortcut));
}

using TActionSlot = QAction* TMainActions::*;

// One command. A mode command has its mode as tag and no handler of its own; a tip
// sets the shortcuts too, which follow it in brackets.
struct TActionRow {
    TActionSlot Slot;
    const char* Name;
    const char* Caption;
    int Icon = kNoIcon;
    QList<QKeySequence> Keys;
    const char* Tip = nullptr;
    const char* Hint = nullptr;
    void (TMainCommands::*Handler)() = nullptr;
    int Tag = -1;
};

const std::vector<TActionRow>& ActionTable()
{
    using A = TMainActions;
    using F = TMainCommands;
    const auto key = [](auto... keys) { return QList<QKeySequence> { QKeySequence(keys)... }; };
    // clang-format off
    static const std::vector<TActionRow> table = {
        { &A::New1, "New1", QT_TRANSLATE_NOOP("TMainForm", "&New"), kIconNewProject,
            key(QKeySequence::New), QT_TRANSLATE_NOOP("TMainForm", "New project"), nullptr, &F::New1Click },
        { &A::Open1, "Open1", QT_TRANSLATE_NOOP("TMainForm", "&Open..."), kIconOpenProject,
            key(QKeySequence::Open), QT_TRANSLATE_NOOP("TMainForm", "Open a project"), nullptr, &F::Open1Click },
        { &A::Save1, "Save1", QT_TRANSLATE_NOOP("TMainForm", "&Save"), kIconSaveProject,
            key(QKeySequence::Save), QT_TRANSLATE_NOOP("TMainForm", "Save the project"), nullptr, &F::Save1Click },
        { &A::Saveas1, "Saveas1", QT_TRANSLATE_NOOP("TMainForm", "Save &as..."), kNoIcon,
            key(Qt::CTRL | Qt::SHIFT | Qt::Key_S), QT_TRANSLATE_NOOP("TMainForm", "Save as"), nullptr,
            &F::Saveas1Click },
        { &A::Transparentcolor1, "Transparentcolor1", QT_TRANSLATE_NOOP("TMainForm", "&Transparent color"),
            kNoIcon, {}, nullptr,
            QT_TRANSLATE_NOOP("TMainForm",
                "The next color that you click on on the image will be set as the transparent color"),
            &F::Transparentcolor1Click },
        { &A::NoTransparentColor1, "NoTransparentColor1", QT_TRANSLATE_NOOP("TMainForm", "&No transparent color"),
            kNoIcon, {}, nullptr, QT_TRANSLATE_NOOP("TMainForm", "Every cell keeps all its pixels opaque"),
            &F::NoTransparentColorClick },
        { &A::mnuOpenImage, "mnuOpenImage", QT_TRANSLATE_NOOP("TMainForm", "O&pen image..."), kIconOpenPicture,
            {}, QT_TRANSLATE_NOOP("TMainForm", "Open an image to be cut up"),
            QT_TRANSLATE_NOOP("TMainForm", "Open an image|Open an image to be cut up"), &F::mnuOpenImageClick },
        { &A::Generate1, "Generate1", QT_TRANSLATE_NOOP("TMainForm", "&Generate..."), kNoIcon, {}, nullptr,
            nullptr, &F::Generate1Click },
        { &A::mnuExit, "mnuExit", QT_TRANSLATE_NOOP("TMainForm", "E&xit"), kNoIcon, key(Qt::CTRL | Qt::Key_Q),
            QT_TRANSLATE_NOOP("TMainForm", "Exit"), QT_TRANSLATE_NOOP("TMainForm", "Exit|Exit this application"),
            &F::mnuExitClick },
        { &A::Column1, "Column1", QT_TRANSLATE_NOOP("TMainForm", "&Column"), kIconColumn, {},
            QT_TRANSLATE_NOOP("TMainForm", "Column mode: a click adds a column"),
            QT_TRANSLATE_NOOP("TMainForm", "Column|Insert a column"), nullptr,
            static_cast<int>(TDrawMode::dmColumn) },
        { &A::Row1, "Row1", QT_TRANSLATE_NOOP("TMainForm", "&Row"), kIconRow, {},
            QT_TRANSLATE_NOOP("TMainForm", "Row mode: a click adds a row"),
            QT_TRANSLATE_NOOP("TMainForm", "Row|Insert a row"), nullptr, static_cast<int>(TDrawMode::dmRow) },
        { &A::Cells1, "Cells1", QT_TRANSLATE_NOOP("TMainForm", "C&ells"), kCellsIcon, key(Qt::CTRL | Qt::Key_E),
            QT_TRANSLATE_NOOP("TMainForm", "Cells mode: a click selects a cell to name, link, merge or fill"),
            QT_TRANSLATE_NOOP("TMainForm", "Cells|Select a cell and edit its properties"), nullptr,
            static_cast<int>(TDrawMode::dmCells) },
        { &A::Clear1, "Clear1", QT_TRANSLATE_NOOP("TMainForm", "&Clear..."), kNoIcon, {}, nullptr, nullptr,
            &F::Clear1Click },
        { &A::Clearunchecked1, "Clearunchecked1", QT_TRANSLATE_NOOP("TMainForm", "C&lear unchecked..."), kNoIcon,
            {}, nullptr, nullptr, &F::Clearunchecked1Click },
        { &A::About1, "About1", QT_TRANSLATE_NOOP("TMainForm", "&About..."), kNoIcon, key(Qt::Key_F1),
            QT_TRANSLATE_NOOP("TMainForm", "About"), nullptr, &F::About1Click },
        { &A::ZoomIn1, "ZoomIn1", QT_TRANSLATE_NOOP("TMainForm", "Zoom &in"), kNoIcon,
            key(Qt::CTRL | Qt::Key_Equal, Qt::CTRL | Qt::Key_Plus), QT_TRANSLATE_NOOP("TMainForm", "Zoom in"),
            nullptr, &F::ZoomInClick },
        { &A::ZoomOut1, "ZoomOut1", QT_TRANSLATE_NOOP("TMainForm", "Zoom &out"), kNoIcon,
            key(Qt::CTRL | Qt::Key_Minus), QT_TRANSLATE_NOOP("TMainForm", "Zoom out"), nullptr, &F::ZoomOutClick },
        { &A::ZoomActual1, "ZoomActual1", QT_TRANSLATE_NOOP("TMainForm", "&Actual size"), kNoIcon,
            key(Qt::CTRL | Qt::Key_0), QT_TRANSLATE_NOOP("TMainForm", "Actual size, 100 %"), nullptr,
            &F::ZoomActualClick },
        { &A::ZoomFit1, "ZoomFit1", QT_TRANSLATE_NOOP("TMainForm", "&Fit in window"), kNoIcon,
            key(Qt::CTRL | Qt::Key_9), QT_TRANSLATE_NOOP("TMainForm", "Fit the picture in the window"), nullptr,
            &F::ZoomFitClick },
        { &A::CellOverlay1, "CellOverlay1", QT_TRANSLATE_NOOP("TMainForm", "&Cell names and sizes"), kNoIcon, {},
            QT_TRANSLATE_NOOP("TMainForm", "Show each cell's name and size on the picture") },
        { &A::DeleteLine1, "DeleteLine1", QT_TRANSLATE_NOOP("TMainForm", "&Delete line"), kNoIcon,
            key(QKeySequence::Delete), QT_TRANSLATE_NOOP("TMainForm", "Delete the selected line"), nullptr,
            &F::DeleteLineClick },
        { &A::Suggest1, "Suggest1", QT_TRANSLATE_NOOP("TMainForm", "&Suggest cuts"), kNoIcon, {},
            QT_TRANSLATE_NOOP("TMainForm", "Propose lines where the picture changes or flat bands end"), nullptr,
            &F::SuggestClick },
        { &A::AcceptSuggestions1, "AcceptSuggestions1", QT_TRANSLATE_NOOP("TMainForm", "Accept &all suggestions"),
            kNoIcon, {}, nullptr, nullptr, &F::AcceptSuggestionsClick },
        { &A::DismissSuggestions1, "DismissSuggestions1", QT_TRANSLATE_NOOP("TMainForm", "D&ismiss suggestions"),
            kNoIcon, {}, nullptr, nullptr, &F::DismissSuggestionsClick },
    };
    // clang-format on
    return table;
}

// A menu entry: an action, a named separator, or the recent projects.
struct TMenuItem {
    TActionSlot Slot = nullptr;
    const char* Separator = nullptr;
    bool Recent = false;
};

struct TMenuRow {
    const char* Name;
    const char* Caption;
    std::vector<TMenuItem> Items;
};

const std::vector<TMenuRow>& MenuTable()
{
    using A = TMainActions;
    const auto separator = [](const char* name) { return TMenuItem { nullptr, name }; };
    static const std::vector<TMenuRow> table = {
        { "File1", QT_TRANSLATE_NOOP("TMainForm", "&File"),
            { { &A::New1 }, { &A::Open1 }, { &A::Save1 }, { &A::Saveas1 }, separator("N2"),
                { &A::Transparentcolor1 }, { &A::NoTransparentColor1 }, { &A::mnuOpenImage }, separator("N1"),
                { &A::Generate1 }, separator("N3"), { nullptr, nullptr, true }, separator("N4"),
                { &A::mnuExit } } },
        { "Edit1", QT_TRANSLATE_NOOP("TMainForm", "&Edit"),
            { { &A::Undo1 }, { &A::Redo1 }, separator(""), { &A::DeleteLine1 } } },
        { "View1", QT_TRANSLATE_NOOP("TMainForm", "&View"),
            { { &A::ZoomIn1 }, { &A::ZoomOut1 }, { &A::ZoomActual1 }, { &A::ZoomFit1 }, separator(""),
                { &A::CellOverlay1 } } },
        { "Mode1", QT_TRANSLATE_NOOP("TMainForm", "&Mode"),
            { { &A::Column1 }, { &A::Row1 }, { &A::Cells1 } } },
        { "Grid1", QT_TRANSLATE_NOOP("TMainForm", "&Grid"),
            { { &A::Clear1 }, { &A::Clearunchecked1 }, separator(""), { &A::Suggest1 },
                { &A::AcceptSuggestions1 }, { &A::DismissSuggestions1 } } },
        { "Help1", QT_TRANSLATE_NOOP("TMainForm", "&Help"), { { &A::About1 } } },
    };
    return table;
}

// A tool bar entry: a button for an action, a named separator, or the
// colour panel.
struct TToolItem {
    TActionSlot Slot = nullptr;
    const char* Name = nullptr;
    bool Panel = false;
};

const std::vector<TToolItem>& ToolTable()
{
    using A = TMainActions;
    static const std::vector<TToolItem> table = {
        { &A::New1, "ToolButton1" },
        { &A::Open1, "ToolButton3" },
        { &A::Save1, "ToolButton4" },
        { nullptr, "ToolButton5" },
        { &A::mnuOpenImage, "tbtnOpenImage" },
        { nullptr, "ToolButton2" },
        { &A::Column1, "tbtnColumn" },
        { &A::Row1, "tbtnRow" },
        { &A::Cells1, "tbtnCells" },
        { nullptr, "ToolButton6" },
        { nullptr, nullptr, true },
        { nullptr, "ToolButton7" },
        { &A::Undo1, "tbtnUndo" },
        { &A::Redo1, "tbtnRedo" },
    };
    return table;
}

} // namespace

TMainActions::TMainActions(
    QMainWindow& form, TMainCommands& commands, const QList<QIcon>& icons, QUndoStack& undoStack)
    : m_form(form)
{
    ModeGroup = new QActionGroup(&form);
    ModeGroup->setObjectName(QStringLiteral("ModeGroup"));
    ModeGroup->setExclusive(true);
    for (const TActionRow& row : ActionTable()) {
        auto* action = new QAction(Translated(row.Caption), &form);
        action->setObjectName(QString::fromUtf8(row.Name));
        if (row.Icon == kCellsIcon)
            action->setIcon(CellsIcon());
        else if (row.Icon != kNoIcon)
            action->setIcon(icons[row.Icon]);
        if (row.Hint)
            action->setProperty(kHintProperty, Translated(row.Hint));
        if (row.Tip)
            SetShortcutAndTip(action, row.Keys, Translated(row.Tip));
        if (row.Handler)
            QObject::connect(action, &QAction::triggered, &form, Guarded(&commands, row.Handler));
        if (row.Tag >= 0) {
            action->setCheckable(true);
            ModeGroup->addAction(action);
            QObject::connect(
                action, &QAction::triggered, &form, [&commands, action] { commands.SetDrawMode(action); });
        }
        this->*row.Slot = action;
    }
    Column1->setChecked(true);
    CellOverlay1->setCheckable(true);
    CreateUndoActions(undoStack);
    // Shortcuts that work without a menu item of their own in reach.
    for (QAction* action : { ZoomIn1, ZoomOut1, ZoomActual1, ZoomFit1, DeleteLine1 })
        form.addAction(action);
}

void TMainActions::CreateUndoActions(QUndoStack& undoStack)
{
    Undo1 = undoStack.createUndoAction(&m_form, Translated(QT_TRANSLATE_NOOP("TMainForm", "&Undo")));
    Undo1->setObjectName(QStringLiteral("Undo1"));
    Undo1->setShortcuts(QKeySequence::Undo);
    Undo1->setIcon(
        QIcon::fromTheme(QStringLiteral("edit-undo"), m_form.style()->standardIcon(QStyle::SP_ArrowBack)));
    Redo1 = undoStack.createRedoAction(&m_form, Translated(QT_TRANSLATE_NOOP("TMainForm", "&Redo")));
    Redo1->setObjectName(QStringLiteral("Redo1"));
    Redo1->setShortcuts(QKeySequence::Redo);
    Redo1->setIcon(
        QIcon::fromTheme(QStringLiteral("edit-redo"), m_form.style()->standardIcon(QStyle::SP_ArrowForward)));
    // The undo and redo actions name the change; their tips follow.
    for (QAction* action : { Undo1, Redo1 })
        QObject::connect(action, &QAction::changed, &m_form, [action] {
            const QString tip = action->text().remove(QLatin1Char('&'))
                + QStringLiteral(" (%1)").arg(action->shortcut().toString(QKeySequence::NativeText));
            if (action->toolTip() != tip)
                action->setToolTip(tip);
        });
}

void TMainActions::CreateMenus()
{
    auto* bar = new QMenuBar(&m_form);
    bar->setObjectName(QStringLiteral("MainMenu"));
    m_form.setMenuBar(bar);
    for (const TMenuRow& row : MenuTable()) {
        QMenu* menu = bar->addMenu(Translated(row.Caption));
        menu->setObjectName(QString::fromUtf8(row.Name));
        for (const TMenuItem& item : row.Items) {
            if (item.Slot) {
                menu->addAction(this->*item.Slot);
            } else if (item.Recent) {
                RecentMenu = menu->addMenu(Translated(QT_TRANSLATE_NOOP("TMainForm", "&Recent projects")));
                RecentMenu->setObjectName(QStringLiteral("RecentMenu"));
            } else {
                QAction* separator = menu->addSeparator();
                if (*item.Separator)
                    separator->setObjectName(QString::fromUtf8(item.Separator));
            }
        }
    }
}

QFrame* TMainActions::CreateToolBar(QWidget* colourPanel)
{
    // The band bar spans the window's top edge and holds the tool bar as its
    // one band.
    auto* coolBar = new QFrame(&m_form);
    coolBar->setObjectName(QStringLiteral("CoolBar1"));
    coolBar->setFixedHeight(kBandHeight);
    auto* band = new QHBoxLayout(coolBar);
    band->setContentsMargins(2, 1, 2, 1);
    band->setSpacing(0);

    auto* toolBar = new QToolBar(coolBar);
    toolBar->setObjectName(QStringLiteral("ToolBar1"));
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->setFixedHeight(kToolBarHeight);
    toolBar->setIconSize(QSize(16, 16));
    toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    // The buttons fill the band's height; the style's own tool-bar margins
    // would squeeze the icons below 16 pixels.
    toolBar->setStyleSheet(QStringLiteral("QToolBar { border: 0px; padding: 0px; spacing: 0px; }"));
    band->addWidget(toolBar);
    band->addStretch();

    for (const TToolItem& item : ToolTable()) {
        if (item.Panel) {
            toolBar->addWidget(colourPanel);
        } else if (!item.Slot) {
            toolBar->addWidget(MakeSeparator(item.Name));
        } else {
            QAction* action = this->*item.Slot;
            toolBar->addAction(action);
            auto* button = qobject_cast<QToolButton*>(toolBar->widgetForAction(action));
            button->setObjectName(QString::fromUtf8(item.Name));
            button->setAutoRaise(true);
            button->setFixedSize(kToolButtonSize);
            button->installEventFilter(&m_form);
        }
    }
    return coolBar;
}

} // namespace sw
