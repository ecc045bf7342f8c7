#include "core/generate/page_writer.h"

#include "core/base/errors.h"
#include "core/base/output_file.h"
#include "core/base/product.h"
#include "core/base/sysutils.h"
#include "core/project/cell_properties.h"

#include <cerrno>
#include <filesystem>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace sw {

namespace {

bool SameFolder(const std::string& a, const std::string& b)
{
    struct stat first { };
    struct stat second { };
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}

const char* const kStyleNames[] = { "classic", "html5", "email", "grid" };

// Alt text, links and titles may hold anything the project file can: markup
// characters become references, and so does every non-ASCII character, so
// the text survives a page read in any character set. Broken UTF-8 shows as
// the replacement character; controls, which no attribute may hold, as
// blanks.
std::string HtmlEscaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            ++i;
            switch (byte) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += (byte < 0x20 && byte != '\t') || byte == 0x7F ? ' ' : static_cast<char>(byte);
            }
            continue;
        }
        int length = 0;
        uint32_t codePoint = 0;
        if (byte >= 0xC2 && byte <= 0xDF) {
            length = 2;
            codePoint = byte & 0x1F;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            length = 3;
            codePoint = byte & 0x0F;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            length = 4;
            codePoint = byte & 0x07;
        }
        bool valid = length > 0 && i + static_cast<size_t>(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not text.
        valid = valid && !(length == 3 && codePoint < 0x800) && !(length == 4 && codePoint < 0x10000)
            && !(codePoint >= 0xD800 && codePoint <= 0xDFFF) && codePoint <= 0x10FFFF;
        if (!valid) {
            out += "&#xFFFD;";
            ++i;
            continue;
        }
        out += Format("&#x%X;", static_cast<unsigned>(codePoint));
        i += static_cast<size_t>(length);
    }
    return out;
}

std::string ColorHex(TColor color)
{
    return "#" + HexRgb(color);
}

// Every attribute value of every style is written through here, so no
// address, name or text can end its attribute early.
std::string Attribute(std::string_view name, std::string_view value)
{
    return " " + std::string(name) + "=\"" + HtmlEscaped(value) + "\"";
}

// What a cell without an image says about itself: its alt text as a label,
// on its link when it has one, else on the cell itself as a picture.
std::string LabelOf(const TPageCell& cell, bool onLink)
{
    if (cell.Alt.empty())
        return std::string();
    return (onLink ? std::string() : Attribute("role", "img")) + Attribute("aria-label", cell.Alt);
}

// Tracks that no cell starts in are merged into the one before, so that a
// table never holds a row or a column made only of spanned cells (which
// browsers collapse). Each track maps to the index of its merged track.
std::vector<int> MergedTracks(const std::vector<char>& anchored)
{
    std::vector<int> merged(anchored.size());
    int index = -1;
    for (size_t t = 0; t < anchored.size(); ++t) {
        if (anchored[t] || index < 0)
            ++index;
        merged[t] = index;
    }
    return merged;
}

std::vector<int> MergedSizes(const std::vector<int>& sizes, const std::vector<int>& merged, int scale)
{
    std::vector<int> out(merged.empty() ? 0 : static_cast<size_t>(merged.back()) + 1, 0);
    for (size_t t = 0; t < sizes.size(); ++t)
        out[static_cast<size_t>(merged[t])] += sizes[t] / scale;
    return out;
}

std::string Px(int value)
{
    return IntToStr(value) + "px";
}

} // namespace

std::string UrlPathEscaped(std::string_view path)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x21 || byte == 0x7F || c == '"' || c == '#' || c == '%' || c == '<' || c == '>'
            || c == '?') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

const char* PageStyleName(TPageStyle style)
{
    return kStyleNames[static_cast<size_t>(style)];
}

std::optional<TPageStyle> PageStyleFromName(std::string_view name)
{
    const std::string folded = LowerCaseAscii(name);
    for (size_t k = 0; k < std::size(kStyleNames); ++k)
        if (folded == kStyleNames[k])
            return static_cast<TPageStyle>(k);
    return std::nullopt;
}

