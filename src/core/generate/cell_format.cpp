#include "core/generate/cell_format.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <utility>

namespace sw {

namespace {

constexpr std::array<std::pair<TImageType, const char*>, 11> kTypeNames { {
    { TImageType::Gif, "gif" },
    { TImageType::GifAdaptive, "gif-adaptive" },
    { TImageType::Png8, "png8" },
    { TImageType::Png, "png" },
    { TImageType::Jpg, "jpg" },
    { TImageType::Jpeg, "jpeg" },
    { TImageType::Webp, "webp" },
    { TImageType::WebpLossless, "webp-lossless" },
    { TImageType::Auto, "auto" },
    { TImageType::Avif, "avif" },
    { TImageType::AvifLossless, "avif-lossless" },
} };

} // namespace

std::string ImageTypeName(TImageType type)
{
    for (const auto& [known, name] : kTypeNames)
        if (known == type)
            return name;
    return "gif";
}

std::optional<TImageType> ImageTypeOfName(std::string_view name)
{
    for (const auto& [type, typeName] : kTypeNames)
        if (name == typeName)
            return type;
    return std::nullopt;
}

bool IsMailSafe(TImageType type)
{
    switch (type) {
    case TImageType::Gif:
    case TImageType::GifAdaptive:
    case TImageType::Png8:
    case TImageType::Png:
    case TImageType::Jpg:
    case TImageType::Jpeg:
        return true;
    case TImageType::Webp:
    case TImageType::WebpLossless:
    case TImageType::Auto:
    case TImageType::Avif:
    case TImageType::AvifLossless:
        break;
    }
    return false;
}

} // namespace sw
