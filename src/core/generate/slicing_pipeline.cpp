#include "core/generate/slicing_pipeline.h"

#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/base/sysutils.h"
#include "core/base/thread_pool.h"
#include "core/generate/cell_pixels.h"
#include "core/generate/cell_plan.h"
#include "core/generate/cell_writer.h"
#include "core/generate/ordered_steps.h"
#include "core/generate/page_content.h"
#include "core/generate/page_writer.h"
#include "core/generate/run_checks.h"
#include "core/generate/run_folder.h"
#include "core/generate/run_strips.h"
#include "core/imaging/bitmap.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace sw {

namespace {

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

// A cell's file as its worker left it: written under a temporary name, or
// found unchanged in place, or the failure to be reported in its turn.
struct TCellFile {
    std::unique_ptr<TFileStream> Stream;
    bool Unchanged = false;
    std::exception_ptr Error;
};

// One more file of a cell for the page's <picture> (and its @1x one).
// Dropped: an auto cell's source no smaller than its image, which no
// browser would gain by.
struct TSourceJob {
    TImageType Type = TImageType::Webp;
    TEncodedCell Main {};
    std::optional<TEncodedCell> Half {};
    TCellFile MainFile {};
    TCellFile HalfFile {};
    bool Dropped = false;
    std::exception_ptr Error {};
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
    std::optional<TColor> Background; // e-mail: what stands in for the image
    std::optional<double> HalfScore;
    std::exception_ptr MainError;
    std::exception_ptr HalfError;
    std::vector<TSourceJob> Sources;
};

const char* SourceMimeType(TImageType type)
{
    return type == TImageType::Avif || type == TImageType::AvifLossless ? "image/avif" : "image/webp";
}

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
    std::string CellStem(const TPlannedCell& cell) const { return m_folder + cell.BaseName; }
    // Strips and cells of a row without pixels are counted as skipped.
    int CellsPerRow() const { return m_plan.Grid.Columns(); }
    // Everything that can be refused is, before a file is touched; then the
    // folder is locked and the pool made.
    void Prepare(TBitmap& picture);
    void RefuseNameCollisions() const;
    void MakeStrips(TBitmap& picture);
    void CutCells(TBitmap& picture);
    void WritePage();
    void PublishAll();
    // Reports a row's strip as written (false: the row has no pixels, and
    // its cells are counted as skipped).
    bool ListStrip(int row);
    std::shared_ptr<TStripRows> StripRows(size_t strip);
    void SliceRowStrip(TBitmap& picture, size_t strip);
    void PlaceCell(TBitmap& picture, const TPlannedCell& cell, const std::shared_ptr<TStripRows>& strip,
        size_t pageRowIndex);
    // An image cell's pixels, from its strip's rows where it lies in one.
    std::shared_ptr<TCellJob> CellJob(
        TBitmap& picture, const TPlannedCell& cell, const std::shared_ptr<TStripRows>& strip) const;
    // Cells of a strip without pixels keep their place in a page of tracks.
    void EmptyRow(int row);
    void EncodeJob(TCellJob& job) const;
    void EncodeSources(TCellJob& job, const TBitmap* half, const std::optional<TPixelView>& halfRgba) const;
    bool RowStacks(int row) const;
    // Writes an encoded cell's file under stem plus its format's extension,
    // on the worker, so that files are made side by side; never throws.
    TCellFile WriteCellFile(const std::string& stem, const TEncodedCell& encoded) const;
    // Reports a written cell's file in its turn (the @1x one when half) and
    // keeps it to be put in place with the others; returns its name.
    std::string SaveCell(const TCellJob& job, const TEncodedCell& encoded, TCellFile& file,
        std::optional<double> psnr, std::optional<double> score, bool half);
    void CommitCell(TCellJob& job);
    // The cells are encoded on the pool while everything the sink and the
    // files see happens here, in cell order (m_steps).
    void InOrder(std::function<void()> step) { m_steps.InOrder(std::move(step)); }
    void StartCell(std::shared_ptr<TCellJob> job);
    void AddPageCell(TPageRow& row, TPageCell cell) const;
    void CellWritten();
    void WithoutImage();
    void Skipped(const std::string& fileName, const std::string& reason, int cells);
    void Warn(const TRunWarning& warning);
    // With WarningsAreErrors, fails once anything was warned of.
    void StopOnWarnings() const;
    bool MailPage() const { return m_settings.WriteHTML && m_settings.PageStyle == TPageStyle::Email; }