TPageKind PageKindOf(std::string_view pageFileName)
{
    const std::string extension = UpperCaseAscii(ExtractFileExt(pageFileName));
    TPageKind kind;
    kind.SnippetHeader = extension.find("BCS") != std::string::npos;
    kind.HtmlWrapper = extension.find("HTM") != std::string::npos;
    return kind;
}

std::string SnippetDescription(std::string_view description)
{
    std::string out;
    out.reserve(description.size());
    for (size_t i = 0; i < description.size(); ++i) {
        const char c = description[i];
        if (c == '\r' || c == '\n') {
            // CR LF is one break, so one blank.
            if (c == '\r' && i + 1 < description.size() && description[i + 1] == '\n')
                ++i;
            out += ' ';
            continue;
        }
        if (c == '-' && !out.empty() && out.back() == '-')
            out += ' ';
        out += c;
    }
    return out;
}

std::string ImageSourcePrefix(const std::string& pageFileName, const std::string& imageFolder)
{
    namespace fs = std::filesystem;
    std::string pageFolder = ExtractFilePath(pageFileName);
    if (pageFolder.empty())
        pageFolder = ".";
    const std::string images = imageFolder.empty() ? std::string(".") : imageFolder;
    if (SameFolder(pageFolder, images))
        return std::string();

    std::error_code error;
    const fs::path from = fs::weakly_canonical(fs::absolute(pageFolder, error), error);
    if (error)
        return std::string();
    const fs::path to = fs::weakly_canonical(fs::absolute(images, error), error);
    if (error)
        return std::string();
    std::string way = to.lexically_relative(from).generic_string();
    while (!way.empty() && way.back() == '/')
        way.pop_back();
    if (way.empty() || way == ".")
        return std::string();
    return UrlPathEscaped(way) + "/";
}

TPageWriter::~TPageWriter()
{
    Close();
}

void TPageWriter::Close() noexcept
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_output.reset();
}

void TPageWriter::Fail(int error)
{
    Close();
    throw EInOutError(WithDetail(SystemErrorText(error), m_fileName));
}

void TPageWriter::WriteLine(std::string_view line)
{
    // Lines go straight to the file, unbuffered, so a full device or a lost
    // folder is reported at the line that met it; a page has one line per
    // cell, which keeps the number of writes small.
    if (m_fd < 0)
        throw EInOutError("File not open");
    std::string bytes(line);
    bytes += "\r\n";
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            Fail(errno);
        if (n == 0)
            Fail(EIO);
        done += static_cast<size_t>(n);
    }
}

void TPageWriter::OpenFile(const std::string& fileName)
{
    Close();
    if (fileName.empty())
        throw EInOutError("No page file name was given");

    m_fileName = fileName;
    m_output = std::make_unique<TOutputFile>(fileName);
    m_fd = m_output->Create();
    if (m_fd < 0)
        Fail(errno);
}

void TPageWriter::BeginPage(const std::string& fileName, const std::string& description, int width)
{
    OpenFile(fileName);
    m_kind = PageKindOf(fileName);
    if (m_kind.SnippetHeader)
        WriteLine("<!--Snippet:" + SnippetDescription(description) + " -->");
    if (m_kind.HtmlWrapper) {
        WriteLine("<html>");
        WriteLine("<head>");
        WriteLine(std::string("<title>Generated by ") + kProductName + "</title>");
        WriteLine("</head>");
        WriteLine("");
        WriteLine("<body>");
        WriteLine("");
    }
    WriteLine("<table border=0 width=" + IntToStr(width) + " cellpadding=0 cellspacing=0>");
}

void TPageWriter::BeginRow()
{
    WriteLine("<tr>");
}

void TPageWriter::CellLine(const std::string& imageSource)
{
    WriteLine("<td><img" + Attribute("src", imageSource) + " border=0></td>");
}

