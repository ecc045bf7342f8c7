#include "core/base/errors.h"
#include "core/project/ini_file.h"
#include "core/project/project_file.h"
#include "core/project/safe_save.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace sw {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempFolder;
using test::WriteFileBytes;

TProjectData ExampleProject()
{
    return { "C:\\Web\\Pictures\\page.jpg", { { "120", true }, { "340", false } }, { { "80", true } } };
}

const char* const kExampleFile = "[Settings]\r\n"
                                 "GraphicImage=C:\\Web\\Pictures\\page.jpg\r\n"
                                 "[Columns]\r\n"
                                 "Position1=120\r\n"
                                 "Checked1=1\r\n"
                                 "Position2=340\r\n"
                                 "Checked2=0\r\n"
                                 "[Rows]\r\n"
                                 "Position1=80\r\n"
                                 "Checked1=1\r\n";

TEST(ProjectFile, WritesTheExampleByteForByte)
{
    TempFolder folder;
    WriteProjectFile(folder / "page.swr", ExampleProject());
    EXPECT_EQ(ReadFileBytes(folder / "page.swr"), kExampleFile);
}

TEST(ProjectFile, EmptyListsWriteOnlySettings)
{
    const TProjectData project { "/pictures/page.bmp", {}, {} };
    EXPECT_EQ(ProjectIni("p.swr", project).Text(), "[Settings]\r\nGraphicImage=/pictures/page.bmp\r\n");
    const TProjectData rowsOnly { "", {}, { { "7", false } } };
    EXPECT_EQ(ProjectIni("p.swr", rowsOnly).Text(),
        "[Settings]\r\nGraphicImage=\r\n[Rows]\r\nPosition1=7\r\nChecked1=0\r\n");
}

// The cells' output settings come back as written, so a save keeps them;
// a project without them stays without.
TEST(ProjectFile, OutputSectionIsKeptThroughASave)
{
    EXPECT_FALSE(ReadProject(TIniFile::FromText(kExampleFile), "").Output);
    const TLoadedProject loaded = ReadProject(TIniFile::FromText("[output]\r\nminpsnr=38.5\r\nFormat=auto\r\n"
                                                                 "Unknown=1\r\nColors=\r\n"),
        "");
    ASSERT_TRUE(loaded.Output);
    EXPECT_EQ(
        *loaded.Output, (TOutputValues { { "Colors", "" }, { "Format", "auto" }, { "MinPsnr", "38.5" } }));

    TProjectData project = ExampleProject();
    project.Output = loaded.Output;
    EXPECT_EQ(ProjectIni("p.swr", project).Text(),
        std::string(kExampleFile) + "[Output]\r\nFormat=auto\r\nColors=\r\nMinPsnr=38.5\r\n");
}

TEST(ProjectFile, CellsSectionIsReadAndKeptThroughASave)
{
    EXPECT_TRUE(ReadProject(TIniFile::FromText(kExampleFile), "").Cells.empty());
    const TLoadedProject loaded
        = ReadProject(TIniFile::FromText("[Output]\r\nPageStyle=email\r\n"
                                         "[Cells]\r\nR2C1.Span=2x1\r\nr1c3.alt=A & B\r\n"),
            "");
    ASSERT_EQ(loaded.Cells.size(), 2u);
    EXPECT_EQ(loaded.Cells.at({ 2, 1 }).SpanColumns, 2);
    EXPECT_EQ(loaded.Cells.at({ 1, 3 }).Alt, "A & B");

    TProjectData project = ExampleProject();
    project.Output = loaded.Output;
    project.Cells = loaded.Cells;
    EXPECT_EQ(ProjectIni("p.swr", project).Text(),
        std::string(kExampleFile)
            + "[Output]\r\nPageStyle=email\r\n[Cells]\r\nR1C3.Alt=A & B\r\nR2C1.Span=2x1\r\n");
    EXPECT_THROW(ReadProject(TIniFile::FromText("[Cells]\r\nR0C1.Skip=1\r\n"), ""), ECellPropertyError);
}

TEST(ProjectFile, CaptionsThatAreNoNumbersAreWrittenAndReportedOnReading)
{
    const TProjectData project { "p.bmp", { { "10", true }, { "2O", true }, { "30", true } }, {} };
    const TLoadedProject loaded = ReadProject(ProjectIni("p.swr", project), "");
    EXPECT_EQ(loaded.Columns, (std::vector<TStoredLine> { { 10, true }, { 30, true } }));
    EXPECT_EQ(loaded.Warnings,
        (std::vector<std::string> {
            "column line Position2=2O ignored: a position is a whole number from 0 to 2147483647" }));
}

