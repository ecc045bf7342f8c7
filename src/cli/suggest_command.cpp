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

} // namespace

void RunSuggest(const std::string& picture, std::FILE* out)
{
    TPicture loaded;
    loaded.LoadFromFile(picture);
    TBitmap bitmap;
    bitmap.Assign(*loaded.Graphic());
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    const TBitmap& rows = bitmap;
    const TPixelRows view { rows.Width(), rows.Height(), [&rows](int32_t y) { return rows.ScanLine(y); } };
    const TLineSuggestions suggestions = SuggestCutLines(view);
    PrintPositions(out, "columns", suggestions.Columns);
    PrintPositions(out, "rows", suggestions.Rows);
}

} // namespace sw::cli