void TPageWriter::EndRow()
{
    WriteLine("</tr>");
}

void TPageWriter::EndPage()
{
    FinishPage();
    Publish();
}

void TPageWriter::FinishPage()
{
    WriteLine("</table>");
    if (m_kind.HtmlWrapper) {
        WriteLine("");
        WriteLine("</body>");
        WriteLine("</html>");
    }
    CloseFile();
}

void TPageWriter::CloseFile()
{
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        Fail(errno);
}

void TPageWriter::Publish()
{
    if (!m_output)
        throw EInOutError("File not open");
    if (!m_output->Publish())
        Fail(errno);
    m_output.reset();
}

namespace {

void CheckLayout(const TPageLayout& layout, TPageStyle style)
{
    const auto fail = [](const std::string& what) { throw Exception("The page's layout " + what); };
    if (layout.Scale < 1)
        fail("has a scale below 1");
    const int scale = layout.Scale;
    if (layout.Width < 0 || layout.Height < 0 || layout.Width % scale != 0 || layout.Height % scale != 0)
        fail("has a size that is no multiple of its scale");
    for (const TPageRow& row : layout.Rows)
        for (const TPageCell& cell : row.Cells)
            if (cell.Width < 0 || cell.Height < 0 || cell.Width % scale != 0 || cell.Height % scale != 0
                || cell.ColumnSpan < 1 || cell.RowSpan < 1)
                fail("has a cell whose size or span is out of range");
    for (size_t r = 0; r < layout.Rows.size(); ++r)
        for (const TPageCell& cell : layout.Rows[r].Cells)
            if (!IsSafeLink(cell.Link))
                fail(Format("has a link at row %d, column %d that is not ", int(r) + 1, cell.Column + 1)
                    + kSafeLinkRule);
    if (style == TPageStyle::Classic)
        return;

    const size_t columns = layout.ColumnWidths.size();
    const size_t rows = layout.RowHeights.size();
    if (layout.Rows.size() != rows)
        fail("has " + IntToStr(int64_t(layout.Rows.size())) + " rows of cells for " + IntToStr(int64_t(rows))
            + " row tracks");
    for (const std::vector<int>* sizes : { &layout.ColumnWidths, &layout.RowHeights })
        for (const int size : *sizes)
            if (size < 0 || size % scale != 0)
                fail("has a track whose size is no multiple of its scale");
    int64_t area = 0;
    for (size_t r = 0; r < rows; ++r) {
        int previous = -1;
        for (const TPageCell& cell : layout.Rows[r].Cells) {
            if (cell.Column <= previous || cell.Column < 0
                || size_t(cell.Column) + size_t(cell.ColumnSpan) > columns || r + size_t(cell.RowSpan) > rows)
                fail(Format(
                    "has a cell at row %d, column %d outside its tracks", int(r) + 1, cell.Column + 1));
            previous = cell.Column;
            area += int64_t(cell.ColumnSpan) * cell.RowSpan;
        }
    }
    // Equal areas and no overlap mean every slot is covered once; the map is
    // made only when the cells can fill it.
    if (area != int64_t(rows) * int64_t(columns))
        fail("leaves slots uncovered or covers some twice");
    std::vector<bool> covered(rows * columns, false);
    for (size_t r = 0; r < rows; ++r)
        for (const TPageCell& cell : layout.Rows[r].Cells)
            for (size_t y = r; y < r + size_t(cell.RowSpan); ++y)
                for (size_t x = size_t(cell.Column); x < size_t(cell.Column + cell.ColumnSpan); ++x) {
                    if (covered[y * columns + x])
                        fail(Format("covers row %d, column %d twice", int(y) + 1, int(x) + 1));
                    covered[y * columns + x] = true;
                }
}

std::string SourceOf(const TPageCell& cell, const std::string& baseUrl)
{
    if (baseUrl.empty() || baseUrl.back() == '/')
        return baseUrl + cell.Source;
    return baseUrl + "/" + cell.Source;
}

std::string TitleOf(const TPageOptions& options)
{
    return HtmlEscaped(options.Title.empty() ? std::string("Generated by ") + kProductName : options.Title);
}

} // namespace

