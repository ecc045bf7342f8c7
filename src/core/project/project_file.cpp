#include "core/project/project_file.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"
#include "core/project/ini_file.h"
#include "core/project/safe_save.h"

#include <filesystem>

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

// The way from the project's folder to a file that lies in it or below;
// compared as written, without asking the file system.
std::optional<std::string> RelativeToProject(std::string_view projectFileName, std::string_view picture)
{
    namespace fs = std::filesystem;
    if (picture.empty())
        return std::nullopt;
    const std::string folderName = ExtractFilePath(projectFileName);
    const fs::path folder = fs::path(folderName.empty() ? std::string(".") : folderName).lexically_normal();
    const fs::path normal = fs::path(picture).lexically_normal();
    if (folder.is_absolute() != normal.is_absolute())
        return std::nullopt;
    const fs::path relative = normal.lexically_relative(folder);
    if (relative.empty() || relative == "." || *relative.begin() == "..")
        return std::nullopt;
    std::string text = relative.generic_string();
    if (fs::path(PicturePathOfProject(projectFileName, text)).lexically_normal() != normal)
        return std::nullopt;
    return text;
}

} // namespace

std::optional<TColor> TransparentColorFromText(std::string_view text)
{
    if (text.empty() || LowerCaseAscii(text) == "none")
        return clNone;
    return ParseRgbHex(text);
}

TColor TransparentColorOf(const TOutputValues& values, const std::string& where)
{
    const auto value = values.find(kTransparentKey);
    if (value == values.end())
        return clNone;
    const std::optional<TColor> color = TransparentColorFromText(value->second);
    if (!color)
        throw Exception(
            where + ": " + kTransparentKey + " expects RRGGBB or none, not '" + value->second + "'");
    return *color;
}

TColor TransparentColorOf(const std::optional<TOutputValues>& values, const std::string& where)
{
    return values ? TransparentColorOf(*values, where) : clNone;
}

void SetTransparentColor(std::optional<TOutputValues>& values, TColor color)
{
    if (color == clNone) {
        if (values) {
            values->erase(kTransparentKey);
            if (values->empty())
                values.reset();
        }
        return;
    }
    if (!values)
        values.emplace();
    (*values)[kTransparentKey] = HexRgb(ColorToRGB(color));
}

std::string PicturePathOfProject(std::string_view projectFileName, std::string_view pictureFileName)
{
    if (pictureFileName.empty() || pictureFileName.front() == kPathSeparator)
        return std::string(pictureFileName);
    return ExtractFilePath(projectFileName) + std::string(pictureFileName);
}

std::string PathToStoreInProject(std::string_view projectFileName, std::string_view path)
{
    namespace fs = std::filesystem;
    const std::string folder = ExtractFilePath(projectFileName);
    if (!folder.empty() && fs::path(path).lexically_normal() == fs::path(folder).lexically_normal())
        return ".";
    if (std::optional<std::string> relative = RelativeToProject(projectFileName, path))
        return *relative;
    return std::string(path);
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
    const std::string& stored = project.StoredPictureFileName;
    if (!stored.empty() && stored.front() != kPathSeparator
        && PicturePathOfProject(projectFileName, stored) == project.PictureFileName)
        return stored;
    if (std::optional<std::string> relative = RelativeToProject(projectFileName, project.PictureFileName))
        return *relative;
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
