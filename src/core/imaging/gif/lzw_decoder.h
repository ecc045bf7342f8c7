#pragma once

// GIF image data reader: the LZW decoding engine under TGIFSubImage.
//
// Contract with the frame reader. The frame reader owns the pixel block: it
// allocates width x height bytes (after deciding whether such a frame may be
// allocated at all), works out the fill value (the transparent index of the
// frame's graphic control extension when the frame is transparent, else 0),
// positions the reader on the minimum code size byte and calls
// TLZWDecoder::DecodeFrame, which does the rest:
//
//  - reads the minimum code size byte; at the end of the data it fills the
//    block and returns;
//  - decodes pixels into the block, top row first, or in the four-pass row
//    order when interlaced; decoding ends early when the codes run out (the
//    data sub-blocks end, or the bytes end) or an end code arrives, and
//    every pixel not decoded gets the fill value;
//  - then asks for one pixel more, exactly as a per-pixel decoder would after
//    its last pixel: when the last code's string was not used up, that pixel
//    is taken from it and nothing more is read; otherwise the next code is
//    decoded, and when it is the end code the rest of the frame's data
//    sub-blocks is skipped up to and including the zero-length terminator.
//    With well-formed data the reader is thus left just past the terminator;
//    with excess data it stays inside the sub-blocks, where the frame list
//    meets it.
//
// Warnings go to the handler (if any) with these texts:
//   "Premature end of data"        a sub-block is longer than the rest of the
//                                  bytes (it is cut to what is there);
//   "Decoder bit buffer under-run" a code was asked for after the data ended
//                                  and the last code read already ran past it,
//                                  or the data ended inside a code (such a
//                                  partial code yields no pixel).
// Errors (GIFException; the reader is left where the decoder stopped and the
// block's contents are unspecified, so the frame is to be dropped):
//   "Circular decoder table entry" the table walk for a code meets an entry
//                                  that is its own prefix, or would yield more
//                                  than 4096 values (corrupt data only);
//   "Invalid GIF data"             a minimum code size above 11, whose clear
//                                  code would not fit the 4096-entry table.
//
// Decoded values are pixel indices stored as bytes; a code that names no
// string (it can only come from corrupt data) is stored by its low 8 bits.
//
// Costs: a fixed table of 4096 entries per decoder, a 4 KiB stack, one row of
// scratch and one int per row for interlaced frames; no allocation per code.
// Strings are copied out of the pixel block already decoded, not unwound
// value by value.

#include "core/base/byte_reader.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace sw {

using TLZWWarningHandler = std::function<void(const std::string& message)>;

class TLZWDecoder {
public:
    static constexpr int kMaxCodeSize = 11;

    explicit TLZWDecoder(TByteReader& reader, TLZWWarningHandler warning = {});
    ~TLZWDecoder();
    TLZWDecoder(const TLZWDecoder&) = delete;
    TLZWDecoder& operator=(const TLZWDecoder&) = delete;

    // pixels: width x height bytes (null when that is 0). Decodes one frame's
    // image data from the reader's current position. width and height must
    // not be negative.
    void DecodeFrame(uint8_t* pixels, int width, int height, bool interlaced, uint8_t fillValue);

    // Number of pixels the last DecodeFrame decoded, in stream order.
    int64_t DecodedPixels() const { return m_decoded; }

private:
    struct TTables;

    void Start(int codeSize);
    int ReadCode();
    bool Refill();
    int ReadFirstAfterClear();
    void ResetTable();
    void SkipRest();
    int64_t DecodeInto(uint8_t* out, int64_t total);
    int SlowWalk(int code);
    void NextValueAfterEnd();
    void Deinterlace(uint8_t* pixels, int width, int height);
    void AddEntry(uint8_t suffix, const uint8_t* start, int length);
    void Warn(const char* message) const;

    TByteReader& m_reader;
    TLZWWarningHandler m_warning;
    std::unique_ptr<TTables> m_tables;

    // Bit reader: the current sub-block sits in the buffer behind the last two
    // bytes of the previous one, so a code split across blocks is contiguous.
    int m_bitPosition = 0;
    int m_bitLimit = 0;
    int m_lastByte = 2;
    bool m_terminatorSeen = false;
    bool m_dataEnded = false;
    bool m_clearFirst = true;

    // LZW state
    int m_codeSize = 0;
    int m_clearCode = 0;
    int m_endCode = 0;
    int m_codeWidth = 0;
    int m_widthLimit = 0;
    int m_nextFree = 0;
    int m_oldCode = 0;
    uint8_t m_firstValue = 0;
    // The string of m_oldCode as it was last written, when it is that code's
    // permanent string; new entries then point into the written pixels.
    const uint8_t* m_oldStart = nullptr;
    int m_oldLength = 0;
    bool m_oldExact = false;
    // Values of the last code not yet handed out (the per-pixel decoder's stack).
    int m_pending = 0;

    int64_t m_decoded = 0;
};

} // namespace sw
