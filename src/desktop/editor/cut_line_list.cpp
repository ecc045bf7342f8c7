#include "desktop/editor/cut_line_list.h"

#include "core/base/sysutils.h"
#include "desktop/shell/platform_services.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

#include <utility>

namespace sw {

namespace {

constexpr int kDesignColumnWidth = 148;

// The compare handler of both lists: -1, 0 or 1 by the entries' positions.
int DataSort(const QTreeWidgetItem& item1, const QTreeWidgetItem& item2)
{
    return CompareCutLines(item1.text(0).toStdString(), item2.text(0).toStdString());
}

class TCutLineItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(const QTreeWidgetItem& other) const override { return DataSort(*this, other) < 0; }
};

// Lets an edit through only when it names a position inside the grid that no
// other entry holds, and stores it as plain decimal text. A refused edit
// leaves the old caption and beeps, as a refused click does.
class TCaptionDelegate : public QStyledItemDelegate {
public:
    TCaptionDelegate(TCutLineList* list)
        : QStyledItemDelegate(list)
        , m_list(list)
    { }

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        const auto* line = qobject_cast<QLineEdit*>(editor);
        if (!line)
            return;
        const std::optional<std::string> caption
            = AcceptCaptionEdit(line->text().toStdString(), m_list->Extent());
        const std::optional<int32_t> position = caption ? CutLinePosition(*caption) : std::nullopt;
        if (!position || m_list->HasLineAt(*position, m_list->itemFromIndex(index))) {
            Services().MessageBeep(BeepType::Exclamation);
            return;
        }
        model->setData(index, QString::fromStdString(*caption), Qt::EditRole);
    }

private:
    TCutLineList* m_list;
};

} // namespace

TCutLineList::TCutLineList(
    const QString& objectName, const QIcon& icon, std::function<int()> extent, QWidget* parent)
    : QTreeWidget(parent)
    , m_icon(icon)
    , m_extent(std::move(extent))
{
    setObjectName(objectName);
    setColumnCount(1);
    setHeaderLabels({ QStringLiteral("Position") });
    header()->setStretchLastSection(false);
    setColumnWidth(0, kDesignColumnWidth);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setIconSize(QSize(16, 16));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
        | QAbstractItemView::SelectedClicked);
    setItemDelegate(new TCaptionDelegate(this));
    connect(this, &QTreeWidget::itemChanged, this, &TCutLineList::ItemChanged);
}

void TCutLineList::AddLine(int32_t position, bool checked)
{
    const std::string caption = IntToStr(position);
    QTreeWidgetItem* item = MakeItem(caption, checked);
    // The list is always in order, so the entry goes straight to its place.
    // A sort per entry made loading a project of 2,000 lines take seconds.
    const size_t at = CutLineInsertionIndex(
        static_cast<size_t>(topLevelItemCount()),
        [this](size_t i) { return topLevelItem(static_cast<int>(i))->text(0).toStdString(); }, caption);
    insertTopLevelItem(static_cast<int>(at), item);
    emit Changed();
}

QTreeWidgetItem* TCutLineList::MakeItem(const std::string& caption, bool checked) const
{
    auto* item = new TCutLineItem();
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsEditable
        | Qt::ItemNeverHasChildren);
    item->setIcon(0, m_icon);
    item->setText(0, QString::fromStdString(caption));
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    return item;
}

void TCutLineList::SetLines(const TCutLines& lines)
{
    const QSignalBlocker quiet(this);
    clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(lines.size()));
    for (const TCutLineEntry& line : lines)
        items.append(MakeItem(line.Caption, line.Checked));
    addTopLevelItems(items);
    viewport()->update();
}

QTreeWidgetItem* TCutLineList::ItemAt(int32_t position) const
{
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (CutLinePosition(topLevelItem(i)->text(0).toStdString()) == position)
            return topLevelItem(i);
    return nullptr;
}

int TCutLineList::RemoveLines(bool all)
{
    int removed = 0;
    for (int i = topLevelItemCount() - 1; i >= 0; --i) {
        if (all || topLevelItem(i)->checkState(0) != Qt::Checked) {
            delete takeTopLevelItem(i);
            ++removed;
        }
    }
    return removed;
}

bool TCutLineList::HasLineAt(int32_t position, const QTreeWidgetItem* except) const
{
    for (int i = 0; i < topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = topLevelItem(i);
        if (item != except && CutLinePosition(item->text(0).toStdString()) == position)
            return true;
    }
    return false;
}

TCutLines TCutLineList::Lines() const
{
    TCutLines lines;
    lines.reserve(static_cast<size_t>(topLevelItemCount()));
    for (int i = 0; i < topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = topLevelItem(i);
        lines.push_back(TCutLineEntry { item->text(0).toStdString(), item->checkState(0) == Qt::Checked });
    }
    return lines;
}

void TCutLineList::ItemChanged()
{
    // Only a caption edit can break the order; a tick leaves it as it was.
    if (!IsSortedByPosition(Lines()))
        sortItems(0, Qt::AscendingOrder);
    emit Changed();
}

} // namespace sw
