#pragma once

// The cut lines of a picture as one grid of pieces: positions read once as
// whole numbers, and one rule for what a piece between two lines holds once
// it is clipped to the picture. The run, the size estimate and the editor
// all see the cells through it. Rows and columns count from 1, pixels from 0.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sw {

// Pixels from Start up to End along one side of the picture.
struct TBand {
    int Start = 0;
    int End = 0;
    int Length() const { return End - Start; }
    bool operator==(const TBand&) const = default;
};

// A cell's pixels: Columns across, Rows down.
struct TGridRect {
    TBand Columns;
    TBand Rows;
    bool operator==(const TGridRect&) const = default;
};

// One cut line, across the whole picture. A line that runs across some
// bands only would say which here; users who take cells through CellRect
// and EmptyReason then need no change.
struct TGridLine {
    int32_t Position = 0;
    bool operator==(const TGridLine&) const = default;
};

// The stretch from one line (or the picture's edge) to the next, clipped to
// the picture; without pixels when the next line is not past it or the
// stretch lies outside the picture, with the reason in words ("rows 12 to
// 12 give it no height", "columns 50 to 70 lie outside the picture's width
// of 40").
struct TGridPiece {
    std::optional<TBand> Band;
    std::string Reason;
};

// The most cells a grid may have: beyond it a run would make more files
// than any page can use, and a slip of the hand (a line every pixel) would
// fill a folder.
inline constexpr int64_t kMaxGridCells = 100000;

class TCutGrid {
public:
    TCutGrid() = default;
    // Lines in list order, each across the whole picture.
    TCutGrid(int width, int height, std::vector<TGridLine> columns, std::vector<TGridLine> rows);
    // The lists' captions read by the project's whole-number rule; one
    // that is not a whole number fails with EConvertError "'%s' is not a
    // valid integer value".
    static TCutGrid FromCaptions(int width, int height, const std::vector<std::string>& columnCaptions,
        const std::vector<std::string>& rowCaptions);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    const std::vector<TGridLine>& ColumnLines() const { return m_columnLines; }
    const std::vector<TGridLine>& RowLines() const { return m_rowLines; }
    // Pieces each way: one more than the lines.
    int Columns() const { return static_cast<int>(m_columns.size()); }
    int Rows() const { return static_cast<int>(m_rows.size()); }
    int64_t CellCount() const { return int64_t(Columns()) * Rows(); }
    bool Contains(int row, int column) const
    {
        return row >= 1 && row <= Rows() && column >= 1 && column <= Columns();
    }
    // The piece of one column or row; 1 <= column <= Columns() assumed.
    const TGridPiece& Column(int column) const { return m_columns[size_t(column) - 1]; }
    const TGridPiece& Row(int row) const { return m_rows[size_t(row) - 1]; }
    // The pixels of the cell at row, column covering spanColumns x spanRows
    // pieces (stopping at the grid's edge): the smallest rectangle holding
    // every such piece with pixels; empty when the columns or the rows have
    // none. The reason is then the first empty piece's, columns first.
    std::optional<TGridRect> CellRect(int row, int column, int spanColumns = 1, int spanRows = 1) const;
    // The pixels of count pieces from first on (stopping at the grid's
    // edge) together; none when none of them has any.
    std::optional<TBand> ColumnBand(int first, int count) const;
    std::optional<TBand> RowBand(int first, int count) const;
    std::string EmptyReason(int row, int column) const;

    // Fails with Exception when the grid has more than kMaxGridCells cells.
    void CheckCellCount() const;

private:
    int m_width = 0;
    int m_height = 0;
    std::vector<TGridLine> m_columnLines;
    std::vector<TGridLine> m_rowLines;
    std::vector<TGridPiece> m_columns;
    std::vector<TGridPiece> m_rows;
};

} // namespace sw
