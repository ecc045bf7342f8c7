#include "core/generate/slicing_pipeline.h"

#include "core/base/errors.h"
#include "core/base/mapped_file.h"
#include "core/base/output_file.h"
#include "core/base/stream.h"
#include "core/base/sysutils.h"
#include "core/base/thread_pool.h"
#include "core/generate/cell_pixels.h"
#include "core/generate/cell_plan.h"
#include "core/generate/cell_writer.h"
#include "core/generate/page_writer.h"
#include "core/generate/run_checks.h"
#include "core/generate/run_folder.h"
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

void SaveCellGif(TStream& stream, const TPixelView& cell, TColor transparentColor)
{
    TGIFImage gif;
    gif.AssignRows(cell, transparentColor);
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

using TSpan = TBand;

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

// A strip's rows: the picture's own when strips are not kept, else its file
// as read back, mapped, or read into a bitmap when it is not the plain file
// the run writes.
struct TStripRows {
    std::optional<TMappedFile> Mapped;
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
    std::string CellStem(const TPlannedCell& cell) const { return m_folder + cell.BaseName; }
    // Strips and cells of a row without pixels are counted as skipped.
    int CellsPerRow() const { return m_plan.Grid.Columns(); }
    void RefuseNameCollisions() const;
    void PublishAll();
    void WriteStrip(TBitmap& picture, int row);
    // A strip that is not kept: reported as a written one is, never written.
    void ListStrip(int row);
    void WriteStripsOnWorkers(const TPixelView& picture);
    void SliceRowStrip(TBitmap& picture, size_t strip);
    // Cells of a strip without pixels keep their place in a page of tracks.
    void EmptyRow(int row);
    std::optional<TPixelView> RgbaAt(const TCellFormat& format, TSpan columns, TSpan rows) const;
    void EncodeJob(TCellJob& job) const;
    // Writes an encoded cell's file under stem plus its format's extension,
    // on the worker, so that files are made side by side; never throws.
    TCellFile WriteCellFile(const std::string& stem, const TEncodedCell& encoded) const;
    // Reports a written cell's file in its turn (the @1x one when half) and
    // keeps it to be put in place with the others; returns its name.
    std::string SaveCell(const TCellJob& job, const TEncodedCell& encoded, TCellFile& file,
        std::optional<double> psnr, bool half);
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
    std::unique_ptr<TRunFolder> m_folderLock;
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
    const TPixelView picture24 = Picture24(picture, m_picture24);
    m_plan = PlanCells(TCutGrid::FromCaptions(width, height, m_input.ColumnCaptions, m_input.RowCaptions),
        m_settings, picture24, m_input.Rgba);
    RefuseNameCollisions();
    if (m_settings.WriteHTML)
        m_sourcePrefix = ImageSourcePrefix(m_settings.PageFileName, m_folder);
    m_folderLock = std::make_unique<TRunFolder>(
        m_folder, !m_settings.DeleteTemp, [this](const std::string& line) { m_sink.LogLine(line); });
    m_counts.Total = static_cast<int>(m_plan.Grid.CellCount());
    m_sink.Progress(m_counts);

    // No more workers than cells, and a sane ceiling on what a setting asks.
    const int threads = m_settings.Threads > 0 ? m_settings.Threads : TThreadPool::HardwareThreads();
    m_pool = std::make_unique<TThreadPool>(std::clamp(threads, 1, std::clamp(m_counts.Total, 1, 256)));
    if (m_settings.DeleteTemp) {
        // Strips the user did not ask for never reach the folder: the cells
        // are cut from the picture's rows, in the form a strip's file holds.
        for (int row = 1; row <= m_plan.Grid.Rows(); ++row)
            ListStrip(row);
    } else if (m_pool->Threads() > 1 && picture.PixelFormat() == TPixelFormat::pf24bit) {
        WriteStripsOnWorkers(picture.View24());
    } else {
        for (int row = 1; row <= m_plan.Grid.Rows(); ++row)
            WriteStrip(picture, row);
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
    for (int column = 1; column <= m_plan.Grid.Columns(); ++column)
        m_layout.ColumnWidths.push_back(
            m_plan.Grid.Column(column).Band ? m_plan.Grid.Column(column).Band->Length() : 0);
    for (int row = 1; row <= m_plan.Grid.Rows(); ++row)
        m_layout.RowHeights.push_back(m_plan.Grid.Row(row).Band ? m_plan.Grid.Row(row).Band->Length() : 0);
    // Enough to keep every worker busy while the next cell is cut; more
    // would only hold more cells in memory.
    m_maxInFlight = static_cast<size_t>(m_pool->Threads()) * 2;
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
    PublishAll();
    m_current.clear();
    m_cells.clear();
    m_stripsWritten.clear();

    m_sink.Beep();
    m_sink.LogLine("Done.");
    return m_counts;
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
        const std::vector<std::string> extensions = cell.Format.Type == TImageType::Auto
            ? std::vector<std::string> { ".png", ".gif", ".jpg", ".webp" }
            : std::vector<std::string> { ImageExtension(cell.Format.Type) };
        const std::string stem = CellStem(cell);
        for (const std::string& extension : extensions) {
            files.push_back({ stem + extension, "cell " + CellLabel(cell.Ref) + "'s image" });
            if (m_settings.AlsoHalfSize)
                files.push_back({ stem + "@1x" + extension, "cell " + CellLabel(cell.Ref) + "'s @1x image" });
        }
    }
    sw::RefuseNameCollisions(files, m_input.PictureFileName, m_input.ProjectFileName);
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
    std::vector<TStripWrite> writes(size_t(m_plan.Grid.Rows()));
    for (size_t k = 0; k < writes.size(); ++k) {
        const TGridPiece& piece = m_plan.Grid.Row(static_cast<int>(k) + 1);
        writes[k].Name = StripFileName(static_cast<int>(k) + 1);
        if (!piece.Band)
            continue;
        writes[k].Batch = std::make_unique<TTaskBatch>(*m_pool);
        writes[k].Batch->Run([&write = writes[k], &failed, picture, rows = *piece.Band] {
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
                Skipped(write.Name, m_plan.Grid.Row(static_cast<int>(k) + 1).Reason, CellsPerRow());
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

void TGenerationRun::WriteStrip(TBitmap& picture, int row)
{
    ListStrip(row);
    const std::optional<TBand>& rows = m_plan.Grid.Row(row).Band;
    if (!rows)
        return;
    const std::string name = StripFileName(row);
    m_current = name;
    if (picture.PixelFormat() == TPixelFormat::pf24bit)
        WriteStripFile(picture.View24(), *rows, name)->Publish();
    else
        CutOut(picture, { 0, picture.Width() }, *rows).SaveToFile(name);
    m_stripsWritten.push_back(name);
}

void TGenerationRun::ListStrip(int row)
{
    const std::string name = StripFileName(row);
    const TGridPiece& piece = m_plan.Grid.Row(row);
    if (!piece.Band) {
        Skipped(name, piece.Reason, CellsPerRow());
        return;
    }
    m_rowFiles.push_back(name);
    m_rowNumbers.push_back(row);
    m_sink.RowFileAdded(name);
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
    auto strip = std::make_shared<TStripRows>();
    const TSpan stripRows = *m_plan.Grid.Row(row).Band;
    if (m_settings.DeleteTemp) {
        strip->Rows = m_picture24.View24();
        strip->Rows.Data = strip->Rows.Row(stripRows.Start);
        strip->Rows.Height = stripRows.Length();
    } else if (const std::optional<TPixelView> rows
        = BmpRows24(strip->Mapped.emplace(stripFileName).Bytes())) {
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
    InOrder([this] { m_sink.ProcessMessages(); });

    // The row is in the layout from the start: cells encoded later fill in
    // their addresses there.
    const size_t pageRowIndex = m_layout.Rows.size();
    m_layout.Rows.emplace_back();
    const auto pageRow = [this, pageRowIndex]() -> TPageRow& { return m_layout.Rows[pageRowIndex]; };
    for (int column = 1; column <= m_plan.Grid.Columns(); ++column) {
        const TPlannedCell& cell = m_plan.At(row, column);
        if (cell.Role == TCellRole::Covered) {
            InOrder([this] { WithoutImage(); });
            continue;
        }
        const TCellRef ref = cell.Ref;
        const TCellProperties& properties = cell.Properties;
        const TCellFormat& format = cell.Format;
        const std::string stem = CellStem(cell);
        TPageCell pageCell = PageCellOf(column, properties);
        if (cell.Role == TCellRole::NoPixels) {
            // An auto cell that is skipped has no format to name.
            const std::string name
                = stem + (format.Type == TImageType::Auto ? "" : ImageExtension(format.Type));
            InOrder([this, name, reason = cell.Reason] { Skipped(name, reason, 1); });
            pageCell.Skip = true;
            if (m_settings.PageStyle != TPageStyle::Classic)
                AddPageCell(pageRow(), pageCell);
            continue;
        }
        const TSpan* across = &cell.Rect.Columns;
        const TSpan* down = &cell.Rect.Rows;
        pageCell.Width = across->Length();
        pageCell.Height = down->Length();
        pageCell.Skip = cell.Role == TCellRole::Skip;
        if (cell.Role == TCellRole::Fill)
            pageCell.Fill = cell.FillColor;
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
        job->Listed = !m_plan.Grid.ColumnLines().empty();
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
        if (m_settings.MeasurePsnr)
            job.MainPsnr
                = EncodedCellPsnr(job.Cell, job.Rgba, job.Format, m_input.TransparentColor, job.Main);
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
        if (m_settings.MeasurePsnr)
            job.HalfPsnr = EncodedCellPsnr(half, halfView, job.Format, m_input.TransparentColor, *job.Half);
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
    const std::string fileName = SaveCell(job, job.Main, job.MainFile, job.MainPsnr, false);
    if (m_settings.AlsoHalfSize) {
        m_current = job.Stem + "@1x" + extension;
        if (job.HalfError)
            std::rethrow_exception(job.HalfError);
        SaveCell(job, *job.Half, job.HalfFile, job.HalfPsnr, true);
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

std::string TGenerationRun::SaveCell(
    const TCellJob& job, const TEncodedCell& encoded, TCellFile& file, std::optional<double> psnr, bool half)
{
    const std::string fileName = job.Stem + (half ? "@1x" : "") + ImageExtension(encoded.Type);
    if (job.Listed)
        m_sink.FileFinished(fileName);
    m_current = fileName;
    if (file.Error)
        std::rethrow_exception(file.Error);
    const TCellFileReport report { fileName, job.Ref, half, encoded.Type, encoded.Bytes.size(), psnr,
        encoded.Reason, file.Unchanged };
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