    const TGenerationInput& m_input;
    const TGenerationSettings& m_settings;
    IGenerationSink& m_sink;
    const std::string m_folder;
    std::string m_sourcePrefix; // the way from the page to the cells
    TCellPlan m_plan;
    TBitmap m_picture24; // the picture at 24 bits
    std::vector<std::string> m_rowFiles;
    std::vector<int> m_rowNumbers; // each strip's number in its name
    std::vector<std::string> m_stripsWritten;
    // Finished cells under temporary names, put in place together at the end.
    std::vector<std::unique_ptr<TFileStream>> m_cells;
    std::string m_current; // the file being written
    TPageLayout m_layout;
    TPageWriter m_page;
    TGenerationCounts m_counts;
    uint64_t m_imageBytes = 0; // the page's images, written or unchanged
    std::vector<TRunWarning> m_warnings; // the picture's too, by their text
    std::unique_ptr<TRunFolder> m_folderLock;
    std::unique_ptr<TThreadPool> m_pool;
    TOrderedSteps m_steps; // after m_pool: its work goes before the workers
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
    if (m_input.Rgba
        && (m_input.Rgba->Width != picture.Width() || m_input.Rgba->Height != picture.Height()
            || m_input.Rgba->Layout != TPixelLayout::Rgba32))
        throw Exception("The picture's alpha does not match the picture");

    m_sink.ProcessMessages();
    m_rowFiles.clear();
    for (const std::string& warning : m_input.Warnings) {
        m_sink.LogLine("Warning: " + warning + ".");
        m_sink.PictureWarning(warning);
        m_warnings.push_back({ "picture", warning });
    }
    m_sink.LogLine("Generating temporary images...");
    Prepare(picture);
    MakeStrips(picture);
    m_sink.LogLine("Temporary images created, creating final images...");
    m_sink.LogLine("");
    CutCells(picture);
    WritePage();
    PublishAll();
    m_current.clear();
    m_cells.clear();
    m_stripsWritten.clear();

    m_sink.Beep();
    m_sink.LogLine("Done.");
    return m_counts;
}

void TGenerationRun::Prepare(TBitmap& picture)
{
    // Every caption and cell is checked before the first file is written,
    // so a bad one leaves no half-finished output behind.
    const TPixelView picture24 = Picture24(picture, m_picture24);
    m_plan = PlanCells(TCutGrid::FromCaptions(
                           picture.Width(), picture.Height(), m_input.ColumnCaptions, m_input.RowCaptions),
        m_settings, picture24, m_input.Rgba);
    if (m_settings.PageStyle == TPageStyle::Email)
        RefuseMailUnsafeFormats(m_plan);
    if (MailPage())
        for (const TRunWarning& warning : MailCellWarnings(m_plan))
            Warn(warning);
    StopOnWarnings();
    RefuseNameCollisions();
    if (m_settings.WriteHTML)
        m_sourcePrefix = ImageSourcePrefix(m_settings.PageFileName, m_folder);
    // A run waiting for another one's folder can still be stopped.
    m_folderLock = std::make_unique<TRunFolder>(
        m_folder, !m_settings.DeleteTemp, [this](const std::string& line) { m_sink.LogLine(line); },
        [this] { m_sink.ProcessMessages(); });
    m_counts.Total = static_cast<int>(m_plan.Grid.CellCount());
    m_sink.Progress(m_counts);

    // No more workers than cells, and a sane ceiling on what a setting asks.
    const int threads = m_settings.Threads > 0 ? m_settings.Threads : TThreadPool::HardwareThreads();
    m_pool = std::make_unique<TThreadPool>(std::clamp(threads, 1, std::clamp(m_counts.Total, 1, 256)));
    // Enough to keep every worker busy while the next cell is cut; more
    // would only hold more cells in memory.
    m_steps.SetMaxInFlight(static_cast<size_t>(m_pool->Threads()) * 2);
}

