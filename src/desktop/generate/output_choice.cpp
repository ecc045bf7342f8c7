#include "desktop/generate/output_choice.h"

#include "core/base/sysutils.h"
#include "core/generate/page_writer.h"
#include "desktop/shell/file_names.h"

#include <QFileInfo>

#include <algorithm>
#include <charconv>

namespace sw {

namespace {

std::string Switch(bool on)
{
    return on ? "1" : "0";
}

std::string Decibels(double value)
{
    char text[32];
    const auto [end, error] = std::to_chars(std::begin(text), std::end(text), value);
    return error == std::errc() ? std::string(text, end) : std::string();
}

// The run keys the dialog has controls for; NameTemplate is kept as stored.
constexpr const char* kShownRunKeys[] = { "PageStyle", "BaseUrl", "Scale", "AlsoHalfSize", "AutoFill", "Lang",
    "Title", "Description", "Sources", "Fold", "Breakpoint" };
// Those of them that say where the run writes.
constexpr const char* kPlaceKeys[] = { "WriteHtml", "PageFile", "OutputFolder" };

bool IsOneOf(const TRunKey* row, const char* const* begin, const char* const* end)
{
    return row && std::find_if(begin, end, [row](const char* key) { return FindRunKey(key) == row; }) != end;
}

// Sets key to text, or removes it for nothing, whatever case it was stored in.
void StoreRunKey(TOutputValues& output, const char* key, const std::optional<std::string>& text)
{
    const TRunKey* row = FindRunKey(key);
    for (auto it = output.begin(); it != output.end();)
        it = FindRunKey(it->first) == row ? output.erase(it) : std::next(it);
    if (text)
        output[row->Key] = *text;
}

} // namespace

std::string OutputText(const TCellFormat& format, std::string_view key)
{
    const TOutputKey* row = FindOutputKey(key);
    if (!row)
        return {};
    const std::string_view name = row->Key;
    if (name == "Format")
        return ImageTypeName(format.Type);
    if (name == "Colors")
        return IntToStr(format.Colors);
    if (name == "Dither")
        return format.Dither == TDither::FloydSteinberg ? "fs"
            : format.Dither == TDither::Ordered         ? "ordered"
                                                        : "none";
    if (name == "Quality")
        return IntToStr(format.Quality);
    if (name == "Progressive")
        return Switch(format.Progressive);
    if (name == "Subsampling")
        return format.Subsampling == TChromaSubsampling::Full ? "444" : "420";
    if (name == "MinPsnr")
        return Decibels(format.MinPsnr);
    if (name == "Alpha")
        return Switch(format.KeepAlpha);
    if (name == "MinScore")
        return format.MinScore ? Decibels(*format.MinScore) : std::string();
    if (name == "AvifSpeed")
        return IntToStr(format.AvifSpeed);
    if (name == "AutoAvif")
        return Switch(format.AutoAvif);
    return {};
}

TCellFormat ShownCellFormat(const std::optional<TOutputValues>& stored)
{
    TCellFormat format;
    if (!stored)
        return format;
    for (const auto& [key, text] : *stored)
        if (const TOutputKey* row = FindOutputKey(key))
            row->Apply(format, text); // a bad value leaves the default
    return format;
}

std::optional<TOutputValues> OutputAfterChoice(
    const std::optional<TOutputValues>& stored, const TCellFormat& chosen)
{
    const TCellFormat shown = ShownCellFormat(stored);
    TOutputValues after = stored.value_or(TOutputValues {});
    bool changed = false;
    for (const TOutputKey& row : OutputKeys()) {
        const std::string text = OutputText(chosen, row.Key);
        if (text == OutputText(shown, row.Key))
            continue; // as stored, or as absent
        changed = true;
        // A key stored in another case reads as the same key.
        for (auto it = after.begin(); it != after.end();)
            it = FindOutputKey(it->first) == &row ? after.erase(it) : std::next(it);
        after[row.Key] = text;
    }
    if (!changed)
        return stored;
    // Settings without their format would read as the web-cube GIF's.
    const TOutputKey* format = FindOutputKey("Format");
    bool formatStored = false;
    for (const auto& entry : after)
        formatStored = formatStored || FindOutputKey(entry.first) == format;
    if (!formatStored)
        after[format->Key] = ImageTypeName(chosen.Type);
    return after;
}

std::string RunText(const TGenerationSettings& settings, std::string_view key)
{
    const TRunKey* row = FindRunKey(key);
    if (!row)
        return {};
    const std::string_view name = row->Key;
    if (name == "PageStyle")
        return PageStyleName(settings.PageStyle);
    if (name == "BaseUrl")
        return settings.BaseUrl;
    if (name == "Scale")
        return IntToStr(settings.Scale);
    if (name == "AlsoHalfSize")
        return Switch(settings.AlsoHalfSize);
    if (name == "AutoFill")
        return Switch(settings.AutoFill);
    if (name == "Lang")
        return settings.Lang;
    if (name == "Title")
        return settings.Title;
    if (name == "Description")
        return settings.Description;
    if (name == "Sources")
        return SourceListText(settings.Sources);
    if (name == "Fold")
        return IntToStr(settings.Fold);
    if (name == "Breakpoint")
        return IntToStr(settings.Breakpoint);
    return {};
}

bool IsShownRunKey(std::string_view key)
{
    const TRunKey* row = FindRunKey(key);
    return IsOneOf(row, std::begin(kShownRunKeys), std::end(kShownRunKeys))
        || IsOneOf(row, std::begin(kPlaceKeys), std::end(kPlaceKeys));
}

TGenerationSettings ShownRunSettings(const std::optional<TOutputValues>& stored)
{
    TGenerationSettings settings;
    if (stored)
        for (const auto& [key, text] : *stored)
            if (const TRunKey* row = FindRunKey(key))
                row->Apply(settings, text); // a bad value leaves the default
    return settings;
}

std::optional<TOutputValues> RunAfterChoice(std::optional<TOutputValues> output,
    const std::optional<TOutputValues>& stored, const TGenerationSettings& chosen)
{
    const TGenerationSettings shown = ShownRunSettings(stored);
    const TGenerationSettings defaults;
    for (const char* key : kShownRunKeys) {
        const std::string text = RunText(chosen, key);
        if (text == RunText(shown, key))
            continue;
        if (!output)
            output.emplace();
        StoreRunKey(*output, key, text != RunText(defaults, key) ? std::optional(text) : std::nullopt);
    }
    return output;
}

TRunPlaces ShownRunPlaces(const std::optional<TOutputValues>& stored, const std::string& projectFileName)
{
    TRunPlaces places;
    if (!stored)
        return places;
    for (const auto& [key, text] : *stored) {
        const TRunKey* row = FindRunKey(key);
        if (row == FindRunKey("WriteHtml"))
            places.WriteHtml = text == "1";
        else if (row == FindRunKey("PageFile") && !text.empty())
            places.PageFile = PathOfProject(projectFileName, text);
        else if (row == FindRunKey("OutputFolder") && !text.empty())
            places.OutputFolder = PathOfProject(projectFileName, text);
    }
    return places;
}

std::optional<TOutputValues> PlacesAfterChoice(std::optional<TOutputValues> output, const TRunPlaces& shown,
    const TRunPlaces& chosen, const TRunPlaces& defaults, const std::string& projectFileName)
{
    const auto place = [&](const char* key, bool changed, bool atDefault, const std::string& text) {
        if (!changed)
            return;
        if (!output)
            output.emplace();
        StoreRunKey(*output, key, atDefault ? std::nullopt : std::optional(text));
    };
    place("WriteHtml", chosen.WriteHtml != shown.WriteHtml, chosen.WriteHtml == defaults.WriteHtml,
        Switch(chosen.WriteHtml));
    place("PageFile", chosen.PageFile != shown.PageFile, chosen.PageFile == defaults.PageFile,
        PathToStoreInProject(projectFileName, chosen.PageFile));
    place("OutputFolder", chosen.OutputFolder != shown.OutputFolder,
        chosen.OutputFolder == defaults.OutputFolder,
        PathToStoreInProject(projectFileName, chosen.OutputFolder));
    return output;
}

QString DefaultOutputFolder(const QString& desktop, const std::string& projectFileName, const QString& home)
{
    const QString project = FileNameFromCore(OutputPathOfPage(projectFileName));
    for (const QString& folder : { desktop, project })
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return folder;
    return home;
}

std::string OutputPathOfPage(const std::string& pageFileName)
{
    std::string folder = ExtractFilePath(pageFileName);
    if (!folder.empty() && folder.back() == kPathSeparator)
        folder.pop_back();
    return folder;
}

bool IsSnippetPage(const std::string& pageFileName)
{
    return PageKindOf(pageFileName).SnippetHeader;
}

} // namespace sw
