#include "core/generate/size_estimate.h"

#include "core/base/errors.h"
#include "core/generate/cell_pixels.h"
#include "core/generate/cell_plan.h"
#include "core/generate/cell_writer.h"
#include "core/imaging/bitmap.h"

namespace sw {

namespace {

// A cell's file and its @1x copy, as the run makes them.
struct TCellFiles {
    uint64_t Bytes = 0;
    std::vector<TImageType> Types;
};

TCellFiles EncodeFiles(const TBitmap& cell, const std::optional<TPixelView>& rgba, const TCellFormat& format,
    TColor transparentColor, bool alsoHalfSize)
{
    TCellFiles files;
    // Writers may mark the cell transparent; each format starts afresh.
    TBitmap own(cell);
    const TEncodedCell main = EncodeCell(own, rgba, format, transparentColor);
    files.Bytes += main.Bytes.size();
    files.Types.push_back(main.Type);
    if (!alsoHalfSize)
        return files;
    TBitmap half = HalfSize(cell);
    std::vector<uint8_t> halfRgba;
    std::optional<TPixelView> halfView;
    if (rgba) {
        halfRgba = HalfSize(*rgba);
        halfView = TPixelView { halfRgba.data(), half.Width(), half.Height(), ptrdiff_t(half.Width()) * 4,
            TPixelLayout::Rgba32 };
    }
    const TEncodedCell encoded = EncodeCell(half, halfView, format, transparentColor);
    files.Bytes += encoded.Bytes.size();
    files.Types.push_back(encoded.Type);
    return files;
}

void Add(TFormatSize& size, const TCellFiles& files)
{
    size.Bytes += files.Bytes;
    if (size.Type == TImageType::Auto)
        for (const TImageType type : files.Types)
            ++size.Chosen[type];
}

} // namespace

std::vector<TImageType> EstimatedTypes()
{
    return { TImageType::Gif, TImageType::GifAdaptive, TImageType::Png8, TImageType::Png, TImageType::Jpg,
        TImageType::Webp, TImageType::WebpLossless, TImageType::Auto };
}

std::optional<std::vector<TFormatSize>> EstimateSizes(const TSizeEstimateInput& input,
    const TGenerationSettings& settings, const std::vector<TImageType>& types,
    const std::function<bool(int64_t done, int64_t total)>& keepGoing)
{
    if (!input.Picture || input.Picture->Empty())
        throw Exception("There is no picture to cut");
    const int width = input.Picture->Width();
    const int height = input.Picture->Height();
    if (input.Rgba
        && (input.Rgba->Width != width || input.Rgba->Height != height
            || input.Rgba->Layout != TPixelLayout::Rgba32))
        throw Exception("The picture's alpha does not match the picture");
    TBitmap holder;
    const TPixelView picture = Picture24(*input.Picture, holder);
    const TCellPlan plan
        = PlanCells(TCutGrid::FromCaptions(width, height, input.ColumnCaptions, input.RowCaptions), settings,
            picture, input.Rgba);

    std::vector<TFormatSize> sizes;
    for (const TImageType type : types)
        sizes.push_back({ type, 0, {} });
    int64_t images = 0;
    for (const TPlannedCell& cell : plan.Cells)
        images += cell.Role == TCellRole::Image;
    const int64_t total = images * int64_t(types.size());
    int64_t done = 0;
    if (!keepGoing(done, total))
        return std::nullopt;

    for (const TPlannedCell& cell : plan.Cells) {
        if (cell.Role != TCellRole::Image)
            continue;
        const TBitmap pixels = CutOut(picture, cell.Rect.Columns, cell.Rect.Rows);
        const std::optional<TPixelView> rgba
            = cell.Format.KeepAlpha ? PixelsAt(input.Rgba, cell.Rect) : std::nullopt;
        // Auto-fill paints flat cells instead of writing them.
        if (!settings.AutoFill || !FlatColor(pixels, rgba)) {
            std::optional<TCellFiles> own;
            if (cell.OwnFormat)
                own = EncodeFiles(pixels, rgba, cell.Format, input.TransparentColor, settings.AlsoHalfSize);
            for (TFormatSize& size : sizes) {
                if (own) {
                    Add(size, *own);
                    continue;
                }
                TCellFormat format = cell.Format;
                format.Type = size.Type;
                Add(size, EncodeFiles(pixels, rgba, format, input.TransparentColor, settings.AlsoHalfSize));
            }
        }
        done += int64_t(types.size());
        if (!keepGoing(done, total))
            return std::nullopt;
    }
    return sizes;
}

} // namespace sw
