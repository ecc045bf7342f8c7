#include "core/generate/slicing_pipeline.h"

#include "core/base/errors.h"
#include "core/base/mapped_file.h"
#include "core/base/output_file.h"
#include "core/base/stream.h"
#include "core/base/sysutils.h"
#include "core/base/thread_pool.h"
#include "core/generate/cell_writer.h"
#include "core/generate/page_writer.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/bmp_file.h"
#include "core/imaging/gif/gif_image.h"
#include "core/imaging/jpeg/jpeg_image.h"
#include "core/imaging/picture.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
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
    case TImageType::Avif:
    case TImageType::AvifLossless:
        return ".avif";
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

namespace {

bool ApplyPageStyle(TGenerationSettings& settings, std::string_view text)
{
    const std::optional<TPageStyle> style = PageStyleFromName(text);
    if (style)
        settings.PageStyle = *style;
    return style.has_value();
}

bool ApplyScale(TGenerationSettings& settings, std::string_view text)
{
    if (text != "1" && text != "2")
        return false;
    settings.Scale = text == "1" ? 1 : 2;
    return true;
}

// The template's fields are checked with the cells' names, where a bad one
// can name the cell it would have named.
bool ApplyNameTemplate(TGenerationSettings& settings, std::string_view text)
{
    settings.NameTemplate = text;
    return true;
}

// Every image's address starts with it, so it must not bring in a scheme
// that runs code.
bool ApplyBaseUrl(TGenerationSettings& settings, std::string_view text)
{
    if (!IsSafeLink(text))
        return false;
    settings.BaseUrl = text;
    return true;
}

// The colour itself goes to the run with its input, as the desktop's
// picked colour does; here it is only checked.
bool CheckTransparent(TGenerationSettings&, std::string_view text)
{
    return TransparentColorFromText(text).has_value();
}

template <std::string TGenerationSettings::*Field>
bool ApplyText(TGenerationSettings& settings, std::string_view text)
{
    settings.*Field = text;
    return true;
}

template <bool TGenerationSettings::*Field>
bool ApplySwitch(TGenerationSettings& settings, std::string_view text)
{
    if (text != "0" && text != "1")
        return false;
    settings.*Field = text == "1";
    return true;
}

} // namespace

std::string RunNameTemplate(const TGenerationSettings& settings, bool hasColumnLines)
{
    if (!settings.NameTemplate.empty())
        return settings.NameTemplate;
    return hasColumnLines ? std::string(kDefaultNameTemplate) : std::string("r{row}");
}

const std::vector<TRunKey>& RunKeys()
{
    static const std::vector<TRunKey> keys = {
        { "PageStyle", "classic, html5, email or grid", ApplyPageStyle },
        { "Scale", "1 or 2", ApplyScale },
        { "NameTemplate", "a file name with {row}, {col} or {project} in it", ApplyNameTemplate },
        { "BaseUrl", "an http: or https: address or a relative path", ApplyBaseUrl },
        { "AlsoHalfSize", "0 or 1", ApplySwitch<&TGenerationSettings::AlsoHalfSize> },
        { "AutoFill", "0 or 1", ApplySwitch<&TGenerationSettings::AutoFill> },
        { "Transparent", "RRGGBB or none", CheckTransparent },
        // Where the run writes, as the project stores it: a path relative to
        // the project's folder is made whole by the host (PathOfProject).
        { "WriteHtml", "0 or 1", ApplySwitch<&TGenerationSettings::WriteHTML> },
        { "PageFile", "a file name", ApplyText<&TGenerationSettings::PageFileName> },
        { "OutputFolder", "a folder", ApplyText<&TGenerationSettings::OutputFolder> },
    };
    return keys;
}

const TRunKey* FindRunKey(std::string_view key)
{
    const std::string folded = LowerCaseAscii(key);
    for (const TRunKey& row : RunKeys())
        if (LowerCaseAscii(row.Key) == folded)
            return &row;
    return nullptr;
}

void ApplyRunValues(TGenerationSettings& settings, const TOutputValues& values, const std::string& where)
{
    for (const auto& [key, text] : values) {
        const TRunKey* row = FindRunKey(key);
        if (row && !row->Apply(settings, text))
            throw Exception(where + ": " + row->Key + " expects " + row->Expects + ", not '" + text + "'");
    }
}

void SaveCellGif(TStream& stream, TBitmap& cell, TColor transparentColor)
{
    TGIFImage gif;
    // A fixed colour, not the automatic bottom-left pixel, decides which
    // pixels the frame leaves transparent.
    const bool transparent = transparentColor != clNone;
    cell.SetTransparent(transparent);
    if (transparent)
        cell.SetTransparentColor(transparentColor);
    gif.Assign(cell);
    gif.SetTransparent(transparent);
    gif.SaveToStream(stream);
}

