#include "core/generate/slicing_pipeline.h"

#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/base/sysutils.h"
#include "core/generate/cell_writer.h"
#include "core/generate/page_writer.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/gif/gif_image.h"
#include "core/imaging/jpeg/jpeg_image.h"
#include "core/imaging/picture.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace sw {

std::string WithTrailingBackslash(std::string_view folder)
{
    std::string result(folder);
    if (result.empty() || result.back() != kPathSeparator)
        result += kPathSeparator;
    return result;
}

std::string ImageExtension(TImageType imageType)
{
    switch (imageType) {
    case TImageType::Gif:
        return ".gif";
    case TImageType::Jpg:
        return ".jpg";
    case TImageType::Jpeg:
        return ".jpeg";
    case TImageType::GifAdaptive:
        return ".gif";
    case TImageType::Webp:
    case TImageType::WebpLossless:
        return ".webp";
    case TImageType::Png8:
    case TImageType::Png:
    case TImageType::Auto:
        break;
    }
    return ".png";
}

TImageType ImageTypeOfIndex(int index)
{
    return index == 0 ? TImageType::Gif : index == 1 ? TImageType::Jpg : TImageType::Jpeg;
}

std::string ImageExtension(int imageType)
{
    return ImageExtension(ImageTypeOfIndex(imageType));
}

void SaveCellGif(TStream& stream, TBitmap& cell, TColor transparentColor)
{
    TGIFImage gif;
    // A fixed colour, not the automatic bottom-left pixel, decides which
    // pixels the frame leaves transparent.
    cell.SetTransparent(true);
    cell.SetTransparentColor(transparentColor);
    gif.Assign(cell);
    gif.SetTransparent(true);
    gif.SaveToStream(stream);
}

void SaveCellGif(const std::string& fileName, TBitmap& cell, TColor transparentColor)
{
    TFileStream file(fileName, FileMode::Create);
    SaveCellGif(file, cell, transparentColor);
    file.Close();
}

void SaveCellJpeg(TStream& stream, TBitmap& cell)
{
    TJPEGImage jpeg;
    jpeg.Assign(cell);
    jpeg.SaveToStream(stream);
}

void SaveCellJpeg(const std::string& fileName, TBitmap& cell)
{
    TFileStream file(fileName, FileMode::Create);
    SaveCellJpeg(file, cell);
    file.Close();
}

namespace {

// The stretch from one cut line to the next, clipped to the picture.
struct TSpan {
    int Start = 0;
    int End = 0;
    int Length() const { return End - Start; }
};

struct TPiece {
    std::optional<TSpan> Span; // empty when nothing of the piece is inside the picture
    std::string Reason; // why, for the log
};

// lines is "rows" or "columns", size "height" or "width". Lines beyond the
// picture (left over from a larger one) and repeated positions make pieces
// that would have no pixels; they are reported and never read outside it.
TPiece PieceBetween(int from, int to, int extent, const char* lines, const char* size)
{
    TPiece piece;
    if (to <= from) {
        piece.Reason = Format("%s %d to %d give it no %s", lines, from, to, size);
        return piece;
    }
    const TSpan span { std::clamp(from, 0, extent), std::clamp(to, 0, extent) };
    if (span.Length() <= 0) {
        piece.Reason
            = Format("%s %d to %d lie outside the picture's %s of %d", lines, from, to, size, extent);
        return piece;
    }
    piece.Span = span;
    return piece;
}

std::vector<int> Positions(const std::vector<std::string>& captions)
{
    std::vector<int> positions;
    positions.reserve(captions.size());
    for (const std::string& caption : captions)
        positions.push_back(StrToInt(caption));
    return positions;
}

class TGenerationRun {
public:
    TGenerationRun(const TGenerationInput& input, const TGenerationSettings& settings, IGenerationSink& sink)
        : m_input(input)
        , m_settings(settings)
        , m_sink(sink)
        , m_folder(WithTrailingBackslash(settings.OutputFolder))
        , m_extension(ImageExtension(settings.CellFormat.Type))
    { }

