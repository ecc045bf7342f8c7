#pragma once

// The project file: the picture's path and both cut-line lists with their
// check marks, in INI form (sections Settings, Columns, Rows), and the
// cells' output settings when the project has them (section Output), and
// the properties of single cells (section Cells).

#include "core/project/cell_properties.h"
#include "core/project/cut_lines.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sw {

class TIniFile;

// The longest picture path a project file gives back; longer values are cut.
constexpr size_t kMaxPictureFileNameLength = 2047;

// The [Output] section's values by key, as text: the keys of
// kOutputSectionKeys, spelled as there. Their meaning is the generation
// run's, whose table of keys (OutputSectionKeyNames) this list follows
// name for name; here they are only kept.
using TOutputValues = std::map<std::string, std::string>;
inline constexpr const char* kOutputSectionKeys[] = { "Format", "Colors", "Dither", "Quality", "Progressive",
    "Subsampling", "MinPsnr", "Alpha", "MinScore", "AvifSpeed", "AutoAvif", "PageStyle", "Scale",
    "PicturePage", "NameTemplate", "BaseUrl", "Preheader", "AlsoHalfSize", "AutoFill", "Lang", "Title",
    "Description", "Sources", "Fold", "Breakpoint", "Transparent", "WriteHtml", "PageFile", "OutputFolder" };

// [Output] Transparent: the colour every cell leaves transparent, "RRGGBB"
// (a leading '#' allowed); absent, empty or "none" (any case) for none.
constexpr const char* kTransparentKey = "Transparent";
// The colour a Transparent value names: clNone for none, nothing for text
// that is neither a colour nor none.
std::optional<TColor> TransparentColorFromText(std::string_view text);
// The colour values say, clNone without the key; a bad value fails with
// Exception "WHERE: Transparent expects RRGGBB or none, not 'TEXT'".
TColor TransparentColorOf(const TOutputValues& values, const std::string& where);
TColor TransparentColorOf(const std::optional<TOutputValues>& values, const std::string& where);
// Sets the key to the colour as RRGGBB, or removes it for clNone; a section
// left without keys goes, so a project that had none stays without.
void SetTransparentColor(std::optional<TOutputValues>& values, TColor color);

// What a save writes.
struct TProjectData {
    std::string PictureFileName;
    std::vector<TCutLineEntry> Columns;
    std::vector<TCutLineEntry> Rows;
    // The picture's path as the project file held it when it was opened. A
    // relative one is written in place of PictureFileName while it still
    // names the same picture from where the file is saved.
    std::string StoredPictureFileName {};
    // Written as the [Output] section when present: a project opened with
    // one keeps it, one without stays without.
    std::optional<TOutputValues> Output {};
    // Written as the [Cells] section; no cell with properties, no section.
    TCellPropertyMap Cells {};
};

// One stored line as read back, in file order, before any bounds test.
struct TStoredLine {
    int32_t Position = 0;
    bool Checked = true;
    bool operator==(const TStoredLine&) const = default;
};

// What a load gives back.
struct TLoadedProject {
    std::string PictureFileName;
    std::vector<TStoredLine> Columns;
    std::vector<TStoredLine> Rows;
    // Present when the file has any of the [Output] keys.
    std::optional<TOutputValues> Output {};
    TCellPropertyMap Cells {};
    // The stored lines that could not be used, each naming its key: "column
    // line Position2=-5 ignored: ...", "row line Position3 missing".
    std::vector<std::string> Warnings {};
};

// The backup's name: the extension of the name's file-name part replaced by
// ".bak", or ".bak" appended when there is none.
std::string BackupFileName(std::string_view projectFileName);

// The picture a project names, as a path to open: a name stored without a
// full path is taken to sit beside the project file, so a project and its
// picture can move together.
std::string PicturePathOfProject(std::string_view projectFileName, std::string_view pictureFileName);
// A path a project keeps for its run (the page file, the output folder):
// one inside the project's folder is stored relative to it ("." for the
// folder itself), so the project and its output can move together; any
// other is stored as it is. PathOfProject reads it back as a path to use.
std::string PathToStoreInProject(std::string_view projectFileName, std::string_view path);
std::string PathOfProject(std::string_view projectFileName, std::string_view storedPath);

// The project as an INI file bound to fileName (nothing is written).
TIniFile ProjectIni(const std::string& fileName, const TProjectData& project);

// The picture path a save writes: the stored text while it is relative and
// names the picture PictureFileName names; else the way from the project's
// folder when the picture lies in it or below, so the two can move
// together; else PictureFileName.
std::string PicturePathToStore(std::string_view projectFileName, const TProjectData& project);

// Saves the project. The complete file is built first; a regular copy of an
// existing file then replaces the ".bak", and the new file replaces the
// project file atomically. A project name that is a symbolic link is saved
// through: the file it points to is replaced, the link stays. "Unable to
// write to %s" when either step fails, with the project file as it was, the
// older backup or the new copy as the ".bak", and no temporary file left.
void WriteProjectFile(const std::string& fileName, const TProjectData& project);

// Reads the picture path (defaultPictureFileName when the key is missing,
// empty when its value is) and, for each list, every Position<n> in the
// order of n with its Checked<n> (default true, true when not 0); a
// position that is not a whole number from 0 up, and a number missing
// between two keys, is a warning and the later lines still count. Then the
// [Output] keys present and the [Cells]
// section (a key or value there that cannot be read fails with
// ECellPropertyError naming the cell). A file that does not exist reads as
// if every key were missing. Fails with EIniFileException for a file that cannot be
// read or is larger than kMaxIniFileSize.
TLoadedProject ReadProjectFile(const std::string& fileName, const std::string& defaultPictureFileName);
// The same rules over an INI file already in memory.
TLoadedProject ReadProject(const TIniFile& ini, const std::string& defaultPictureFileName);

} // namespace sw
