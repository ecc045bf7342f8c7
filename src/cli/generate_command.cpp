#include "cli/generate_command.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"
#include "core/generate/slicing_pipeline.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/picture.h"
#include "core/project/cut_lines.h"
#include "core/project/project_file.h"

#include <algorithm>
#include <utility>

namespace sw::cli {

namespace {

std::string OptionOr(const CliArguments& arguments, const std::string& option, const std::string& fallback)
{
    const auto found = arguments.Options.find(option);
    return found == arguments.Options.end() ? fallback : found->second;
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
    void ProcessMessages() override { }
    void Beep() override { }
    void Progress(int done, int total) override
    {
        m_done = done;
        m_total = total;
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

GenerateOptions GenerateOptionsFrom(const CliArguments& arguments)
{
    GenerateOptions options;
    options.Project = arguments.Positionals.at(0);
    options.OutputFolder = OptionOr(arguments, "--out", "");
    if (arguments.Has("--out") && options.OutputFolder.empty())
        throw CliUsageError("--out needs a folder name");

    const std::string type = OptionOr(arguments, "--type", "gif");
    if (type == "gif")
        options.ImageType = 0;
    else if (type == "jpg")
        options.ImageType = 1;
    else if (type == "jpeg")
        options.ImageType = 2;
    else
        throw CliUsageError("--type expects gif, jpg or jpeg, not '" + type + "'");

    options.PageFileName = OptionOr(arguments, "--page", "");
    if (arguments.Has("--page") && options.PageFileName.empty())
        throw CliUsageError("--page needs a file name");
    options.Description = OptionOr(arguments, "--description", options.Description);
    options.KeepTemp = arguments.Has("--keep-temp");
    if (arguments.Has("--transparent"))
        options.Transparent = ParseHexColor(arguments.Options.at("--transparent"), "--transparent");
    options.Picture = OptionOr(arguments, "--picture", "");
    if (arguments.Has("--picture") && options.Picture.empty())
        throw CliUsageError("--picture needs a file name");
    return options;
}

std::string ResolvedOutputFolder(const GenerateOptions& options)
{
    return options.OutputFolder.empty() ? ProjectFolder(options.Project) : options.OutputFolder;
}

std::string ResolvedPageFileName(const GenerateOptions& options)
{
    if (options.PageFileName.empty() || options.PageFileName.find(kPathSeparator) != std::string::npos)
        return options.PageFileName;
    return WithTrailingBackslash(ResolvedOutputFolder(options)) + options.PageFileName;
}

void RunGenerate(const GenerateOptions& options, std::FILE* log, std::FILE* warnings, std::FILE* progress)
{
    // A project file that is not there would read as an empty project; on
    // the command line that is far more likely a mistyped name.
    if (!FileExists(options.Project))
        throw EFOpenError(Format("Cannot open file %s", options.Project.c_str()));
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

    TGenerationSettings settings;
    settings.OutputFolder = ResolvedOutputFolder(options);
    settings.WriteHTML = !options.PageFileName.empty();
    settings.PageFileName = ResolvedPageFileName(options);
    settings.Description = options.Description;
    settings.ImageType = options.ImageType;
    settings.DeleteTemp = !options.KeepTemp;

    TConsoleSink sink(log, progress);
    RunGeneration(input, settings, sink);
    if (sink.LogFailed())
        throw EWriteError("Cannot write the log to standard output");
}

} // namespace sw::cli
