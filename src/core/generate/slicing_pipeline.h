#pragma once

// The generation run: cuts the picture at every row line into full-width
// strips (written as BMP files and read back), cuts each strip at every
// column line into cells, writes each cell in its format, and drives
// the page writer so the page's table follows the order of the cell files.

#include "core/base/colors.h"
#include "core/base/product.h"
#include "core/generate/cell_format.h"
#include "core/generate/page_writer.h"
#include "core/imaging/pixel_view.h"
#include "core/project/cell_properties.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sw {

class TBitmap;
class TStream;

// The generation settings, as plain data, shared by both hosts: the
// Generate dialog fills them from its controls, the command line from its
// options. A new setting is one field here plus its reading in each host.
struct TGenerationSettings {
    std::string OutputFolder {}; // edtOutputPath
    bool WriteHTML = false; // cbxWriteHTML
    std::string PageFileName {}; // edtFilename
    std::string Description = DefaultSnippetDescription(); // edtBCSDescription
    TCellFormat CellFormat {}; // rgOutputImages; every cell's unless it has its own
    bool DeleteTemp = true; // cbxDeleteTemp
    // Beyond the dialog's settings; their defaults give the classic run.
    TPageStyle PageStyle = TPageStyle::Classic;
    std::string BaseUrl {}; // put before every image's address
    // 2: the picture is drawn at twice the size the page shows it.
    int Scale = 1;
    // With Scale 2, each image also at half size, as NAME@1x.
    bool AlsoHalfSize = false;
    // Every cell of one flat colour becomes a filled cell without an image.
    bool AutoFill = false;
    std::string NameTemplate {}; // empty: r{row}_c{col}, or r{row} without column lines
    std::string ProjectName {}; // {project} in names, and the page's title
    TCellPropertyMap Cells {};
    // A cell or page whose new bytes equal its file keeps that file as it
    // is, time included, so a re-run touches only what changed.
    bool KeepUnchanged = false;
    // Each written cell's report carries its PSNR; costs a decode per cell.
    bool MeasurePsnr = false;
    int Threads = 0; // cells encoded at once; 0: one per hardware thread
};

// The [Output] keys that shape the run rather than its cells: PageStyle
// (classic, html5, email or grid), Scale (1 or 2), NameTemplate, BaseUrl,
// AlsoHalfSize and AutoFill (0 or 1), Transparent, only checked here, and
// where it writes: WriteHtml (0 or 1), PageFile and OutputFolder. Built
// like TOutputKey, so both hosts check a value the same way.
struct TRunKey {
    const char* Key;
    const char* Expects;
    bool (*Apply)(TGenerationSettings& settings, std::string_view text);
};
const std::vector<TRunKey>& RunKeys();
// The key's row, or nullptr; keys match without regard to ASCII case.
const TRunKey* FindRunKey(std::string_view key);
// settings with every run key of values applied; a bad value fails with
// Exception "WHERE: KEY expects EXPECTS, not 'TEXT'", other keys are left alone.
void ApplyRunValues(TGenerationSettings& settings, const TOutputValues& values, const std::string& where);

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
    // The picture's own pixels with their alpha, same size as Picture, for
    // cells whose format keeps alpha; the caller keeps them alive.
    std::optional<TPixelView> Rgba {};
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
    virtual void CellFilled(const std::string& name, TCellRef cell, TColor color)
    {
        (void)name;
        (void)cell;
        (void)color;
    }
};

// The template a run names its cells by: the settings' own, else
// r{row}_c{col}, or r{row} without column lines, where a strip is the cell.
std::string RunNameTemplate(const TGenerationSettings& settings, bool hasColumnLines);

// A folder text with one '/' appended unless it already ends in one; an
// empty text gives "/" alone.
std::string WithTrailingBackslash(std::string_view folder);
// ".gif", ".jpg", ".jpeg", ".png" or ".webp"; auto cells take their
// chosen format's, and ".png" stands for them here.
std::string ImageExtension(TImageType imageType);
// The dialog's choice index: 0 GIF, 1 JPG, anything else JPEG.
TImageType ImageTypeOfIndex(int index);
// ".gif" for 0, ".jpg" for 1, ".jpeg" for anything else.
std::string ImageExtension(int imageType);

// Writes the cell as a GIF with the given transparent colour fixed.
void SaveCellGif(const std::string& fileName, TBitmap& cell, TColor transparentColor);
void SaveCellGif(TStream& stream, TBitmap& cell, TColor transparentColor);
// The same from 24-bit rows anywhere.
void SaveCellGif(TStream& stream, const TPixelView& cell, TColor transparentColor);
// Writes the cell as a JPEG with the default settings.
void SaveCellJpeg(const std::string& fileName, TBitmap& cell);
void SaveCellJpeg(TStream& stream, TBitmap& cell);

// The whole run, steps in order; ends with the sink's Beep and the log line
// "Done.". Failures are exceptions; the page file is closed on every path.
// Refused before any file is written: no picture, a page wanted without a
// name (EInOutError "No page file name was given"), a caption that is not a
// whole number (EConvertError "'%s' is not a valid integer value").
// Pieces are clipped to the picture; a strip or cell left without pixels
// (two lines at one position, lines beyond the picture) is not written, has
// no page cell, and gets a log line "Skipped NAME: REASON.".
// A run whose strip, cell or page names would replace the picture's file is
// refused before anything is written.
// The cells and the page go to temporary files and take their names together
// at the end, so a failed run leaves the files of an earlier one as they
// were; it removes the strips it wrote and logs the piece it stopped at.
// A page in another folder than the cells reaches them by a relative src.
// The cells' properties are checked before anything is written too
// (ECellPropertyError naming the cell): the layout of spans, the names, each
// cell's format, and that a Fill=auto cell is one flat colour; so are the
// even cut positions and picture size that Scale 2 needs.
TGenerationCounts RunGeneration(
    const TGenerationInput& input, const TGenerationSettings& settings, IGenerationSink& sink);

} // namespace sw
