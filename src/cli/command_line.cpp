#include "cli/command_line.h"

#include <algorithm>

namespace sw::cli {

namespace {

struct OptionRule {
    const char* Name;
    bool TakesValue;
};

struct CommandRule {
    const char* Name;
    CliCommand Command;
    size_t PositionalCount;
    std::vector<OptionRule> Options;
};

const std::vector<CommandRule>& Commands()
{
    static const std::vector<CommandRule> commands = {
        { "convert", CliCommand::Convert, 2, { { "--transparent", true } } },
    };
    return commands;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

const std::string& UsageText()
{
    static const std::string text
        = "usage: slicewright-cli convert INPUT OUTPUT [--transparent RRGGBB]\n"
          "       slicewright-cli --help | --version\n"
          "\n"
          "convert  loads INPUT (.bmp, .gif, .jpg, .jpeg) and saves it by OUTPUT's\n"
          "         extension: .bmp, .gif (web palette) or .jpg/.jpeg\n"
          "\n"
          "  --transparent RRGGBB  the transparent colour of a GIF output, in\n"
          "                        hexadecimal, red first (for example FF00FF)\n"
          "  --help                shows this text\n"
          "  --version             shows the program's version\n";
    return text;
}

TColor ParseHexColor(std::string_view text, std::string_view option)
{
    const bool wellFormed
        = text.size() == 6 && std::all_of(text.begin(), text.end(), [](char c) { return HexValue(c) >= 0; });
    if (!wellFormed)
        throw CliUsageError(
            std::string(option) + " expects six hexadecimal digits RRGGBB, not '" + std::string(text) + "'");
    const auto byte = [&text](size_t at) {
        return static_cast<uint32_t>(HexValue(text[at]) * 16 + HexValue(text[at + 1]));
    };
    return static_cast<TColor>(byte(0) | (byte(2) << 8) | (byte(4) << 16));
}

CliArguments ParseArguments(const std::vector<std::string>& args)
{
    CliArguments result;
    if (args.empty())
        throw CliUsageError("no command given");
    if (args[0] == "--help" || args[0] == "--version") {
        if (args.size() != 1)
            throw CliUsageError(args[0] + " takes no further arguments");
        result.Command = args[0] == "--help" ? CliCommand::Help : CliCommand::Version;
        return result;
    }

    const auto& commands = Commands();
    const auto command = std::find_if(
        commands.begin(), commands.end(), [&args](const CommandRule& rule) { return args[0] == rule.Name; });
    if (command == commands.end())
        throw CliUsageError("unknown command '" + args[0] + "'");
    result.Command = command->Command;

    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            result.Positionals.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const auto option = std::find_if(command->Options.begin(), command->Options.end(),
            [&arg](const OptionRule& rule) { return arg == rule.Name; });
        if (option == command->Options.end())
            throw CliUsageError("unknown option '" + arg + "' for " + command->Name);
        if (result.Has(arg))
            throw CliUsageError(arg + " given twice");
        std::string value;
        if (option->TakesValue) {
            if (i + 1 >= args.size())
                throw CliUsageError(arg + " needs a value");
            value = args[++i];
        }
        result.Options.emplace(arg, value);
    }

    if (result.Positionals.size() != command->PositionalCount)
        throw CliUsageError(std::string(command->Name) + " takes " + std::to_string(command->PositionalCount)
            + " arguments, not " + std::to_string(result.Positionals.size()));
    return result;
}

} // namespace sw::cli
