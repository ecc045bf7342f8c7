#pragma once

#include "cli/arguments.h"
#include "core/base/colors.h"
#include "core/generate/cell_format.h"
#include "core/imaging/graphic.h"

#include <cstdio>
#include <optional>
#include <string>

namespace sw::cli {

// Refuses, with the writer's own message, a cell of this size that a file
// of this type cannot hold (GIF's 65535, JPEG's 65500, WebP's 16383 pixels
// a side); lets a run refuse it before the picture is decoded.
void CheckCellWritable(TImageType type, int64_t width, int64_t height);

// Loads input through the picture loader, makes a bitmap of it and saves
// that by output's extension (.bmp, .gif, .jpg, .jpeg, .png, .webp, any
// case); a vector design is drawn as render says. With a transparent colour the bitmap's transparency is
// fixed to it, as for a cell. The reader's warnings (a file cut short) go to warnings. The output appears
// only once the whole file is written, so a failure keeps the previous one. Failures are sw::Exception; the
// picture formats must be registered.
void RunConvert(const std::string& input, const std::string& output, std::optional<TColor> transparent,
    std::FILE* warnings, const TRenderOptions& render = {});

// How convert draws an SVG or PDF input: --scale and --picture-page, checked
// as the project's Scale and PicturePage keys are (CliUsageError).
TRenderOptions ConvertRenderOptions(const CliArguments& arguments);

} // namespace sw::cli
