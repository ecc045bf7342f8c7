#include "core/base/errors.h"
#include "core/base/sysutils.h"
#include "core/generate/cell_format.h"
#include "core/generate/run_settings.h"
#include "core/project/project_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

// The one table of a project's [Output] keys: what each value must be and
// where it goes, the cells' format or the run's settings. A new key is one
// row here and its name in the project file's list.

namespace sw {

namespace {

std::optional<int> WholeNumber(std::string_view text, int low, int high)
{
    const std::optional<int32_t> value = TryStrToInt(text);
    if (!value || *value < low || *value > high)
        return std::nullopt;
    return *value;
}

std::optional<bool> Switch(std::string_view text)
{
    if (text == "0" || text == "1")
        return text == "1";
    return std::nullopt;
}

bool ApplyFormat(TCellFormat& format, std::string_view text)
{
    const std::optional<TImageType> type = ImageTypeOfName(text);
    if (type)
        format.Type = *type;
    return type.has_value();
}

bool ApplyColors(TCellFormat& format, std::string_view text)
{
    const auto colors = WholeNumber(text, kMinPaletteColors, kMaxPaletteColors);
    if (colors)
        format.Colors = *colors;
    return colors.has_value();
}

bool ApplyDither(TCellFormat& format, std::string_view text)
{
    if (text == "none")
        format.Dither = TDither::None;
    else if (text == "fs")
        format.Dither = TDither::FloydSteinberg;
    else if (text == "ordered")
        format.Dither = TDither::Ordered;
    else
        return false;
    return true;
}

bool ApplyQuality(TCellFormat& format, std::string_view text)
{
    const auto quality = WholeNumber(text, 1, 100);
    if (quality)
        format.Quality = *quality;
    return quality.has_value();
}

bool ApplyProgressive(TCellFormat& format, std::string_view text)
{
    const auto on = Switch(text);
    if (on)
        format.Progressive = *on;
    return on.has_value();
}

bool ApplySubsampling(TCellFormat& format, std::string_view text)
{
    if (text == "420")
        format.Subsampling = TChromaSubsampling::Half;
    else if (text == "444")
        format.Subsampling = TChromaSubsampling::Full;
    else
        return false;
    return true;
}

std::optional<double> Number(std::string_view text, double low, double high)
{
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value) || value < low
        || value > high)
        return std::nullopt;
    return value;
}

bool ApplyMinPsnr(TCellFormat& format, std::string_view text)
{
    const auto value = Number(text, 1, 100);
    if (value)
        format.MinPsnr = *value;
    return value.has_value();
}

// Butteraugli distances past 25 no longer rank pictures. Empty, as a
// template's "MinScore=" line, leaves the floor off.
bool ApplyMinScore(TCellFormat& format, std::string_view text)
{
    if (text.empty()) {
        format.MinScore.reset();
        return true;
    }
    const auto value = Number(text, 0.1, 25);
    if (value)
        format.MinScore = *value;
    return value.has_value();
}

bool ApplyAvifSpeed(TCellFormat& format, std::string_view text)
{
    const auto speed = WholeNumber(text, kMinAvifSpeed, kMaxAvifSpeed);
    if (speed)
        format.AvifSpeed = *speed;
    return speed.has_value();
}

bool ApplyAutoAvif(TCellFormat& format, std::string_view text)
{
    const auto on = Switch(text);
    if (on)
        format.AutoAvif = *on;
    return on.has_value();
}

bool ApplyAlpha(TCellFormat& format, std::string_view text)
{
    const auto on = Switch(text);
    if (on)
        format.KeepAlpha = *on;
    return on.has_value();
}

bool ApplyPageStyle(TGenerationSettings& settings, std::string_view text)
{
    const std::optional<TPageStyle> style = PageStyleFromName(text);
    if (style)
        settings.PageStyle = *style;
    return style.has_value();
}

bool ApplyScale(TGenerationSettings& settings, std::string_view text)
{
    if (text != "1" && text != "2")
        return false;
    settings.Scale = text == "1" ? 1 : 2;
    return true;
}

