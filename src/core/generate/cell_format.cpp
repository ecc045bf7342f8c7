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
    for (const auto& [type, typeName] : kTypeNames)
        if (text == typeName) {
            format.Type = type;
            return true;
        }
    return false;
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

} // namespace

std::string ImageTypeName(TImageType type)
{
    for (const auto& [known, name] : kTypeNames)
        if (known == type)
            return name;
    return "gif";
}

const std::vector<TOutputKey>& OutputKeys()
{
    static const std::vector<TOutputKey> keys = {
        { "Format",
            "gif, gif-adaptive, png8, png, jpg, jpeg, webp, webp-lossless, auto, avif or avif-lossless",
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
    };
    return keys;
}

const TOutputKey* FindOutputKey(std::string_view key)
{
    const std::string folded = LowerCaseAscii(key);
    for (const TOutputKey& row : OutputKeys())
        if (LowerCaseAscii(row.Key) == folded)
            return &row;
    return nullptr;
}

TCellFormat CellFormatOf(const TOutputValues& values, const std::string& where, TCellFormat base)
{
    for (const auto& [key, text] : values) {
        const TOutputKey* row = FindOutputKey(key);
        if (row && !row->Apply(base, text))
            throw Exception(where + ": " + row->Key + " expects " + row->Expects + ", not '" + text + "'");
    }
    return base;
}

} // namespace sw