    TGenerationCounts Run();
    // After a failure: drops what the run wrote and says where it stopped.
    void Abandon() noexcept;

private:
    std::string StripFileName(int row) const { return m_folder + "r" + IntToStr(row) + ".bmp"; }
    std::string CellFileName(int row, int column, const std::string& extension) const
    {
        return m_folder + "r" + IntToStr(row) + "_c" + IntToStr(column) + extension;
    }
    // Auto cells learn their extension only once written.
    bool ExtensionPerCell() const { return m_settings.CellFormat.Type == TImageType::Auto; }
    std::vector<std::string> PossibleExtensions() const;
    // The one place a cell's own format will come from.
    const TCellFormat& CellFormatAt(int row, int column) const
    {
        (void)row;
        (void)column;
        return m_settings.CellFormat;
    }
    void RefuseToReplaceThePicture(size_t rows, size_t columns) const;
    void WriteStrip(TBitmap& picture, int row, int from, int to);
    void SliceRowStrip(size_t strip);
    // Writes the cell under stem plus its format's extension and returns
    // that name; left is the cell's first column in the picture.
    std::string SaveCell(const std::string& stem, TBitmap& cell, size_t strip, int left, int row, int column);
    void CellWritten(const std::string& fileName);
    void Skipped(const std::string& fileName, const std::string& reason, int cells);

