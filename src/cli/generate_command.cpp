#include "cli/generate_command.h"

#include "cli/convert_command.h"
#include "cli/run_report.h"
#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/base/sysutils.h"
#include "core/generate/cell_writer.h"
#include "core/generate/slicing_pipeline.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/picture.h"
#include "core/imaging/png/png_reader.h"
#include "core/layout/cell_grid.h"
#include "core/project/cell_properties.h"
#include "core/project/cut_lines.h"
#include "core/project/project_file.h"
#include "core/text/cell_text.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unordered_map>
#include <utility>

namespace sw::cli {

namespace {

constexpr int kMaxJobs = 64;

// A warning on standard error; with --strict the run's failure instead.
void Warn(const GenerateOptions& options, std::FILE* warnings, const std::string& text)
{
    if (options.Settings.WarningsAreErrors)
        throw Exception("Warnings are errors in this run: " + text);
    std::fprintf(warnings, "slicewright-cli: warning: %s\n", text.c_str());
}

const std::string& NonEmpty(const std::string& value, const char* message)
{
    if (value.empty())
        throw CliUsageError(message);
    return value;
}

// Checks the value as the project file's key would take it, so both give
// the same cells, and keeps it to override the project's.
void SetOutputValue(GenerateOptions& options, const char* key, const char* option, const std::string& value)
{
    if (options.Output.count(key) != 0)
        throw CliUsageError(std::string(option) + " repeats a format setting already given");
    const char* expects = nullptr;
    if (const TOutputKey* row = FindOutputKey(key)) {
        if (!row->Apply(options.Settings.CellFormat, value))
            expects = row->Expects;
    } else if (const TRunKey* runRow = FindRunKey(key); !runRow->Apply(options.Settings, value)) {
        expects = runRow->Expects;
    }
    if (expects)
        throw CliUsageError(std::string(option) + " expects " + expects + ", not '" + value + "'");
    options.Output[key] = value;
}

// The picture's own RGBA, for cells that keep alpha; only PNG pictures
// have it. Empty pixels mean there is none.
TPngPicture PictureAlpha(
    const GenerateOptions& options, const std::string& pictureFileName, std::FILE* warnings)
{
    TMemoryStream bytes;
    {
        TFileStream file(pictureFileName, FileMode::OpenRead);
        bytes.CopyFrom(file, 0);
    }
    if (!IsPngSignature(bytes.Bytes())) {
        Warn(options, warnings, "alpha is kept from PNG pictures only; " + pictureFileName + " is not one");
        return {};
    }
    return ReadPng(bytes.Bytes());
}

// The picture the project names, found beside it; empty when it names none.
std::string PictureOfProject(const GenerateOptions& options, const TLoadedProject& project)
{
    return project.PictureFileName.empty() ? std::string()
                                           : PicturePathOfProject(options.Project, project.PictureFileName);
}

void CreateFolder(const std::string& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        throw EFCreateError(WithDetail("Cannot create folder " + folder, error.message()));
}

std::string ProjectFolder(const std::string& project)
{
    const std::string folder = ExtractFilePath(project);
    return folder.empty() ? std::string(".") : folder;
}

// The desktop program beeps for a stored line that does not fit the
// picture; here the user gets told which one. The lines that fit come back
// as captions in the lists' order.
std::vector<std::string> FittingCaptions(const GenerateOptions& options,
    const std::vector<TStoredLine>& stored, int extent, const char* kind, const char* dimension,
    std::FILE* warnings)
{
    TCutLines lines;
    lines.reserve(stored.size());
    for (const TStoredLine& line : stored) {
        if (IsInsideGrid(line.Position, extent))
            lines.push_back({ IntToStr(line.Position), line.Checked });
        else
            Warn(options, warnings,
                Format("%s line at %d ignored: the picture's %s is %d, so a line must lie in 1 to %d", kind,
                    static_cast<int>(line.Position), dimension, extent, extent - 1));
    }
    // One sort for the whole list: inserting line by line took seconds for
    // a project of many thousand lines.
    SortCutLines(lines);
    std::vector<std::string> captions;
    for (TCutLineEntry& line : lines)
        captions.push_back(std::move(line.Caption));
    return captions;
}

TCutLines CaptionLines(const std::vector<std::string>& captions)
{
    TCutLines lines;
    for (const std::string& caption : captions)
        lines.push_back({ caption, true });
    return lines;
}

// Fills the empty alts that the cells' pixels propose, before the run
// checks and writes the cells, and reports each one as the run reports.
void ProposeAlts(const TGenerationInput& input, TGenerationSettings& settings, TRunSink& sink)
{
    const TCellGrid grid(CaptionLines(input.ColumnCaptions), CaptionLines(input.RowCaptions),
        input.Picture->Width(), input.Picture->Height());
    CheckCellLayout(settings.Cells, grid.Rows(), grid.Columns());
    // A GIF or 8-bit BMP picture has no 24-bit rows of its own.
    std::optional<TBitmap> converted;
    if (input.Picture->PixelFormat() != TPixelFormat::pf24bit) {
        converted.emplace(*input.Picture);
        converted->SetPixelFormat(TPixelFormat::pf24bit);
    }
    const TBitmap& rows = converted ? *converted : *input.Picture;
    const std::vector<TTextProposal> proposals = ProposeCellTexts(rows.View24(), grid, settings.Cells,
        settings.Threads, [](int, int) { return !TStopSignals::Stopped(); });
    TStopSignals::ThrowIfStopped();
    for (const TTextProposal& proposal : proposals) {
        SetCellProperty(settings.Cells[proposal.Cell], proposal.Cell, proposal.Property, proposal.Text);
        sink.TextProposed(proposal);
    }
}

} // namespace

const std::vector<GenerateOption>& GenerateOptionTable()
{
    // In the order their values are checked.
    static const std::vector<GenerateOption> table = {
        { { "--out", true },
            [](GenerateOptions& o, const std::string& v) {
                o.Settings.OutputFolder = NonEmpty(v, "--out needs a folder name");
            } },
        { { "--type", true },
            [](GenerateOptions& o, const std::string& v) {
                if (v != "gif" && v != "jpg" && v != "jpeg")
                    throw CliUsageError("--type expects gif, jpg or jpeg, not '" + v + "'");
                SetOutputValue(o, "Format", "--type", v);
            } },
        { { "--format", true },
            [](GenerateOptions& o, const std::string& v) { SetOutputValue(o, "Format", "--format", v); } },
        { { "--colors", true },
            [](GenerateOptions& o, const std::string& v) { SetOutputValue(o, "Colors", "--colors", v); } },
        { { "--dither", true },
            [](GenerateOptions& o, const std::string& v) { SetOutputValue(o, "Dither", "--dither", v); } },
        { { "--quality", true },
            [](GenerateOptions& o, const std::string& v) { SetOutputValue(o, "Quality", "--quality", v); } },
        { { "--progressive", false },
            [](GenerateOptions& o, const std::string&) {
                SetOutputValue(o, "Progressive", "--progressive", "1");
            } },
        { { "--subsampling", true },
            [](GenerateOptions& o, const std::string& v) {
                SetOutputValue(o, "Subsampling", "--subsampling", v);
            } },
        { { "--min-psnr", true },
            [](GenerateOptions& o, const std::string& v) { SetOutputValue(o, "MinPsnr", "--min-psnr", v); } },
        { { "--min-score", true },
            [](GenerateOptions& o, const std::string& v) {
                SetOutputValue(o, "MinScore", "--min-score", v);
            } },
        { { "--avif-speed", true },
            [](GenerateOptions& o, const std::string& v) {
                SetOutputValue(o, "AvifSpeed", "--avif-speed", v);
            } },
        { { "--auto-avif", false },
            [](GenerateOptions& o, const std::string&) {
                SetOutputValue(o, "AutoAvif", "--auto-avif", "1");
            } },
        { { "--alpha", false },
            [](GenerateOptions& o, const std::string&) { SetOutputValue(o, "Alpha", "--alpha", "1"); } },
        { { "--page", true },
            [](GenerateOptions& o, const std::string& v) {
                o.Settings.PageFileName = NonEmpty(v, "--page needs a file name");
                o.Settings.WriteHTML = true;
            } },
        { { "--page-style", true },
            [](GenerateOptions& o, const std::string& v) {
                SetOutputValue(o, "PageStyle", "--page-style", v);
            } },
        { { "--base-url", true },
            [](GenerateOptions& o, const std::string& v) { SetOutputValue(o, "BaseUrl", "--base-url", v); } },
        { { "--scale", true },
            [](GenerateOptions& o, const std::string& v) { SetOutputValue(o, "Scale", "--scale", v); } },
        { { "--picture-page", true },
            [](GenerateOptions& o, const std::string& v) {
                SetOutputValue(o, "PicturePage", "--picture-page", v);
            } },
        { { "--also-1x", false },
            [](GenerateOptions& o, const std::string&) {
                SetOutputValue(o, "AlsoHalfSize", "--also-1x", "1");
            } },
        { { "--auto-fill", false },
            [](GenerateOptions& o, const std::string&) {
                SetOutputValue(o, "AutoFill", "--auto-fill", "1");
            } },
        { { "--description", true },
            [](GenerateOptions& o, const std::string& v) {
                SetOutputValue(o, "Description", "--description", v);
            } },
        { { "--lang", true },
            [](GenerateOptions& o, const std::string& v) { SetOutputValue(o, "Lang", "--lang", v); } },
        { { "--title", true },
            [](GenerateOptions& o, const std::string& v) { SetOutputValue(o, "Title", "--title", v); } },
        { { "--sources", true },
            [](GenerateOptions& o, const std::string& v) { SetOutputValue(o, "Sources", "--sources", v); } },
        { { "--fold", true },
            [](GenerateOptions& o, const std::string& v) { SetOutputValue(o, "Fold", "--fold", v); } },
        { { "--breakpoint", true },
            [](GenerateOptions& o, const std::string& v) {
                SetOutputValue(o, "Breakpoint", "--breakpoint", v);
            } },
        { { "--keep-temp", false },
            [](GenerateOptions& o, const std::string&) { o.Settings.DeleteTemp = false; } },
        { { "--transparent", true },
            [](GenerateOptions& o, const std::string& v) {
                SetOutputValue(o, kTransparentKey, "--transparent", v);
            } },
        { { "--picture", true },
            [](GenerateOptions& o, const std::string& v) {
                o.Picture = NonEmpty(v, "--picture needs a file name");
            } },
        { { "--quiet", false }, [](GenerateOptions& o, const std::string&) { o.Quiet = true; } },
        { { "--json", false }, [](GenerateOptions& o, const std::string&) { o.Json = true; } },
        { { "-j", true },
            [](GenerateOptions& o, const std::string& v) {
                const std::optional<int32_t> jobs = TryStrToInt(v);
                if (!jobs || *jobs < 1 || *jobs > kMaxJobs)
                    throw CliUsageError(
                        "-j expects a whole number from 1 to " + IntToStr(kMaxJobs) + ", not '" + v + "'");
                o.Jobs = *jobs;
            } },
        { { "--watch", false },
            [](GenerateOptions& o, const std::string&) {
                o.Watch = true;
                o.Settings.KeepUnchanged = true;
            } },
        { { "--strict", false },
            [](GenerateOptions& o, const std::string&) { o.Settings.WarningsAreErrors = true; } },
        { { "--alt-from-text", false },
            [](GenerateOptions& o, const std::string&) { o.AltFromText = true; } },
        { { "--threads", true },
            [](GenerateOptions& o, const std::string& v) {
                const std::optional<int32_t> threads = TryStrToInt(v);
                if (!threads || *threads < 1 || v.find_first_not_of("0123456789") != std::string::npos)
                    throw CliUsageError("--threads expects a whole number of at least 1, not '" + v + "'");
                o.Settings.Threads = *threads;
            } },
    };
    return table;
}

GenerateOptions GenerateOptionsFrom(const CliArguments& arguments)
{
    GenerateOptions options;
    options.Project = arguments.Positionals.at(0);
    for (const GenerateOption& option : GenerateOptionTable()) {
        const auto given = arguments.Options.find(option.Rule.Name);
        if (given != arguments.Options.end())
            option.Apply(options, given->second);
    }
    return options;
}

std::string ResolvedOutputFolder(const GenerateOptions& options)
{
    return options.Settings.OutputFolder.empty() ? ProjectFolder(options.Project)
                                                 : options.Settings.OutputFolder;
}

std::string ResolvedPageFileName(const GenerateOptions& options)
{
    const std::string& page = options.Settings.PageFileName;
    if (page.empty() || page.find(kPathSeparator) != std::string::npos)
        return page;
    return WithTrailingBackslash(ResolvedOutputFolder(options)) + page;
}

std::string ResolvedPictureFileName(const GenerateOptions& options)
{
    if (!options.Picture.empty())
        return options.Picture;
    return PictureOfProject(options, ReadProjectFile(options.Project, ""));
}

namespace {

struct TFileStamp {
    ino_t Inode = 0;
    struct timespec Modified { };
    bool operator==(const TFileStamp& other) const
    {
        return Inode == other.Inode && Modified.tv_sec == other.Modified.tv_sec
            && Modified.tv_nsec == other.Modified.tv_nsec;
    }
};

std::optional<TFileStamp> StampOf(const std::string& fileName)
{
    struct stat info { };
    if (fileName.empty() || ::stat(fileName.c_str(), &info) != 0)
        return std::nullopt;
    return TFileStamp { info.st_ino, info.st_mtim };
}

// The widest (or tallest) cell the stored lines cut from a picture of this
// extent; lines outside it are left out, as the run leaves them out.
int64_t LargestCell(const std::vector<TStoredLine>& lines, int64_t extent)
{
    std::vector<int64_t> cuts { 0, extent };
    for (const TStoredLine& line : lines)
        if (line.Position > 0 && line.Position < extent)
            cuts.push_back(line.Position);
    std::sort(cuts.begin(), cuts.end());
    int64_t largest = 0;
    for (size_t i = 1; i < cuts.size(); ++i)
        largest = std::max(largest, cuts[i] - cuts[i - 1]);
    return largest;
}

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point started)
{
    return std::chrono::duration<double>(TClock::now() - started).count();
}

} // namespace

