#pragma once

// A cell's pixels: cut from the picture, checked for one flat colour, and
// halved for its @1x copy. The run and the size estimate make cells alike.

#include "core/base/colors.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/pixel_view.h"
#include "core/project/cut_grid.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace sw {

// A 24-bit bitmap of the picture's pixels in columns x rows, which lie
// inside it; from a bitmap of any pixel format, or from 24-bit rows.
TBitmap CutOut(TBitmap& source, TBand columns, TBand rows);
TBitmap CutOut(const TPixelView& source, TBand columns, TBand rows);

// The cell's one colour, or nothing when it has two, or a pixel of rgba
// (its alpha, when given) that is not opaque: a fill would lose it.
std::optional<TColor> FlatColor(const TBitmap& cell, const std::optional<TPixelView>& rgba);

// The colour a cell reads as from afar, for what stands in its place when its
// image is not shown: the most frequent colour when it covers at least 40 %
// of the cell (a button's face, a band's background), else the mean of all
// its pixels (a photograph). Black for an empty cell.
TColor DominantColor(const TBitmap& cell);
// What an e-mail shows in a cell's place while its image is blocked: its
// dominant colour when that is close to the mean of its pixels (a button's
// face stays exact), else the mean, so that the blocks of colour keep the
// design's overall tone.
TColor StandInColor(const TBitmap& cell);

// Each 2 x 2 block of a 24-bit bitmap as one pixel of their mean, rounded.
TBitmap HalfSize(const TBitmap& cell);
// The same for straight RGBA; colours weighed by their alpha.
std::vector<uint8_t> HalfSize(const TPixelView& rgba);

// The window of picture over rect; empty without a picture.
std::optional<TPixelView> PixelsAt(const std::optional<TPixelView>& picture, TGridRect rect);

} // namespace sw
