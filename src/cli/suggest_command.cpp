#include "cli/suggest_command.h"

#include "core/base/errors.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/picture.h"
#include "core/layout/design_cuts.h"
#include "core/layout/line_suggestions.h"
#include "core/picture_formats.h"

#include <optional>
#include <string>
#include <vector>

namespace sw::cli {

namespace {

void PrintPositions(std::FILE* out, const char* label, const std::vector<int32_t>& positions)
{
    std::string line = label;
    line += ':';
    for (int32_t position : positions)
        line += ' ' + std::to_string(position);
    line += '\n';
    std::fputs(line.c_str(), out);
}

void PrintPartial(std::FILE* out, bool vertical, const std::vector<TPartialLine>& lines)
{
    std::string line = vertical ? "partial columns:" : "partial rows:";
    for (const TPartialLine& partial : lines)
        if (partial.Vertical == vertical)
            line += ' ' + std::to_string(partial.Position) + ':' + std::to_string(partial.From) + '-'
                + std::to_string(partial.To);
    line += '\n';
    std::fputs(line.c_str(), out);
}

} // namespace

void RunSuggest(const std::string& picture, bool partial, std::FILE* out, bool fromDesign)
{
    if (fromDesign) {
        const std::optional<TLayeredDesign> design = ReadLayeredDesign(picture);
        if (!design)
            throw Exception(Format(
                "%s has no guides or slices: --design reads PSD and OpenRaster files", picture.c_str()));
        const TDesignCuts cuts = DesignCutLines(*design);
        PrintPositions(out, "columns", cuts.Columns);
        PrintPositions(out, "rows", cuts.Rows);
        return;
    }
    TPicture loaded;
    loaded.LoadFromFile(picture);
    TBitmap bitmap;
    bitmap.Assign(*loaded.Graphic());
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    const TBitmap& rows = bitmap;
    const TPixelRows view { rows.Width(), rows.Height(), [&rows](int32_t y) { return rows.ScanLine(y); } };
    TSuggestionSettings settings;
    settings.Partial = partial;
    TLineSuggestions suggestions = SuggestCutLines(view, settings);
    // A layered design's record is a help, not a need: the picture read.
    std::optional<TLayeredDesign> design;
    try {
        design = ReadLayeredDesign(picture);
    } catch (const Exception&) { }
    if (design)
        AddLayerEdges(suggestions, *design);
    PrintPositions(out, "columns", suggestions.Columns);
    PrintPositions(out, "rows", suggestions.Rows);
    if (partial) {
        PrintPartial(out, true, suggestions.Partial);
        PrintPartial(out, false, suggestions.Partial);
    }
}

} // namespace sw::cli
