#pragma once

#include <cstdio>
#include <string>

namespace sw::cli {

// Loads the picture and prints where it wants to be cut, one line for the
// columns and one for the rows: "columns: 24 376 400" — positions in
// picture pixels, ascending, as a project's cut lines give them. With
// `partial`, two more lines give the lines that run over part of the
// picture: "partial columns: 310:120-560" is a column at 310 from row 120
// down to 560 (excluded). The sides of a layered design's layers (PSD,
// OpenRaster) that cut no other layer join the columns and rows. With
// fromDesign, the two lines give the design's guides and the sides of its
// slices instead. Failures are sw::Exception; the picture formats must be
// registered.
void RunSuggest(const std::string& picture, bool partial, std::FILE* out, bool fromDesign = false);

} // namespace sw::cli
