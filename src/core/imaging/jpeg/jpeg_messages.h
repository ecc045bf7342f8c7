#pragma once

// The fixed texts of the JPEG image and codec, shared by the code that
// reports them and the tests that expect them.

namespace sw::jpeg_message {

inline constexpr const char* kCannotChangeSize = "Cannot change the size of a JPEG image";
inline constexpr const char* kInvalidBitmap = "Bitmap image is not valid";
inline constexpr const char* kTooShort = "JPEG image is not valid (the file is too short for its size)";
// Format strings.
// Followed by the library's own text in parentheses.
inline constexpr const char* kLibraryError = "JPEG error #%d";
// Added to the library's text when it ran out of the memory it may use.
inline constexpr const char* kMemoryLimitSuffix = "; decoding needs more than %d MB";
inline constexpr const char* kCannotWrite
    = "Cannot write a JPEG image of %lld x %lld pixels (at most %d x %d)";
inline constexpr const char* kTooManyScans = "JPEG image has more than %d scans";

} // namespace sw::jpeg_message
