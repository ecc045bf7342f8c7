#pragma once

// A parsed command line of slicewright-cli and the rule of one option: what
// the parser hands the commands, apart from the parser, so a command's own
// table of options needs nothing of it.

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace sw::cli {

// A command line that does not follow the usage; main answers with exit
// status 2 and the usage text.
class CliUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class CliCommand { Help, Version, Generate, Convert, Suggest, Estimate };

struct OptionRule {
    const char* Name;
    bool TakesValue;
    // May be given more than once; every value is kept, in order, in Lists.
    bool Repeats = false;
};

struct CliArguments {
    CliCommand Command = CliCommand::Help;
    std::vector<std::string> Positionals;
    // Options by name with the leading dashes ("--transparent"); a flag maps
    // to the empty text.
    std::map<std::string, std::string> Options;
    // Every value of an option that may repeat; Options holds its first.
    std::map<std::string, std::vector<std::string>> Lists;

    bool Has(const std::string& option) const { return Options.count(option) != 0; }
};

} // namespace sw::cli
