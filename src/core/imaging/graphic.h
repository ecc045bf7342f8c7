#pragma once

// The common interface of every picture kind, the picture container that
// holds one, the image holder, and the format registry that picks a kind by
// file extension.

#include "core/base/colors.h"
#include "core/base/stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sw {

class TCanvas;
class TBitmap;

struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0; // exclusive
    int Bottom = 0; // exclusive
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TRect&) const = default;
};

// A picture on the clipboard. The one form written and read is the
// device-independent bitmap: a BMP file without its 14-byte file header
// (information header, masks, colour table, rows), the rows following the
// colour table directly.
constexpr uint16_t kClipboardDib = 8;

struct TClipboardData {
    uint16_t Format = 0;
    std::vector<uint8_t> Bytes;
};

class TGraphic {
public:
    virtual ~TGraphic() = default;

    // The kind's class name, as used in "Cannot assign a %s to a %s".
    virtual const char* ClassName() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual bool Empty() const = 0;
    virtual void SetWidth(int width) = 0;
    virtual void SetHeight(int height) = 0;
    virtual bool Transparent() const { return m_transparent; }
    virtual void SetTransparent(bool value);

    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) = 0;
    // Opens the file for reading ("Cannot open file %s") and reads the
    // graphic's own format from it.
    void LoadFromFile(const std::string& fileName);
    // Creates or truncates the file ("Cannot create file %s") and writes the
    // graphic's own format to it.
    void SaveToFile(const std::string& fileName);

    // Takes over the content of source. The default asks source->AssignTo
    // and fails with EInvalidGraphicOperation "Cannot assign a %s to a %s"
    // (source's class first) when it cannot. A null source is not allowed
    // here; see TBitmap::Assign for "from nothing".
    virtual void Assign(const TGraphic& source);
    // Converts this graphic into dest; false when this kind cannot.
    virtual bool AssignTo(TGraphic& dest) const;

    // Draws the graphic into rect of the canvas, stretched to fit.
    virtual void Draw(TCanvas& canvas, const TRect& rect) = 0;

    // The picture in clipboard form; the default converts it into a bitmap
    // first ("Cannot assign a %s to a %s" when this kind cannot).
    virtual void SaveToClipboardFormat(TClipboardData& data);
    // Takes the picture from clipboard data; the default refuses every form
    // with EInvalidGraphic "Unsupported clipboard format".
    virtual void LoadFromClipboardFormat(const TClipboardData& data);

    // Raised after every change of content.
    std::function<void()> OnChange;

protected:
    void Changed();
    bool m_transparent = false;
};

using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;

// The ordered list of registered kinds. Built-in: "bmp" (Bitmaps). The JPEG
// and GIF modules add theirs through RegisterFileFormat at start-up; the
// lookup runs from the last entry to the first.
struct TFileFormat {
    std::string Extension; // lower case, without the dot
    std::string Description;
    TGraphicFactory Create;
};

class TPicture {
public:
    TPicture() = default;
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    TGraphic* Graphic() const { return m_graphic.get(); }
    void SetGraphic(std::unique_ptr<TGraphic> graphic);
    // The held bitmap; when the held graphic is not a bitmap (or none is
    // held) it is discarded and replaced by a new empty bitmap.
    TBitmap& Bitmap();
    int Width() const;
    int Height() const;

    // Picks the kind by the name's extension ("Unknown picture file
    // extension (.%s)"); on any failure the container keeps what it held.
    void LoadFromFile(const std::string& fileName);
    // Hands the name to the held graphic; nothing happens when none is held.
    void SaveToFile(const std::string& fileName);

    static void RegisterFileFormat(
        const std::string& extension, const std::string& description, TGraphicFactory factory);
    static const std::vector<TFileFormat>& FileFormats();
    // The factory for an extension (without dot, any case), or nullptr.
    static const TFileFormat* FindFileFormat(const std::string& extension);

    std::function<void()> OnChange;

private:
    void Changed();
    std::unique_ptr<TGraphic> m_graphic;
};

// A control that owns a picture container. Starts at 105 x 105; with
// AutoSize it takes its picture's size whenever the picture changes, but
// only when both dimensions are above 0.
class TImage {
public:
    TImage();
    TImage(const TImage&) = delete;
    TImage& operator=(const TImage&) = delete;

    TPicture& Picture() { return m_picture; }
    const TPicture& Picture() const { return m_picture; }
    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool value);
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    void SetBounds(int width, int height);

    // A bitmap canvas: a white bitmap of the holder's size is made when the
    // picture is empty; "Can only modify an image if it contains a bitmap"
    // when it holds another kind.
    TCanvas& Canvas();

    std::function<void()> OnChange;

private:
    void PictureChanged();
    TPicture m_picture;
    bool m_autoSize = false;
    int m_width = 105;
    int m_height = 105;
};

} // namespace sw