void SaveCellGif(TStream& stream, const TPixelView& cell, TColor transparentColor)
{
    TGIFImage gif;
    const bool transparent = transparentColor != clNone;
    gif.AssignRows(cell, transparent ? std::optional<TColor>(transparentColor) : std::nullopt);
    gif.SetTransparent(transparent);
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

// The stretch that pieces first .. first + count - 1 cover together; empty
// when none of them has pixels.
std::optional<TSpan> UnionOf(const std::vector<TPiece>& pieces, int first, int count)
{
    std::optional<TSpan> span;
    for (int k = first; k < first + count; ++k) {
        const std::optional<TSpan>& piece = pieces[size_t(k)].Span;
        if (!piece)
            continue;
        if (!span)
            span = piece;
        span->Start = std::min(span->Start, piece->Start);
        span->End = std::max(span->End, piece->End);
    }
    return span;
}

TBitmap CutOut(TBitmap& source, TSpan columns, TSpan rows)
{
    TBitmap cell;
    // In the form the writers read, so that none of them converts a copy.
    cell.SetPixelFormat(TPixelFormat::pf24bit);
    // The copy covers every pixel: the pieces lie inside the picture.
    cell.SetSizeForOverwrite(columns.Length(), rows.Length());
    cell.Canvas().CopyRect({ 0, 0, columns.Length(), rows.Length() }, source.Canvas(),
        { columns.Start, rows.Start, columns.End, rows.End });
    return cell;
}

// The same from 24-bit rows anywhere, a strip's file mapped in memory included.
TBitmap CutOut(const TPixelView& source, TSpan columns, TSpan rows)
{
    TBitmap cell;
    cell.SetPixelFormat(TPixelFormat::pf24bit);
    cell.SetSizeForOverwrite(columns.Length(), rows.Length());
    const size_t rowBytes = size_t(columns.Length()) * 3;
    for (int y = 0; y < rows.Length(); ++y)
        std::memcpy(cell.ScanLine(y), source.Row(rows.Start + y) + ptrdiff_t(columns.Start) * 3, rowBytes);
    return cell;
}

// The cell's one colour, or nothing when it has two, or a pixel that is not
// opaque (a fill would lose its transparency).
std::optional<TColor> FlatColor(const TBitmap& cell, const std::optional<TPixelView>& rgba)
{
    if (cell.Width() <= 0 || cell.Height() <= 0)
        return std::nullopt;
    const uint8_t* first = cell.ScanLine(0);
    for (int y = 0; y < cell.Height(); ++y) {
        const uint8_t* row = cell.ScanLine(y);
        for (int x = 0; x < cell.Width(); ++x)
            if (!std::equal(row + 3 * x, row + 3 * x + 3, first))
                return std::nullopt;
        if (rgba)
            for (int x = 0; x < rgba->Width; ++x)
                if (rgba->Row(y)[4 * x + 3] != 255)
                    return std::nullopt;
    }
    return RGB(first[2], first[1], first[0]);
}

// Each 2 x 2 block of a 24-bit bitmap as one pixel of their mean, rounded.
TBitmap HalfSize(const TBitmap& cell)
{
    TBitmap half;
    half.SetSize(cell.Width() / 2, cell.Height() / 2);
    for (int y = 0; y < half.Height(); ++y) {
        const uint8_t* upper = cell.ScanLine(2 * y);
        const uint8_t* lower = cell.ScanLine(2 * y + 1);
        uint8_t* out = half.ScanLine(y);
        for (int i = 0; i < 3 * half.Width(); ++i) {
            const int at = (i / 3) * 6 + i % 3;
            out[i] = static_cast<uint8_t>((upper[at] + upper[at + 3] + lower[at] + lower[at + 3] + 2) / 4);
        }
    }
    return half;
}

// The same for straight RGBA: colours are weighed by their alpha, so the
// colour under a transparent pixel does not bleed into its neighbours.
std::vector<uint8_t> HalfSize(const TPixelView& rgba)
{
    const int width = rgba.Width / 2;
    const int height = rgba.Height / 2;
    std::vector<uint8_t> half(size_t(width) * size_t(height) * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p[4] = { rgba.Row(2 * y) + 8 * x, rgba.Row(2 * y) + 8 * x + 4,
                rgba.Row(2 * y + 1) + 8 * x, rgba.Row(2 * y + 1) + 8 * x + 4 };
            const int alpha = p[0][3] + p[1][3] + p[2][3] + p[3][3];
            uint8_t* out = &half[(size_t(y) * size_t(width) + size_t(x)) * 4];
            for (int c = 0; c < 3; ++c) {
                const int sum = alpha == 0
                    ? p[0][c] + p[1][c] + p[2][c] + p[3][c]
                    : p[0][c] * p[0][3] + p[1][c] * p[1][3] + p[2][c] * p[2][3] + p[3][c] * p[3][3];
                const int weight = alpha == 0 ? 4 : alpha;
                out[c] = static_cast<uint8_t>((sum + weight / 2) / weight);
            }
            out[3] = static_cast<uint8_t>((alpha + 2) / 4);
        }
    return half;
}

TPageCell PageCellOf(int column, const TCellProperties& properties)
{
    TPageCell cell;
    cell.Column = column - 1;
    cell.ColumnSpan = properties.SpanColumns;
    cell.RowSpan = properties.SpanRows;
    cell.Alt = properties.Alt;
    cell.Link = properties.Link;
    return cell;
}

// A strip as read back from its file: mapped, or read into a bitmap when
// it is not the plain file the run writes.
struct TStripRows {
    explicit TStripRows(const std::string& fileName)
        : Mapped(fileName)
    { }
    TMappedFile Mapped;
    TImage Holder;
    TPixelView Rows;
};

// The strip's file, straight from the picture's rows: the one a 24-bit copy
// of them would write. Finished under its temporary name; Publish puts it
// in place.
std::unique_ptr<TFileStream> WriteStripFile(TPixelView picture, TSpan rows, const std::string& fileName)
{
    picture.Data = picture.Row(rows.Start);
    picture.Height = rows.Length();
    auto file = std::make_unique<TFileStream>(fileName, FileMode::Create);
    WriteBmp24(picture, *file);
    file->Finish();
    return file;
}

// A cell's file as its worker left it: written under a temporary name, or
// found unchanged in place, or the failure to be reported in its turn.
struct TCellFile {
    std::unique_ptr<TFileStream> Stream;
    bool Unchanged = false;
    std::exception_ptr Error;
};

// A cell handed to the pool: its pixels in, its files out.
struct TCellJob {
    std::string Stem;
    TCellRef Ref {};
    TCellFormat Format;
    bool Listed = false;
    // Where its page cell is, to take the file's address once it is known.
    size_t PageRow = 0;
    std::optional<size_t> PageCell;
    TBitmap Cell;
    // A cell encoded from its strip's rows where they are, instead of Cell;
    // Strip keeps them until it is.
    std::optional<TPixelView> Rows;
    std::shared_ptr<const TStripRows> Strip;
    std::optional<TPixelView> Rgba;
    TEncodedCell Main;
    std::optional<TEncodedCell> Half; // the @1x image
    TCellFile MainFile;
    TCellFile HalfFile;
    std::optional<double> MainPsnr; // when the run measures them
    std::optional<double> HalfPsnr;
    std::optional<double> MainScore;
    std::optional<double> HalfScore;
    std::exception_ptr MainError;
    std::exception_ptr HalfError;
    std::atomic<bool> Done = false;
    std::unique_ptr<TTaskBatch> Batch;
};

class TGenerationRun {
public:
    TGenerationRun(const TGenerationInput& input, const TGenerationSettings& settings, IGenerationSink& sink)
        : m_input(input)
        , m_settings(settings)
        , m_sink(sink)
        , m_folder(WithTrailingBackslash(settings.OutputFolder))
    { }

    TGenerationCounts Run();
    // After a failure: drops what the run wrote and says where it stopped.
    void Abandon() noexcept;

private:
    std::string StripFileName(int row) const { return m_folder + "r" + IntToStr(row) + ".bmp"; }
    // A cell's file name without its extension.
    std::string CellStem(TCellRef cell) const
    {
        return m_folder + CellBaseName(m_settings.Cells, m_nameTemplate, m_settings.ProjectName, cell);
    }
    const TCellFormat& CellFormatAt(int row, int column) const
    {
        const auto own = m_cellFormats.find({ row, column });
        return own == m_cellFormats.end() ? m_settings.CellFormat : own->second;
    }
    std::vector<std::string> PossibleExtensions() const;
    void CheckScale(const std::vector<int>& rows, int width, int height) const;
    void CheckCells(TBitmap& picture);
    void RefuseToReplaceThePicture() const;
    void WriteStrip(TBitmap& picture, size_t strip);
    void WriteStripsOnWorkers(const TPixelView& picture);
    void SliceRowStrip(TBitmap& picture, size_t strip);
    // Cells of a strip without pixels keep their place in a page of tracks.
    void EmptyRow(int row);
    // A cell under another's span has no place of its own.
    bool Covered(TCellRef cell) const
    {
        return !m_settings.Cells.empty() && CoveringCell(m_settings.Cells, cell) != cell;
    }
    std::optional<TPixelView> RgbaAt(const TCellFormat& format, TSpan columns, TSpan rows) const;
    void EncodeJob(TCellJob& job) const;
    // Writes an encoded cell's file under stem plus its format's extension,
    // on the worker, so that files are made side by side; never throws.
    TCellFile WriteCellFile(const std::string& stem, const TEncodedCell& encoded) const;
    // Reports a written cell's file in its turn (the @1x one when half) and
    // keeps it to be put in place with the others; returns its name.
    std::string SaveCell(const TCellJob& job, const TEncodedCell& encoded, TCellFile& file,
        std::optional<double> psnr, std::optional<double> score, bool half);
    void CommitCell(TCellJob& job);
    // The cells are encoded on the pool while everything the sink and the
    // files see happens here, in cell order: each such step waits in
    // m_pending behind the cells before it.
    void InOrder(std::function<void()> step);
    void StartCell(std::shared_ptr<TCellJob> job);
    void CommitFront();
    void CommitAll();
    void AddPageCell(TPageRow& row, TPageCell cell) const;
    void CellWritten();
    void WithoutImage();
    void Skipped(const std::string& fileName, const std::string& reason, int cells);

    const TGenerationInput& m_input;
    const TGenerationSettings& m_settings;
    IGenerationSink& m_sink;
    const std::string m_folder;
    std::string m_nameTemplate;
    std::string m_sourcePrefix; // the way from the page to the cells
    std::vector<int> m_columns;
    std::vector<TPiece> m_rowPieces;
    std::vector<TPiece> m_columnPieces;
    std::map<TCellRef, TCellFormat> m_cellFormats; // cells with a format of their own
    std::map<TCellRef, TColor> m_autoFills; // Fill=auto cells, resolved
    std::vector<std::string> m_rowFiles;
    std::vector<int> m_rowNumbers; // each strip's number in its name
    std::vector<std::string> m_stripsWritten;
    // Finished cells under temporary names, put in place together at the end.
    std::vector<std::unique_ptr<TFileStream>> m_cells;
    std::string m_current; // the file being written
    TPageLayout m_layout;
    TPageWriter m_page;
    TGenerationCounts m_counts;
    std::unique_ptr<TThreadPool> m_pool;
    size_t m_maxInFlight = 1;
    struct TStep {
        std::shared_ptr<TCellJob> Job; // empty for a step without encoding
        std::function<void()> Commit;
    };
    std::deque<TStep> m_pending; // after m_pool: its jobs go before the workers
    bool m_commitFailed = false;
    std::atomic<bool> m_abandoned = false;
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

    // Every caption and cell is checked before the first file is written,
    // so a bad one leaves no half-finished output behind.
    const std::vector<int> rows = Positions(m_input.RowCaptions);
    m_columns = Positions(m_input.ColumnCaptions);
    int prev = 0;
    for (size_t k = 0; k <= rows.size(); ++k) {
        const int to = k == rows.size() ? height : rows[k];
        m_rowPieces.push_back(PieceBetween(prev, to, height, "rows", "height"));
        prev = to;
    }
    prev = 0;
    for (size_t m = 0; m <= m_columns.size(); ++m) {
        const int to = m == m_columns.size() ? width : m_columns[m];
        m_columnPieces.push_back(PieceBetween(prev, to, width, "columns", "width"));
        prev = to;
    }
    CheckScale(rows, width, height);
    CheckCells(picture);
    RefuseToReplaceThePicture();
    if (m_settings.WriteHTML)
        m_sourcePrefix = ImageSourcePrefix(m_settings.PageFileName, m_folder);
    const int64_t total = int64_t(rows.size() + 1) * int64_t(m_columns.size() + 1);
    m_counts.Total = static_cast<int>(std::min<int64_t>(total, INT32_MAX));
    m_sink.Progress(m_counts);

    // No more workers than cells, and a sane ceiling on what a setting asks.
    const int threads = m_settings.Threads > 0 ? m_settings.Threads : TThreadPool::HardwareThreads();
    m_pool = std::make_unique<TThreadPool>(std::clamp(threads, 1, std::clamp(m_counts.Total, 1, 256)));
    if (m_pool->Threads() > 1 && picture.PixelFormat() == TPixelFormat::pf24bit) {
        WriteStripsOnWorkers(picture.View24());
    } else {
        for (size_t k = 0; k < m_rowPieces.size(); ++k)
            WriteStrip(picture, k);
    }

    m_sink.LogLine("Temporary images created, creating final images...");
    m_sink.LogLine("");

    if (m_settings.WriteHTML) {
        // Started here so that a page that cannot be made stops the run
        // before any cell is made; it is written whole at the end.
        m_current = m_settings.PageFileName;
        m_page.BeginPage(m_settings.PageFileName, m_settings.Description, width);
    }
    m_layout.Width = width;
    m_layout.Height = height;
    m_layout.Scale = m_settings.Scale;
    for (const TPiece& piece : m_columnPieces)
        m_layout.ColumnWidths.push_back(piece.Span ? piece.Span->Length() : 0);
    for (const TPiece& piece : m_rowPieces)
        m_layout.RowHeights.push_back(piece.Span ? piece.Span->Length() : 0);
    // Enough to keep every worker busy while the next cell is cut; more
    // would only hold more cells in memory.
    m_maxInFlight = static_cast<size_t>(m_pool->Threads()) * 2;
    try {
        size_t strip = 0;
        for (size_t k = 0; k < m_rowPieces.size(); ++k) {
            if (m_rowPieces[k].Span)
                SliceRowStrip(picture, strip++);
            else
                EmptyRow(static_cast<int>(k) + 1);
        }
    } catch (...) {
        // The cells before the failure come first, as they would in one
        // thread; their own failure is then the run's.
        if (!m_commitFailed)
            CommitAll();
        throw;
    }
    CommitAll();

    if (m_settings.DeleteTemp) {
        for (const std::string& name : m_stripsWritten)
            if (FileExists(name))
                DeleteFile(name);
        m_stripsWritten.clear();
    }

    if (m_settings.WriteHTML) {
        m_current = m_settings.PageFileName;
        m_page.Close();
        TPageOptions options;
        options.Style = m_settings.PageStyle;
        options.Description = m_settings.Description;
        options.Title = m_settings.ProjectName;
        options.BaseUrl = m_settings.BaseUrl;
        m_page.WritePage(m_settings.PageFileName, m_layout, options);
    }
    // The cells take their names before the page that shows them.
    for (const std::unique_ptr<TFileStream>& cell : m_cells) {
        m_current = cell->FileName();
        cell->Publish();
    }
    if (m_settings.WriteHTML) {
        m_current = m_settings.PageFileName;
        if (m_settings.KeepUnchanged && m_page.MatchesPublished())
            m_page.Close();
        else
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
    m_abandoned = true;
    m_pending.clear(); // waits for the cells being encoded
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

void TGenerationRun::CheckScale(const std::vector<int>& rows, int width, int height) const
{
    if (m_settings.Scale != 1 && m_settings.Scale != 2)
        throw Exception(Format("A design's scale is 1 or 2, not %d", m_settings.Scale));
    if (m_settings.AlsoHalfSize && m_settings.Scale != 2)
        throw Exception("Images at half size (@1x) need a design at scale 2");
    if (m_settings.Scale == 1)
        return;
    if (width % 2 != 0 || height % 2 != 0)
        throw Exception(Format(
            "A design at scale 2 needs an even width and height; the picture is %d x %d", width, height));
    for (const auto& [positions, kind] : { std::pair(&rows, "row"), std::pair(&m_columns, "column") })
        for (const int position : *positions)
            if (position % 2 != 0)
                throw Exception(
                    Format("The %s line at %d is odd; a design at scale 2 needs even cut positions", kind,
                        position));
}

void TGenerationRun::CheckCells(TBitmap& picture)
{
    const int rows = static_cast<int>(m_rowPieces.size());
    const int columns = static_cast<int>(m_columnPieces.size());
    m_nameTemplate = RunNameTemplate(m_settings, !m_columns.empty());
    CheckCellNames(m_settings.Cells, m_nameTemplate, m_settings.ProjectName, rows, columns);
    for (const auto& [cell, properties] : m_settings.Cells) {
        if (!properties.Format.empty())
            m_cellFormats[cell] = CellFormatOf(
                { { "Format", properties.Format } }, "Cell " + CellLabel(cell), m_settings.CellFormat);
        if (properties.Fill != TCellFill::Auto)
            continue;
        const std::optional<TSpan> across = UnionOf(m_columnPieces, cell.Column - 1, properties.SpanColumns);
        const std::optional<TSpan> down = UnionOf(m_rowPieces, cell.Row - 1, properties.SpanRows);
        if (!across || !down)
            continue; // no pixels: skipped like any empty piece
        const TBitmap pixels = CutOut(picture, *across, *down);
        const std::optional<TColor> color
            = FlatColor(pixels, RgbaAt(CellFormatAt(cell.Row, cell.Column), *across, *down));
        if (!color)
            throw ECellPropertyError(
                "Cell " + CellLabel(cell) + " is not one flat colour, so Fill=auto cannot paint it");
        m_autoFills[cell] = *color;
    }
}

// Compares the files themselves, so that another spelling of the folder or a
// link to the picture is caught too; a link of that name would only be
// replaced, which leaves the picture alone.
void TGenerationRun::RefuseToReplaceThePicture() const
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
    for (size_t k = 1; k <= m_rowPieces.size(); ++k) {
        const int row = static_cast<int>(k);
        refuseIfPicture(StripFileName(row));
        for (size_t m = 1; m <= m_columnPieces.size(); ++m) {
            const std::string stem = CellStem({ row, static_cast<int>(m) });
            for (const std::string& extension : extensions) {
                refuseIfPicture(stem + extension);
                if (m_settings.AlsoHalfSize)
                    refuseIfPicture(stem + "@1x" + extension);
            }
        }
    }
}

std::vector<std::string> TGenerationRun::PossibleExtensions() const
{
    std::vector<std::string> extensions;
    const auto add = [&extensions](const TCellFormat& format) {
        std::vector<std::string> found = format.Type == TImageType::Auto
            ? std::vector<std::string> { ".png", ".gif", ".jpg", ".webp" }
            : std::vector<std::string> { ImageExtension(format.Type) };
        if (format.Type == TImageType::Auto && format.AutoAvif)
            found.push_back(".avif");
        for (const std::string& extension : found)
            if (std::find(extensions.begin(), extensions.end(), extension) == extensions.end())
                extensions.push_back(extension);
    };
    add(m_settings.CellFormat);
    for (const auto& [cell, format] : m_cellFormats)
        add(format);
    return extensions;
}

// The files are written side by side on the workers, each under its
// temporary name, while each strip is reported and put in place in turn as
// the one-thread run does. After a failure no further strip is started,
// those put in place go with the run's files, and the names of the strips
// after it keep what they held.
void TGenerationRun::WriteStripsOnWorkers(const TPixelView& picture)
{
    struct TStripWrite {
        std::string Name;
        std::unique_ptr<TFileStream> File;
        std::unique_ptr<TTaskBatch> Batch;
    };
    std::atomic<bool> failed = false; // before the writes, which wait for their tasks
    std::vector<TStripWrite> writes(m_rowPieces.size());
    for (size_t k = 0; k < m_rowPieces.size(); ++k) {
        writes[k].Name = StripFileName(static_cast<int>(k) + 1);
        if (!m_rowPieces[k].Span)
            continue;
        writes[k].Batch = std::make_unique<TTaskBatch>(*m_pool);
        writes[k].Batch->Run([&write = writes[k], &failed, picture, rows = *m_rowPieces[k].Span] {
            if (failed)
                return;
            try {
                write.File = WriteStripFile(picture, rows, write.Name);
            } catch (...) {
                failed = true;
                throw;
            }
        });
    }
    size_t k = 0;
    try {
        for (; k < writes.size(); ++k) {
            TStripWrite& write = writes[k];
            if (!write.Batch) {
                Skipped(write.Name, m_rowPieces[k].Reason, static_cast<int>(m_columns.size()) + 1);
                continue;
            }
            m_rowFiles.push_back(write.Name);
            m_rowNumbers.push_back(static_cast<int>(k) + 1);
            m_sink.RowFileAdded(write.Name);
            m_current = write.Name;
            write.Batch->Wait();
            // Not written when a later strip failed first: its turn comes.
            if (!write.File)
                continue;
            write.File->Publish();
            m_stripsWritten.push_back(write.Name);
        }
    } catch (...) {
        failed = true;
        // Waits for the strips still being written; their temporary files
        // go with them.
        for (size_t later = k; later < writes.size(); ++later)
            writes[later].Batch.reset();
        throw;
    }
}

void TGenerationRun::WriteStrip(TBitmap& picture, size_t strip)
{
    const int row = static_cast<int>(strip) + 1;
    const std::string name = StripFileName(row);
    const TPiece& piece = m_rowPieces[strip];
    if (!piece.Span) {
        Skipped(name, piece.Reason, static_cast<int>(m_columns.size()) + 1);
        return;
    }
    m_rowFiles.push_back(name);
    m_rowNumbers.push_back(row);
    m_sink.RowFileAdded(name);
    m_current = name;
    if (picture.PixelFormat() == TPixelFormat::pf24bit)
        WriteStripFile(picture.View24(), *piece.Span, name)->Publish();
    else
        CutOut(picture, { 0, picture.Width() }, *piece.Span).SaveToFile(name);
    m_stripsWritten.push_back(name);
}

void TGenerationRun::EmptyRow(int row)
{
    TPageRow pageRow;
    for (int column = 1; column <= static_cast<int>(m_columnPieces.size()); ++column) {
        const TCellRef cell { row, column };
        if (Covered(cell))
            continue;
        const auto found = m_settings.Cells.find(cell);
        const TCellProperties properties
            = found == m_settings.Cells.end() ? TCellProperties() : found->second;
        TPageCell pageCell = PageCellOf(column, properties);
        pageCell.Skip = true;
        AddPageCell(pageRow, pageCell);
    }
    if (m_settings.PageStyle != TPageStyle::Classic)
        m_layout.Rows.push_back(std::move(pageRow));
}

void TGenerationRun::SliceRowStrip(TBitmap& picture, size_t stripIndex)
{
    const std::string& stripFileName = m_rowFiles[stripIndex];
    const int row = m_rowNumbers[stripIndex];
    InOrder([this, stripFileName] { m_current = stripFileName; });
    // The strip's cells come from its file as written: mapped where it is
    // the plain file the run writes, read into a bitmap otherwise.
    auto strip = std::make_shared<TStripRows>(stripFileName);
    if (const std::optional<TPixelView> rows = BmpRows24(strip->Mapped.Bytes())) {
        strip->Rows = *rows;
    } else {
        strip->Holder.SetAutoSize(true);
        strip->Holder.Picture().LoadFromFile(stripFileName);
        auto* bitmap = dynamic_cast<TBitmap*>(strip->Holder.Picture().Graphic());
        if (!bitmap)
            throw EInvalidGraphic(Format("Cannot open file %s", stripFileName.c_str()));
        if (bitmap->PixelFormat() != TPixelFormat::pf24bit)
            bitmap->SetPixelFormat(TPixelFormat::pf24bit);
        strip->Rows = bitmap->View24();
    }
    const int stripHeight = strip->Rows.Height;
    const TSpan stripRows = *m_rowPieces[size_t(row) - 1].Span;
    InOrder([this] { m_sink.ProcessMessages(); });

    // The row is in the layout from the start: cells encoded later fill in
    // their addresses there.
    const size_t pageRowIndex = m_layout.Rows.size();
    m_layout.Rows.emplace_back();
    const auto pageRow = [this, pageRowIndex]() -> TPageRow& { return m_layout.Rows[pageRowIndex]; };
    for (int column = 1; column <= static_cast<int>(m_columnPieces.size()); ++column) {
        const TCellRef ref { row, column };
        if (Covered(ref)) {
            InOrder([this] { WithoutImage(); });
            continue;
        }
        const auto found = m_settings.Cells.find(ref);
        const TCellProperties properties
            = found == m_settings.Cells.end() ? TCellProperties() : found->second;
        const TCellFormat& format = CellFormatAt(row, column);
        const std::string stem = CellStem(ref);
        TPageCell pageCell = PageCellOf(column, properties);
        const std::optional<TSpan> across = UnionOf(m_columnPieces, column - 1, properties.SpanColumns);
        const std::optional<TSpan> down = properties.SpanRows == 1
            ? std::optional<TSpan>(stripRows)
            : UnionOf(m_rowPieces, row - 1, properties.SpanRows);
        if (!across) {
            // An auto cell that is skipped has no format to name.
            const std::string name
                = stem + (format.Type == TImageType::Auto ? "" : ImageExtension(format.Type));
            InOrder([this, name, reason = m_columnPieces[size_t(column) - 1].Reason] {
                Skipped(name, reason, 1);
            });
            pageCell.Skip = true;
            if (m_settings.PageStyle != TPageStyle::Classic)
                AddPageCell(pageRow(), pageCell);
            continue;
        }
        pageCell.Width = across->Length();
        pageCell.Height = down->Length();
        if (properties.Skip) {
            pageCell.Skip = true;
        } else if (properties.Fill == TCellFill::Color) {
            pageCell.Fill = properties.FillColor;
        } else if (properties.Fill == TCellFill::Auto) {
            pageCell.Fill = m_autoFills.at(ref);
        }
        if (pageCell.Skip || pageCell.Fill) {
            AddPageCell(pageRow(), pageCell);
            InOrder([this] { WithoutImage(); });
            continue;
        }

        // A cell within its strip is cut from the strip as read back; one
        // that spans strips from the picture itself.
        auto job = std::make_shared<TCellJob>();
        // GIF and JPEG read the strip's rows as they are; the others, and
        // whatever looks at the cell's pixels again, get a copy of their own.
        const bool fromRows = properties.SpanRows == 1 && EncodesFromRows(format.Type) && !m_settings.AutoFill
            && !m_settings.MeasurePsnr && !m_settings.AlsoHalfSize;
        if (fromRows) {
            TPixelView rows = strip->Rows;
            rows.Data += ptrdiff_t(across->Start) * 3;
            rows.Width = across->Length();
            job->Rows = rows;
            job->Strip = strip;
        } else {
            job->Cell = properties.SpanRows == 1 ? CutOut(strip->Rows, *across, { 0, stripHeight })
                                                 : CutOut(picture, *across, *down);
        }
        job->Rgba = RgbaAt(format, *across, *down);
        if (m_settings.AutoFill)
            pageCell.Fill = FlatColor(job->Cell, job->Rgba);
        if (pageCell.Fill) {
            InOrder([this, name = ExtractFileName(stem), ref, color = *pageCell.Fill] {
                m_sink.LogLine("Filled " + name + " with its one colour " + HexRgb(color) + ".");
                m_sink.CellFilled(name, ref, color);
                WithoutImage();
            });
            AddPageCell(pageRow(), pageCell);
            continue;
        }
        job->Stem = stem;
        job->Ref = ref;
        job->Format = format;
        // Without column lines the strips are the cells, and that list holds
        // cut cells only.
        job->Listed = !m_columns.empty();
        job->PageRow = pageRowIndex;
        if (m_settings.WriteHTML)
            job->PageCell = pageRow().Cells.size();
        AddPageCell(pageRow(), pageCell);
        StartCell(std::move(job));
    }
}

void TGenerationRun::InOrder(std::function<void()> step)
{
    if (!m_pending.empty()) {
        m_pending.push_back({ nullptr, std::move(step) });
        return;
    }
    try {
        step();
    } catch (...) {
        m_commitFailed = true;
        throw;
    }
}

void TGenerationRun::StartCell(std::shared_ptr<TCellJob> job)
{
    job->Batch = std::make_unique<TTaskBatch>(*m_pool);
    TCellJob& cell = *job;
    m_pending.push_back({ job, [this, &cell] { CommitCell(cell); } });
    cell.Batch->Run([this, &cell] {
        if (!m_abandoned)
            EncodeJob(cell);
        cell.Done = true;
    });
    // Finished cells are written as soon as their turn comes, so that files
    // and progress keep pace with the encoding.
    while (!m_pending.empty()
        && (m_pending.size() > m_maxInFlight || !m_pending.front().Job || m_pending.front().Job->Done))
        CommitFront();
}

void TGenerationRun::CommitFront()
{
    TStep step = std::move(m_pending.front());
    m_pending.pop_front();
    if (step.Job)
        step.Job->Batch->Wait();
    try {
        step.Commit();
    } catch (...) {
        m_commitFailed = true;
        throw;
    }
}

void TGenerationRun::CommitAll()
{
    while (!m_pending.empty())
        CommitFront();
}

// On a worker: nothing here touches the sink, the files or the run's state.
void TGenerationRun::EncodeJob(TCellJob& job) const
{
    try {
        job.Main = job.Rows ? EncodeCellRows(*job.Rows, job.Format, m_input.TransparentColor)
                            : EncodeCell(job.Cell, job.Rgba, job.Format, m_input.TransparentColor);
        if (m_settings.MeasurePsnr) {
            job.MainPsnr
                = EncodedCellPsnr(job.Cell, job.Rgba, job.Format, m_input.TransparentColor, job.Main);
            if (job.MainPsnr)
                job.MainScore
                    = EncodedCellScore(job.Cell, job.Rgba, job.Format, m_input.TransparentColor, job.Main);
        }
    } catch (...) {
        job.MainError = std::current_exception();
        return;
    }
    job.MainFile = WriteCellFile(job.Stem, job.Main);
    if (!m_settings.AlsoHalfSize)
        return;
    try {
        TBitmap half = HalfSize(job.Cell);
        std::vector<uint8_t> halfRgba;
        std::optional<TPixelView> halfView;
        if (job.Rgba) {
            halfRgba = HalfSize(*job.Rgba);
            halfView = TPixelView { halfRgba.data(), half.Width(), half.Height(), ptrdiff_t(half.Width()) * 4,
                TPixelLayout::Rgba32 };
        }
        job.Half = EncodeCell(half, halfView, job.Format, m_input.TransparentColor);
        if (m_settings.MeasurePsnr) {
            job.HalfPsnr = EncodedCellPsnr(half, halfView, job.Format, m_input.TransparentColor, *job.Half);
            if (job.HalfPsnr)
                job.HalfScore
                    = EncodedCellScore(half, halfView, job.Format, m_input.TransparentColor, *job.Half);
        }
    } catch (...) {
        job.HalfError = std::current_exception();
        return;
    }
    job.HalfFile = WriteCellFile(job.Stem + "@1x", *job.Half);
}

void TGenerationRun::CommitCell(TCellJob& job)
{
    const std::string extension = job.Format.Type == TImageType::Auto ? "" : ImageExtension(job.Format.Type);
    m_current = job.Stem + extension;
    if (job.MainError)
        std::rethrow_exception(job.MainError);
    const std::string fileName = SaveCell(job, job.Main, job.MainFile, job.MainPsnr, job.MainScore, false);
    if (m_settings.AlsoHalfSize) {
        m_current = job.Stem + "@1x" + extension;
        if (job.HalfError)
            std::rethrow_exception(job.HalfError);
        SaveCell(job, *job.Half, job.HalfFile, job.HalfPsnr, job.HalfScore, true);
    }
    if (job.PageCell)
        m_layout.Rows[job.PageRow].Cells[*job.PageCell].Source
            = m_sourcePrefix + UrlPathEscaped(ExtractFileName(fileName));
    CellWritten();
}

std::optional<TPixelView> TGenerationRun::RgbaAt(const TCellFormat& format, TSpan columns, TSpan rows) const
{
    if (!format.KeepAlpha || !m_input.Rgba)
        return std::nullopt;
    TPixelView rgba = *m_input.Rgba;
    rgba.Data += rgba.Stride * rows.Start + ptrdiff_t(columns.Start) * rgba.BytesPerPixel();
    rgba.Width = columns.Length();
    rgba.Height = rows.Length();
    return rgba;
}

TCellFile TGenerationRun::WriteCellFile(const std::string& stem, const TEncodedCell& encoded) const
{
    TCellFile file;
    try {
        const std::string fileName = stem + ImageExtension(encoded.Type);
        file.Unchanged = m_settings.KeepUnchanged && FileHoldsBytes(fileName, encoded.Bytes);
        if (!file.Unchanged) {
            file.Stream = std::make_unique<TFileStream>(fileName, FileMode::Create);
            file.Stream->WriteBuffer(encoded.Bytes.data(), encoded.Bytes.size());
            file.Stream->Finish();
        }
    } catch (...) {
        file.Stream.reset(); // its temporary file goes with it
        file.Error = std::current_exception();
    }
    return file;
}

std::string TGenerationRun::SaveCell(const TCellJob& job, const TEncodedCell& encoded, TCellFile& file,
    std::optional<double> psnr, std::optional<double> score, bool half)
{
    const std::string fileName = job.Stem + (half ? "@1x" : "") + ImageExtension(encoded.Type);
    if (job.Listed)
        m_sink.FileFinished(fileName);
    m_current = fileName;
    if (file.Error)
        std::rethrow_exception(file.Error);
    const TCellFileReport report { fileName, job.Ref, half, encoded.Type, encoded.Bytes.size(), psnr,
        encoded.Reason, file.Unchanged, score };
    if (file.Stream)
        m_cells.push_back(std::move(file.Stream));
    m_sink.CellFileWritten(report);
    if (!encoded.Reason.empty())
        m_sink.LogLine(
            ExtractFileName(fileName) + ": " + ImageTypeName(encoded.Type) + ", " + encoded.Reason + ".");
    return fileName;
}

void TGenerationRun::AddPageCell(TPageRow& row, TPageCell cell) const
{
    if (m_settings.WriteHTML)
        row.Cells.push_back(std::move(cell));
}

void TGenerationRun::CellWritten()
{
    ++m_counts.Written;
    m_sink.Progress(m_counts);
}

void TGenerationRun::WithoutImage()
{
    ++m_counts.WithoutImage;
    m_sink.Progress(m_counts);
}

void TGenerationRun::Skipped(const std::string& fileName, const std::string& reason, int cells)
{
    m_sink.LogLine("Skipped " + ExtractFileName(fileName) + ": " + reason + ".");
    m_sink.PieceSkipped(fileName, reason);
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
