#include "core/project/cut_grid.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"

#include <algorithm>

namespace sw {

namespace {

// lines is "rows" or "columns", size "height" or "width". Lines beyond the
// picture (left over from a larger one) and repeated positions make pieces
// that would have no pixels; they are reported and never read outside it.
TGridPiece PieceBetween(int64_t from, int64_t to, int extent, const char* lines, const char* size)
{
    TGridPiece piece;
    if (to <= from) {
        piece.Reason = Format("%s %lld to %lld give it no %s", lines, static_cast<long long>(from),
            static_cast<long long>(to), size);
        return piece;
    }
    const TBand band { static_cast<int>(std::clamp<int64_t>(from, 0, extent)),
        static_cast<int>(std::clamp<int64_t>(to, 0, extent)) };
    if (band.Length() <= 0) {
        piece.Reason = Format("%s %lld to %lld lie outside the picture's %s of %d", lines,
            static_cast<long long>(from), static_cast<long long>(to), size, extent);
        return piece;
    }
    piece.Band = band;
    return piece;
}

std::vector<TGridPiece> Pieces(
    const std::vector<TGridLine>& lines, int extent, const char* kind, const char* size)
{
    std::vector<TGridPiece> pieces;
    pieces.reserve(lines.size() + 1);
    int64_t from = 0;
    for (size_t k = 0; k <= lines.size(); ++k) {
        const int64_t to = k == lines.size() ? extent : lines[k].Position;
        pieces.push_back(PieceBetween(from, to, extent, kind, size));
        from = to;
    }
    return pieces;
}

std::vector<TGridLine> LinesOf(const std::vector<std::string>& captions)
{
    std::vector<TGridLine> lines;
    lines.reserve(captions.size());
    for (const std::string& caption : captions)
        lines.push_back({ StrToInt(caption) });
    return lines;
}

// The pieces first .. first + count - 1 (within the grid) together.
std::optional<TBand> UnionOf(const std::vector<TGridPiece>& pieces, int first, int count)
{
    std::optional<TBand> band;
    const int last = std::min<int>(first + count, static_cast<int>(pieces.size()));
    for (int k = first; k < last; ++k) {
        const std::optional<TBand>& piece = pieces[size_t(k)].Band;
        if (!piece)
            continue;
        if (!band)
            band = piece;
        band->Start = std::min(band->Start, piece->Start);
        band->End = std::max(band->End, piece->End);
    }
    return band;
}

} // namespace

TCutGrid::TCutGrid(int width, int height, std::vector<TGridLine> columns, std::vector<TGridLine> rows)
    : m_width(width)
    , m_height(height)
    , m_columnLines(std::move(columns))
    , m_rowLines(std::move(rows))
    , m_columns(Pieces(m_columnLines, width, "columns", "width"))
    , m_rows(Pieces(m_rowLines, height, "rows", "height"))
{ }

TCutGrid TCutGrid::FromCaptions(int width, int height, const std::vector<std::string>& columnCaptions,
    const std::vector<std::string>& rowCaptions)
{
    // Rows first: the run has always read them first, and so names the
    // same bad caption when both lists hold one.
    std::vector<TGridLine> rows = LinesOf(rowCaptions);
    return TCutGrid(width, height, LinesOf(columnCaptions), std::move(rows));
}

std::optional<TBand> TCutGrid::ColumnBand(int first, int count) const
{
    return UnionOf(m_columns, first - 1, count);
}

std::optional<TBand> TCutGrid::RowBand(int first, int count) const
{
    return UnionOf(m_rows, first - 1, count);
}

std::optional<TGridRect> TCutGrid::CellRect(int row, int column, int spanColumns, int spanRows) const
{
    const std::optional<TBand> across = ColumnBand(column, spanColumns);
    const std::optional<TBand> down = RowBand(row, spanRows);
    if (!across || !down)
        return std::nullopt;
    return TGridRect { *across, *down };
}

std::string TCutGrid::EmptyReason(int row, int column) const
{
    return Column(column).Band ? Row(row).Reason : Column(column).Reason;
}

void TCutGrid::CheckCellCount() const
{
    if (CellCount() > kMaxGridCells)
        throw Exception(Format("The cut lines make %lld cells, more than the %lld a run makes",
            static_cast<long long>(CellCount()), static_cast<long long>(kMaxGridCells)));
}

} // namespace sw