    const TGenerationInput& m_input;
    const TGenerationSettings& m_settings;
    IGenerationSink& m_sink;
    const std::string m_folder;
    const std::string m_extension;
    std::string m_sourcePrefix; // the way from the page to the cells
    std::vector<int> m_columns;
    std::vector<std::string> m_rowFiles;
    std::vector<int> m_rowTops; // each strip's first row in the picture
    std::vector<int> m_rowNumbers; // each strip's number in its name
    std::vector<std::string> m_stripsWritten;
    // Finished cells under temporary names, put in place together at the end.
    std::vector<std::unique_ptr<TFileStream>> m_cells;
    std::string m_current; // the file being written
    TPageWriter m_page;
    TGenerationCounts m_counts;
};

TGenerationCounts TGenerationRun::Run()
{
    if (!m_input.Picture)
        throw Exception("There is no picture to cut");
    // Refused before anything is written rather than after the strips.
    if (m_settings.WriteHTML && m_settings.PageFileName.empty())
        throw EInOutError("No page file name was given");

    TBitmap picture(*m_input.Picture); // shares the pixels
    const int width = picture.Width();
    const int height = picture.Height();
    if (m_input.Rgba
        && (m_input.Rgba->Width != width || m_input.Rgba->Height != height
            || m_input.Rgba->Layout != TPixelLayout::Rgba32))
        throw Exception("The picture's alpha does not match the picture");

    m_sink.ProcessMessages();
    m_rowFiles.clear();
    m_sink.LogLine("Generating temporary images...");

    // Every caption is checked before the first file is written, so a bad
    // one leaves no half-finished output behind.
    const std::vector<int> rows = Positions(m_input.RowCaptions);
    m_columns = Positions(m_input.ColumnCaptions);
    RefuseToReplaceThePicture(rows.size(), m_columns.size());
    if (m_settings.WriteHTML)
        m_sourcePrefix = ImageSourcePrefix(m_settings.PageFileName, m_folder);
    const int64_t total = int64_t(rows.size() + 1) * int64_t(m_columns.size() + 1);
    m_counts.Total = static_cast<int>(std::min<int64_t>(total, INT32_MAX));
    m_sink.Progress(m_counts);

    int prev = 0;
    for (size_t k = 0; k < rows.size(); ++k) {
        WriteStrip(picture, static_cast<int>(k) + 1, prev, rows[k]);
        prev = rows[k];
    }
    WriteStrip(picture, static_cast<int>(rows.size()) + 1, prev, height);

    m_sink.LogLine("Temporary images created, creating final images...");
    m_sink.LogLine("");

    if (m_settings.WriteHTML) {
        m_current = m_settings.PageFileName;
        m_page.BeginPage(m_settings.PageFileName, m_settings.Description, width);
    }
    for (size_t strip = 0; strip < m_rowFiles.size(); ++strip) {
        if (m_settings.WriteHTML)
            m_page.BeginRow();
        SliceRowStrip(strip);
        if (m_settings.WriteHTML)
            m_page.EndRow();
    }

    if (m_settings.DeleteTemp) {
        for (const std::string& name : m_stripsWritten)
            if (FileExists(name))
                DeleteFile(name);
        m_stripsWritten.clear();
    }

    if (m_settings.WriteHTML) {
        m_current = m_settings.PageFileName;
        m_page.FinishPage();
    }
    // The cells take their names before the page that shows them.
    for (const std::unique_ptr<TFileStream>& cell : m_cells) {
        m_current = cell->FileName();
        cell->Publish();
    }
    if (m_settings.WriteHTML) {
        m_current = m_settings.PageFileName;
        m_page.Publish();
    }
    m_current.clear();
    m_cells.clear();
    m_stripsWritten.clear();

    m_sink.Beep();
    m_sink.LogLine("Done.");
    return m_counts;
}

void TGenerationRun::Abandon() noexcept
{
    m_page.Close();
    m_cells.clear(); // their temporary files go with them
    for (const std::string& name : m_stripsWritten)
        DeleteFile(name);
    m_stripsWritten.clear();
    if (m_current.empty())
        return;
    try {
        m_sink.LogLine("Stopped at " + ExtractFileName(m_current) + "; the files of this run were removed.");
    } catch (...) {
        // The run's own failure is the one to report.
    }
}

// Compares the files themselves, so that another spelling of the folder or a
// link to the picture is caught too; a link of that name would only be
// replaced, which leaves the picture alone.
void TGenerationRun::RefuseToReplaceThePicture(size_t rows, size_t columns) const
{
    struct stat picture { };
    if (m_input.PictureFileName.empty() || ::stat(m_input.PictureFileName.c_str(), &picture) != 0)
        return;
    const auto refuseIfPicture = [&picture](const std::string& name) {
        struct stat info { };
        if (::lstat(name.c_str(), &info) == 0 && info.st_dev == picture.st_dev
            && info.st_ino == picture.st_ino)
            throw EFCreateError(WithDetail(
                "Cannot create file " + name, "it is the picture being cut; choose another output folder"));
    };
    if (m_settings.WriteHTML)
        refuseIfPicture(m_settings.PageFileName);
    const std::vector<std::string> extensions = PossibleExtensions();
    for (size_t k = 1; k <= rows + 1; ++k) {
        const int row = static_cast<int>(k);
        refuseIfPicture(StripFileName(row));
        for (const std::string& extension : extensions) {
            if (columns == 0)
                refuseIfPicture(ChangeFileExt(StripFileName(row), extension));
            for (size_t m = 1; columns != 0 && m <= columns + 1; ++m)
                refuseIfPicture(CellFileName(row, static_cast<int>(m), extension));
        }
    }
}

std::vector<std::string> TGenerationRun::PossibleExtensions() const
{
    if (ExtensionPerCell())
        return { ".png", ".gif", ".jpg", ".webp" };
    return { m_extension };
}

void TGenerationRun::WriteStrip(TBitmap& picture, int row, int from, int to)
{
    const std::string name = StripFileName(row);
    const TPiece piece = PieceBetween(from, to, picture.Height(), "rows", "height");
    if (!piece.Span) {
        Skipped(name, piece.Reason, static_cast<int>(m_columns.size()) + 1);
        return;
    }
    const int width = picture.Width();
    const TSpan span = *piece.Span;
    TBitmap strip;
    strip.SetSize(width, span.Length());
    strip.Canvas().SetBrushColor(clWhite);
    strip.Canvas().FillRect({ 0, 0, width, span.Length() });
    strip.Canvas().CopyRect(
        { 0, 0, width, span.Length() }, picture.Canvas(), { 0, span.Start, width, span.End });
    m_rowFiles.push_back(name);
    m_rowTops.push_back(span.Start);
    m_rowNumbers.push_back(row);
    m_sink.RowFileAdded(name);
    m_current = name;
    strip.SaveToFile(name);
    m_stripsWritten.push_back(name);
}

void TGenerationRun::SliceRowStrip(size_t stripIndex)
{
    const std::string& stripFileName = m_rowFiles[stripIndex];
    const int row = m_rowNumbers[stripIndex];
    m_current = stripFileName;
    TImage holder;
    holder.SetAutoSize(true);
    holder.Picture().LoadFromFile(stripFileName);
    auto* strip = dynamic_cast<TBitmap*>(holder.Picture().Graphic());
    if (!strip)
        throw EInvalidGraphic(Format("Cannot open file %s", stripFileName.c_str()));
    const int stripWidth = strip->Width();
    const int stripHeight = strip->Height();
    m_sink.ProcessMessages();

    if (m_columns.empty()) {
        // not a finished file: that list holds cut cells only
        const std::string name = SaveCell(ChangeFileExt(stripFileName, ""), *strip, stripIndex, 0, row, 1);
        CellWritten(name);
        return;
    }

    const std::string stem = ChangeFileExt(stripFileName, "");
    int prevX = 0;
    for (size_t m = 0; m <= m_columns.size(); ++m) {
        const bool last = m == m_columns.size();
        const int to = last ? stripWidth : m_columns[m];
        const std::string cellStem = stem + "_c" + IntToStr(static_cast<int64_t>(m) + 1);
        // An auto cell that is skipped has no format to name.
        const std::string name = cellStem + (ExtensionPerCell() ? "" : m_extension);
        const TPiece piece = PieceBetween(prevX, to, stripWidth, "columns", "width");
        prevX = to;
        if (!piece.Span) {
            Skipped(name, piece.Reason, 1);
            continue;
        }
        const TSpan span = *piece.Span;
        TBitmap cell;
        cell.SetSize(span.Length(), stripHeight);
        cell.Canvas().CopyRect(
            { 0, 0, span.Length(), stripHeight }, strip->Canvas(), { span.Start, 0, span.End, stripHeight });
        CellWritten(SaveCell(cellStem, cell, stripIndex, span.Start, row, static_cast<int>(m) + 1));
    }
}

std::string TGenerationRun::SaveCell(
    const std::string& stem, TBitmap& cell, size_t strip, int left, int row, int column)
{
    const TCellFormat& format = CellFormatAt(row, column);
    std::optional<TPixelView> rgba;
    if (format.KeepAlpha && m_input.Rgba) {
        rgba = *m_input.Rgba;
        rgba->Data += rgba->Stride * m_rowTops[strip] + ptrdiff_t(left) * rgba->BytesPerPixel();
        rgba->Width = cell.Width();
        rgba->Height = cell.Height();
    }
    m_current = stem + (ExtensionPerCell() ? "" : m_extension);
    TEncodedCell encoded = EncodeCell(cell, rgba, format, m_input.TransparentColor);
    const std::string fileName = stem + ImageExtension(encoded.Type);
    const bool cut = !m_columns.empty();
    if (cut)
        m_sink.FileFinished(fileName);
    m_current = fileName;
    auto file = std::make_unique<TFileStream>(fileName, FileMode::Create);
    file->WriteBuffer(encoded.Bytes.data(), encoded.Bytes.size());
    file->Finish();
    m_cells.push_back(std::move(file));
    if (!encoded.Reason.empty())
        m_sink.LogLine(
            ExtractFileName(fileName) + ": " + ImageTypeName(encoded.Type) + ", " + encoded.Reason + ".");
    return fileName;
}

void TGenerationRun::CellWritten(const std::string& fileName)
{
    if (m_settings.WriteHTML)
        m_page.CellLine(m_sourcePrefix + ExtractFileName(fileName));
    ++m_counts.Written;
    m_sink.Progress(m_counts);
}

void TGenerationRun::Skipped(const std::string& fileName, const std::string& reason, int cells)
{
    m_sink.LogLine("Skipped " + ExtractFileName(fileName) + ": " + reason + ".");
    m_counts.Skipped += cells;
    m_sink.Progress(m_counts);
}

} // namespace

TGenerationCounts RunGeneration(
    const TGenerationInput& input, const TGenerationSettings& settings, IGenerationSink& sink)
{
    TGenerationRun run(input, settings, sink);
    try {
        return run.Run();
    } catch (...) {
        run.Abandon();
        throw;
    }
}

} // namespace sw
