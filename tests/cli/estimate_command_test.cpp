#include "cli_runner.h"

#include "support/folder_entries.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace sw::test {
namespace {

namespace fs = std::filesystem;

const std::string kSample = std::string(SLICEWRIGHT_SOURCE_DIR) + "/data/sample/design.swr";

// The estimate's figures are those of the files generate writes, one JSON
// object per format asked for, in that order.
TEST_F(CliRun, EstimateGivesTheBytesGenerateWrites)
{
    const RunResult estimate = Run({ "estimate", kSample, "--format", "png8", "--json", "--format", "jpg" });
    ASSERT_EQ(estimate.Status, 0) << estimate.Err;
    std::string expected;
    for (const char* format : { "png8", "jpg" }) {
        const fs::path out = m_folder.Path() / format;
        ASSERT_EQ(
            Run({ "generate", kSample, "--out", out.string(), "--format", format, "--quiet" }).Status, 0);
        expected += std::string("{\"format\":\"") + format
            + "\",\"bytes\":" + std::to_string(FolderBytes(out)) + "}\n";
    }
    EXPECT_EQ(estimate.Out, expected);
    EXPECT_EQ(Run({ "estimate", kSample, "--format", "bmp" }).Status, 2);
}

} // namespace
} // namespace sw::test
