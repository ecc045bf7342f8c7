#pragma once

// A PNG design as a picture the loader can open: a 24-bit bitmap read
// through the PNG reader (translucent pixels blended onto white) and saved
// back as a lossless PNG.

#include "core/imaging/bitmap.h"

namespace sw {

class TPngImage : public TBitmap {
public:
    const char* ClassName() const override { return "TPngImage"; }
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
};

// Adds ".png" to the picture loader's formats; once is enough.
void RegisterPngImageFormat();

} // namespace sw
