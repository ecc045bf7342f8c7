#pragma once

// An OpenRaster design as a picture the loader can open: its flattened
// image, as a 24-bit bitmap. The layers come from ReadOraDesign in
// ora_reader.h.

#include "core/imaging/bitmap.h"

namespace sw {

class TOraImage : public TBitmap {
public:
    const char* ClassName() const override { return "TOraImage"; }
    void LoadFromStream(TStream& stream) override;
    // OpenRaster files are read, never written: EInvalidGraphicOperation.
    void SaveToStream(TStream& stream) override;
};

// Adds ".ora" to the picture loader's formats; once is enough.
void RegisterOraImageFormat();

} // namespace sw