struct ReadCase {
    const char* description;
    const char* columnsSection;
    std::vector<TStoredLine> expected;
    std::vector<std::string> warnings {};
};

// A bad or missing line is reported by its key; the lines after it count.
TEST(ProjectFile, ReadsEveryLineAndReportsEachBadOne)
{
    const std::string bad = " ignored: a position is a whole number from 0 to 2147483647";
    const ReadCase cases[] = {
        { "the example", "Position1=120\nChecked1=1\nPosition2=340\nChecked2=0",
            { { 120, true }, { 340, false } } },
        { "gap at 3", "Position1=1\nPosition2=2\nPosition4=4", { { 1, true }, { 2, true }, { 4, true } },
            { "column line Position3 missing" } },
        { "gap of three", "Position4=4\nPosition2=2", { { 2, true }, { 4, true } },
            { "column line Position1 missing", "column line Position3 missing" } },
        { "wide gap", "Position1=1\nPosition9=9", { { 1, true }, { 9, true } },
            { "column lines Position2 to Position8 missing" } },
        { "first is -5", "Position1=-5\nPosition2=10", { { 10, true } },
            { "column line Position1=-5" + bad } },
        { "past 32 bits, empty", "Position1=4294967306\nPosition2=\nPosition3=7", { { 7, true } },
            { "column line Position1=4294967306" + bad, "column line Position2=" + bad } },
        { "checked values",
            "Position1=1\nChecked1=0\nPosition2=2\nChecked2=false\nPosition3=3\nPosition4=4\nChecked4=2",
            { { 1, false }, { 2, true }, { 3, true }, { 4, true } } },
        { "number forms", "Position1=0x1F\nPosition2=$1F\nPosition3= 42\nPosition4=42px\nPosition5=50",
            { { 31, true }, { 31, true }, { 42, true }, { 50, true } },
            { "column line Position4=42px" + bad } },
        { "file order kept, zero kept", "Position1=300\nPosition2=0\nPosition3=100",
            { { 300, true }, { 0, true }, { 100, true } } },
        { "keys in any case and order", "checked1=0\nPOSITION1=5", { { 5, false } } },
        { "other keys", "Position01=3\nPositionX=4\nChecked2=0\nPosition1=5", { { 5, true } } },
        { "blanks around values", "Position1=10 \nChecked1=0 \nPosition2=\t20\t\nChecked2= 0",
            { { 10, false }, { 20, false } } },
    };
    for (const auto& c : cases) {
        const TIniFile ini
            = TIniFile::FromText(std::string("[Columns]\n") + c.columnsSection + "\n[Rows]\nPosition1=9\n");
        const TLoadedProject loaded = ReadProject(ini, "");
        EXPECT_EQ(loaded.Columns, c.expected) << c.description;
        EXPECT_EQ(loaded.Warnings, c.warnings) << c.description;
        EXPECT_EQ(loaded.Rows, (std::vector<TStoredLine> { { 9, true } })) << c.description;
    }
}

TEST(ProjectFile, PicturePathDefaultsOnlyWhenTheKeyIsMissing)
{
    EXPECT_EQ(ReadProject(TIniFile::FromText("[Settings]\n"), "current.bmp").PictureFileName, "current.bmp");
    EXPECT_EQ(
        ReadProject(TIniFile::FromText("[Settings]\nGraphicImage=\n"), "current.bmp").PictureFileName, "");
    const std::string longPath(3000, 'p');
    EXPECT_EQ(ReadProject(TIniFile::FromText("[Settings]\nGraphicImage=" + longPath), "").PictureFileName,
        longPath.substr(0, kMaxPictureFileNameLength));

    TempFolder folder;
    const TLoadedProject missing = ReadProjectFile(folder / "absent.swr", "current.bmp");
    EXPECT_EQ(missing.PictureFileName, "current.bmp");
    EXPECT_TRUE(missing.Columns.empty());
    EXPECT_TRUE(missing.Rows.empty());
}

TEST(ProjectFile, BackupNameReplacesOrAppendsTheExtension)
{
    const std::pair<const char*, const char*> cases[] = {
        { "/web/page.swr", "/web/page.bak" },
        { "/web/page", "/web/page.bak" },
        { "/web.site/page", "/web.site/page.bak" },
        { "/web/page.old.swr", "/web/page.old.bak" },
        { "page.", "page.bak" },
    };
    for (const auto& [name, backup] : cases)
        EXPECT_EQ(BackupFileName(name), backup) << name;
}