void TPageWriter::WritePage(
    const std::string& fileName, const TPageLayout& layout, const TPageOptions& options)
{
    CheckLayout(layout, options.Style);
    // The base URL starts every image's address, so it could bring in a scheme.
    if (!IsSafeLink(options.BaseUrl))
        throw Exception("The base URL " + options.BaseUrl + " is not " + kSafeLinkRule);
    if (options.Style == TPageStyle::Classic) {
        BeginPage(fileName, options.Description, layout.Width / layout.Scale);
        WriteClassic(layout, options);
        FinishPage();
        return;
    }
    OpenFile(fileName);
    m_kind = TPageKind();
    if (options.Style == TPageStyle::Grid)
        WriteGrid(layout, options);
    else
        WriteTable(layout, options);
    CloseFile();
}

// The early web's markup, unquoted where it always was; a link or a size is
// written only when the project asks for one, so plain cells stay as they
// always were.
void TPageWriter::WriteClassic(const TPageLayout& layout, const TPageOptions& options)
{
    const int scale = layout.Scale;
    for (const TPageRow& row : layout.Rows) {
        BeginRow();
        for (const TPageCell& cell : row.Cells) {
            std::string td = "<td";
            if (cell.ColumnSpan > 1)
                td += " colspan=" + IntToStr(cell.ColumnSpan);
            if (cell.RowSpan > 1)
                td += " rowspan=" + IntToStr(cell.RowSpan);
            const std::string size
                = " width=" + IntToStr(cell.Width / scale) + " height=" + IntToStr(cell.Height / scale);
            // A cell without an image keeps its link as a block of its size.
            const std::string link = cell.Link.empty() ? std::string()
                                                       : "<a" + Attribute("href", cell.Link)
                    + Attribute("style",
                        "display:block;width:" + Px(cell.Width / scale)
                            + ";height:" + Px(cell.Height / scale))
                    + "></a>";
            if (cell.Fill) {
                const std::string color = ColorHex(*cell.Fill);
                WriteLine(td + size + Attribute("bgcolor", color)
                    + Attribute("style", "background-color:" + color) + ">" + link + "</td>");
                continue;
            }
            if (cell.Skip) {
                WriteLine(td + size + ">" + link + "</td>");
                continue;
            }
            std::string image = "<img" + Attribute("src", SourceOf(cell, options.BaseUrl));
            if (scale != 1)
                image += size;
            image += " border=0>";
            if (!cell.Link.empty())
                image = "<a" + Attribute("href", cell.Link) + ">" + image + "</a>";
            WriteLine(td + ">" + image + "</td>");
        }
        EndRow();
    }
}

