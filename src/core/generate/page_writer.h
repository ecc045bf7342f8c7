#pragma once

// The page file that puts the cells back together: a borderless table with
// one row per strip and one cell per image, wrapped in a minimal HTML page
// and/or preceded by a snippet header line, as the file's extension asks.

#include "core/base/output_file.h"
#include "core/generate/page_layout.h"

#include <memory>
#include <string>
#include <string_view>

namespace sw {

// A file name made safe as part of an image address: the characters that
// end or redirect a URL (blanks, controls, '"', '#', '%', '<', '>', '?')
// are written as %XX.
std::string UrlPathEscaped(std::string_view path);

// Tests on the upper-cased extension of the page file name: "BCS" anywhere
// asks for the snippet header, "HTM" anywhere for the HTML wrapper. Both
// may hold; then the header comes first.
struct TPageKind {
    bool SnippetHeader = false;
    bool HtmlWrapper = false;
};

TPageKind PageKindOf(std::string_view pageFileName);

// The description as the snippet header carries it: one line of a comment
// that nothing in it can end. Line breaks become blanks and a blank goes
// between two dashes in a row; any other text is kept as typed.
std::string SnippetDescription(std::string_view description);

// What an image's src starts with so that the page finds the images in
// imageFolder: empty when the page is in that folder, else the way from the
// page's folder, ending in '/'. Folders are compared as the system resolves
// them, so two spellings of one folder count as one.
std::string ImageSourcePrefix(const std::string& pageFileName, const std::string& imageFolder);

// Writes one page, line by line, each line ended by CR LF. Lines go to a
// temporary file beside the page (TOutputFile) and are checked at once; the
// page takes the name only when EndPage or Publish succeeds, so until then an
// old page of that name stays as it was. A failure drops the temporary file
// and raises EInOutError with the system's error text (or "I/O error %d")
// and the page's name in parentheses. The file is closed by EndPage,
// FinishPage, a failure, Close and the destructor.
class TPageWriter {
public:
    TPageWriter() = default;
    ~TPageWriter();
    TPageWriter(const TPageWriter&) = delete;
    TPageWriter& operator=(const TPageWriter&) = delete;

    // Starts the page and writes the head lines and the table's opening tag
    // for a picture width pixels wide. An empty name is refused before
    // anything happens. A page still open from an earlier call is dropped.
    void BeginPage(const std::string& fileName, const std::string& description, int width);
    void BeginRow();
    // One cell line whose src is imageSource (the image's name, with the
    // way from the page to it when they are apart).
    void CellLine(const std::string& imageSource);
    void EndRow();
    // FinishPage, then Publish.
    void EndPage();
    // Starts the page, writes all of layout in the options' style and
    // closes the file (as FinishPage); Publish then gives it its name. A
    // layout whose cells do not cover its tracks exactly once is refused before
    // the file is made (a layout is the program's own data, so this is
    // Exception, not a file error), as is a link or base URL IsSafeLink
    // refuses. Every attribute value is escaped. Classic pages of plain cells (no link, span, fill,
    // skip, or scale) are the same bytes as BeginPage ... FinishPage write.
    void WritePage(const std::string& fileName, const TPageLayout& layout, const TPageOptions& options);
    // Writes the closing lines and closes the file; a failing close raises.
    void FinishPage();
    // Puts a finished page under its name.
    void Publish();
    // A finished page holds the same bytes as the file under its name.
    bool MatchesPublished() const { return m_output && m_output->MatchesTarget(); }
    // Where a finished page waits for Publish; empty when there is none.
    std::string TemporaryFileName() const
    {
        return m_output && !m_output->Published() ? m_output->TemporaryFileName() : std::string();
    }

    bool IsOpen() const { return m_fd >= 0; }
    // The bytes of the page written since it was started.
    uint64_t BytesWritten() const { return m_bytesWritten; }
    // Closes the file without writing anything more and drops a page not
    // yet published; never throws.
    void Close() noexcept;

private:
    void WriteLine(std::string_view line);
    void OpenFile(const std::string& fileName);
    void CloseFile();
    void WriteClassic(const TPageLayout& layout, const TPageOptions& options);
    [[noreturn]] void Fail(int error);

    int m_fd = -1;
    uint64_t m_bytesWritten = 0;
    TPageKind m_kind;
    std::string m_fileName;
    std::unique_ptr<TOutputFile> m_output;
};

} // namespace sw
