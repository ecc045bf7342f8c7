#include "desktop/editor/edit_history.h"

#include <algorithm>
#include <utility>

namespace sw {

namespace {

QString Caption(const TEditorLine& line)
{
    return QString::number(line.Position);
}

// The change to one list, or empty when it did not change.
QString DescribeLines(const TEditorLines& before, const TEditorLines& after, const QString& kind)
{
    if (before == after)
        return {};
    const auto missingFrom = [](const TEditorLines& lines, const TEditorLines& others) {
        TEditorLines missing;
        for (const TEditorLine& line : lines) {
            bool found = false;
            for (const TEditorLine& other : others)
                found = found || other.Position == line.Position;
            if (!found)
                missing.push_back(line);
        }
        return missing;
    };
    const TEditorLines gone = missingFrom(before, after);
    const TEditorLines added = missingFrom(after, before);
    if (gone.empty() && added.size() == 1)
        return QStringLiteral("Add %1 %2").arg(kind, Caption(added.front()));
    if (added.empty() && gone.size() == 1)
        return QStringLiteral("Delete %1 %2").arg(kind, Caption(gone.front()));
    if (added.size() == 1 && gone.size() == 1)
        return QStringLiteral("Move %1 %2 to %3").arg(kind, Caption(gone.front()), Caption(added.front()));
    if (gone.empty() && added.empty() && before.size() == after.size()) {
        for (size_t i = 0; i < before.size(); ++i)
            if (before[i].Checked != after[i].Checked)
                return QStringLiteral("%1 %2 %3")
                    .arg(after[i].Checked ? QStringLiteral("Check") : QStringLiteral("Uncheck"), kind,
                        Caption(after[i]));
    }
    if (added.empty())
        return QStringLiteral("Remove %1s").arg(kind);
    return QStringLiteral("Add %1s").arg(kind);
}

} // namespace

QString DescribeChange(const TProjectState& before, const TProjectState& after)
{
    if (before.DesignScale != after.DesignScale && before.PictureFileName == after.PictureFileName)
        return QStringLiteral("Change design scale");
    if (before.Picture != after.Picture || before.PictureFileName != after.PictureFileName)
        return QStringLiteral("Change picture");
    if (before.TransparentColor != after.TransparentColor)
        return QStringLiteral("Change transparent color");
    if (before.Cells != after.Cells) {
        // The first cell that changed names the step.
        auto b = before.Cells.begin();
        auto a = after.Cells.begin();
        while (b != before.Cells.end() && a != after.Cells.end() && *b == *a) {
            ++b;
            ++a;
        }
        const TCellRef cell = b == before.Cells.end() ? a->first
            : a == after.Cells.end()                  ? b->first
                                                      : std::min(a->first, b->first);
        return QStringLiteral("Edit cell %1").arg(QString::fromStdString(CellLabel(cell)));
    }
    const QString columns = DescribeLines(before.Columns, after.Columns, QStringLiteral("column"));
    const QString rows = DescribeLines(before.Rows, after.Rows, QStringLiteral("row"));
    if (!columns.isEmpty() && !rows.isEmpty())
        return QStringLiteral("Change lines");
    return columns.isEmpty() ? rows : columns;
}

TStateCommand::TStateCommand(
    TProjectState before, TProjectState after, std::function<void(const TProjectState&)> apply)
    : m_before(std::move(before))
    , m_after(std::move(after))
    , m_apply(std::move(apply))
{
    setText(DescribeChange(m_before, m_after));
}

void TStateCommand::undo()
{
    m_apply(m_before);
}

void TStateCommand::redo()
{
    if (m_done) {
        m_done = false;
        return;
    }
    m_apply(m_after);
}

void TStateCommand::ReplacePicture(const TBitmap* stale, const TProjectState& fresh)
{
    for (TProjectState* state : { &m_before, &m_after })
        if (state->Picture.get() == stale) {
            state->Picture = fresh.Picture;
            state->GridWidth = fresh.GridWidth;
            state->GridHeight = fresh.GridHeight;
        }
}

} // namespace sw