void TGenerationRun::MakeStrips(TBitmap& picture)
{
    // Strips the user did not ask for never reach the folder: the cells are
    // cut from the picture's rows, in the form a strip's file holds.
    if (m_settings.DeleteTemp) {
        for (int row = 1; row <= m_plan.Grid.Rows(); ++row)
            ListStrip(row);
        return;
    }
    if (m_pool->Threads() > 1 && picture.PixelFormat() == TPixelFormat::pf24bit) {
        WriteStripFilesOnPool(
            *m_pool, picture.View24(), m_plan.Grid, [this](int row) { return StripFileName(row); },
            [this](int row) {
                if (!ListStrip(row))
                    return false;
                m_current = StripFileName(row);
                return true;
            },
            [this](const std::string& name) { m_stripsWritten.push_back(name); });
        return;
    }
    for (int row = 1; row <= m_plan.Grid.Rows(); ++row) {
        if (!ListStrip(row))
            continue;
        m_current = StripFileName(row);
        WriteStripFile(picture, *m_plan.Grid.Row(row).Band, m_current);
        m_stripsWritten.push_back(m_current);
    }
}

void TGenerationRun::CutCells(TBitmap& picture)
{
    if (m_settings.WriteHTML) {
        // Started here so that a page that cannot be made stops the run
        // before any cell is made; it is written whole at the end.
        m_current = m_settings.PageFileName;
        m_page.BeginPage(m_settings.PageFileName, m_settings.Description, picture.Width());
    }
    m_layout.Width = picture.Width();
    m_layout.Height = picture.Height();
    m_layout.Scale = m_settings.Scale;
    for (int column = 1; column <= m_plan.Grid.Columns(); ++column)
        m_layout.ColumnWidths.push_back(
            m_plan.Grid.Column(column).Band ? m_plan.Grid.Column(column).Band->Length() : 0);
    for (int row = 1; row <= m_plan.Grid.Rows(); ++row)
        m_layout.RowHeights.push_back(m_plan.Grid.Row(row).Band ? m_plan.Grid.Row(row).Band->Length() : 0);
    try {
        size_t strip = 0;
        for (int row = 1; row <= m_plan.Grid.Rows(); ++row) {
            if (m_plan.Grid.Row(row).Band)
                SliceRowStrip(picture, strip++);
            else
                EmptyRow(row);
        }
    } catch (...) {
        // The cells before the failure come first, as they would in one
        // thread; their own failure is then the run's.
        if (!m_steps.CommitFailed())
            m_steps.CommitAll();
        throw;
    }
    m_steps.CommitAll();
}

void TGenerationRun::WritePage()
{
    if (!m_settings.WriteHTML)
        return;
    m_current = m_settings.PageFileName;
    m_page.Close();
    TPageOptions options;
    options.Style = m_settings.PageStyle;
    options.Description = m_settings.Description;
    options.Title = m_settings.Title.empty() ? m_settings.ProjectName : m_settings.Title;
    options.Lang = m_settings.Lang;
    options.BaseUrl = m_settings.BaseUrl;
    options.Preheader = m_settings.Preheader;
    options.Fold = m_settings.Fold;
    options.Breakpoint = m_settings.Breakpoint;
    m_page.WritePage(m_settings.PageFileName, m_layout, options);
    if (!MailPage())
        return;
    const uint64_t htmlBytes = m_page.BytesWritten();
    m_sink.LogLine(Format("Page: %llu bytes of HTML, %llu bytes of images.",
        static_cast<unsigned long long>(htmlBytes), static_cast<unsigned long long>(m_imageBytes)));
    m_sink.PageSizes(htmlBytes, m_imageBytes);
    if (const std::optional<TRunWarning> warning = MailSizeWarning(htmlBytes))
        Warn(*warning);
    StopOnWarnings();
}