// Which page of a PDF design is the picture.
bool ApplyPicturePage(TGenerationSettings& settings, std::string_view text)
{
    const std::optional<int32_t> page = TryStrToInt(text);
    if (!page || *page < 1 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    settings.PicturePage = *page;
    return true;
}

// The template's fields are checked with the cells' names, where a bad one
// can name the cell it would have named.
bool ApplyNameTemplate(TGenerationSettings& settings, std::string_view text)
{
    settings.NameTemplate = text;
    return true;
}

// Every image's address starts with it, so it must not bring in a scheme
// that runs code.
bool ApplyBaseUrl(TGenerationSettings& settings, std::string_view text)
{
    if (!IsSafeLink(text))
        return false;
    settings.BaseUrl = text;
    return true;
}

// The colour itself goes to the run with its input, as the desktop's
// picked colour does; here it is only checked.
bool CheckTransparent(TGenerationSettings&, std::string_view text)
{
    return TransparentColorFromText(text).has_value();
}

// A BCP 47 tag as pages carry it: letters, digits and hyphens in subtags of
// one to eight, the first of letters.
bool ApplyLang(TGenerationSettings& settings, std::string_view text)
{
    size_t start = 0;
    bool first = true;
    while (start <= text.size()) {
        const size_t end = std::min(text.find('-', start), text.size());
        const std::string_view part = text.substr(start, end - start);
        if (part.empty() || part.size() > 8)
            return false;
        for (const char c : part) {
            const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            if (!letter && (first || c < '0' || c > '9'))
                return false;
        }
        first = false;
        start = end + 1;
    }
    settings.Lang = text;
    return true;
}

// A list such as "avif,webp"; empty for none. Two sources of one file
// extension would be one file.
bool ApplySources(TGenerationSettings& settings, std::string_view text)
{
    std::vector<TImageType> sources;
    size_t start = 0;
    while (!text.empty() && start <= text.size()) {
        const size_t end = std::min(text.find(',', start), text.size());
        std::string_view name = text.substr(start, end - start);
        while (!name.empty() && name.front() == ' ')
            name.remove_prefix(1);
        while (!name.empty() && name.back() == ' ')
            name.remove_suffix(1);
        const std::optional<TImageType> type = ImageTypeOfName(LowerCaseAscii(name));
        if (!type
            || (*type != TImageType::Avif && *type != TImageType::AvifLossless && *type != TImageType::Webp
                && *type != TImageType::WebpLossless))
            return false;
        for (const TImageType other : sources)
            if (ImageExtension(other) == ImageExtension(*type))
                return false;
        sources.push_back(*type);
        start = end + 1;
    }
    settings.Sources = std::move(sources);
    return true;
}

template <int TGenerationSettings::*Field, int Low, int High>
bool ApplyNumber(TGenerationSettings& settings, std::string_view text)
{
    const auto value = WholeNumber(text, Low, High);
    if (value)
        settings.*Field = *value;
    return value.has_value();
}

template <std::string TGenerationSettings::*Field>
bool ApplyText(TGenerationSettings& settings, std::string_view text)
{
    settings.*Field = text;
    return true;
}

template <bool TGenerationSettings::*Field>
bool ApplySwitch(TGenerationSettings& settings, std::string_view text)
{
    if (text != "0" && text != "1")
        return false;
    settings.*Field = text == "1";
    return true;
}

struct TSectionKey {
    const char* Key;
    const char* Expects;
    bool (*Format)(TCellFormat& format, std::string_view text) = nullptr;
    bool (*Run)(TGenerationSettings& settings, std::string_view text) = nullptr;
};

// In the order the project file writes them.
constexpr TSectionKey kSectionKeys[] = {
    { "Format", "gif, gif-adaptive, png8, png, jpg, jpeg, webp, webp-lossless, auto, avif or avif-lossless",
        ApplyFormat },
    { "Colors", "a whole number from 2 to 256", ApplyColors },
    { "Dither", "none, fs or ordered", ApplyDither },
    { "Quality", "a whole number from 1 to 100", ApplyQuality },
    { "Progressive", "0 or 1", ApplyProgressive },
    { "Subsampling", "420 or 444", ApplySubsampling },
    { "MinPsnr", "a number of decibels from 1 to 100", ApplyMinPsnr },
    { "Alpha", "0 or 1", ApplyAlpha },
    { "MinScore", "a butteraugli distance from 0.1 to 25, or nothing", ApplyMinScore },
    { "AvifSpeed", "a whole number from 0 to 10", ApplyAvifSpeed },
    { "AutoAvif", "0 or 1", ApplyAutoAvif },
    { "PageStyle", "classic, html5, email or grid", nullptr, ApplyPageStyle },
    { "Scale", "1 or 2", nullptr, ApplyScale },
    { "PicturePage", "a page number from 1 up", nullptr, ApplyPicturePage },
    { "NameTemplate", "a file name with {row}, {col} or {project} in it", nullptr, ApplyNameTemplate },
    { "BaseUrl", "an http: or https: address or a relative path", nullptr, ApplyBaseUrl },
    { "Preheader", "a line of text", nullptr, ApplyText<&TGenerationSettings::Preheader> },
    { "AlsoHalfSize", "0 or 1", nullptr, ApplySwitch<&TGenerationSettings::AlsoHalfSize> },
    { "AutoFill", "0 or 1", nullptr, ApplySwitch<&TGenerationSettings::AutoFill> },
    { "Lang", "a language tag such as en or pt-BR", nullptr, ApplyLang },
    { "Title", "the page's title", nullptr, ApplyText<&TGenerationSettings::Title> },
    { "Description", "the page's description", nullptr, ApplyText<&TGenerationSettings::Description> },
    { "Sources", "a list of avif, avif-lossless, webp or webp-lossless, one of each extension", nullptr,
        ApplySources },
    { "Fold", "a whole number of pixels from 0 to 1000000", nullptr,
        ApplyNumber<&TGenerationSettings::Fold, 0, 1000000> },
    { "Breakpoint", "a whole number of CSS pixels from 0 to 100000", nullptr,
        ApplyNumber<&TGenerationSettings::Breakpoint, 0, 100000> },
    { "Transparent", "RRGGBB or none", nullptr, CheckTransparent },
    // Where the run writes, as the project stores it: a path relative to
    // the project's folder is made whole by the host (PathOfProject).
    { "WriteHtml", "0 or 1", nullptr, ApplySwitch<&TGenerationSettings::WriteHTML> },
    { "PageFile", "a file name", nullptr, ApplyText<&TGenerationSettings::PageFileName> },
    { "OutputFolder", "a folder", nullptr, ApplyText<&TGenerationSettings::OutputFolder> },
};

template <typename TRow> const TRow* FindRow(const std::vector<TRow>& rows, std::string_view key)
{
    const std::string folded = LowerCaseAscii(key);
    for (const TRow& row : rows)
        if (LowerCaseAscii(row.Key) == folded)
            return &row;
    return nullptr;
}

[[noreturn]] void FailValue(
    const std::string& where, const char* key, const char* expects, const std::string& text)
{
    throw Exception(where + ": " + key + " expects " + expects + ", not '" + text + "'");
}

} // namespace