TEST(ProjectFile, PictureStoredWithoutAFullPathSitsBesideTheProject)
{
    const std::tuple<const char*, const char*, const char*> cases[] = {
        { "/web/page.swr", "design.bmp", "/web/design.bmp" },
        { "/web/page.swr", "art/design.bmp", "/web/art/design.bmp" },
        { "/web/page.swr", "/art/design.bmp", "/art/design.bmp" },
        { "page.swr", "design.bmp", "design.bmp" },
        { "/web/page.swr", "", "" },
    };
    for (const auto& [project, stored, opened] : cases)
        EXPECT_EQ(PicturePathOfProject(project, stored), opened) << project << " " << stored;
}

TEST(ProjectFile, SecondSaveKeepsTheFirstInTheBackup)
{
    for (const char* name : { "page.swr", "noextension" }) {
        TempFolder folder;
        const std::string fileName = folder / name;
        TProjectData first = ExampleProject();
        WriteProjectFile(fileName, first);
        EXPECT_FALSE(fs::exists(BackupFileName(fileName))) << name;

        TProjectData second = first;
        second.Columns.pop_back();
        WriteProjectFile(fileName, second);
        EXPECT_EQ(ReadFileBytes(BackupFileName(fileName)), kExampleFile) << name;
        EXPECT_EQ(ReadFileBytes(fileName), ProjectIni(fileName, second).Text()) << name;
        EXPECT_EQ(folder.EntryCount(), 2u) << name;
    }
}

TEST(ProjectFile, FailedBackupLeavesNoStaleKeys)
{
    TempFolder folder;
    const std::string fileName = folder / "page.swr";
    WriteProjectFile(fileName, ExampleProject());
    // A non-empty folder under the backup name can be neither deleted nor replaced.
    fs::create_directory(folder / "page.bak");
    WriteFileBytes(folder / "page.bak/keep", "x");

    // Without a backup the save does not go ahead: the old project stays whole.
    const TProjectData shorter { "p.bmp", { { "5", true } }, {} };
    EXPECT_THROW(WriteProjectFile(fileName, shorter), EIniFileException);
    EXPECT_EQ(ReadFileBytes(fileName), kExampleFile);
    EXPECT_EQ(ReadFileBytes(folder / "page.bak/keep"), "x");
    EXPECT_EQ(folder.EntryCount(), 2u);
}

// Hard links that are not there and a rename that fails at one name, as on
// file systems without links or with a name held by another program.
int NoLink(const char*, const char*)
{
    errno = EPERM;
    return -1;
}

std::string g_failingRenameTarget;

int RenameFailingAt(const char* from, const char* to)
{
    if (g_failingRenameTarget == to) {
        errno = EACCES;
        return -1;
    }
    return ::rename(from, to);
}

class FileSystemCallsOverride {
public:
    FileSystemCallsOverride(const std::string& failingRenameTarget)
        : m_saved(FileSystemCalls())
    {
        g_failingRenameTarget = failingRenameTarget;
        FileSystemCalls() = { NoLink, RenameFailingAt };
    }
    ~FileSystemCallsOverride() { FileSystemCalls() = m_saved; }
    FileSystemCallsOverride(const FileSystemCallsOverride&) = delete;
    FileSystemCallsOverride& operator=(const FileSystemCallsOverride&) = delete;

private:
    TFileSystemCalls m_saved;
};

TEST(ProjectFile, WithoutHardLinksEveryFailureKeepsTheProjectAndIsReported)
{
    struct Case {
        const char* failingRename;
        const char* projectAfter;
        const char* backupAfter;
    };
    const std::string older = "[Settings]\r\nGraphicImage=older.bmp\r\n";
    const std::string newer = ProjectIni("page.swr", TProjectData { "newer.bmp", {}, {} }).Text();
    const Case cases[] = {
        { "", newer.c_str(), kExampleFile },
        { "page.swr", kExampleFile, kExampleFile },
        { "page.bak", kExampleFile, older.c_str() },
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const std::string fileName = folder / "page.swr";
        WriteFileBytes(fileName, kExampleFile);
        WriteFileBytes(folder / "page.bak", older);
        fs::permissions(fileName, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        {
            const FileSystemCallsOverride calls(*c.failingRename ? folder / c.failingRename : "");
            try {
                WriteProjectFile(fileName, TProjectData { "newer.bmp", {}, {} });
                EXPECT_FALSE(*c.failingRename) << c.failingRename << ": failure not reported";
            } catch (const EIniFileException& e) {
                EXPECT_EQ(e.what(), "Unable to write to " + fileName) << c.failingRename;
            }
        }
        EXPECT_EQ(ReadFileBytes(fileName), c.projectAfter) << c.failingRename;
        EXPECT_EQ(ReadFileBytes(folder / "page.bak"), c.backupAfter) << c.failingRename;
        // A fresh copy keeps the project's permissions; no temporary file is left.
        if (std::string(c.backupAfter) == kExampleFile) {
            EXPECT_EQ(fs::status(folder / "page.bak").permissions(), fs::status(fileName).permissions())
                << c.failingRename;
        }
        EXPECT_EQ(folder.EntryCount(), 2u) << c.failingRename;
    }
}

TEST(ProjectFile, SavesThroughASymbolicLink)
{
    TempFolder folder;
    fs::create_directory(folder / "real");
    const std::string target = folder / "real/page.swr";
    const std::string link = folder / "page.swr";
    WriteFileBytes(target, kExampleFile);
    fs::create_symlink("real/page.swr", link);
    // An earlier save may have left the backup as a link to the project.
    fs::create_symlink("real/page.swr", folder / "page.bak");

    const TProjectData second { "second.bmp", {}, {} };
    WriteProjectFile(link, second);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFileBytes(target), ProjectIni(link, second).Text());
    EXPECT_FALSE(fs::is_symlink(folder / "page.bak"));
    EXPECT_EQ(ReadFileBytes(folder / "page.bak"), kExampleFile);
    EXPECT_EQ(folder.EntryCount(), 3u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "real"), {}), 1);
}

