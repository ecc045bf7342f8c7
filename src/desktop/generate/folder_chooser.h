#pragma once

// The folder chooser: a small modal window with a tree of every folder of
// the file system, in which the user picks the output folder. It is created
// on first use and kept for the rest of the program.

#include <QDialog>
#include <QPersistentModelIndex>
#include <QString>

class QFileSystemModel;
class QMenu;
class QPushButton;
class QTreeView;

namespace sw {

// The tree of folders under "/", hidden ones included, files left out. Its
// single top node stands for the whole file system.
class TFolderTree : public QWidget {
    Q_OBJECT
public:
    explicit TFolderTree(QWidget* parent = nullptr);

    // The selected folder's path without a trailing '/'; the empty text when
    // nothing or the top node is selected.
    QString Selection() const;
    // Selects the folder of that path, opening the nodes above it, and
    // scrolls it into view, again whenever the model has read a folder,
    // until the user scrolls, expands or selects. A path that names no folder
    // changes nothing.
    void SetSelection(const QString& path);
    bool HasSelection() const;

    // The context menu for a folder: open it in the file manager, make a new
    // folder in it. The menu belongs to the caller.
    QMenu* CreateFolderMenu(const QString& folder, QWidget* parent);
    // Makes a new folder named "New folder" (or "New folder (2)", ...) inside
    // the given one and selects it; returns its path, empty on failure.
    QString CreateNewFolder(const QString& folder);

    QTreeView* View() const { return m_view; }
    QFileSystemModel* Model() const { return m_model; }

signals:
    // After the selected node changed.
    void Changed();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void KeepSelectionInView();
    void ShowContextMenu(const QPoint& position);
    void RowsAboutToBeRemoved(const QModelIndex& parent, int first, int last);
    void RowsRemoved();
    void Select(const QModelIndex& index);

    QFileSystemModel* m_model = nullptr;
    QTreeView* m_view = nullptr;
    // The parent of a selected folder that is going away, selected in its place.
    QPersistentModelIndex m_fallback;
    // The folder written into the selection, while it should stay in view:
    // the model reads folders in the background, and rows that arrive above
    // it push it out of view.
    QPersistentModelIndex m_keepInView;
};

class TfrmSelect : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSelect(QWidget* parent = nullptr);
    ~TfrmSelect() override;

    // OK is enabled exactly when a node is selected.
    void stvFoldersChange();

    TFolderTree* stvFolders = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
};

// The chooser once it was first used, else empty.
extern TfrmSelect* frmSelect;
// The chooser, created on first use and kept until the application ends.
TfrmSelect& FolderChooser();

} // namespace sw