std::vector<std::string> OutputSectionKeyNames()
{
    std::vector<std::string> names;
    for (const TSectionKey& row : kSectionKeys)
        names.push_back(row.Key);
    return names;
}

const std::vector<TOutputKey>& OutputKeys()
{
    static const std::vector<TOutputKey> keys = [] {
        std::vector<TOutputKey> rows;
        for (const TSectionKey& row : kSectionKeys)
            if (row.Format)
                rows.push_back({ row.Key, row.Expects, row.Format });
        return rows;
    }();
    return keys;
}

const TOutputKey* FindOutputKey(std::string_view key)
{
    return FindRow(OutputKeys(), key);
}

TCellFormat CellFormatOf(const TOutputValues& values, const std::string& where, TCellFormat base)
{
    for (const auto& [key, text] : values) {
        const TOutputKey* row = FindOutputKey(key);
        if (row && !row->Apply(base, text))
            FailValue(where, row->Key, row->Expects, text);
    }
    return base;
}

const std::vector<TRunKey>& RunKeys()
{
    static const std::vector<TRunKey> keys = [] {
        std::vector<TRunKey> rows;
        for (const TSectionKey& row : kSectionKeys)
            if (row.Run)
                rows.push_back({ row.Key, row.Expects, row.Run });
        return rows;
    }();
    return keys;
}

const TRunKey* FindRunKey(std::string_view key)
{
    return FindRow(RunKeys(), key);
}

TRenderOptions PictureRenderOptions(const std::optional<TOutputValues>& values)
{
    TGenerationSettings settings;
    if (values)
        for (const char* key : { "Scale", "PicturePage" })
            if (const auto it = values->find(key); it != values->end())
                FindRunKey(key)->Apply(settings, it->second);
    return PictureRenderOptions(settings);
}

void ApplyRunValues(TGenerationSettings& settings, const TOutputValues& values, const std::string& where)
{
    for (const auto& [key, text] : values) {
        const TRunKey* row = FindRunKey(key);
        if (row && !row->Apply(settings, text))
            FailValue(where, row->Key, row->Expects, text);
    }
}

} // namespace sw
