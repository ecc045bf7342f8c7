#include "cli/generate_command.h"

#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/base/sysutils.h"
#include "core/generate/cell_writer.h"
#include "core/generate/slicing_pipeline.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/picture.h"
#include "core/imaging/png/png_reader.h"
#include "core/project/cell_properties.h"
#include "core/project/cut_lines.h"
#include "core/project/project_file.h"

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
constexpr int kStopSignals[] = { SIGINT, SIGTERM, SIGHUP };
std::atomic<bool> g_stopSignalsInstalled { false };

extern "C" void NoteStopSignal(int signal)
{
    g_stopSignal = signal;
}

// A bar of cells done of all, with the file last written, redrawn in place
// on a terminal. Several projects at once share one bar that counts them
// all; a run's log lines and finished projects' output clear it first.
class TProgressBar {
public:
    explicit TProgressBar(std::FILE* terminal)
        : m_terminal(terminal)
    { }
    ~TProgressBar() { Clear(); }
    TProgressBar(const TProgressBar&) = delete;
    TProgressBar& operator=(const TProgressBar&) = delete;

    size_t AddRun()
    {
        const std::lock_guard lock(m_mutex);
        m_runs.emplace_back();
        return m_runs.size() - 1;
    }
    void Update(size_t run, const TGenerationCounts& counts)
    {
        const std::lock_guard lock(m_mutex);
        m_runs.at(run) = { counts.Done(), counts.Total };
        DrawLocked();
    }
    void SetFile(const std::string& fileName)
    {
        const std::lock_guard lock(m_mutex);
        m_file = ExtractFileName(fileName);
        DrawLocked();
    }
    // Writes text to where with the bar out of its way.
    bool Print(std::FILE* where, std::string_view text)
    {
        const std::lock_guard lock(m_mutex);
        ClearLocked();
        const bool written
            = std::fwrite(text.data(), 1, text.size(), where) == text.size() && std::fflush(where) == 0;
        DrawLocked();
        return written;
    }
    void Clear()
    {
        const std::lock_guard lock(m_mutex);
        ClearLocked();
    }

private:
    void DrawLocked()
    {
        if (!m_terminal)
            return;
        int64_t done = 0;
        int64_t total = 0;
        for (const auto& [runDone, runTotal] : m_runs) {
            done += std::clamp(runDone, 0, runTotal);
            total += runTotal;
        }
        if (total <= 0)
            return;
        constexpr int kBarWidth = 30;
        // The end of a long name, so the line fits a narrow terminal.
        constexpr size_t kNameWidth = 32;
        const int filled = static_cast<int>(kBarWidth * done / total);
        const std::string name
            = m_file.size() > kNameWidth ? "..." + m_file.substr(m_file.size() - kNameWidth + 3) : m_file;
        std::fprintf(m_terminal, "\r[%s%s] %lld/%lld cells%s%s\033[K",
            std::string(static_cast<size_t>(filled), '#').c_str(),
            std::string(static_cast<size_t>(kBarWidth - filled), '.').c_str(), static_cast<long long>(done),
            static_cast<long long>(total), name.empty() ? "" : "  ", name.c_str());
        std::fflush(m_terminal);
        m_shown = true;
    }
    void ClearLocked()
    {
        if (!m_shown)
            return;
        std::fputs("\r\033[K", m_terminal);
        std::fflush(m_terminal);
        m_shown = false;
    }

    std::mutex m_mutex;
    std::FILE* m_terminal;
    std::vector<std::pair<int, int>> m_runs;
    std::string m_file;
    bool m_shown = false;
};

// The sink both reports share: stop signals, progress, and a log whose
// failure to reach its reader (a full disk, a closed pipe) makes the run
// count as failed even though its files were written.
class TRunSink : public IGenerationSink {
public:
    TRunSink(std::FILE* log, TProgressBar* bar)
        : m_log(log)
        , m_bar(bar)
        , m_slot(bar ? bar->AddRun() : 0)
    { }

    bool LogFailed() const { return m_logFailed; }
    void RowFileAdded(const std::string&) override { }
    void FileFinished(const std::string&) override { }
    void ProcessMessages() override { TStopSignals::ThrowIfStopped(); }
    void Beep() override { }
    void Progress(const TGenerationCounts& counts) override
    {
        TStopSignals::ThrowIfStopped();
        if (m_bar)
            m_bar->Update(m_slot, counts);
    }
    void CellFileWritten(const TCellFileReport& report) override
    {
        if (m_bar)
            m_bar->SetFile(report.FileName);
    }

protected:
    void Write(const std::string& text)
    {
        if (!m_log)
            return;
        const bool written = m_bar
            ? m_bar->Print(m_log, text)
            : std::fwrite(text.data(), 1, text.size(), m_log) == text.size() && std::fflush(m_log) == 0;
        if (!written)
            m_logFailed = true;
    }

private:
    std::FILE* m_log;
    TProgressBar* m_bar;
    size_t m_slot;
    bool m_logFailed = false;
};

