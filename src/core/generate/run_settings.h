#pragma once

// The generation settings as plain data, shared by both hosts, the keys of
// a project's [Output] section that set them, and the names a run gives
// its files.

#include "core/base/product.h"
#include "core/generate/cell_format.h"
#include "core/generate/page_writer.h"
#include "core/imaging/graphic.h"
#include "core/project/cell_properties.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sw {

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
    std::string Preheader {}; // e-mail: the inbox's preview text
    // 2: the picture is drawn at twice the size the page shows it.
    int Scale = 1;
    // The page of a PDF design that is the picture, from 1.
    int PicturePage = 1;
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
    // A run with a warning fails, leaving no files, after logging them all.
    bool WarningsAreErrors = false;
    // The page's language tag and title (empty: the project's name); the
    // Description above is also the page's meta description.
    std::string Lang = "en";
    std::string Title {};
    // html5 and grid pages: each image cell is also written in these
    // formats (webp, webp-lossless, avif, avif-lossless), best first, for
    // the page's <picture> sources.
    std::vector<TImageType> Sources {};
    // Images whose top lies this many picture pixels down or lower load lazily.
    int Fold = kDefaultFold;
    // Below this window width (CSS pixels) stacked row bands stack.
    int Breakpoint = kDefaultBreakpoint;
};

// Whether a run of these settings writes <picture> sources: they are listed
// and the page style shows them (html5, grid).
bool UsesSources(const TGenerationSettings& settings);
// "avif,webp" for a list of source types.
std::string SourceListText(const std::vector<TImageType>& sources);

// The [Output] keys that shape the run rather than its cells: PageStyle
// (classic, html5, email or grid), Scale (1 or 2), PicturePage, NameTemplate, BaseUrl,
// AlsoHalfSize and AutoFill (0 or 1), Preheader, Lang, Title, Description, Sources,
// Fold and Breakpoint, Transparent, only checked here, and
// where it writes: WriteHtml (0 or 1), PageFile and OutputFolder. Built
// like TOutputKey, so both hosts check a value the same way.
struct TRunKey {
    const char* Key;
    const char* Expects;
    bool (*Apply)(TGenerationSettings& settings, std::string_view text);
};
const std::vector<TRunKey>& RunKeys();
// How the run's picture is drawn when it is a vector design: at the run's
// Scale, from its PicturePage.
inline TRenderOptions PictureRenderOptions(const TGenerationSettings& settings)
{
    return { settings.Scale, settings.PicturePage };
}
// The same from a project's [Output] values, a value that cannot be read
// counting as absent (the run reports it): for showing the picture.
TRenderOptions PictureRenderOptions(const std::optional<TOutputValues>& values);
// The key's row, or nullptr; keys match without regard to ASCII case.
const TRunKey* FindRunKey(std::string_view key);
// settings with every run key of values applied; a bad value fails with
// Exception "WHERE: KEY expects EXPECTS, not 'TEXT'", other keys are left alone.
void ApplyRunValues(TGenerationSettings& settings, const TOutputValues& values, const std::string& where);

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

} // namespace sw
