#pragma once

// The command line of slicewright-cli, parsed without side effects so the
// rules can be tested apart from the commands. A command is one row of a
// table (its name, how many positional arguments it takes, its options);
// adding a command means adding a row, its usage lines and its runner.

#include "cli/arguments.h"
#include "core/base/colors.h"

#include <string>
#include <string_view>
#include <vector>

namespace sw::cli {

// args excludes the program name. "--help" or "--version" stand alone.
// Options may come before, between or after the positional arguments; "--"
// makes every later argument positional. Unknown or repeated options,
// options without their value and a wrong number of positional arguments
// are usage errors.
CliArguments ParseArguments(const std::vector<std::string>& args);

// Six hexadecimal digits RRGGBB, red first, as a colour value 0x00BBGGRR,
// or "none" (or nothing) as clNone, as the project's Transparent key takes
// them. Anything else is a usage error naming the option.
TColor ParseHexColor(std::string_view text, std::string_view option);

// The usage text, ending in a line break.
const std::string& UsageText();

} // namespace sw::cli
