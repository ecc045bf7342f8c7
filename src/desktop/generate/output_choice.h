#pragma once

// The Generate dialog's format choice as a project's [Output] values: read
// leniently when the dialog opens, written back with as few keys as say it.

#include "core/generate/cell_format.h"
#include "core/generate/slicing_pipeline.h"
#include "core/project/project_file.h"

#include <QString>

#include <optional>
#include <string>
#include <string_view>

namespace sw {

// The text key stores for format's value ("Format" gives "png8", "Dither"
// gives "fs"); empty for a key of no known meaning.
std::string OutputText(const TCellFormat& format, std::string_view key);

// The stored values over the defaults; a value that is not what its key
// expects is passed over, so the dialog still opens on such a project.
TCellFormat ShownCellFormat(const std::optional<TOutputValues>& stored);

// stored as it should be after the dialog showed it and the user left chosen:
// stored itself when nothing changed (a project without the section stays
// without), else stored with each changed value and the format written.
std::optional<TOutputValues> OutputAfterChoice(
    const std::optional<TOutputValues>& stored, const TCellFormat& chosen);

// The run settings the dialog shows, likewise: PageStyle, BaseUrl, Scale,
// AlsoHalfSize, AutoFill, Lang, Title, Description, Sources, Fold and
// Breakpoint. RunText is the text stored for one of them,
// empty for any other key.
std::string RunText(const TGenerationSettings& settings, std::string_view key);
bool IsShownRunKey(std::string_view key);
TGenerationSettings ShownRunSettings(const std::optional<TOutputValues>& stored);
// output (the values after the format choice) with each run setting that
// chosen changes from what stored shows; a setting back at its default
// leaves no key.
std::optional<TOutputValues> RunAfterChoice(std::optional<TOutputValues> output,
    const std::optional<TOutputValues>& stored, const TGenerationSettings& chosen);

// Where the run writes, as the dialog shows it: full paths, empty for a
// page not chosen or, read from a project, a place it does not keep.
struct TRunPlaces {
    bool WriteHtml = false;
    std::string PageFile;
    std::string OutputFolder;
    bool operator==(const TRunPlaces&) const = default;
};
// The places stored (WriteHtml, PageFile, OutputFolder), made whole
// against the project's folder; a bad WriteHtml reads as unticked.
TRunPlaces ShownRunPlaces(const std::optional<TOutputValues>& stored, const std::string& projectFileName);
// output with each place that chosen changes from shown, stored relative
// to the project where it lies in its folder; a place back at its default
// (unticked, no page, the default folder) leaves no key.
std::optional<TOutputValues> PlacesAfterChoice(std::optional<TOutputValues> output, const TRunPlaces& shown,
    const TRunPlaces& chosen, const TRunPlaces& defaults, const std::string& projectFileName);

// The first of the desktop folder and the project's folder that exists, else
// the home folder.
QString DefaultOutputFolder(const QString& desktop, const std::string& projectFileName, const QString& home);
// The folder part of a page file name without its trailing separator: the
// output path that choosing that page file suggests ("/web/index.html" gives
// "/web", "/index.html" gives the empty text).
std::string OutputPathOfPage(const std::string& pageFileName);
// Whether a page file name asks for the snippet header (its upper-cased
// extension contains "BCS").
bool IsSnippetPage(const std::string& pageFileName);

} // namespace sw