TPreparedProject PrepareProject(const GenerateOptions& options, std::FILE* warnings)
{
    TPreparedProject prepared;
    // A project file that is not there would read as an empty project; on
    // the command line that is far more likely a mistyped name.
    TFileStream(options.Project, FileMode::OpenRead).Close();
    const TLoadedProject project = ReadProjectFile(options.Project, "");
    for (const std::string& warning : project.Warnings)
        Warn(options, warnings, warning);

    const std::string pictureFileName
        = options.Picture.empty() ? PictureOfProject(options, project) : options.Picture;
    if (pictureFileName.empty())
        throw Exception(Format("%s names no picture; give one with --picture", options.Project.c_str()));

    TGenerationSettings& settings = prepared.Settings;
    settings = options.Settings;
    TOutputValues output = project.Output.value_or(TOutputValues {});
    for (const auto& [key, value] : options.Output)
        output[key] = value;
    // The page and the folder the project keeps count unless --page or
    // --out name others.
    if (!options.Settings.PageFileName.empty()) {
        output.erase("WriteHtml");
        output.erase("PageFile");
    }
    if (!options.Settings.OutputFolder.empty())
        output.erase("OutputFolder");
    settings.CellFormat = CellFormatOf(output, options.Project + " [Output]");
    // A cell the run's format cannot hold is refused before the picture is
    // decoded, which for a picture at the pixel limit takes seconds.
    if (const std::optional<TPictureSize> size = TPicture::HeaderSize(pictureFileName))
        CheckCellWritable(settings.CellFormat.Type, LargestCell(project.Columns, size->Width),
            LargestCell(project.Rows, size->Height));

    // Before the picture: a vector design is drawn at the run's scale.
    ApplyRunValues(settings, output, options.Project + " [Output]");
    TPicture picture;
    picture.LoadFromFile(pictureFileName, PictureRenderOptions(settings));
    TBitmap& bitmap = *prepared.Picture;
    bitmap.Assign(*picture.Graphic());

    TGenerationInput& input = prepared.Input;
    input.Picture = &bitmap;
    input.ColumnCaptions
        = FittingCaptions(options, project.Columns, bitmap.Width(), "column", "width", warnings);
    input.RowCaptions = FittingCaptions(options, project.Rows, bitmap.Height(), "row", "height", warnings);
    input.PictureFileName = pictureFileName;
    input.Warnings = picture.Warnings();
    // The log that would carry them is dropped; warnings are not.
    if (options.Quiet && !options.Json)
        for (const std::string& warning : input.Warnings)
            std::fprintf(warnings, "slicewright-cli: warning: %s\n", warning.c_str());

    input.ProjectFileName = options.Project;

    input.TransparentColor = TransparentColorOf(output, options.Project + " [Output]");
    settings.ProjectName = ChangeFileExt(ExtractFileName(options.Project), "");
    settings.Cells = project.Cells;
    settings.MeasurePsnr = options.Json;
    TPngPicture& alpha = prepared.Alpha;
    if (settings.CellFormat.KeepAlpha) {
        alpha = PictureAlpha(options, pictureFileName, warnings);
        if (alpha.Width == bitmap.Width() && alpha.Height == bitmap.Height() && !alpha.Rgba.empty())
            input.Rgba = TPixelView { alpha.Rgba.data(), alpha.Width, alpha.Height,
                ptrdiff_t(alpha.Width) * 4, TPixelLayout::Rgba32 };
    }
    if (output.count("OutputFolder") != 0)
        settings.OutputFolder = PathOfProject(options.Project, settings.OutputFolder);
    else
        settings.OutputFolder = ResolvedOutputFolder(options);
    // With --out, the kept page goes there too, under its own name.
    if (output.count("PageFile") != 0 && !options.Settings.OutputFolder.empty())
        settings.PageFileName
            = WithTrailingBackslash(settings.OutputFolder) + ExtractFileName(settings.PageFileName);
    else if (output.count("PageFile") != 0)
        settings.PageFileName = PathOfProject(options.Project, settings.PageFileName);
    else
        settings.PageFileName = ResolvedPageFileName(options);
    prepared.MakeOutputFolder = !options.Settings.OutputFolder.empty() || output.count("OutputFolder") != 0;
    return prepared;
}

