#include "cli/estimate_command.h"

#include "cli/generate_command.h"
#include "core/base/errors.h"
#include "core/generate/size_estimate.h"

#include <string>

namespace sw::cli {

EstimateOptions EstimateOptionsFrom(const CliArguments& arguments)
{
    EstimateOptions options;
    options.Project = arguments.Positionals.at(0);
    options.Json = arguments.Has("--json");
    const auto formats = arguments.Lists.find("--format");
    if (formats == arguments.Lists.end()) {
        options.Types = EstimatedTypes();
        return options;
    }
    const TOutputKey* key = FindOutputKey("Format");
    for (const std::string& name : formats->second) {
        TCellFormat format;
        if (!key->Apply(format, name))
            throw CliUsageError(std::string("--format expects ") + key->Expects + ", not '" + name + "'");
        options.Types.push_back(format.Type);
    }
    return options;
}

void RunEstimate(const EstimateOptions& options, std::FILE* out, std::FILE* warnings)
{
    GenerateOptions generate;
    generate.Project = options.Project;
    const TPreparedProject prepared = PrepareProject(generate, warnings);
    TSizeEstimateInput input;
    input.Picture = prepared.Input.Picture;
    input.Rgba = prepared.Input.Rgba;
    input.ColumnCaptions = prepared.Input.ColumnCaptions;
    input.RowCaptions = prepared.Input.RowCaptions;
    input.TransparentColor = prepared.Input.TransparentColor;
    const auto sizes
        = EstimateSizes(input, prepared.Settings, options.Types, [](int64_t, int64_t) { return true; });
    for (const TFormatSize& size : *sizes) {
        const std::string name = ImageTypeName(size.Type);
        std::string line;
        if (options.Json) {
            line = "{\"format\":\"" + name + "\",\"bytes\":" + std::to_string(size.Bytes);
            if (size.Type == TImageType::Auto) {
                line += ",\"mix\":{";
                for (const auto& [type, count] : size.Chosen)
                    line += (line.back() == '{' ? "\"" : ",\"") + ImageTypeName(type)
                        + "\":" + std::to_string(count);
                line += "}";
            }
            line += "}";
        } else {
            line = name + " " + std::to_string(size.Bytes);
            if (size.Type == TImageType::Auto) {
                std::string mix;
                for (const auto& [type, count] : size.Chosen)
                    mix += (mix.empty() ? "" : ", ") + ImageTypeName(type) + " " + std::to_string(count);
                line += " (" + mix + ")";
            }
        }
        line += '\n';
        if (std::fputs(line.c_str(), out) < 0)
            throw EWriteError("Cannot write to standard output");
    }
}

} // namespace sw::cli