// The cells take their names before the page that shows them, all listed
// in the folder's journal first, so that a run killed among the renames is
// finished by the next one.
void TGenerationRun::PublishAll()
{
    if (m_settings.WriteHTML && m_settings.KeepUnchanged && m_page.MatchesPublished())
        m_page.Close();
    std::vector<TRename> renames;
    for (const std::unique_ptr<TFileStream>& cell : m_cells)
        renames.push_back({ cell->TemporaryFileName(), cell->FileName() });
    const bool page = m_settings.WriteHTML && !m_page.TemporaryFileName().empty();
    if (page)
        renames.push_back({ m_page.TemporaryFileName(), m_settings.PageFileName });
    m_folderLock->Publish(renames, [this, page](size_t k) {
        if (k < m_cells.size()) {
            m_current = m_cells[k]->FileName();
            m_cells[k]->Publish();
        } else if (page) {
            m_current = m_settings.PageFileName;
            m_page.Publish();
        }
    });
}

void TGenerationRun::Abandon() noexcept
{
    if (m_folderLock)
        m_folderLock->Abandon();
    m_abandoned = true;
    m_steps.Clear(); // waits for the cells being encoded
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

// Every file the run may write, an auto cell under each extension it may
// take, so that no two of them, the picture or the project share a name.
void TGenerationRun::RefuseNameCollisions() const
{
    std::vector<TRunFile> files;
    if (m_settings.WriteHTML)
        files.push_back({ m_settings.PageFileName, "the page" });
    for (int row = 1; row <= m_plan.Grid.Rows(); ++row)
        if (!m_settings.DeleteTemp && m_plan.Grid.Row(row).Band)
            files.push_back({ StripFileName(row), Format("row %d's strip", row) });
    for (const TPlannedCell& cell : m_plan.Cells) {
        if (cell.Role != TCellRole::Image)
            continue;
        const bool sources = UsesSources(m_settings);
        std::vector<std::string> extensions = cell.Format.Type != TImageType::Auto
            ? std::vector<std::string> { ImageExtension(cell.Format.Type) }
            : sources ? std::vector<std::string> { ".png", ".gif", ".jpg" }
                      : std::vector<std::string> { ".png", ".gif", ".jpg", ".webp" };
        if (cell.Format.Type == TImageType::Auto && cell.Format.AutoAvif && !sources)
            extensions.push_back(".avif");
        if (sources)
            for (const TImageType type : m_settings.Sources)
                if (std::find(extensions.begin(), extensions.end(), ImageExtension(type)) == extensions.end())
                    extensions.push_back(ImageExtension(type));
        const std::string stem = CellStem(cell);
        for (const std::string& extension : extensions) {
            files.push_back({ stem + extension, "cell " + CellLabel(cell.Ref) + "'s image" });
            if (m_settings.AlsoHalfSize)
                files.push_back({ stem + "@1x" + extension, "cell " + CellLabel(cell.Ref) + "'s @1x image" });
        }
    }
    sw::RefuseNameCollisions(files, m_input.PictureFileName, m_input.ProjectFileName);
}

bool TGenerationRun::ListStrip(int row)
{
    const std::string name = StripFileName(row);
    const TGridPiece& piece = m_plan.Grid.Row(row);
    if (!piece.Band) {
        Skipped(name, piece.Reason, CellsPerRow());
        return false;
    }
    m_rowFiles.push_back(name);
    m_rowNumbers.push_back(row);
    m_sink.RowFileAdded(name);
    return true;
}

void TGenerationRun::EmptyRow(int row)
{
    TPageRow pageRow;
    for (int column = 1; column <= m_plan.Grid.Columns(); ++column) {
        const TPlannedCell& cell = m_plan.At(row, column);
        if (cell.Role == TCellRole::Covered)
            continue;
        TPageCell pageCell = PageCellOf(column, cell.Properties);
        pageCell.Skip = true;
        AddPageCell(pageRow, pageCell);
    }
    pageRow.Stack = RowStacks(row);
    if (m_settings.PageStyle != TPageStyle::Classic)
        m_layout.Rows.push_back(std::move(pageRow));
}

std::shared_ptr<TStripRows> TGenerationRun::StripRows(size_t stripIndex)
{
    const TBand rows = *m_plan.Grid.Row(m_rowNumbers[stripIndex]).Band;
    if (m_settings.DeleteTemp)
        return StripInPicture(m_picture24.View24(), rows);
    // Kept strips are cut as written, so that their file is what the cells show.
    return StripFromFile(m_rowFiles[stripIndex]);
}

void TGenerationRun::SliceRowStrip(TBitmap& picture, size_t stripIndex)
{
    const std::string& stripFileName = m_rowFiles[stripIndex];
    InOrder([this, stripFileName] { m_current = stripFileName; });
    const std::shared_ptr<TStripRows> strip = StripRows(stripIndex);
    InOrder([this] { m_sink.ProcessMessages(); });

    // The row is in the layout from the start: cells encoded later fill in
    // their addresses there.
    const size_t pageRowIndex = m_layout.Rows.size();
    m_layout.Rows.emplace_back();
    const int row = m_rowNumbers[stripIndex];
    m_layout.Rows.back().Stack = RowStacks(row);
    for (int column = 1; column <= m_plan.Grid.Columns(); ++column)
        PlaceCell(picture, m_plan.At(row, column), strip, pageRowIndex);
}

void TGenerationRun::PlaceCell(
    TBitmap& picture, const TPlannedCell& cell, const std::shared_ptr<TStripRows>& strip, size_t pageRowIndex)
{
    if (cell.Role == TCellRole::Covered) {
        InOrder([this] { WithoutImage(); });
        return;
    }
    TPageRow& pageRow = m_layout.Rows[pageRowIndex];
    const std::string stem = CellStem(cell);
    TPageCell pageCell = PageCellOf(cell.Ref.Column, cell.Properties);
    if (cell.Role == TCellRole::NoPixels) {
        // An auto cell that is skipped has no format to name.
        const std::string name
            = stem + (cell.Format.Type == TImageType::Auto ? "" : ImageExtension(cell.Format.Type));
        InOrder([this, name, reason = cell.Reason] { Skipped(name, reason, 1); });
        pageCell.Skip = true;
        if (m_settings.PageStyle != TPageStyle::Classic)
            AddPageCell(pageRow, pageCell);
        return;
    }
    pageCell.Width = cell.Rect.Columns.Length();
    pageCell.Height = cell.Rect.Rows.Length();
    pageCell.Skip = cell.Role == TCellRole::Skip;
    if (cell.Role == TCellRole::Fill)
        pageCell.Fill = cell.FillColor;
    if (cell.Role == TCellRole::Content && m_settings.WriteHTML)
        pageCell.Content
            = PageContentOf(cell.Properties, *PixelsAt(m_picture24.View24(), cell.Rect), m_settings.Scale,
                cell.Properties.Fill == TCellFill::Color ? std::optional(cell.FillColor) : std::nullopt);
    if (pageCell.Skip || pageCell.Fill || cell.Role == TCellRole::Content) {
        AddPageCell(pageRow, pageCell);
        InOrder([this] { WithoutImage(); });
        return;
    }

    std::shared_ptr<TCellJob> job = CellJob(picture, cell, strip);
    if (m_settings.AutoFill)
        pageCell.Fill = FlatColor(job->Cell, job->Rgba);
    if (pageCell.Fill) {
        InOrder([this, name = ExtractFileName(stem), ref = cell.Ref, color = *pageCell.Fill] {
            m_sink.LogLine("Filled " + name + " with its one colour " + HexRgb(color) + ".");
            m_sink.CellFilled(name, ref, color);
            WithoutImage();
        });
        AddPageCell(pageRow, pageCell);
        return;
    }
    job->PageRow = pageRowIndex;
    if (m_settings.WriteHTML)
        job->PageCell = pageRow.Cells.size();
    AddPageCell(pageRow, pageCell);
    StartCell(std::move(job));
}

std::shared_ptr<TCellJob> TGenerationRun::CellJob(
    TBitmap& picture, const TPlannedCell& cell, const std::shared_ptr<TStripRows>& strip) const
{
    const TBand& across = cell.Rect.Columns;
    auto job = std::make_shared<TCellJob>();
    // Cells are encoded from the strip's rows as they are; whatever looks
    // at the cell's pixels again gets a copy of its own. A cell that spans
    // strips is cut from the picture itself.
    const bool oneStrip = cell.Properties.SpanRows == 1;
    const bool fromRows = oneStrip && !m_settings.AutoFill && !m_settings.MeasurePsnr
        && !m_settings.AlsoHalfSize && !UsesSources(m_settings);
    if (fromRows) {
        TPixelView rows = strip->Rows;
        rows.Data += ptrdiff_t(across.Start) * 3;
        rows.Width = across.Length();
        job->Rows = rows;
        job->Strip = strip;
    } else {
        job->Cell = oneStrip ? CutOut(strip->Rows, across, { 0, strip->Rows.Height })
                             : CutOut(picture, across, cell.Rect.Rows);
    }
    job->Rgba = cell.Format.KeepAlpha ? PixelsAt(m_input.Rgba, cell.Rect) : std::nullopt;
    job->Stem = CellStem(cell);
    job->Ref = cell.Ref;
    job->Format = cell.Format;
    // Without column lines the strips are the cells, and that list holds
    // cut cells only.
    job->Listed = !m_plan.Grid.ColumnLines().empty();
    if (UsesSources(m_settings))
        for (const TImageType type : m_settings.Sources)
            // The image already is that format.
            if (cell.Format.Type == TImageType::Auto
                || ImageExtension(type) != ImageExtension(cell.Format.Type))
                job->Sources.emplace_back().Type = type;
    return job;
}

void TGenerationRun::StartCell(std::shared_ptr<TCellJob> job)
{
    m_steps.Start(
        *m_pool,
        [this, job] {
            if (!m_abandoned)
                EncodeJob(*job);
        },
        [this, job] { CommitCell(*job); });
}

// On a worker: nothing here touches the sink, the files or the run's state.
void TGenerationRun::EncodeJob(TCellJob& job) const
{
    try {
        job.Main = job.Rows ? EncodeCellRows(*job.Rows, job.Rgba, job.Format, m_input.TransparentColor)
            : job.Sources.empty()
            ? EncodeCell(job.Cell, job.Rgba, job.Format, m_input.TransparentColor)
            : EncodeFallbackCell(job.Cell, job.Rgba, job.Format, m_input.TransparentColor);
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
    if (MailPage() && job.PageCell) {
        // A cell encoded from its strip's rows has no bitmap of its own.
        const TBitmap pixels
            = job.Rows ? CutOut(*job.Rows, { 0, job.Rows->Width }, { 0, job.Rows->Height }) : job.Cell;
        job.Background = StandInColor(pixels);
    }
    if (!m_settings.AlsoHalfSize) {
        EncodeSources(job, nullptr, std::nullopt);
        return;
    }
    try {
        TBitmap half = HalfSize(job.Cell);
        std::vector<uint8_t> halfRgba;
        std::optional<TPixelView> halfView;
        if (job.Rgba) {
            halfRgba = HalfSize(*job.Rgba);
            halfView = TPixelView { halfRgba.data(), half.Width(), half.Height(), ptrdiff_t(half.Width()) * 4,
                TPixelLayout::Rgba32 };
        }
        job.Half = job.Sources.empty()
            ? EncodeCell(half, halfView, job.Format, m_input.TransparentColor)
            : EncodeFallbackCell(half, halfView, job.Format, m_input.TransparentColor);
        if (m_settings.MeasurePsnr) {
            job.HalfPsnr = EncodedCellPsnr(half, halfView, job.Format, m_input.TransparentColor, *job.Half);
            if (job.HalfPsnr)
                job.HalfScore
                    = EncodedCellScore(half, halfView, job.Format, m_input.TransparentColor, *job.Half);
        }
        job.HalfFile = WriteCellFile(job.Stem + "@1x", *job.Half);
        EncodeSources(job, &half, halfView);
    } catch (...) {
        job.HalfError = std::current_exception();
    }
}

// A browser takes the first source it can show, and every one that shows
// one of them shows those after it and the image; so an auto cell's source
// no smaller than the image or than a source after it only costs bytes.
void TGenerationRun::EncodeSources(
    TCellJob& job, const TBitmap* half, const std::optional<TPixelView>& halfRgba) const
{
    for (TSourceJob& source : job.Sources)
        try {
            source.Main
                = EncodeSourceCell(job.Cell, job.Rgba, job.Format, source.Type, m_input.TransparentColor);
        } catch (...) {
            source.Error = std::current_exception();
        }
    if (job.Format.Type == TImageType::Auto)
        for (size_t k = 0; k < job.Sources.size(); ++k) {
            size_t smallest = job.Main.Bytes.size();
            for (size_t later = k + 1; later < job.Sources.size(); ++later)
                if (!job.Sources[later].Error)
                    smallest = std::min(smallest, job.Sources[later].Main.Bytes.size());
            job.Sources[k].Dropped = job.Sources[k].Main.Bytes.size() >= smallest;
        }
    for (TSourceJob& source : job.Sources) {
        if (source.Error || source.Dropped)
            continue;
        try {
            source.MainFile = WriteCellFile(job.Stem, source.Main);
            if (!half)
                continue;
            TBitmap halfCell(*half);
            source.Half
                = EncodeSourceCell(halfCell, halfRgba, job.Format, source.Type, m_input.TransparentColor);
            source.HalfFile = WriteCellFile(job.Stem + "@1x", *source.Half);
        } catch (...) {
            source.Error = std::current_exception();
        }
    }
}

bool TGenerationRun::RowStacks(int row) const
{
    const auto found = m_settings.Cells.find({ row, kRowColumn });
    return found != m_settings.Cells.end() && found->second.Stack;
}

void TGenerationRun::CommitCell(TCellJob& job)
{
    const std::string extension = job.Format.Type == TImageType::Auto ? "" : ImageExtension(job.Format.Type);
    m_current = job.Stem + extension;
    if (job.MainError)
        std::rethrow_exception(job.MainError);
    const std::string fileName = SaveCell(job, job.Main, job.MainFile, job.MainPsnr, job.MainScore, false);
    std::string halfName;
    if (m_settings.AlsoHalfSize) {
        m_current = job.Stem + "@1x" + extension;
        if (job.HalfError)
            std::rethrow_exception(job.HalfError);
        halfName = SaveCell(job, *job.Half, job.HalfFile, job.HalfPsnr, job.HalfScore, true);
    }
    const auto address = [this](const std::string& name) {
        return name.empty() ? std::string() : m_sourcePrefix + UrlPathEscaped(ExtractFileName(name));
    };
    std::vector<TPageSource> pageSources;
    for (TSourceJob& source : job.Sources) {
        m_current = job.Stem + ImageExtension(source.Type);
        if (source.Error)
            std::rethrow_exception(source.Error);
        if (source.Dropped)
            continue;
        const std::string sourceName = SaveCell(job, source.Main, source.MainFile, {}, {}, false);
        std::string halfSourceName;
        if (source.Half)
            halfSourceName = SaveCell(job, *source.Half, source.HalfFile, {}, {}, true);
        pageSources.push_back({ SourceMimeType(source.Type), address(sourceName), address(halfSourceName) });
    }
    if (job.PageCell) {
        TPageCell& pageCell = m_layout.Rows[job.PageRow].Cells[*job.PageCell];
        pageCell.Source = address(fileName);
        pageCell.HalfSource = address(halfName);
        pageCell.Sources = std::move(pageSources);
    }
    if (job.PageCell)
        m_layout.Rows[job.PageRow].Cells[*job.PageCell].Background = job.Background;
    m_imageBytes += job.Main.Bytes.size();
    CellWritten();
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

void TGenerationRun::Warn(const TRunWarning& warning)
{
    m_sink.LogLine("Warning: " + warning.Text + ".");
    m_sink.RunWarning(warning);
    m_warnings.push_back(warning);
}

void TGenerationRun::StopOnWarnings() const
{
    if (!m_settings.WarningsAreErrors || m_warnings.empty())
        return;
    throw Exception(
        Format("Warnings are errors in this run, and it had %d; the first: ", int(m_warnings.size()))
        + m_warnings.front().Text);
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
