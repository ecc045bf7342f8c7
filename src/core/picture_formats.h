#pragma once

namespace sw {

// Registers the JPEG ("jpeg", "jpg") and GIF ("gif") picture kinds with the
// picture loader, after its built-in kinds. Entry points call it once at
// start-up; later calls do nothing.
void RegisterPictureFormats();

} // namespace sw
