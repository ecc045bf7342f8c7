#include "core/generate/run_settings.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"

#include <optional>

namespace sw {

std::string WithTrailingBackslash(std::string_view folder)
{
    std::string result(folder);
    if (result.empty() || result.back() != kPathSeparator)
        result += kPathSeparator;
    return result;
}

std::string ImageExtension(TImageType imageType)
{
    switch (imageType) {
    case TImageType::Gif:
        return ".gif";
    case TImageType::Jpg:
        return ".jpg";
    case TImageType::Jpeg:
        return ".jpeg";
    case TImageType::GifAdaptive:
        return ".gif";
    case TImageType::Webp:
    case TImageType::WebpLossless:
        return ".webp";
    case TImageType::Png8:
    case TImageType::Png:
    case TImageType::Auto:
        break;
    }
    return ".png";
}

TImageType ImageTypeOfIndex(int index)
{
    return index == 0 ? TImageType::Gif : index == 1 ? TImageType::Jpg : TImageType::Jpeg;
}

std::string ImageExtension(int imageType)
{
    return ImageExtension(ImageTypeOfIndex(imageType));
}

namespace {

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

// The template's fields are checked with the cells' names, where a bad one
// can name the cell it would have named.
bool ApplyNameTemplate(TGenerationSettings& settings, std::string_view text)
{
    settings.NameTemplate = text;
    return true;
}

bool ApplyBaseUrl(TGenerationSettings& settings, std::string_view text)
{
    settings.BaseUrl = text;
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

} // namespace

std::string RunNameTemplate(const TGenerationSettings& settings, bool hasColumnLines)
{
    if (!settings.NameTemplate.empty())
        return settings.NameTemplate;
    return hasColumnLines ? std::string(kDefaultNameTemplate) : std::string("r{row}");
}

const std::vector<TRunKey>& RunKeys()
{
    static const std::vector<TRunKey> keys = {
        { "PageStyle", "classic, html5, email or grid", ApplyPageStyle },
        { "Scale", "1 or 2", ApplyScale },
        { "NameTemplate", "a file name with {row}, {col} or {project} in it", ApplyNameTemplate },
        { "BaseUrl", "an address", ApplyBaseUrl },
        { "AlsoHalfSize", "0 or 1", ApplySwitch<&TGenerationSettings::AlsoHalfSize> },
        { "AutoFill", "0 or 1", ApplySwitch<&TGenerationSettings::AutoFill> },
    };
    return keys;
}

const TRunKey* FindRunKey(std::string_view key)
{
    const std::string folded = LowerCaseAscii(key);
    for (const TRunKey& row : RunKeys())
        if (LowerCaseAscii(row.Key) == folded)
            return &row;
    return nullptr;
}

void ApplyRunValues(TGenerationSettings& settings, const TOutputValues& values, const std::string& where)
{
    for (const auto& [key, text] : values) {
        const TRunKey* row = FindRunKey(key);
        if (row && !row->Apply(settings, text))
            throw Exception(where + ": " + row->Key + " expects " + row->Expects + ", not '" + text + "'");
    }
}

} // namespace sw