namespace {

// summarised tells whether a JSON run's summary was printed when it failed.
void GenerateProject(const GenerateOptions& options, std::FILE* log, std::FILE* warnings, TProgressBar* bar,
    TClock::time_point started, bool& summarised)
{
    TPreparedProject prepared = PrepareProject(options, warnings);
    const TGenerationInput& input = prepared.Input;
    TGenerationSettings& settings = prepared.Settings;
    if (prepared.MakeOutputFolder)
        CreateFolder(settings.OutputFolder);

    TStopSignals stopSignals;
    if (!options.Json) {
        TConsoleSink sink(options.Quiet ? nullptr : log, bar);
        if (options.AltFromText)
            ProposeAlts(input, settings, sink);
        RunGeneration(input, settings, sink);
        if (sink.LogFailed())
            throw EWriteError("Cannot write the log to standard output");
        return;
    }
    TJsonSink sink(log, bar, options.Project, settings, !input.ColumnCaptions.empty());
    const std::optional<TFileStamp> pageBefore
        = settings.WriteHTML ? StampOf(settings.PageFileName) : std::nullopt;
    try {
        if (options.AltFromText)
            ProposeAlts(input, settings, sink);
        RunGeneration(input, settings, sink);
    } catch (const std::exception& e) {
        sink.Summary(SecondsSince(started), WithFullStop(e.what()));
        summarised = true;
        throw;
    }
    const std::string page = settings.WriteHTML ? settings.PageFileName : std::string();
    sink.Finish(page, pageBefore && pageBefore == StampOf(page));
    sink.Summary(SecondsSince(started), "");
    if (sink.LogFailed())
        throw EWriteError("Cannot write the log to standard output");
}

// A JSON run that fails before it began still ends in its summary line.
void Generate(const GenerateOptions& options, std::FILE* log, std::FILE* warnings, TProgressBar* bar)
{
    const TClock::time_point started = TClock::now();
    bool summarised = false;
    try {
        GenerateProject(options, log, warnings, bar, started, summarised);
    } catch (const std::exception& e) {
        if (options.Json && !summarised)
            TJsonSink(log, nullptr, options.Project, options.Settings, false)
                .Summary(SecondsSince(started), WithFullStop(e.what()));
        throw;
    }
}

// One project's output caught whole, to be printed in its turn.
class TCaughtOutput {
public:
    TCaughtOutput()
        : m_out(::open_memstream(&m_outText, &m_outSize))
        , m_err(::open_memstream(&m_errText, &m_errSize))
    {
        if (!m_out || !m_err)
            throw std::bad_alloc();
    }
    ~TCaughtOutput()
    {
        Close();
        std::free(m_outText);
        std::free(m_errText);
    }
    TCaughtOutput(const TCaughtOutput&) = delete;
    TCaughtOutput& operator=(const TCaughtOutput&) = delete;

