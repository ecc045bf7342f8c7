#include "core/generate/page_writer.h"

#include "core/base/errors.h"
#include "core/base/output_file.h"
#include "core/base/product.h"
#include "core/base/sysutils.h"
#include "core/generate/page_content.h"
#include "core/generate/page_markup.h"
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

using page::Attribute;
using page::ColorHex;
using page::Px;

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
    m_bytesWritten += bytes.size();
}

void TPageWriter::OpenFile(const std::string& fileName)
{
    Close();
    if (fileName.empty())
        throw EInOutError("No page file name was given");

    m_fileName = fileName;
    m_bytesWritten = 0;
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
    const page::TLineSink line = [this](std::string_view text) { WriteLine(text); };
    if (options.Style == TPageStyle::Grid)
        page::WriteGridPage(layout, options, line);
    else if (options.Style == TPageStyle::Email)
        page::WriteEmailPage(layout, options, line);
    else
        page::WriteHtml5Page(layout, options, line);
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
            if (cell.Content) {
                WriteLine(page::ContentCell(td + size, cell, scale, TPageStyle::Classic));
                continue;
            }
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
            std::string image = "<img" + Attribute("src", page::SourceOf(cell, options.BaseUrl));
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

} // namespace sw
