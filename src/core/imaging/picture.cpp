#include "core/imaging/picture.h"

#include "core/base/errors.h"
#include "core/base/mapped_file.h"
#include "core/base/sysutils.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/bmp_file.h"

namespace sw {

// ---- TPicture ------------------------------------------------------------

namespace {

std::vector<TFileFormat>& Registry()
{
    // Icons and metafiles have no reader on this platform and are left out.
    static std::vector<TFileFormat> formats = {
        { "bmp", "Bitmaps", [] { return std::unique_ptr<TGraphic>(std::make_unique<TBitmap>()); },
            BmpHeaderSize },
    };
    return formats;
}

// The extension without its dot, as the registry holds them.
std::string ExtensionOf(const std::string& fileName)
{
    std::string extension = ExtractFileExt(fileName);
    if (!extension.empty())
        extension.erase(0, 1);
    return extension;
}

} // namespace

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
    TGraphicFactory factory, TSizeReader readSize)
{
    Registry().push_back({ LowerCaseAscii(extension), description, std::move(factory), std::move(readSize) });
}

std::optional<TPictureSize> TPicture::HeaderSize(const std::string& fileName)
{
    const TFileFormat* format = FindFileFormat(ExtensionOf(fileName));
    if (!format || !format->ReadSize)
        return std::nullopt;
    const TMappedFile file(fileName);
    if (file.Bytes().empty())
        return std::nullopt;
    return format->ReadSize(file.Bytes());
}

const std::vector<TFileFormat>& TPicture::FileFormats()
{
    return Registry();
}

const TFileFormat* TPicture::FindFileFormat(const std::string& extension)
{
    const std::string key = LowerCaseAscii(extension);
    const std::vector<TFileFormat>& formats = Registry();
    for (auto it = formats.rbegin(); it != formats.rend(); ++it)
        if (it->Extension == key)
            return &*it;
    return nullptr;
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic)
{
    if (graphic.get() != m_graphic.get())
        m_fileName.clear();
    m_graphic = std::move(graphic);
    if (m_graphic)
        m_graphic->OnChange = [this] { Changed(); };
    Changed();
}

TBitmap& TPicture::Bitmap()
{
    if (auto* bitmap = dynamic_cast<TBitmap*>(m_graphic.get()))
        return *bitmap;
    SetGraphic(std::make_unique<TBitmap>());
    return static_cast<TBitmap&>(*m_graphic);
}

int TPicture::Width() const
{
    return m_graphic ? m_graphic->Width() : 0;
}
int TPicture::Height() const
{
    return m_graphic ? m_graphic->Height() : 0;
}

void TPicture::LoadFromFile(const std::string& fileName, const TRenderOptions& render)
{
    const std::string extension = ExtensionOf(fileName);
    const TFileFormat* format = FindFileFormat(extension);
    if (!format || !format->Create)
        throw EInvalidGraphic(Format("Unknown picture file extension (.%s)", extension.c_str()));
    std::unique_ptr<TGraphic> graphic = format->Create();
    graphic->SetRenderOptions(render);
    TFileStream stream(fileName, FileMode::OpenRead);
    if (stream.Size() == 0)
        throw EInvalidGraphic(Format(kNoPixelsMessage, fileName.c_str()));
    graphic->LoadFromStream(stream);
    // A run or conversion of such a file would report success and write
    // nothing of use, replacing what earlier runs wrote.
    if (graphic->Empty() || graphic->Width() <= 0 || graphic->Height() <= 0)
        throw EInvalidGraphic(Format(kNoPixelsMessage, fileName.c_str()));
    SetGraphic(std::move(graphic));
    m_fileName = fileName;
}

std::vector<std::string> TPicture::Warnings() const
{
    std::vector<std::string> warnings;
    if (m_graphic)
        for (const std::string& warning : m_graphic->ReadWarnings())
            warnings.push_back(m_fileName + ": " + warning);
    return warnings;
}

void TPicture::SaveToFile(const std::string& fileName)
{
    if (m_graphic)
        m_graphic->SaveToFile(fileName);
}

void TPicture::Changed()
{
    if (OnChange)
        OnChange();
}

// ---- TImage --------------------------------------------------------------

TImage::TImage()
{
    m_picture.OnChange = [this] { PictureChanged(); };
}

void TImage::SetAutoSize(bool value)
{
    m_autoSize = value;
    if (m_autoSize && m_picture.Width() > 0 && m_picture.Height() > 0)
        SetBounds(m_picture.Width(), m_picture.Height());
}

void TImage::SetBounds(int width, int height)
{
    m_width = width;
    m_height = height;
}

TCanvas& TImage::Canvas()
{
    TGraphic* graphic = m_picture.Graphic();
    if (!graphic) {
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->SetSize(m_width, m_height);
        m_picture.SetGraphic(std::move(bitmap));
        graphic = m_picture.Graphic();
    }
    auto* bitmap = dynamic_cast<TBitmap*>(graphic);
    if (!bitmap)
        throw EInvalidGraphicOperation("Can only modify an image if it contains a bitmap");
    return bitmap->Canvas();
}

void TImage::PictureChanged()
{
    if (m_autoSize && m_picture.Width() > 0 && m_picture.Height() > 0)
        SetBounds(m_picture.Width(), m_picture.Height());
    if (OnChange)
        OnChange();
}

} // namespace sw
