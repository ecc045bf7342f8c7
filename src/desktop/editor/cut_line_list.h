#pragma once

// A check-box list of cut lines: one entry per line, its caption the position
// in pixels, kept in ascending numeric order after every change. The list is
// the store of the lines; Lines() hands them out as plain data.

#include "core/project/cut_lines.h"

#include <QIcon>
#include <QTreeWidget>

#include <functional>

namespace sw {

class TCutLineList : public QTreeWidget {
    Q_OBJECT
public:
    // extent gives the grid's current size along the list's axis; in-place
    // edits must stay inside it, like clicks on the grid.
    TCutLineList(
        const QString& objectName, const QIcon& icon, std::function<int()> extent, QWidget* parent = nullptr);

    // Appends an entry and sorts the list again; equal positions keep the
    // order in which they were added.
    void AddLine(int32_t position, bool checked);
    // Removes every entry, or only the unchecked ones; the others keep their
    // order. Returns how many went.
    int RemoveLines(bool all);
    TCutLines Lines() const;
    // Puts back lines as Lines() gave them, without a Changed signal.
    void SetLines(const TCutLines& lines);
    // The first entry standing for position, or null.
    QTreeWidgetItem* ItemAt(int32_t position) const;
    // Whether an entry other than except stands for position.
    bool HasLineAt(int32_t position, const QTreeWidgetItem* except = nullptr) const;
    int Extent() const { return m_extent(); }

signals:
    // An entry was added, or its caption, icon or check mark changed.
    void Changed();

private:
    QTreeWidgetItem* MakeItem(const std::string& caption, bool checked) const;
    void ItemChanged();

    QIcon m_icon;
    std::function<int()> m_extent;
};

} // namespace sw
