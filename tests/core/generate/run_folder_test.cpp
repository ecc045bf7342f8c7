#include "core/generate/run_folder.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"

#include "support/folder_entries.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace sw {
namespace {

using test::FolderEntries;
using test::ReadFileBytes;
using test::TempFolder;
using test::WriteFileBytes;

std::vector<std::string> LogOf(const std::string& folder, bool exclusive)
{
    std::vector<std::string> log;
    TRunFolder run(folder, exclusive, [&log](const std::string& line) { log.push_back(line); });
    return log;
}

// A run killed among its renames: the next run in the folder puts the rest
// of its files in place, and removes what killed runs left behind.
TEST(RunFolder, NextRunFinishesAnInterruptedHandOver)
{
    TempFolder folder;
    const std::string base = folder.Path().string() + "/";
    TempFolder elsewhere;
    const std::vector<TRename> renames = {
        { base + ".r1_c1.gif.tmpaaaaaa", base + "r1_c1.gif" },
        { base + ".r1_c2.gif.tmpbbbbbb", base + "r1_c2.gif" },
        { elsewhere / ".index.html.tmpcccccc", elsewhere / "index.html" },
    };
    {
        TRunFolder run(base, false, [](const std::string&) {});
        for (const TRename& rename : renames) {
            WriteFileBytes(rename.To, "old");
            WriteFileBytes(rename.From, "new");
        }
        WriteFileBytes(base + ".r9_c9.png.tmpdddddd", "stale");
        WriteFileBytes(base + ".slicewright-writing-1-1", "stale");
        WriteFileBytes(base + ".notes.txt.tmpffffff", "the user's");
        WriteFileBytes(base + ".r1_c3.gif.tmp", "the user's");
        try {
            run.Publish(renames, [&](size_t k) {
                if (k == 1)
                    throw EAbort("killed");
                RenameFile(renames[k].From, renames[k].To);
            });
            ADD_FAILURE() << "no exception";
        } catch (const EAbort&) {
            // Killed: nothing of the run's own clean-up happens.
        }
    }
    EXPECT_EQ(ReadFileBytes(base + "r1_c2.gif"), "old");
    int journals = 0;
    for (const std::string& name : FolderEntries(folder.Path()))
        journals += name.rfind(kRenameJournalPrefix, 0) == 0;
    EXPECT_EQ(journals, 1);

    EXPECT_EQ(LogOf(base, false),
        (std::vector<std::string> { "Finished the renames of an interrupted run (2 files).",
            "Removed 2 temporary files of an interrupted run." }));
    EXPECT_EQ(FolderEntries(folder.Path()),
        (std::set<std::string> { "r1_c1.gif", "r1_c2.gif", ".notes.txt.tmpffffff", ".r1_c3.gif.tmp" }));
    EXPECT_EQ(FolderEntries(elsewhere.Path()), (std::set<std::string> { "index.html" }));
    for (const TRename& rename : renames)
        EXPECT_EQ(ReadFileBytes(rename.To), "new") << rename.To;
}

// Runs into one folder at once: one that publishes while another is
// renaming leaves the other's journal and files to it.
TEST(RunFolder, ALiveRunsJournalIsLeftToIt)
{
    TempFolder folder;
    const std::string base = folder.Path().string() + "/";
    const auto quiet = [](const std::string&) {};
    TRunFolder first(base, false, quiet);
    const std::vector<TRename> renames = {
        { base + ".a.gif.tmpaaaaaa", base + "a.gif" },
        { base + ".b.gif.tmpbbbbbb", base + "b.gif" },
    };
    for (const TRename& rename : renames) {
        WriteFileBytes(rename.To, "old");
        WriteFileBytes(rename.From, "new");
    }
    first.Publish(renames, [&](size_t k) {
        if (k == 1) {
            TRunFolder second(base, false, quiet);
            second.Publish({}, [](size_t) {});
            EXPECT_EQ(ReadFileBytes(base + "b.gif"), "old");
        }
        RenameFile(renames[k].From, renames[k].To);
    });
    EXPECT_EQ(FolderEntries(folder.Path()), (std::set<std::string> { "a.gif", "b.gif" }));
    EXPECT_EQ(ReadFileBytes(base + "b.gif"), "new");
}

// A run waiting for another one's folder can be stopped: what its waiting
// call throws ends the wait.
TEST(RunFolder, AWaitCanBeStopped)
{
    TempFolder folder;
    const std::string base = folder.Path().string() + "/";
    const TRunFolder first(base, true, [](const std::string&) {});
    std::vector<std::string> log;
    int asked = 0;
    EXPECT_THROW(TRunFolder(
                     base, true, [&log](const std::string& line) { log.push_back(line); },
                     [&asked] {
                         if (++asked == 2)
                             throw EAbort("Stopped by the user");
                     }),
        EAbort);
    EXPECT_EQ(asked, 2);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("waiting for it to finish"), std::string::npos);
}

// A journal moves nothing but a run's temporary file onto the target it was
// made for, beside it.
TEST(RunFolder, JournalRecordsThatNameOtherFilesArePassedOver)
{
    TempFolder folder;
    TempFolder elsewhere;
    const std::string base = folder.Path().string() + "/";
    WriteFileBytes(elsewhere / "victim", "keep");
    WriteFileBytes(base + ".victim.tmpaaaaaa", "planted");
    WriteFileBytes(base + ".a.gif.tmpbbbbbb", "planted");
    WriteFileBytes(base + "notes.txt", "planted");
    struct Record {
        std::string from;
        std::string to;
    };
    const std::vector<Record> records = {
        { ".victim.tmpaaaaaa", elsewhere / "victim" }, // not beside its target
        { ".a.gif.tmpbbbbbb", "b.gif" }, // made for another target
        { ".a.gif.tmpbbbbbb", "sub/a.gif" }, // a relative path
        { "notes.txt", "a.txt" }, // not a temporary file
        { "../.a.gif.tmpbbbbbb", "a.gif" },
    };
    std::string journal = "Slicewright renames 1\n";
    for (const Record& record : records)
        journal += record.from + '\0' + record.to + '\0';
    journal += ".a.gif.tmpbbbbbb"; // cut short
    WriteFileBytes(base + kRenameJournalPrefix + "1-1", journal);

    EXPECT_EQ(CompleteRenameJournals(base), 0);
    EXPECT_EQ(ReadFileBytes(elsewhere / "victim"), "keep");
    EXPECT_EQ(FolderEntries(folder.Path()),
        (std::set<std::string> { ".victim.tmpaaaaaa", ".a.gif.tmpbbbbbb", "notes.txt" }));
}

} // namespace
} // namespace sw
