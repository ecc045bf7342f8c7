#pragma once

// What the cells of a run would weigh in each format, worked out in memory
// before anything is written.

#include "core/base/colors.h"
#include "core/generate/cell_format.h"
#include "core/imaging/pixel_view.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sw {

class TBitmap;

// A cell's pixels in the picture.
struct TCellPlace {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

// The cells a run writes, row by row, clipped to the picture as the run
// clips them; pieces the run skips for having no pixels are left out.
// A caption that is not a whole number fails with EConvertError.
std::vector<TCellPlace> CellPlaces(int width, int height, const std::vector<std::string>& columnCaptions,
    const std::vector<std::string>& rowCaptions);

// The formats an estimate compares: every one, with jpeg left out as it
// gives jpg's bytes.
std::vector<TImageType> EstimatedTypes();

struct TFormatSize {
    TImageType Type = TImageType::Gif;
    uint64_t Bytes = 0;
    // Auto only: how many cells went to each format.
    std::map<TImageType, int> Chosen;
};

struct TSizeEstimateInput {
    const TBitmap* Picture = nullptr;
    // Same size as Picture, for formats that keep alpha.
    std::optional<TPixelView> Rgba {};
    std::vector<std::string> ColumnCaptions;
    std::vector<std::string> RowCaptions;
    TColor TransparentColor = clNone; // as the run's
};

// Every cell encoded in each of types with settings' values (its Type is
// ignored). keepGoing is asked after each encode with the encodes done and
// the total; when it says false the estimate stops and gives nothing.
std::optional<std::vector<TFormatSize>> EstimateSizes(const TSizeEstimateInput& input,
    const TCellFormat& settings, const std::vector<TImageType>& types,
    const std::function<bool(int64_t done, int64_t total)>& keepGoing);

} // namespace sw
