#pragma once

// The generation run: cuts the picture at every row line into full-width
// strips (the picture's own rows, or BMP files written and read back when
// the user keeps them), cuts each strip at every column line into cells,
// writes each cell in its format, and drives the page writer so the page's
// table follows the order of the cell files.

#include "core/base/colors.h"
#include "core/generate/cell_format.h"
#include "core/generate/run_checks.h"
#include "core/generate/run_settings.h"
#include "core/imaging/pixel_view.h"
#include "core/project/cell_properties.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sw {

class TBitmap;
class TStream;

// What the run reads from the main window. Captions are taken from every
// list entry, checked or not, in list order.
struct TGenerationInput {
    const TBitmap* Picture = nullptr;
    std::vector<std::string> ColumnCaptions;
    std::vector<std::string> RowCaptions;
    // The colour cells leave transparent; clNone for none.
    TColor TransparentColor = clNone;
    // The file the picture was read from, when known: no strip, cell or page
    // of the run may replace it.
    std::string PictureFileName {};
    // The project file the run was started from, when there is one: no
    // file of the run may replace it either.
    std::string ProjectFileName {};
    // The picture's own pixels with their alpha, same size as Picture, for
    // cells whose format keeps alpha; the caller keeps them alive.
    std::optional<TPixelView> Rgba {};
    // What reading the picture found wrong with its file ("FILE: cut short:
    // ..."): logged and reported at the start of the run.
    std::vector<std::string> Warnings {};
};

// Cells so far: written, skipped for having no pixels, left without an
// image of their own (filled, skipped by the project, under a span), and
// all there are.
struct TGenerationCounts {
    int Written = 0;
    int Skipped = 0;
    int WithoutImage = 0;
    int Total = 0;
    int Done() const { return Written + Skipped + WithoutImage; }
};

// A cell's file, finished: under FileName (the half-size one, Half, ends
// in @1x), Bytes long, showing Cell (a span's first cell). Psnr when
// MeasurePsnr is set and the file does not hold the cell exactly, Score
// then too; Reason is
// auto's choice. Unchanged: KeepUnchanged found the file already holding
// these bytes and left it alone.
struct TCellFileReport {
    std::string FileName;
    TCellRef Cell {};
    bool Half = false;
    TImageType Type = TImageType::Gif;
    uint64_t Bytes = 0;
    std::optional<double> Psnr;
    std::string Reason;
    bool Unchanged = false;
    std::optional<double> Score {}; // butteraugli distance, with Psnr
};

// Where the run reports. The desktop dialog shows these in its log and
// lists, the command line prints the log and draws a progress bar. A host
// stops a run by throwing from ProcessMessages, RowFileAdded or Progress
// (a stop button, a signal): the run then ends as a failed one does,
// leaving no files of its own behind. All calls come from the thread that
// called RunGeneration.
class IGenerationSink {
public:
    virtual ~IGenerationSink() = default;
    virtual void LogLine(const std::string& line) = 0; // mmoGenerate
    virtual void RowFileAdded(const std::string& fileName) = 0; // lbxRowFiles
    virtual void FileFinished(const std::string& fileName) = 0; // lbxFinishedFiles
    virtual void ProcessMessages() = 0; // between strips: a chance to stop
    virtual void Beep() = 0; // the exclamation beep that ends a run
    // After every cell written or skipped; for progress display only.
    virtual void Progress(const TGenerationCounts& counts) { (void)counts; }
    virtual void CellFileWritten(const TCellFileReport& report) { (void)report; }
    // Right after their log lines, the same facts for readers that keep
    // them: a strip or cell left without pixels, and a cell of one colour
    // painted instead of written (auto-fill), by its file's base name.
    virtual void PieceSkipped(const std::string& fileName, const std::string& reason)
    {
        (void)fileName;
        (void)reason;
    }
    // Right after its log line, each of the input's warnings.
    virtual void PictureWarning(const std::string& text) { (void)text; }
    virtual void CellFilled(const std::string& name, TCellRef cell, TColor color)
    {
        (void)name;
        (void)cell;
        (void)color;
    }
    // Right after its log line, each warning about the page the run writes.
    virtual void RunWarning(const TRunWarning& warning) { (void)warning; }
    // Once an e-mail page is written, before its files take their names:
    // its HTML's bytes and those of the images it shows.
    virtual void PageSizes(uint64_t htmlBytes, uint64_t imageBytes)
    {
        (void)htmlBytes;
        (void)imageBytes;
    }
};

// The whole run, steps in order; ends with the sink's Beep and the log line
// "Done.". Failures are exceptions; the page file is closed on every path.
// Refused before any file is written: no picture, a page wanted without a
// name (EInOutError "No page file name was given"), a caption that is not a
// whole number (EConvertError "'%s' is not a valid integer value").
// Pieces are clipped to the picture; a strip or cell left without pixels
// (two lines at one position, lines beyond the picture) is not written, has
// no page cell, and gets a log line "Skipped NAME: REASON.".
// A run whose files would replace the picture's or the project's file, or
// two of whose files share a name, is refused before anything is written
// (RefuseNameCollisions); so is a grid of more than kMaxGridCells cells.
// Strips are files only with DeleteTemp off; such a run holds the output
// folder exclusively (TRunFolder), and others wait for it.
// The cells and the page go to temporary files and take their names together
// at the end, through the folder's rename journal, so a failed run leaves
// the files of an earlier one as they were; it removes the strips it wrote
// and logs the piece it stopped at.
// A page in another folder than the cells reaches them by a relative src.
// The cells' properties are checked before anything is written too
// (ECellPropertyError naming the cell): the layout of spans, the names, each
// cell's format, and that a Fill=auto cell is one flat colour; so are the
// even cut positions and picture size that Scale 2 needs.
// An e-mail page's cells are refused in formats mail clients do not show
// (RefuseMailUnsafeFormats), and the log and the sink get its sizes and
// warnings (MailCellWarnings, MailSizeWarning). With WarningsAreErrors a
// run that warned of anything, the picture's warnings included, fails
// before its files take their names.
TGenerationCounts RunGeneration(
    const TGenerationInput& input, const TGenerationSettings& settings, IGenerationSink& sink);

} // namespace sw