    std::FILE* Out() { return m_out; }
    std::FILE* Err() { return m_err; }
    void Close()
    {
        if (m_out)
            std::fclose(m_out);
        if (m_err)
            std::fclose(m_err);
        m_out = m_err = nullptr;
    }
    std::string_view OutText() const { return { m_outText ? m_outText : "", m_outSize }; }
    std::string_view ErrText() const { return { m_errText ? m_errText : "", m_errSize }; }

private:
    char* m_outText = nullptr;
    size_t m_outSize = 0;
    char* m_errText = nullptr;
    size_t m_errSize = 0;
    std::FILE* m_out;
    std::FILE* m_err;
};

struct TRunResult {
    std::unique_ptr<TCaughtOutput> Output;
    std::string Error; // empty when the project was generated
};

TRunResult GenerateCaught(const GenerateOptions& options, TProgressBar* bar)
{
    TRunResult result { std::make_unique<TCaughtOutput>(), {} };
    try {
        Generate(options, result.Output->Out(), result.Output->Err(), bar);
    } catch (const std::exception& e) {
        result.Error = options.Project + ": " + WithFullStop(e.what());
    }
    result.Output->Close();
    return result;
}

} // namespace

void RunGenerate(const GenerateOptions& options, std::FILE* log, std::FILE* warnings, std::FILE* progress)
{
    TProgressBar bar(options.Quiet ? nullptr : progress);
    Generate(options, log, warnings, progress && !options.Quiet ? &bar : nullptr);
}

