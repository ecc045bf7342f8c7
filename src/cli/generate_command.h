#pragma once

#include "cli/arguments.h"
#include "cli/stop_signals.h"
#include "core/base/colors.h"
#include "core/generate/slicing_pipeline.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/png/png_reader.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace sw::cli {

struct GenerateOptions {
    std::string Project;
    std::string Picture; // empty: the project's picture
    // The run's settings as the options leave them: an empty output folder
    // is the project's, and a page is written when --page names one.
    TGenerationSettings Settings;
    // The cell-format values given on the command line, by [Output] key
    // (--transparent as Transparent): they override the project's.
    TOutputValues Output;
    // How the run reports: no log and no progress; JSON lines instead of
    // the log.
    bool Quiet = false;
    bool Json = false;
    // For a run of several projects: how many at once, and whether to
    // keep regenerating on change.
    int Jobs = 1;
    bool Watch = false;
    // Fills each empty alt of a linked or text-bearing cell from the text
    // its pixels read as, for this run only, and reports each proposal.
    bool AltFromText = false;
};

// One option of generate: its rule for the parser and how its value goes
// into the options. A new setting of the run is one row here (and its
// usage lines).
struct GenerateOption {
    OptionRule Rule;
    void (*Apply)(GenerateOptions& options, const std::string& value);
};
const std::vector<GenerateOption>& GenerateOptionTable();

// The generate options from a parsed command line; a bad --type,
// --transparent or cell-format value, or an empty --page, is a usage error.
GenerateOptions GenerateOptionsFrom(const CliArguments& arguments);

// Where the output folder and the page file end up: the project's folder
// unless --out names one ("." for a project named without a folder), and a
// page named without a folder inside the output folder.
std::string ResolvedOutputFolder(const GenerateOptions& options);
std::string ResolvedPageFileName(const GenerateOptions& options);
// The picture a run cuts: --picture, else the project's picture beside it;
// empty when the project names none. Reads the project.
std::string ResolvedPictureFileName(const GenerateOptions& options);

// What a run of a project starts from: its picture, with alpha when its
// cells keep it, the input and the settings (output folder and page not yet
// resolved). Input points into Picture and Alpha, which stay where they are.
struct TPreparedProject {
    std::unique_ptr<TBitmap> Picture = std::make_unique<TBitmap>();
    TPngPicture Alpha;
    TGenerationInput Input;
    TGenerationSettings Settings;
    // The output folder was named (--out or the project's): a missing one
    // is made with its parents.
    bool MakeOutputFolder = false;
};
// Reads the project and its picture, applies the bounds test to every stored
// line (a refused line is a warning on warnings), and the project's and the
// options' [Output] values.
TPreparedProject PrepareProject(const GenerateOptions& options, std::FILE* warnings);

// Reads the project and its picture, applies the bounds test to every
// stored line (a refused line is a warning on warnings), creates a missing
// --out folder with its parents and runs the slicing pipeline. Log lines
// (or with --json the JSON lines, with --quiet nothing) go to log, one per
// line; progress is drawn on progress when it is not null and the run is
// not quiet. Failures are sw::Exception; the picture formats must be
// registered.
void RunGenerate(const GenerateOptions& options, std::FILE* log, std::FILE* warnings, std::FILE* progress);

// Every project of the command line, each with the options; with several
// projects an --out folder gets a subfolder per project, named after it.
// Two projects that would write into one folder, or a page named with a
// folder, are usage errors then.
std::vector<GenerateOptions> GenerateRunsFrom(const CliArguments& arguments);

// Runs the projects, options.Jobs of them at once, and prints each one's
// log (or JSON lines) and warnings whole, in the order given. A single
// project's failure passes on as an exception; with several, each failure
// is printed as "PROJECT: message." and the result is 1. Returns 0 when
// every project was generated.
int RunGenerateAll(
    const std::vector<GenerateOptions>& runs, std::FILE* out, std::FILE* err, std::FILE* progress);

} // namespace sw::cli