// Standards mode and mail clients add gaps below inline images and ignore
// sizes they are not given, so every size is stated and images are blocks.
void TPageWriter::WriteTable(const TPageLayout& layout, const TPageOptions& options)
{
    const bool email = options.Style == TPageStyle::Email;
    const int scale = layout.Scale;
    std::vector<char> columnAnchors(layout.ColumnWidths.size(), 0);
    std::vector<char> rowAnchors(layout.RowHeights.size(), 0);
    for (size_t r = 0; r < layout.Rows.size(); ++r)
        for (const TPageCell& cell : layout.Rows[r].Cells) {
            rowAnchors[r] = 1;
            columnAnchors[size_t(cell.Column)] = 1;
        }
    const std::vector<int> columnOf = MergedTracks(columnAnchors);
    const std::vector<int> rowOf = MergedTracks(rowAnchors);
    const std::vector<int> widths = MergedSizes(layout.ColumnWidths, columnOf, scale);
    const std::vector<int> heights = MergedSizes(layout.RowHeights, rowOf, scale);
    const std::string width = IntToStr(layout.Width / scale);
    const std::string height = IntToStr(layout.Height / scale);

    WriteLine("<!DOCTYPE html>");
    WriteLine("<html>");
    WriteLine("<head>");
    WriteLine(email ? "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"
                    : "<meta charset=\"utf-8\">");
    WriteLine("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
    WriteLine("<title>" + TitleOf(options) + "</title>");
    if (!email) {
        WriteLine("<style>");
        WriteLine("table.slices{border-collapse:collapse;border-spacing:0;table-layout:fixed}");
        WriteLine("table.slices td{padding:0;border:0}");
        WriteLine("table.slices img,table.slices a{display:block;border:0}");
        WriteLine("</style>");
    }
    WriteLine("</head>");
    if (email) {
        WriteLine("<body style=\"margin:0;padding:0\">");
        WriteLine(
            "<table role=\"presentation\" width=\"100%\" cellpadding=\"0\" cellspacing=\"0\" border=\"0\">");
        WriteLine("<tr>");
        WriteLine("<td align=\"center\">");
        WriteLine("<table role=\"presentation\"" + Attribute("width", width) + Attribute("height", height)
            + " cellpadding=\"0\" cellspacing=\"0\" border=\"0\" style=\"border-collapse:collapse\">");
    } else {
        WriteLine("<body>");
        WriteLine("<table class=\"slices\" style=\"width:" + Px(layout.Width / scale) + "\">");
        WriteLine("<colgroup>");
        for (const int w : widths)
            WriteLine("<col style=\"width:" + Px(w) + "\">");
        WriteLine("</colgroup>");
    }

    for (size_t r = 0; r < layout.Rows.size(); ++r) {
        if (!rowAnchors[r])
            continue;
        WriteLine(email ? "<tr>" : "<tr style=\"height:" + Px(heights[size_t(rowOf[r])]) + "\">");
        for (const TPageCell& cell : layout.Rows[r].Cells) {
            const int firstColumn = columnOf[size_t(cell.Column)];
            const int columnSpan = columnOf[size_t(cell.Column + cell.ColumnSpan - 1)] - firstColumn + 1;
            const int firstRow = rowOf[r];
            const int rowSpan = rowOf[r + size_t(cell.RowSpan) - 1] - firstRow + 1;
            const std::string cellWidth = IntToStr(cell.Width / scale);
            const std::string cellHeight = IntToStr(cell.Height / scale);
            std::string td = "<td";
            if (columnSpan > 1)
                td += Attribute("colspan", IntToStr(columnSpan));
            if (rowSpan > 1)
                td += Attribute("rowspan", IntToStr(rowSpan));
            if (email)
                td += Attribute("width", cellWidth) + Attribute("height", cellHeight);
            if (!cell.Fill && !cell.Skip) {
                std::string image = "<img" + Attribute("src", SourceOf(cell, options.BaseUrl))
                    + Attribute("width", cellWidth) + Attribute("height", cellHeight);
                if (email)
                    image += Attribute("border", "0");
                image += Attribute("alt", cell.Alt);
                if (email)
                    image += Attribute("style", "display:block");
                image += ">";
                if (!cell.Link.empty())
                    image = "<a" + Attribute("href", cell.Link)
                        + (email ? Attribute("style", "display:block") : std::string()) + ">" + image
                        + "</a>";
                if (email)
                    td += Attribute("style", "line-height:0;font-size:0");
                WriteLine(td + ">" + image + "</td>");
                continue;
            }
            // A cell without an image keeps its link as a block of its size.
            const std::string content = email && cell.Fill ? "&nbsp;" : "";
            std::string inside = content;
            if (!cell.Link.empty())
                inside = "<a" + Attribute("href", cell.Link) + LabelOf(cell, true)
                    + Attribute("style",
                        email ? "display:block;width:" + Px(cell.Width / scale)
                                + ";height:" + Px(cell.Height / scale)
                              : "height:" + Px(cell.Height / scale))
                    + ">" + content + "</a>";
            else
                td += LabelOf(cell, false);
            if (cell.Fill) {
                const std::string color = ColorHex(*cell.Fill);
                if (email)
                    WriteLine(td + Attribute("bgcolor", color)
                        + Attribute("style", "background-color:" + color + ";line-height:0;font-size:0") + ">"
                        + inside + "</td>");
                else
                    WriteLine(td + Attribute("style", "background-color:" + color) + ">" + inside + "</td>");
                continue;
            }
            WriteLine(td + ">" + inside + "</td>");
        }
        WriteLine("</tr>");
    }

    WriteLine("</table>");
    if (email) {
        WriteLine("</td>");
        WriteLine("</tr>");
        WriteLine("</table>");
    }
    WriteLine("</body>");
    WriteLine("</html>");
}

// The tracks are fractions of the design, so the grid shrinks with a narrow
// window while the aspect ratio keeps the rows in step; minmax(0, ...) lets
// a track go below the width of the image it holds.
void TPageWriter::WriteGrid(const TPageLayout& layout, const TPageOptions& options)
{
    const int scale = layout.Scale;
    const auto tracks = [](const std::vector<int>& sizes) {
        std::string text;
        for (const int size : sizes)
            text += (text.empty() ? "" : " ") + std::string("minmax(0,") + IntToStr(size) + "fr)";
        return text;
    };

    WriteLine("<!DOCTYPE html>");
    WriteLine("<html>");
    WriteLine("<head>");
    WriteLine("<meta charset=\"utf-8\">");
    WriteLine("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
    WriteLine("<title>" + TitleOf(options) + "</title>");
    WriteLine("<style>");
    WriteLine(".slices{display:grid;width:" + Px(layout.Width / scale) + ";max-width:100%;aspect-ratio:"
        + IntToStr(layout.Width) + "/" + IntToStr(layout.Height) + ";grid-template-columns:"
        + tracks(layout.ColumnWidths) + ";grid-template-rows:" + tracks(layout.RowHeights) + "}");
    WriteLine(".slices>*{display:block;min-width:0;min-height:0}");
    WriteLine(".slices img{display:block;width:100%;height:100%;border:0}");
    WriteLine("</style>");
    WriteLine("</head>");
    WriteLine("<body>");
    WriteLine("<div class=\"slices\">");
    for (size_t r = 0; r < layout.Rows.size(); ++r)
        for (const TPageCell& cell : layout.Rows[r].Cells) {
            const std::string area = Attribute("style",
                "grid-area:" + IntToStr(int64_t(r) + 1) + "/" + IntToStr(cell.Column + 1) + "/"
                    + IntToStr(int64_t(r) + 1 + cell.RowSpan) + "/"
                    + IntToStr(cell.Column + 1 + cell.ColumnSpan)
                    + (cell.Fill ? ";background-color:" + ColorHex(*cell.Fill) : std::string()));
            if (cell.Fill || cell.Skip) {
                // A cell without an image keeps its link as a block of its area.
                if (cell.Link.empty())
                    WriteLine("<div" + LabelOf(cell, false) + area + "></div>");
                else
                    WriteLine("<a" + Attribute("href", cell.Link) + LabelOf(cell, true) + area + "></a>");
                continue;
            }
            const std::string image = "<img" + Attribute("src", SourceOf(cell, options.BaseUrl))
                + Attribute("width", IntToStr(cell.Width / scale))
                + Attribute("height", IntToStr(cell.Height / scale)) + Attribute("alt", cell.Alt);
            if (cell.Link.empty())
                WriteLine(image + area + ">");
            else
                WriteLine("<a" + Attribute("href", cell.Link) + area + ">" + image + "></a>");
        }
    WriteLine("</div>");
    WriteLine("</body>");
    WriteLine("</html>");
}

} // namespace sw
