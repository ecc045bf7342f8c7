#include "cli/command_line.h"

#include "cli/generate_command.h"
#include "core/base/sysutils.h"
#include "core/project/project_file.h"

#include <algorithm>

namespace sw::cli {

namespace {

struct CommandRule {
    const char* Name;
    CliCommand Command;
    size_t PositionalCount;
    std::vector<OptionRule> Options;
    // Takes PositionalCount or more.
    bool MoreAllowed = false;
};

std::vector<OptionRule> GenerateOptionRules()
{
    std::vector<OptionRule> rules;
    for (const GenerateOption& option : GenerateOptionTable())
        rules.push_back(option.Rule);
    return rules;
}

const std::vector<CommandRule>& Commands()
{
    static const std::vector<CommandRule> commands = {
        { "generate", CliCommand::Generate, 1, GenerateOptionRules(), true },
        { "convert", CliCommand::Convert, 2,
            { { "--transparent", true }, { "--scale", true }, { "--picture-page", true } } },
        { "suggest", CliCommand::Suggest, 1, { { "--partial", false }, { "--design", false } } },
        { "estimate", CliCommand::Estimate, 1, { { "--format", true, true }, { "--json", false } } },
    };
    return commands;
}

} // namespace

const std::string& UsageText()
{
    static const std::string text
        = "usage: slicewright-cli generate PROJECT.swr... [--out DIR] [--type gif|jpg|jpeg]\n"
          "                       [--page FILE] [--description TEXT] [--keep-temp]\n"
          "                       [--transparent RRGGBB|none] [--picture FILE]\n"
          "                       [--format NAME] [--colors N] [--dither none|fs|ordered]\n"
          "                       [--quality Q] [--progressive] [--subsampling 420|444]\n"
          "                       [--min-psnr DB] [--min-score D] [--avif-speed S]\n"
          "                       [--auto-avif] [--alpha] [--page-style STYLE]\n"
          "                       [--base-url URL] [--scale 1|2] [--picture-page N]\n"
          "                       [--also-1x] [--auto-fill]\n"
          "                       [--sources LIST] [--lang TAG] [--title TEXT]\n"
          "                       [--fold PIXELS] [--breakpoint CSSPX]\n"
          "                       [--threads N] [--alt-from-text] [--quiet] [--json]\n"
          "                       [-j N] [--watch] [--strict]\n"
          "       slicewright-cli convert INPUT OUTPUT [--transparent RRGGBB|none]\n"
          "                       [--scale 1|2] [--picture-page N]\n"
          "       slicewright-cli suggest PICTURE [--partial | --design]\n"
          "       slicewright-cli estimate PROJECT.swr [--format NAME]... [--json]\n"
          "       slicewright-cli --help | --version\n"
          "\n"
          "generate  cuts the project's picture at every cut line, checked or not,\n"
          "          writes one image per cell and, with --page, the page that puts\n"
          "          them back together; prints the run's log. Several projects\n"
          "          are generated one after the other, or N at once with -j\n"
          "convert   loads INPUT (.bmp, .gif, .jpg, .jpeg, .png, .psd, .ora, .svg,\n"
          "          .pdf) and saves it by OUTPUT's extension: .bmp, .gif (web\n"
          "          palette), .jpg/.jpeg, .png or .webp\n"
          "suggest   prints where PICTURE wants to be cut: a line of column and a\n"
          "          line of row positions, where the picture changes across much\n"
          "          of its length and at the edges of flat bands, never through\n"
          "          text; --partial adds the lines that run between some of\n"
          "          the bands only: \"partial columns: X:TOP-BOTTOM ...\" and\n"
          "          \"partial rows: Y:LEFT-RIGHT ...\" (pixels, end excluded); a\n"
          "          PSD or OpenRaster design's layer sides join them; --design\n"
          "          prints the design's guides and slice sides instead\n"
          "estimate  prints the bytes the project's cell files would take in each\n"
          "          format (each --format NAME, or every one), and auto's mix of\n"
          "          formats, as generate would write them; --json prints one\n"
          "          object per format instead\n"
          "\n"
          "  --out DIR             where the cells go (default: the project's folder);\n"
          "                        with several projects each goes to DIR/NAME,\n"
          "                        NAME the project's file name without .swr\n"
          "  --type gif|jpg|jpeg   the cells' kind and extension (default: gif)\n"
          "  --format NAME         the cells' format, the project's [Output] Format\n"
          "                        otherwise: gif (web palette), gif-adaptive, png8,\n"
          "                        png, jpg, jpeg, webp, webp-lossless, avif,\n"
          "                        avif-lossless, or auto (per cell the smallest\n"
          "                        exact file, else the smallest lossy one above\n"
          "                        --min-psnr and --min-score, else a lossless one)\n"
          "  --colors N            palette size of gif-adaptive and png8, 2-256 (256)\n"
          "  --dither MODE         their dithering: none, fs (Floyd-Steinberg) or\n"
          "                        ordered (default: none)\n"
          "  --quality Q           jpg, webp and avif quality, 1-100 (default: 90);\n"
          "                        auto finds the lowest that reaches its floors\n"
          "  --progressive         progressive jpg cells\n"
          "  --subsampling S       jpg colour resolution: 420 (default) or 444\n"
          "  --min-psnr DB         the floor of auto's lossy cells (default: 40)\n"
          "  --min-score D         auto's lossy cells must also look the same: a\n"
          "                        butteraugli distance of at most D, 1 being\n"
          "                        visually lossless (default: not checked)\n"
          "  --avif-speed S        avif encoder speed, 0 (smallest) to 10 (default: 7)\n"
          "  --auto-avif           auto also tries lossy avif\n"
          "  --alpha               png, webp and auto cells keep a PNG picture's alpha\n"
          "  --page FILE           also write a page: .html/.htm/.shtml a whole page,\n"
          "                        .bcs a snippet, anything else a bare table; a name\n"
          "                        without a folder goes into the output folder\n"
          "  --page-style STYLE    the page's markup, the project's [Output]\n"
          "                        PageStyle otherwise: classic (default), html5,\n"
          "                        email (tables for mail clients) or grid (a CSS\n"
          "                        grid that scales down with the window)\n"
          "  --base-url URL        put before every image's address in the page (an\n"
          "                        http: or https: address or a relative path),\n"
          "                        the project's [Output] BaseUrl otherwise; an\n"
          "                        empty URL clears it\n"
          "  --scale 1|2           2: the picture is drawn at twice the size the page\n"
          "                        shows (cut positions must be even); an SVG or PDF\n"
          "                        picture is rendered at twice its size; the\n"
          "                        project's [Output] Scale otherwise\n"
          "  --picture-page N      the page of a PDF picture to cut, from 1 (default:\n"
          "                        the project's [Output] PicturePage, else 1)\n"
          "  --also-1x             with --scale 2, also writes each image at half\n"
          "                        size as NAME@1x\n"
          "  --auto-fill           a cell of one flat colour becomes a painted cell\n"
          "                        without an image\n"
          "  --description TEXT    the snippet's description, and the html5 and grid\n"
          "                        pages' meta description (default: \"Code snippet\n"
          "                        generated by Slicewright\")\n"
          "  --sources LIST        html5 and grid pages: each image also in these\n"
          "                        formats, best first (avif, webp, avif-lossless,\n"
          "                        webp-lossless), as <picture> sources before the\n"
          "                        image; an auto cell's image is then gif, png or jpg\n"
          "  --lang TAG            the page's language (default: en)\n"
          "  --title TEXT          the page's title (default: the project's name)\n"
          "  --fold PIXELS         images whose top lies this far down the picture or\n"
          "                        lower load lazily (default: 900)\n"
          "  --breakpoint CSSPX    on windows narrower than this, rows marked\n"
          "                        R{r}.Stack=1 show their cells one under another\n"
          "                        (default: 600)\n"
          "  --keep-temp           writes the row strips r1.bmp, r2.bmp, ... and keeps\n"
          "                        them (without it they never reach the folder)\n"
          "  --picture FILE        cuts this picture instead of the project's\n"
          "  --threads N           cells encoded at once, at least 1 (default: one\n"
          "                        per hardware thread); the output is the same\n"
          "  --alt-from-text       fills each empty alt of a linked cell, or of a\n"
          "                        cell that reads as text, with the words its\n"
          "                        pixels read as (English); the project is not\n"
          "                        changed; each proposal is logged\n"
          "  --transparent RRGGBB  the colour cells leave transparent (not jpg), in\n"
          "                        hexadecimal, red first (for example FF00FF), or\n"
          "                        none; for generate the project's [Output]\n"
          "                        Transparent otherwise (default: none)\n"
          "  --quiet               prints neither the log nor the progress bar;\n"
          "                        errors and warnings still go to standard error\n"
          "  --json                prints one JSON object per line instead of the\n"
          "                        log: each file written with its cell, format,\n"
          "                        bytes, PSNR and butteraugli distance (score),\n"
          "                        each piece skipped, each cell\n"
          "                        without an image, the page, and a summary\n"
          "  -j N                  generates N projects at once (default: 1); each\n"
          "                        project's output is printed whole, in order\n"
          "  --watch               after the first run, generates a project again\n"
          "                        whenever it or its picture changes; files whose\n"
          "                        bytes stay the same are left untouched; Ctrl-C\n"
          "                        ends it\n"
          "  --strict              every warning is an error: the run fails and\n"
          "                        leaves no files (an e-mail page warns of a link\n"
          "                        without alt text and of HTML over 102 KB)\n"
          "  --help                shows this text\n"
          "  --version             shows the program's version\n";
    return text;
}

TColor ParseHexColor(std::string_view text, std::string_view option)
{
    const std::optional<TColor> color = TransparentColorFromText(text);
    if (!color)
        throw CliUsageError(std::string(option) + " expects six hexadecimal digits RRGGBB or none, not '"
            + std::string(text) + "'");
    return *color;
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
        if (result.Has(arg) && !option->Repeats)
            throw CliUsageError(arg + " given twice");
        std::string value;
        if (option->TakesValue) {
            if (i + 1 >= args.size())
                throw CliUsageError(arg + " needs a value");
            value = args[++i];
        }
        result.Options.emplace(arg, value);
        if (option->Repeats)
            result.Lists[arg].push_back(value);
    }

    const size_t given = result.Positionals.size();
    if (given < command->PositionalCount || (given > command->PositionalCount && !command->MoreAllowed))
        throw CliUsageError(std::string(command->Name) + " takes " + std::to_string(command->PositionalCount)
            + " arguments, not " + std::to_string(given)
            + (command->MoreAllowed ? " (one or more projects)" : ""));
    return result;
}

} // namespace sw::cli
