#pragma once

// The page file that puts the cells back together: a borderless table with
// one row per strip and one cell per image, wrapped in a minimal HTML page
// and/or preceded by a snippet header line, as the file's extension asks.

#include <string>
#include <string_view>

namespace sw {

// Tests on the upper-cased extension of the page file name: "BCS" anywhere
// asks for the snippet header, "HTM" anywhere for the HTML wrapper. Both
// may hold; then the header comes first.
struct TPageKind {
    bool SnippetHeader = false;
    bool HtmlWrapper = false;
};

TPageKind PageKindOf(std::string_view pageFileName);

// Writes one page, line by line, each line ended by CR LF, nothing escaped.
// Every line goes to the file at once and is checked; a failure closes the
// file and raises EInOutError with the system's error text (or
// "I/O error %d"). What was written before stays in the file. The file is
// closed by EndPage, by a failure, by Close and by the destructor.
class TPageWriter {
public:
    TPageWriter() = default;
    ~TPageWriter();
    TPageWriter(const TPageWriter&) = delete;
    TPageWriter& operator=(const TPageWriter&) = delete;

    // Deletes an old regular file (or link) of that name, creates the file
    // and writes the head lines and the table's opening tag for a picture
    // width pixels wide. An empty name is refused before anything happens.
    // A page still open from an earlier call is closed first.
    void BeginPage(const std::string& fileName, const std::string& description, int width);
    void BeginRow();
    // One cell line for an image named without its folder.
    void CellLine(const std::string& imageFileName);
    void EndRow();
    // Writes the closing lines and closes the file; a failing close raises.
    void EndPage();

    bool IsOpen() const { return m_fd >= 0; }
    // Closes the file without writing anything more; never throws.
    void Close() noexcept;

private:
    void WriteLine(std::string_view line);
    [[noreturn]] void Fail(int error);

    int m_fd = -1;
    TPageKind m_kind;
};

} // namespace sw
