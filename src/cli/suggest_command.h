#pragma once

#include <cstdio>
#include <string>

namespace sw::cli {

// Loads the picture and prints where it wants to be cut, one line for the
// columns and one for the rows: "columns: 24 376 400" — positions in
// picture pixels, ascending, as a project's cut lines give them. Failures
// are sw::Exception; the picture formats must be registered.
void RunSuggest(const std::string& picture, std::FILE* out);

} // namespace sw::cli
