#pragma once

// The common interface of every picture kind. TGraphic lives in graphic.cpp,
// except its default clipboard form, which goes through a bitmap: bitmap.cpp.

#include "core/base/colors.h"
#include "core/base/stream.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sw {

class TCanvas;

struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0; // exclusive
    int Bottom = 0; // exclusive
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TRect&) const = default;
};

// How a picture drawn in lengths rather than pixels (SVG, PDF) becomes
// pixels: at Scale times its nominal size, from page Page (1 is the first).
struct TRenderOptions {
    int Scale = 1;
    int Page = 1;
    bool operator==(const TRenderOptions&) const = default;
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

    // Kinds drawn in lengths take these before LoadFromStream; the others
    // have one size and ignore them.
    virtual void SetRenderOptions(const TRenderOptions&) { }
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

    // What reading found wrong with a file it still read (a file cut short
    // whose missing pixels were filled in), one text each, for the caller to
    // pass on. Kinds that decode on first use add theirs then.
    const std::vector<std::string>& ReadWarnings() const { return m_readWarnings; }

    // Raised after every change of content.
    std::function<void()> OnChange;

protected:
    void Changed();
    bool m_transparent = false;
    mutable std::vector<std::string> m_readWarnings;
};

} // namespace sw
