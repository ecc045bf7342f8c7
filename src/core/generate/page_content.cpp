#include "core/generate/page_content.h"

#include "core/base/sysutils.h"
#include "core/generate/cell_pixels.h"
#include "core/generate/page_markup.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <utility>
#include <vector>

namespace sw {

namespace {

// A pixel this far (largest channel difference) from the ground is ink;
// anti-aliased edges count too, but each of their colours is rare.
constexpr int kInkDistance = 48;
// A button's face keeps its colour within this much (gradients, noise).
constexpr int kFaceDistance = 24;
// A line of text's ink, from the top of its capitals to the foot of its
// descenders, is about this share of the font size.
constexpr double kInkPerSize = 0.95;
constexpr int kMinTextSize = 6;
// Of the ink's colours, only the most frequent few can be the text's own.
constexpr size_t kInkCandidates = 8;

struct TBox {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    bool Empty() const { return Right <= Left || Bottom <= Top; }
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool Contains(int x, int y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
};

TColor PixelAt(const TPixelView& pixels, int x, int y)
{
    const uint8_t* bgr = pixels.Row(y) + ptrdiff_t(x) * 3;
    return RGB(bgr[2], bgr[1], bgr[0]);
}

int Distance(TColor a, TColor b)
{
    return std::max({ std::abs(GetRValue(a) - GetRValue(b)), std::abs(GetGValue(a) - GetGValue(b)),
        std::abs(GetBValue(a) - GetBValue(b)) });
}

// Where the ink within box lies, the height of its tallest band of rows
// (a line of text) and the rows each band starts at.
struct TInk {
    TBox Box;
    int TallestLine = 0;
    std::vector<int> LineStarts;
};

TInk InkOf(const TPixelView& pixels, const TBox& box, TColor ground)
{
    TInk ink;
    ink.Box = { box.Right, box.Bottom, box.Left, box.Top };
    int line = 0;
    for (int y = box.Top; y < box.Bottom; ++y) {
        bool any = false;
        for (int x = box.Left; x < box.Right; ++x)
            if (Distance(PixelAt(pixels, x, y), ground) > kInkDistance) {
                any = true;
                ink.Box.Left = std::min(ink.Box.Left, x);
                ink.Box.Right = std::max(ink.Box.Right, x + 1);
            }
        if (any && line == 0)
            ink.LineStarts.push_back(y);
        line = any ? line + 1 : 0;
        ink.TallestLine = std::max(ink.TallestLine, line);
        if (any) {
            ink.Box.Top = std::min(ink.Box.Top, y);
            ink.Box.Bottom = std::max(ink.Box.Bottom, y + 1);
        }
    }
    return ink;
}

TColor ReadableOn(TColor ground)
{
    return ContrastRatio(clBlack, ground) >= ContrastRatio(clWhite, ground) ? clBlack : clWhite;
}

// WCAG AA: 4.5 for body text, 3 for large text (24 px, or 18.67 px bold).
double NeededContrast(int size, bool bold)
{
    return size >= 24 || (bold && size * 3 >= 56) ? 3.0 : 4.5;
}

// The design's ink colour when it reads well enough on ground.
TColor InkColor(const TPixelView& pixels, const TBox& box, TColor ground, double needed)
{
    std::unordered_map<TColor, int> counts;
    for (int y = box.Top; y < box.Bottom; ++y)
        for (int x = box.Left; x < box.Right; ++x)
            if (const TColor c = PixelAt(pixels, x, y); Distance(c, ground) > kInkDistance)
                ++counts[c];
    std::vector<std::pair<int, TColor>> ranked;
    for (const auto& [color, count] : counts)
        ranked.emplace_back(count, color);
    // Ties go to the lower colour value, so the choice does not hang on the map's order.
    std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    for (size_t k = 0; k < ranked.size() && k < kInkCandidates; ++k)
        if (ContrastRatio(ranked[k].second, ground) >= needed)
            return ranked[k].second;
    return ReadableOn(ground);
}

TColor Dominant(const TPixelView& pixels, TBand columns, TBand rows)
{
    return DominantColor(CutOut(pixels, columns, rows));
}

// A rounded corner leaves ground along the diagonal into the face: a
// circle of radius r leaves r (1 - 1/sqrt 2) of it.
int DesignRadius(const TPixelView& pixels, const TBox& face, TColor faceColor)
{
    int gap = 0;
    const int most = std::min(face.Width(), face.Height()) / 2;
    while (
        gap < most && Distance(PixelAt(pixels, face.Left + gap, face.Top + gap), faceColor) > kFaceDistance)
        ++gap;
    return static_cast<int>(std::lround(gap / (1 - 1 / std::sqrt(2.0))));
}

// The bounding box of the pixels of face's colour; the whole cell when none are.
TBox FaceBox(const TPixelView& pixels, TColor face)
{
    TBox box { pixels.Width, pixels.Height, 0, 0 };
    for (int y = 0; y < pixels.Height; ++y)
        for (int x = 0; x < pixels.Width; ++x)
            if (Distance(PixelAt(pixels, x, y), face) <= kFaceDistance) {
                box.Left = std::min(box.Left, x);
                box.Top = std::min(box.Top, y);
                box.Right = std::max(box.Right, x + 1);
                box.Bottom = std::max(box.Bottom, y + 1);
            }
    return box.Empty() ? TBox { 0, 0, pixels.Width, pixels.Height } : box;
}

TColor AroundFace(const TPixelView& pixels, const TBox& face)
{
    std::unordered_map<TColor, int> counts;
    for (int y = 0; y < pixels.Height; ++y)
        for (int x = 0; x < pixels.Width; ++x)
            if (!face.Contains(x, y))
                ++counts[PixelAt(pixels, x, y)];
    if (counts.empty())
        return PixelAt(pixels, 0, 0);
    return std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second < b.second : a.first > b.first;
    })->first;
}

const char* AlignName(TTextAlign align)
{
    switch (align) {
    case TTextAlign::Center:
        return "center";
    case TTextAlign::Right:
        return "right";
    default:
        return "left";
    }
}

TTextAlign DesignAlign(const TInk& ink, int width)
{
    if (ink.Box.Empty())
        return TTextAlign::Left;
    const int left = ink.Box.Left;
    const int right = width - ink.Box.Right;
    if (std::abs(left - right) <= std::max(2, width / 20))
        return TTextAlign::Center;
    return left < right ? TTextAlign::Left : TTextAlign::Right;
}

int LineHeightOf(int size)
{
    return (size * 5 + 2) / 4;
}

void ContentOfText(TPageContent& content, const TCellProperties& properties, const TPixelView& pixels,
    int scale, std::optional<TColor> fill)
{
    const int height = pixels.Height / scale;
    const TBox whole { 0, 0, pixels.Width, pixels.Height };
    content.Background = fill ? *fill : Dominant(pixels, { 0, pixels.Width }, { 0, pixels.Height });
    const TInk ink = InkOf(pixels, whole, content.Background);

    const TTextAlign align
        = properties.TextAlign != TTextAlign::Auto ? properties.TextAlign : DesignAlign(ink, pixels.Width);
    content.Align = AlignName(align);
    if (properties.TextPadding) {
        content.Padding = *properties.TextPadding;
    } else if (!ink.Box.Empty()) {
        // The design's margin on the side the text keeps to.
        if (align == TTextAlign::Left)
            content.Padding[3] = ink.Box.Left / scale;
        else if (align == TTextAlign::Right)
            content.Padding[1] = (pixels.Width - ink.Box.Right) / scale;
    }
    const int lines = static_cast<int>(CellTextLines(content.Text).size());
    const int room = height - content.Padding[0] - content.Padding[2];
    if (properties.TextSize > 0) {
        content.Size = properties.TextSize;
    } else {
        content.Size = ink.TallestLine > 0
            ? static_cast<int>(std::lround(ink.TallestLine / kInkPerSize / scale))
            : room * 4 / (5 * std::max(lines, 1));
        while (content.Size > kMinTextSize && lines * LineHeightOf(content.Size) > room)
            --content.Size;
        content.Size = std::max(content.Size, kMinTextSize);
    }
    // The design's own spacing when it shows more than one line.
    content.LineHeight = LineHeightOf(content.Size);
    if (properties.TextSize == 0 && ink.LineStarts.size() > 1) {
        std::vector<int> pitches;
        for (size_t k = 1; k < ink.LineStarts.size(); ++k)
            pitches.push_back((ink.LineStarts[k] - ink.LineStarts[k - 1]) / scale);
        std::nth_element(pitches.begin(), pitches.begin() + ptrdiff_t(pitches.size() / 2), pitches.end());
        const int pitch = pitches[pitches.size() / 2];
        if (pitch >= content.Size && lines * pitch <= room)
            content.LineHeight = pitch;
    }
    content.Color = properties.TextColor
        ? *properties.TextColor
        : InkColor(pixels, whole, content.Background, NeededContrast(content.Size, content.Bold));
}

void ContentOfButton(TPageContent& content, const TCellProperties& properties, const TPixelView& pixels,
    int scale, std::optional<TColor> fill)
{
    const int third = pixels.Height / 3;
    const TColor designFace
        = Dominant(pixels, { 0, pixels.Width }, { third, std::max(third + 1, pixels.Height - third) });
    const TBox face = FaceBox(pixels, designFace);
    content.Face = properties.ButtonColor.value_or(designFace);
    content.Background = fill ? *fill : AroundFace(pixels, face);
    content.FaceWidth = std::max(face.Width() / scale, 1);
    content.FaceHeight = std::max(face.Height() / scale, 1);
    // Where the design has its face, unless the project aligns it.
    content.Align = AlignName(properties.TextAlign);
    content.Padding = properties.TextPadding.value_or(
        std::array<int, 4> { face.Top / scale, (pixels.Width - face.Right) / scale, 0, face.Left / scale });
    content.LineHeight = content.FaceHeight;

    const TInk label = InkOf(pixels, face, designFace);
    if (properties.TextSize > 0) {
        content.Size = properties.TextSize;
    } else {
        content.Size = label.TallestLine > 0
            ? static_cast<int>(std::lround(label.TallestLine / kInkPerSize / scale))
            : content.FaceHeight * 2 / 5;
        content.Size = std::max(std::min(content.Size, content.FaceHeight * 4 / 5), kMinTextSize);
    }
    content.Color = properties.ButtonTextColor
        ? *properties.ButtonTextColor
        : InkColor(pixels, face, content.Face, NeededContrast(content.Size, content.Bold));
    const int radius = properties.ButtonRadius >= 0 ? properties.ButtonRadius
                                                    : DesignRadius(pixels, face, designFace) / scale;
    content.Radius = std::min(radius, std::min(content.FaceWidth, content.FaceHeight) / 2);
}

} // namespace

