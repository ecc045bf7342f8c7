#pragma once

// A check-box list of cut lines: one entry per line of one of the document's
// lists, its caption the position in pixels, in the document's order. The
// document is the store: the list follows its changes, and a caption typed
// over an entry or a tick sent to it goes to the document as a command.

#include "core/project/cut_lines.h"
#include "desktop/editor/editor_document.h"

#include <QIcon>
#include <QTreeWidget>

#include <functional>

namespace sw {

class TCutLineList : public QTreeWidget {
    Q_OBJECT
public:
    // Shows the document's columns (vertical) or rows. extent gives the
    // grid's current size along the list's axis; in-place edits must stay
    // inside it, like clicks on the grid.
    TCutLineList(TEditorDocument& document, bool vertical, const QString& objectName, const QIcon& icon,
        std::function<int()> extent, QWidget* parent = nullptr);

    bool Vertical() const { return m_vertical; }
    // The entries as shown.
    TCutLines Lines() const;
    // The first entry standing for position, or null.
    QTreeWidgetItem* ItemAt(int32_t position) const;
    // Whether an entry other than except stands for position.
    bool HasLineAt(int32_t position, const QTreeWidgetItem* except = nullptr) const;
    int Extent() const { return m_extent(); }

signals:
    // The user changed an entry's caption or tick, and the document has it.
    void Changed();

private:
    QTreeWidgetItem* MakeItem(const TEditorLine& line) const;
    void ShowAll();
    void ShowMove(int from, int to);
    void ItemChanged(QTreeWidgetItem* item);

    TEditorDocument& m_document;
    bool m_vertical;
    // Set while the list follows the document, whose own changes are no
    // user's edits.
    bool m_following = false;
    QIcon m_icon;
    std::function<int()> m_extent;
};

} // namespace sw
