#pragma once

// The fixed texts of the JPEG image and codec, shared by the code that
// reports them and the tests that expect them.

namespace sw::jpeg_message {

inline constexpr const char* kCannotChangeSize = "Cannot change the size of a JPEG image";
inline constexpr const char* kInvalidBitmap = "Bitmap image is not valid";
// Format strings.
inline constexpr const char* kLibraryError = "JPEG error #%d";
// Added to kLibraryError when the library ran out of the memory it may use.
inline constexpr const char* kMemoryLimitSuffix = " (decoding needs more than %d MB)";
inline constexpr const char* kTooManyScans = "JPEG image has more than %d scans";

} // namespace sw::jpeg_message