class TConsoleSink final : public TRunSink {
public:
    using TRunSink::TRunSink;
    void LogLine(const std::string& line) override { Write(line + "\n"); }
};

// Text as a JSON string. A byte that is not part of well-formed UTF-8
// becomes the lone surrogate \udcXX, XX its value, so that any file name
// comes out the same every time and a reader can get its bytes back
// (Python's surrogateescape reads it so).
std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<uint8_t>(text[i]);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
            ++i;
            continue;
        }
        if (byte < 0x20 || byte == 0x7F) {
            static const std::map<uint8_t, const char*> kShort
                = { { '\b', "\\b" }, { '\f', "\\f" }, { '\n', "\\n" }, { '\r', "\\r" }, { '\t', "\\t" } };
            const auto found = kShort.find(byte);
            out += found != kShort.end() ? std::string(found->second) : Format("\\u%04x", byte);
            ++i;
            continue;
        }
        // The length of a well-formed sequence starting here, 0 if none.
        size_t length = 0;
        if (byte < 0x80)
            length = 1;
        else if (byte >= 0xC2 && byte <= 0xDF)
            length = 2;
        else if (byte >= 0xE0 && byte <= 0xEF)
            length = 3;
        else if (byte >= 0xF0 && byte <= 0xF4)
            length = 4;
        if (length > 1) {
            const auto at = [&](size_t k) { return static_cast<uint8_t>(text[i + k]); };
            bool valid = i + length <= text.size();
            for (size_t k = 1; valid && k < length; ++k)
                valid = (at(k) & 0xC0) == 0x80;
            // No overlong forms, surrogates or code points past U+10FFFF.
            if (valid && byte == 0xE0)
                valid = at(1) >= 0xA0;
            if (valid && byte == 0xED)
                valid = at(1) < 0xA0;
            if (valid && byte == 0xF0)
                valid = at(1) >= 0x90;
            if (valid && byte == 0xF4)
                valid = at(1) < 0x90;
            if (!valid)
                length = 0;
        }
        if (length == 0) {
            out += Format("\\udc%02x", byte);
            ++i;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out + "\"";
}

std::string JsonNumber(double value)
{
    return Format("%.2f", value);
}

// One JSON object per line: a run's files, pieces and summary, each line
// naming the project. Log lines that carry no fact about a file are left
// out; the facts come from the pipeline's cell reports and its fixed
// "Skipped" and "Filled" lines.
class TJsonSink final : public TRunSink {
public:
    TJsonSink(std::FILE* out, TProgressBar* bar, std::string project, const TGenerationSettings& settings,
        size_t rows, size_t columns)
        : TRunSink(out, bar)
        , m_project(std::move(project))
        , m_settings(settings)
        , m_rows(rows)
        , m_columns(columns)
    { }

    void LogLine(const std::string& line) override
    {
        static constexpr std::string_view kSkipped = "Skipped ";
        static constexpr std::string_view kFilled = "Filled ";
        static constexpr std::string_view kColour = " with its one colour ";
        if (line.size() > kSkipped.size() + 1 && line.starts_with(kSkipped) && line.ends_with('.')) {
            // The reason never holds ": ", a name may.
            const std::string body = line.substr(kSkipped.size(), line.size() - kSkipped.size() - 1);
            const size_t colon = body.rfind(": ");
            if (colon != std::string::npos) {
                ++m_skipped;
                Emit("\"skipped\":" + JsonString(body.substr(0, colon))
                    + ",\"reason\":" + JsonString(body.substr(colon + 2)));
            }
        } else if (line.starts_with(kFilled) && line.ends_with('.')) {
            const size_t colour = line.rfind(kColour);
            if (colour != std::string::npos && colour > kFilled.size()) {
                const std::string name = line.substr(kFilled.size(), colour - kFilled.size());
                const std::string hex = line.substr(colour + kColour.size(), 6);
                Emit("\"no_image\":" + JsonString(name) + CellFields(name)
                    + ",\"why\":\"auto-fill\",\"color\":" + JsonString(hex));
            }
        }
    }

