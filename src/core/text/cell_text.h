#pragma once

// Reading the words a cell of the picture shows, so that a cell's alt text
// (or later the text of a text cell) can be proposed from its pixels. The
// engine is Tesseract with its English data; one reader per thread.

#include "core/base/errors.h"
#include "core/imaging/pixel_view.h"
#include "core/layout/cell_grid.h"
#include "core/project/cell_properties.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tesseract {
class TessBaseAPI;
}

namespace sw {

// The engine cannot start: its library or language data is missing.
class ETextReaderError : public Exception {
public:
    using Exception::Exception;
};

struct TTextWord {
    std::string Text; // UTF-8
    int Confidence = 0; // 0 to 100, as the engine rates it
};

struct TCellText {
    // The words kept, in reading order.
    std::vector<TTextWord> Words;
    // The words joined by single spaces, lines too: an alt text is one line.
    std::string Text() const;
    // The mean confidence of the words, 0 without any.
    int Confidence() const;
    // Whether the cell reads as holding text rather than a picture whose
    // edges the engine took for letters: a word of two or more letters or
    // digits, and words read at kTextConfidence on average.
    bool HoldsText() const;
};

// Words the engine rates below this are noise, not text.
constexpr int kWordConfidence = 60;
// The mean a cell's words need for it to count as holding text.
constexpr int kTextConfidence = 75;
// Pixels the engine is given at most for one cell, after scaling; a bigger
// cell is scaled down to it, which keeps a huge cell's time and memory
// bounded (text that big survives the scaling).
constexpr int64_t kMaxReadPixels = int64_t(8) << 20;

// How a cell's pixels are prepared for the engine: grey, dark text on a
// light ground (light-on-dark cells are inverted), scaled by ReadScale, with a
// margin of the ground's colour.
struct TReadImage {
    std::vector<uint8_t> Grey;
    int Width = 0;
    int Height = 0;
};
// The scale that brings small screen text to the size the engine reads
// best, bounded by kMaxReadPixels.
double ReadScale(int width, int height);
// Nothing (Width 0) for bounds without pixels or of nearly one tone, which
// hold no text.
TReadImage PrepareForReading(const TPixelView& picture, const TCellBounds& bounds);

// One engine; not to be shared by threads at once.
class TTextReader {
public:
    // Fails with ETextReaderError when the engine cannot start.
    TTextReader();
    ~TTextReader();
    TTextReader(const TTextReader&) = delete;
    TTextReader& operator=(const TTextReader&) = delete;

    // The words inside bounds, which must lie within picture.
    TCellText Read(const TPixelView& picture, const TCellBounds& bounds);

private:
    std::unique_ptr<tesseract::TessBaseAPI> m_engine;
};

// The engines of a pass on several threads: each task takes one, made when
// none is free, and gives it back.
class TTextReaderPool {
public:
    TCellText Read(const TPixelView& picture, const TCellBounds& bounds);

private:
    std::mutex m_lock;
    std::vector<std::unique_ptr<TTextReader>> m_free;
};

// The property a proposal fills: what a visitor reads in place of the
// picture. An image cell's is its Alt.
const char* TextPropertyOf(const TCellProperties& properties);

struct TTextProposal {
    TCellRef Cell;
    std::string Property; // as TextPropertyOf names it
    std::string Text;
    int Confidence = 0;
};

// For every cell of the grid that gets an image and has no alt yet, the text
// its pixels read as, when it is linked (a link needs words) and they read
// as any, or when they HoldsText; row by row. A span reads its whole area.
// cells as the run takes them (their layout checked); picture's rows are
// the ones the grid cuts. threads as the run's (0: one per hardware
// thread). keepGoing, when given, is asked after each cell with the cells
// done and their count; false stops the pass, which then proposes nothing.
std::vector<TTextProposal> ProposeCellTexts(const TPixelView& picture, const TCellGrid& grid,
    const TCellPropertyMap& cells, int threads,
    const std::function<bool(int done, int total)>& keepGoing = {});

} // namespace sw