std::vector<GenerateOptions> GenerateRunsFrom(const CliArguments& arguments)
{
    std::vector<GenerateOptions> runs;
    for (const std::string& project : arguments.Positionals) {
        CliArguments one = arguments;
        one.Positionals = { project };
        runs.push_back(GenerateOptionsFrom(one));
    }
    if (runs.size() < 2)
        return runs;
    if (!runs[0].Picture.empty())
        throw CliUsageError("--picture is for one project only");
    const std::string& page = runs[0].Settings.PageFileName;
    if (page.find(kPathSeparator) != std::string::npos)
        throw CliUsageError("with several projects --page names a file without a folder, not '" + page + "'");
    std::set<std::string> folders;
    for (GenerateOptions& run : runs) {
        if (!run.Settings.OutputFolder.empty())
            run.Settings.OutputFolder = WithTrailingBackslash(run.Settings.OutputFolder)
                + ChangeFileExt(ExtractFileName(run.Project), "");
        const std::string folder
            = std::filesystem::absolute(ResolvedOutputFolder(run)).lexically_normal().string();
        if (folders.insert(WithTrailingBackslash(folder)).second)
            continue;
        if (!run.Settings.OutputFolder.empty())
            throw CliUsageError(run.Project + " has the name of another project, and --out puts each project "
                + "in a subfolder named after it (" + folder + ")");
        throw CliUsageError(run.Project + " would write into the same folder as another project (" + folder
            + "); give --out to put each project in a subfolder named after it");
    }
    return runs;
}