    void CellFileWritten(const TCellFileReport& report) override
    {
        TRunSink::CellFileWritten(report);
        std::string stem = ChangeFileExt(ExtractFileName(report.FileName), "");
        bool half = false;
        if (m_settings.AlsoHalfSize && !CellOf(stem) && stem.ends_with("@1x")) {
            stem.resize(stem.size() - 3);
            half = true;
        }
        std::string line = "\"file\":" + JsonString(report.FileName) + CellFields(stem);
        if (half)
            line += ",\"half\":true";
        line += ",\"format\":" + JsonString(ImageTypeName(report.Type))
            + ",\"bytes\":" + IntToStr(int64_t(report.Bytes));
        if (report.Psnr)
            line += ",\"psnr\":" + JsonNumber(*report.Psnr);
        if (report.Unchanged) {
            line += ",\"unchanged\":true";
            ++m_unchanged;
        }
        m_bytes += report.Bytes;
        ++m_files;
        Emit(line);
    }

    // The cells the project leaves without an image, in cell order, and the
    // page; called once the run has checked the project's cells.
    void Finish(const std::string& pageFileName, bool pageUnchanged)
    {
        for (const auto& [cell, properties] : m_settings.Cells) {
            if (!properties.HasImage()) {
                const std::string why = properties.Skip ? "skip" : "fill";
                std::string line
                    = "\"no_image\":" + JsonString(NameOf(cell)) + Fields(cell) + ",\"why\":\"" + why + "\"";
                if (properties.Fill == TCellFill::Color)
                    line += ",\"color\":"
                        + JsonString(Format("%02X%02X%02X", GetRValue(properties.FillColor),
                            GetGValue(properties.FillColor), GetBValue(properties.FillColor)));
                Emit(line);
            }
            for (int row = cell.Row; row < cell.Row + properties.SpanRows; ++row)
                for (int column = cell.Column; column < cell.Column + properties.SpanColumns; ++column)
                    if (row != cell.Row || column != cell.Column)
                        Emit("\"no_image\":" + JsonString(NameOf({ row, column })) + Fields({ row, column })
                            + ",\"why\":\"covered\",\"by\":" + JsonString(NameOf(cell)));
        }
        if (!pageFileName.empty()) {
            struct stat info { };
            const int64_t bytes = ::stat(pageFileName.c_str(), &info) == 0 ? int64_t(info.st_size) : 0;
            m_bytes += uint64_t(bytes);
            Emit("\"page\":" + JsonString(pageFileName) + ",\"bytes\":" + IntToStr(bytes)
                + (pageUnchanged ? ",\"unchanged\":true" : ""));
        }
    }

    void Summary(const TGenerationCounts& counts, double seconds, const std::string& error)
    {
        std::string line = "\"summary\":true,\"ok\":" + std::string(error.empty() ? "true" : "false");
        if (!error.empty())
            line += ",\"error\":" + JsonString(error);
        line += ",\"cells\":" + IntToStr(counts.Total) + ",\"written\":" + IntToStr(counts.Written)
            + ",\"skipped\":" + IntToStr(counts.Skipped)
            + ",\"without_image\":" + IntToStr(counts.WithoutImage) + ",\"files\":" + IntToStr(m_files)
            + ",\"unchanged\":" + IntToStr(m_unchanged) + ",\"pieces_skipped\":" + IntToStr(m_skipped)
            + ",\"bytes\":" + IntToStr(int64_t(m_bytes)) + ",\"seconds\":" + Format("%.3f", seconds);
        Emit(line);
    }

private:
    void Emit(const std::string& fields)
    {
        Write("{\"project\":" + JsonString(m_project) + "," + fields + "}\n");
    }

    std::string NameTemplate() const
    {
        if (!m_settings.NameTemplate.empty())
            return m_settings.NameTemplate;
        return m_columns == 1 ? std::string("r{row}") : std::string(kDefaultNameTemplate);
    }
    std::string NameOf(TCellRef cell) const
    {
        return CellBaseName(m_settings.Cells, NameTemplate(), m_settings.ProjectName, cell);
    }
    // Built on first use, when the run has checked every name.
    const TCellRef* CellOf(const std::string& name)
    {
        if (!m_names) {
            m_names.emplace();
            for (size_t row = 1; row <= m_rows; ++row)
                for (size_t column = 1; column <= m_columns; ++column) {
                    const TCellRef cell { static_cast<int>(row), static_cast<int>(column) };
                    if (m_settings.Cells.empty() || CoveringCell(m_settings.Cells, cell) == cell)
                        m_names->emplace(NameOf(cell), cell);
                }
        }
        const auto found = m_names->find(name);
        return found == m_names->end() ? nullptr : &found->second;
    }
    std::string Fields(TCellRef cell) const
    {
        std::string fields = ",\"row\":" + IntToStr(cell.Row) + ",\"col\":" + IntToStr(cell.Column);
        const auto found = m_settings.Cells.find(cell);
        if (found != m_settings.Cells.end() && found->second.Spans())
            fields += ",\"rowspan\":" + IntToStr(found->second.SpanRows)
                + ",\"colspan\":" + IntToStr(found->second.SpanColumns);
        return fields;
    }
    std::string CellFields(const std::string& name)
    {
        const TCellRef* cell = CellOf(name);
        return cell ? Fields(*cell) : std::string();
    }

