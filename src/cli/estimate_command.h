#pragma once

#include "cli/command_line.h"
#include "core/generate/cell_format.h"

#include <cstdio>
#include <string>
#include <vector>

namespace sw::cli {

struct EstimateOptions {
    std::string Project;
    // The run's formats to weigh, in the order given; every estimated one
    // when none is given.
    std::vector<TImageType> Types;
    bool Json = false;
};

// A --format that names no format is a usage error.
EstimateOptions EstimateOptionsFrom(const CliArguments& arguments);

// Reads the project and its picture as generate does and prints, for each
// format as the run's, the bytes of the cell files a run would write:
// "gif 372158" per line, auto's line followed by its mix ("auto 76830
// (png8 12, jpg 3)"); with Json one object per line, {"format":"gif",
// "bytes":372158}, auto's with "mix":{"png8":12,...}. Stored lines outside
// the picture are warnings on warnings. Failures are sw::Exception.
void RunEstimate(const EstimateOptions& options, std::FILE* out, std::FILE* warnings);

} // namespace sw::cli