int RunGenerateAll(
    const std::vector<GenerateOptions>& runs, std::FILE* out, std::FILE* err, std::FILE* progress)
{
    if (runs.empty())
        return 0;
    const bool quiet = runs[0].Quiet;
    TStopSignals stopSignals;
    if (runs.size() == 1) {
        RunGenerate(runs[0], out, err, progress);
        return 0;
    }
    TProgressBar bar(quiet ? nullptr : progress);
    TProgressBar* shown = progress && !quiet ? &bar : nullptr;
    const size_t workers = std::min(runs.size(), size_t(std::max(runs[0].Jobs, 1)));
    std::vector<std::optional<TRunResult>> results(runs.size());
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<size_t> next { 0 };
    std::vector<std::jthread> threads;
    for (size_t w = 0; w < workers; ++w)
        threads.emplace_back([&] {
            for (size_t k = next++; k < runs.size() && !TStopSignals::Stopped(); k = next++) {
                TRunResult result = GenerateCaught(runs[k], shown);
                const std::lock_guard lock(mutex);
                results[k] = std::move(result);
                finished.notify_all();
            }
        });
    int status = 0;
    bool printFailed = false;
    for (size_t k = 0; k < runs.size(); ++k) {
        std::unique_lock lock(mutex);
        // A signal does not wake the wait, so it looks now and then.
        while (!finished.wait_for(lock, std::chrono::milliseconds(100),
            [&] { return results[k].has_value() || TStopSignals::Stopped(); })) { }
        if (!results[k]) {
            // Stopped: the runs under way end at their next piece.
            lock.unlock();
            threads.clear();
            lock.lock();
            if (!results[k]) {
                bar.Print(err,
                    WithFullStop(WithDetail("Stopped by a signal", ::strsignal(TStopSignals::Signal())))
                        + "\n");
                return 1;
            }
        }
        const TRunResult& result = *results[k];
        lock.unlock();
        if (!bar.Print(out, result.Output->OutText()))
            printFailed = true;
        bar.Print(err, result.Output->ErrText());
        if (!result.Error.empty()) {
            bar.Print(err, result.Error + "\n");
            status = 1;
        }
    }
    threads.clear();
    if (printFailed)
        throw EWriteError("Cannot write the log to standard output");
    return status;
}

} // namespace sw::cli