// A picture in the project's folder or below is stored relative to it, so
// both can move; one elsewhere keeps its full path.
TEST(ProjectFile, PicturePathIsStoredRelativeWhereThePictureAllows)
{
    struct Case {
        const char* projectFileName;
        const char* picture;
        const char* stored;
        const char* written;
    };
    const Case cases[] = {
        { "/web/page.swr", "/web/art/page.jpg", "art/page.jpg", "art/page.jpg" },
        { "/web/page.swr", "/web/art/page.jpg", "", "art/page.jpg" },
        { "/web/page.swr", "/web/page.jpg", "/web/page.jpg", "page.jpg" },
        { "/web/page.swr", "/web/./art/../page.jpg", "", "page.jpg" },
        { "/other/page.swr", "/web/art/page.jpg", "art/page.jpg", "/web/art/page.jpg" },
        { "/web/page.swr", "/web/new.jpg", "art/page.jpg", "new.jpg" },
        { "/web/art/page.swr", "/web/page.jpg", "", "/web/page.jpg" },
        { "/web/page.swr", "/webs/page.jpg", "", "/webs/page.jpg" },
        { "page.swr", "art/page.jpg", "", "art/page.jpg" },
        { "/web/page.swr", "art/page.jpg", "", "art/page.jpg" },
        { "/web/page.swr", "", "", "" },
    };
    for (const Case& c : cases) {
        TProjectData project { c.picture, {}, {} };
        project.StoredPictureFileName = c.stored;
        const std::string written
            = ProjectIni(c.projectFileName, project).ReadString("Settings", "GraphicImage", "<none>");
        EXPECT_EQ(written, c.written) << c.projectFileName << " " << c.picture << " " << c.stored;
    }
}

TEST(ProjectFile, UnwritableFolderKeepsTheOldProject)
{
    TempFolder folder;
    const std::string fileName = folder / "page.swr";
    WriteProjectFile(fileName, ExampleProject());
    fs::permissions(folder.Path(),
        fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read | fs::perms::group_exec
            | fs::perms::others_read | fs::perms::others_exec);

    // Root may write anywhere, so the save runs in a child that has given up
    // its rights; the child reports through its exit status.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        try {
            WriteProjectFile(fileName, TProjectData { "other.bmp", {}, {} });
        } catch (const EIniFileException& e) {
            ::_exit(e.what() == "Unable to write to " + fileName ? 0 : 1);
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    fs::permissions(folder.Path(), fs::perms::owner_all);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: wrong message, 2: wrong exception, 3: setuid failed, 4: saved";
    EXPECT_EQ(ReadFileBytes(fileName), kExampleFile);
    EXPECT_EQ(folder.EntryCount(), 1u);
}

TEST(ProjectFile, RoundTripKeepsOrderAndFlags)
{
    TempFolder folder;
    const TProjectData project { "/a b/=c.jpg", { { "400", false }, { "12", true }, { "0x10", true } },
        { { "1", false }, { "2", false } } };
    WriteProjectFile(folder / "p.swr", project);
    const TLoadedProject loaded = ReadProjectFile(folder / "p.swr", "unused");
    EXPECT_EQ(loaded.PictureFileName, "/a b/=c.jpg");
    EXPECT_EQ(loaded.Columns, (std::vector<TStoredLine> { { 400, false }, { 12, true }, { 16, true } }));
    EXPECT_EQ(loaded.Rows, (std::vector<TStoredLine> { { 1, false }, { 2, false } }));
}

} // namespace
} // namespace sw
