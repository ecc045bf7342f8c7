#include "core/project/project_file.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"
#include "core/project/ini_file.h"
#include "core/project/safe_save.h"

namespace sw {

namespace {

constexpr const char* kSettingsSection = "Settings";
constexpr const char* kColumnsSection = "Columns";
constexpr const char* kRowsSection = "Rows";
constexpr const char* kPictureKey = "GraphicImage";
constexpr const char* kOutputSection = "Output";

void WriteList(TIniFile& ini, const char* section, const std::vector<TCutLineEntry>& entries)
{
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string n = IntToStr(static_cast<int64_t>(i) + 1);
        ini.WriteString(section, "Position" + n, entries[i].Caption);
        ini.WriteBool(section, "Checked" + n, entries[i].Checked);
    }
}

std::vector<TStoredLine> ReadList(const TIniFile& ini, const char* section)
{
    std::vector<TStoredLine> lines;
    // Each step needs one more key than the last, so a bounded file ends the loop.
    for (int64_t n = 1;; ++n) {
        const std::string suffix = IntToStr(n);
        const int32_t position = ini.ReadInteger(section, "Position" + suffix, kMissingPosition);
        if (position < 0)
            break;
        lines.push_back({ position, ini.ReadBool(section, "Checked" + suffix, true) });
    }
    return lines;
}

// The old file stays under its name until the new one replaces it, and the
// older backup stays until its successor is complete: a failure anywhere
// leaves a project file and a backup.
void MakeBackup(const std::string& fileName)
{
    if (!FileExists(fileName))
        return;
    const std::string backup = BackupFileName(fileName);
    // A project that is itself named ".bak" has no other name to go to.
    if (backup == fileName || ResolveSymbolicLinks(fileName) == backup)
        return;
    if (!ReplaceWithCopy(fileName, backup))
        throw EIniFileException(Format("Unable to write to %s", fileName.c_str()));
}

} // namespace

std::string PicturePathOfProject(std::string_view projectFileName, std::string_view pictureFileName)
{
    if (pictureFileName.empty() || pictureFileName.front() == kPathSeparator)
        return std::string(pictureFileName);
    return ExtractFilePath(projectFileName) + std::string(pictureFileName);
}

std::string PathToStoreInProject(std::string_view projectFileName, std::string_view path)
{
    const std::string folder = ExtractFilePath(projectFileName);
    if (folder.empty() || folder.front() != kPathSeparator)
        return std::string(path);
    if (path.size() + 1 == folder.size() && folder.starts_with(path))
        return ".";
    if (!path.starts_with(folder))
        return std::string(path);
    const std::string_view inside = path.substr(folder.size());
    return inside.empty() ? std::string(".") : std::string(inside);
}

std::string PathOfProject(std::string_view projectFileName, std::string_view storedPath)
{
    if (storedPath == ".") {
        std::string folder = ExtractFilePath(projectFileName);
        if (folder.size() > 1 && folder.back() == kPathSeparator)
            folder.pop_back();
        return folder.empty() ? std::string(".") : folder;
    }
    return PicturePathOfProject(projectFileName, storedPath);
}

std::string BackupFileName(std::string_view projectFileName)
{
    return ChangeFileExt(projectFileName, ".bak");
}

std::string PicturePathToStore(std::string_view projectFileName, const TProjectData& project)
{
    if (PicturePathOfProject(projectFileName, project.StoredPictureFileName) == project.PictureFileName)
        return project.StoredPictureFileName;
    return project.PictureFileName;
}

TIniFile ProjectIni(const std::string& fileName, const TProjectData& project)
{
    TIniFile ini = TIniFile::FromText("", fileName);
    ini.WriteString(kSettingsSection, kPictureKey, PicturePathToStore(fileName, project));
    WriteList(ini, kColumnsSection, project.Columns);
    WriteList(ini, kRowsSection, project.Rows);
    if (project.Output)
        for (const char* key : kOutputSectionKeys) {
            const auto value = project.Output->find(key);
            if (value != project.Output->end())
                ini.WriteString(kOutputSection, key, value->second);
        }
    WriteCellProperties(ini, project.Cells);
    return ini;
}

void WriteProjectFile(const std::string& fileName, const TProjectData& project)
{
    const TIniFile ini = ProjectIni(fileName, project);
    ini.UpdateFile([&fileName] { MakeBackup(fileName); });
}

TLoadedProject ReadProject(const TIniFile& ini, const std::string& defaultPictureFileName)
{
    TLoadedProject project;
    if (ini.ValueExists(kSettingsSection, kPictureKey)) {
        project.PictureFileName = ini.ReadString(kSettingsSection, kPictureKey, std::string());
        if (project.PictureFileName.size() > kMaxPictureFileNameLength)
            project.PictureFileName.resize(kMaxPictureFileNameLength);
    } else {
        project.PictureFileName = defaultPictureFileName;
    }
    project.Columns = ReadList(ini, kColumnsSection);
    project.Rows = ReadList(ini, kRowsSection);
    for (const char* key : kOutputSectionKeys)
        if (ini.ValueExists(kOutputSection, key)) {
            if (!project.Output)
                project.Output.emplace();
            (*project.Output)[key] = ini.ReadString(kOutputSection, key, std::string());
        }
    project.Cells = ReadCellProperties(ini);
    return project;
}

TLoadedProject ReadProjectFile(const std::string& fileName, const std::string& defaultPictureFileName)
{
    return ReadProject(TIniFile(fileName), defaultPictureFileName);
}

} // namespace sw
