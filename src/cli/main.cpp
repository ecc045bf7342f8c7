#include "cli/command_line.h"
#include "cli/convert_command.h"
#include "cli/estimate_command.h"
#include "cli/generate_command.h"
#include "cli/suggest_command.h"
#include "cli/watch_command.h"
#include "core/base/errors.h"
#include "core/picture_formats.h"
#include "version_info.h"

#include <cstdio>
#include <exception>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int Run(const sw::cli::CliArguments& arguments)
{
    using sw::cli::CliCommand;
    switch (arguments.Command) {
    case CliCommand::Help:
        std::fputs(sw::cli::UsageText().c_str(), stdout);
        return 0;
    case CliCommand::Version:
        std::printf("slicewright-cli %s\n", SLICEWRIGHT_VERSION);
        return 0;
    case CliCommand::Generate: {
        const std::vector<sw::cli::GenerateOptions> runs = sw::cli::GenerateRunsFrom(arguments);
        sw::RegisterPictureFormats();
        std::FILE* progress = ::isatty(STDERR_FILENO) ? stderr : nullptr;
        if (runs.front().Watch) {
            sw::cli::TProjectWatch watch(runs, stdout, stderr, progress);
            const std::atomic<bool> stop { false };
            return sw::cli::WatchProjects(watch, std::chrono::milliseconds(300), stop);
        }
        return sw::cli::RunGenerateAll(runs, stdout, stderr, progress);
    }
    case CliCommand::Convert: {
        std::optional<sw::TColor> transparent;
        if (arguments.Has("--transparent")) {
            const sw::TColor color
                = sw::cli::ParseHexColor(arguments.Options.at("--transparent"), "--transparent");
            if (color != sw::clNone)
                transparent = color;
        }
        const sw::TRenderOptions render = sw::cli::ConvertRenderOptions(arguments);
        sw::RegisterPictureFormats();
        sw::cli::RunConvert(arguments.Positionals[0], arguments.Positionals[1], transparent, stderr, render);
        return 0;
    }
    case CliCommand::Suggest:
        sw::RegisterPictureFormats();
        sw::cli::RunSuggest(
            arguments.Positionals[0], arguments.Has("--partial"), stdout, arguments.Has("--design"));
        return 0;
    case CliCommand::Estimate: {
        const sw::cli::EstimateOptions options = sw::cli::EstimateOptionsFrom(arguments);
        sw::RegisterPictureFormats();
        sw::cli::RunEstimate(options, stdout, stderr);
        return 0;
    }
    }
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        return Run(sw::cli::ParseArguments(args));
    } catch (const sw::cli::CliUsageError& e) {
        std::fprintf(stderr, "slicewright-cli: %s\n\n%s", e.what(), sw::cli::UsageText().c_str());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", sw::WithFullStop(e.what()).c_str());
        return 1;
    }
}
