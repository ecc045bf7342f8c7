#include "core/project/project_file.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"
#include "core/project/ini_file.h"
#include "core/project/safe_save.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <optional>

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

// The numbers n of the section's Position<n> keys, ascending; n counts
// from 1 in plain decimal.
std::vector<int64_t> PositionNumbers(const TIniFile& ini, const char* section)
{
    constexpr std::string_view kPrefix = "position";
    std::vector<int64_t> numbers;
    for (const std::string& key : ini.KeysOf(section)) {
        const std::string folded = LowerCaseAscii(key);
        if (folded.size() <= kPrefix.size() || folded.size() > kPrefix.size() + 9
            || folded.compare(0, kPrefix.size(), kPrefix) != 0)
            continue;
        const std::string digits = folded.substr(kPrefix.size());
        if (digits.front() == '0' || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        numbers.push_back(std::stoll(digits));
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

// Every line the section holds, in the order of their numbers. A line that
// cannot be used (no whole number from 0 up, or a number missing between
// two lines) is left out with a warning naming its key, and the lines after
// it still count.
std::vector<TStoredLine> ReadList(
    const TIniFile& ini, const char* section, const char* kind, std::vector<std::string>& warnings)
{
    std::vector<TStoredLine> lines;
    int64_t expected = 1;
    for (const int64_t n : PositionNumbers(ini, section)) {
        if (n > expected)
            warnings.push_back(n == expected + 1
                    ? Format("%s line Position%lld missing", kind, static_cast<long long>(expected))
                    : Format("%s lines Position%lld to Position%lld missing", kind,
                        static_cast<long long>(expected), static_cast<long long>(n - 1)));
        expected = n + 1;
        const std::string suffix = IntToStr(n);
        const std::string text = ini.ReadString(section, "Position" + suffix, std::string());
        const std::optional<int32_t> position = TryStrToInt(text);
        if (!position || *position < 0) {
            warnings.push_back(
                Format("%s line Position%s=%s ignored: a position is a whole number from 0 to %d", kind,
                    suffix.c_str(), text.c_str(), INT32_MAX));
            continue;
        }
        lines.push_back({ *position, ini.ReadBool(section, "Checked" + suffix, true) });
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
    project.Columns = ReadList(ini, kColumnsSection, "column", project.Warnings);
    project.Rows = ReadList(ini, kRowsSection, "row", project.Warnings);
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
