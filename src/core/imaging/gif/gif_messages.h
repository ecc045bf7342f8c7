#pragma once

// The fixed texts of the GIF reader, writer and frame conversion, shared by
// the code that reports them and the tests that expect them.

namespace sw::gif_message {

inline constexpr const char* kPrematureEndOfData = "Premature end of data";
inline constexpr const char* kInvalidSignature = "Invalid GIF signature";
inline constexpr const char* kUnsupportedVersion = "Unsupported GIF version";
inline constexpr const char* kInvalidData = "Invalid GIF data";
inline constexpr const char* kInvalidExtensionIntroducer = "Invalid extension introducer";
inline constexpr const char* kExtensionLabelMismatch
    = "Internal error: Extension Instance does not match Extension Label";
inline constexpr const char* kUnknownExtensionType = "Unknown extension type";
inline constexpr const char* kUnsupportedApplicationBlockSize
    = "Unsupported Application Extension block size";
inline constexpr const char* kUnknownBlockType = "Unknown GIF block type";
inline constexpr const char* kInvalidTrailer = "Invalid Image trailer";
inline constexpr const char* kInvalidColorIndex = "Invalid color index";
inline constexpr const char* kColorTableOverflow = "Color table overflow";
inline constexpr const char* kNoColorTable = "No global or local color table defined";
inline constexpr const char* kWidthTooSmall = "Image width too small for contained frames";
inline constexpr const char* kHeightTooSmall = "Image height too small for contained frames";
inline constexpr const char* kExceedsScreen = "Image exceeds Logical Screen size";
inline constexpr const char* kBitBufferUnderRun = "Decoder bit buffer under-run";
inline constexpr const char* kCircularTableEntry = "Circular decoder table entry";
inline constexpr const char* kInvalidStreamOperation = "Invalid stream operation";
inline constexpr const char* kUnsupportedPixelFormat = "Unsupported PixelFormat";
inline constexpr const char* kInvalidDimensions = "Invalid image dimensions";
inline constexpr const char* kNoMemoryForDib = "Failed to allocate memory for GIF DIB";
inline constexpr const char* kColorNotInTable = "Color not in color table";
// Format strings.
inline constexpr const char* kNoMemoryForFrame = "Not enough memory for a GIF frame of %d x %d pixels";
inline constexpr const char* kImageTooLarge = "GIF image too large (more than %lld pixels in its frames)";
inline constexpr const char* kTooLargeForGif = "Image too large for GIF: %d x %d (at most 65535 x 65535)";
inline constexpr const char* kUnsupportedReduction = "Color reduction kind %d is not supported";
inline constexpr const char* kUnsupportedDither = "Dither kind %d is not supported";

// Progress messages.
inline constexpr const char* kLoading = "Loading...";
inline constexpr const char* kSaving = "Saving...";
inline constexpr const char* kConverting = "Converting...";
inline constexpr const char* kRendering = "Rendering...";

} // namespace sw::gif_message
