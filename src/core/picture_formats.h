#pragma once

namespace sw {

// Registers every picture kind beyond the built-in bitmap with the picture
// loader: JPEG ("jpeg", "jpg"), GIF ("gif") and PNG ("png"). Entry points
// call it once at start-up; later calls do nothing. The open dialog's
// filters and the command line take their list from what is registered.
void RegisterPictureFormats();

} // namespace sw
