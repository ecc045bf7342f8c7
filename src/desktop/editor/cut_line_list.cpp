#include "desktop/editor/cut_line_list.h"

#include "desktop/shell/platform_services.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

#include <utility>

namespace sw {

namespace {

constexpr int kDesignColumnWidth = 148;

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

TCutLineList::TCutLineList(TEditorDocument& document, bool columns, const QString& objectName,
    const QIcon& icon, std::function<int()> extent, QWidget* parent)
    : QTreeWidget(parent)
    , m_document(document)
    , m_vertical(columns)
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
    const auto mine = [this](bool vertical) { return vertical == m_vertical; };
    connect(&m_document, &TEditorDocument::LineInserted, this, [this, mine](bool vertical, int index) {
        if (!mine(vertical))
            return;
        const QScopedValueRollback following(m_following, true);
        insertTopLevelItem(index, MakeItem(m_document.Lines(m_vertical)[size_t(index)]));
    });
    connect(&m_document, &TEditorDocument::LineRemoved, this, [this, mine](bool vertical, int index) {
        if (mine(vertical))
            delete takeTopLevelItem(index);
    });
    connect(&m_document, &TEditorDocument::LineMoved, this, [this, mine](bool vertical, int from, int to) {
        if (mine(vertical))
            ShowMove(from, to);
    });
    connect(&m_document, &TEditorDocument::LineChecked, this, [this, mine](bool vertical, int index) {
        if (!mine(vertical))
            return;
        const QScopedValueRollback following(m_following, true);
        topLevelItem(index)->setCheckState(
            0, m_document.Lines(m_vertical)[size_t(index)].Checked ? Qt::Checked : Qt::Unchecked);
    });
    connect(&m_document, &TEditorDocument::LinesReset, this, &TCutLineList::ShowAll);
}

QTreeWidgetItem* TCutLineList::MakeItem(const TEditorLine& line) const
{
    auto* item = new QTreeWidgetItem();
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsEditable
        | Qt::ItemNeverHasChildren);
    item->setIcon(0, m_icon);
    item->setText(0, QString::number(line.Position));
    item->setCheckState(0, line.Checked ? Qt::Checked : Qt::Unchecked);
    return item;
}

void TCutLineList::ShowAll()
{
    const QScopedValueRollback following(m_following, true);
    clear();
    const TEditorLines& lines = m_document.Lines(m_vertical);
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(lines.size()));
    for (const TEditorLine& line : lines)
        items.append(MakeItem(line));
    addTopLevelItems(items);
    viewport()->update();
}

void TCutLineList::ShowMove(int from, int to)
{
    const QScopedValueRollback following(m_following, true);
    QTreeWidgetItem* item = topLevelItem(from);
    item->setText(0, QString::number(m_document.Lines(m_vertical)[size_t(to)].Position));
    if (from == to)
        return;
    // The entry keeps its selection and the current mark as it moves.
    const bool selected = item->isSelected();
    const bool current = currentItem() == item;
    const QSignalBlocker quiet(this);
    takeTopLevelItem(from);
    insertTopLevelItem(to, item);
    if (current)
        setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    item->setSelected(selected);
    viewport()->update();
}

QTreeWidgetItem* TCutLineList::ItemAt(int32_t position) const
{
    const TEditorLines& lines = m_document.Lines(m_vertical);
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].Position == position)
            return topLevelItem(static_cast<int>(i));
    return nullptr;
}

bool TCutLineList::HasLineAt(int32_t position, const QTreeWidgetItem* except) const
{
    const int skip = except ? indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(except)) : -1;
    const TEditorLines& lines = m_document.Lines(m_vertical);
    for (size_t i = 0; i < lines.size(); ++i)
        if (static_cast<int>(i) != skip && lines[i].Position == position)
            return true;
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

void TCutLineList::ItemChanged(QTreeWidgetItem* item)
{
    if (m_following)
        return;
    const int index = indexOfTopLevelItem(item);
    if (index < 0)
        return;
    const TEditorLine line = m_document.Lines(m_vertical)[size_t(index)];
    const bool checked = item->checkState(0) == Qt::Checked;
    if (checked != line.Checked)
        m_document.CheckLine(m_vertical, index, checked);
    const std::optional<int32_t> position = CutLinePosition(item->text(0).toStdString());
    if (position && *position != line.Position) {
        m_document.MoveLine(m_vertical, index, *position);
    } else if (!position) {
        // Text that is no position leaves the line where it was.
        const QScopedValueRollback following(m_following, true);
        item->setText(0, QString::number(line.Position));
    }
    emit Changed();
}

} // namespace sw
