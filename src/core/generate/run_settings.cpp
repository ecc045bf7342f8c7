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
    case TImageType::Avif:
    case TImageType::AvifLossless:
        return ".avif";
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

bool UsesSources(const TGenerationSettings& settings)
{
    return !settings.Sources.empty()
        && (settings.PageStyle == TPageStyle::Html5 || settings.PageStyle == TPageStyle::Grid);
}

std::string SourceListText(const std::vector<TImageType>& sources)
{
    std::string text;
    for (const TImageType type : sources)
        text += (text.empty() ? "" : ",") + ImageTypeName(type);
    return text;
}

std::string RunNameTemplate(const TGenerationSettings& settings, bool hasColumnLines)
{
    if (!settings.NameTemplate.empty())
        return settings.NameTemplate;
    return hasColumnLines ? std::string(kDefaultNameTemplate) : std::string("r{row}");
}

} // namespace sw
