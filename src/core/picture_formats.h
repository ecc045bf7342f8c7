#pragma once

namespace sw {

// Registers the JPEG ("jpeg", "jpg") and GIF ("gif") picture kinds with the
// picture loader, after its built-in kinds, then PNG ("png"), PSD ("psd",
// "psb", which is refused with its reason) and OpenRaster ("ora"). Entry points call it once at
// start-up; later calls do nothing.
void RegisterPictureFormats();

} // namespace sw
