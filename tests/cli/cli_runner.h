#pragma once

// Runs the built slicewright-cli (named by SLICEWRIGHT_CLI) through the
// shell with its standard output and error caught in files.

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace sw::test {

inline std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct RunResult {
    int Status = -1;
    std::string Out;
    std::string Err;
};

class CliRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* cli = std::getenv("SLICEWRIGHT_CLI");
        if (!cli || !std::filesystem::exists(cli))
            GTEST_SKIP() << "SLICEWRIGHT_CLI does not name the built slicewright-cli";
        m_cli = cli;
    }

    RunResult Run(const std::vector<std::string>& args)
    {
        std::string command = ShellQuote(m_cli);
        for (const auto& a : args)
            command += ' ' + ShellQuote(a);
        command += " >" + ShellQuote(m_folder / "out.txt") + " 2>" + ShellQuote(m_folder / "err.txt")
            + " </dev/null";
        const int raw = std::system(command.c_str());
        RunResult result;
        result.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.Out = ReadFileBytes(m_folder / "out.txt");
        result.Err = ReadFileBytes(m_folder / "err.txt");
        std::filesystem::remove(m_folder / "out.txt");
        std::filesystem::remove(m_folder / "err.txt");
        return result;
    }

    TempFolder m_folder;
    std::string m_cli;
};

} // namespace sw::test
