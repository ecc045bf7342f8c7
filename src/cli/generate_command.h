#pragma once

#include "cli/command_line.h"
#include "core/base/colors.h"
#include "core/generate/slicing_pipeline.h"

#include <cstdio>
#include <string>
#include <vector>

namespace sw::cli {

struct GenerateOptions {
    std::string Project;
    std::string Picture; // empty: the project's picture
    TColor Transparent = clBtnFace;
    // The run's settings as the options leave them: an empty output folder
    // is the project's, and a page is written when --page names one.
    TGenerationSettings Settings;
    // The cell-format values given on the command line, by [Output] key:
    // they override the project's.
    TOutputValues Output;
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

// Reads the project and its picture, applies the bounds test to every
// stored line (a refused line is a warning on warnings), creates a missing
// --out folder with its parents and runs the slicing pipeline. Log lines go to log, one per line; progress is
// drawn on progress when it is not null. Failures are sw::Exception; the picture formats must be registered.
void RunGenerate(const GenerateOptions& options, std::FILE* log, std::FILE* warnings, std::FILE* progress);

} // namespace sw::cli
