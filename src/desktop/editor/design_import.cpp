#include "desktop/editor/design_import.h"

#include "core/generate/run_settings.h"
#include "core/picture_formats.h"
#include "desktop/shell/platform_services.h"

#include <QInputDialog>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <iterator>
#include <set>

namespace sw {

TPageQuestion AskDesignPage;

std::optional<TLayeredDesign> DesignOfPicture(const std::string& fileName)
{
    try {
        return ReadLayeredDesign(fileName);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

int DesignPageCount(const std::string& fileName)
{
    try {
        return PicturePageCount(fileName);
    } catch (const std::exception&) {
        return 1;
    }
}

std::optional<int> AskPage(QWidget* parent, int pages, int current)
{
    if (AskDesignPage)
        return AskDesignPage(pages, current);
    bool ok = false;
    const int page = QInputDialog::getInt(parent, QStringLiteral("Open PDF page"),
        QStringLiteral("The document has %1 pages. Page to open:").arg(pages), std::clamp(current, 1, pages),
        1, pages, 1, &ok);
    if (!ok)
        return std::nullopt;
    return page;
}

TDesignCuts OfferDesignCuts(const TLayeredDesign& design)
{
    const TDesignCuts cuts = DesignCutLines(design);
    if (cuts.Empty())
        return {};
    const QString from = design.Guides.empty() ? QStringLiteral("slices")
        : design.Slices.empty()                ? QStringLiteral("guides")
                                               : QStringLiteral("guides and slices");
    const QString question = QStringLiteral("The design's %1 give %2 column and %3 row lines. Add them as "
                                            "cut lines?")
                                 .arg(from)
                                 .arg(cuts.Columns.size())
                                 .arg(cuts.Rows.size());
    if (!Services().Confirm(question))
        return {};
    return cuts;
}

TEditorLines ScaleCutLines(const TEditorLines& lines, int from, int to)
{
    if (from <= 0 || to <= 0 || from == to)
        return lines;
    TEditorLines scaled;
    std::set<int64_t> taken;
    for (const TEditorLine& line : lines) {
        const int64_t moved = int64_t { line.Position } * to / from;
        if (moved < 1 || moved > INT32_MAX || !taken.insert(moved).second)
            continue;
        scaled.push_back({ static_cast<int32_t>(moved), line.Checked });
    }
    return scaled;
}

std::optional<TOutputValues> OutputAtScale(std::optional<TOutputValues> output, int scale)
{
    const TRunKey* row = FindRunKey("Scale");
    if (output)
        for (auto it = output->begin(); it != output->end();)
            it = FindRunKey(it->first) == row ? output->erase(it) : std::next(it);
    if (scale != 1) {
        if (!output)
            output.emplace();
        (*output)[row->Key] = std::to_string(scale);
    }
    return output;
}

QString DesignTextForCell(const TLayeredDesign& design, const TRect& cell)
{
    QStringList texts;
    for (const std::string& text : TextLayersForCell(design, cell))
        texts.append(QString::fromStdString(text));
    return texts.join(QLatin1Char(' '));
}

} // namespace sw
