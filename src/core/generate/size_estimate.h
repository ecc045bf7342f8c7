#pragma once

// What the cells of a run would weigh in each format, worked out in memory
// before anything is written: the cells the run would write, as it plans
// them (spans, fills, skips, each cell's own format, @1x copies), encoded
// as it encodes them.

#include "core/base/colors.h"
#include "core/generate/cell_format.h"
#include "core/generate/run_settings.h"
#include "core/imaging/pixel_view.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sw {

class TBitmap;

// The formats an estimate compares: every one, with jpeg left out as it
// gives jpg's bytes.
std::vector<TImageType> EstimatedTypes();

struct TFormatSize {
    TImageType Type = TImageType::Gif;
    uint64_t Bytes = 0;
    // Auto only: how many files of each format the run would write.
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

// The bytes of the cell files a run with settings would write, once for
// each of types as the run's format (cells with a format of their own keep
// it). Fails as the run does on captions, cells and Scale before any work.
// keepGoing is asked after each cell's encodes with the work done and the
// total; when it says false the estimate stops and gives nothing.
std::optional<std::vector<TFormatSize>> EstimateSizes(const TSizeEstimateInput& input,
    const TGenerationSettings& settings, const std::vector<TImageType>& types,
    const std::function<bool(int64_t done, int64_t total)>& keepGoing);

} // namespace sw
