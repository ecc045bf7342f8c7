#include "core/generate/size_estimate.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"
#include "core/generate/cell_writer.h"
#include "core/imaging/bitmap.h"

#include <algorithm>

namespace sw {

namespace {

struct TSpan {
    int Start = 0;
    int End = 0;
};

// The stretches between successive cut lines, clipped to extent; those
// left without pixels are dropped, as the run skips them.
std::vector<TSpan> Spans(const std::vector<std::string>& captions, int extent)
{
    std::vector<int> ends;
    ends.reserve(captions.size() + 1);
    for (const std::string& caption : captions)
        ends.push_back(StrToInt(caption));
    ends.push_back(extent);
    std::vector<TSpan> spans;
    int from = 0;
    for (const int to : ends) {
        const TSpan span { std::clamp(from, 0, extent), std::clamp(to, 0, extent) };
        if (to > from && span.End > span.Start)
            spans.push_back(span);
        from = to;
    }
    return spans;
}

} // namespace

std::vector<TCellPlace> CellPlaces(int width, int height, const std::vector<std::string>& columnCaptions,
    const std::vector<std::string>& rowCaptions)
{
    // Every caption is read first, so a bad one fails before any work.
    const std::vector<TSpan> rows = Spans(rowCaptions, height);
    const std::vector<TSpan> columns = Spans(columnCaptions, width);
    std::vector<TCellPlace> places;
    places.reserve(rows.size() * columns.size());
    for (const TSpan& row : rows)
        for (const TSpan& column : columns)
            places.push_back({ column.Start, row.Start, column.End - column.Start, row.End - row.Start });
    return places;
}

std::vector<TImageType> EstimatedTypes()
{
    return { TImageType::Gif, TImageType::GifAdaptive, TImageType::Png8, TImageType::Png, TImageType::Jpg,
        TImageType::Webp, TImageType::WebpLossless, TImageType::Auto };
}

std::optional<std::vector<TFormatSize>> EstimateSizes(const TSizeEstimateInput& input,
    const TCellFormat& settings, const std::vector<TImageType>& types,
    const std::function<bool(int64_t done, int64_t total)>& keepGoing)
{
    if (!input.Picture || input.Picture->Empty())
        throw Exception("There is no picture to cut");
    TBitmap picture(*input.Picture); // shares the pixels
    const int width = picture.Width();
    const int height = picture.Height();
    if (input.Rgba
        && (input.Rgba->Width != width || input.Rgba->Height != height
            || input.Rgba->Layout != TPixelLayout::Rgba32))
        throw Exception("The picture's alpha does not match the picture");

    const std::vector<TCellPlace> places = CellPlaces(width, height, input.ColumnCaptions, input.RowCaptions);
    std::vector<TFormatSize> sizes;
    for (const TImageType type : types)
        sizes.push_back({ type, 0, {} });
    const int64_t total = int64_t(places.size()) * int64_t(types.size());
    int64_t done = 0;
    if (!keepGoing(done, total))
        return std::nullopt;

    for (const TCellPlace& place : places) {
        // The place lies within the picture, so the copy covers the cell.
        TBitmap cell;
        cell.SetSize(place.Width, place.Height);
        cell.Canvas().CopyRect({ 0, 0, place.Width, place.Height }, picture.Canvas(),
            { place.Left, place.Top, place.Left + place.Width, place.Top + place.Height });
        std::optional<TPixelView> rgba;
        if (input.Rgba) {
            rgba = *input.Rgba;
            rgba->Data += rgba->Stride * place.Top + ptrdiff_t(place.Left) * rgba->BytesPerPixel();
            rgba->Width = place.Width;
            rgba->Height = place.Height;
        }
        for (TFormatSize& size : sizes) {
            TCellFormat format = settings;
            format.Type = size.Type;
            // Writers may mark the cell transparent; each format starts afresh.
            TBitmap own(cell);
            const TEncodedCell encoded = EncodeCell(own, rgba, format, input.TransparentColor);
            size.Bytes += encoded.Bytes.size();
            if (size.Type == TImageType::Auto)
                ++size.Chosen[encoded.Type];
            if (!keepGoing(++done, total))
                return std::nullopt;
        }
    }
    return sizes;
}

} // namespace sw