double ContrastRatio(TColor a, TColor b)
{
    const auto luminance = [](TColor color) {
        const auto channel = [](uint8_t value) {
            const double c = value / 255.0;
            return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(GetRValue(color)) + 0.7152 * channel(GetGValue(color))
            + 0.0722 * channel(GetBValue(color));
    };
    const double first = luminance(a);
    const double second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

TPageContent PageContentOf(
    const TCellProperties& properties, const TPixelView& pixels, int scale, std::optional<TColor> fill)
{
    TPageContent content;
    content.Button = !properties.Button.empty();
    content.Text = content.Button ? properties.Button : properties.Text;
    content.Font = properties.TextFont.empty() ? std::string(kDefaultTextFont) : properties.TextFont;
    content.Bold = properties.TextWeight == TTextWeight::Bold
        || (properties.TextWeight == TTextWeight::Auto && content.Button);
    if (pixels.Width <= 0 || pixels.Height <= 0 || scale < 1)
        return content;
    if (content.Button)
        ContentOfButton(content, properties, pixels, scale, fill);
    else
        ContentOfText(content, properties, pixels, scale, fill);
    // Padding the project states may not push the content past its cell,
    // which would grow the row or the column.
    const int width = pixels.Width / scale - content.FaceWidth;
    const int height = pixels.Height / scale - content.FaceHeight;
    auto& [top, right, bottom, left] = content.Padding;
    top = std::clamp(top, 0, std::max(height, 0));
    bottom = std::clamp(bottom, 0, std::max(height - top, 0));
    left = std::clamp(left, 0, std::max(width, 0));
    right = std::clamp(right, 0, std::max(content.Button ? width : width - left, 0));
    return content;
}

namespace page {

namespace {

std::string FontStyle(const TPageContent& content)
{
    return "font-family:" + content.Font + ";font-size:" + Px(content.Size)
        + ";line-height:" + Px(content.LineHeight) + ";font-weight:" + (content.Bold ? "bold" : "normal")
        + ";color:" + ColorHex(content.Color);
}

// The text's lines, escaped, with a break between them; a button's label is
// one line.
std::string TextMarkup(const TPageContent& content)
{
    std::string out;
    for (const std::string& line : CellTextLines(content.Text)) {
        if (!out.empty())
            out += content.Button ? " " : "<br>";
        out += HtmlEscaped(line);
    }
    return out;
}

std::string TextBlock(const TPageCell& cell, int scale, bool fluid)
{
    const TPageContent& content = *cell.Content;
    const auto& [top, right, bottom, left] = content.Padding;
    std::string style = "margin:0;padding:" + Px(top) + " " + Px(right) + " " + Px(bottom) + " " + Px(left)
        + ";" + FontStyle(content) + ";text-align:" + content.Align;
    // A stated width also keeps a long word from widening its column.
    if (fluid) {
        style += ";box-sizing:border-box;width:100%;max-height:100%;overflow:hidden";
    } else {
        // Clipped after the last whole line that fits, not through one.
        const int room = std::max(cell.Height / scale - top - bottom, 0);
        const int shown = content.LineHeight > 0 ? room / content.LineHeight * content.LineHeight : room;
        style += ";width:" + Px(std::max(cell.Width / scale - left - right, 0)) + ";max-height:" + Px(shown)
            + ";overflow:hidden";
    }
    std::string text = TextMarkup(content);
    if (!cell.Link.empty())
        text = "<a" + Attribute("href", cell.Link)
            + Attribute("style", "color:" + ColorHex(content.Color) + ";text-decoration:underline") + ">"
            + text + "</a>";
    return "<div" + Attribute("style", style) + ">" + text + "</div>";
}

// A button keeps to its cell's top, and to the side it is aligned to, by
// its padding.
std::string ButtonMargin(const TPageContent& content)
{
    const auto& [top, right, bottom, left] = content.Padding;
    if (content.Align == "center")
        return Px(top) + " auto 0";
    if (content.Align == "right")
        return Px(top) + " " + Px(right) + " 0 auto";
    return Px(top) + " 0 0 " + Px(left);
}

std::string ButtonLink(const TPageCell& cell)
{
    const TPageContent& content = *cell.Content;
    const std::string href = cell.Link.empty() ? std::string() : Attribute("href", cell.Link);
    return "<a" + href
        + Attribute("style",
            "display:block;margin:" + ButtonMargin(content) + ";width:" + Px(content.FaceWidth)
                + ";height:" + Px(content.FaceHeight) + ";background-color:" + ColorHex(content.Face)
                + ";border-radius:" + Px(content.Radius) + ";" + FontStyle(content)
                + ";text-align:center;text-decoration:none;overflow:hidden;white-space:nowrap")
        + ">" + TextMarkup(content) + "</a>";
}

// Outlook for Windows draws with Word, which knows no rounded or padded
// links; VML's rounded rectangle is its button. arcsize is the radius as a
// share of the shorter side.
std::string OutlookButton(const TPageCell& cell)
{
    const TPageContent& content = *cell.Content;
    const int shorter = std::max(std::min(content.FaceWidth, content.FaceHeight), 1);
    const int arc = std::min(50, (content.Radius * 100 + shorter / 2) / shorter);
    const std::string face = ColorHex(content.Face);
    return "<!--[if mso]><v:roundrect xmlns:v=\"urn:schemas-microsoft-com:vml\" "
           "xmlns:w=\"urn:schemas-microsoft-com:office:word\""
        + (cell.Link.empty() ? std::string() : Attribute("href", cell.Link))
        + Attribute("style",
            "height:" + Px(content.FaceHeight) + ";v-text-anchor:middle;width:" + Px(content.FaceWidth))
        + Attribute("arcsize", IntToStr(arc) + "%") + Attribute("strokecolor", face)
        + Attribute("fillcolor", face) + "><w:anchorlock/><center"
        + Attribute("style",
            "color:" + ColorHex(content.Color) + ";font-family:" + content.Font
                + ";font-size:" + Px(content.Size) + ";font-weight:" + (content.Bold ? "bold" : "normal"))
        + ">" + TextMarkup(content) + "</center></v:roundrect><![endif]-->";
}

} // namespace

std::string ContentCell(std::string td, const TPageCell& cell, int scale, TPageStyle pageStyle)
{
    const TPageContent& content = *cell.Content;
    const std::string background = ColorHex(content.Background);
    const bool mail = pageStyle == TPageStyle::Email;
    if (pageStyle == TPageStyle::Classic || mail)
        td += Attribute("bgcolor", background);
    std::string style = "background-color:" + background;
    if (content.Button) {
        // Outlook places its VML button by the cell's alignment and padding,
        // which only it reads from mso-padding-alt.
        if (mail) {
            const auto& [top, right, bottom, left] = content.Padding;
            td += Attribute("align", content.Align) + Attribute("valign", "top");
            style += ";mso-padding-alt:" + Px(top) + " " + Px(content.Align == "right" ? right : 0) + " 0 "
                + Px(content.Align == "left" ? left : 0);
        }
        style += ";vertical-align:top";
    }
    td += Attribute("style", style) + ">";
    if (!content.Button)
        return td + TextBlock(cell, scale, false) + "</td>";
    if (!mail)
        return td + ButtonLink(cell) + "</td>";
    return td + OutlookButton(cell) + "<!--[if !mso]><!-->" + ButtonLink(cell) + "<!--<![endif]--></td>";
}

std::string ContentGridItem(size_t row, const TPageCell& cell)
{
    const TPageContent& content = *cell.Content;
    const std::string area = "grid-area:" + IntToStr(int64_t(row) + 1) + "/" + IntToStr(cell.Column + 1) + "/"
        + IntToStr(int64_t(row) + 1 + cell.RowSpan) + "/" + IntToStr(cell.Column + 1 + cell.ColumnSpan)
        + ";background-color:" + ColorHex(content.Background)
        + ";display:flex;align-items:" + (content.Button ? "flex-start" : "center") + ";overflow:hidden";
    return "<div" + Attribute("style", area) + ">"
        + (content.Button ? ButtonLink(cell) : TextBlock(cell, 1, true)) + "</div>";
}

} // namespace page

} // namespace sw
