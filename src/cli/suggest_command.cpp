#include "cli/suggest_command.h"

#include "core/imaging/bitmap.h"
#include "core/imaging/picture.h"
#include "core/layout/line_suggestions.h"

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

void RunSuggest(const std::string& picture, bool partial, std::FILE* out)
{
    TPicture loaded;
    loaded.LoadFromFile(picture);
    TBitmap bitmap;
    bitmap.Assign(*loaded.Graphic());
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    const TBitmap& rows = bitmap;
    const TPixelRows view { rows.Width(), rows.Height(), [&rows](int32_t y) { return rows.ScanLine(y); } };
    TSuggestionSettings settings;
    settings.Partial = partial;
    const TLineSuggestions suggestions = SuggestCutLines(view, settings);
    PrintPositions(out, "columns", suggestions.Columns);
    PrintPositions(out, "rows", suggestions.Rows);
    if (partial) {
        PrintPartial(out, true, suggestions.Partial);
        PrintPartial(out, false, suggestions.Partial);
    }
}

} // namespace sw::cli
