#pragma once

// A PSD design as a picture the loader can open: the composite the file
// stores, as a 24-bit bitmap. The design record around it (guides, slices,
// layers) comes from ReadPsdDesign in psd_reader.h.

#include "core/imaging/bitmap.h"

namespace sw {

class TPsdImage : public TBitmap {
public:
    const char* ClassName() const override { return "TPsdImage"; }
    void LoadFromStream(TStream& stream) override;
    // PSD files are read, never written: EInvalidGraphicOperation.
    void SaveToStream(TStream& stream) override;
};

// Adds ".psd" (and ".psb", which is refused with its reason) to the
// picture loader's formats; once is enough.
void RegisterPsdImageFormat();

} // namespace sw
