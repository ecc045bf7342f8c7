#pragma once

#include "core/imaging/layered_design.h"

#include <optional>
#include <string>

namespace sw {

// Registers the JPEG ("jpeg", "jpg") and GIF ("gif") picture kinds with the
// picture loader, after its built-in kinds, then PNG ("png"), PSD ("psd",
// "psb", which is refused with its reason), OpenRaster ("ora"), SVG ("svg")
// and PDF ("pdf"). Entry points call it once at start-up; later calls do
// nothing.
void RegisterPictureFormats();

// The design record of a layered picture file (PSD, OpenRaster), picked by
// extension as the loader picks a kind; nothing for other kinds. A file
// that cannot be read fails as its reader does (EInvalidGraphic, or the
// stream's error for one that cannot be opened).
std::optional<TLayeredDesign> ReadLayeredDesign(const std::string& fileName);

// The pages a picture file holds: a PDF's count, 1 for every other kind.
// Fails as reading the file does.
int PicturePageCount(const std::string& fileName);

// Whether the file's kind is drawn from lengths at the run's scale (SVG,
// PDF), picked by extension, so its pixels change with the scale.
bool IsDrawnAtScale(const std::string& fileName);

} // namespace sw
