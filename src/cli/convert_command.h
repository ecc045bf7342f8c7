#pragma once

#include "core/base/colors.h"

#include <optional>
#include <string>

namespace sw::cli {

// Loads input through the picture loader, makes a bitmap of it and saves
// that by output's extension (.bmp, .gif, .jpg, .jpeg, any case). With a
// transparent colour the bitmap's transparency is fixed to it, as for a GIF
// cell. The output file is written only once the whole image is encoded.
// Failures are sw::Exception; the picture formats must be registered.
void RunConvert(const std::string& input, const std::string& output, std::optional<TColor> transparent);

} // namespace sw::cli
