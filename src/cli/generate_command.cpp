#include "cli/generate_command.h"

#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/base/sysutils.h"
#include "core/generate/slicing_pipeline.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/picture.h"
#include "core/imaging/png/png_reader.h"
#include "core/project/cut_lines.h"
#include "core/project/project_file.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <utility>

namespace sw::cli {

namespace {

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
TPngPicture PictureAlpha(const std::string& pictureFileName, std::FILE* warnings)
{
    TMemoryStream bytes;
    {
        TFileStream file(pictureFileName, FileMode::OpenRead);
        bytes.CopyFrom(file, 0);
    }
    if (!IsPngSignature(bytes.Bytes())) {
        std::fprintf(warnings,
            "slicewright-cli: warning: alpha is kept from PNG pictures only; %s is not one\n",
            pictureFileName.c_str());
        return {};
    }
    return ReadPng(bytes.Bytes());
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
std::vector<std::string> FittingCaptions(const std::vector<TStoredLine>& stored, int extent, const char* kind,
    const char* dimension, std::FILE* warnings)
{
    TCutLines lines;
    lines.reserve(stored.size());
    for (const TStoredLine& line : stored) {
        if (IsInsideGrid(line.Position, extent))
            lines.push_back({ IntToStr(line.Position), line.Checked });
        else
            std::fprintf(warnings,
                "slicewright-cli: warning: %s line at %d ignored: the picture's %s is %d, so a line must "
                "lie in 1 to %d\n",
                kind, static_cast<int>(line.Position), dimension, extent, extent - 1);
    }
    // One sort for the whole list: inserting line by line took seconds for
    // a project of many thousand lines.
    SortCutLines(lines);
    std::vector<std::string> captions;
    for (TCutLineEntry& line : lines)
        captions.push_back(std::move(line.Caption));
    return captions;
}

volatile std::sig_atomic_t g_stopSignal = 0;

extern "C" void NoteStopSignal(int signal)
{
    g_stopSignal = signal;
}

// Ctrl-C or a plain kill ends the run at its next piece, which then removes
// what it wrote instead of leaving strips and temporary files behind; a
// second one ends the program at once. A signal the caller ignores (nohup)
// stays ignored.
class TStopSignals {
public:
    TStopSignals()
    {
        g_stopSignal = 0;
        struct sigaction note { };
        note.sa_handler = NoteStopSignal;
        note.sa_flags = SA_RESETHAND;
        sigemptyset(&note.sa_mask);
        for (size_t i = 0; i < std::size(kSignals); ++i) {
            m_installed[i] = ::sigaction(kSignals[i], nullptr, &m_previous[i]) == 0
                && m_previous[i].sa_handler != SIG_IGN && ::sigaction(kSignals[i], &note, nullptr) == 0;
        }
    }
    ~TStopSignals()
    {
        for (size_t i = 0; i < std::size(kSignals); ++i)
            if (m_installed[i])
                ::sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    static void ThrowIfStopped()
    {
        if (const int signal = g_stopSignal)
            throw EAbort(WithDetail("Stopped by a signal", ::strsignal(signal)));
    }

private:
    static constexpr int kSignals[] = { SIGINT, SIGTERM, SIGHUP };
    struct sigaction m_previous[std::size(kSignals)] {};
    bool m_installed[std::size(kSignals)] {};
};

class TConsoleSink final : public IGenerationSink {
public:
    TConsoleSink(std::FILE* log, std::FILE* progress)
        : m_log(log)
        , m_progress(progress)
    { }
    ~TConsoleSink() override { ClearBar(); }
    TConsoleSink(const TConsoleSink&) = delete;
    TConsoleSink& operator=(const TConsoleSink&) = delete;

    void LogLine(const std::string& line) override
    {
        ClearBar();
        if (std::fprintf(m_log, "%s\n", line.c_str()) < 0 || std::fflush(m_log) != 0)
            m_logFailed = true;
        DrawBar();
    }
    // A log that did not reach its reader (a full disk, a closed pipe) makes
    // the run count as failed even though its files were written.
    bool LogFailed() const { return m_logFailed; }

    void RowFileAdded(const std::string&) override { }
    void FileFinished(const std::string&) override { }
    void ProcessMessages() override { TStopSignals::ThrowIfStopped(); }
    void Beep() override { }
    void Progress(const TGenerationCounts& counts) override
    {
        TStopSignals::ThrowIfStopped();
        m_done = counts.Done();
        m_total = counts.Total;
        DrawBar();
    }

private:
    void DrawBar()
    {
        if (!m_progress || m_total <= 0)
            return;
        constexpr int kBarWidth = 30;
        const int filled = static_cast<int>(int64_t(kBarWidth) * std::clamp(m_done, 0, m_total) / m_total);
        std::fprintf(m_progress, "\r[%s%s] %d/%d cells",
            std::string(static_cast<size_t>(filled), '#').c_str(),
            std::string(static_cast<size_t>(kBarWidth - filled), '.').c_str(), m_done, m_total);
        std::fflush(m_progress);
        m_barShown = true;
    }
    void ClearBar()
    {
        if (!m_barShown)
            return;
        std::fputs("\r\033[K", m_progress);
        std::fflush(m_progress);
        m_barShown = false;
    }

    std::FILE* m_log;
    std::FILE* m_progress;
    int m_done = 0;
    int m_total = 0;
    bool m_barShown = false;
    bool m_logFailed = false;
};

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
            [](GenerateOptions& o, const std::string& v) {
                o.Settings.BaseUrl = NonEmpty(v, "--base-url needs an address");
            } },
        { { "--scale", true },
            [](GenerateOptions& o, const std::string& v) { SetOutputValue(o, "Scale", "--scale", v); } },
        { { "--also-1x", false },
            [](GenerateOptions& o, const std::string&) { o.Settings.AlsoHalfSize = true; } },
        { { "--auto-fill", false },
            [](GenerateOptions& o, const std::string&) { o.Settings.AutoFill = true; } },
        { { "--description", true },
            [](GenerateOptions& o, const std::string& v) { o.Settings.Description = v; } },
        { { "--keep-temp", false },
            [](GenerateOptions& o, const std::string&) { o.Settings.DeleteTemp = false; } },
        { { "--transparent", true },
            [](GenerateOptions& o, const std::string& v) {
                o.Transparent = ParseHexColor(v, "--transparent");
            } },
        { { "--picture", true },
            [](GenerateOptions& o, const std::string& v) {
                o.Picture = NonEmpty(v, "--picture needs a file name");
            } },
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

void RunGenerate(const GenerateOptions& options, std::FILE* log, std::FILE* warnings, std::FILE* progress)
{
    // A project file that is not there would read as an empty project; on
    // the command line that is far more likely a mistyped name.
    TFileStream(options.Project, FileMode::OpenRead).Close();
    const TLoadedProject project = ReadProjectFile(options.Project, "");

    std::string pictureFileName = options.Picture;
    if (pictureFileName.empty()) {
        pictureFileName = project.PictureFileName;
        if (pictureFileName.empty())
            throw Exception(Format("%s names no picture; give one with --picture", options.Project.c_str()));
        pictureFileName = PicturePathOfProject(options.Project, pictureFileName);
    }

    TPicture picture;
    picture.LoadFromFile(pictureFileName);
    TBitmap bitmap;
    bitmap.Assign(*picture.Graphic());

    TGenerationInput input;
    input.Picture = &bitmap;
    input.ColumnCaptions = FittingCaptions(project.Columns, bitmap.Width(), "column", "width", warnings);
    input.RowCaptions = FittingCaptions(project.Rows, bitmap.Height(), "row", "height", warnings);
    input.TransparentColor = options.Transparent;
    input.PictureFileName = pictureFileName;

    TGenerationSettings settings = options.Settings;
    TOutputValues output = project.Output.value_or(TOutputValues {});
    for (const auto& [key, value] : options.Output)
        output[key] = value;
    settings.CellFormat = CellFormatOf(output, options.Project + " [Output]");
    ApplyRunValues(settings, output, options.Project + " [Output]");
    settings.ProjectName = ChangeFileExt(ExtractFileName(options.Project), "");
    settings.Cells = project.Cells;
    TPngPicture alpha;
    if (settings.CellFormat.KeepAlpha) {
        alpha = PictureAlpha(pictureFileName, warnings);
        if (alpha.Width == bitmap.Width() && alpha.Height == bitmap.Height() && !alpha.Rgba.empty())
            input.Rgba = TPixelView { alpha.Rgba.data(), alpha.Width, alpha.Height,
                ptrdiff_t(alpha.Width) * 4, TPixelLayout::Rgba32 };
    }
    settings.OutputFolder = ResolvedOutputFolder(options);
    settings.PageFileName = ResolvedPageFileName(options);
    if (!options.Settings.OutputFolder.empty())
        CreateFolder(settings.OutputFolder);

    TStopSignals stopSignals;
    TConsoleSink sink(log, progress);
    RunGeneration(input, settings, sink);
    if (sink.LogFailed())
        throw EWriteError("Cannot write the log to standard output");
}

} // namespace sw::cli
