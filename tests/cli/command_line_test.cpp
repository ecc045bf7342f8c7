#include "cli/command_line.h"

#include <gtest/gtest.h>

namespace sw::cli {
namespace {

TEST(CommandLine, AcceptsTheFixedForms)
{
    EXPECT_EQ(ParseArguments({ "--help" }).Command, CliCommand::Help);
    EXPECT_EQ(ParseArguments({ "--version" }).Command, CliCommand::Version);

    const CliArguments plain = ParseArguments({ "convert", "in.jpg", "out.gif" });
    EXPECT_EQ(plain.Command, CliCommand::Convert);
    EXPECT_EQ(plain.Positionals, (std::vector<std::string> { "in.jpg", "out.gif" }));
    EXPECT_FALSE(plain.Has("--transparent"));

    const CliArguments between
        = ParseArguments({ "convert", "in.jpg", "--transparent", "FF00ff", "out.gif" });
    EXPECT_EQ(between.Positionals, (std::vector<std::string> { "in.jpg", "out.gif" }));
    EXPECT_EQ(between.Options.at("--transparent"), "FF00ff");

    const CliArguments dashed = ParseArguments({ "convert", "--", "--in.bmp", "-" });
    EXPECT_EQ(dashed.Positionals, (std::vector<std::string> { "--in.bmp", "-" }));
}

TEST(CommandLine, RefusesEverythingElse)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        { "--help", "convert" },
        { "--version", "--help" },
        { "-h" },
        { "frobnicate" },
        { "generate" },
        { "suggest", "a.bmp", "b.bmp" },
        { "generate", "p.swr", "--keep-temp=yes" },
        { "generate", "p.swr", "--out" },
        { "convert" },
        { "convert", "in.bmp" },
        { "convert", "a", "b", "c" },
        { "convert", "a", "b", "--transparent" },
        { "convert", "a", "b", "--transparent", "FF0000", "--transparent", "00FF00" },
        { "convert", "a", "b", "--keep-temp" },
        { "convert", "a", "b", "-x" },
    };
    for (const auto& args : cases) {
        std::string joined;
        for (const auto& a : args)
            joined += a + ' ';
        EXPECT_THROW(ParseArguments(args), CliUsageError) << joined;
    }
}

TEST(CommandLine, HexColourIsRedFirst)
{
    EXPECT_EQ(ParseHexColor("FF0000", "--transparent"), 0x000000FFu);
    EXPECT_EQ(ParseHexColor("00ff00", "--transparent"), 0x0000FF00u);
    EXPECT_EQ(ParseHexColor("123456", "--transparent"), 0x00563412u);
    EXPECT_EQ(ParseHexColor("none", "--transparent"), clNone);
    for (const char* bad : { "FFF", "FF00FF0", "#FF00F", "GG0000", " FF000", "0xFF00" })
        EXPECT_THROW(ParseHexColor(bad, "--transparent"), CliUsageError) << '"' << bad << '"';
}

} // namespace
} // namespace sw::cli
