#pragma once

// Where a design wants to be cut: the columns and rows along which the
// picture changes across much of its length (the border of a box, a change
// of background), and the edges of flat bands (a run of rows, or of
// columns, each of a single colour, all alike: a gap, a margin, a rule).
// No suggestion crosses text or a small picture: a line splitting a glyph
// shows in every cell it touches. Where a gutter runs only between some of
// the rows (cards side by side in one section), a partial line is proposed.
// The picture comes as plain rows of pixels, three bytes each.

#include <cstdint>
#include <functional>
#include <vector>

namespace sw {

struct TPixelRows {
    int32_t Width = 0;
    int32_t Height = 0;
    // Row y, 0 <= y < Height: Width pixels of three bytes each (any channel
    // order), valid until the next call.
    std::function<const uint8_t*(int32_t y)> Row;
};

struct TSuggestionSettings {
    // Two pixels differ when one of their channels differs by more than this.
    int ChangeThreshold = 24;
    // A line where at least this share of its length changes, beyond what
    // the lines around it change, is an edge. A box's side rarely spans the
    // whole page, so a third is enough.
    double EdgeShare = 0.35;
    // The colours of a flat row or column stay within this of its first pixel.
    int FlatTolerance = 6;
    // A band needs this many flat rows or columns in a row.
    int32_t MinBand = 3;
    // Of two suggestions closer than this, only the stronger stays.
    int32_t MinGap = 3;
    // Neighbours further apart than this make an edge; edges that touch
    // make one mark (a glyph, an icon, a photo). Fainter steps, a sunburst
    // or paper grain behind the type, would join every glyph into one.
    int InkThreshold = 24;
    // A mark no taller than this (and no wider than MarkWidth) is text, an
    // icon or a thumbnail: no line goes through it.
    int32_t MarkHeight = 160;
    int32_t MarkWidth = 400;
    // Also look for lines inside each cell the whole lines make, and inside
    // the cells those lines make in turn (a section, a card, its picture).
    bool Partial = false;
    // A partial line follows a change along at least this share of its cell
    // (a box's side, not the ragged margin of a paragraph).
    double PartialShare = 0.5;
    // Cells narrower or shorter than this get no partial lines.
    int32_t MinPartialBand = 24;
};

// A line that runs over part of the picture: a column from one row band to
// another, or a row across some column bands. Bands are those the whole
// suggestions of the other direction make, numbered from 1 at the top or
// the left; FromBand and ToBand (both included) hold From and To - 1. A
// line found inside a card may start or end within a band: From and To say
// where.
struct TPartialLine {
    bool Vertical = true;
    int32_t Position = 0;
    // Its span in pixels along the line: From <= p < To.
    int32_t From = 0;
    int32_t To = 0;
    int32_t FromBand = 1;
    int32_t ToBand = 1;

    bool operator==(const TPartialLine&) const = default;
};

struct TLineSuggestions {
    // Positions strictly inside the picture, ascending: a column at x cuts
    // between pixels x - 1 and x.
    std::vector<int32_t> Columns;
    std::vector<int32_t> Rows;
    // With TSuggestionSettings::Partial: columns first, then rows, each by
    // position, then by span.
    std::vector<TPartialLine> Partial;
};

TLineSuggestions SuggestCutLines(const TPixelRows& picture, const TSuggestionSettings& settings = {});

// How suggestions compare with lines a designer placed: references with a
// suggestion within `tolerance` pixels, and suggestions with no reference
// within it.
struct TSuggestionScore {
    int Found = 0;
    int Missed = 0;
    int Extra = 0;
};
TSuggestionScore ScoreSuggestions(
    const std::vector<int32_t>& suggested, const std::vector<int32_t>& reference, int32_t tolerance);

} // namespace sw
