#pragma once

// SVG and PDF designs as pictures the loader can open: drawn as the render
// options say, as 24-bit bitmaps.

#include "core/imaging/bitmap.h"

namespace sw {

class TSvgImage : public TBitmap {
public:
    const char* ClassName() const override { return "TSvgImage"; }
    void SetRenderOptions(const TRenderOptions& render) override { m_render = render; }
    void LoadFromStream(TStream& stream) override;
    // Drawings are read, never written: EInvalidGraphicOperation.
    void SaveToStream(TStream& stream) override;

private:
    TRenderOptions m_render;
};

class TPdfImage : public TBitmap {
public:
    const char* ClassName() const override { return "TPdfImage"; }
    void SetRenderOptions(const TRenderOptions& render) override { m_render = render; }
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;

private:
    TRenderOptions m_render;
};

// Adds ".svg" and ".pdf" to the picture loader's formats; once is enough.
void RegisterVectorImageFormats();

} // namespace sw
