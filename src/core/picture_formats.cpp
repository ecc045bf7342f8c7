#include "core/picture_formats.h"

#include "core/base/mapped_file.h"
#include "core/base/stream.h"
#include "core/base/sysutils.h"
#include "core/imaging/ora/ora_reader.h"
#include "core/imaging/psd/psd_reader.h"
#include "core/imaging/vector/pdf_reader.h"

#include "core/imaging/gif/gif_image.h"
#include "core/imaging/jpeg/jpeg_image.h"
#include "core/imaging/ora/ora_image.h"
#include "core/imaging/png/png_image.h"
#include "core/imaging/psd/psd_image.h"
#include "core/imaging/vector/vector_image.h"

#include <cstdint>
#include <mutex>
#include <span>

namespace sw {

void RegisterPictureFormats()
{
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterJpegImageFormats();
        RegisterGifImageFormat();
        RegisterPngImageFormat();
        RegisterPsdImageFormat();
        RegisterOraImageFormat();
        RegisterVectorImageFormats();
    });
}

namespace {

// The file's bytes, mapped; one that cannot be opened fails with the reason.
class TFileBytes {
public:
    explicit TFileBytes(const std::string& fileName)
        : m_file(fileName)
    {
        if (m_file.Bytes().empty())
            TFileStream(fileName, FileMode::OpenRead).Close();
    }
    std::span<const uint8_t> Bytes() const { return m_file.Bytes(); }

private:
    TMappedFile m_file;
};

} // namespace

std::optional<TLayeredDesign> ReadLayeredDesign(const std::string& fileName)
{
    const std::string extension = LowerCaseAscii(ExtractFileExt(fileName));
    if (extension == ".psd")
        return ReadPsdDesign(TFileBytes(fileName).Bytes());
    if (extension == ".ora")
        return ReadOraDesign(TFileBytes(fileName).Bytes());
    return std::nullopt;
}

int PicturePageCount(const std::string& fileName)
{
    if (LowerCaseAscii(ExtractFileExt(fileName)) != ".pdf")
        return 1;
    return PdfPageCount(TFileBytes(fileName).Bytes());
}

bool IsDrawnAtScale(const std::string& fileName)
{
    const std::string extension = LowerCaseAscii(ExtractFileExt(fileName));
    return extension == ".svg" || extension == ".pdf";
}

} // namespace sw
