#include "desktop/generate/folder_chooser.h"

#include "desktop/shell/platform_services.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTreeView>
#include <QVBoxLayout>

namespace sw {

TfrmSelect* frmSelect = nullptr;

namespace {

constexpr QSize kClientSize(301, 276);
constexpr QRect kTreePlace(5, 5, 291, 231);
constexpr QRect kOkPlace(145, 245, 75, 25);
constexpr QRect kCancelPlace(220, 245, 75, 25);
constexpr int kIndent = 19;
constexpr char kRootPath[] = "/";
constexpr char kNewFolderName[] = "New folder";

} // namespace

TFolderTree::TFolderTree(QWidget* parent)
    : QWidget(parent)
{
    m_model = new QFileSystemModel(this);
    m_model->setFilter(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    // Writable so a freshly made folder can be renamed in place; the view
    // starts no editing of its own.
    m_model->setReadOnly(false);
    m_model->setRootPath(QString::fromUtf8(kRootPath));

    m_view = new QTreeView(this);
    m_view->setObjectName(QStringLiteral("stvFolders"));
    m_view->setModel(m_model);
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_view->hideColumn(column);
    m_view->header()->hide();
    m_view->setIndentation(kIndent);
    m_view->setUniformRowHeights(true);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    // The selection stays as visible when the tree loses the focus.
    QPalette palette = m_view->palette();
    for (QPalette::ColorRole role : { QPalette::Highlight, QPalette::HighlightedText })
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    m_view->setPalette(palette);
    m_view->expand(m_model->index(QString::fromUtf8(kRootPath)));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);

    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TFolderTree::Changed);
    connect(m_view, &QWidget::customContextMenuRequested, this, &TFolderTree::ShowContextMenu);
    connect(m_model, &QAbstractItemModel::rowsAboutToBeRemoved, this, &TFolderTree::RowsAboutToBeRemoved);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &TFolderTree::RowsRemoved);
    // A folder's rows arrive when it has been read and move when the model
    // sorts them a moment later.
    connect(m_model, &QFileSystemModel::directoryLoaded, this, &TFolderTree::KeepSelectionInView);
    connect(m_model, &QAbstractItemModel::layoutChanged, this, &TFolderTree::KeepSelectionInView);
    // Only the user moves the scroll bars by actions, and only the user
    // expands nodes once a selection was written.
    for (QScrollBar* bar : { m_view->verticalScrollBar(), m_view->horizontalScrollBar() })
        connect(
            bar, &QAbstractSlider::actionTriggered, this, [this] { m_keepInView = QPersistentModelIndex(); });
    for (auto signal : { &QTreeView::expanded, &QTreeView::collapsed })
        connect(m_view, signal, this, [this] { m_keepInView = QPersistentModelIndex(); });
}

QString TFolderTree::Selection() const
{
    const QModelIndexList rows = m_view->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return {};
    const QString path = m_model->filePath(rows.first());
    // The top node stands for the whole file system rather than one folder.
    if (path == QLatin1String(kRootPath))
        return {};
    return path;
}

bool TFolderTree::HasSelection() const
{
    return m_view->selectionModel()->hasSelection();
}

void TFolderTree::SetSelection(const QString& path)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path) || !QFileInfo(path).isDir())
        return;
    const QModelIndex index = m_model->index(QDir::cleanPath(path));
    if (!index.isValid())
        return;
    Select(index);
    m_keepInView = index;
}

void TFolderTree::KeepSelectionInView()
{
    if (!m_keepInView.isValid())
        return;
    if (m_view->currentIndex() != m_keepInView) {
        m_keepInView = QPersistentModelIndex();
        return;
    }
    m_view->scrollTo(m_keepInView);
}

void TFolderTree::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    KeepSelectionInView();
}

void TFolderTree::Select(const QModelIndex& index)
{
    for (QModelIndex above = index.parent(); above.isValid(); above = above.parent())
        m_view->expand(above);
    m_view->setCurrentIndex(index);
    m_view->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_view->scrollTo(index);
}

void TFolderTree::ShowContextMenu(const QPoint& position)
{
    const QModelIndex index = m_view->indexAt(position);
    if (!index.isValid())
        return;
    Select(index);
    QMenu* menu = CreateFolderMenu(m_model->filePath(index), this);
    menu->exec(m_view->viewport()->mapToGlobal(position));
    delete menu;
}

QMenu* TFolderTree::CreateFolderMenu(const QString& folder, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    QAction* open = menu->addAction(QStringLiteral("&Open"));
    connect(open, &QAction::triggered, this, [folder] { Services().OpenUrl(folder); });
    menu->addSeparator();
    QAction* create = menu->addAction(QStringLiteral("New &folder"));
    connect(create, &QAction::triggered, this, [this, folder] {
        const QString made = CreateNewFolder(folder);
        const QModelIndex index = m_model->index(made);
        if (index.isValid())
            m_view->edit(index);
    });
    return menu;
}

QString TFolderTree::CreateNewFolder(const QString& folder)
{
    QDir parentDir(folder);
    if (!parentDir.exists())
        return {};
    QString name = QString::fromUtf8(kNewFolderName);
    for (int number = 2; parentDir.exists(name); ++number)
        name = QStringLiteral("%1 (%2)").arg(QString::fromUtf8(kNewFolderName)).arg(number);
    if (!parentDir.mkdir(name))
        return {};
    const QString made = parentDir.filePath(name);
    SetSelection(made);
    return made;
}

void TFolderTree::RowsAboutToBeRemoved(const QModelIndex& parent, int first, int last)
{
    const QModelIndexList rows = m_view->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    // The selection goes to the parent of the removed folder when the
    // removed folder is the selected one or holds it.
    for (QModelIndex index = rows.first(); index.isValid(); index = index.parent()) {
        if (index.parent() == parent && index.row() >= first && index.row() <= last) {
            m_fallback = parent;
            return;
        }
    }
}

void TFolderTree::RowsRemoved()
{
    if (!m_fallback.isValid())
        return;
    const QModelIndex fallback = m_fallback;
    m_fallback = QPersistentModelIndex();
    Select(fallback);
}

TfrmSelect::TfrmSelect(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmSelect"));
    setWindowTitle(QStringLiteral("Select a folder"));
    setFont(FormFont());
    setFixedSize(kClientSize);
    // Placed on the screen rather than over the dialog that opens it.
    if (const QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    stvFolders = new TFolderTree(this);
    stvFolders->setObjectName(QStringLiteral("stvFolders"));
    stvFolders->setGeometry(kTreePlace);

    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(kOkPlace);
    btnOk->setDefault(true);
    btnOk->setEnabled(false);

    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(kCancelPlace);

    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(stvFolders, &TFolderTree::Changed, this, &TfrmSelect::stvFoldersChange);
}

TfrmSelect::~TfrmSelect()
{
    if (frmSelect == this)
        frmSelect = nullptr;
}

void TfrmSelect::stvFoldersChange()
{
    btnOk->setEnabled(stvFolders->HasSelection());
}

TfrmSelect& FolderChooser()
{
    if (frmSelect == nullptr) {
        frmSelect = new TfrmSelect();
        // Kept for the rest of the program; goes with the event loop.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [] { delete frmSelect; });
    }
    return *frmSelect;
}

} // namespace sw