    std::string m_project;
    const TGenerationSettings& m_settings;
    size_t m_rows;
    size_t m_columns;
    std::optional<std::unordered_map<std::string, TCellRef>> m_names;
    uint64_t m_bytes = 0;
    int m_files = 0;
    int m_unchanged = 0;
    int m_skipped = 0;
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
                SetOutputValue(o, "BaseUrl", "--base-url", NonEmpty(v, "--base-url needs an address"));
            } },
        { { "--scale", true },
            [](GenerateOptions& o, const std::string& v) { SetOutputValue(o, "Scale", "--scale", v); } },
        { { "--also-1x", false },
            [](GenerateOptions& o, const std::string&) {
                SetOutputValue(o, "AlsoHalfSize", "--also-1x", "1");
            } },
        { { "--auto-fill", false },
            [](GenerateOptions& o, const std::string&) {
                SetOutputValue(o, "AutoFill", "--auto-fill", "1");
            } },
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

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point started)
{
    return std::chrono::duration<double>(TClock::now() - started).count();
}

// summarised tells whether a JSON run's summary was printed when it failed.
void GenerateProject(const GenerateOptions& options, std::FILE* log, std::FILE* warnings, TProgressBar* bar,
    TClock::time_point started, bool& summarised)
{
    // A project file that is not there would read as an empty project; on
    // the command line that is far more likely a mistyped name.
    TFileStream(options.Project, FileMode::OpenRead).Close();
    const TLoadedProject project = ReadProjectFile(options.Project, "");

    const std::string pictureFileName
        = options.Picture.empty() ? PictureOfProject(options, project) : options.Picture;
    if (pictureFileName.empty())
        throw Exception(Format("%s names no picture; give one with --picture", options.Project.c_str()));

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
    settings.MeasurePsnr = options.Json;
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
    if (!options.Json) {
        TConsoleSink sink(options.Quiet ? nullptr : log, bar);
        RunGeneration(input, settings, sink);
        if (sink.LogFailed())
            throw EWriteError("Cannot write the log to standard output");
        return;
    }
    TJsonSink sink(
        log, bar, options.Project, settings, input.RowCaptions.size() + 1, input.ColumnCaptions.size() + 1);
    const std::optional<TFileStamp> pageBefore
        = settings.WriteHTML ? StampOf(settings.PageFileName) : std::nullopt;
    TGenerationCounts counts;
    try {
        counts = RunGeneration(input, settings, sink);
    } catch (const std::exception& e) {
        sink.Summary(counts, SecondsSince(started), WithFullStop(e.what()));
        summarised = true;
        throw;
    }
    const std::string page = settings.WriteHTML ? settings.PageFileName : std::string();
    sink.Finish(page, pageBefore && pageBefore == StampOf(page));
    sink.Summary(counts, SecondsSince(started), "");
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
            TJsonSink(log, nullptr, options.Project, options.Settings, 1, 1)
                .Summary({}, SecondsSince(started), WithFullStop(e.what()));
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
                bar.Print(
                    err, WithFullStop(WithDetail("Stopped by a signal", ::strsignal(g_stopSignal))) + "\n");
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

TStopSignals::TStopSignals()
{
    if (g_stopSignalsInstalled.exchange(true))
        return;
    m_outermost = true;
    g_stopSignal = 0;
    struct sigaction note { };
    note.sa_handler = NoteStopSignal;
    note.sa_flags = SA_RESETHAND;
    sigemptyset(&note.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) {
        m_installed[i] = ::sigaction(kStopSignals[i], nullptr, &m_previous[i]) == 0
            && m_previous[i].sa_handler != SIG_IGN && ::sigaction(kStopSignals[i], &note, nullptr) == 0;
    }
}

TStopSignals::~TStopSignals()
{
    if (!m_outermost)
        return;
    for (int i = 0; i < kSignalCount; ++i)
        if (m_installed[i])
            ::sigaction(kStopSignals[i], &m_previous[i], nullptr);
    g_stopSignalsInstalled = false;
}

bool TStopSignals::Stopped()
{
    return g_stopSignal != 0;
}

void TStopSignals::ThrowIfStopped()
{
    if (const int signal = g_stopSignal)
        throw EAbort(WithDetail("Stopped by a signal", ::strsignal(signal)));
}

} // namespace sw::cli
