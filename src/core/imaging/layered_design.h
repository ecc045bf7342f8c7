#pragma once

// What a layered design file (PSD, OpenRaster) tells beside its picture: the
// designer's guides and slices and the layers with their rectangles, as
// plain data for the editor's cut lines, its cut suggestions and the cells'
// alternative text. Each reader documents what its format fills in.

#include "core/imaging/graphic.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sw {

// A ruler guide. Guides may lie outside the canvas; the caller keeps those
// it can use as cut lines.
struct TDesignGuide {
    // A horizontal guide runs across the picture at a height (a row cut); a
    // vertical one at a distance from the left (a column cut).
    bool Horizontal = false;
    // In pixels, rounded to the nearest whole pixel.
    int Position = 0;
    // In 1/32 pixel, as PSD files store it.
    int32_t Position32 = 0;
    bool operator==(const TDesignGuide&) const = default;
};

struct TDesignSlice {
    // Drawn by the designer, made from a layer, or filled in around those.
    enum class TOrigin { Auto, Layer, User };
    int32_t Id = 0;
    TOrigin Origin = TOrigin::Auto;
    std::string Name;
    TRect Bounds;
    std::string Url;
    std::string Target;
    std::string Message;
    std::string Alt;
    std::string CellText;
};

struct TDesignLayer {
    // The layer's own name.
    std::string Name;
    // As stored: may reach outside the canvas, and is empty for a layer
    // without pixels of its own (a group, an adjustment).
    TRect Bounds;
    // The layer's own eye; Shown also needs every group around it visible.
    bool Visible = true;
    bool Shown = true;
    bool IsGroup = false;
    bool IsText = false;
    // A text layer's characters (lines end in '\r' in PSD files); empty
    // when the text data could not be read.
    std::string Text;
    // 0..255.
    int Opacity = 255;
    // Index in TLayeredDesign::Layers of the group the layer is in, or -1.
    int Parent = -1;
};

struct TLayeredDesign {
    int Width = 0;
    int Height = 0;
    // False when the file holds no composite to show (a PSD saved without
    // it stores a blank one); its reader refuses to make a picture of it.
    bool HasComposite = true;
    std::vector<TDesignGuide> Guides; // in stored order
    std::vector<TDesignSlice> Slices; // in stored order
    // Bottom first, as stored, each group just before the layers inside it.
    std::vector<TDesignLayer> Layers;
};

} // namespace sw
