#pragma once

// What a generate run reports on the command line: the progress bar on a
// terminal, the plain log, and the JSON lines of --json.

#include "cli/stop_signals.h"
#include "core/base/sysutils.h"
#include "core/generate/cell_format.h"
#include "core/generate/slicing_pipeline.h"
#include "core/project/cell_properties.h"
#include "core/text/cell_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/stat.h>

namespace sw::cli {

// Text as a JSON string. A byte that is not part of well-formed UTF-8
// becomes the lone surrogate \udcXX, XX its value, so that any file name
// comes out the same every time and a reader can get its bytes back
// (Python's surrogateescape reads it so).
std::string JsonString(std::string_view text);
// A number with two decimals, as the lines give a PSNR.
std::string JsonNumber(double value);

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
    // A cell property filled from the text the cell's pixels read as.
    virtual void TextProposed(const TTextProposal& proposal)
    {
        LogLine(CellLabel(proposal.Cell) + " " + proposal.Property + " from the picture: " + proposal.Text
            + " (confidence " + IntToStr(proposal.Confidence) + ")");
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

// One JSON object per line: a run's files, pieces and summary, each line
// naming the project. Log lines that carry no fact about a file are left
// out; the facts come from the pipeline's cell reports and its fixed
// "Skipped" and "Filled" lines.
class TJsonSink final : public TRunSink {
public:
    TJsonSink(std::FILE* out, TProgressBar* bar, std::string project, const TGenerationSettings& settings,
        bool columnLines)
        : TRunSink(out, bar)
        , m_project(std::move(project))
        , m_settings(settings)
        , m_columnLines(columnLines)
    { }

    // The log's facts come through the calls below.
    void LogLine(const std::string&) override { }

    void PieceSkipped(const std::string& fileName, const std::string& reason) override
    {
        ++m_skipped;
        Emit("\"skipped\":" + JsonString(ExtractFileName(fileName)) + ",\"reason\":" + JsonString(reason));
    }

    void PictureWarning(const std::string& text) override { Emit("\"warning\":" + JsonString(text)); }

    void RunWarning(const TRunWarning& warning) override
    {
        Emit("\"warning\":" + JsonString(warning.Text) + ",\"code\":" + JsonString(warning.Code)
            + (warning.Cell ? Fields(*warning.Cell) : std::string()));
    }

    void PageSizes(uint64_t htmlBytes, uint64_t imageBytes) override
    {
        Emit("\"page_sizes\":true,\"html_bytes\":" + IntToStr(int64_t(htmlBytes))
            + ",\"image_bytes\":" + IntToStr(int64_t(imageBytes)));
    }

    void TextProposed(const TTextProposal& proposal) override
    {
        Emit("\"text_proposal\":" + JsonString(proposal.Text) + Fields(proposal.Cell) + ",\"property\":"
            + JsonString(proposal.Property) + ",\"confidence\":" + IntToStr(proposal.Confidence));
    }

    void CellFilled(const std::string& name, TCellRef cell, TColor color) override
    {
        Emit("\"no_image\":" + JsonString(name) + Fields(cell)
            + ",\"why\":\"auto-fill\",\"color\":" + JsonString(HexRgb(color)));
    }

    void CellFileWritten(const TCellFileReport& report) override
    {
        TRunSink::CellFileWritten(report);
        std::string line = "\"file\":" + JsonString(report.FileName) + Fields(report.Cell);
        if (report.Half)
            line += ",\"half\":true";
        line += ",\"format\":" + JsonString(ImageTypeName(report.Type))
            + ",\"bytes\":" + IntToStr(int64_t(report.Bytes));
        if (report.Psnr)
            line += ",\"psnr\":" + JsonNumber(*report.Psnr);
        if (report.Score)
            line += ",\"score\":" + JsonNumber(*report.Score);
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
                const std::string why = properties.Skip ? "skip"
                    : !properties.Button.empty()        ? "button"
                    : !properties.Text.empty()          ? "text"
                                                        : "fill";
                std::string line
                    = "\"no_image\":" + JsonString(NameOf(cell)) + Fields(cell) + ",\"why\":\"" + why + "\"";
                if (properties.Fill == TCellFill::Color)
                    line += ",\"color\":" + JsonString(HexRgb(properties.FillColor));
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

    // The cells as the run last counted them: all of them after a whole run,
    // as far as it got after a failed one.
    void Progress(const TGenerationCounts& counts) override
    {
        m_counts = counts;
        TRunSink::Progress(counts);
    }

    void Summary(double seconds, const std::string& error)
    {
        const TGenerationCounts& counts = m_counts;
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

    std::string NameOf(TCellRef cell) const
    {
        return CellBaseName(
            m_settings.Cells, RunNameTemplate(m_settings, m_columnLines), m_settings.ProjectName, cell);
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

    std::string m_project;
    const TGenerationSettings& m_settings;
    bool m_columnLines;
    TGenerationCounts m_counts;
    uint64_t m_bytes = 0;
    int m_files = 0;
    int m_unchanged = 0;
    int m_skipped = 0;
};

} // namespace sw::cli
